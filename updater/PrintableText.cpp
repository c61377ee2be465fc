#include "PrintableText.h"

std::string PrintableText(const char* data, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (data == nullptr)
        return out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c <= 0x7E) {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string PrintableText(const std::string& text)
{
    return PrintableText(text.data(), text.size());
}
