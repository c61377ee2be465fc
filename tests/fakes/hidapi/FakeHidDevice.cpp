// The hidapi functions of the fake, in front of the simulated boot ROM.
#include "FakeHidState.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

using fakehid::detail::State;
using fakehid::detail::state;

namespace {

bool validLocked(State& s, hid_device* dev)
{
    return dev != nullptr && s.handles.count(dev) != 0;
}

}  // namespace

extern "C" {

int hid_init(void)
{
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakehid::detail::makeRomUnlessThereLocked();
        if (s.initError) {
            s.error = L"hid_init failed";
            return -1;
        }
        ++s.stats.inits;
        return 0;
    } catch (...) {
        return -1;
    }
}

int hid_exit(void)
{
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.stats.exits;
        return 0;
    } catch (...) {
        return -1;
    }
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    (void)serial_number;  // the ROM's device has no serial number to match
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakehid::detail::makeRomUnlessThereLocked();
        ++s.stats.openAttempts;
        if (!s.present || vendor_id != s.vendor || product_id != s.product) {
            s.error = L"Device not found";
            return nullptr;
        }
        hid_device* dev = new hid_device;
        s.handles.insert(dev);
        ++s.stats.opens;
        ++s.stats.openHandles;
        s.error = L"Success";
        return dev;
    } catch (...) {
        return nullptr;
    }
}

void hid_close(hid_device* dev)
{
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!validLocked(s, dev))
            return;
        s.handles.erase(dev);
        ++s.stats.closes;
        --s.stats.openHandles;
        delete dev;
        s.arrived.notify_all();
    } catch (...) {
    }
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!validLocked(s, dev))
            return -1;
        ++s.stats.writes;
        s.stats.writeLengths.push_back(length);
        if (!s.present) {
            ++s.stats.failedWrites;
            dev->error = L"Device disconnected";
            return -1;
        }
        if (s.failWrites > 0 && s.writesBeforeFailure > 0) {
            --s.writesBeforeFailure;
        } else if (s.failWrites > 0) {
            --s.failWrites;
            ++s.stats.failedWrites;
            dev->error = L"Write failed";
            return -1;
        }
        if (data == nullptr || length == 0) {
            ++s.stats.failedWrites;
            dev->error = L"Empty report";
            return -1;
        }
        std::vector<morvsim::ImxOutput> out;
        if (!s.rom->feedReport(data, length, out)) {
            ++s.stats.failedWrites;
            dev->error = L"Report not accepted by the device";
            return -1;
        }
        fakehid::detail::deliverLocked(morvsim::ImxRom::hidReports(out));
        dev->error = L"Success";
        return static_cast<int>(length);
    } catch (...) {
        return -1;
    }
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    try {
        State& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        if (!validLocked(s, dev) || data == nullptr)
            return -1;
        ++s.stats.reads;
        int wait = milliseconds < 0 || milliseconds > fakehid::kMaxBlockingWaitMs ? fakehid::kMaxBlockingWaitMs
                                                                                  : milliseconds;
        auto start = std::chrono::steady_clock::now();
        auto deadline = start + std::chrono::milliseconds(wait);
        // The handle may be closed by another thread while we wait.
        s.arrived.wait_until(lock, deadline, [&] {
            return !validLocked(s, dev) || !s.present || !dev->input.empty();
        });
        if (!validLocked(s, dev))
            return -1;
        if (!s.present) {
            dev->error = L"Device disconnected";
            return -1;
        }
        if (dev->input.empty()) {
            ++s.stats.emptyReads;
            s.stats.waitedMs += std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start).count();
            return 0;
        }
        std::vector<unsigned char> report = std::move(dev->input.front());
        dev->input.pop_front();
        size_t n = std::min(length, report.size());
        std::memcpy(data, report.data(), n);
        dev->error = L"Success";
        return static_cast<int>(n);
    } catch (...) {
        return -1;
    }
}

const wchar_t* hid_error(hid_device* dev)
{
    try {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (dev == nullptr)
            return s.error.c_str();
        if (!validLocked(s, dev))
            return L"Invalid device";
        return dev->error.c_str();
    } catch (...) {
        return L"Unknown error";
    }
}

}  // extern "C"
