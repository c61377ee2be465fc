/* The client stream's relay. CZMQ's poller waits for input only, and the
 * relay also waits for the server socket to take a request, so it polls
 * with libzmq itself; the connection events come from libzmq's socket
 * monitor, which needs no thread of its own. */
#include "aStreamClientRelay.h"

#include <errno.h>
#include <stdbool.h>
#include <string.h>

#include "aDebug.h"
#include "aTime.h"

/* Frames relayed each way in one turn: a burst goes through without a poll
 * per frame, and neither way waits long for the other. */
#define sBATCH 256
/* A new stream's connection is made some time after its creation: a request
 * written before anything was heard of it waits for it this long. Short
 * enough that a request to a server that is not there is still dropped, not
 * delivered when one appears. */
#define sFIRST_CONNECTION_MS 20u
#define sREPLY_ATTEMPTS 100
#define sEVENTS                                                                                                        \
    (ZMQ_EVENT_CONNECTED | ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_DISCONNECTED |                                    \
     ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL | ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH)

bool aClientRelay_SendRetrying(zframe_t* frame, zsock_t* socket, int attempts, const char* failure)
{
    for (int attempt = 0; attempt < attempts; attempt++) {
        zframe_t* f = frame;
        if (zframe_send(&f, socket, ZFRAME_REUSE | ZFRAME_DONTWAIT) == 0) {
            return true;
        }
        aDEBUG_TRACE(aDEBUG_CLIENT, failure, errno);
        aTime_MSSleep(1);
    }
    return false;
}

aErr aClientRelay_Watch(zsock_t* server, const char* endpoint, zsock_t** monitor)
{
    *monitor = NULL;
    if (zmq_socket_monitor(zsock_resolve(server), endpoint, sEVENTS) != 0) {
        return aErrResource;
    }
    *monitor = zsock_new(ZMQ_PAIR);
    if (*monitor == NULL) {
        return aErrResource;
    }
    zsock_set_linger(*monitor, 0);
    zsock_set_rcvtimeo(*monitor, 0);
    return zsock_connect(*monitor, "%s", endpoint) == 0 ? aErrNone : aErrResource;
}

void aClientRelay_Unwatch(zsock_t* server, zsock_t** monitor)
{
    if (server != NULL) {
        (void)zmq_socket_monitor(zsock_resolve(server), NULL, 0);
    }
    zsock_destroy(monitor);
}

void aClientRelay_Init(aClientRelay* relay, zsock_t* server, zsock_t* monitor, zsock_t* requests, zsock_t* replies)
{
    memset(relay, 0, sizeof(*relay));
    relay->server = server;
    relay->monitor = monitor;
    relay->requests = requests;
    relay->replies = replies;
    relay->state = aCLIENT_RELAY_UNHEARD;
    /* The relay takes what is there and never waits in a receive. */
    zsock_set_rcvtimeo(server, 0);
    zsock_set_rcvtimeo(requests, 0);
}

/* ---- Connection ---- */

/* The server went away: what was held or queued for it goes too, so that
 * none of it reaches a server that comes later. */
static void sDropQueued(aClientRelay* relay)
{
    unsigned dropped = relay->held != NULL ? 1u : 0u;
    zframe_destroy(&relay->held);
    for (unsigned count = 0; count < 2u * aCLIENT_RELAY_HWM + sBATCH; count++) {
        zframe_t* frame = zframe_recv(relay->requests);
        if (frame == NULL) {
            break;
        }
        zframe_destroy(&frame);
        dropped++;
    }
    if (dropped > 0) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "Client dropped %u requests: the server went away\n", dropped);
    }
}

static void sTakeEvent(aClientRelay* relay, uint16_t event)
{
    if (event == ZMQ_EVENT_CONNECTED || event == ZMQ_EVENT_HANDSHAKE_SUCCEEDED) {
        relay->state = aCLIENT_RELAY_CONNECTED;
        return;
    }
    if (relay->state == aCLIENT_RELAY_CONNECTED) {
        aDEBUG_TRACE(aDEBUG_CLIENT, "Client lost the server connection\n");
        sDropQueued(relay);
    }
    relay->state = aCLIENT_RELAY_NONE;
}

/* Takes in the connection events that have come. */
static void sHearMonitor(aClientRelay* relay)
{
    for (int count = 0; count < sBATCH; count++) {
        zmsg_t* event = zmsg_recv(relay->monitor);
        if (event == NULL) {
            return;
        }
        zframe_t* head = zmsg_first(event);
        uint16_t code = 0;
        if (head != NULL && zframe_size(head) >= sizeof(code)) {
            memcpy(&code, zframe_data(head), sizeof(code));
            sTakeEvent(relay, code);
        }
        zmsg_destroy(&event);
    }
}

/* ---- Requests ---- */

/* Sends without waiting; the frame stays the caller's unless it went. */
static bool sSendNow(zframe_t** frame, zsock_t* socket)
{
    if (zframe_send(frame, socket, ZFRAME_REUSE | ZFRAME_DONTWAIT) != 0) {
        return false;
    }
    zframe_destroy(frame);
    return true;
}

static void sDropForNoServer(zframe_t** frame)
{
    zframe_destroy(frame);
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client dropped a request: no server connected\n");
}

/* A request the server socket would not take: it waits while a connection
 * exists or may still come, and is dropped otherwise. */
static void sHold(aClientRelay* relay, zframe_t* frame)
{
    aDEBUG_TRACE(aDEBUG_CLIENT, "Client send error Frontend->client: %d\n", errno);
    sHearMonitor(relay);
    if (relay->state == aCLIENT_RELAY_NONE) {
        sDropForNoServer(&frame);
        return;
    }
    relay->held = frame;
    relay->heldUntil = aTime_DeadlineAfter(sFIRST_CONNECTION_MS);
}

static void sPassHeld(aClientRelay* relay)
{
    if (sSendNow(&relay->held, relay->server) || relay->state == aCLIENT_RELAY_CONNECTED) {
        return;
    }
    if (relay->state == aCLIENT_RELAY_NONE || aTime_GetMSTicks() >= relay->heldUntil) {
        sDropForNoServer(&relay->held);
        relay->state = aCLIENT_RELAY_NONE;
    }
}

static void sRelayRequests(aClientRelay* relay)
{
    for (int count = 0; count < sBATCH && relay->held == NULL; count++) {
        zframe_t* frame = zframe_recv(relay->requests);
        if (frame == NULL) {
            return;
        }
        if (!sSendNow(&frame, relay->server)) {
            sHold(relay, frame);
        }
    }
}

/* ---- Replies ---- */

/* A reply the reader's side cannot take within its attempts is dropped, and
 * the turn ends there: the next one looks at the pipe again. */
static void sRelayReplies(aClientRelay* relay)
{
    bool relayed = true;
    for (int count = 0; count < sBATCH && relayed; count++) {
        zframe_t* frame = zframe_recv(relay->server);
        if (frame == NULL) {
            return;
        }
        relayed = aClientRelay_SendRetrying(frame, relay->replies, sREPLY_ATTEMPTS,
                                            "Client send error Frontend->incomming: %d\n");
        zframe_destroy(&frame);
    }
}

/* ---- Turns ---- */

/* A held request waits for the server socket without a time limit only
 * while a connection exists. */
static long sWaitMs(const aClientRelay* relay, int maxMs)
{
    if (relay->held == NULL || relay->state == aCLIENT_RELAY_CONNECTED) {
        return maxMs;
    }
    uint64_t now = aTime_GetMSTicks();
    uint64_t left = now < relay->heldUntil ? relay->heldUntil - now : 0;
    return left < (uint64_t)maxMs ? (long)left : maxMs;
}

aClientRelayTurn aClientRelay_Turn(aClientRelay* relay, zsock_t* pipe, int maxMs)
{
    enum { sPIPE, sMONITOR, sSERVER, sREQUESTS };
    zmq_pollitem_t items[] = {
        {zsock_resolve(pipe), 0, ZMQ_POLLIN, 0},
        {zsock_resolve(relay->monitor), 0, ZMQ_POLLIN, 0},
        {zsock_resolve(relay->server), 0, (short)(ZMQ_POLLIN | (relay->held != NULL ? ZMQ_POLLOUT : 0)), 0},
        {zsock_resolve(relay->requests), 0, ZMQ_POLLIN, 0},
    };
    /* While a request is held, the writer's are left where they are. */
    bool takesRequests = relay->held == NULL;
    if (zmq_poll(items, takesRequests ? 4 : 3, sWaitMs(relay, maxMs)) < 0) {
        return errno == ETERM ? aCLIENT_RELAY_ENDED : aCLIENT_RELAY_GOES_ON;
    }
    if ((items[sPIPE].revents & ZMQ_POLLIN) != 0) {
        return aCLIENT_RELAY_PIPE;
    }
    if ((items[sMONITOR].revents & ZMQ_POLLIN) != 0) {
        sHearMonitor(relay);
    }
    if ((items[sSERVER].revents & ZMQ_POLLIN) != 0) {
        sRelayReplies(relay);
    }
    if (relay->held != NULL) {
        sPassHeld(relay);
        takesRequests = relay->held == NULL;
    } else {
        takesRequests = (items[sREQUESTS].revents & ZMQ_POLLIN) != 0;
    }
    if (takesRequests) {
        sRelayRequests(relay);
    }
    return aCLIENT_RELAY_GOES_ON;
}

void aClientRelay_Finish(aClientRelay* relay)
{
    zframe_destroy(&relay->held);
}
