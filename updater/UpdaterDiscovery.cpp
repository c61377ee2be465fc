// The direct search: every module attached by USB or reachable over TCP/IP,
// connected one after the other and asked what it runs.
#include <arpa/inet.h>

#include <exception>
#include <vector>

#include "DeviceQuery.h"
#include "Module.h"
#include "Updater.h"
#include "aDefs.h"
#include "aDiscovery.h"

namespace {

// Reference: the result vector. Runs inside the C discovery: nothing may escape.
uint8_t _discovered_device(const linkSpec* spec, bool* accepted, void* reference)
{
    if (spec == nullptr || accepted == nullptr || reference == nullptr)
        return 1;
    try {
        DeviceInfo info;
        info.spec = *spec;
        static_cast<std::vector<DeviceInfo>*>(reference)->push_back(info);
        *accepted = true;
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace

std::vector<DeviceInfo> Updater::Discover_Devices(linkType type)
{
    std::vector<DeviceInfo> found;
    const std::vector<linkType> types =
        type == 0 ? std::vector<linkType>{linkTypeUSB, linkTypeTCPIP} : std::vector<linkType>{type};
    for (linkType searched : types)
        aDiscovery_EnumerateModules(searched, _discovered_device, &found, htonl(INADDR_LOOPBACK));

    for (DeviceInfo& entry : found) {
        entry.modelName = aDefs_GetModelName(static_cast<uint32_t>(entry.spec.model));
        // One module object per entry: destroying it releases the link before the next.
        Zorventa::Morvasset::Module module(2, true, 0);
        DeviceQuery::QueryDirect(module, entry, display);
    }
    return found;
}
