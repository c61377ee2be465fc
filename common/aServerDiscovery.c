/* The network server's discovery responders: a beacon on a network
 * interface, answered from the broker thread, or a loopback multicast
 * responder on a thread of its own. Both answer with the server's spec, and
 * only once the server knows its module's model and its own address. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "aDebug.h"
#include "aDiscoveryInterfaces.h"
#include "aMulticast.h"
#include "aServerInternal.h"
#include "aTime.h"
#include "aZeroMQ.h"
#include "zBeaconInterface.h"

#define sMAX_INTERFACES 50u
#define sPIPE_WAIT_MS 1000

/* ---- The spec ---- */

bool _isDiscoveryConfigured(const aServer* server)
{
    /* 0.0.0.0 is no address a client could connect to. */
    return __atomic_load_n(&server->model, __ATOMIC_SEQ_CST) != 0 &&
           __atomic_load_n(&server->hostAddress, __ATOMIC_SEQ_CST) != 0;
}

void _createNetworkSpec(const aServer* server, linkSpec* spec)
{
    memset(spec, 0, sizeof(*spec));
    spec->type = linkTypeAEther;
    spec->serialNumber = server->identifier;
    spec->model = __atomic_load_n(&server->model, __ATOMIC_SEQ_CST);
    spec->ipAddress = __atomic_load_n(&server->hostAddress, __ATOMIC_SEQ_CST);
    spec->port = __atomic_load_n(&server->port, __ATOMIC_SEQ_CST);
}

/* ---- Beacon ---- */

static aErr _createBeacon(aServer* server, const char* interfaceText)
{
    if (!zBeaconInterface_setAndLock(interfaceText)) {
        return aErrResource;
    }
    aDEBUG_TRACE(aDEBUG_SERVER, "Setting interface for user: (s)%s - (i)%u\n", interfaceText,
                 (unsigned)server->interfaceAddress);
    server->beacon = zactor_new(zbeacon, NULL);
    char* hostname = NULL;
    if (server->beacon != NULL) {
        /* The broker never waits on the beacon's pipe. */
        zsock_set_sndtimeo(server->beacon, 0);
        /* The beacon takes the interface setting when it is configured, so
         * that happens before the lock is released. */
        zsock_send(server->beacon, "si", "CONFIGURE", DISCOVERY_BEACON_PORT);
        hostname = zstr_recv(server->beacon);
    }
    zBeaconInterface_unlock();
    if (server->beacon == NULL) {
        return aErrResource;
    }
    aDEBUG_TRACE(aDEBUG_SERVER, "Beacon hostname(Server): %s - Port: %d\n", hostname ? hostname : "",
                 DISCOVERY_BEACON_PORT);
    zsock_send(server->beacon, "sb", "SUBSCRIBE", DISCOVERY_BEACON_FILTER, (size_t)DISCOVERY_BEACON_FILTER_SIZE);
    zsock_set_rcvtimeo(server->beacon, 100);
    struct in_addr address;
    if (hostname != NULL && inet_pton(AF_INET, hostname, &address) == 1) {
        __atomic_store_n(&server->hostAddress, address.s_addr, __ATOMIC_SEQ_CST);
    }
    zstr_free(&hostname);
    return aErrNone;
}

void _serverWorker_broker_beacon(aServer* server)
{
    zmsg_t* message = zmsg_recv(server->beacon);
    if (!_isDiscoveryConfigured(server)) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Discovery not allowed (beacon), model not set.\n");
        zmsg_destroy(&message);
        return;
    }
    if (message == NULL) {
        return;
    }
    zframe_t* sender = zmsg_first(message);
    zframe_t* content = zmsg_next(message);
    if (sender != NULL && content != NULL && zframe_size(content) >= DISCOVERY_BEACON_FILTER_SIZE &&
        memcmp(zframe_data(content), DISCOVERY_BEACON_FILTER, DISCOVERY_BEACON_FILTER_SIZE) == 0 &&
        !server->publishing) {
        linkSpec spec;
        _createNetworkSpec(server, &spec);
        zsock_send(server->beacon, "sbi", "PUBLISH", &spec, sizeof(spec), aSERVER_BEACON_INTERVAL_MS);
        server->publishStart = aTime_GetMSTicks();
        server->publishing = 1;
    }
    zmsg_destroy(&message);
}

void _serverWorker_beaconSilence(aServer* server)
{
    if (server->beacon == NULL || !server->publishing ||
        aTime_GetMSTicks() - server->publishStart <= aSERVER_BEACON_PUBLISH_MS) {
        return;
    }
    zstr_send(server->beacon, "SILENCE");
    server->publishing = 0;
    aDEBUG_TRACE(aDEBUG_SERVER, "Beacon silenced\n");
}

/* ---- Loopback multicast ---- */

static void sReplyToRequest(aServer* server, aMulticast* sender, const unsigned char* request, int size)
{
    static const unsigned char magic[4] = {aMULTICAST_REQUEST_WORD & 0xFFu, (aMULTICAST_REQUEST_WORD >> 8) & 0xFFu,
                                           (aMULTICAST_REQUEST_WORD >> 16) & 0xFFu,
                                           (aMULTICAST_REQUEST_WORD >> 24) & 0xFFu};
    if (size == 4 && memcmp(request, magic, sizeof(magic)) == 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, "We got the multicast magic value\n");
        linkSpec spec;
        _createNetworkSpec(server, &spec);
        if (_isDiscoveryConfigured(server)) {
            int sent = aMulticast_Send(sender, &spec, sizeof(spec));
            aDEBUG_TRACE(aDEBUG_SERVER, "Sent: %d to the reply port\n", sent);
        } else {
            aDEBUG_TRACE(aDEBUG_SERVER, "Discovery not allowed (Multicast), model not set.\n");
        }
    } else if (size > 0) {
        aDEBUG_TRACE(aDEBUG_SERVER, "We something else on multicast\n");
    }
}

void _serverWorker_multicastDiscovery(zsock_t* pipe, void* args)
{
    aServer* server = (aServer*)args;
    zsock_signal(pipe, 0);
    aDEBUG_TRACE(aDEBUG_SERVER, "multicast task start\n");
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    const uint32_t group = htonl(aMULTICAST_GROUP);
    aMulticast* receiver = NULL;
    aMulticast* sender = NULL;
    int slot = (int)aMULTICAST_SLOTS - 1;
    for (uint32_t j = 0; j < aMULTICAST_SLOTS && sender == NULL; j++) {
        receiver = aMulticast_Create(loopback, group, (uint16_t)(aMULTICAST_REQUEST_PORT + j), 0);
        if (receiver == NULL) {
            continue;
        }
        sender = aMulticast_Create(loopback, group, (uint16_t)(aMULTICAST_REPLY_PORT + j), 1);
        if (sender == NULL) {
            aMulticast_Destroy(&receiver);
            continue;
        }
        slot = (int)j;
        __atomic_store_n(&server->multicastSlot, slot, __ATOMIC_SEQ_CST);
    }
    aDEBUG_TRACE(aDEBUG_SERVER, "Discovery port offset: %d\n", slot);
    zpoller_t* poller = zpoller_new(pipe, NULL);
    if (poller != NULL) {
        zpoller_set_nonstop(poller, true);
    }
    zsock_signal(pipe, poller != NULL ? 0 : 1);

    while (poller != NULL && !_aServer_Stopping(server)) {
        if (receiver != NULL) {
            unsigned char request[4];
            int size = aMulticast_Receive(receiver, request, sizeof(request));
            sReplyToRequest(server, sender, request, size);
        }
        /* With a receiver its wait of up to 1 s paces the loop, and the
         * pipe is only looked at; a request is never left waiting. */
        void* which = zpoller_wait(poller, receiver != NULL ? 0 : sPIPE_WAIT_MS);
        if (which == pipe || (which == NULL && _aServer_PollerTerminated(poller))) {
            break;
        }
    }
    zpoller_destroy(&poller);
    aMulticast_Destroy(&receiver);
    aMulticast_Destroy(&sender);
    aDEBUG_TRACE(aDEBUG_SERVER, "multicast task exit\n");
}

void _wakeMulticastDiscovery(aServer* server)
{
    int slot = __atomic_load_n(&server->multicastSlot, __ATOMIC_SEQ_CST);
    if (slot < 0) {
        return;
    }
    /* An empty datagram to the request port ends the responder's wait. */
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)(aMULTICAST_REQUEST_PORT + (uint32_t)slot));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)sendto(fd, "", 0, MSG_NOSIGNAL, (const struct sockaddr*)&to, sizeof(to));
    close(fd);
}

/* ---- Choosing the responder ---- */

aErr _configureInterface(aServer* server)
{
    uint32_t interfaces[sMAX_INTERFACES];
    uint32_t count = aDiscovery_GetIPv4Interfaces(interfaces, sMAX_INTERFACES);
    aDEBUG_TRACE(aDEBUG_DISCOVERY, "_configureInterface found count: %d\n", (int)count);
    if (!server->localOnly && count > 0) {
        if (server->interfaceAddress == 0 || server->interfaceAddress == htonl(INADDR_LOOPBACK)) {
            server->interfaceAddress = interfaces[0];
        }
        char text[INET_ADDRSTRLEN + 1];
        if (aDiscovery_ConvertIPv4Interface(server->interfaceAddress, text, sizeof(text)) == 0) {
            return aErrResource;
        }
        server->discoveryMode = aSERVER_MODE_BEACON;
        return _createBeacon(server, text);
    }
    __atomic_store_n(&server->hostAddress, htonl(INADDR_LOOPBACK), __ATOMIC_SEQ_CST);
    server->discoveryMode = aSERVER_MODE_MULTICAST;
    server->discovery = _aServer_StartActor(server, _serverWorker_multicastDiscovery);
    if (server->discovery != NULL && zsock_wait(server->discovery) != 0) {
        _wakeMulticastDiscovery(server);
        aZeroMQ_StopActor(&server->discovery, aTime_DeadlineAfter(aSERVER_STOP_MS));
    }
    return server->discovery != NULL ? aErrNone : aErrResource;
}
