/* How long the reply to a request is waited for, and how long a reply that
 * was given up on may still come. One definition for every caller on a link
 * and for the network server's worker, which waits on its clients' behalf,
 * so that a wait and the late window behind it cannot disagree. */
#ifndef MORV_AREPLYWAIT_H
#define MORV_AREPLYWAIT_H

#include <stddef.h>
#include <stdint.h>

#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The reply to a request, and each further packet of a reply. */
#define aREPLY_WAIT_MS 1000u
/* A byte buffer longer than this takes the module longer to take in. */
#define aREPLY_LARGE_PAYLOAD 1000u
#define aREPLY_WAIT_LARGE_MS 4000u
/* Opening a store slot. */
#define aREPLY_WAIT_SLOT_OPEN_MS 3000u

/* A network server's worker waits this much longer than its client, so that
 * the client gives up first and a reply in between still reaches it. */
#define aREPLY_SERVER_MARGIN_MS 1000u

/* After a caller gave up on a reply, how long the reply may still come: a
 * network server in between still waits for it aREPLY_SERVER_MARGIN_MS
 * longer, with room for the way back. A worker that gives up keeps its late
 * record aREPLY_SERVER_MARGIN_MS less, so that both end together and its
 * client's next request is never held up by it. */
#define aREPLY_LATE_MS 3000u
#define aREPLY_LATE_SERVER_MS (aREPLY_LATE_MS - aREPLY_SERVER_MARGIN_MS)

/* The wait for the reply to a byte-buffer set of count bytes (or for a
 * byte-buffer reply of up to count bytes). */
uint32_t aReply_WaitForBytes(size_t count);

/* The wait of the sender of these packets, one request (a byte buffer's
 * packets in order, the last one ending it), for the reply's first packet:
 * by the buffer's length, or for a store-slot open. */
uint32_t aReply_WaitForRequest(const aPacket* const* packets, size_t count);

#ifdef __cplusplus
}
#endif

#endif
