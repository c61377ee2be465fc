/* The link engine: the reader and writer threads of a link and the operations
 * that initialise, start, synchronise, stop, reset and destroy it. */
#include "aLink.h"

#include <pthread.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "aDebug.h"
#include "aLinkInternal.h"
#include "aLinkRegistry.h"
#include "aStreamClient.h"
#include "aStreamUSB.h"
#include "aTime.h"

/* Start and sync wait this long for the state they ask for, checking every
 * sPOLL_MS. */
#define sWAIT_MS 2000u
#define sPOLL_MS 10u
#define sSYNC_SETTLE_MS 100u
/* A handshake that heard nothing for this long sends its requests again. */
#define sSYNC_QUIET_MS 250u
/* The out-pipe waits this long for a packet before looking at running. */
#define sOUT_WAIT_MS 1000u
/* Pause after a failed stream read. */
#define sREAD_ERROR_PAUSE_MS 100u
/* A "not ready" that came back sooner than this after the previous one means
 * the stream does not wait by itself: the in-pipe sleeps sIDLE_SLEEP_MS. */
#define sIDLE_FAST_US 500u
#define sIDLE_SLEEP_MS 1u
/* The in-pipe holds back while its input queue is this full, so that a
 * reader that is merely slower than the stream loses nothing; a queue that
 * nobody empties for sBACKLOG_STALL_MS is left to overflow (and reported). */
#define sBACKLOG_HIGH (aPACKETFIFO_MAX_PACKETS - 100)
#define sBACKLOG_STALL_MS 250u
/* The final flush at stop gives up after this long. */
#define sFLUSH_MS 500u
/* aLink_AwaitFirst and aLink_AwaitOutputRoom look at the link's state at
 * least this often. */
#define sAWAIT_SLICE_MS 250u
#define sPOOL_SIZE 4096u
/* Gathering stops once more than this is in the pool, so a last packet of
 * up to aPACKET_MAX_SIZE bytes always fits. */
#define sPOOL_FILL (sPOOL_SIZE - aPACKET_MAX_SIZE)
#define sRESET_ATTEMPTS 20
#define sRESET_PAUSE_MS 100u

/* ---- Shared fields ---- */

/* One accessor per field shared between threads; the readers other files
 * need (status, running, the queues, the log) are in aLink.h. */

static void sSetStatus(aLink* link, int32_t status)
{
    atomic_store_explicit(&link->status, status, memory_order_seq_cst);
}

/* Status changes by the pipes and by a sync request never undo a stop in
 * progress (or done). */
static bool sSetStatusUnlessStopped(aLink* link, int32_t status)
{
    int32_t current = aLink_StatusOf(link);
    while (current != linkStatusStopping && current != linkStatusStopped) {
        if (atomic_compare_exchange_strong(&link->status, &current, status)) {
            return true;
        }
    }
    return false;
}

/* Moves the status from one value to another, if it still has the first. */
static void sSwapStatus(aLink* link, int32_t from, int32_t to)
{
    atomic_compare_exchange_strong(&link->status, &from, to);
}

/* true when this call moved running from 0 to 1. */
static bool sClaimRunning(aLink* link)
{
    uint8_t stopped = 0;
    return atomic_compare_exchange_strong(&link->running, &stopped, 1);
}

static void sSetRunning(aLink* link, uint8_t value)
{
    atomic_store_explicit(&link->running, value, memory_order_seq_cst);
}

static bool sInStarted(aLink* link)
{
    return atomic_load_explicit(&link->inStarted, memory_order_seq_cst) != 0;
}

static void sSetInStarted(aLink* link, uint8_t value)
{
    atomic_store_explicit(&link->inStarted, value, memory_order_seq_cst);
}

static bool sOutStarted(aLink* link)
{
    return atomic_load_explicit(&link->outStarted, memory_order_seq_cst) != 0;
}

static void sSetOutStarted(aLink* link, uint8_t value)
{
    atomic_store_explicit(&link->outStarted, value, memory_order_seq_cst);
}

static bool sStopQueued(aLink* link)
{
    return atomic_load_explicit(&link->stopQueued, memory_order_seq_cst) != 0;
}

static void sSetStopQueued(aLink* link, uint8_t value)
{
    atomic_store_explicit(&link->stopQueued, value, memory_order_seq_cst);
}

static bool sPooled(aLink* link)
{
    return atomic_load_explicit(&link->pooled, memory_order_relaxed) != 0;
}

static void sSetPooled(aLink* link, uint8_t value)
{
    atomic_store_explicit(&link->pooled, value, memory_order_relaxed);
}

static bool sClosed(aLink* link)
{
    return atomic_load_explicit(&link->closed, memory_order_seq_cst) != 0;
}

static void sSetClosed(aLink* link)
{
    atomic_store_explicit(&link->closed, 1, memory_order_seq_cst);
}

/* true when this call moved resetting from 0 to 1. */
static bool sClaimReset(aLink* link)
{
    uint8_t idle = 0;
    return atomic_compare_exchange_strong(&link->resetting, &idle, 1);
}

static void sEndReset(aLink* link)
{
    atomic_store_explicit(&link->resetting, 0, memory_order_seq_cst);
}

static void sSetFifos(aLink* link, aPacketFifoId in, aPacketFifoId out)
{
    atomic_store_explicit(&link->inFifo, in, memory_order_release);
    atomic_store_explicit(&link->outFifo, out, memory_order_release);
}

/* The out-pipe takes packets in every other state. */
static bool sWrites(aLink* link)
{
    int32_t status = aLink_StatusOf(link);
    return status != linkStatusStopped && status != linkStatusStopping && status != linkStatusNoStream;
}

/* Received packets reach the input queue. */
static bool sDelivers(aLink* link)
{
    int32_t status = aLink_StatusOf(link);
    return status == linkStatusRunning || status == linkStatusPacketError;
}

static void sFreeEntry(aLinkEntry* entry);

/* Rule: operations hold a link, never take a use, so none (nor a filter on a pipe thread) tears one down. */
aLink* aLink_AcquireRecord(int id, aLinkEntry** hold)
{
    aLinkEntry* entry = aLinkRegistry_HoldByID(id);
    if (entry == NULL || entry->link == NULL || entry->link->check != aLINK_CHECK) {
        aLink_ReleaseRecord(entry);
        *hold = NULL;
        return NULL;
    }
    *hold = entry;
    return entry->link;
}

void aLink_ReleaseRecord(aLinkEntry* hold)
{
    if (hold != NULL && aLinkRegistry_Unhold(hold)) {
        sFreeEntry(hold);
    }
}

static uint64_t sMicros(void)
{
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return 0;
    }
    return (uint64_t)now.tv_sec * 1000000u + (uint64_t)now.tv_nsec / 1000u;
}

/* Wire bytes of a packet (address, length, data) into out; their count. */
static size_t sWire(const aPacket* packet, uint8_t* out)
{
    size_t size = packet->dataSize <= aPACKET_MAX_DATA ? packet->dataSize : aPACKET_MAX_DATA;
    out[0] = packet->address;
    out[1] = (uint8_t)size;
    for (size_t i = 0; i < size; i++) {
        out[2 + i] = packet->data[i];
    }
    return size + 2;
}

/* Records a packet in the link's log, if it has one. */
static void sRecord(aLink* link, uint8_t direction, const aPacket* packet)
{
    aPacketLog* log = aLink_LogOf(link);
    if (log == NULL) {
        return;
    }
    /* Published before the log, so it is there. */
    aMutex* mutex = aLink_LogMutexOf(link);
    if (mutex == NULL) {
        return;
    }
    uint8_t wire[aPACKET_MAX_SIZE];
    size_t size = sWire(packet, wire);
    aMutex_Lock(mutex);
    aPacketLog_Put(log, direction, (uint32_t)size, wire);
    aMutex_Unlock(mutex);
}

static void sTracePacket(const char* where, aLink* link, const aPacket* packet)
{
    aDEBUG_TRACE(aDEBUG_PACKETS, " %s(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", where, link->id,
                 packet->address, packet->dataSize, packet->data[0], packet->data[1], packet->data[2]);
}

static aErr sPutForceRoute(aLink* link, uint8_t value)
{
    aPacket* packet = aPacket_CreateWithData(aLINK_FORCE_ROUTE_ADDRESS, 1, &value);
    if (packet == NULL) {
        return aErrMemory;
    }
    aErr err = aPacketFifo_Put(aLink_OutFifoOf(link), packet);
    aPacket_Destroy(&packet);
    return err;
}

static int drainAll(const aPacket* packet, void* ref)
{
    (void)packet;
    (void)ref;
    return 1;
}

/* ---- In-pipe ---- */

static void sStartSync(aLink* link)
{
    aDEBUG_TRACE(aDEBUG_LINK, "syncStart\n");
    aPacket_Reset(link->inPacket);
    if (!sSetStatusUnlessStopped(link, linkStatusSyncing)) {
        link->syncState = kSyncStateNone;
        return;
    }
    link->syncState = kSyncStateStart;
    link->syncHeard = aTime_GetMSTicks();
    static const uint8_t none = 0;
    aPacket* request = aPacket_CreateWithData(aLINK_SYNC_ADDRESS, 0, &none);
    if (request == NULL) {
        /* Status stays syncing: the quiet interval starts it again. */
        return;
    }
    aErr err = aErrNone;
    aPacketFifoId out = aLink_OutFifoOf(link);
    for (int i = 0; i < aLINK_SYNC_REQUESTS; i++) {
        err = aPacketFifo_Put(out, request);
    }
    aPacket_Destroy(&request);
    if (err == aErrNone) {
        link->syncState = kSyncStateByte1;
    }
}

static void sSyncByte(aLink* link, uint8_t byte)
{
    aDEBUG_TRACE(aDEBUG_LINK, "sByte %d\n", byte);
    switch (link->syncState) {
    case kSyncStateStart:
        aDEBUG_TRACE(aDEBUG_LINK, "kSyncStateStart\n");
        sStartSync(link);
        break;
    case kSyncStateByte1:
        aDEBUG_TRACE(aDEBUG_LINK, "kSyncStateByte1\n");
        if (byte != 0 && (byte & 1u) == 0) {
            link->syncAddress = byte;
            link->syncState = kSyncStateByte2;
            aDEBUG_TRACE(aDEBUG_LINK, "sync2\n");
        } else {
            sStartSync(link);
        }
        break;
    case kSyncStateByte2:
        aDEBUG_TRACE(aDEBUG_LINK, "kSyncStateByte2\n");
        if (byte == 0) {
            link->syncState = kSyncStateByte3;
            aDEBUG_TRACE(aDEBUG_LINK, "sync3\n");
        } else {
            link->syncState = kSyncStateStart;
        }
        break;
    case kSyncStateByte3:
        aDEBUG_TRACE(aDEBUG_LINK, "kSyncStateByte3\n");
        if (byte == link->syncAddress) {
            link->syncState = kSyncStateByte4;
            aDEBUG_TRACE(aDEBUG_LINK, "sync4\n");
        } else {
            link->syncState = kSyncStateStart;
        }
        break;
    case kSyncStateByte4:
        aDEBUG_TRACE(aDEBUG_LINK, "kSyncStateByte4\n");
        if (byte == 0) {
            link->syncState = kSyncStateNone;
            if (sSetStatusUnlessStopped(link, linkStatusRunning)) {
                aDEBUG_TRACE(aDEBUG_LINK, "synced\n");
            }
        } else {
            link->syncState = kSyncStateStart;
        }
        break;
    default:
        aDEBUG_TRACE(aDEBUG_LINK, "sync default\n");
        sStartSync(link);
        break;
    }
}

/* Answers a heartbeat; aErrNotFound for any other packet. */
static aErr sHandleHBBackChannel(aLink* link)
{
    const aPacket* packet = link->inPacket;
    if (packet->dataSize != 2 || packet->data[0] != 0) {
        return aErrNotFound;
    }
    aDEBUG_TRACE(aDEBUG_PACKETS, " sHandleHBBackChannel() ==> received HB packet [data size = %d][%d,%d]\n",
                 packet->dataSize, packet->data[0], packet->data[1]);
    uint8_t data[2] = {0, (uint8_t)(packet->data[1] + 2u)};
    aPacket* answer = aPacket_CreateWithData(packet->address, 2, data);
    if (answer != NULL) {
        aDEBUG_TRACE(aDEBUG_PACKETS, " sHandleHBBackChannel() %s\n",
                     packet->data[1] == 0 ? "sending HB UP" : "sending HB DOWN");
        aPacketFifo_Put(aLink_OutFifoOf(link), answer);
        aPacket_Destroy(&answer);
    }
    return aErrNone;
}

/* Waits while the input queue is nearly full and its reader makes progress.
 * The queue only grows by the in-pipe's own puts, so its length is looked at
 * only when it could have reached the mark. */
static void sHoldBackWhileFull(aLink* link, aPacketFifoId in)
{
    if (link->inKnownLength + 1 < sBACKLOG_HIGH) {
        link->inKnownLength++;
        return;
    }
    uint32_t length = aPacketFifo_GetLength(in);
    if (length < sBACKLOG_HIGH) {
        link->inBacklogAbandoned = 0;
    } else if (!link->inBacklogAbandoned) {
        uint64_t progressAt = aTime_GetMSTicks();
        while (length >= sBACKLOG_HIGH && aLink_RunningOf(link) &&
               aTime_GetMSTicks() - progressAt < sBACKLOG_STALL_MS) {
            aTime_MSSleep(1);
            uint32_t now = aPacketFifo_GetLength(in);
            if (now < length) {
                progressAt = aTime_GetMSTicks();
            }
            length = now;
        }
        /* Nobody empties it: stop holding back until it is emptied. */
        link->inBacklogAbandoned = length >= sBACKLOG_HIGH;
    }
    link->inKnownLength = length + 1;
}

/* After every accepted byte: a complete packet goes to the log, the user
 * filter, the heartbeat answer or the input queue. */
static aErr sHandlePacket(aLink* link)
{
    aPacket* packet = link->inPacket;
    if (!aPacket_IsComplete(packet)) {
        return aErrNone;
    }
    sRecord(link, aPACKETLOG_RECEIVED, packet);
    uint8_t consumed = 0;
    aMutex_Lock(link->userFilterMutex);
    if (link->userFilter != NULL) {
        consumed = link->userFilter(packet, link->userFilterRef);
    }
    aMutex_Unlock(link->userFilterMutex);
    aErr err = aErrNone;
    if (consumed != 1 && sHandleHBBackChannel(link) == aErrNotFound) {
        sTracePacket("sHandlePacket", link, packet);
        aPacketFifoId in = aLink_InFifoOf(link);
        sHoldBackWhileFull(link, in);
        /* A loss reported earlier is over once this packet is delivered; the
         * status says so before anyone can take the packet. */
        sSwapStatus(link, linkStatusPacketError, linkStatusRunning);
        err = aPacketFifo_Put(in, packet);
    }
    aPacket_Reset(packet);
    return err;
}

static void sAssembleByte(aLink* link, uint8_t byte)
{
    if (aPacket_AddByte(link->inPacket, byte) != aErrNone) {
        aDEBUG_TRACE(aDEBUG_LINK, "Out of sync\n");
        sStartSync(link);
        return;
    }
    aErr err = sHandlePacket(link);
    if (err != aErrNone) {
        /* Reported, not fatal: the next packet is queued as usual. */
        if (err == aErrOverrun) {
            aDEBUG_TRACE(aDEBUG_LINK, "sHandlePacket(%d) input queue overflowed: queued packets lost\n", link->id);
        } else {
            aDEBUG_TRACE(aDEBUG_LINK, "sHandlePacket(%d) packet not queued: %d\n", link->id, err);
        }
        sSetStatusUnlessStopped(link, linkStatusPacketError);
    }
}

/* The stream had no byte. Keeps the thread from spinning on a stream that
 * answers at once, and restarts a handshake that was asked for or that has
 * heard nothing for a while. */
static void sNothingToRead(aLink* link, bool* quiet, uint64_t* lastEmptyUs)
{
    uint64_t now = sMicros();
    if (!*quiet) {
        *quiet = true;
        link->syncHeard = aTime_GetMSTicks();
    } else if (now - *lastEmptyUs < sIDLE_FAST_US) {
        aTime_MSSleep(sIDLE_SLEEP_MS);
        now = sMicros();
    }
    *lastEmptyUs = now;

    if (aLink_StatusOf(link) != linkStatusSyncing) {
        return;
    }
    if (link->syncState == kSyncStateNone) {
        sStartSync(link);
    } else if (aTime_GetMSTicks() - link->syncHeard >= sSYNC_QUIET_MS) {
        sStartSync(link);
    }
}

static void sPauseWhileRunning(aLink* link, uint32_t ms)
{
    for (uint32_t slept = 0; slept < ms && aLink_RunningOf(link); slept += sPOLL_MS) {
        aTime_MSSleep(sPOLL_MS);
    }
}

static void* sInPipeProcess(void* arg)
{
    aLink* link = (aLink*)arg;
    link->syncState = kSyncStateNone;
    link->syncHeard = aTime_GetMSTicks();
    sSwapStatus(link, linkStatusStarting, linkStatusRunning);
    sSetInStarted(link, 1);

    bool quiet = false;
    uint64_t lastEmptyUs = 0;
    while (aLink_RunningOf(link)) {
        char byte = 0;
        aErr err = aStream_Read(link->stream, &byte, 1);
        if (err == aErrNone) {
            quiet = false;
            if (aLink_StatusOf(link) == linkStatusSyncing) {
                sSyncByte(link, (uint8_t)byte);
            } else {
                sAssembleByte(link, (uint8_t)byte);
            }
        } else if (err == aErrNotReady) {
            sNothingToRead(link, &quiet, &lastEmptyUs);
        } else {
            quiet = false;
            link->syncState = kSyncStateNone;
            aPacket_Reset(link->inPacket);
            sSetStatusUnlessStopped(link, linkStatusIOError);
            sPauseWhileRunning(link, sREAD_ERROR_PAUSE_MS);
        }
    }
    return NULL;
}

/* ---- Out-pipe ---- */

/* A packet taken for writing is lost: said like a received one that was
 * lost, by a status the link still runs in. A handshake or a read error in
 * progress keeps its own. */
static void sReportWriteLoss(aLink* link)
{
    sSwapStatus(link, linkStatusRunning, linkStatusPacketError);
}

static void sWritePacket(aLink* link, const aPacket* packet)
{
    uint8_t wire[aPACKET_MAX_SIZE];
    size_t size = sWire(packet, wire);
    aErr err = aStream_Write(link->stream, (const char*)wire, size);
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_LINK, "sOutPipeProcess error writing: %d\n", err);
        sReportWriteLoss(link);
    }
}

static void sWritePooled(aLink* link, const aPacket* first, uint8_t* pool)
{
    size_t filled = sWire(first, pool);
    aPacketFifoId out = aLink_OutFifoOf(link);
    while (filled <= sPOOL_FILL) {
        aPacket* next = aPacketFifo_Get(out);
        if (next == NULL) {
            break;
        }
        filled += sWire(next, pool + filled);
        aPacket_Destroy(&next);
    }
    aErr err = aStream_Write(link->stream, (const char*)pool, filled);
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", err);
        sReportWriteLoss(link);
    }
}

static int sIsForceRouteOff(const aPacket* packet, void* ref)
{
    (void)ref;
    return packet->address == aLINK_FORCE_ROUTE_ADDRESS && packet->dataSize == 1 && packet->data[0] == 0;
}

/* What is left when the link stops: the force-route packet of the stop
 * first, then the rest in order, for a bounded time and count. */
static void sFinalFlush(aLink* link)
{
    aPacketFifoId out = aLink_OutFifoOf(link);
    uint64_t deadline = aTime_DeadlineAfter(sFLUSH_MS);
    while (!sStopQueued(link) && aTime_GetMSTicks() < deadline) {
        aTime_MSSleep(1);
    }
    aPacket* packet = aPacketFifo_GetFirst(out, sIsForceRouteOff, NULL);
    if (packet != NULL) {
        sWritePacket(link, packet);
        aPacket_Destroy(&packet);
    }
    for (int count = 0; count < aPACKETFIFO_MAX_PACKETS && aTime_GetMSTicks() < deadline; count++) {
        packet = aPacketFifo_Get(out);
        if (packet == NULL) {
            break;
        }
        sWritePacket(link, packet);
        aPacket_Destroy(&packet);
    }
    uint32_t left = aPacketFifo_DrainPackets(out, drainAll, NULL);
    if (left > 0) {
        aDEBUG_TRACE(aDEBUG_LINK, "sOutPipeProcess dropped %u packets at stop\n", left);
    }
}

static void* sOutPipeProcess(void* arg)
{
    aLink* link = (aLink*)arg;
    sSetOutStarted(link, 1);
    uint8_t pool[sPOOL_SIZE];
    while (aLink_RunningOf(link)) {
        uint64_t began = sMicros();
        aPacket* packet = aPacketFifo_Await(aLink_OutFifoOf(link), sOUT_WAIT_MS);
        if (packet == NULL) {
            /* A queue that is gone answers at once; do not spin on it. */
            if (sMicros() - began < 1000u * sPOLL_MS) {
                aTime_MSSleep(sPOLL_MS);
            }
            continue;
        }
        sTracePacket("sOutPipeProcess", link, packet);
        if (sPooled(link)) {
            sWritePooled(link, packet, pool);
        } else {
            sWritePacket(link, packet);
        }
        sRecord(link, aPACKETLOG_WRITTEN, packet);
        aPacket_Destroy(&packet);
    }
    sFinalFlush(link);
    return NULL;
}

/* ---- Operations ---- */

static int sInit(aLink* link, int id, aStream* stream)
{
    if (link->check == aLINK_CHECK) {
        return 0;
    }
    link->id = id;
    link->check = aLINK_CHECK;
    atomic_store(&link->running, 0);
    atomic_store(&link->status, stream != NULL ? linkStatusStopped : linkStatusNoStream);
    if (stream != NULL) {
        link->stream = stream;
    }
    link->inThread = NULL;
    link->outThread = NULL;
    atomic_store(&link->inFifo, aPacketFifo_Create());
    atomic_store(&link->outFifo, aPacketFifo_Create());
    link->inProc = sInPipeProcess;
    link->outProc = sOutPipeProcess;
    atomic_store(&link->inStarted, 0);
    atomic_store(&link->outStarted, 0);
    link->inPacket = aPacket_Create();
    atomic_store(&link->log, NULL);
    link->logSize = 0;
    atomic_store(&link->logMutex, NULL);
    atomic_store(&link->pooled, 0);
    link->userFilter = NULL;
    link->userFilterRef = NULL;
    char name[aMUTEX_MAX_NAME + 1];
    snprintf(name, sizeof(name), "aLink(%p)->userFilterSema", (void*)link);
    link->userFilterMutex = aMutex_Create(name);
    if (aLink_InFifoOf(link) == 0 || aLink_OutFifoOf(link) == 0 || link->inPacket == NULL ||
        link->userFilterMutex == NULL) {
        /* What was made is released with the record. */
        return 0;
    }
    return id;
}

int aLink_Init(int id, aStream* stream)
{
    aLinkEntry* hold = aLinkRegistry_HoldByID(id);
    int result = (hold != NULL && hold->link != NULL) ? sInit(hold->link, id, stream) : 0;
    aLink_ReleaseRecord(hold);
    return result;
}

static aErr sStart(aLink* link)
{
    if (link->stream == NULL || aLink_InFifoOf(link) == 0 || aLink_OutFifoOf(link) == 0 || link->inPacket == NULL ||
        link->userFilterMutex == NULL) {
        return aErrConnection;
    }
    if (!sClaimRunning(link)) {
        return aErrNone;
    }
    sSetStatus(link, linkStatusStarting);
    sSetStopQueued(link, 0);
    sSetInStarted(link, 0);
    sSetOutStarted(link, 0);

    link->inThread = aThread_Create(link->inProc, link);
    link->outThread = link->inThread != NULL ? aThread_Create(link->outProc, link) : NULL;
    if (link->inThread == NULL || link->outThread == NULL) {
        sSetRunning(link, 0);
        sSetStopQueued(link, 1);
        if (link->inThread != NULL) {
            aThread_Destroy(&link->inThread);
        }
        sSetInStarted(link, 0);
        sSetStatus(link, linkStatusStopped);
        return aErrResource;
    }

    /* A started in-pipe may already have moved on to syncing or an error. */
    uint64_t deadline = aTime_DeadlineAfter(sWAIT_MS);
    for (;;) {
        int32_t status = aLink_StatusOf(link);
        if (sInStarted(link) && sOutStarted(link) &&
            (status == linkStatusRunning || status == linkStatusSyncing || status == linkStatusIOError ||
             status == linkStatusPacketError)) {
            break;
        }
        if (aTime_GetMSTicks() >= deadline) {
            return aErrIndexRange;
        }
        aTime_MSSleep(sPOLL_MS);
    }
    return sPutForceRoute(link, 1);
}

aErr aLink_Start(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aErr err = link != NULL ? sStart(link) : aErrParam;
    aLink_ReleaseRecord(hold);
    return err;
}

aErr aLink_Stop(aLink* link)
{
    if (link == NULL) {
        return aErrParam;
    }
    int32_t status = aLink_StatusOf(link);
    if (status == linkStatusStopping || status == linkStatusStopped) {
        return aErrNone;
    }
    sSetStatus(link, linkStatusStopping);
    aErr result = aErrNone;
    if (link->inThread != NULL || link->outThread != NULL) {
        /* running goes to 0 first, so that the out-pipe, woken by the
         * force-route packet, does not go back to waiting; its final flush
         * waits until the packet is queued. */
        sSetRunning(link, 0);
        /* A writer held by a far end that stopped reading gives up. */
        aStream_Cancel(link->stream);
        result = sPutForceRoute(link, 0);
        sSetStopQueued(link, 1);
        if (link->inThread != NULL && aThread_Destroy(&link->inThread) != 0) {
            result = aErrUnknown;
        }
        if (link->outThread != NULL && aThread_Destroy(&link->outThread) != 0) {
            result = aErrUnknown;
        }
        link->inThread = NULL;
        link->outThread = NULL;
        sSetInStarted(link, 0);
        sSetOutStarted(link, 0);
        if (link->inPacket != NULL) {
            aPacket_Reset(link->inPacket);
        }
        sSetStatus(link, linkStatusStopped);
    }
    return result;
}

static aErr sSync(aLink* link)
{
    /* Without the in-pipe nobody could answer; do not leave a stopped link
     * marked as syncing. */
    if (!aLink_RunningOf(link) || !sSetStatusUnlessStopped(link, linkStatusSyncing)) {
        return aErrNotReady;
    }
    aErr result = aErrNotReady;
    uint64_t deadline = aTime_DeadlineAfter(sWAIT_MS);
    for (;;) {
        if (aLink_StatusOf(link) == linkStatusRunning) {
            result = aErrNone;
            break;
        }
        if (aTime_GetMSTicks() >= deadline) {
            break;
        }
        aTime_MSSleep(sPOLL_MS);
    }
    aPacketFifo_DrainPackets(aLink_OutFifoOf(link), drainAll, NULL);
    aTime_MSSleep(sSYNC_SETTLE_MS);
    aPacketFifo_DrainPackets(aLink_InFifoOf(link), drainAll, NULL);
    return result;
}

aErr aLink_Sync(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aErr err = link != NULL ? sSync(link) : aErrParam;
    aLink_ReleaseRecord(hold);
    return err;
}

aErr aLink_ForceRoute(int id, uint8_t value)
{
    aLinkEntry* hold = aLinkRegistry_HoldByID(id);
    if (hold == NULL) {
        return aErrNotFound;
    }
    aErr err = aErrParam;
    if (hold->link != NULL && hold->link->check == aLINK_CHECK) {
        err = sPutForceRoute(hold->link, value);
    }
    aLink_ReleaseRecord(hold);
    return err;
}

aErr aLink_PublishPacketLog(aLink* link, aPacketLog* log, aMutex* logMutex)
{
    if (link == NULL || log == NULL || logMutex == NULL) {
        return aErrParam;
    }
    aMutex* none = NULL;
    if (aLink_LogOf(link) != NULL ||
        !atomic_compare_exchange_strong_explicit(&link->logMutex, &none, logMutex, memory_order_acq_rel,
                                                 memory_order_acquire)) {
        return aErrBusy;
    }
    atomic_store_explicit(&link->log, log, memory_order_release);
    return aErrNone;
}

int32_t aLink_GetStatus(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    int32_t status = link != NULL ? aLink_StatusOf(link) : linkStatusNoStream;
    aLink_ReleaseRecord(hold);
    return status;
}

aErr aLink_PutPacket(int id, const aPacket* packet)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aErr err = link != NULL ? aPacketFifo_Put(aLink_OutFifoOf(link), packet) : aErrParam;
    aLink_ReleaseRecord(hold);
    return err;
}

aPacket* aLink_GetPacket(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aPacket* packet = link != NULL ? aPacketFifo_Get(aLink_InFifoOf(link)) : NULL;
    aLink_ReleaseRecord(hold);
    return packet;
}

/* The waits below are cancellation points: a cancelled caller still gives
 * its hold on the link back, or the link's memory would never be freed. */
static void sReleaseHold(void* hold)
{
    aLink_ReleaseRecord((aLinkEntry*)hold);
}

aPacket* aLink_AwaitPacket(int id, uint64_t ms)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aPacket* volatile packet = NULL;
    pthread_cleanup_push(sReleaseHold, hold);
    /* A teardown destroys the queue, which ends the wait. */
    packet = link != NULL ? aPacketFifo_Await(aLink_InFifoOf(link), ms) : NULL;
    pthread_cleanup_pop(1);
    return packet;
}

aPacket* aLink_GetFirst(int id, aPacketFifoProc predicate, void* ref)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aPacket* packet = NULL;
    if (link != NULL && predicate != NULL) {
        packet = aPacketFifo_GetFirst(aLink_InFifoOf(link), predicate, ref);
    }
    aLink_ReleaseRecord(hold);
    return packet;
}

static aPacket* sAwaitFirst(aLink* link, aPacketFifoProc predicate, void* ref, uint64_t ms)
{
    uint64_t deadline = aTime_DeadlineAfter(ms);
    aPacket* packet = NULL;
    /* Waits in slices so that a link that stops running is noticed. A link
     * that lost packets (status 8) still delivers the next ones. */
    while (packet == NULL && aLink_RunningOf(link) && sDelivers(link)) {
        uint64_t now = aTime_GetMSTicks();
        uint64_t left = deadline > now ? deadline - now : 0;
        packet = aPacketFifo_AwaitFirst(aLink_InFifoOf(link), predicate, ref,
                                        left < sAWAIT_SLICE_MS ? left : sAWAIT_SLICE_MS);
        if (left == 0) {
            break;
        }
    }
    return packet;
}

aPacket* aLink_AwaitFirst(int id, aPacketFifoProc predicate, void* ref, uint64_t ms)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aPacket* volatile packet = NULL;
    pthread_cleanup_push(sReleaseHold, hold);
    packet = (link != NULL && predicate != NULL) ? sAwaitFirst(link, predicate, ref, ms) : NULL;
    pthread_cleanup_pop(1);
    return packet;
}

uint32_t aLink_DrainPackets(int id, aPacketFifoProc predicate, void* ref)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    uint32_t drained = 0;
    if (link != NULL && predicate != NULL) {
        drained = aPacketFifo_DrainPackets(aLink_InFifoOf(link), predicate, ref);
    }
    aLink_ReleaseRecord(hold);
    return drained;
}

uint32_t aLink_GetOutputLength(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    uint32_t length = link != NULL ? aPacketFifo_GetLength(aLink_OutFifoOf(link)) : 0;
    aLink_ReleaseRecord(hold);
    return length;
}

static aErr sAwaitOutputRoom(aLink* link, uint32_t maxQueued, uint64_t ms)
{
    uint64_t deadline = aTime_DeadlineAfter(ms);
    aPacketFifoId out = aLink_OutFifoOf(link);
    aErr err = aPacketFifo_AwaitLengthAtMost(out, maxQueued, 0);
    if (err == aErrParam) {
        /* No queue (a reset is replacing it): nothing waits in it. */
        return aErrNone;
    }
    while (err == aErrTimeout) {
        if (!sWrites(link)) {
            return aErrConnection;
        }
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline) {
            return aErrTimeout;
        }
        uint64_t left = deadline - now;
        /* The queue's own signal ends the wait; the slice only bounds how
         * late a stop is noticed. */
        err = aPacketFifo_AwaitLengthAtMost(out, maxQueued, left < sAWAIT_SLICE_MS ? left : sAWAIT_SLICE_MS);
        if (err == aErrParam) {
            /* Destroyed under us: what waited in it was flushed or dropped. */
            return aErrConnection;
        }
        if (err == aErrNone && (!sWrites(link) || aLink_OutFifoOf(link) != out)) {
            /* Brought down by a stop's flush, or replaced by a reset: packets
             * may have been dropped. */
            return aErrConnection;
        }
    }
    return err;
}

aErr aLink_AwaitOutputRoom(int id, uint32_t maxQueued, uint64_t ms)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    volatile aErr err = aErrParam;
    pthread_cleanup_push(sReleaseHold, hold);
    err = link != NULL ? sAwaitOutputRoom(link, maxQueued, ms) : aErrParam;
    pthread_cleanup_pop(1);
    return err;
}

aErr aLink_InstallUserPacketFilter(int id, aLinkPacketFilterProc filter, void* ref)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    aErr err = aErrParam;
    if (link != NULL && link->userFilterMutex != NULL) {
        aMutex_Lock(link->userFilterMutex);
        /* Set under this mutex by the teardown: a torn-down link calls no filter. */
        if (!sClosed(link)) {
            link->userFilter = filter;
            link->userFilterRef = filter != NULL ? ref : NULL;
            err = aErrNone;
        }
        aMutex_Unlock(link->userFilterMutex);
    }
    aLink_ReleaseRecord(hold);
    return err;
}

aErr aLink_EnablePooledPackets(int id, uint8_t pooled)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    if (link == NULL) {
        return aErrParam;
    }
    sSetPooled(link, pooled != 0 ? 1 : 0);
    aLink_ReleaseRecord(hold);
    return aErrNone;
}

/* Takes both queues off a stopped link, then destroys them (their waiters
 * wake) and the stream. The result of destroying the output queue. */
static aErr sDropQueuesAndStream(aLink* link)
{
    aPacketFifoId in = aLink_InFifoOf(link);
    aPacketFifoId out = aLink_OutFifoOf(link);
    sSetFifos(link, 0, 0);
    aErr result = aErrNone;
    if (in != 0) {
        aPacketFifo_Destroy(&in);
    }
    if (out != 0) {
        result = aPacketFifo_Destroy(&out);
    }
    if (link->stream != NULL) {
        aStream_Destroy(&link->stream);
    }
    return result;
}

/* Brings an extracted entry's link down: no filter, no pipes, no server, no
 * queues (their waiters wake), no stream. The record may never have been
 * initialised. Holders may still look at the record, so its memory waits for
 * sFreeEntry. The result of destroying the output queue. */
static aErr sTeardown(aLinkEntry* entry)
{
    aLink* link = entry->link;
    aErr result = aErrNone;
    if (link != NULL) {
        if (link->userFilterMutex != NULL) {
            aMutex_Lock(link->userFilterMutex);
            sSetClosed(link);
            link->userFilter = NULL;
            link->userFilterRef = NULL;
            aMutex_Unlock(link->userFilterMutex);
        } else {
            sSetClosed(link);
        }
        /* A reset in progress restarts the pipes: let it end; none starts after. */
        while (!sClaimReset(link)) {
            aTime_MSSleep(sPOLL_MS);
        }
        aLink_Stop(link);
    }
    if (entry->server != NULL && entry->destroyServer != NULL) {
        entry->destroyServer(&entry->server);
    }
    if (entry->parentId != 0) {
        int parent = entry->parentId;
        entry->parentId = 0;
        aLink_Destroy(&parent);
    }
    if (link != NULL) {
        result = sDropQueuesAndStream(link);
        if (link->inPacket != NULL) {
            aPacket_Destroy(&link->inPacket);
        }
    }
    return result;
}

/* Frees a torn-down entry that nobody holds any more: nothing else looks at
 * it, so this never waits and may run on any thread. */
static void sFreeEntry(aLinkEntry* entry)
{
    aLink* link = entry->link;
    if (link != NULL) {
        aPacketLog* log = atomic_exchange(&link->log, NULL);
        aPacketLog_Destroy(&log);
        aMutex* logMutex = atomic_exchange(&link->logMutex, NULL);
        if (logMutex != NULL) {
            aMutex_Destroy(&logMutex);
        }
        if (link->userFilterMutex != NULL) {
            aMutex_Destroy(&link->userFilterMutex);
        }
        link->check = 0;
        free(link);
    }
    free(entry);
}

aErr aLink_Destroy(int* id)
{
    if (id == NULL) {
        return aErrParam;
    }
    aLinkEntry* entry = NULL;
    int useCount = 0;
    aLinkReleaseResult released = aLinkRegistry_Release(*id, &entry, &useCount);
    *id = 0;
    if (released == aLINK_RELEASE_NOT_FOUND) {
        return aErrParam;
    }
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_Destroy use_count: %d\n", useCount);
    if (released == aLINK_RELEASE_IN_USE) {
        return aErrNone;
    }
    aErr result = sTeardown(entry);
    if (aLinkRegistry_Retire(entry)) {
        sFreeEntry(entry);
    }
    return result;
}

/* Opens a new stream to the entry's module, by link type. */
static aErr sOpenStream(const aLinkEntry* entry, aStream** stream)
{
    switch (entry->type) {
    case aLINK_TYPE_USB:
        return aStream_CreateUSB(entry->identifier, stream);
    case aLINK_TYPE_TCPIP:
        return aStream_CreateSocket(entry->identifier, (uint16_t)(entry->key2 & 0xFFFFu), stream);
    case aLINK_TYPE_CLIENT:
        return aStream_CreateClient(entry->identifier, (uint16_t)(entry->key2 & 0xFFFFu), stream);
    default:
        return aErrParam;
    }
}

/* Gives a stopped record a new stream and new queues; the user filter, the
 * pooled flag, the packet log and the mutexes stay. */
static aErr sReinit(aLink* link, aStream* stream)
{
    link->stream = stream;
    aPacketFifoId in = aPacketFifo_Create();
    aPacketFifoId out = aPacketFifo_Create();
    if (link->inPacket == NULL) {
        link->inPacket = aPacket_Create();
    }
    if (in == 0 || out == 0 || link->inPacket == NULL) {
        if (in != 0) {
            aPacketFifo_Destroy(&in);
        }
        if (out != 0) {
            aPacketFifo_Destroy(&out);
        }
        aStream_Destroy(&link->stream);
        return aErrMemory;
    }
    sSetFifos(link, in, out);
    aPacket_Reset(link->inPacket);
    link->inThread = NULL;
    link->outThread = NULL;
    sSetInStarted(link, 0);
    sSetOutStarted(link, 0);
    link->syncState = kSyncStateNone;
    link->inKnownLength = 0;
    link->inBacklogAbandoned = 0;
    sSetStatus(link, linkStatusStopped);
    return aErrNone;
}

aErr aLink_ResetLink(aLinkEntry* entry)
{
    if (entry == NULL || entry->link == NULL || entry->link->check != aLINK_CHECK) {
        return aErrParam;
    }
    aLink* link = entry->link;
    if (!sClaimReset(link)) {
        return sClosed(link) ? aErrParam : aErrBusy;
    }
    if (sClosed(link)) {
        /* Being torn down, which waits for this flag. */
        sEndReset(link);
        return aErrParam;
    }

    aLink_Stop(link);
    sDropQueuesAndStream(link);

    aStream* stream = NULL;
    aErr err = aErrParam;
    for (int attempt = 0; attempt < sRESET_ATTEMPTS; attempt++) {
        err = sOpenStream(entry, &stream);
        if (err == aErrNone && stream != NULL) {
            break;
        }
        if (err == aErrNone) {
            err = aErrConnection;
        }
        stream = NULL;
        if (attempt + 1 < sRESET_ATTEMPTS) {
            aTime_MSSleep(sRESET_PAUSE_MS);
        }
    }
    if (stream == NULL) {
        aDEBUG_TRACE(aDEBUG_LINK, " ERROR - could not recreate stream: %d\n", err);
        sSetStatus(link, linkStatusNoStream);
    } else {
        err = sReinit(link, stream);
        if (err != aErrNone) {
            sSetStatus(link, linkStatusNoStream);
        } else {
            err = aLink_Start(link->id);
        }
    }
    sEndReset(link);
    return err;
}

aErr aLink_Reset(int id)
{
    aLinkEntry* hold = aLinkRegistry_HoldByID(id);
    aErr err = aLink_ResetLink(hold);
    aLink_ReleaseRecord(hold);
    return err;
}
