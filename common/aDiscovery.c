/* Discovery entry points and the built-in finder callbacks. */
#include "aDiscovery.h"

#include <stddef.h>

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
