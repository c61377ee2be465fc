// Control side of the fake USB bus: plugging devices, faults, statistics and
// the config file of a preloaded fake.
#include "FakeUsbState.h"

#include "aUSBDriver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
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
    if (spec.peer.empty()) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            return 0;
        device->hostFd = sv[0];
        device->peerFd = sv[1];
    }
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

// "HOST:PORT" on 127.0.0.0/8, or "unix:PATH".
int connectTo(const std::string& peer)
{
    if (peer.rfind("unix:", 0) == 0) {
        std::string path = peer.substr(5);
        sockaddr_un address{};
        if (path.empty() || path.size() >= sizeof(address.sun_path))
            return -1;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    std::size_t colon = peer.rfind(':');
    if (colon == std::string::npos)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    char* end = nullptr;
    long port = std::strtol(peer.c_str() + colon + 1, &end, 10);
    if (end == nullptr || *end != '\0' || port <= 0 || port > 65535)
        return -1;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, peer.substr(0, colon).c_str(), &address.sin_addr) != 1)
        return -1;
    // Loopback only: the fake never reaches beyond this machine.
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
        return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool parseNumber(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool parseDevice(std::istringstream& words, DeviceSpec& spec, std::string& why)
{
    spec = moduleSpec(1);
    spec.serial.clear();
    bool haveSerial = false;
    std::uint16_t inMax = 64, outMax = 64;
    std::string word;
    while (words >> word) {
        std::size_t eq = word.find('=');
        if (eq == std::string::npos) {
            why = "expected key=value, got \"" + word + "\"";
            return false;
        }
        std::string key = word.substr(0, eq);
        std::string text = word.substr(eq + 1);
        if (key == "serial") {
            spec.serial = text;
            haveSerial = true;
            continue;
        }
        if (key == "peer") {
            spec.peer = text;
            continue;
        }
        static const char* const numeric[] = {"vendor",        "product",    "model",      "maxpacket",
                                              "in-maxpacket", "out-maxpacket", "open-error", "claim-error"};
        if (std::find(std::begin(numeric), std::end(numeric), key) == std::end(numeric)) {
            why = "unknown key " + key;
            return false;
        }
        long value = 0;
        if (!parseNumber(text, value)) {
            why = "bad number for " + key + ": \"" + text + "\"";
            return false;
        }
        auto in16 = [&](long v) { return v >= 0 && v <= 0xFFFF; };
        if ((key == "vendor" || key == "product" || key == "model" || key.find("maxpacket") != std::string::npos) &&
            !in16(value)) {
            why = key + " out of range";
            return false;
        }
        if (key == "vendor")
            spec.vendor = static_cast<std::uint16_t>(value);
        else if (key == "product" || key == "model")
            spec.product = static_cast<std::uint16_t>(value);
        else if (key == "maxpacket")
            inMax = outMax = static_cast<std::uint16_t>(value);
        else if (key == "in-maxpacket")
            inMax = static_cast<std::uint16_t>(value);
        else if (key == "out-maxpacket")
            outMax = static_cast<std::uint16_t>(value);
        else if (key == "open-error")
            spec.openError = static_cast<int>(value);
        else
            spec.claimError = static_cast<int>(value);
    }
    if (!haveSerial) {
        why = "device without serial";
        return false;
    }
    for (auto& endpoint : spec.interfaces[0].endpoints)
        endpoint.maxPacket = (endpoint.address & 0x80) != 0 ? inMax : outMax;
    return true;
}

bool loadConfigLocked(const std::string& path, std::string* error)
{
    std::ifstream file(path);
    if (!file) {
        if (error != nullptr)
            *error = "cannot read " + path;
        return false;
    }
    std::vector<DeviceSpec> specs;
    int initError = bus().initError;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        number++;
        std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword))
            continue;
        std::string why;
        bool ok = true;
        if (keyword == "device") {
            DeviceSpec spec;
            ok = parseDevice(words, spec, why);
            if (ok)
                specs.push_back(spec);
        } else if (keyword == "init-error") {
            std::string text;
            long value = 0;
            ok = (words >> text) && parseNumber(text, value);
            if (ok)
                initError = static_cast<int>(value);
            else
                why = "init-error needs a number";
        } else {
            ok = false;
            why = "unknown entry " + keyword;
        }
        if (!ok) {
            if (error != nullptr)
                *error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
    }
    for (const auto& spec : specs)
        plugLocked(spec);
    bus().initError = initError;
    return true;
}

}  // namespace

void checkEnvironmentConfigLocked()
{
    if (bus().configChecked)
        return;
    bus().configChecked = true;
    const char* path = std::getenv("FAKEUSB_CONFIG");
    if (path == nullptr || *path == '\0')
        return;
    std::string error;
    if (!loadConfigLocked(path, &error)) {
        std::fprintf(stderr, "fakeusb: %s\n", error.c_str());
        bus().configFailed = true;
    }
}

bool connectPeerLocked(libusb_device* device)
{
    if (device->hostFd >= 0)
        return true;
    if (device->spec.peer.empty())
        return false;
    device->hostFd = connectTo(device->spec.peer);
    return device->hostFd >= 0;
}

void disconnectPeerLocked(libusb_device* device)
{
    if (!device->spec.peer.empty())
        closeFd(device->hostFd);
}

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
    bus().configChecked = true;  // a test's bus is its own, not the environment's
    bus().configFailed = false;
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

bool loadConfig(const std::string& path, std::string* error)
{
    std::lock_guard<std::mutex> lock(bus().mutex);
    bus().configChecked = true;
    return detail::loadConfigLocked(path, error);
}

}  // namespace fakeusb
