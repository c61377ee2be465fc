// Text helpers of the ISP client: trace renderings of raw bytes and strict
// reading of the numbers the boot ROM sends as lines.
#ifndef UPDATER_RECOVERY_NXPSERIALTEXT_H
#define UPDATER_RECOVERY_NXPSERIALTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace NXPSerialText {

// "53 79 6E": every byte as two hexadecimal digits, blank-separated.
std::string HexBytes(const char* data, size_t length);
// Carriage return as "\r", line feed as "\n", other unprintable bytes as a blank.
std::string Printable(const char* data, size_t length);
// Length of the text without a trailing "\r\n", "\r" or "\n".
size_t WithoutTerminator(const char* text, size_t length);
// True when text[0, length) (a trailing line end allowed) is one unsigned
// number in C notation (decimal, 0x hexadecimal or 0 octal) of at most maximum,
// with no sign, blank or other character.
bool ParseNumber(const char* text, size_t length, uint64_t maximum, uint64_t& value);

}  // namespace NXPSerialText

#endif
