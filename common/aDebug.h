/* The library's debug switches and its trace macro. */
#ifndef MORV_ADEBUG_H
#define MORV_ADEBUG_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Both zero at start; the library never changes them, an embedding program
 * (or a debugger) does. Nothing is traced while the enable switch is 0. */
extern uint8_t aMorvassetDebuggingEnable;
extern uint32_t aMorvassetDebuggingLevel;

/* Bits of aMorvassetDebuggingLevel. */
#define aDEBUG_LINK       0x001u /* link lifecycle, registry, Link connection, server set-up */
#define aDEBUG_PACKETS    0x002u /* packets received and written, heartbeats */
#define aDEBUG_SERVER     0x004u /* network server, pooling, discovery responders */
#define aDEBUG_MULTICAST  0x008u /* multicast endpoint errors */
#define aDEBUG_DISCOVERY  0x010u /* network discovery, interfaces found */
#define aDEBUG_CLIENT     0x020u /* network client stream */
#define aDEBUG_MODULE     0x040u /* module address discovery failures */
#define aDEBUG_BEACON     0x200u /* beacon interface lock */
#define aDEBUG_USB        0x400u /* libusb driver */

/* Nonzero when lines of the given bit are to be printed. */
int aDebug_IsOn(uint32_t bit);

/* printf-style trace line to standard output, flushed at once. */
#define aDEBUG_TRACE(bit, ...)            \
    do {                                  \
        if (aDebug_IsOn(bit)) {           \
            printf(__VA_ARGS__);          \
            fflush(stdout);               \
        }                                 \
    } while (0)

#ifdef __cplusplus
}
#endif

#endif
