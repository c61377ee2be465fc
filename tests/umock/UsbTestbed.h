// An emulated kernel USB side for the real libusb-1.0: a umockdev testbed
// holding module-like USB devices (sysfs attributes and descriptors) whose
// /dev/bus/usb nodes answer usbdevfs ioctls here. The bulk endpoints lead to a
// stream socket (the module's end, for morvsim::ModuleSimulator::attachFd).
// The program using libusb must run under umockdev's preload library and the
// poll shim (poll_shim.c): a program linking morvumock_preload runs itself
// again with both preloaded. A module closing its end of the socket leaves
// the bus (a reboot).
//
// Usage
//   #include "UsbTestbed.h"
//   auto& bed = umockusb::Testbed::instance();    // one per process (UMOCKDEV_DIR)
//   int id = bed.plug(umockusb::moduleSpec(0x0012ABCD, 0x11, 64));
//   sim.attachFd(bed.takePeerFd(id));             // or read/write it directly
//   bed.queueFault(id, umockusb::Direction::Out, {EPIPE});  // the next OUT URB stalls
//   bed.setClaimError(id, EBUSY);                 // USBDEVFS_CLAIMINTERFACE fails so
//   bed.setDiscardIgnored(id, true);              // cancelled URBs never come back
//   bed.unplug(id);                               // remove uevent; open handles get ENODEV
//   bed.stats(id).transfers                       // every bulk URB, in completion order
//   bed.reset();                                  // unplugs everything, clears faults
// A separate program (the Updater as a child) uses the same testbed when
// started with childEnvironment() in its environment.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct _UMockdevTestbed;

namespace umockusb {

struct Endpoint {
    std::uint8_t address = 0;     // bit 7 set: IN
    std::uint8_t attributes = 2;  // 2 bulk, 3 interrupt
    std::uint16_t maxPacket = 64;
};

struct DeviceSpec {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool hasSerial = true;
    bool serialReadFails = false;  // the serial string's GET_DESCRIPTOR stalls
    std::string serial;
    std::uint8_t interfaceClass = 0xFF;
    std::uint8_t subclass = 0x88;
    std::uint8_t protocol = 0x10;
    std::vector<Endpoint> endpoints;
    // Interfaces before the vendor one (numbered from 0; the vendor one follows).
    struct OtherInterface {
        std::uint8_t interfaceClass = 0x08;
        std::vector<Endpoint> endpoints;
    };
    std::vector<OtherInterface> before;
};

// The maker's vendor id, product id = model, serial "%08X", interface 0 of
// class 0xFF/0x88/0x10 with bulk IN 0x81 and bulk OUT 0x02.
DeviceSpec moduleSpec(std::uint32_t serial, std::uint8_t model = 0x11, std::uint16_t maxPacket = 64);

enum class Direction { In, Out };

// What the next bulk URB in that direction does instead of the ordinary: it
// moves up to `bytes` bytes and completes with status -error (EPIPE also
// halts the endpoint until USBDEVFS_CLEAR_HALT; ETIMEDOUT holds the URB with
// its bytes moved until libusb's time-out discards it).
struct Fault {
    int error = 0;
    int bytes = 0;
};

struct Transfer {
    std::uint8_t endpoint = 0;
    int requested = 0;
    int transferred = 0;
    int status = 0;  // the URB's status: 0 or -errno
};

struct DeviceStats {
    int opens = 0;  // node opened (umockdev does not report the close)
    int claims = 0;
    std::vector<unsigned> claimedInterfaces;
    std::vector<std::chrono::steady_clock::time_point> claimedAt;
    int releases = 0;
    std::vector<std::uint8_t> clearedHalts;
    std::vector<Transfer> transfers;
};

class Testbed {
public:
    static Testbed& instance();

    void reset();
    int plug(const DeviceSpec& spec);
    void unplug(int id);
    int takePeerFd(int id);
    void queueFault(int id, Direction direction, Fault fault);
    void setClaimError(int id, int error);
    // USBDEVFS_CLEAR_HALT fails so, though the halt is cleared (the answer lost).
    void setClearHaltError(int id, int error);
    // USBDEVFS_DISCARDURB answers EINVAL and leaves the URB where it is: a
    // transfer that times out or is cancelled never comes back.
    void setDiscardIgnored(int id, bool ignored);
    DeviceStats stats(int id);
    // Descriptors of this process open on the device's node (0: on any USB
    // node); umockdev does not tell the handler about a close.
    int openHandles(int id = 0);

    // UMOCKDEV_DIR and LD_PRELOAD for a child program on this testbed.
    std::map<std::string, std::string> childEnvironment() const;
    std::string root() const;
    // The umockdev testbed itself, for other emulated devices (HidTestbed).
    _UMockdevTestbed* raw() const;

    struct Impl;

private:
    Testbed();
    std::unique_ptr<Impl> impl_;
};

// Descriptors of this process open on this path (also once it was removed).
int openDescriptors(const std::string& path, bool prefix = false);

// The path of the libusb-1.0 this process has loaded ("" when none).
std::string loadedLibrary(const char* soname);

}  // namespace umockusb
