/* Network client stream: a byte stream to a module shared by a network
 * server of this system. The link engine reads it byte by byte on its reader
 * thread and writes packets on its writer thread; a broker thread relays
 * between them and the one socket connected to the server. */
#ifndef MORV_ASTREAMCLIENT_H
#define MORV_ASTREAMCLIENT_H

#include <stdint.h>

#include "aError.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The longest the stream's delete waits for its broker thread. */
#define aSTREAM_CLIENT_STOP_MS 2000u

/* Server address in network order, port in host order. aErrParam for a NULL
 * out, aErrMemory, aErrConnection or aErrResource on failure (*out stays
 * NULL). Get waits at most 1 s and then gives aErrNotReady; put is
 * aErrUnimplemented; a write of one or more whole packets (wire form) sends
 * each packet as one frame, and gives aErrParam, sending nothing, for bytes
 * that are not whole packets, aErrIO when a frame could not be sent. A
 * connected server that is slower than the writer holds the writes back:
 * once the stream's queues are full a write tries for about 100 ms and then
 * gives aErrIO; nothing it accepted is dropped while that server stays
 * connected. A packet written while no server is connected is dropped (a
 * debug line says so): none is kept for a server that comes later. The
 * delete returns within aSTREAM_CLIENT_STOP_MS: aErrTimeout when the broker
 * had not ended by then (it releases the rest once it does). No signal
 * handler is installed or changed, by the stream nor by CZMQ for it. */
aErr aStream_CreateClient(uint32_t address, uint16_t port, aStream** out);

#ifdef __cplusplus
}
#endif

#endif
