// The libusb functions the library calls, answered by the fake bus. Bulk
// transfers move bytes over the device's pipe, a stream socket whose far end
// plays the module.
#include "FakeUsbState.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

using fakeusb::detail::bus;

namespace {

using Clock = std::chrono::steady_clock;

libusb_device* deviceOfLocked(libusb_device_handle* handle)
{
    if (handle == nullptr || bus().handles.count(handle) == 0)
        return nullptr;
    return handle->device;
}

void unrefLocked(libusb_device* device)
{
    if (device != nullptr && device->stats.refs > 0)
        device->stats.refs--;
}

const fakeusb::Endpoint* findEndpoint(const fakeusb::DeviceSpec& spec, std::uint8_t address, std::uint8_t* interface)
{
    for (const auto& i : spec.interfaces) {
        for (const auto& e : i.endpoints) {
            if (e.address == address) {
                if (interface != nullptr)
                    *interface = i.number;
                return &e;
            }
        }
    }
    return nullptr;
}

// Milliseconds left until the deadline; -1 waits without end (time-out 0).
int remainingMs(bool unlimited, Clock::time_point deadline)
{
    if (unlimited)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Reads up to `want` bytes; with `all` it waits for all of them. Returns a
// libusb result; transferred tells how many came.
int pipeRead(int fd, unsigned char* data, int want, bool all, unsigned timeout, int& transferred)
{
    transferred = 0;
    bool unlimited = timeout == 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    while (transferred < want) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, remainingMs(unlimited, deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return LIBUSB_ERROR_IO;
        if (ready == 0)
            return LIBUSB_ERROR_TIMEOUT;
        ssize_t n = ::recv(fd, data + transferred, static_cast<std::size_t>(want - transferred), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0)
            return errno == ECONNRESET || errno == ENOTCONN ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_ERROR_IO;
        if (n == 0)
            return LIBUSB_ERROR_NO_DEVICE;  // the far end is gone
        transferred += static_cast<int>(n);
        if (!all)
            break;
    }
    return LIBUSB_SUCCESS;
}

int pipeWrite(int fd, const unsigned char* data, int length, unsigned timeout, int& transferred)
{
    transferred = 0;
    bool unlimited = timeout == 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    while (transferred < length) {
        ssize_t n = ::send(fd, data + transferred, static_cast<std::size_t>(length - transferred),
                           MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            transferred += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN ? LIBUSB_ERROR_NO_DEVICE
                                                                                : LIBUSB_ERROR_IO;
        pollfd p{fd, POLLOUT, 0};
        int ready = ::poll(&p, 1, remainingMs(unlimited, deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return LIBUSB_ERROR_IO;
        if (ready == 0)
            return LIBUSB_ERROR_TIMEOUT;
    }
    return LIBUSB_SUCCESS;
}

void fillConfig(const fakeusb::DeviceSpec& spec, fakeusb::detail::ConfigBlock& block)
{
    std::size_t count = spec.interfaces.size();
    block.settings.resize(count);
    block.interfaces.resize(count);
    block.endpoints.resize(count);
    for (std::size_t i = 0; i < count; i++) {
        const auto& source = spec.interfaces[i];
        auto& endpoints = block.endpoints[i];
        for (const auto& e : source.endpoints) {
            libusb_endpoint_descriptor d{};
            d.bLength = LIBUSB_DT_ENDPOINT_SIZE;
            d.bDescriptorType = LIBUSB_DT_ENDPOINT;
            d.bEndpointAddress = e.address;
            d.bmAttributes = e.attributes;
            d.wMaxPacketSize = e.maxPacket;
            endpoints.push_back(d);
        }
        auto& setting = block.settings[i];
        setting = libusb_interface_descriptor{};
        setting.bLength = LIBUSB_DT_INTERFACE_SIZE;
        setting.bDescriptorType = LIBUSB_DT_INTERFACE;
        setting.bInterfaceNumber = source.number;
        setting.bNumEndpoints = static_cast<std::uint8_t>(endpoints.size());
        setting.bInterfaceClass = source.interfaceClass;
        setting.bInterfaceSubClass = source.subclass;
        setting.bInterfaceProtocol = source.protocol;
        setting.endpoint = endpoints.empty() ? nullptr : endpoints.data();
        block.interfaces[i].altsetting = &setting;
        block.interfaces[i].num_altsetting = 1;
    }
    auto& config = block.config;
    config.bLength = LIBUSB_DT_CONFIG_SIZE;
    config.bDescriptorType = LIBUSB_DT_CONFIG;
    config.bNumInterfaces = static_cast<std::uint8_t>(count);
    config.bConfigurationValue = 1;
    config.bmAttributes = 0x80;
    config.MaxPower = 50;
    config.interface = block.interfaces.empty() ? nullptr : block.interfaces.data();
}

constexpr std::uint8_t kManufacturerIndex = 1;
constexpr std::uint8_t kProductIndex = 2;
constexpr std::uint8_t kSerialIndex = 3;

}  // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** context)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    bus().stats.initAttempts++;
    if (bus().initError != 0)
        return bus().initError;
    auto* created = new libusb_context;
    bus().contexts.insert(created);
    bus().stats.inits++;
    bus().stats.liveContexts = static_cast<int>(bus().contexts.size());
    if (context != nullptr)
        *context = created;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* context)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    bus().stats.exits++;
    if (context != nullptr && bus().contexts.erase(context) == 1)
        delete context;
    bus().stats.liveContexts = static_cast<int>(bus().contexts.size());
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* context, libusb_device*** list)
{
    if (list == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    *list = nullptr;
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (context != nullptr && bus().contexts.count(context) == 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::vector<libusb_device*> present;
    for (auto& device : bus().devices) {
        if (!device->gone)
            present.push_back(device.get());
    }
    auto* result = new libusb_device*[present.size() + 1];
    for (std::size_t i = 0; i < present.size(); i++) {
        present[i]->stats.refs++;
        result[i] = present[i];
    }
    result[present.size()] = nullptr;
    *list = result;
    bus().stats.deviceLists++;
    return static_cast<ssize_t>(present.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices)
{
    if (list == nullptr)
        return;
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (unrefDevices != 0) {
        for (libusb_device** d = list; *d != nullptr; d++)
            unrefLocked(*d);
    }
    delete[] list;
    bus().stats.deviceListsFreed++;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device, struct libusb_device_descriptor* descriptor)
{
    if (device == nullptr || descriptor == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(bus().mutex);
    const auto& spec = device->spec;
    if (spec.descriptorError != 0)
        return spec.descriptorError;
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0200;
    descriptor->bMaxPacketSize0 = 64;
    descriptor->idVendor = spec.vendor;
    descriptor->idProduct = spec.product;
    descriptor->bcdDevice = 0x0100;
    descriptor->iManufacturer = kManufacturerIndex;
    descriptor->iProduct = kProductIndex;
    descriptor->iSerialNumber = spec.hasSerial ? kSerialIndex : 0;
    descriptor->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* device, uint8_t index,
                                             struct libusb_config_descriptor** config)
{
    if (device == nullptr || config == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    *config = nullptr;
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (device->spec.configError != 0)
        return device->spec.configError;
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    auto block = std::make_unique<fakeusb::detail::ConfigBlock>();
    fillConfig(device->spec, *block);
    *config = &block->config;
    bus().configs[&block->config] = std::move(block);
    bus().stats.configsOutstanding = static_cast<int>(bus().configs.size());
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor* config)
{
    if (config == nullptr)
        return;
    std::lock_guard<std::mutex> lock(bus().mutex);
    bus().configs.erase(config);
    bus().stats.configsOutstanding = static_cast<int>(bus().configs.size());
}

int LIBUSB_CALL libusb_get_max_packet_size(libusb_device* device, unsigned char endpoint)
{
    if (device == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(bus().mutex);
    if (device->spec.maxPacketError != 0)
        return device->spec.maxPacketError;
    const fakeusb::Endpoint* e = findEndpoint(device->spec, endpoint, nullptr);
    return e == nullptr ? LIBUSB_ERROR_NOT_FOUND : (e->maxPacket & 0x7FF);
}

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle)
{
    if (device == nullptr || handle == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(bus().mutex);
    device->stats.openAttempts++;
    if (device->gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (device->spec.openError != 0)
        return device->spec.openError;
    auto* created = new libusb_device_handle;
    created->device = device;
    bus().handles.insert(created);
    device->stats.refs++;
    device->stats.opens++;
    device->stats.openHandles++;
    bus().stats.openHandles = static_cast<int>(bus().handles.size());
    *handle = created;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = deviceOfLocked(handle);
    if (device == nullptr)
        return;
    for (std::uint8_t number : handle->claims)
        device->claimedBy.erase(number);
    bus().handles.erase(handle);
    delete handle;
    device->stats.closes++;
    device->stats.openHandles--;
    unrefLocked(device);
    bus().stats.openHandles = static_cast<int>(bus().handles.size());
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data,
                                                   int length)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = deviceOfLocked(handle);
    if (device == nullptr || data == nullptr || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (device->gone)
        return LIBUSB_ERROR_NO_DEVICE;
    const auto& spec = device->spec;
    std::string text;
    if (index == kManufacturerIndex)
        text = "Zorventa";
    else if (index == kProductIndex)
        text = "Module";
    else if (index == kSerialIndex && spec.hasSerial) {
        if (spec.stringError != 0)
            return spec.stringError;
        text = spec.serial;
    } else
        return LIBUSB_ERROR_PIPE;  // what a device answers for a string it does not have
    int n = std::min<int>(static_cast<int>(text.size()), length - 1);
    std::memcpy(data, text.data(), static_cast<std::size_t>(n));
    data[n] = 0;
    return n;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int number)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = deviceOfLocked(handle);
    if (device == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (device->gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (device->spec.claimError != 0)
        return device->spec.claimError;
    bool exists = std::any_of(device->spec.interfaces.begin(), device->spec.interfaces.end(),
                              [&](const fakeusb::Interface& i) { return i.number == number; });
    if (!exists)
        return LIBUSB_ERROR_NOT_FOUND;
    auto n = static_cast<std::uint8_t>(number);
    auto holder = device->claimedBy.find(n);
    if (holder != device->claimedBy.end() && holder->second != handle)
        return LIBUSB_ERROR_BUSY;  // held through another handle, as by another process
    device->claimedBy[n] = handle;
    handle->claims.insert(n);
    device->stats.claims++;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int number)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = deviceOfLocked(handle);
    if (device == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    auto n = static_cast<std::uint8_t>(number);
    if (handle->claims.erase(n) == 0)
        return LIBUSB_ERROR_NOT_FOUND;
    device->claimedBy.erase(n);
    device->stats.releases++;
    return device->gone ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    libusb_device* device = deviceOfLocked(handle);
    if (device == nullptr)
        return LIBUSB_ERROR_INVALID_PARAM;
    device->stats.clearedHalts.push_back(endpoint);
    if (device->gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (findEndpoint(device->spec, endpoint, nullptr) == nullptr)
        return LIBUSB_ERROR_NOT_FOUND;
    return device->clearHaltError;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                                     int length, int* actualLength, unsigned int timeout)
{
    if (actualLength != nullptr)
        *actualLength = 0;
    if (data == nullptr || length < 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    int fd = -1;
    bool faulted = false;
    fakeusb::TransferFault fault;
    libusb_device* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(bus().mutex);
        device = deviceOfLocked(handle);
        if (device == nullptr)
            return LIBUSB_ERROR_INVALID_PARAM;
        int early = LIBUSB_SUCCESS;
        std::uint8_t interface = 0;
        if (device->gone)
            early = LIBUSB_ERROR_NO_DEVICE;
        else if (findEndpoint(device->spec, endpoint, &interface) == nullptr || handle->claims.count(interface) == 0)
            early = LIBUSB_ERROR_NOT_FOUND;  // unknown endpoint, or its interface not claimed
        else if (device->hostFd < 0)
            early = LIBUSB_ERROR_IO;
        if (early != LIBUSB_SUCCESS) {
            device->stats.transfers.push_back({endpoint, length, 0, early});
            return early;
        }
        auto& faults = in ? device->inFaults : device->outFaults;
        if (!faults.empty()) {
            faulted = true;
            fault = faults.front();
            faults.pop_front();
        }
        fd = device->hostFd;
    }

    int transferred = 0;
    int result;
    if (faulted) {
        int moved = std::max(0, std::min(fault.bytes, length));
        int io = moved == 0 ? LIBUSB_SUCCESS
                 : in       ? pipeRead(fd, data, moved, true, timeout, transferred)
                            : pipeWrite(fd, data, moved, timeout, transferred);
        result = io == LIBUSB_SUCCESS || io == LIBUSB_ERROR_TIMEOUT ? fault.error : io;
    } else if (in) {
        result = pipeRead(fd, data, length, false, timeout, transferred);
    } else {
        result = pipeWrite(fd, data, length, timeout, transferred);
    }

    std::lock_guard<std::mutex> lock(bus().mutex);
    if (device->gone && result != LIBUSB_SUCCESS)
        result = LIBUSB_ERROR_NO_DEVICE;
    device->stats.transfers.push_back({endpoint, length, transferred, result});
    if (actualLength != nullptr)
        *actualLength = transferred;
    return result;
}

}  // extern "C"
