/* Module model numbers and their display names. */
#ifndef MORV_ADEFS_H
#define MORV_ADEFS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Display name of a model number, or "Unknown"; a constant text. No name is
 * a prefix of another, since a bundle's model field must begin with it. */
const char* aDefs_GetModelName(uint32_t model);

#ifdef __cplusplus
}
#endif

#endif
