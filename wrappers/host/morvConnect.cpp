// The C entry points that open devices into the library's registry and close
// them again. A failed connection never reaches the registry: its module is
// destroyed here, which releases whatever link it had made.
#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <new>

#include "CCAMap.h"
#include "aLinkSpec.h"
#include "morvwrappers.h"

using Zorventa::Morvasset::Module;

namespace {

std::unique_ptr<Module> sNewModule()
{
    // Address 0 with networking on: the module's own answer is adopted.
    return std::make_unique<Module>(std::uint8_t(0), true, std::uint8_t(0));
}

aErr sRegisterConnected(std::unique_ptr<Module> module, aErr connected, std::uint32_t* id)
{
    if (connected != aErrNone)
        return connected;
    return registerDevice(std::move(module), id);
}

aErr sConnect(std::uint32_t type, std::uint32_t serialNumber, std::uint32_t* id)
{
    if (type != linkTypeUSB && type != linkTypeTCPIP)
        return aErrParam;
    std::unique_ptr<Module> module = sNewModule();
    const aErr connected = module->connect(static_cast<linkType>(type), serialNumber);
    return sRegisterConnected(std::move(module), connected, id);
}

aErr sConnectAddress(std::uint32_t ipv4Address, std::uint16_t port, std::uint32_t* id)
{
    if (port == 0)
        return aErrParam;
    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    spec.type = linkTypeTCPIP;
    spec.ipAddress = htonl(ipv4Address);
    spec.port = port;
    std::unique_ptr<Module> module = sNewModule();
    const aErr connected = module->connectFromSpec(spec);
    return sRegisterConnected(std::move(module), connected, id);
}

// The registry's reference goes here; the module (and its link) with the last
// reference: at once, or when a call still running on another thread returns.
aErr sDisconnect(std::uint32_t id)
{
    return removeDevice(id);
}

// One way out of every entry: no exception reaches the C caller, and a
// failure leaves 0, which is never a device id, in *id.
template <class Body>
std::int32_t sGuarded(std::uint32_t* id, Body&& body) noexcept
{
    aErr result = aErrUnknown;
    try {
        result = body();
    } catch (const std::bad_alloc&) {
        result = aErrMemory;
    } catch (...) {
        result = aErrUnknown;
    }
    if (result != aErrNone && id != nullptr)
        *id = 0;
    return static_cast<std::int32_t>(result);
}

}  // namespace

extern "C" MORV_WRAPPER_API std::int32_t morv_connect(std::uint32_t type, std::uint32_t serialNumber, std::uint32_t* id)
{
    if (id == nullptr)
        return aErrParam;
    return sGuarded(id, [&] { return sConnect(type, serialNumber, id); });
}

extern "C" MORV_WRAPPER_API std::int32_t morv_connectAddress(std::uint32_t ipv4Address, std::uint16_t port,
                                                             std::uint32_t* id)
{
    if (id == nullptr)
        return aErrParam;
    return sGuarded(id, [&] { return sConnectAddress(ipv4Address, port, id); });
}

extern "C" MORV_WRAPPER_API std::int32_t morv_disconnect(std::uint32_t id)
{
    return sGuarded(nullptr, [&] { return sDisconnect(id); });
}
