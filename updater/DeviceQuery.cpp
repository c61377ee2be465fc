#include "DeviceQuery.h"

#include <algorithm>

#include "Link.h"
#include "SystemClass.h"
#include "Updater.h"
#include "aPacket.h"
#include "aVersion.h"

using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;

namespace DeviceQuery {

namespace {

constexpr size_t kNameCapacity = 32;

}  // namespace

uint32_t _get_build_number(Module& module)
{
    // The module's introspection query, as one exchange on its link.
    uint32_t build = 0;
    return module.getBuild(&build) == aErrNone ? build : 0;
}

aErr _get_version(Module& module, DeviceInfo& info)
{
    SystemClass system;
    aErr err = system.init(&module, 0);
    if (err != aErrNone)
        return err;
    uint32_t version = 0;
    err = system.getVersion(&version);
    if (err != aErrNone)
        return err;
    info.major = aVersion_ParseMajor(version);
    info.minor = aVersion_ParseMinor(version);
    info.patch = aVersion_ParsePatch(version);
    uint8_t address = 0;
    err = system.getModule(&address);
    if (err != aErrNone)
        return err;
    info.spec.module = address;
    err = system.getRouter(&address);
    if (err != aErrNone)
        return err;
    info.spec.router = address;
    return aErrNone;
}

aErr _get_device_name(Module& module, DeviceInfo& info)
{
    SystemClass system;
    aErr err = system.init(&module, 0);
    if (err != aErrNone)
        return err;
    uint8_t buffer[kNameCapacity] = {0};
    size_t count = 0;
    err = system.getName(buffer, sizeof buffer, &count);
    if (err == aErrNone)
        info.deviceName.assign(reinterpret_cast<const char*>(buffer), std::min(count, sizeof buffer));
    return err;
}

void QueryDirect(Module& module, DeviceInfo& info, UpdaterDisplayInterface& display)
{
    const aErr ether = Updater::_disableEther(module, display);
    if (ether != aErrNone) {
        // Not queried is not healthy: the listing shows the entry as an error.
        info.error = static_cast<uint32_t>(ether);
        return;
    }
    const linkSpec spec = info.spec;
    aErr err = module.connectFromSpec(spec);
    if (err == aErrNone) {
        info.build = _get_build_number(module);
        err = _get_version(module, info);
        if (err == aErrNone)
            err = _get_device_name(module, info);
        module.disconnect();
    }
    info.error = static_cast<uint32_t>(err);
}

}  // namespace DeviceQuery
