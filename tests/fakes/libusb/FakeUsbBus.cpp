// Control side of the fake USB bus: plugging devices, faults and statistics.
#include "FakeUsbState.h"

#include "aUSBDriver.h"

#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace fakeusb {
namespace detail {

Bus& bus()
{
    // Never destroyed: libusb calls may come from threads still running at exit.
    static Bus* instance = new Bus;
    return *instance;
}

libusb_device* findLocked(int id)
{
    for (auto& device : bus().devices) {
        if (device->id == id)
            return device.get();
    }
    return nullptr;
}

int plugLocked(const DeviceSpec& spec)
{
    auto device = std::make_unique<libusb_device>();
    device->id = bus().nextId++;
    device->spec = spec;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return 0;
    device->hostFd = sv[0];
    device->peerFd = sv[1];
    int id = device->id;
    bus().devices.push_back(std::move(device));
    return id;
}

namespace {

void closeFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace
}  // namespace detail

using detail::bus;

DeviceSpec moduleSpec(std::uint32_t serial, std::uint8_t model, std::uint16_t maxPacket)
{
    DeviceSpec spec;
    spec.vendor = MORVASSET_USB_VENDOR_ID;
    spec.product = model;
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", static_cast<unsigned>(serial));
    spec.serial = text;
    Interface interface;
    interface.number = 0;
    interface.endpoints = {Endpoint{0x81, 2, maxPacket}, Endpoint{0x02, 2, maxPacket}};
    spec.interfaces = {interface};
    return spec;
}

void reset()
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    auto& devices = bus().devices;
    for (auto it = devices.begin(); it != devices.end();) {
        libusb_device* device = it->get();
        device->gone = true;
        if (device->hostFd >= 0)
            ::shutdown(device->hostFd, SHUT_RDWR);
        if (device->stats.refs == 0 && device->stats.openHandles == 0) {
            detail::closeFd(device->hostFd);
            detail::closeFd(device->peerFd);
            it = devices.erase(it);
        } else {
            ++it;
        }
    }
    bus().initError = 0;
    int live = static_cast<int>(bus().contexts.size());
    int handles = static_cast<int>(bus().handles.size());
    int configs = static_cast<int>(bus().configs.size());
    bus().stats = BusStats{};
    bus().stats.liveContexts = live;
    bus().stats.openHandles = handles;
    bus().stats.configsOutstanding = configs;
}

int plug(const DeviceSpec& spec)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    return detail::plugLocked(spec);
}

void unplug(int id)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = detail::findLocked(id);
    if (device == nullptr || device->gone)
        return;
    device->gone = true;
    // Wakes a transfer waiting on the pipe and ends the far end's connection;
    // the descriptor itself stays until no handle can use it.
    if (device->hostFd >= 0)
        ::shutdown(device->hostFd, SHUT_RDWR);
}

int takePeerFd(int id)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = detail::findLocked(id);
    if (device == nullptr)
        return -1;
    int fd = device->peerFd;
    device->peerFd = -1;
    return fd;
}

void queueFault(int id, Direction direction, TransferFault fault)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = detail::findLocked(id);
    if (device == nullptr)
        return;
    (direction == Direction::In ? device->inFaults : device->outFaults).push_back(fault);
}

void setClaimError(int id, int error)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (libusb_device* device = detail::findLocked(id))
        device->spec.claimError = error;
}

void setClearHaltError(int id, int error)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (libusb_device* device = detail::findLocked(id))
        device->clearHaltError = error;
}

void setInitError(int error)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    bus().initError = error;
}

DeviceStats stats(int id)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = detail::findLocked(id);
    return device == nullptr ? DeviceStats{} : device->stats;
}

BusStats busStats()
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    return bus().stats;
}

}  // namespace fakeusb
