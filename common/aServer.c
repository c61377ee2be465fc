/* The network server's life: creation, start, stop, setters and the
 * streaming filter on the link's reader thread. */
#include "aServer.h"

#include <arpa/inet.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "aDebug.h"
#include "aDiscoveryInterfaces.h"
#include "aLink.h"
#include "aServerInternal.h"
#include "aTime.h"
#include "aUEI.h"
#include "aZeroMQ.h"

#define sENDPOINT_SIZE 96

static bool sValid(const aServer* server)
{
    return server != NULL && server->check == aSERVER_CHECK;
}

/* ---- Streaming filter (the link's reader thread) ---- */

static bool sIsHeartbeat(const aPacket* packet)
{
    return packet->dataSize == 2 && packet->data[0] == 0;
}

static void sFlushStream(aServer* server)
{
    if (server->streamFill == 0) {
        return;
    }
    zframe_t* frame = zframe_new(server->streamBuffer, server->streamFill);
    if (frame == NULL || zframe_send(&frame, server->streamFilter, ZFRAME_DONTWAIT) != 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, "stream frame of %u bytes not sent\n", (unsigned)server->streamFill);
        zframe_destroy(&frame);
    }
    server->streamFill = 0;
}

static uint8_t _streamingPacketFilter(const aPacket* packet, void* ref)
{
    aServer* server = (aServer*)ref;
    if (!aVALIDPACKET(packet) || !sValid(server)) {
        return 0;
    }
    uint8_t consumed = 0;
    if (aUEI_isStreamPacket(packet)) {
        if ((size_t)server->streamFill + aPACKET_MAX_SIZE > aSERVER_STREAM_BUFFER) {
            sFlushStream(server);
        }
        server->streamFill = (uint16_t)(server->streamFill + _aServer_Wire(packet, server->streamBuffer + server->streamFill));
        consumed = 1;
    }
    if (sIsHeartbeat(packet) || server->streamFill > aSERVER_STREAM_FLUSH) {
        sFlushStream(server);
    }
    return consumed;
}

static int drainAll(const aPacket* packet, void* ref)
{
    (void)packet;
    (void)ref;
    return 1;
}

/* ---- Create and start ---- */

aServer* _aServer_CreateForEntry(aLinkEntry* entry, uint32_t interfaceAddress, uint8_t localOnly)
{
    if (entry == NULL || entry->link == NULL) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Could not find device Item\n");
        return NULL;
    }
    aServer* server = (aServer*)calloc(1, sizeof(*server));
    if (server == NULL) {
        return NULL;
    }
    server->check = aSERVER_CHECK;
    server->linkId = entry->id;
    server->entry = entry;
    server->link = entry->link;
    server->identifier = entry->identifier;
    server->localOnly = localOnly ? 1 : 0;
    server->interfaceAddress = interfaceAddress != 0 ? interfaceAddress : htonl(INADDR_LOOPBACK);
    server->multicastSlot = -1;
    server->holders = 1;
    return server;
}

/* Unique inproc endpoint names: a name is free again only some time after
 * its socket closed. */
static void sEndpoint(char* buffer, size_t size, const char* what)
{
    static atomic_uint counter;
    unsigned int number = atomic_fetch_add(&counter, 1u) + 1u;
    snprintf(buffer, size, "inproc://morvasset-server-%d-%u-%s", (int)getpid(), number, what);
}

/* Binds one side and connects the other; true when both worked. */
static bool sPair(zsock_t* bound, zsock_t* connected, const char* what)
{
    if (bound == NULL || connected == NULL) {
        return false;
    }
    zsock_set_sndhwm(bound, aSERVER_PAIR_HWM);
    zsock_set_rcvhwm(bound, aSERVER_PAIR_HWM);
    zsock_set_sndhwm(connected, aSERVER_PAIR_HWM);
    zsock_set_rcvhwm(connected, aSERVER_PAIR_HWM);
    char endpoint[sENDPOINT_SIZE];
    sEndpoint(endpoint, sizeof(endpoint), what);
    if (zsock_bind(bound, "%s", endpoint) != 0) {
        return false;
    }
    return zsock_connect(connected, "%s", endpoint) == 0;
}

static int _findPortAndBindSocket(aServer* server)
{
    char text[INET_ADDRSTRLEN + 1];
    int port = -1;
    zsock_set_router_mandatory(server->frontend, 1);
    zsock_set_sndhwm(server->frontend, aSERVER_FRONTEND_HWM);
    zsock_set_maxmsgsize(server->frontend, aSERVER_FRONTEND_MAX_FRAME);
    if (server->localOnly) {
        snprintf(text, sizeof(text), "127.0.0.1");
    } else if (aDiscovery_ConvertIPv4Interface(server->interfaceAddress, text, sizeof(text)) == 0) {
        return 0;
    }
    port = zsock_bind(server->frontend, "tcp://%s:*", text);
    aDEBUG_TRACE(aDEBUG_SERVER, "_findPortAndBindSocket: %d - %s\n", port, text);
    return port > 0 && port <= 0xFFFF ? port : 0;
}

/* Starts an actor and waits for the status it reports once it is ready. */
static zactor_t* sStartActor(zactor_fn* task, aServer* server)
{
    zactor_t* actor = _aServer_StartActor(server, task);
    if (actor != NULL && zsock_wait(actor) != 0) {
        aZeroMQ_StopActor(&actor, aTime_DeadlineAfter(aSERVER_STOP_MS));
    }
    return actor;
}

static aErr _initServer(aServer* server)
{
    aDEBUG_TRACE(aDEBUG_LINK, "_initServer:\n");
    aZeroMQ_Start();
    server->frontend = zsock_new(ZMQ_ROUTER);
    server->syncWorker = zsock_new(ZMQ_DEALER);
    server->syncBroker = zsock_new(ZMQ_DEALER);
    server->streamFilter = zsock_new(ZMQ_DEALER);
    server->streamBroker = zsock_new(ZMQ_DEALER);

    aErr discovery = _configureInterface(server);

    if (server->frontend != NULL) {
        __atomic_store_n(&server->port, (uint16_t)_findPortAndBindSocket(server), __ATOMIC_SEQ_CST);
    }
    server->streamConnected = sPair(server->streamBroker, server->streamFilter, "stream");
    server->syncConnected = sPair(server->syncBroker, server->syncWorker, "sync");

    bool ready = discovery == aErrNone && __atomic_load_n(&server->port, __ATOMIC_SEQ_CST) != 0 &&
                 server->streamConnected && server->syncConnected;
    if (ready) {
        server->broker = sStartActor(_serverWorker_broker, server);
        server->sync = server->broker != NULL ? sStartActor(_serverWorker_syncCommands, server) : NULL;
        ready = server->broker != NULL && server->sync != NULL &&
                (server->discoveryMode == aSERVER_MODE_BEACON ? server->beacon != NULL : server->discovery != NULL);
    }
    if (ready && aLink_InstallUserPacketFilter(server->linkId, _streamingPacketFilter, server) == aErrNone) {
        server->filterInstalled = 1;
        aLink_DrainPackets(server->linkId, drainAll, NULL);
        return aErrNone;
    }
    aDEBUG_TRACE(aDEBUG_SERVER, "Could not find open port\n");
    return aErrResource;
}

aErr aServer_Start(aServer* server)
{
    if (!sValid(server)) {
        return aErrParam;
    }
    if (server->broker != NULL || server->frontend != NULL) {
        /* Started once already; a second start would bind everything again. */
        return aErrResource;
    }
    return _initServer(server);
}

/* ---- Stop ---- */

/* Asks every actor to end and waits for them, all within one deadline. */
static void _deinitServer(aServer* server)
{
    aDEBUG_TRACE(aDEBUG_SERVER, "PIPE! - Task\n");
    if (server->filterInstalled) {
        /* A link torn down has dropped its filter already. */
        aLink_InstallUserPacketFilter(server->linkId, NULL, NULL);
        server->filterInstalled = 0;
    }
    __atomic_store_n(&server->stopping, 1, __ATOMIC_SEQ_CST);
    server->stopDeadline = aTime_DeadlineAfter(aSERVER_STOP_MS);
    aZeroMQ_StopActor(&server->sync, server->stopDeadline);
    aZeroMQ_StopActor(&server->broker, server->stopDeadline);
    if (server->discovery != NULL) {
        _wakeMulticastDiscovery(server);
        aZeroMQ_StopActor(&server->discovery, server->stopDeadline);
    }
}

aErr aServer_Destroy(aServer** server)
{
    if (server == NULL || !sValid(*server)) {
        return aErrParam;
    }
    aServer* s = *server;
    *server = NULL;
    _deinitServer(s);
    /* An actor still running holds the rest until it ends. */
    s->check = 0;
    return _aServer_LetGo(s) ? aErrNone : aErrTimeout;
}

/* ---- Accessors ---- */

aErr aServer_GetPort(const aServer* server, uint16_t* port)
{
    if (!sValid(server) || port == NULL) {
        return aErrParam;
    }
    *port = __atomic_load_n(&server->port, __ATOMIC_SEQ_CST);
    return aErrNone;
}

aErr aServer_GetInterface(const aServer* server, uint32_t* interfaceAddress)
{
    if (!sValid(server) || interfaceAddress == NULL) {
        return aErrParam;
    }
    *interfaceAddress = server->interfaceAddress;
    return aErrNone;
}

aErr aServer_SetModuleAddress(aServer* server, uint8_t address)
{
    if (!sValid(server)) {
        return aErrParam;
    }
    __atomic_store_n(&server->moduleAddress, address, __ATOMIC_SEQ_CST);
    return aErrNone;
}

aErr aServer_SetModel(aServer* server, uint8_t model)
{
    if (!sValid(server)) {
        return aErrParam;
    }
    __atomic_store_n(&server->model, model, __ATOMIC_SEQ_CST);
    return aErrNone;
}

aErr aServer_FlushFIFO(aServer* server)
{
    aDEBUG_TRACE(aDEBUG_SERVER, "aServer_FlushFIFO\n");
    if (!sValid(server)) {
        return aErrParam;
    }
    if (server->broker != NULL) {
        zsock_signal(server->broker, aSERVER_FLUSH_SIGNAL);
    }
    return aErrNone;
}
