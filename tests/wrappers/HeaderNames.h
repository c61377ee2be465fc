// The C-callable functions the public header declares, read from the header
// itself, so that tests compare against what callers see.
#pragma once

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace wraptest {

// Names of every "MORV_WRAPPER_API void name(" declaration.
inline std::set<std::string> declaredFunctions(const std::string& headerPath)
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
        if (!(declaration >> returns >> rest) || returns != "void")
            continue;  // the macro's own definition
        const std::size_t paren = rest.find('(');
        if (paren == std::string::npos || paren == 0)
            continue;
        const std::string name = rest.substr(0, paren);
        const std::size_t underscore = name.find('_');
        const std::string prefix = underscore == std::string::npos ? std::string() : name.substr(0, underscore);
        if (prefix == "port" || prefix == "usb" || prefix == "system" || prefix == "powerdelivery" ||
            prefix == "usbsystem")
            names.insert(name);
    }
    return names;
}

}  // namespace wraptest
