/* The host's IPv4 interfaces and the text of an IPv4 address. */
#ifndef MORV_ADISCOVERYINTERFACES_H
#define MORV_ADISCOVERYINTERFACES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fills list with up to maximum IPv4 addresses (network byte order) of the
 * host's interfaces as CZMQ lists them; the count, 0 for a NULL list. */
uint32_t aDiscovery_GetIPv4Interfaces(uint32_t* list, uint32_t maximum);

/* Writes the dotted text of the address (network byte order) into buffer,
 * cleared first; its length, or 0 (nothing written) when length is below 16
 * or the conversion fails. */
size_t aDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer, size_t length);

#ifdef __cplusplus
}
#endif

#endif
