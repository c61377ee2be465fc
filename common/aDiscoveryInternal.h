/* Pieces shared by the discovery sources; not for callers. */
#ifndef MORV_ADISCOVERYINTERNAL_H
#define MORV_ADISCOVERYINTERNAL_H

#include "aDiscovery.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aDISCOVERY_TCPIP_GROUP        0xE8020202u /* 232.2.2.2, host byte order */
#define aDISCOVERY_TCPIP_REQUEST_PORT 9888u
#define aDISCOVERY_TCPIP_REPLY_PORT   9889u
#define aDISCOVERY_TCPIP_DATAGRAM     16u
/* A reply must reach past the serial number (bytes 4 to 7). */
#define aDISCOVERY_TCPIP_MIN_REPLY    8u
#define aDISCOVERY_TCPIP_QUIET_MS     2000u
/* However often modules answer, the search ends this long after it began. */
#define aDISCOVERY_TCPIP_DEADLINE_MS  5000u

#define aDISCOVERY_MAX_INTERFACES 50u
#define aDISCOVERY_BEACON_STEPS   22
#define aDISCOVERY_BEACON_STEP_MS 100

/* Counts one more accepted spec; stays at 255. */
static inline uint8_t aDiscovery_CountUp(uint8_t count)
{
    return count == UINT8_MAX ? count : (uint8_t)(count + 1u);
}

/* Serial numbers already reported by one search. */
#define aDISCOVERY_SEEN_MAX 64u
typedef struct {
    uint32_t serials[aDISCOVERY_SEEN_MAX];
    uint32_t count;
} aDiscoverySeen;

bool aDiscoverySeen_Contains(const aDiscoverySeen* seen, uint32_t serialNumber);
void aDiscoverySeen_Add(aDiscoverySeen* seen, uint32_t serialNumber);

/* Fills a linkSpec from a module's reply of size bytes (at most the first 16
 * count) from sender (network order); 0 when it is too short to hold a port
 * and a serial number. */
int aDiscovery_SpecFromTCPIPReply(const void* data, size_t size, uint32_t sender, linkSpec* spec);

/* Copies a server's spec received from the network into spec when it is one
 * a client may connect to: exactly 128 bytes, type 4, a port of 1 to 65535
 * with the upper bits zero and a non-zero address; the path bytes are
 * terminated. 0 for anything else. */
int aDiscovery_TakeServerSpec(const void* data, size_t size, linkSpec* spec);

uint8_t _enumerateUSBModules(aDiscoveryModuleFoundProc callback, void* reference);
uint8_t _enumerateTCPIPModules(aDiscoveryModuleFoundProc callback, void* reference);
uint8_t _findLinkSpecs_multicast(aDiscoveryModuleFoundProc callback, void* reference,
                                 bool localOnly);
uint8_t _findLinkSpecs_beacon(aDiscoveryModuleFoundProc callback, void* reference,
                              const char* interfaceText);

#ifdef __cplusplus
}
#endif

#endif
