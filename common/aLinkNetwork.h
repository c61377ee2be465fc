/* Creation of links through the network sharing of a module: a link that is a
 * client of a network server, and a USB link served to the network together
 * with the client link through which the caller talks to it. Like the other
 * creators they rely on their caller to serialise creations. */
#ifndef MORV_ALINKNETWORK_H
#define MORV_ALINKNETWORK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A network-client link to the server at address (IPv4, network order) and
 * port. existingId 0 always makes a new link; another id shares that link
 * (its use count is raised). The link id, 0 on failure. */
int aLink_CreateClient(uint32_t address, uint16_t port, int existingId);

/* Opens the USB link of the serial number, serves it to the network and
 * returns a client link through that server, which holds the USB link. *port
 * receives the server's port; *networkInterface gives the interface to serve
 * on (IPv4, network order; 0 for 127.0.0.1) and receives the one served. 0 on
 * failure, with no link left behind. A module that other users hold over USB
 * directly is not served. */
int aLink_CreateServer(uint32_t serialNumber, uint16_t* port, uint32_t* networkInterface, uint8_t localOnly);

#ifdef __cplusplus
}
#endif

#endif
