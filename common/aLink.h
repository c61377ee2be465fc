/* Links: one open connection to one module over one byte stream, run by a
 * reader thread (the in-pipe: packets, sync handshake, heartbeats, user
 * filter, input queue) and a writer thread (the out-pipe: output queue to the
 * stream, one by one or pooled). Links are named by integer ids of the link
 * registry, which also creates them by transport. */
#ifndef MORV_ALINK_H
#define MORV_ALINK_H

#include <stdint.h>

#include "aAtomic.h"
#include "aError.h"
#include "aMutex.h"
#include "aPacket.h"
#include "aPacketFifo.h"
#include "aPacketLog.h"
#include "aStream.h"
#include "aThread.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aLINK_CHECK 0xCEEDu

/* Link status values. There is no 7. */
typedef enum {
    linkStatusStopped = 0,    /* initialised with a stream and not started, or stopped */
    linkStatusStarting = 1,   /* aLink_Start is creating the pipe threads */
    linkStatusRunning = 2,    /* the in-pipe assembles packets */
    linkStatusStopping = 3,   /* aLink_Stop is in progress */
    linkStatusSyncing = 4,    /* received bytes feed the sync handshake only */
    linkStatusNoStream = 5,   /* no stream, or an unregistered id */
    linkStatusIOError = 6,    /* a stream read failed; kept until a handshake completes */
    linkStatusPacketError = 8 /* packets were lost: received ones (the input queue overflowed) or
                               * one taken for writing (the stream's write failed); the link
                               * still runs, and the next packet queued brings back 2 */
} linkStatus;

/* States of the sync handshake. */
typedef enum {
    kSyncStateNone = 0,  /* no handshake in progress */
    kSyncStateStart = 1, /* any byte restarts the handshake */
    kSyncStateByte1 = 2, /* the module address: non-zero and even */
    kSyncStateByte2 = 3, /* a zero length byte */
    kSyncStateByte3 = 4, /* the same address again */
    kSyncStateByte4 = 5  /* a second zero length byte: synced */
} linkSyncState;

/* Link-level wire bytes. */
#define aLINK_SYNC_ADDRESS 0xAD
#define aLINK_FORCE_ROUTE_ADDRESS 0xAF
#define aLINK_SYNC_REQUESTS 6

/* User packet filter: runs on the in-pipe thread for every complete packet;
 * returning 1 consumes the packet. It must not wait for packets of its own
 * link, nor release the last use of a link: a teardown may wait for it. */
typedef uint8_t (*aLinkPacketFilterProc)(const aPacket* packet, void* ref);

/* The record of one link. The aATOMIC fields are read by several
 * threads (a reset replaces the queues, a teardown clears them): C code goes
 * through one accessor per field, each keeping its memory order. */
typedef struct aLink {
    uint16_t check;
    int32_t id;
    aATOMIC(uint8_t) running;
    aATOMIC(int32_t) status;
    aATOMIC(aPacketFifoId) inFifo;
    aPacket* inPacket; /* in-pipe only */
    aATOMIC(aPacketFifoId) outFifo;
    aThread* inThread;
    aThread* outThread;
    aThreadProc inProc;
    aThreadProc outProc;
    aATOMIC(uint8_t) inStarted;
    aATOMIC(uint8_t) outStarted;
    aStream* stream;
    int32_t syncState;   /* in-pipe only */
    uint8_t syncAddress; /* in-pipe only */
    /* Published together, mutex first (aLink_PublishPacketLog); every access
     * to the ring holds logMutex. */
    aATOMIC(aPacketLog*) log;
    uint32_t logSize;
    aATOMIC(aMutex*) logMutex;
    aLinkPacketFilterProc userFilter;
    void* userFilterRef;
    aMutex* userFilterMutex; /* guards userFilter and userFilterRef */
    aATOMIC(uint8_t) pooled;
    /* Engine state. */
    aATOMIC(uint8_t) resetting;  /* a reset is in progress */
    aATOMIC(uint8_t) stopQueued; /* the stop's force-route packet is queued */
    uint64_t syncHeard;          /* in-pipe only: last sync start or end of a run of bytes (ms) */
    uint32_t inKnownLength;      /* in-pipe only: input queue length at most, since last looked at */
    uint8_t inBacklogAbandoned;  /* in-pipe only: the input queue's reader stalled */
    aATOMIC(uint8_t) closed;     /* torn down: only holders still look at the record */
} aLink;

#ifndef __cplusplus
/* Readers of the shared fields that other files of the library need; the
 * engine keeps the writers. */
static inline int32_t aLink_StatusOf(aLink* link)
{
    return atomic_load_explicit(&link->status, memory_order_seq_cst);
}
static inline bool aLink_RunningOf(aLink* link)
{
    return atomic_load_explicit(&link->running, memory_order_seq_cst) != 0;
}
static inline aPacketFifoId aLink_InFifoOf(aLink* link)
{
    return atomic_load_explicit(&link->inFifo, memory_order_acquire);
}
static inline aPacketFifoId aLink_OutFifoOf(aLink* link)
{
    return atomic_load_explicit(&link->outFifo, memory_order_acquire);
}
static inline aPacketLog* aLink_LogOf(aLink* link)
{
    return atomic_load_explicit(&link->log, memory_order_acquire);
}
/* Published before the log. */
static inline aMutex* aLink_LogMutexOf(aLink* link)
{
    return atomic_load_explicit(&link->logMutex, memory_order_acquire);
}
#endif

/* ---- Operations on link ids ---- */

/* The link's status; linkStatusNoStream for an unregistered id. */
int32_t aLink_GetStatus(int id);
/* Queues a copy of the packet for writing; aErrParam for an unregistered id. */
aErr aLink_PutPacket(int id, const aPacket* packet);
/* Oldest received packet (the caller destroys it), or NULL; never waits. */
aPacket* aLink_GetPacket(int id);
/* Oldest received packet, waiting up to ms; NULL on time-out or for an
 * unregistered id. The link's status is not consulted. */
aPacket* aLink_AwaitPacket(int id, uint64_t ms);
/* First received packet the predicate accepts, or NULL; never waits. */
aPacket* aLink_GetFirst(int id, aPacketFifoProc predicate, void* ref);
/* First received packet the predicate accepts, waiting up to ms while the link
 * runs (status linkStatusRunning, or linkStatusPacketError after a loss); NULL
 * at once when it does not. */
aPacket* aLink_AwaitFirst(int id, aPacketFifoProc predicate, void* ref, uint64_t ms);
/* Removes and destroys the accepted received packets; their count. */
uint32_t aLink_DrainPackets(int id, aPacketFifoProc predicate, void* ref);
/* Packets waiting in the output queue; 0 for an unregistered id or a link
 * without queues. */
uint32_t aLink_GetOutputLength(int id);
/* Waits up to ms until at most maxQueued packets wait in the output queue (the
 * writer has taken the others; it may still be writing the last one taken).
 * aErrNone once they do, at once when they already do; aErrConnection when
 * more wait while the link does not write (stopping, stopped, no stream), and
 * when it stops or loses its queue during the wait; aErrTimeout when ms pass
 * first; aErrParam for an unregistered id. */
aErr aLink_AwaitOutputRoom(int id, uint32_t maxQueued, uint64_t ms);
/* Installs (NULL: removes) the user filter; once this returns the previous
 * filter is neither running nor called again. aErrParam for an unregistered id. */
aErr aLink_InstallUserPacketFilter(int id, aLinkPacketFilterProc filter, void* ref);
/* 1: the out-pipe gathers queued packets into one write. */
aErr aLink_EnablePooledPackets(int id, uint8_t pooled);
/* Releases one use of the link; the last use tears it down, which ends the
 * waits of operations still running on it on other threads (the record is
 * freed after the last of them). *id becomes 0. */
aErr aLink_Destroy(int* id);
/* Stops the link, opens a new stream to the same module and starts again,
 * keeping the user filter, the pooled flag and the packet log. When no stream
 * can be opened the link stays stopped with status linkStatusNoStream and the
 * error is returned. aErrParam for an unregistered id or a link that cannot be
 * reset, aErrBusy while another reset of it runs. */
aErr aLink_Reset(int id);

/* ---- Creation by transport (link registry) ---- */

/* Each returns a link id, 0 on failure; a module already open (the same
 * serial number over USB or serial, the same address and port over TCP/IP)
 * is shared and its use count raised. */
int aLink_CreateUSB(uint32_t serialNumber);
/* address in network order, port in host order. */
int aLink_CreateTCPIP(uint32_t address, uint16_t port);
/* serialNumber is the registry key; baud is one of 2400 ... 230400. */
int aLink_CreateSerial(uint32_t serialNumber, const char* path, int baud);
/* A link over the caller's stream, which the link owns from then on (also
 * when the creation fails: the stream is destroyed). Never shared. */
int aLink_Create(aStream* stream);

/* ---- Internal to the library ---- */

/* Initialises the zero-filled record of a registered id with a stream (status
 * linkStatusStopped) or without one (linkStatusNoStream); the record owns the
 * stream from then on. The id, or 0 when the id has no record, the record is
 * already initialised or something cannot be allocated. */
int aLink_Init(int id, aStream* stream);
/* Starts the pipe threads and waits up to 2 s for them, then queues force
 * route 1. aErrParam (unregistered), aErrConnection (no stream or queues),
 * aErrResource (a thread cannot be created), aErrIndexRange (not up within
 * 2 s), or the force-route put's error. A running link: aErrNone, nothing. */
aErr aLink_Start(int id);
/* Queues force route 0 and joins both pipe threads; the out-pipe writes that
 * packet first in its bounded final flush. aErrParam for NULL, aErrUnknown
 * when a join fails. */
aErr aLink_Stop(aLink* link);
/* Requests a handshake and waits up to 2 s for it; empties both queues after.
 * aErrNone, aErrNotReady, aErrParam (unregistered). */
aErr aLink_Sync(int id);
/* Queues [0xAF, 0x01, value]. aErrNotFound (no entry), aErrParam (no record),
 * aErrMemory, or the put's result. */
aErr aLink_ForceRoute(int id, uint8_t value);
/* Gives the link its packet log and the mutex guarding it, published so that
 * the pipes never see the log without its mutex. aErrParam for NULL
 * arguments, aErrBusy when the link has a log already (nothing is taken). */
aErr aLink_PublishPacketLog(aLink* link, aPacketLog* log, aMutex* logMutex);

#ifdef __cplusplus
}
#endif

#endif
