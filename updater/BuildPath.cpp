#include "BuildPath.h"

#include <cstdarg>

#include "aDirectory.h"

std::string BuildPath(const char* first, ...) {
    // A null first component may be the list's terminator itself: read no further.
    if (first == nullptr) return std::string();
    std::string path = first;
    va_list components;
    va_start(components, first);
    for (const char* next = va_arg(components, const char*); next != nullptr;
         next = va_arg(components, const char*)) {
        path += aDIR_PATH_SEP;
        path += next;
    }
    va_end(components);
    return path;
}
