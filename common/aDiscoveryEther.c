/* The search for network servers of this system: loopback multicast for
 * this host, beacon on a network interface. */
#include <arpa/inet.h>

#include "aDebug.h"
#include "aDiscoveryInternal.h"

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
