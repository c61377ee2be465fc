/* Version words, the library's version and its features. */
#include "aVersion.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define VERSION_STRING_SIZE 15

typedef struct {
    const char* name;
    const char* description;
} aFeature;

static const aFeature FEATS[] = {
    {"VERSION", "Version Query API"},
};
#define NUM_FEATS (sizeof(FEATS) / sizeof(FEATS[0]))
#define FEATURE_SEPARATOR " - "

static char version_string[VERSION_STRING_SIZE];
/* Several threads may ask for the text first at the same time. */
static pthread_once_t version_inited = PTHREAD_ONCE_INIT;

bool aVersion_IsAtLeastCompare(uint8_t a1, uint8_t a2, uint8_t a3,
                               uint8_t b1, uint8_t b2, uint8_t b3)
{
    if (a1 != b1)
        return a1 > b1;
    if (a2 != b2)
        return a2 > b2;
    return a3 >= b3;
}

bool aVersion_IsLegacyFormat(uint32_t version)
{
    uint8_t hi = (uint8_t)((version >> 28) & 0xF);
    uint8_t mid = (uint8_t)((version >> 24) & 0xF);
    /* Legacy exactly when hi.mid is below 2.15; the 0 against 255 makes 2.15 itself new. */
    return aVersion_IsAtLeastCompare(2, 15, 0, hi, mid, 255);
}

uint8_t aVersion_ParseMajor(uint32_t version)
{
    if (aVersion_IsLegacyFormat(version))
        return (uint8_t)((version >> 28) & 0xF);
    return (uint8_t)((version >> 16) & 0xFF);
}

uint8_t aVersion_ParseMinor(uint32_t version)
{
    if (aVersion_IsLegacyFormat(version))
        return (uint8_t)((version >> 24) & 0xF);
    return (uint8_t)((version >> 8) & 0xFF);
}

uint32_t aVersion_ParsePatch(uint32_t version)
{
    if (aVersion_IsLegacyFormat(version))
        return version & 0x00FFFFFFu;
    return version & 0xFFu;
}

void aVersion_ParseString(uint32_t version, char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
        return;
    snprintf(buffer, size, "%d.%d.%d", (int)aVersion_ParseMajor(version),
             (int)aVersion_ParseMinor(version), (int)aVersion_ParsePatch(version));
}

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch)
{
    if (major > 2 || (major == 2 && minor > 14))
        return 0x2F000000u | ((uint32_t)major << 16) | ((uint32_t)minor << 8) | patch;
    return ((uint32_t)major << 28) | (((uint32_t)minor << 24) & 0x0F000000u) | patch;
}

uint8_t aVersion_GetMajor(void)
{
    return aVERSION_MAJOR;
}

uint8_t aVersion_GetMinor(void)
{
    return aVERSION_MINOR;
}

uint8_t aVersion_GetPatch(void)
{
    return aVERSION_PATCH;
}

static void buildVersionString(void)
{
    memset(version_string, 0, sizeof(version_string));
    snprintf(version_string, sizeof(version_string), "%d.%d%s%d", aVERSION_MAJOR,
             aVERSION_MINOR, aVERSION_PHASE, aVERSION_PATCH);
}

const char* aVersion_GetString(void)
{
    pthread_once(&version_inited, buildVersionString);
    return version_string;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch)
{
    return aVersion_IsAtLeastCompare(aVERSION_MAJOR, aVERSION_MINOR, aVERSION_PATCH,
                                     major, minor, patch);
}

bool aVersion_HasFeature(const char* feature)
{
    if (feature == NULL)
        return false;
    for (size_t i = 0; i < NUM_FEATS; ++i) {
        if (strcmp(FEATS[i].name, feature) == 0)
            return true;
    }
    return false;
}

char* aVersion_GetFeatureList(void)
{
    size_t length = 0;
    for (size_t i = 0; i < NUM_FEATS; ++i) {
        if (i > 0)
            length += 1;
        length += strlen(FEATS[i].name) + strlen(FEATURE_SEPARATOR) +
                  strlen(FEATS[i].description);
    }
    char* list = calloc(length + 1, 1);
    if (list == NULL)
        return NULL;
    char* at = list;
    for (size_t i = 0; i < NUM_FEATS; ++i) {
        at += sprintf(at, "%s%s%s%s", i > 0 ? "\n" : "", FEATS[i].name,
                      FEATURE_SEPARATOR, FEATS[i].description);
    }
    return list;
}

void aVersion_DestroyFeatureList(char** list)
{
    if (list == NULL)
        return;
    free(*list);
    *list = NULL;
}
