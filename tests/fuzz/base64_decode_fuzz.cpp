// Base64 text from arbitrary bytes: decoding never reads or writes outside the
// text and the buffer it returns, every result carries its NUL byte, and the
// input taken as data comes back whole through encode and decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base64.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    unsigned long length = 12345;
    unsigned char* decoded = base64_decode(text, size, &length);
    if (size % 4 != 0) {
        check(decoded == nullptr && length == 12345);
    } else {
        check(decoded != nullptr);
        unsigned long pads = 0;
        if (size != 0)
            pads = (text[size - 1] == '=') + (text[size - 2] == '=');
        check(length == size / 4 * 3 - pads);
        check(decoded[length] == 0);
        std::free(decoded);
    }

    unsigned long encodedLength = 0;
    char* encoded = base64_encode(data, size, &encodedLength);
    check(encoded != nullptr && encodedLength == 4 * ((size + 2) / 3) && encoded[encodedLength] == '\0');
    unsigned long back = 0;
    unsigned char* again = base64_decode(encoded, encodedLength, &back);
    check(again != nullptr && back == size && (size == 0 || std::memcmp(again, data, size) == 0));
    std::free(again);
    std::free(encoded);
    return 0;
}
