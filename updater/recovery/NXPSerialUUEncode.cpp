// The uuencoding of ISP data lines: a length character, then four characters
// per three bytes, six bits each, offset by 0x20 (zero written as '`').
#include "NXPSerialClass.h"

#include <algorithm>

#include "Log.h"

namespace {

// A line character carries six bits; anything outside '`'..' ' ends the line.
bool uuvalid(char c)
{
    return c >= 0x20 && c <= 0x60;
}

uint32_t uuvalue(char c)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(c) - 0x20) & 0x3Fu;
}

}  // namespace

char NXPSerialClass::uuchar(uint32_t value)
{
    uint32_t v = value & 0x3Fu;
    return v == 0 ? static_cast<char>(0x60) : static_cast<char>(v + 0x20);
}

size_t NXPSerialClass::uuencode(char* out, size_t outSize, const uint8_t* data, size_t n)
{
    if (out == nullptr || outSize < 2) {
        if (out != nullptr && outSize == 1)
            out[0] = '\0';
        return 0;
    }
    size_t consumed = std::min(n, MAX_BYTES_PER_LINE);
    if (data == nullptr)
        consumed = 0;
    // Length character and zero take two places, each group four.
    size_t groupsThatFit = (outSize - 2) / 4;
    consumed = std::min(consumed, groupsThatFit * 3);

    size_t o = 0;
    out[o++] = uuchar(static_cast<uint32_t>(consumed));
    for (size_t i = 0; i < consumed; i += 3) {
        uint32_t b0 = data[i];
        uint32_t b1 = i + 1 < consumed ? data[i + 1] : 0;
        uint32_t b2 = i + 2 < consumed ? data[i + 2] : 0;
        uint32_t word = (b0 << 16) | (b1 << 8) | b2;
        out[o++] = uuchar(word >> 18);
        out[o++] = uuchar(word >> 12);
        out[o++] = uuchar(word >> 6);
        out[o++] = uuchar(word);
    }
    out[o] = '\0';
    return consumed;
}

size_t NXPSerialClass::uudecode(uint8_t* buffer, size_t size, const char* line)
{
    if (buffer == nullptr || line == nullptr || !uuvalid(line[0]))
        return 0;
    size_t n = uuvalue(line[0]);
    if (n > size)
        return 0;
    size_t stored = 0;
    const char* p = line + 1;
    while (stored < n) {
        if (!uuvalid(p[0]) || !uuvalid(p[1]) || !uuvalid(p[2]) || !uuvalid(p[3])) {
            Log::log(DEBUG_NXPSerial, "Error buffer overrun\n");
            break;
        }
        uint32_t word = (uuvalue(p[0]) << 18) | (uuvalue(p[1]) << 12) | (uuvalue(p[2]) << 6) |
                        uuvalue(p[3]);
        p += 4;
        const uint8_t bytes[3] = {static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8),
                                  static_cast<uint8_t>(word)};
        for (size_t k = 0; k < 3 && stored < n; k++)
            buffer[stored++] = bytes[k];
    }
    return stored;
}
