// The C-callable functions the public header declares, read from the header
// itself, so that tests compare against what callers see.
#pragma once

#include <cctype>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace wraptest {

// Names of every "MORV_WRAPPER_API <returns> name(" declaration whose name
// has one of the prefixes.
inline std::set<std::string> declaredWith(const std::string& headerPath, const std::string& returnType,
                                          const std::set<std::string>& prefixes)
{
    std::ifstream in(headerPath);
    std::stringstream text;
    text << in.rdbuf();
    const std::string body = text.str();
    const std::string marker = "MORV_WRAPPER_API";
    std::set<std::string> names;
    for (std::size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1)) {
        std::istringstream declaration(body.substr(at + marker.size(), 200));
        std::string returns;
        std::string rest;
        if (!(declaration >> returns >> rest) || returns != returnType)
            continue;  // the macro's own definition, or another kind of function
        const std::size_t paren = rest.find('(');
        if (paren == std::string::npos || paren == 0)
            continue;
        const std::string name = rest.substr(0, paren);
        const std::size_t underscore = name.find('_');
        const std::string prefix = underscore == std::string::npos ? std::string() : name.substr(0, underscore);
        if (prefixes.count(prefix) != 0)
            names.insert(name);
    }
    return names;
}

// The entity functions.
inline std::set<std::string> declaredFunctions(const std::string& headerPath)
{
    return declaredWith(headerPath, "void", {"port", "usb", "system", "powerdelivery", "usbsystem"});
}

// The functions that open and close devices.
inline std::set<std::string> declaredHostFunctions(const std::string& headerPath)
{
    return declaredWith(headerPath, "int32_t", {"morv"});
}

// One function of a family's option table: what the header says its request is.
struct DocumentedOption {
    std::string function;  // C name
    int command = 0;       // the family's entity command
    int option = 0;
    std::string access;     // get, set, get/set or call
    bool selected = false;  // written with its selectors, "name(selector, ...)"
};

// Every function of the option tables, in the order of the header. A family's
// section starts at "<prefix>_ functions (<count>)." and names "entity command
// <n>"; a row is option, access, value type and functions, and a line holding
// only functions continues the row above.
inline std::vector<DocumentedOption> documentedOptions(const std::string& headerPath)
{
    std::ifstream in(headerPath);
    const std::regex section(R"(^ \* (\w+)_ functions \(\d+\)\.)");
    const std::regex command(R"(entity command (\d+))");
    const std::regex row(R"(^ \*\s+(\d+)\s+(get/set|get|set|call)\s+(\S+( list)?)\s+(\S.*)$)");
    const std::regex continued(R"(^ \*\s{30,}(\S.*)$)");
    std::vector<DocumentedOption> all;
    std::string prefix;
    int entityCommand = 0;
    DocumentedOption current;
    std::string line;
    // Functions of one row, split at the commas outside a selector list.
    auto addFunctions = [&](const std::string& text) {
        std::string name;
        int depth = 0;
        auto flush = [&] {
            std::size_t start = name.find_first_not_of(' ');
            if (start == std::string::npos)
                return;
            const std::size_t paren = name.find('(');
            DocumentedOption entry = current;
            entry.function =
                prefix + "_" + name.substr(start, paren == std::string::npos ? std::string::npos : paren - start);
            entry.selected = paren != std::string::npos;
            all.push_back(entry);
            name.clear();
        };
        for (char c : text) {
            if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
            if (c == ',' && depth == 0)
                flush();
            else
                name += c;
        }
        flush();
    };
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_search(line, match, section)) {
            prefix = match[1];
            entityCommand = 0;
        } else if (!prefix.empty() && entityCommand == 0 && std::regex_search(line, match, command)) {
            entityCommand = std::stoi(match[1]);
        } else if (!prefix.empty() && std::regex_match(line, match, row)) {
            current.command = entityCommand;
            current.option = std::stoi(match[1]);
            current.access = match[2];
            addFunctions(match[5]);
        } else if (!prefix.empty() && std::regex_match(line, match, continued)) {
            addFunctions(match[1]);
        } else if (line.rfind(" */", 0) == 0) {
            prefix.clear();
        }
    }
    return all;
}

}  // namespace wraptest
