/* Discovery entry points, the built-in finder callbacks and the host's IPv4
 * interface list. */
#include "aDiscovery.h"

#include <arpa/inet.h>
#include <czmq.h>
#include <string.h>

#include "aDebug.h"
#include "aDiscoveryInternal.h"

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback,
                                    void* reference, uint32_t networkInterface)
{
    if (!callback)
        return 0;
    switch (type) {
    case linkTypeUSB:
        return _enumerateUSBModules(callback, reference);
    case linkTypeTCPIP:
        return _enumerateTCPIPModules(callback, reference);
    case linkTypeAEther:
        return aDiscovery_Enumerate_aEtherModules(callback, reference, networkInterface);
    default:
        return 0;
    }
}

typedef struct {
    uint32_t serialNumber;
    linkSpec* found;
} findRecord;

static uint8_t cbSNCallback(const linkSpec* spec, bool* accepted, void* reference)
{
    findRecord* record = reference;
    if (spec->serialNumber != record->serialNumber)
        return 1;
    record->found = aLinkSpec_Copy(spec);
    *accepted = record->found != NULL;
    return 0;
}

static uint8_t cbFirstCallback(const linkSpec* spec, bool* accepted, void* reference)
{
    findRecord* record = reference;
    if (spec->serialNumber == 0)
        return 1;
    record->found = aLinkSpec_Copy(spec);
    *accepted = record->found != NULL;
    return 0;
}

linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface)
{
    findRecord record = {serialNumber, NULL};
    aDiscovery_EnumerateModules(type, cbSNCallback, &record, networkInterface);
    return record.found;
}

linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface)
{
    findRecord record = {0, NULL};
    aDiscovery_EnumerateModules(type, cbFirstCallback, &record, networkInterface);
    return record.found;
}

uint32_t aDiscovery_GetIPv4Interfaces(uint32_t* list, uint32_t maximum)
{
    if (!list)
        return 0;
    uint32_t count = 0;
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
