// Base64 (standard alphabet, "=" padding, no line breaks) between bytes and text.
// Both functions return a buffer from malloc, NUL-terminated, that the caller frees.
#ifndef MORV_UPDATER_BASE64_H
#define MORV_UPDATER_BASE64_H

#ifdef __cplusplus
extern "C" {
#endif

// Exported by the Updater program, so these stay visible whatever the default visibility.
#define MORV_BASE64_API __attribute__((visibility("default")))

// Text of 4 * ((length + 2) / 3) characters, its length in *output_length; NULL when
// memory runs out (or the length would not fit).
MORV_BASE64_API char* base64_encode(const unsigned char* data, unsigned long input_length,
                                    unsigned long* output_length);

// Decoded bytes followed by one NUL byte, their count in *output_length; NULL when the
// length is not a multiple of 4 (output_length untouched) or memory runs out.
// Characters outside the alphabet, "=" included, decode as 0.
MORV_BASE64_API unsigned char* base64_decode(const char* data, unsigned long input_length,
                                             unsigned long* output_length);

#ifdef __cplusplus
}
#endif

#endif
