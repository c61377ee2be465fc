// A simulated USB bus behind the libusb functions the library calls. Test
// programs link the fake instead of libusb-1.0, for the cases the real libusb
// over the emulated kernel (tests/umock) cannot make.
//
// Usage
//   #include "FakeUsbBus.h"
//   fakeusb::reset();                                        // empty bus, no faults, logs cleared
//   int id = fakeusb::plug(fakeusb::moduleSpec(0x0012ABCD, 0x11, 64));
//   int peer = fakeusb::takePeerFd(id);   // the module's end of the bulk pipe, a stream socket:
//                                         // what the host sends to the OUT endpoint arrives here,
//                                         // what is written here the host reads from the IN endpoint;
//                                         // hand it to morvsim::ModuleSimulator::attachFd or use it
//   fakeusb::queueFault(id, fakeusb::Direction::In, {LIBUSB_ERROR_TIMEOUT, 5});
//   fakeusb::stats(id).transfers          // every bulk transfer, in order
//   fakeusb::unplug(id);                  // device gone: its handles answer LIBUSB_ERROR_NO_DEVICE
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fakeusb {

struct Endpoint {
    std::uint8_t address = 0;     // bit 7 set: IN
    std::uint8_t attributes = 2;  // transfer type: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    std::uint16_t maxPacket = 64;
};

// One interface of the first configuration (one alternate setting).
struct Interface {
    std::uint8_t number = 0;
    std::uint8_t interfaceClass = 0xFF;
    std::uint8_t subclass = 0x88;
    std::uint8_t protocol = 0x10;
    std::vector<Endpoint> endpoints;
};

struct DeviceSpec {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool hasSerial = true;  // false: iSerialNumber is 0
    std::string serial;     // the serial string descriptor, ASCII
    std::vector<Interface> interfaces;
    // Faults fixed when the device is plugged (libusb error codes, 0 none).
    int descriptorError = 0;  // libusb_get_device_descriptor
    int openError = 0;        // libusb_open
    int configError = 0;      // libusb_get_config_descriptor
    int stringError = 0;      // libusb_get_string_descriptor_ascii
    int claimError = 0;       // libusb_claim_interface
    int maxPacketError = 0;   // libusb_get_max_packet_size
};

// A module as the library expects it: the maker's vendor id, product id =
// model, serial "%08X", interface 0 of class 0xFF/0x88/0x10 with bulk IN 0x81
// and bulk OUT 0x02.
DeviceSpec moduleSpec(std::uint32_t serial, std::uint8_t model = 0x11, std::uint16_t maxPacket = 64);

enum class Direction { In, Out };

// What the next transfer in that direction does instead of the ordinary:
// it moves up to `bytes` bytes for real (an IN transfer waits, within its
// time-out, for them to arrive) and then returns `error` at once. error 0 is
// a success of exactly that many bytes (0: a zero-length packet).
struct TransferFault {
    int error = 0;
    int bytes = 0;
};

struct Transfer {
    std::uint8_t endpoint = 0;
    int requested = 0;
    int transferred = 0;
    int result = 0;
};

struct DeviceStats {
    int refs = 0;         // references held by lists and handles
    int opens = 0;        // successful libusb_open calls
    int openAttempts = 0; // libusb_open calls
    int closes = 0;
    int openHandles = 0;
    int claims = 0;       // successful claims
    int releases = 0;
    std::vector<std::uint8_t> clearedHalts;  // endpoint of every libusb_clear_halt
    std::vector<Transfer> transfers;
};

struct BusStats {
    int inits = 0;            // successful libusb_init calls
    int initAttempts = 0;
    int exits = 0;
    int liveContexts = 0;
    int openHandles = 0;
    int deviceLists = 0;      // libusb_get_device_list calls that gave a list
    int deviceListsFreed = 0;
    int configsOutstanding = 0;  // config descriptors not yet freed
};

// Every function below is thread-safe.

// Unplugs every device, clears faults, logs and counters (live contexts stay
// valid).
void reset();
// Adds a device at the end of the bus; returns its id (> 0).
int plug(const DeviceSpec& spec);
// The device leaves the bus: not listed any more, its open handles answer
// LIBUSB_ERROR_NO_DEVICE and the pipe's far end sees the connection end.
void unplug(int id);
// Ownership of the pipe's far end passes to the caller; -1 when there is none.
int takePeerFd(int id);

void queueFault(int id, Direction direction, TransferFault fault);
void setClaimError(int id, int error);
void setClearHaltError(int id, int error);
// libusb_init fails with this while it is not 0.
void setInitError(int error);

DeviceStats stats(int id);
BusStats busStats();

}  // namespace fakeusb
