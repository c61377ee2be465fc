/* Discovery of reachable modules: USB enumeration, TCP/IP module discovery
 * and the search for network servers of this system (loopback multicast or
 * beacon). Every search runs on the caller's thread and hands each linkSpec
 * it finds to the caller's callback. */
#ifndef MORV_ADISCOVERY_H
#define MORV_ADISCOVERY_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aDiscoveryInterfaces.h"
#include "aLinkSpec.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The spec belongs to the search and is valid only during the call (copy
 * all 128 bytes to keep it). *accepted is false on entry; set it to take the
 * spec. Return 1 to go on searching, anything else to stop. The callback
 * must not throw. */
typedef uint8_t (*aDiscoveryModuleFoundProc)(const linkSpec* spec, bool* accepted, void* reference);

/* Runs the search of the type (1 USB, 2 TCP/IP, 4 network servers) and
 * returns how many specs the callback accepted, at most 255. The interface
 * address (IPv4, network byte order) matters only for type 4: 0 or
 * 127.0.0.1 searches this host. Other types and a NULL callback give 0. */
uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback,
                                    void* reference, uint32_t networkInterface);

/* The first spec of that serial number, owned by the caller (free it with
 * aLinkSpec_Destroy), or NULL. */
linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface);
/* The first spec whose serial number is not 0, owned by the caller, or NULL. */
linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface);

/* The type-4 search. */
uint8_t aDiscovery_Enumerate_aEtherModules(aDiscoveryModuleFoundProc callback, void* reference,
                                           uint32_t networkInterface);


#ifdef __cplusplus
}
#endif

#endif
