// The C-callable functions the public header declares, read from the header
// itself, so that tests compare against what callers see.
#pragma once

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

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

}  // namespace wraptest
