/* The search for network servers of this system: loopback multicast for
 * this host, beacon on a network interface; and the checks every server
 * spec received from the network must pass. */
#include <arpa/inet.h>
#include <string.h>

#include "aDebug.h"
#include "aDiscoveryInternal.h"

bool aDiscoverySeen_Contains(const aDiscoverySeen* seen, uint32_t serialNumber)
{
    for (uint32_t i = 0; i < seen->count; ++i)
        if (seen->serials[i] == serialNumber)
            return true;
    return false;
}

void aDiscoverySeen_Add(aDiscoverySeen* seen, uint32_t serialNumber)
{
    if (seen->count < aDISCOVERY_SEEN_MAX)
        seen->serials[seen->count++] = serialNumber;
}

int aDiscovery_TakeServerSpec(const void* data, size_t size, linkSpec* spec)
{
    if (!data || size != sizeof(linkSpec))
        return 0;
    linkSpec received;
    memcpy(&received, data, sizeof(received));
    /* A server only ever offers a network-client link; a record naming any
     * other transport (a serial path, a USB id) is not followed. */
    if (received.type != linkTypeAEther)
        return 0;
    if (received.port == 0 || received.port > 0xFFFFu)
        return 0;
    if (received.ipAddress == 0)
        return 0;
    received.path[aLINKSPEC_PATH_SIZE - 1] = '\0';
    *spec = received;
    return 1;
}

uint8_t aDiscovery_Enumerate_aEtherModules(aDiscoveryModuleFoundProc callback, void* reference,
                                           uint32_t networkInterface)
{
    if (!callback)
        return 0;
    bool local = networkInterface == 0 || networkInterface == htonl(INADDR_LOOPBACK);
    uint32_t interfaces[aDISCOVERY_MAX_INTERFACES];
    uint32_t count = aDiscovery_GetIPv4Interfaces(interfaces, aDISCOVERY_MAX_INTERFACES);

    uint8_t found = 0;
    if (local || count == 0) {
        found = _findLinkSpecs_multicast(callback, reference, true);
    } else {
        char text[INET_ADDRSTRLEN];
        if (aDiscovery_ConvertIPv4Interface(networkInterface, text, sizeof(text)) > 0)
            found = _findLinkSpecs_beacon(callback, reference, text);
    }
    aDEBUG_TRACE(aDEBUG_DISCOVERY, "aDiscovery_Enumerate_aEtherModules found count: %d\n", found);
    return found;
}
