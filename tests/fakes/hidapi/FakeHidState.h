// The fake device's state, shared by the control functions and the hidapi
// functions of the fake. Everything here is guarded by State::mutex.
#pragma once

#include "FakeHidapi.h"

#include <hidapi/hidapi.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct hid_device_ {
    std::deque<std::vector<unsigned char>> input;
    std::wstring error = L"Success";
};

namespace fakehid::detail {

struct State {
    std::mutex mutex;
    std::condition_variable arrived;  // input queued or the device left
    bool present = true;
    std::uint16_t vendor = kNxpVendor;
    std::uint16_t product = kNxpProduct;
    std::unique_ptr<morvsim::ImxRom> rom;
    std::set<hid_device*> handles;
    bool initError = false;
    int failWrites = 0;
    int writesBeforeFailure = 0;
    bool padStatusReport = false;
    std::wstring error = L"Success";  // of calls without a handle
    Stats stats;
};

State& state();
// A fresh ROM of this config; caller holds the mutex.
void makeRomLocked(const morvsim::ImxRomConfig& config);
// The default ROM when there is none yet; caller holds the mutex.
void makeRomUnlessThereLocked();
// Queues reports on every open handle; caller holds the mutex.
void deliverLocked(const std::vector<std::vector<unsigned char>>& reports);

}  // namespace fakehid::detail
