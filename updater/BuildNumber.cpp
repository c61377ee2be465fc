#include "BuildNumber.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool ParseBuildNumber(const std::string& text, uint32_t* build)
{
    if (build == nullptr)
        return false;
    *build = 0;
    size_t first = 0;
    size_t end = text.size();
    while (first < end && isBlank(text[first]))
        ++first;
    while (end > first && isBlank(text[end - 1]))
        --end;
    if (first == end)
        return false;
    uint64_t value = 0;
    for (size_t i = first; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10u + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX)
            return false;
    }
    *build = static_cast<uint32_t>(value);
    return true;
}
