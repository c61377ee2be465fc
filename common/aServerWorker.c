/* The network server's sync worker: the only thread that speaks with the
 * link's queues. It takes one request at a time from the broker, drops what
 * the module sent unasked before it, puts the request's packets out and
 * collects the reply that answers it, and sends that back with the
 * request's tag. It waits for a reply longer than its client does
 * (aReplyWait.h), so that the client gives up first.
 *
 * A reply carries nothing that tells two requests of one key apart. When the
 * worker gives up on a reply, the reply may still come: for up to
 * aREPLY_LATE_SERVER_MS after it gave up, a later request of the same key
 * first waits for it and drops it, so it never answers the later one. */
#include <stdlib.h>
#include <string.h>

#include "aDebug.h"
#include "aLink.h"
#include "aPacketFifo.h"
#include "aReplyWait.h"
#include "aServerInternal.h"
#include "aTime.h"
#include "aUEI.h"

#define sPOLL_MS 1000
#define sBACKLOG_STALL_MS 2000u
#define sLATE_REPLIES 16u

typedef struct {
    uint8_t address;
    uint8_t dataSize;
    uint8_t data[3];
    bool entity;
} sExpected;

/* Replies the worker gave up on, by key, until when they may still come;
 * the worker thread's own. */
typedef struct {
    sExpected key[sLATE_REPLIES];
    uint64_t until[sLATE_REPLIES]; /* 0: a free slot */
} sLateReplies;

static int drainAll(const aPacket* packet, void* ref)
{
    (void)packet;
    (void)ref;
    return 1;
}

/* What answers a request: the address query is answered by a packet without
 * data from the module; anything else by a packet from the address it went
 * to with the same command (and, for an entity request, the same option code
 * and index). */
static void sExpect(const aPacket* request, sExpected* expected)
{
    memset(expected, 0, sizeof(*expected));
    expected->address = request->address;
    expected->dataSize = request->dataSize;
    memcpy(expected->data, request->data, sizeof(expected->data));
    expected->entity = request->dataSize >= 3 && aUEI_isUEIPayload(request);
}

static int sMatches(const aPacket* packet, void* ref)
{
    const sExpected* expected = (const sExpected*)ref;
    if (expected->address == aLINK_SYNC_ADDRESS || expected->dataSize == 0) {
        return packet->dataSize == 0 &&
               (expected->address == aLINK_SYNC_ADDRESS || packet->address == expected->address);
    }
    if (packet->address != expected->address || packet->dataSize == 0 || packet->data[0] != expected->data[0]) {
        return 0;
    }
    if (expected->entity) {
        return packet->dataSize >= 3 && (packet->data[1] & 0x3Fu) == (expected->data[1] & 0x3Fu) &&
               (packet->data[2] & 0x1Fu) == (expected->data[2] & 0x1Fu);
    }
    return 1;
}

/* Replies without data answer the address query, whatever address they carry. */
static bool sAnswersAddressQuery(const sExpected* key)
{
    return key->address == aLINK_SYNC_ADDRESS || key->dataSize == 0;
}

/* Some reply could match both keys. */
static bool sKeysOverlap(const sExpected* a, const sExpected* b)
{
    if (sAnswersAddressQuery(a) || sAnswersAddressQuery(b)) {
        return sAnswersAddressQuery(a) && sAnswersAddressQuery(b);
    }
    if (a->address != b->address || a->data[0] != b->data[0]) {
        return false;
    }
    return !a->entity || !b->entity ||
           (((a->data[1] ^ b->data[1]) & 0x3Fu) == 0 && ((a->data[2] ^ b->data[2]) & 0x1Fu) == 0);
}

/* Waits until the deadline for a matching packet, giving up early when the
 * server stops. */
static aPacket* sAwaitUntil(aServer* server, sExpected* expected, uint64_t deadline)
{
    for (;;) {
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline || _aServer_Stopping(server)) {
            return NULL;
        }
        uint64_t left = deadline - now;
        aPacketFifoId in = aLink_InFifoOf(server->link);
        if (in == 0) {
            aTime_MSSleep(aSERVER_WAIT_SLICE_MS);
            continue;
        }
        aPacket* packet = aPacketFifo_AwaitFirst(in, sMatches, expected,
                                                 left < aSERVER_WAIT_SLICE_MS ? left : aSERVER_WAIT_SLICE_MS);
        if (packet != NULL) {
            return packet;
        }
    }
}

/* The client waits clientMs for this packet of the reply. */
static aPacket* sAwaitReply(aServer* server, sExpected* expected, uint32_t clientMs)
{
    return sAwaitUntil(server, expected, aTime_DeadlineAfter((uint64_t)clientMs + aREPLY_SERVER_MARGIN_MS));
}

static bool sContinues(const aPacket* packet)
{
    return aUEI_isUEIPayload(packet) && aUEI_getBytesFullPacket(packet) && aUEI_getBytesContinue(packet);
}

/* Before a request goes out: every late reply it could be taken for is
 * waited for (until it may no longer come) and dropped. */
static void sWaitOutLateReplies(aServer* server, sLateReplies* late, const sExpected* expected)
{
    for (uint32_t i = 0; i < sLATE_REPLIES; i++) {
        if (late->until[i] == 0 || !sKeysOverlap(&late->key[i], expected)) {
            continue;
        }
        aPacket* packet = sAwaitUntil(server, &late->key[i], late->until[i]);
        while (packet != NULL) {
            bool more = sContinues(packet);
            aPacket_Destroy(&packet);
            aDEBUG_TRACE(aDEBUG_SERVER, "dropped a late reply\n");
            packet = more ? sAwaitUntil(server, &late->key[i], late->until[i]) : NULL;
        }
        late->until[i] = 0;
    }
}

/* The reply (or its rest) given up on just now may still come. */
static void sRememberLateReply(sLateReplies* late, const sExpected* key)
{
    uint64_t now = aTime_GetMSTicks();
    uint32_t slot = 0;
    for (uint32_t i = 0; i < sLATE_REPLIES; i++) {
        if (late->until[i] <= now) {
            slot = i;
            break;
        }
        if (late->until[i] < late->until[slot]) {
            slot = i;
        }
    }
    late->key[slot] = *key;
    late->until[slot] = aTime_DeadlineAfter(aREPLY_LATE_SERVER_MS);
}

/* Holds back while the link's output queue is nearly full, so a long burst
 * does not overflow it; false when it did not drain in time. */
static bool sRoomInOutput(aServer* server, aPacketFifoId out)
{
    uint32_t length = aPacketFifo_GetLength(out);
    uint64_t progressAt = aTime_GetMSTicks();
    while (length >= aSERVER_OUT_HIGH) {
        if (_aServer_Stopping(server) || aTime_GetMSTicks() - progressAt > sBACKLOG_STALL_MS) {
            return false;
        }
        aTime_MSSleep(1);
        uint32_t now = aPacketFifo_GetLength(out);
        if (now < length) {
            progressAt = aTime_GetMSTicks();
        }
        length = now;
    }
    return true;
}

static void sAnswer(aServer* server, uint8_t command, uint16_t count, zframe_t* tag, aPacket** replies)
{
    uint8_t cmd[aSERVER_CMD_SIZE] = {command, 0, 0};
    aUEI_StoreShort(cmd + 1, count);
    zmsg_t* message = zmsg_new();
    bool made = message != NULL && zmsg_addmem(message, cmd, sizeof(cmd)) == 0 &&
                zmsg_addmem(message, zframe_data(tag), zframe_size(tag)) == 0;
    for (uint16_t i = 0; made && i < count; i++) {
        uint8_t wire[aPACKET_MAX_SIZE];
        size_t size = _aServer_Wire(replies[i], wire);
        made = zmsg_addmem(message, wire, size) == 0;
    }
    if (!made) {
        aDEBUG_TRACE(aDEBUG_SERVER, "no memory for an answer\n");
        zmsg_destroy(&message);
        return;
    }
    /* Never waits (send time-out 0); the broker drains the pair quickly, so
     * a full one means something is badly wrong. */
    if (zmsg_send(&message, server->syncWorker) != 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, command == SERVER_CMD_DROPPED_PACKET ? "Failed to SEND SERVER_CMD_DROPPED_PACKET!\n"
                                                                          : "Failed to SEND SERVER_CMD_INCOMING_PACKETS\n");
        zmsg_destroy(&message);
    }
}

static void sDropped(aServer* server, zframe_t* tag, bool expectsReply)
{
    if (expectsReply) {
        sAnswer(server, SERVER_CMD_DROPPED_PACKET, 0, tag, NULL);
    }
}

static void _serverWorker_syncCommands_syncBackend(aServer* server, zmsg_t* message, sLateReplies* late)
{
    zframe_t* tag = zmsg_first(message);
    if (tag == NULL || zframe_size(tag) != aSERVER_TAG_SIZE) {
        aDEBUG_TRACE(aDEBUG_SERVER, "bad-packet\n");
        return;
    }
    bool expectsReply = aUEI_RetrieveInt(zframe_data(tag)) != 0;
    size_t count = zmsg_size(message) - 1;
    if (count == 0) {
        sDropped(server, tag, expectsReply);
        return;
    }
    aPacket** packets = (aPacket**)calloc(count, sizeof(*packets));
    if (packets == NULL) {
        sDropped(server, tag, expectsReply);
        return;
    }
    size_t made = 0;
    for (zframe_t* frame = zmsg_next(message); frame != NULL; frame = zmsg_next(message)) {
        packets[made] = _zFrame_To_aPacket(zframe_data(frame), zframe_size(frame));
        if (packets[made] == NULL) {
            aDEBUG_TRACE(aDEBUG_SERVER, "bad-packet\n");
            break;
        }
        made++;
    }

    if (made == count) {
        sExpected expected;
        sExpect(packets[count - 1], &expected);
        if (expectsReply) {
            sWaitOutLateReplies(server, late, &expected);
        }
        /* Whatever the module said unasked, or too late, answers nothing. */
        aPacketFifoId in = aLink_InFifoOf(server->link);
        uint32_t stale = aPacketFifo_DrainPackets(in, drainAll, NULL);
        if (stale > 0) {
            aDEBUG_TRACE(aDEBUG_SERVER, "dropped %u stale packets\n", stale);
        }
        aErr err = aErrNone;
        for (size_t i = 0; i < count && err == aErrNone; i++) {
            aPacketFifoId out = aLink_OutFifoOf(server->link);
            err = sRoomInOutput(server, out) ? aPacketFifo_Put(out, packets[i]) : aErrOverrun;
            if (err != aErrNone) {
                _printMVPacket(packets[i]);
                aDEBUG_TRACE(aDEBUG_SERVER, "Failed to PUT packet: err: %d\n", err);
            }
        }
        if (err != aErrNone) {
            sDropped(server, tag, expectsReply);
        } else if (!expectsReply) {
            aDEBUG_TRACE(aDEBUG_SERVER, "don't wait on this packet\n");
        } else {
            aPacket* replies[aSERVER_POOL_MAX_PACKETS];
            uint16_t got = 0;
            uint32_t clientMs = aReply_WaitForRequest((const aPacket* const*)packets, count);
            aPacket* reply = sAwaitReply(server, &expected, clientMs);
            while (reply != NULL) {
                replies[got++] = reply;
                if (!sContinues(reply) || got == aSERVER_POOL_MAX_PACKETS) {
                    break;
                }
                reply = sAwaitReply(server, &expected, aREPLY_WAIT_MS);
            }
            /* Given up on, the reply (or its rest) may still come. */
            if (got > 0 && got < aSERVER_POOL_MAX_PACKETS && sContinues(replies[got - 1])) {
                sRememberLateReply(late, &expected);
            }
            if (got == 0) {
                sRememberLateReply(late, &expected);
                _printMVPacket(packets[count - 1]);
                aDEBUG_TRACE(aDEBUG_SERVER, "Failed to AWAIT packet\n");
                sDropped(server, tag, true);
            } else {
                sAnswer(server, SERVER_CMD_INCOMING_PACKETS, got, tag, replies);
            }
            for (uint16_t i = 0; i < got; i++) {
                aPacket_Destroy(&replies[i]);
            }
        }
    } else {
        sDropped(server, tag, expectsReply);
    }
    for (size_t i = 0; i < made; i++) {
        aPacket_Destroy(&packets[i]);
    }
    free(packets);
}

void _serverWorker_syncCommands(zsock_t* pipe, void* args)
{
    aServer* server = (aServer*)args;
    zsock_signal(pipe, 0);
    aDEBUG_TRACE(aDEBUG_SERVER, "sync task start\n");
    zsock_set_sndtimeo(server->syncWorker, 0);
    zpoller_t* poller = zpoller_new(pipe, server->syncWorker, NULL);
    zsock_signal(pipe, poller != NULL ? 0 : 1);
    if (poller == NULL) {
        return;
    }
    zpoller_set_nonstop(poller, true);
    sLateReplies late;
    memset(&late, 0, sizeof(late));
    while (!_aServer_Stopping(server)) {
        void* which = zpoller_wait(poller, sPOLL_MS);
        if (which == pipe || (which == NULL && _aServer_PollerTerminated(poller))) {
            break;
        }
        if (which == server->syncWorker && !_aServer_Stopping(server)) {
            zmsg_t* message = zmsg_recv(server->syncWorker);
            if (message != NULL) {
                _serverWorker_syncCommands_syncBackend(server, message, &late);
                zmsg_destroy(&message);
            }
        }
    }
    zpoller_destroy(&poller);
    aDEBUG_TRACE(aDEBUG_SERVER, "sync task exit\n");
}
