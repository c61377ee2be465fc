// The fake bus's state, shared by the control functions and the libusb
// functions of the fake. Everything here is guarded by Bus::mutex.
#pragma once

#include "FakeUsbBus.h"

#include <libusb.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

struct libusb_context {
    int magic = 0x5EB;
};

struct libusb_device {
    int id = 0;
    fakeusb::DeviceSpec spec;
    bool gone = false;
    int hostFd = -1;  // the library's end of the bulk pipe
    int peerFd = -1;  // the far end, until taken
    std::map<std::uint8_t, libusb_device_handle*> claimedBy;  // interface number -> handle
    std::deque<fakeusb::TransferFault> inFaults;
    std::deque<fakeusb::TransferFault> outFaults;
    int clearHaltError = 0;
    fakeusb::DeviceStats stats;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
    std::set<std::uint8_t> claims;
};

namespace fakeusb::detail {

struct ConfigBlock {
    libusb_config_descriptor config{};
    std::vector<libusb_interface> interfaces;
    std::vector<libusb_interface_descriptor> settings;
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;
};

struct Bus {
    std::mutex mutex;
    // Every device ever plugged since the last reset that could free it;
    // unplugged ones stay while a list or a handle still refers to them.
    std::vector<std::unique_ptr<libusb_device>> devices;
    int nextId = 1;
    int initError = 0;
    std::set<libusb_context*> contexts;
    std::set<libusb_device_handle*> handles;
    std::map<const libusb_config_descriptor*, std::unique_ptr<ConfigBlock>> configs;
    BusStats stats;
};

Bus& bus();
// Caller holds the mutex. nullptr for an unknown id.
libusb_device* findLocked(int id);
int plugLocked(const DeviceSpec& spec);

}  // namespace fakeusb::detail
