#include "NXPSerialText.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace NXPSerialText {

std::string HexBytes(const char* data, size_t length)
{
    std::string out;
    out.reserve(length * 3);
    char digits[4];
    for (size_t i = 0; i < length; i++) {
        std::snprintf(digits, sizeof(digits), "%s%02X", i == 0 ? "" : " ",
                      static_cast<unsigned char>(data[i]));
        out += digits;
    }
    return out;
}

std::string Printable(const char* data, size_t length)
{
    std::string out;
    out.reserve(length + 8);
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (std::isprint(c))
            out += static_cast<char>(c);
        else
            out += ' ';
    }
    return out;
}

size_t WithoutTerminator(const char* text, size_t length)
{
    if (length > 0 && text[length - 1] == '\n')
        length--;
    if (length > 0 && text[length - 1] == '\r')
        length--;
    return length;
}

bool ParseNumber(const char* text, size_t length, uint64_t maximum, uint64_t& value)
{
    length = WithoutTerminator(text, length);
    // A number longer than this is out of range anyway.
    char copy[32];
    if (length == 0 || length >= sizeof(copy))
        return false;
    for (size_t i = 0; i < length; i++) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) && text[i] != 'x' && text[i] != 'X')
            return false;
    }
    if (!std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    for (size_t i = 0; i < length; i++)
        copy[i] = text[i];
    copy[length] = '\0';
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(copy, &end, 0);
    if (errno != 0 || end != copy + length || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

}  // namespace NXPSerialText
