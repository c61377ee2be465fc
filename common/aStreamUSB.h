/* The USB stream: a byte stream to one module attached by USB, through the
 * modules' kernel driver node when it exists, else through libusb. */
#ifndef MORV_ASTREAMUSB_H
#define MORV_ASTREAMUSB_H

#include <stdint.h>

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the module with the serial number and gives the new stream through
 * out (NULL on failure). aErrParam for serial 0 or a NULL out, aErrNotFound
 * when no such module is attached, aErrBusy when another process holds it,
 * aErrPermission without access, aErrConfiguration for a module without its
 * bulk endpoints, aErrResource when libusb cannot start. */
aErr aStream_CreateUSB(uint32_t serialNumber, aStream** out);

#ifdef __cplusplus
}
#endif

#endif
