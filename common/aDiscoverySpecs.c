/* The checks every server spec received from the network must pass, and the
 * serial numbers one search has reported: a leaf the multicast and beacon
 * searches share. */
#include <string.h>

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
