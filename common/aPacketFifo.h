/* Thread-safe packet queues named by a numeric id. A queue keeps its own
 * copies: a put copies the caller's packet, and every packet handed out is a
 * fresh one that the taker frees with aPacket_Destroy. */
#ifndef MORV_APACKETFIFO_H
#define MORV_APACKETFIFO_H

#include <stdint.h>

#include "aError.h"
#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Queue id; 0 names no queue. */
typedef uint64_t aPacketFifoId;

/* Packets a queue holds at most: the put that finds this many queued empties
 * the queue, its own packet included, and reports aErrOverrun. */
#define aPACKETFIFO_MAX_PACKETS 1000

/* Predicate for the selective takes: returns non-zero to accept the packet.
 * It runs with the queue locked, so it must not call operations of the same
 * queue. */
typedef int (*aPacketFifoProc)(const aPacket* packet, void* ref);

/* New empty queue; 0 when it cannot be created. */
aPacketFifoId aPacketFifo_Create(void);

/* Empties and unregisters the queue and wakes its waiters (they get NULL, a
 * length waiter aErrParam); clears *id. aErrParam for a NULL pointer,
 * aErrNotFound for an unknown id (left as it is), aErrUnknown on an internal
 * failure. */
aErr aPacketFifo_Destroy(aPacketFifoId* id);

/* Packets queued; 0 for an unknown id. */
uint32_t aPacketFifo_GetLength(aPacketFifoId id);

/* Appends a copy of the packet. aErrParam for an unknown or destroyed queue,
 * an invalid packet or a failed copy; aErrResource when the queue cannot
 * grow; aErrOverrun when the queue was full and has been emptied. */
aErr aPacketFifo_Put(aPacketFifoId id, const aPacket* packet);

/* Oldest packet, removed; NULL when empty or unknown. Never waits. */
aPacket* aPacketFifo_Get(aPacketFifoId id);

/* Oldest packet, removed, waiting up to ms for one; NULL on time-out, for an
 * unknown id, or when the queue is destroyed meanwhile. */
aPacket* aPacketFifo_Await(aPacketFifoId id, uint64_t ms);

/* Oldest packet the predicate accepts, removed; NULL when none. Never waits. */
aPacket* aPacketFifo_GetFirst(aPacketFifoId id, aPacketFifoProc proc, void* ref);

/* Oldest packet the predicate accepts, removed, waiting up to ms. Each packet
 * is offered to the predicate once per call. NULL on time-out, for an unknown
 * id, or when the queue is destroyed meanwhile. */
aPacket* aPacketFifo_AwaitFirst(aPacketFifoId id, aPacketFifoProc proc, void* ref, uint64_t ms);

/* Removes and frees every packet the predicate accepts; returns how many
 * (0 for an unknown id). */
uint32_t aPacketFifo_DrainPackets(aPacketFifoId id, aPacketFifoProc proc, void* ref);

/* Waits up to ms until the queue holds at most maxLength packets; takes, drains
 * and the emptying by an overrun wake the waiter. aErrNone once it does (at
 * once if it already does), aErrTimeout when ms pass first, aErrParam for an
 * unknown queue or one destroyed meanwhile, aErrUnknown on an internal
 * failure. */
aErr aPacketFifo_AwaitLengthAtMost(aPacketFifoId id, uint32_t maxLength, uint64_t ms);

#ifdef __cplusplus
}
#endif

#endif
