/* The host's IPv4 interfaces and the text of an IPv4 address: a leaf the
 * discovery, the multicast endpoint, the server and the client stream share. */
#include "aDiscoveryInterfaces.h"

#include <arpa/inet.h>
#include <czmq.h>
#include <string.h>

#include "aDebug.h"
#include "aZeroMQ.h"

uint32_t aDiscovery_GetIPv4Interfaces(uint32_t* list, uint32_t maximum)
{
    if (!list)
        return 0;
    uint32_t count = 0;
    aZeroMQ_Start();
    ziflist_t* interfaces = ziflist_new();
    if (interfaces) {
        for (const char* name = ziflist_first(interfaces); name && count < maximum;
             name = ziflist_next(interfaces)) {
            const char* text = ziflist_address(interfaces);
            if (!text)
                break;
            struct in_addr address;
            if (inet_pton(AF_INET, text, &address) != 1)
                continue;
            list[count++] = address.s_addr;
            aDEBUG_TRACE(aDEBUG_DISCOVERY, "Interface Found: %d\n", (int)count);
        }
        ziflist_destroy(&interfaces);
    }
    aDEBUG_TRACE(aDEBUG_DISCOVERY, "aDiscovery_GetIPv4Interfaces count: %d\n", (int)count);
    return count;
}

size_t aDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer, size_t length)
{
    if (!buffer || length < INET_ADDRSTRLEN)
        return 0;
    memset(buffer, 0, length);
    struct in_addr in = {address};
    if (!inet_ntop(AF_INET, &in, buffer, (socklen_t)(length > 64 ? 64 : length)))
        return 0;
    return strlen(buffer);
}
