/* Network server sharing a module link with other processes and hosts:
 * clients connect over ZeroMQ, their packets go to the module one request at
 * a time, each reply goes back to the client that asked, stream samples go to
 * every client that enabled streaming, and a client's multi-packet byte
 * transfer reaches the module as one uninterrupted burst. The server also
 * answers discovery (loopback multicast or beacon) once its model is known. */
#ifndef MORV_ASERVER_H
#define MORV_ASERVER_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aServer aServer;

/* The longest aServer_Destroy waits for the server's threads. */
#define aSERVER_STOP_MS 3000u

/* A new server for the link of that id (its registry entry gives the link and
 * the identifier advertised as serial number). interfaceAddress is IPv4 in
 * network order, 0 for 127.0.0.1; localOnly serves the loopback interface
 * only. NULL when the id has no registry entry or memory runs out. The entry
 * gets the teardown hook: a server stored in its server field is destroyed
 * with the link. */
aServer* aServer_Create(int linkId, uint32_t interfaceAddress, uint8_t localOnly);
/* Binds the sockets, starts the actors and installs the streaming filter on
 * the link. aErrParam for NULL, aErrResource when any part failed (what was
 * made is released by aServer_Destroy). */
aErr aServer_Start(aServer* server);
/* Stops and frees the server and clears *server, within aSERVER_STOP_MS
 * whatever its threads do. aErrNone; aErrTimeout when one of them had not
 * ended by then (it releases the rest once it does, the frontend's port
 * among it); aErrParam when server or *server is NULL. Installs and changes
 * no signal handler, nor does anything else of the server: neither does
 * CZMQ for it. */
aErr aServer_Destroy(aServer** server);

/* The frontend's TCP port (host order); aErrParam for NULL arguments. */
aErr aServer_GetPort(const aServer* server, uint16_t* port);
/* The interface served (IPv4, network order); aErrParam for NULL arguments. */
aErr aServer_GetInterface(const aServer* server, uint32_t* interfaceAddress);
/* Kept for the caller; the advertised spec carries address 0. */
aErr aServer_SetModuleAddress(aServer* server, uint8_t address);
/* A non-zero model lets the server answer discovery. */
aErr aServer_SetModel(aServer* server, uint8_t model);
/* Forgets every client still awaiting a reply: answers the module gives to
 * their requests later are dropped. aErrParam for NULL. */
aErr aServer_FlushFIFO(aServer* server);

#ifdef __cplusplus
}
#endif

#endif
