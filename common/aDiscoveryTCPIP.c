/* TCP/IP module discovery: a multicast request to 232.2.2.2:9888 out of
 * every IPv4 interface, unicast replies collected on port 9889. */
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "aDiscoveryInternal.h"
#include "aTime.h"

static int openListener(void)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return -1;
    int reuse = 1;
    struct sockaddr_in local;
    memset(&local, 0, sizeof(local));
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(aDISCOVERY_TCPIP_REPLY_PORT);
    struct timeval timeout = {aDISCOVERY_TCPIP_QUIET_MS / 1000u, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0 ||
        bind(fd, (struct sockaddr*)&local, sizeof(local)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* 1 when the whole request went out; a NULL interface uses the default. */
static int sendRequest(const struct in_addr* interface)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return 0;
    int sent = 0;
    int reuse = 1;
    unsigned char request[aDISCOVERY_TCPIP_DATAGRAM];
    memset(request, 0, sizeof(request));
    request[0] = 1;
    struct sockaddr_in group;
    memset(&group, 0, sizeof(group));
    group.sin_family = AF_INET;
    group.sin_addr.s_addr = htonl(aDISCOVERY_TCPIP_GROUP);
    group.sin_port = htons(aDISCOVERY_TCPIP_REQUEST_PORT);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0 &&
        (!interface ||
         setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, interface, sizeof(*interface)) == 0)) {
        ssize_t n = sendto(fd, request, sizeof(request), MSG_NOSIGNAL, (struct sockaddr*)&group,
                           sizeof(group));
        sent = n == (ssize_t)sizeof(request);
    }
    close(fd);
    return sent;
}

static int sendRequests(void)
{
    struct ifaddrs* list = NULL;
    if (getifaddrs(&list) != 0)
        return sendRequest(NULL);
    int sent = 0;
    for (struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        struct in_addr address = ((const struct sockaddr_in*)(const void*)entry->ifa_addr)->sin_addr;
        if (address.s_addr == htonl(INADDR_ANY) || address.s_addr == htonl(INADDR_LOOPBACK))
            continue;
        sent += sendRequest(&address);
    }
    freeifaddrs(list);
    return sent;
}

static uint32_t little32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int aDiscovery_SpecFromTCPIPReply(const void* data, size_t size, uint32_t sender, linkSpec* spec)
{
    if (!data || !spec || size < aDISCOVERY_TCPIP_MIN_REPLY)
        return 0; /* too short to hold a port and a serial number */
    /* As received: a datagram is cut to its first 16 bytes, and a short one
     * reads zero beyond its end, except the model, which reads 0xFF. */
    unsigned char reply[aDISCOVERY_TCPIP_DATAGRAM];
    memset(reply, 0, sizeof(reply));
    reply[12] = 0xFF;
    memcpy(reply, data, size < sizeof(reply) ? size : sizeof(reply));
    memset(spec, 0, sizeof(*spec));
    spec->type = linkTypeTCPIP;
    spec->serialNumber = little32(reply + 4);
    spec->module = reply[1];
    spec->router = reply[1];
    spec->routerSerial = spec->serialNumber;
    spec->model = reply[12];
    spec->ipAddress = sender;
    spec->port = (uint32_t)reply[2] | (uint32_t)reply[3] << 8;
    return 1;
}

/* Waits for one reply until the quiet time or the overall deadline runs
 * out; its length, or -1. */
static ssize_t receiveReply(int fd, unsigned char* buffer, struct sockaddr_in* from,
                            uint64_t deadline)
{
    uint64_t quietEnd = aTime_DeadlineAfter(aDISCOVERY_TCPIP_QUIET_MS);
    if (quietEnd < deadline)
        deadline = quietEnd;
    for (;;) {
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline)
            return -1;
        struct pollfd pfd = {fd, POLLIN, 0};
        int ready = poll(&pfd, 1, (int)(deadline - now));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return -1;
        memset(buffer, 0, aDISCOVERY_TCPIP_DATAGRAM);
        buffer[12] = 0xFF;
        socklen_t fromLength = sizeof(*from);
        memset(from, 0, sizeof(*from));
        ssize_t got = recvfrom(fd, buffer, aDISCOVERY_TCPIP_DATAGRAM, MSG_DONTWAIT,
                               (struct sockaddr*)from, &fromLength);
        if (got >= 0)
            return from->sin_family == AF_INET ? got : 0;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return -1;
    }
}

uint8_t _enumerateTCPIPModules(aDiscoveryModuleFoundProc callback, void* reference)
{
    int listener = openListener();
    if (listener < 0)
        return 0;
    uint8_t found = 0;
    if (sendRequests() > 0) {
        uint64_t deadline = aTime_DeadlineAfter(aDISCOVERY_TCPIP_DEADLINE_MS);
        unsigned char reply[aDISCOVERY_TCPIP_DATAGRAM];
        struct sockaddr_in from;
        for (;;) {
            ssize_t got = receiveReply(listener, reply, &from, deadline);
            if (got < 0)
                break;
            linkSpec spec;
            if (!aDiscovery_SpecFromTCPIPReply(reply, (size_t)got, from.sin_addr.s_addr, &spec))
                continue;
            bool accepted = false;
            uint8_t goOn = callback(&spec, &accepted, reference);
            if (accepted)
                found = aDiscovery_CountUp(found);
            if (goOn != 1)
                break;
        }
    }
    close(listener);
    return found;
}
