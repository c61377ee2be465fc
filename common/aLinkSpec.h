/* linkSpec: the 128-byte description of a reachable module, and linkType. */
#ifndef MORV_ALINKSPEC_H
#define MORV_ALINKSPEC_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Transport kind of a linkSpec. */
typedef int32_t linkType;
#define linkTypeUSB    1 /* USB-attached module */
#define linkTypeTCPIP  2 /* module reached over TCP/IP */
#define linkTypeSerial 3 /* serial line; only in specs made by the caller */
#define linkTypeAEther 4 /* client of a network server of this system */

#define aLINKSPEC_SIZE 128u
/* Room for a serial device path, its NUL included. */
#define aLINKSPEC_PATH_SIZE 100u

/* Integers in host byte order, except the IPv4 address (network byte order).
 * The same bytes travel in a network server's discovery replies. */
typedef struct linkSpec {
    linkType type;         /* 0 */
    uint32_t serialNumber; /* 4 */
    int32_t module;        /* 8: address on its bus, 0 when absent */
    int32_t router;        /* 12: address of the module it is reached through */
    uint32_t routerSerial; /* 16 */
    int32_t model;         /* 20 */
    union {                /* 24: the address word */
        uint32_t ipAddress; /* types 2 and 4, network byte order */
        uint32_t usbId;     /* type 1: the serial number again */
        uint32_t baudRate;  /* type 3 */
    };
    union {                             /* 28 */
        uint32_t port;                  /* types 2 and 4: TCP port, upper 16 bits zero */
        char path[aLINKSPEC_PATH_SIZE]; /* type 3: NUL-terminated device path */
    };
} linkSpec;

#ifdef __cplusplus
static_assert(sizeof(linkSpec) == aLINKSPEC_SIZE, "linkSpec is 128 bytes");
#else
_Static_assert(sizeof(linkSpec) == aLINKSPEC_SIZE, "linkSpec is 128 bytes");
#endif

/* A new zeroed spec of the type, owned by the caller; NULL when memory runs out. */
linkSpec* aLinkSpec_Create(linkType type);
/* A new spec holding the 128 bytes of source; NULL for a NULL source or
 * when memory runs out. */
linkSpec* aLinkSpec_Copy(const linkSpec* source);
/* Frees *spec and sets it to NULL; aErrParam when spec or *spec is NULL. */
aErr aLinkSpec_Destroy(linkSpec** spec);

#ifdef __cplusplus
}
#endif

#endif
