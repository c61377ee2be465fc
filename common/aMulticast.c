/* UDP multicast endpoint for the loopback exchange with network servers. */
#include "aMulticast.h"

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

#include "aDebug.h"
#include "aDiscoveryInterfaces.h"
#include "aTime.h"

#define aMULTICAST_CHECK 0x4D43u

struct aMulticast {
    int socket;
    struct addrinfo* destination;
    struct addrinfo* local;
    struct addrinfo* interface;
    uint8_t sender;
    uint16_t check;
};

#define aVALIDMULTICAST(h) ((h) != NULL && (h)->check == aMULTICAST_CHECK)

static struct addrinfo* resolve(const char* host, const char* service, int family, int passive,
                                int* error)
{
    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    struct addrinfo* result = NULL;
    *error = getaddrinfo(host, service, &hints, &result);
    if (*error != 0)
        return NULL;
    return result;
}

static int isIPv4(const struct addrinfo* info)
{
    return info && info->ai_family == AF_INET && info->ai_addrlen >= sizeof(struct sockaddr_in);
}

static struct in_addr addressOf(const struct addrinfo* info)
{
    return ((const struct sockaddr_in*)(const void*)info->ai_addr)->sin_addr;
}

/* Steps 8 to 12 of the set-up: group membership and the multicast options. */
static int configureSocket(aMulticast* h)
{
    int fd = h->socket;
    int ipv4 = isIPv4(h->destination) && isIPv4(h->interface);

    if (!ipv4) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Attempting to join multicast group for invalid address family!");
        return -1;
    }
    struct ip_mreq membership;
    membership.imr_multiaddr = addressOf(h->destination);
    membership.imr_interface = addressOf(h->interface);
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "JoinMulticastGroup: setsockopt failed with error code %d\n", errno);
        return -1;
    }

    struct in_addr outgoing = addressOf(h->interface);
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Failed to set send interface. error code %d\n", errno);
        return -1;
    }

    unsigned char ttl = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "SetMulticastTtl: setsockopt() failed with error code %d\n", errno);
        return -1;
    }

    struct timeval timeout = {aMULTICAST_RECEIVE_TIMEOUT_MS / 1000u, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "SetReceivTimeout: setsockopt() failed with error code %d\n", errno);
        return -1;
    }

    unsigned char loop = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST,
                     "SetMulticastLoopBack: setsockopt() failed with error code %d\n", errno);
        return -1;
    }
    return 0;
}

aMulticast* aMulticast_Create(uint32_t interfaceAddress, uint32_t groupAddress, uint16_t port,
                              uint8_t sender)
{
    aMulticast* h = calloc(1, sizeof(*h));
    if (!h)
        return NULL;
    h->socket = -1;
    h->sender = sender ? 1 : 0;
    h->check = aMULTICAST_CHECK;

    if (interfaceAddress == 0)
        interfaceAddress = htonl(INADDR_LOOPBACK);

    char groupText[INET_ADDRSTRLEN + 1];
    char interfaceText[INET_ADDRSTRLEN + 1];
    char portText[8];
    int error = 0;
    if (aDiscovery_ConvertIPv4Interface(groupAddress, groupText, sizeof(groupText)) == 0 ||
        aDiscovery_ConvertIPv4Interface(interfaceAddress, interfaceText, sizeof(interfaceText)) == 0)
        goto fail;
    snprintf(portText, sizeof(portText), "%u", (unsigned)port);

    h->destination = resolve(groupText, portText, AF_UNSPEC, 0, &error);
    if (!h->destination) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Unable to convert multicast address '%s - port: %s': Error %d\n",
                     groupText, portText, error);
        goto fail;
    }

    if (h->sender)
        h->local = resolve(interfaceText, "0", h->destination->ai_family, 0, &error);
    else
        h->local = resolve(NULL, portText, h->destination->ai_family, 1, &error);
    if (!h->local) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Unable to convert bind address '%s': Error %d\n",
                     h->sender ? interfaceText : "*", error);
        goto fail;
    }

    h->interface = resolve(interfaceText, "0", h->destination->ai_family, 0, &error);
    if (!h->interface) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Unable to convert interface address '%s': Error %d\n",
                     interfaceText, error);
        goto fail;
    }

    h->socket = socket(h->destination->ai_family, h->destination->ai_socktype | SOCK_CLOEXEC,
                       h->destination->ai_protocol);
    if (h->socket < 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "socket() failed with with error code %d\n", errno);
        goto fail;
    }

    /* Reuse off: one receiver per host owns a port, which is how a client
     * tells the occupied server slots. */
    int reuse = 0;
    if (setsockopt(h->socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "Failed to set reuse %d\n", errno);
        goto fail;
    }

    if (!h->sender && bind(h->socket, h->local->ai_addr, h->local->ai_addrlen) != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "bind() failed with error code %d\n", errno);
        goto fail;
    }

    if (configureSocket(h) != 0)
        goto fail;
    return h;

fail:
    aMulticast_Destroy(&h);
    return NULL;
}

int aMulticast_Send(aMulticast* handle, const void* data, size_t length)
{
    if (!aVALIDMULTICAST(handle))
        return aMULTICAST_ERR_HANDLE;
    if (!handle->sender)
        return aMULTICAST_ERR_DIRECTION;
    if ((!data && length > 0) || length > INT_MAX)
        return aMULTICAST_ERR_SOCKET;
    ssize_t sent;
    do {
        sent = sendto(handle->socket, data, length, MSG_NOSIGNAL, handle->destination->ai_addr,
                      handle->destination->ai_addrlen);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "sendto() failed with error code %d\n", errno);
        return aMULTICAST_ERR_SOCKET;
    }
    return (int)sent;
}

int aMulticast_Receive(aMulticast* handle, void* buffer, size_t size)
{
    if (!aVALIDMULTICAST(handle))
        return aMULTICAST_ERR_HANDLE;
    if (handle->sender)
        return aMULTICAST_ERR_DIRECTION;
    if (!buffer && size > 0)
        return aMULTICAST_ERR_SOCKET;
    if (size > INT_MAX)
        size = INT_MAX;

    /* Waits on the descriptor against a monotonic deadline, so a signal
     * neither ends the wait early nor stretches it. */
    uint64_t deadline = aTime_DeadlineAfter(aMULTICAST_RECEIVE_TIMEOUT_MS);
    for (;;) {
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline)
            break;
        struct pollfd pfd = {handle->socket, POLLIN, 0};
        int ready = poll(&pfd, 1, (int)(deadline - now));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            break;
        ssize_t got = recv(handle->socket, buffer, size, MSG_DONTWAIT);
        if (got >= 0)
            return (int)got;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
    }
    aDEBUG_TRACE(aDEBUG_MULTICAST, "recvfrom() failed with error code %d\n", errno);
    return aMULTICAST_ERR_SOCKET;
}

int aMulticast_Destroy(aMulticast** handle)
{
    if (!handle || !*handle)
        return aMULTICAST_ERR_HANDLE;
    aMulticast* h = *handle;
    if (h->destination)
        freeaddrinfo(h->destination);
    if (h->local)
        freeaddrinfo(h->local);
    if (h->interface)
        freeaddrinfo(h->interface);
    if (h->socket >= 0)
        close(h->socket);
    h->check = 0;
    free(h);
    *handle = NULL;
    return 0;
}

int _printAddress(const struct sockaddr* address, socklen_t length)
{
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    int error = getnameinfo(address, length, host, sizeof(host), service, sizeof(service),
                            NI_NUMERICHOST | NI_NUMERICSERV);
    if (error != 0) {
        aDEBUG_TRACE(aDEBUG_MULTICAST, "%s: getnameinfo failed with error code %d\n",
                     "common/aMulticast", error);
        return error;
    }
    if (strcmp(service, "0") == 0)
        printf("%s", host);
    else if (address->sa_family == AF_INET)
        printf("[%s]:%s", host, service);
    else
        printf("%s:%s", host, service);
    fflush(stdout);
    return 0;
}
