// The i.MX boot ROM as a hidraw node of the umockdev testbed, for the real
// hidapi (hidraw backend): a USB device 1FC9:0130 with its interface, the HID
// device (uevent HID_ID/HID_NAME/HID_UNIQ, report_descriptor) and
// /dev/hidrawN, whose writes feed the simulated ROM and whose reads hand out
// its input reports. poll() on the node (poll_shim.c) is ready for reading
// while a report is queued.
//
// Usage
//   #include "HidTestbed.h"
//   umockusb::HidRom rom;                         // plugged now, a fresh ROM
//   rom.withRom([](morvsim::ImxRom& r) { ... });  // look at or change the ROM
//   rom.failWrites(1, 2);                         // after two more writes, one fails (EIO)
//   rom.queueInputReport({3, 0, 0, 0, 0});        // a stray report
//   rom.unplug();                                 // hidapi finds nothing; writes fail
//   rom.stats().writeLengths
#pragma once

#include "ImxRomSimulator.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace umockusb {

struct HidStats {
    int opens = 0;
    std::vector<std::size_t> writeLengths;  // every write, failed or not
    int failedWrites = 0;
    int reads = 0;
};

class HidRom {
public:
    explicit HidRom(morvsim::ImxRomConfig config = {}, std::uint16_t vendor = 0x1FC9, std::uint16_t product = 0x0130);
    ~HidRom();
    HidRom(const HidRom&) = delete;
    HidRom& operator=(const HidRom&) = delete;

    void withRom(const std::function<void(morvsim::ImxRom&)>& f);
    void failWrites(int count, int after = 0);
    void queueInputReport(const std::vector<std::uint8_t>& report);
    void unplug();
    // Report 3 read as a full 65-byte report instead of 5 bytes.
    void setPadStatusReport(bool pad);
    HidStats stats();
    // Descriptors of this process open on the node.
    int openHandles();
    std::string devnode() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace umockusb
