/* The network server's record and the pieces its threads share; not for
 * callers. */
#ifndef MORV_ASERVERINTERNAL_H
#define MORV_ASERVERINTERNAL_H

#include <czmq.h>
#include <errno.h>
#include <stdbool.h>
#include <stdint.h>

#include "aLinkRegistry.h"
#include "aLinkSpec.h"
#include "aPacket.h"
#include "aServer.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aSERVER_CHECK 0x5E4Eu

#define aSERVER_STREAM_BUFFER 4096u
/* The stream buffer goes out once it holds more than this, so one more
 * packet (at most aPACKET_MAX_SIZE bytes) always fits. */
#define aSERVER_STREAM_FLUSH 4065u

/* Server commands, the first frame of every answer of the sync worker. */
#define SERVER_CMD_DROPPED_PACKET 0u
#define SERVER_CMD_INCOMING_PACKETS 1u
#define aSERVER_CMD_SIZE 3u
#define aSERVER_TAG_SIZE 4u

/* A CZMQ signal with this status through the broker's pipe empties the
 * pending list. */
#define aSERVER_FLUSH_SIGNAL 5

/* The sync worker looks at the stop flag at least this often while it waits. */
#define aSERVER_WAIT_SLICE_MS 100u
/* The worker holds back while the link's output queue is this full. */
#define aSERVER_OUT_HIGH 800u

#define aSERVER_POOL_TTL_MS 2000u
/* A byte transfer larger than this is not pooled (a u16 block size needs
 * 2731 packets). */
#define aSERVER_POOL_MAX_PACKETS 4096u
#define aSERVER_MAX_PENDING 4096u
#define aSERVER_MAX_SUBSCRIBERS 256u
#define aSERVER_MAX_STREAM_KEYS 64u
#define aSERVER_FRONTEND_HWM 20000
/* The most the frontend takes in one frame: a packet is at most 30 bytes,
 * but ZeroMQ's own handshake command passes the same check (296 bytes from
 * a peer that gives its socket type and an identity of 255 bytes). A longer
 * frame ends the client's connection before anything of it is kept. */
#define aSERVER_FRONTEND_MAX_FRAME 512
#define aSERVER_PAIR_HWM 20000

#define aSERVER_BEACON_PUBLISH_MS 2000u
#define aSERVER_BEACON_INTERVAL_MS 100

#define aSERVER_MODE_MULTICAST 0u
#define aSERVER_MODE_BEACON 1u

/* Fields marked "atomic" are read by several threads: use __atomic loads and
 * stores. The rest is set before the actors start or belongs to one thread. */
struct aServer {
    uint16_t check;
    int linkId;
    aLinkEntry* entry;   /* stays allocated until the server is destroyed */
    aLink* link;         /* its record; the FIFO ids are read anew each time */
    uint32_t identifier; /* advertised serial number */

    uint8_t model;         /* atomic */
    uint8_t moduleAddress; /* atomic */
    uint8_t localOnly;
    uint32_t interfaceAddress; /* network order */
    uint32_t hostAddress;      /* atomic; network order, 0 while unknown */
    uint16_t port;             /* atomic */

    /* Beacon state, broker only. */
    uint64_t publishStart;
    uint8_t publishing;

    zactor_t* broker;
    zactor_t* sync;
    zactor_t* discovery; /* multicast responder */
    zactor_t* beacon;
    uint8_t discoveryMode;
    int32_t multicastSlot; /* atomic; -1 while the responder holds none */

    zsock_t* frontend;
    zsock_t* syncWorker;
    zsock_t* syncBroker;
    zsock_t* streamFilter;
    zsock_t* streamBroker;
    uint8_t syncConnected;
    uint8_t streamConnected;
    uint8_t filterInstalled;

    /* The link's reader thread only. */
    uint8_t streamBuffer[aSERVER_STREAM_BUFFER];
    uint16_t streamFill;

    uint8_t stopping; /* atomic; the actors end, the worker gives up its waits */
    uint64_t stopDeadline;
    /* atomic; the caller and each running actor: the last one to let go
     * releases the record (aZeroMQ_LetGo). */
    int holders;
};

/* The work of aServer_Create for the entry its caller found (the entry stays
 * allocated until the server is destroyed); NULL for a NULL entry, one
 * without a record, or when memory runs out. */
aServer* _aServer_CreateForEntry(aLinkEntry* entry, uint32_t interfaceAddress, uint8_t localOnly);

/* Starts one of the server's actors, which holds the record until it ends;
 * NULL when it cannot be started. The actor's poller does not stop at CZMQ's
 * interrupt flag (zpoller_set_nonstop), and the actor ends once the server
 * is stopping. */
zactor_t* _aServer_StartActor(aServer* server, zactor_fn* task);
/* Gives up the caller's own hold of the record; true when it was the last,
 * false while an actor still holds it (that actor releases it as it ends). */
bool _aServer_LetGo(aServer* server);

static inline bool _aServer_Stopping(const aServer* server)
{
    return __atomic_load_n(&server->stopping, __ATOMIC_SEQ_CST) != 0;
}

/* A poller whose wait a signal cut short reports termination; only a real
 * failure (the process's ZeroMQ context ending) ends an actor's loop. */
static inline bool _aServer_PollerTerminated(zpoller_t* poller)
{
    return zpoller_terminated(poller) && errno != EINTR;
}

/* The packet of a frame of exactly its wire length (2 + dataSize bytes, at
 * most 28 data bytes) from an address a host may send to (even and non-zero,
 * or a link command); NULL for anything else. */
aPacket* _zFrame_To_aPacket(const uint8_t* data, size_t size);
/* Wire bytes of a packet into out (aPACKET_MAX_SIZE bytes); their count. */
size_t _aServer_Wire(const aPacket* packet, uint8_t* out);
/* Link commands and continuing byte-buffer packets get no reply. */
bool _aServer_ExpectsReply(const aPacket* packet);
void _printMVPacket(const aPacket* packet);

void _serverWorker_broker(zsock_t* pipe, void* args);
void _serverWorker_syncCommands(zsock_t* pipe, void* args);

/* The broker's handling of messages, driven directly by tests: the same
 * steps as its actor takes for a client's message ([identity][content]) and
 * for an answer of the sync worker ([command][tag][replies]). The message
 * stays the caller's. */
typedef struct aServerBrokerState aServerBrokerState;
aServerBrokerState* _aServerBroker_New(aServer* server);
void _aServerBroker_Request(aServerBrokerState* broker, zmsg_t* message);
void _aServerBroker_Answer(aServerBrokerState* broker, zmsg_t* message);
uint32_t _aServerBroker_Pending(const aServerBrokerState* broker);
void _aServerBroker_Free(aServerBrokerState** broker);

/* Discovery responders. */
aErr _configureInterface(aServer* server);
bool _isDiscoveryConfigured(const aServer* server);
void _createNetworkSpec(const aServer* server, linkSpec* spec);
void _serverWorker_broker_beacon(aServer* server);
void _serverWorker_beaconSilence(aServer* server);
void _serverWorker_multicastDiscovery(zsock_t* pipe, void* args);
/* A datagram that ends the multicast responder's wait for a request at once,
 * so that it sees the server stopping. */
void _wakeMulticastDiscovery(aServer* server);

#ifdef __cplusplus
}
#endif

#endif
