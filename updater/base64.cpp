#include "base64.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const char encoding_table[64] = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

// Pad characters for an input length modulo 3.
const unsigned mod_table[3] = {0, 2, 1};

// Every entry is set: characters outside the alphabet decode as 0.
unsigned char* _build_decoding_table() {
    unsigned char* table = static_cast<unsigned char*>(std::calloc(256, 1));
    if (table == nullptr) return nullptr;
    for (unsigned char i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(encoding_table[i])] = i;
    return table;
}

}  // namespace

extern "C" char* base64_encode(const unsigned char* data, unsigned long input_length,
                               unsigned long* output_length) {
    if (output_length == nullptr) return nullptr;
    // 4 * ((n + 2) / 3) + 1 must fit.
    if (input_length / 3 >= (ULONG_MAX - 5) / 4) {
        *output_length = 0;
        return nullptr;
    }
    const unsigned long out_len = 4 * ((input_length + 2) / 3);
    *output_length = out_len;
    if (data == nullptr && input_length != 0) return nullptr;

    char* out = static_cast<char*>(std::malloc(out_len + 1));
    if (out == nullptr) return nullptr;

    unsigned long i = 0, j = 0;
    while (i < input_length) {
        const unsigned long a = data[i++];
        const unsigned long b = i < input_length ? data[i++] : 0;
        const unsigned long c = i < input_length ? data[i++] : 0;
        const unsigned long triple = (a << 16) | (b << 8) | c;
        out[j++] = encoding_table[(triple >> 18) & 0x3F];
        out[j++] = encoding_table[(triple >> 12) & 0x3F];
        out[j++] = encoding_table[(triple >> 6) & 0x3F];
        out[j++] = encoding_table[triple & 0x3F];
    }
    for (unsigned k = 0; k < mod_table[input_length % 3]; ++k) out[out_len - 1 - k] = '=';
    out[out_len] = '\0';
    return out;
}

extern "C" unsigned char* base64_decode(const char* data, unsigned long input_length,
                                        unsigned long* output_length) {
    if (output_length == nullptr) return nullptr;
    if (input_length % 4 != 0) return nullptr;
    if (data == nullptr && input_length != 0) return nullptr;

    unsigned long out_len = input_length / 4 * 3;
    if (input_length != 0) {
        if (data[input_length - 1] == '=') --out_len;
        if (data[input_length - 2] == '=') --out_len;
    }
    *output_length = out_len;

    unsigned char* out = static_cast<unsigned char*>(std::malloc(out_len + 1));
    if (out == nullptr) return nullptr;
    unsigned char* table = _build_decoding_table();
    if (table == nullptr) {
        std::free(out);
        return nullptr;
    }

    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    // Whole groups first without bounds checks; the last group may be cut by padding.
    const unsigned long groups = input_length / 4;
    const unsigned long full = groups == 0 ? 0 : groups - 1;
    unsigned char* o = out;
    for (unsigned long g = 0; g < full; ++g, in += 4) {
        const unsigned long triple = (static_cast<unsigned long>(table[in[0]]) << 18) |
                                     (static_cast<unsigned long>(table[in[1]]) << 12) |
                                     (static_cast<unsigned long>(table[in[2]]) << 6) |
                                     static_cast<unsigned long>(table[in[3]]);
        o[0] = static_cast<unsigned char>(triple >> 16);
        o[1] = static_cast<unsigned char>(triple >> 8);
        o[2] = static_cast<unsigned char>(triple);
        o += 3;
    }
    if (groups != 0) {
        const unsigned long triple = (static_cast<unsigned long>(table[in[0]]) << 18) |
                                     (static_cast<unsigned long>(table[in[1]]) << 12) |
                                     (static_cast<unsigned long>(table[in[2]]) << 6) |
                                     static_cast<unsigned long>(table[in[3]]);
        const unsigned char bytes[3] = {static_cast<unsigned char>(triple >> 16),
                                        static_cast<unsigned char>(triple >> 8),
                                        static_cast<unsigned char>(triple)};
        unsigned long written = static_cast<unsigned long>(o - out);
        for (int k = 0; k < 3 && written < out_len; ++k, ++written) *o++ = bytes[k];
    }
    out[out_len] = '\0';
    std::free(table);
    return out;
}
