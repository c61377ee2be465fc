// Control functions of the fake HID device.
#include "FakeHidState.h"


namespace fakehid {
namespace detail {

State& state()
{
    // Never destroyed: hidapi calls may come from threads still running at exit.
    static State* s = new State;
    return *s;
}

void makeRomLocked(const morvsim::ImxRomConfig& config)
{
    state().rom.reset(new morvsim::ImxRom(config));
}

void makeRomUnlessThereLocked()
{
    if (!state().rom)
        makeRomLocked({});
}

void deliverLocked(const std::vector<std::vector<unsigned char>>& reports)
{
    State& s = state();
    if (reports.empty())
        return;
    for (hid_device* dev : s.handles) {
        for (const std::vector<unsigned char>& report : reports) {
            std::vector<unsigned char> r = report;
            if (s.padStatusReport && !r.empty() && r[0] == 3)
                r.resize(1 + morvsim::kImxReportSize, 0);
            dev->input.push_back(std::move(r));
        }
    }
    s.arrived.notify_all();
}

}  // namespace detail

using detail::State;
using detail::state;

void reset(const morvsim::ImxRomConfig& config)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.present = true;
    s.vendor = kNxpVendor;
    s.product = kNxpProduct;
    s.initError = false;
    s.failWrites = 0;
    s.writesBeforeFailure = 0;
    s.padStatusReport = false;
    s.error = L"Success";
    int handles = s.stats.openHandles;
    s.stats = Stats{};
    s.stats.openHandles = handles;
    for (hid_device* dev : s.handles)
        dev->input.clear();
    detail::makeRomLocked(config);
    s.arrived.notify_all();
}

void setDevice(std::uint16_t vendor, std::uint16_t product)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.vendor = vendor;
    s.product = product;
}

void setPresent(bool present)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.present = present;
    s.arrived.notify_all();
}

void setInitError(bool fail)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.initError = fail;
}

void failWrites(int count, int after)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failWrites = count;
    s.writesBeforeFailure = after;
}

void setPadStatusReport(bool pad)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.padStatusReport = pad;
}

void queueInputReport(const std::vector<std::uint8_t>& report)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::deliverLocked({report});
}

void withRom(const std::function<void(morvsim::ImxRom&)>& f)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::makeRomUnlessThereLocked();
    f(*s.rom);
}

Stats stats()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.stats;
}

}  // namespace fakehid
