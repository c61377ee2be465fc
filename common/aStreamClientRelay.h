/* The client stream's relay between the link's two sockets and the one socket
 * connected to the server. A request the server socket cannot take yet waits
 * while a connection to the server exists, and the relay takes no further
 * requests meanwhile: the writer's own socket fills and its bounded sends
 * fail, so a slow server costs reported failures, never a silent loss. While
 * no connection exists a request is dropped, with a debug line: none is kept
 * for a server that comes later. Internal to the library; one thread runs a
 * relay. */
#ifndef MORV_ASTREAMCLIENTRELAY_H
#define MORV_ASTREAMCLIENTRELAY_H

#include <czmq.h>
#include <stdbool.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Frames each socket of the stream queues at most, in each direction. */
#define aCLIENT_RELAY_HWM 20000

typedef enum {
    aCLIENT_RELAY_UNHEARD = 0, /* nothing heard yet: the first connection is being made */
    aCLIENT_RELAY_CONNECTED,   /* a connection exists (its handshake may still run) */
    aCLIENT_RELAY_NONE         /* none: it went away, or a request found none */
} aClientRelayServer;

typedef struct {
    zsock_t* server;   /* DEALER connected to the server's frontend */
    zsock_t* monitor;  /* PAIR hearing the server socket's connection events */
    zsock_t* requests; /* the writer's frames arrive here */
    zsock_t* replies;  /* the reader's frames leave here */
    aClientRelayServer state;
    zframe_t* held;     /* a request the server socket has not taken yet */
    uint64_t heldUntil; /* while no connection was heard of: when it is dropped */
} aClientRelay;

typedef enum {
    aCLIENT_RELAY_GOES_ON = 0,
    aCLIENT_RELAY_PIPE, /* the pipe has a message */
    aCLIENT_RELAY_ENDED /* the ZeroMQ context ends */
} aClientRelayTurn;

/* Sends a frame without waiting, trying again 1 ms apart, at most attempts
 * times, with the debug line failure (given errno) after each failed try.
 * The frame stays the caller's. */
bool aClientRelay_SendRetrying(zframe_t* frame, zsock_t* socket, int attempts, const char* failure);

/* Before the server socket connects: its connection events go to a new PAIR
 * socket (*monitor) over the inproc endpoint given. aErrResource when the
 * events cannot be had. */
aErr aClientRelay_Watch(zsock_t* server, const char* endpoint, zsock_t** monitor);

/* Ends the events of aClientRelay_Watch and destroys *monitor, before the
 * server socket goes: libzmq waits without bound to hand an event to a
 * monitor whose peer is gone, and holds up every connection meanwhile. */
void aClientRelay_Unwatch(zsock_t* server, zsock_t** monitor);

/* A relay over the sockets, which stay the caller's. */
void aClientRelay_Init(aClientRelay* relay, zsock_t* server, zsock_t* monitor, zsock_t* requests, zsock_t* replies);

/* Waits up to maxMs for the pipe or for work, and does the work there is. A
 * wait cut short by a signal is a turn like any other. */
aClientRelayTurn aClientRelay_Turn(aClientRelay* relay, zsock_t* pipe, int maxMs);

/* Drops a request still held. */
void aClientRelay_Finish(aClientRelay* relay);

#ifdef __cplusplus
}
#endif

#endif
