/* Network client stream: the link's reader and writer threads each have a
 * socket of their own, and a broker thread relays between them and the one
 * socket connected to the server. */
#include "aStreamClient.h"

#include <arpa/inet.h>
#include <czmq.h>
#include <errno.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "aDebug.h"
#include "aDiscoveryInterfaces.h"
#include "aPacket.h"
#include "aStreamClientRelay.h"
#include "aTime.h"
#include "aZeroMQ.h"

#define sCLIENT_CHECK 0xC11Eu
#define sPOLL_MS 1000
#define sSEND_ATTEMPTS 100
/* The most the server socket takes in one frame: one reply packet, or a
 * batch of stream samples of fewer than 4096 bytes (ZeroMQ's handshake
 * commands are far shorter). A longer frame ends the connection before
 * anything of it is kept, and ZeroMQ does not connect again to a peer that
 * broke the protocol: requests go unanswered until the link is reset. */
#define sSERVER_MAX_FRAME 4096
#define sENDPOINT_SIZE 96

typedef struct {
    uint16_t check;
    zsock_t* server;
    zsock_t* monitor; /* the server socket's connection events */
    zsock_t* outgoingWriter;
    zsock_t* outgoingBroker;
    zsock_t* incomingReader;
    zsock_t* incomingBroker;
    zactor_t* broker;
    zpoller_t* poller;
    zframe_t* frame;
    size_t position;
    size_t length;
    uint8_t stopping; /* atomic; the broker ends */
    int holders;      /* atomic; the stream and a running broker (aZeroMQ_LetGo) */
} sClientRef;

static bool _aVALIDStream(const sClientRef* ref)
{
    return ref != NULL && ref->check == sCLIENT_CHECK && ref->server != NULL;
}

/* ---- Interrupts ---- */

/* CZMQ's handler only raises a flag; the process's own handlers (or the
 * default one, which ends it) are to see the interrupt. The flag is taken so
 * that only one broker passes it on and the relays keep working. */
static void sPassInterruptOn(void)
{
    if (!zsys_interrupted) {
        return;
    }
    /* CZMQ's own flag is a plain volatile int, out of reach of C11 atomics. */
    if (__atomic_exchange_n((int*)&zsys_interrupted, 0, __ATOMIC_SEQ_CST) == 0) {
        return;
    }
    zsys_handler_set(NULL);
    int sent = kill(getpid(), SIGINT);
    aDEBUG_TRACE(aDEBUG_CLIENT, "Ctrl+C signal for pid: %d Success: %d\n", (int)getpid(), sent);
    zsys_handler_reset();
}

/* ---- Broker ---- */

static void _broker_task(zsock_t* pipe, void* args)
{
    sClientRef* ref = (sClientRef*)args;
    zsock_signal(pipe, 0);
    aClientRelay relay;
    aClientRelay_Init(&relay, ref->server, ref->monitor, ref->outgoingBroker, ref->incomingBroker);
    zsock_signal(pipe, 0);
    while (!__atomic_load_n(&ref->stopping, __ATOMIC_SEQ_CST)) {
        aClientRelayTurn turn = aClientRelay_Turn(&relay, pipe, sPOLL_MS);
        /* The interrupt flag is looked at here, after every wake-up. */
        sPassInterruptOn();
        if (turn != aCLIENT_RELAY_GOES_ON) {
            break;
        }
    }
    aClientRelay_Finish(&relay);
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client task exit\n");
}

/* ---- Stream procedures ---- */

static aErr _sZeroMQStreamGet(char* byte, void* reference)
{
    sClientRef* ref = (sClientRef*)reference;
    if (!_aVALIDStream(ref) || byte == NULL) {
        return aErrParam;
    }
    if (ref->frame == NULL) {
        errno = 0;
        void* which = zpoller_wait(ref->poller, sPOLL_MS);
        if (which == NULL) {
            /* A wait cut short by a signal is only a wait without a byte. */
            return zpoller_expired(ref->poller) || errno == EINTR ? aErrNotReady : aErrUnknown;
        }
        if (which != ref->incomingReader) {
            return aErrUnknown;
        }
        ref->frame = zframe_recv(ref->incomingReader);
        if (ref->frame == NULL) {
            return aErrIO;
        }
        ref->position = 0;
        ref->length = zframe_size(ref->frame);
        if (ref->length == 0) {
            /* Nothing to hand out; the next frame may have something. */
            zframe_destroy(&ref->frame);
            return aErrNotReady;
        }
    }
    *byte = (char)zframe_data(ref->frame)[ref->position++];
    if (ref->position >= ref->length) {
        zframe_destroy(&ref->frame);
        ref->position = 0;
        ref->length = 0;
    }
    return aErrNone;
}

static aErr _sZeroMQStreamPut(const char* byte, void* reference)
{
    (void)byte;
    (void)reference;
    return aErrUnimplemented;
}

/* The server takes one packet per frame, so a pooled write of several
 * packets goes out as one frame each. */
static aErr _sZeroMQStreamWrite(const char* data, size_t length, void* reference)
{
    sClientRef* ref = (sClientRef*)reference;
    if (!_aVALIDStream(ref) || data == NULL) {
        return aErrParam;
    }
    const uint8_t* bytes = (const uint8_t*)data;
    for (size_t at = 0; at < length;) {
        if (length - at < 2 || bytes[at + 1] > aPACKET_MAX_DATA || length - at < 2u + bytes[at + 1]) {
            return aErrParam;
        }
        at += 2u + bytes[at + 1];
    }
    for (size_t at = 0; at < length;) {
        size_t size = 2u + bytes[at + 1];
        zframe_t* frame = zframe_new(bytes + at, size);
        if (frame == NULL) {
            return aErrMemory;
        }
        bool sent = aClientRelay_SendRetrying(frame, ref->outgoingWriter, sSEND_ATTEMPTS,
                                              "--Client send error outgoing->frontend: %d\n");
        zframe_destroy(&frame);
        if (!sent) {
            return aErrIO;
        }
        at += size;
    }
    return aErrNone;
}

/* The last of the stream and its broker to let go of the reference. */
static void sRelease(void* shared)
{
    sClientRef* ref = (sClientRef*)shared;
    zpoller_destroy(&ref->poller);
    aClientRelay_Unwatch(ref->server, &ref->monitor);
    zsock_destroy(&ref->server);
    zsock_destroy(&ref->incomingReader);
    zsock_destroy(&ref->outgoingWriter);
    zsock_destroy(&ref->incomingBroker);
    zsock_destroy(&ref->outgoingBroker);
    zframe_destroy(&ref->frame);
    ref->check = 0;
    free(ref);
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client delete: end\n");
}

static aErr _sZeroMQStreamDelete(void* reference)
{
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client delete: start\n");
    sClientRef* ref = (sClientRef*)reference;
    if (ref == NULL || ref->check != sCLIENT_CHECK) {
        return aErrIO;
    }
    __atomic_store_n(&ref->stopping, 1, __ATOMIC_SEQ_CST);
    aZeroMQ_StopActor(&ref->broker, aTime_DeadlineAfter(aSTREAM_CLIENT_STOP_MS));
    return aZeroMQ_LetGo(&ref->holders, sRelease, ref) ? aErrNone : aErrTimeout;
}

/* ---- Creation ---- */

/* Internal pairs are inproc endpoints: nothing outside this process can
 * reach them. Names are never reused, as a closed one is free again only
 * some time later. */
static void sEndpoint(char* endpoint, size_t size, const char* what)
{
    static atomic_uint counter;
    snprintf(endpoint, size, "inproc://morvasset-client-%d-%u-%s", (int)getpid(), atomic_fetch_add(&counter, 1u) + 1u,
             what);
}

static aErr sPair(zsock_t** bound, zsock_t** connected, const char* what)
{
    *bound = zsock_new(ZMQ_DEALER);
    *connected = zsock_new(ZMQ_DEALER);
    if (*bound == NULL || *connected == NULL) {
        return aErrMemory;
    }
    for (zsock_t* s = *bound; s != NULL; s = s == *bound ? *connected : NULL) {
        zsock_set_sndhwm(s, aCLIENT_RELAY_HWM);
        zsock_set_rcvhwm(s, aCLIENT_RELAY_HWM);
    }
    char endpoint[sENDPOINT_SIZE];
    sEndpoint(endpoint, sizeof(endpoint), what);
    if (zsock_bind(*bound, "%s", endpoint) != 0) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "client: %s bind fail\n", what);
        return aErrConnection;
    }
    aDEBUG_TRACE(aDEBUG_CLIENT, "%s connected to %s\n", what, endpoint);
    if (zsock_connect(*connected, "%s", endpoint) != 0) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "client: %s connecting fail\n", what);
        return aErrConnection;
    }
    return aErrNone;
}

static aErr sBuild(sClientRef* ref, uint32_t address, uint16_t port)
{
    aErr err = sPair(&ref->outgoingWriter, &ref->outgoingBroker, "outgoing");
    if (err == aErrNone) {
        err = sPair(&ref->incomingReader, &ref->incomingBroker, "incoming");
    }
    if (err != aErrNone) {
        return err;
    }
    ref->server = zsock_new(ZMQ_DEALER);
    if (ref->server == NULL) {
        return aErrMemory;
    }
    /* A request to a server that is not there fails now; none waits to be
     * delivered later, and none is kept at close. The relay hears of the
     * connection coming and going, so it knows which failure that is. */
    zsock_set_immediate(ref->server, 1);
    zsock_set_linger(ref->server, 0);
    zsock_set_sndhwm(ref->server, aCLIENT_RELAY_HWM);
    zsock_set_rcvhwm(ref->server, aCLIENT_RELAY_HWM);
    zsock_set_maxmsgsize(ref->server, sSERVER_MAX_FRAME);
    char monitor[sENDPOINT_SIZE];
    sEndpoint(monitor, sizeof(monitor), "monitor");
    err = aClientRelay_Watch(ref->server, monitor, &ref->monitor);
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "client: no connection events from %s\n", monitor);
        return err;
    }
    char text[INET_ADDRSTRLEN + 1];
    if (aDiscovery_ConvertIPv4Interface(address, text, sizeof(text)) == 0) {
        return aErrConnection;
    }
    aDEBUG_TRACE(aDEBUG_CLIENT, "aStream_CreateClient address: %s\n", text);
    int rc = zsock_connect(ref->server, "tcp://%s:%d", text, (int)port);
    if (rc != 0) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "Error connecting to socket: %d(rc)\n", rc);
        return aErrConnection;
    }
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client connected to port: %d - rc: %d\n", (int)port, rc);
    ref->poller = zpoller_new(ref->incomingReader, NULL);
    if (ref->poller == NULL) {
        return aErrMemory;
    }
    zpoller_set_nonstop(ref->poller, true);
    ref->broker = aZeroMQ_StartActor(_broker_task, ref, &ref->holders, sRelease);
    if (ref->broker == NULL) {
        return aErrResource;
    }
    if (zsock_wait(ref->broker) != 0) {
        return aErrResource;
    }
    return aErrNone;
}

aErr aStream_CreateClient(uint32_t address, uint16_t port, aStream** out)
{
    if (out == NULL) {
        return aErrParam;
    }
    *out = NULL;
    sClientRef* ref = (sClientRef*)calloc(1, sizeof(*ref));
    if (ref == NULL) {
        return aErrMemory;
    }
    ref->check = sCLIENT_CHECK;
    ref->holders = 1;
    aZeroMQ_Start();
    aErr err = sBuild(ref, address, port);
    aStream* stream = NULL;
    if (err == aErrNone) {
        stream = aStream_Create(_sZeroMQStreamGet, _sZeroMQStreamPut, _sZeroMQStreamWrite, _sZeroMQStreamDelete, ref);
        if (stream == NULL) {
            err = aErrResource;
        }
    }
    if (err != aErrNone) {
        _sZeroMQStreamDelete(ref);
        return err;
    }
    *out = stream;
    return aErrNone;
}
