// The routed search: the modules on the I2C bus behind one routing module,
// reached through the routing module's own link.
#include <arpa/inet.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "DeviceQuery.h"
#include "I2CClass.h"
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "Updater.h"
#include "aDefs.h"
#include "aDiscovery.h"

using Zorventa::Morvasset::I2CClass;
using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;

namespace {

constexpr uint8_t kFirstAddress = 2;
// 254 is never probed.
constexpr uint8_t kLastAddress = 252;
constexpr uint8_t kBusSpeed = 3;
// The address word and everything after it come from the router's spec.
constexpr size_t kAddressWordOffset = offsetof(linkSpec, ipAddress);

struct LinkSearch {
    uint32_t serialNumber;
    linkType found;
};

struct SpecDeleter {
    void operator()(linkSpec* spec) const { aLinkSpec_Destroy(&spec); }
};
using OwnedSpec = std::unique_ptr<linkSpec, SpecDeleter>;

uint32_t loopbackInterface()
{
    return htonl(INADDR_LOOPBACK);
}

// Reference: LinkSearch. Stops at the linkSpec of the serial number sought.
uint8_t _discovered_link(const linkSpec* spec, bool* accepted, void* reference)
{
    if (spec == nullptr || accepted == nullptr || reference == nullptr)
        return 1;
    *accepted = true;
    LinkSearch* search = static_cast<LinkSearch*>(reference);
    if (spec->serialNumber != search->serialNumber)
        return 1;
    Log::log(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
             static_cast<int>(spec->type));
    search->found = spec->type;
    return 0;
}

linkType _discover_link_type(uint32_t serialNumber)
{
    LinkSearch search{serialNumber, 0};
    aDiscovery_EnumerateModules(linkTypeUSB, _discovered_link, &search, loopbackInterface());
    if (search.found == 0)
        aDiscovery_EnumerateModules(linkTypeTCPIP, _discovered_link, &search, loopbackInterface());
    return search.found;
}

// The module at one bus address, or nothing when it cannot be reached or named.
bool queryBehindRouter(Module& router, const linkSpec& routerSpec, linkType type, uint32_t routerSerial,
                       uint8_t address, UpdaterDisplayInterface& display, DeviceInfo& info)
{
    Log::log(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
    Module device(address, false, 0);
    const aErr ether = Updater::_disableEther(device, display);
    if (device.connectThroughLinkModule(&router) != aErrNone)
        return false;
    SystemClass deviceSystem;
    uint32_t serial = 0;
    if (deviceSystem.init(&device, 0) != aErrNone || deviceSystem.getSerialNumber(&serial) != aErrNone) {
        device.disconnect();
        return false;
    }
    Log::log(DEBUG_Updater, "Got Serial [0x%08X]\n", serial);

    std::memcpy(reinterpret_cast<unsigned char*>(&info.spec) + kAddressWordOffset,
                reinterpret_cast<const unsigned char*>(&routerSpec) + kAddressWordOffset,
                sizeof(linkSpec) - kAddressWordOffset);
    info.spec.type = type;
    info.spec.serialNumber = serial;
    info.spec.router = router.getModuleAddress();
    info.spec.routerSerial = routerSerial;
    info.i2cAddress = address;

    info.build = DeviceQuery::_get_build_number(device);
    info.error = static_cast<uint32_t>(DeviceQuery::_get_version(device, info));
    uint8_t model = 0;
    const aErr modelErr = deviceSystem.getModel(&model);
    if (modelErr != aErrNone) {
        info.error = static_cast<uint32_t>(modelErr);
    } else {
        info.spec.model = model;
        info.modelName = aDefs_GetModelName(model);
    }
    // A module whose configuration was refused is not listed as healthy.
    if (info.error == 0 && ether != aErrNone)
        info.error = static_cast<uint32_t>(ether);
    device.disconnect();
    return true;
}

}  // namespace

std::vector<DeviceInfo> Updater::Discover_MVNetwork_Devices(uint32_t routerSerial, linkType type)
{
    std::vector<DeviceInfo> found;
    if (type == 0)
        type = _discover_link_type(routerSerial);
    OwnedSpec routerSpec(aDiscovery_FindModule(type, routerSerial, loopbackInterface()));
    if (!routerSpec)
        return found;
    Log::log(DEBUG_Updater, "Found Link Module");

    Module router(2, true, 0);
    if (_disableEther(router, display) != aErrNone)
        return found;
    const linkSpec spec = *routerSpec;
    aErr err = router.connectFromSpec(spec);
    if (err != aErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error %d on connectFromSpec", static_cast<int>(err));
        return found;
    }
    SystemClass routerSystem;
    err = routerSystem.init(&router, 0);
    if (err == aErrNone)
        err = routerSystem.routeToMe(1);
    if (err != aErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error %d on route to me", static_cast<int>(err));
        router.disconnect();
        return found;
    }

    I2CClass bus;
    if (bus.init(&router, 0) == aErrNone)
        (void)bus.setSpeed(kBusSpeed);
    const uint8_t probe[2] = {0, 0};
    const uint8_t own = router.getModuleAddress();
    for (unsigned address = kFirstAddress; address <= kLastAddress; address += 2) {
        const uint8_t busAddress = static_cast<uint8_t>(address);
        if (busAddress == own)
            continue;
        Log::log(DEBUG_Updater, "Searching Address 0x%02x\n", busAddress);
        if (bus.write(busAddress, sizeof probe, probe) != aErrNone)
            continue;
        DeviceInfo info;
        if (queryBehindRouter(router, spec, type, routerSerial, busAddress, display, info))
            found.push_back(info);
    }

    (void)routerSystem.routeToMe(0);
    router.disconnect();
    return found;
}
