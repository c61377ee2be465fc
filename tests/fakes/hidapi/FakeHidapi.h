// The i.MX boot ROM's USB HID device, simulated behind the hidapi functions the
// recovery loader calls (hid_init, hid_exit, hid_open, hid_close, hid_write,
// hid_read_timeout, hid_error). Test programs named hid*_test link the fake
// instead of hidapi, for what the real hidapi over the emulated kernel
// (tests/umock) cannot make: hid_init failing.
//
// Usage
//   #include "FakeHidapi.h"
//   fakehid::reset();                        // one device 1FC9:0130, a fresh simulated ROM
//   morvsim::ImxRomConfig config; config.habClosed = true;
//   fakehid::reset(config);                  // the same with this ROM
//   fakehid::withRom([](morvsim::ImxRom& rom) { ... });   // look at or change the ROM
//   fakehid::setPresent(false);              // unplugged: hid_open finds nothing, open
//                                            //   handles answer -1
//   fakehid::queueInputReport({3, 0, 0, 0, 0});   // a stray report to every open handle
//   fakehid::failWrites(1, 2);               // after two more writes, one hid_write fails
//   fakehid::stats().writeLengths           // every hid_write length, in order
//
// hid_write takes report 1 (exactly 17 bytes: id and command) and report 2 (id and
// 1-1024 data bytes) and answers -1 to anything else. The ROM's answers become
// input reports 3 (5 bytes) and 4 (65 bytes) on every open handle, read in order
// by hid_read_timeout; a time-out of -1 waits at most 10 seconds.
#pragma once

#include "ImxRomSimulator.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fakehid {

constexpr std::uint16_t kNxpVendor = 0x1FC9;
constexpr std::uint16_t kNxpProduct = 0x0130;
constexpr int kMaxBlockingWaitMs = 10000;

struct Stats {
    int inits = 0;       // hid_init calls that succeeded
    int exits = 0;
    int opens = 0;       // hid_open calls that gave a handle
    int openAttempts = 0;
    int closes = 0;
    int openHandles = 0;
    int writes = 0;      // hid_write calls
    int failedWrites = 0;
    std::vector<std::size_t> writeLengths;
    int reads = 0;       // hid_read_timeout calls
    int emptyReads = 0;  // those that returned 0
    long long waitedMs = 0;  // time spent in reads that returned 0
};

// Every function below is thread-safe.

// A present device with the NXP ids, a new ROM of this config, no faults, stats
// cleared; open handles stay valid.
void reset(const morvsim::ImxRomConfig& config = {});
void setDevice(std::uint16_t vendor, std::uint16_t product);
void setPresent(bool present);
// hid_init fails while this is set.
void setInitError(bool fail);
// After `after` more hid_write calls went through, the next `count` fail.
void failWrites(int count, int after = 0);
// Report 3 read as a full 65-byte report instead of 5 bytes.
void setPadStatusReport(bool pad);
void queueInputReport(const std::vector<std::uint8_t>& report);
// Runs f with the ROM, under the fake's lock (f must not call the fake).
void withRom(const std::function<void(morvsim::ImxRom&)>& f);
Stats stats();

}  // namespace fakehid
