/* The network server's broker: the only thread that touches the frontend,
 * the pending list, the subscribers and the pools. A request that expects a
 * reply goes to the sync worker with a tag of its own, and the worker's
 * answer carries that tag back, so a reply can only ever reach the client
 * whose request it answers. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "aDebug.h"
#include "aLink.h"
#include "aServerInternal.h"
#include "aTime.h"
#include "aUEI.h"

#define sPOLL_MS 1000
#define sSTREAM_COMMAND 93u
#define sSTREAM_ENABLE 0x81u
#define sSTREAM_DISABLE 0x82u
#define sSTREAM_REQUEST_SIZE 7u
#define sWILDCARD 0xFFu

typedef struct sPending {
    uint32_t tag;
    zframe_t* identity;
    struct sPending* next;
} sPending;

typedef struct sSubscriber {
    zframe_t* identity;
    uint8_t keys[aSERVER_MAX_STREAM_KEYS][4];
    uint32_t keyCount;
    struct sSubscriber* next;
} sSubscriber;

typedef struct sPool {
    zframe_t* identity;
    uint8_t entity[3]; /* command, option, specifier of the transfer */
    aPacket** packets;
    uint32_t count;
    uint32_t capacity;
    uint8_t lastSequence;
    uint8_t broken; /* out of sequence or too large: swallowed until it ends */
    uint64_t touched;
    struct sPool* next;
} sPool;

typedef struct aServerBrokerState {
    aServer* server;
    sPending* pendingHead;
    sPending* pendingTail;
    uint32_t pendingCount;
    sSubscriber* subscribers;
    uint32_t subscriberCount;
    sPool* pools;
    uint32_t nextTag;
    uint16_t expectedReplies;
} sBroker;

static bool sSameIdentity(zframe_t* a, zframe_t* b)
{
    return zframe_size(a) == zframe_size(b) && memcmp(zframe_data(a), zframe_data(b), zframe_size(a)) == 0;
}

/* Sends [identity][frame] to a client without waiting. False when the
 * client is gone (the frontend knows no such identity). */
static bool sSendToClient(aServer* server, zframe_t* identity, zframe_t* frame, const char* failure)
{
    if (zframe_send(&identity, server->frontend, ZFRAME_REUSE | ZFRAME_MORE | ZFRAME_DONTWAIT) != 0) {
        int error = errno;
        aDEBUG_TRACE(aDEBUG_SERVER, "%s\n", failure);
        return error != EHOSTUNREACH;
    }
    /* The rest of a message whose first frame went out always follows. */
    if (zframe_send(&frame, server->frontend, ZFRAME_REUSE | ZFRAME_DONTWAIT) != 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, "%s\n", failure);
    }
    return true;
}

/* ---- Pending list ---- */

static void sPendingFree(sPending* entry)
{
    zframe_destroy(&entry->identity);
    free(entry);
}

static bool sPendingAdd(sBroker* broker, uint32_t tag, zframe_t* identity)
{
    sPending* entry = (sPending*)calloc(1, sizeof(*entry));
    if (entry == NULL) {
        return false;
    }
    entry->tag = tag;
    entry->identity = zframe_dup(identity);
    if (entry->identity == NULL) {
        free(entry);
        return false;
    }
    if (broker->pendingTail != NULL) {
        broker->pendingTail->next = entry;
    } else {
        broker->pendingHead = entry;
    }
    broker->pendingTail = entry;
    broker->pendingCount++;
    return true;
}

/* Unlinks the entry of the tag; NULL when none (flushed, or never sent). */
static sPending* sPendingTake(sBroker* broker, uint32_t tag)
{
    sPending* previous = NULL;
    for (sPending* entry = broker->pendingHead; entry != NULL; previous = entry, entry = entry->next) {
        if (entry->tag != tag) {
            continue;
        }
        if (previous != NULL) {
            previous->next = entry->next;
        } else {
            broker->pendingHead = entry->next;
        }
        if (broker->pendingTail == entry) {
            broker->pendingTail = previous;
        }
        broker->pendingCount--;
        entry->next = NULL;
        return entry;
    }
    return NULL;
}

static void sPendingClear(sBroker* broker)
{
    while (broker->pendingHead != NULL) {
        sPending* entry = broker->pendingHead;
        broker->pendingHead = entry->next;
        sPendingFree(entry);
    }
    broker->pendingTail = NULL;
    broker->pendingCount = 0;
}

static uint32_t sNextTag(sBroker* broker)
{
    broker->nextTag++;
    if (broker->nextTag == 0) {
        broker->nextTag = 1;
    }
    return broker->nextTag;
}

/* Sends [tag][frames...] to the sync worker without waiting; the identity
 * is queued only once the request went out. */
static bool sForward(sBroker* broker, zframe_t* identity, bool expectsReply, zframe_t** frames, uint32_t count)
{
    aServer* server = broker->server;
    if (expectsReply && broker->pendingCount >= aSERVER_MAX_PENDING) {
        aDEBUG_TRACE(aDEBUG_SERVER, "too many requests waiting, dropping one\n");
        return false;
    }
    uint32_t tag = expectsReply ? sNextTag(broker) : 0;
    uint8_t tagBytes[aSERVER_TAG_SIZE];
    aUEI_StoreInt(tagBytes, tag);
    zframe_t* tagFrame = zframe_new(tagBytes, sizeof(tagBytes));
    if (tagFrame == NULL) {
        return false;
    }
    if (zframe_send(&tagFrame, server->syncBroker, ZFRAME_MORE | ZFRAME_DONTWAIT) != 0) {
        zframe_destroy(&tagFrame);
        return false;
    }
    for (uint32_t i = 0; i < count; i++) {
        zframe_t* frame = frames[i];
        int flags = ZFRAME_REUSE | ZFRAME_DONTWAIT | (i + 1 < count ? ZFRAME_MORE : 0);
        zframe_send(&frame, server->syncBroker, flags);
    }
    if (expectsReply && !sPendingAdd(broker, tag, identity)) {
        aDEBUG_TRACE(aDEBUG_SERVER, "no memory for a waiting client\n");
    }
    return true;
}

/* ---- Subscribers ---- */

static sSubscriber* sFindSubscriber(sBroker* broker, zframe_t* identity, sSubscriber** previous)
{
    sSubscriber* before = NULL;
    for (sSubscriber* s = broker->subscribers; s != NULL; before = s, s = s->next) {
        if (sSameIdentity(s->identity, identity)) {
            if (previous != NULL) {
                *previous = before;
            }
            return s;
        }
    }
    return NULL;
}

static void sRemoveSubscriber(sBroker* broker, sSubscriber* subscriber, sSubscriber* previous)
{
    if (previous != NULL) {
        previous->next = subscriber->next;
    } else {
        broker->subscribers = subscriber->next;
    }
    zframe_destroy(&subscriber->identity);
    free(subscriber);
    broker->subscriberCount--;
}

static bool sKeyMatches(const uint8_t* key, const uint8_t* pattern)
{
    for (int i = 0; i < 4; i++) {
        if (pattern[i] != sWILDCARD && pattern[i] != key[i]) {
            return false;
        }
    }
    return true;
}

/* Enabling a key subscribes the client; once it has disabled every key it
 * enabled it gets no more samples. */
static void _handleStreamEnable(sBroker* broker, zframe_t* identity, const aPacket* packet)
{
    if (packet->dataSize != sSTREAM_REQUEST_SIZE || packet->data[0] != sSTREAM_COMMAND) {
        return;
    }
    const uint8_t* key = packet->data + 3;
    sSubscriber* previous = NULL;
    sSubscriber* subscriber = sFindSubscriber(broker, identity, &previous);
    if (packet->data[1] == sSTREAM_ENABLE) {
        aDEBUG_TRACE(aDEBUG_SERVER, "ZeroMQ - Streaming Enable - Size: %zu\n", zframe_size(identity));
        if (subscriber == NULL) {
            if (broker->subscriberCount >= aSERVER_MAX_SUBSCRIBERS) {
                aDEBUG_TRACE(aDEBUG_SERVER, "too many stream subscribers\n");
                return;
            }
            subscriber = (sSubscriber*)calloc(1, sizeof(*subscriber));
            if (subscriber == NULL || (subscriber->identity = zframe_dup(identity)) == NULL) {
                free(subscriber);
                return;
            }
            subscriber->next = broker->subscribers;
            broker->subscribers = subscriber;
            broker->subscriberCount++;
            aDEBUG_TRACE(aDEBUG_SERVER, "Added stream entry\n");
        }
        for (uint32_t i = 0; i < subscriber->keyCount; i++) {
            if (memcmp(subscriber->keys[i], key, 4) == 0) {
                return;
            }
        }
        if (subscriber->keyCount < aSERVER_MAX_STREAM_KEYS) {
            memcpy(subscriber->keys[subscriber->keyCount++], key, 4);
        }
    } else if (packet->data[1] == sSTREAM_DISABLE) {
        if (subscriber == NULL) {
            return;
        }
        uint32_t kept = 0;
        for (uint32_t i = 0; i < subscriber->keyCount; i++) {
            if (!sKeyMatches(subscriber->keys[i], key)) {
                memmove(subscriber->keys[kept++], subscriber->keys[i], 4);
            }
        }
        subscriber->keyCount = kept;
        if (kept == 0) {
            sRemoveSubscriber(broker, subscriber, previous);
            aDEBUG_TRACE(aDEBUG_SERVER, "Removed stream entry\n");
        }
    } else {
        aDEBUG_TRACE(aDEBUG_SERVER, "unknown stream enable: %d\n", packet->data[1]);
    }
}

static void sFanOut(sBroker* broker)
{
    aServer* server = broker->server;
    zframe_t* frame = zframe_recv(server->streamBroker);
    if (frame == NULL) {
        return;
    }
    if (zframe_size(frame) == 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, "your content has no content!\n");
    } else {
        sSubscriber* previous = NULL;
        sSubscriber* s = broker->subscribers;
        while (s != NULL) {
            sSubscriber* next = s->next;
            if (!sSendToClient(server, s->identity, frame, "failed to send id")) {
                /* Gone for good: nobody else will ever ask for its samples. */
                sRemoveSubscriber(broker, s, previous);
            } else {
                previous = s;
            }
            s = next;
        }
    }
    zframe_destroy(&frame);
}

/* ---- Pools ---- */

static void sPoolRelease(sPool* pool)
{
    for (uint32_t i = 0; i < pool->count; i++) {
        aPacket_Destroy(&pool->packets[i]);
    }
    free(pool->packets);
    pool->packets = NULL;
    pool->count = 0;
    pool->capacity = 0;
}

static void sPoolDestroy(sBroker* broker, sPool* pool)
{
    sPool** link = &broker->pools;
    while (*link != NULL && *link != pool) {
        link = &(*link)->next;
    }
    if (*link == pool) {
        *link = pool->next;
    }
    sPoolRelease(pool);
    zframe_destroy(&pool->identity);
    free(pool);
}

static bool sPoolAppend(sPool* pool, const aPacket* packet)
{
    if (pool->count >= aSERVER_POOL_MAX_PACKETS) {
        return false;
    }
    if (pool->count == pool->capacity) {
        uint32_t capacity = pool->capacity == 0 ? 64u : pool->capacity * 2u;
        aPacket** grown = (aPacket**)realloc(pool->packets, capacity * sizeof(*grown));
        if (grown == NULL) {
            return false;
        }
        pool->packets = grown;
        pool->capacity = capacity;
    }
    aPacket* copy = aPacket_Copy(packet);
    if (copy == NULL) {
        return false;
    }
    pool->packets[pool->count++] = copy;
    return true;
}

static sPool* sPoolCreate(sBroker* broker, zframe_t* identity, const aPacket* packet)
{
    sPool* pool = (sPool*)calloc(1, sizeof(*pool));
    if (pool == NULL) {
        return NULL;
    }
    pool->identity = zframe_dup(identity);
    if (pool->identity == NULL || !sPoolAppend(pool, packet)) {
        sPoolRelease(pool);
        zframe_destroy(&pool->identity);
        free(pool);
        return NULL;
    }
    memcpy(pool->entity, packet->data, sizeof(pool->entity));
    pool->lastSequence = 0;
    pool->touched = aTime_GetMSTicks();
    pool->next = broker->pools;
    broker->pools = pool;
    return pool;
}

/* A transfer nobody continued for a while will never complete. */
static void sAgePools(sBroker* broker)
{
    uint64_t now = aTime_GetMSTicks();
    sPool* pool = broker->pools;
    while (pool != NULL) {
        sPool* next = pool->next;
        if (now - pool->touched > aSERVER_POOL_TTL_MS) {
            aDEBUG_TRACE(aDEBUG_SERVER, "setUEIBytes is stale, destroying\n");
            sPoolDestroy(broker, pool);
        }
        pool = next;
    }
}

static void sSendPool(sBroker* broker, sPool* pool)
{
    zframe_t** frames = (zframe_t**)calloc(pool->count, sizeof(*frames));
    bool made = frames != NULL;
    for (uint32_t i = 0; made && i < pool->count; i++) {
        uint8_t wire[aPACKET_MAX_SIZE];
        size_t size = _aServer_Wire(pool->packets[i], wire);
        frames[i] = zframe_new(wire, size);
        made = frames[i] != NULL;
        aDEBUG_TRACE(aDEBUG_SERVER, "Pool Packet: %d\n", (int)i);
    }
    if (!made || !sForward(broker, pool->identity, true, frames, pool->count)) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Failed to send setUEIBytes!\n");
    }
    for (uint32_t i = 0; frames != NULL && i < pool->count; i++) {
        zframe_destroy(&frames[i]);
    }
    free(frames);
}

/* True when the pooling took the packet. */
static bool _handleSetUEIBytes(sBroker* broker, zframe_t* identity, const aPacket* packet)
{
    if (!aUEI_isUEIPayload(packet) || packet->dataSize < 3) {
        return false;
    }
    sAgePools(broker);
    bool full = aUEI_getBytesFullPacket(packet);
    bool more = aUEI_getBytesContinue(packet);
    uint8_t sequence = aUEI_getBytesSequence(packet);
    bool start = packet->dataSize == aPACKET_MAX_DATA && full && more && sequence == 0;

    sPool* pool = NULL;
    for (sPool* p = broker->pools; p != NULL; p = p->next) {
        if (sSameIdentity(p->identity, identity)) {
            pool = p;
            break;
        }
    }
    if (pool != NULL) {
        bool same = memcmp(pool->entity, packet->data, sizeof(pool->entity)) == 0;
        if (same && !pool->broken && sequence == ((pool->lastSequence + 1u) & 0x7Fu)) {
            pool->touched = aTime_GetMSTicks();
            if (!sPoolAppend(pool, packet)) {
                aDEBUG_TRACE(aDEBUG_SERVER, "byte transfer too large, dropping it\n");
                pool->broken = 1;
                sPoolRelease(pool);
                if (!more) {
                    sPoolDestroy(broker, pool);
                }
                return true;
            }
            if (full && more) {
                pool->lastSequence = sequence;
                return true;
            }
            sSendPool(broker, pool);
            sPoolDestroy(broker, pool);
            return true;
        }
        if (start) {
            /* The client began anew; what it sent before is dropped. */
            sPoolDestroy(broker, pool);
            pool = NULL;
        } else if (same) {
            if (!pool->broken) {
                aDEBUG_TRACE(aDEBUG_SERVER, "BOOM: Sequence mix up. ttl will clean it up. \n");
            }
            pool->broken = 1;
            pool->touched = aTime_GetMSTicks();
            sPoolRelease(pool);
            if (!more) {
                sPoolDestroy(broker, pool);
            }
            return true;
        } else {
            /* Not part of the open transfer: it goes its own way. */
            return false;
        }
    }
    if (start) {
        if (sPoolCreate(broker, identity, packet) == NULL) {
            aDEBUG_TRACE(aDEBUG_SERVER, "no memory for a byte transfer, dropping it\n");
        }
        return true;
    }
    return false;
}

/* ---- Request path ---- */

/* One message of a client: [identity][content][anything further]. */
static void sHandleRequest(sBroker* broker, zmsg_t* message)
{
    zframe_t* identity = zmsg_first(message);
    zframe_t* content = zmsg_next(message);
    if (identity == NULL || content == NULL) {
        return;
    }
    aPacket* packet = _zFrame_To_aPacket(zframe_data(content), zframe_size(content));
    if (packet == NULL) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Bad content packet: dSize: %d\n", (int)zframe_size(content));
        return;
    }
    _handleStreamEnable(broker, identity, packet);
    if (_handleSetUEIBytes(broker, identity, packet)) {
        aDEBUG_TRACE(aDEBUG_SERVER, "UEIBytes\n");
    } else if (packet->address == aLINK_FORCE_ROUTE_ADDRESS && packet->dataSize == 1) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Blocking cmdFORCEROUTE from remote client\n");
    } else if (!sForward(broker, identity, _aServer_ExpectsReply(packet), &content, 1)) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Failed to send packet out!\n");
    }
    aPacket_Destroy(&packet);
}

static void _serverWorker_broker_frontend(sBroker* broker)
{
    zmsg_t* message = zmsg_recv(broker->server->frontend);
    if (message != NULL) {
        sHandleRequest(broker, message);
        zmsg_destroy(&message);
    }
}

/* ---- Reply path ---- */

/* One answer of the sync worker: [command][tag][reply packets...]. */
static void sHandleAnswer(sBroker* broker, zmsg_t* message)
{
    aServer* server = broker->server;
    zframe_t* command = zmsg_first(message);
    zframe_t* tagFrame = zmsg_next(message);
    if (command == NULL || tagFrame == NULL || zframe_size(command) != aSERVER_CMD_SIZE ||
        zframe_size(tagFrame) != aSERVER_TAG_SIZE) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Unknown Server cmd\n");
        return;
    }
    const uint8_t* cmd = zframe_data(command);
    sPending* pending = sPendingTake(broker, aUEI_RetrieveInt(zframe_data(tagFrame)));
    if (pending == NULL) {
        aDEBUG_TRACE(aDEBUG_SERVER, "no id to pop\n");
        return;
    }
    if (cmd[0] == SERVER_CMD_DROPPED_PACKET) {
        aDEBUG_TRACE(aDEBUG_SERVER, "DROPPED PACKET!\n");
        aDEBUG_TRACE(aDEBUG_SERVER, "dropping id: fifo size: %d\n", (int)broker->pendingCount);
    } else if (cmd[0] == SERVER_CMD_INCOMING_PACKETS) {
        uint16_t count = aUEI_RetrieveShort(cmd + 1);
        broker->expectedReplies = count;
        aDEBUG_TRACE(aDEBUG_SERVER, "Num packets coming: %d\n", count);
        bool reachable = true;
        for (zframe_t* reply = zmsg_next(message); reply != NULL && reachable; reply = zmsg_next(message)) {
            aDEBUG_TRACE(aDEBUG_SERVER, "Processing PACKET\n");
            if (broker->expectedReplies == 0) {
                aDEBUG_TRACE(aDEBUG_SERVER, "Error, sending more packets then expected\n");
                break;
            }
            reachable = sSendToClient(server, pending->identity, reply, "failed to send sync message");
            broker->expectedReplies--;
        }
    } else {
        aDEBUG_TRACE(aDEBUG_SERVER, "Unknown Server cmd: %d\n", cmd[0]);
    }
    sPendingFree(pending);
}

static void _serverWorker_broker_sync(sBroker* broker)
{
    zmsg_t* message = zmsg_recv(broker->server->syncBroker);
    if (message != NULL) {
        sHandleAnswer(broker, message);
        zmsg_destroy(&message);
    }
}

/* ---- The actor ---- */

static void sBrokerClear(sBroker* broker)
{
    sPendingClear(broker);
    while (broker->subscribers != NULL) {
        sRemoveSubscriber(broker, broker->subscribers, NULL);
    }
    while (broker->pools != NULL) {
        sPoolDestroy(broker, broker->pools);
    }
}

static bool sIsFlushSignal(zmsg_t* message)
{
    zframe_t* frame = zmsg_first(message);
    return zmsg_size(message) == 1 && frame != NULL && zframe_size(frame) == 8 &&
           zframe_data(frame)[0] == aSERVER_FLUSH_SIGNAL;
}

void _serverWorker_broker(zsock_t* pipe, void* args)
{
    aServer* server = (aServer*)args;
    zsock_signal(pipe, 0);
    aDEBUG_TRACE(aDEBUG_SERVER, "broker create\n");
    sBroker broker;
    memset(&broker, 0, sizeof(broker));
    broker.server = server;
    zpoller_t* poller = zpoller_new(pipe, server->syncBroker, server->frontend, server->streamBroker, NULL);
    if (poller != NULL && server->discoveryMode == aSERVER_MODE_BEACON && server->beacon != NULL &&
        zpoller_add(poller, server->beacon) != 0) {
        zpoller_destroy(&poller);
    }
    if (poller != NULL) {
        zpoller_set_nonstop(poller, true);
    }
    server->publishing = 0;
    server->publishStart = 0;
    zsock_signal(pipe, poller != NULL ? 0 : 1);
    if (poller == NULL) {
        return;
    }

    while (!_aServer_Stopping(server)) {
        void* which = zpoller_wait(poller, sPOLL_MS);
        if (which == server->streamBroker) {
            sFanOut(&broker);
        } else if (which == server->syncBroker) {
            _serverWorker_broker_sync(&broker);
        } else if (which == server->frontend) {
            _serverWorker_broker_frontend(&broker);
        } else if (server->beacon != NULL && which == (void*)server->beacon) {
            _serverWorker_broker_beacon(server);
        } else if (which == pipe) {
            zmsg_t* message = zmsg_recv(pipe);
            bool flush = message != NULL && sIsFlushSignal(message);
            zmsg_destroy(&message);
            if (!flush) {
                aDEBUG_TRACE(aDEBUG_SERVER, "pre exit 1\n");
                break;
            }
            aDEBUG_TRACE(aDEBUG_SERVER, "Flushing FIFO\n");
            sPendingClear(&broker);
        } else if (which == NULL && _aServer_PollerTerminated(poller)) {
            aDEBUG_TRACE(aDEBUG_SERVER, "pre exit 2\n");
            break;
        }
        _serverWorker_beaconSilence(server);
        sAgePools(&broker);
    }

    sBrokerClear(&broker);
    zpoller_destroy(&poller);
    aDEBUG_TRACE(aDEBUG_SERVER, "broker task exit\n");
}

/* ---- Test entry points ---- */

aServerBrokerState* _aServerBroker_New(aServer* server)
{
    sBroker* broker = (sBroker*)calloc(1, sizeof(*broker));
    if (broker != NULL) {
        broker->server = server;
    }
    return broker;
}

void _aServerBroker_Request(aServerBrokerState* broker, zmsg_t* message)
{
    sHandleRequest(broker, message);
}

void _aServerBroker_Answer(aServerBrokerState* broker, zmsg_t* message)
{
    sHandleAnswer(broker, message);
}

uint32_t _aServerBroker_Pending(const aServerBrokerState* broker)
{
    return broker->pendingCount;
}

void _aServerBroker_Free(aServerBrokerState** broker)
{
    if (broker != NULL && *broker != NULL) {
        sBrokerClear(*broker);
        free(*broker);
        *broker = NULL;
    }
}
