#include "DeviceQuery.h"

#include <algorithm>

#include "Link.h"
#include "SystemClass.h"
#include "Updater.h"
#include "aPacket.h"
#include "aVersion.h"

using Zorventa::Morvasset::Link;
using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;

namespace DeviceQuery {

namespace {

constexpr uint8_t kIntrospectionCommand = 73;
constexpr uint8_t kIntrospectBuild = 0xFF;
// [73, 0xFF] and the build as four big-endian bytes.
constexpr uint8_t kBuildReplyLength = 6;
constexpr size_t kNameCapacity = 32;

}  // namespace

uint32_t _get_build_number(Module& module)
{
    Link* link = module.getLink();
    if (link == nullptr)
        return 0;
    const uint8_t address = module.getModuleAddress();
    const uint8_t request[1] = {kIntrospectBuild};
    if (link->sendPacket(address, kIntrospectionCommand, sizeof request, request) != aErrNone)
        return 0;
    const uint8_t match[2] = {kIntrospectionCommand, kIntrospectBuild};
    uint8_t data[aPACKET_MAX_DATA] = {0};
    uint8_t length = sizeof match;
    if (link->receivePacket(address, match, &length, data) != aErrNone || length != kBuildReplyLength)
        return 0;
    return static_cast<uint32_t>(data[2]) << 24 | static_cast<uint32_t>(data[3]) << 16 |
           static_cast<uint32_t>(data[4]) << 8 | static_cast<uint32_t>(data[5]);
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
