/* Packed firmware version words, the library's own version and its feature list. */
#ifndef MORV_AVERSION_H
#define MORV_AVERSION_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define aVERSION_MAJOR 2
#define aVERSION_MINOR 11
#define aVERSION_PATCH 3
#define aVERSION_PHASE "."

/* True when the word uses the legacy layout (major.minor below 2.15):
 * major in bits 31-28, minor in 27-24, patch in 23-0. Otherwise the word is
 * 0x2F, major, minor, patch, one byte each. */
bool aVersion_IsLegacyFormat(uint32_t version);
uint8_t aVersion_ParseMajor(uint32_t version);
uint8_t aVersion_ParseMinor(uint32_t version);
uint32_t aVersion_ParsePatch(uint32_t version);
/* Writes "major.minor.patch" of the word, truncated to size as by snprintf. */
void aVersion_ParseString(uint32_t version, char* buffer, size_t size);
/* Packs a version; below 2.15 the legacy layout (only 8 bits of patch). */
uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);

uint8_t aVersion_GetMajor(void);
uint8_t aVersion_GetMinor(void);
uint8_t aVersion_GetPatch(void);
/* The library's version text ("2.11.3"); static, never freed. Thread-safe. */
const char* aVersion_GetString(void);
/* True when the library's own version is at least major.minor.patch. */
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);
/* True when version a1.a2.a3 >= b1.b2.b3. */
bool aVersion_IsAtLeastCompare(uint8_t a1, uint8_t a2, uint8_t a3,
                               uint8_t b1, uint8_t b2, uint8_t b3);

/* Exact, case-sensitive match against the feature names. */
bool aVersion_HasFeature(const char* feature);
/* "name - description" lines joined by "\n"; NULL when memory runs out.
 * Release with aVersion_DestroyFeatureList. */
char* aVersion_GetFeatureList(void);
void aVersion_DestroyFeatureList(char** list);

#ifdef __cplusplus
}
#endif

#endif
