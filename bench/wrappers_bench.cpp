// Cost of the C-callable wrappers: one wrapper call next to the same
// SystemClass call on the same link to the simulated module (the wrapper's
// share should vanish in the round trip), registry lookups and bare wrapper
// calls from many threads on distinct devices, and calls on one device while
// another thread is blocked on a silent one.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CCAMap.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "SimSystemEntity.h"
#include "SystemClass.h"
#include "morvwrappers.h"

namespace {

using namespace Zorventa::Morvasset;
using morvsim::ModuleSimulator;
using morvsim::SimModule;

constexpr std::uint8_t kAddress = 6;
constexpr int kThreads = 8;

// A simulated module on TCP and a registered Module connected to it.
class Hub {
public:
    Hub(const char* ip, std::uint32_t serial) : sim_(SimModule(kAddress, serial, 19))
    {
        sim_.withModule(kAddress, [](SimModule& m) { morvsim::installSystemEntity(m); });
        linkSpec spec = benchsupport::tcpSpec(ip, sim_.listenTcp(ip));
        spec.serialNumber = serial;

        auto module = std::make_unique<Module>(std::uint8_t(0), true, std::uint8_t(0));
        if (module->setConfig(benchsupport::directConfig()) != aErrNone || module->connectFromSpec(spec) != aErrNone)
            throw std::runtime_error("no connection to the simulated module");
        module_ = module.get();
        if (registerDevice(std::move(module), &id_) != aErrNone)
            throw std::runtime_error("registration failed");
    }
    ~Hub() { removeDevice(id_); }

    const std::uint32_t* id() const { return &id_; }
    Module* module() const { return module_; }
    ModuleSimulator& sim() { return sim_; }

private:
    ModuleSimulator sim_;
    std::uint32_t id_ = 0;
    Module* module_ = nullptr;
};

Hub& sharedHub()
{
    static Hub hub("127.0.0.2", 0x0BE7C401);
    return hub;
}

void BM_SystemClassRoundTrip(benchmark::State& state)
{
    Hub& hub = sharedHub();
    for (auto _ : state) {
        SystemClass system;
        system.init(hub.module(), 0);
        std::uint32_t serial = 0;
        if (system.getSerialNumber(&serial) != aErrNone)
            state.SkipWithError("getSerialNumber failed");
        benchmark::DoNotOptimize(serial);
    }
}
BENCHMARK(BM_SystemClassRoundTrip)->UseRealTime();

void BM_WrapperRoundTrip(benchmark::State& state)
{
    Hub& hub = sharedHub();
    for (auto _ : state) {
        Result r{};
        system_getSerialNumber(hub.id(), &r, 0);
        if (r.error != aErrNone)
            state.SkipWithError("system_getSerialNumber failed");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_WrapperRoundTrip)->UseRealTime();

// Unconnected devices, one per thread: the wrapper's own work without I/O.
std::vector<std::uint32_t> idleDevices()
{
    static std::vector<std::uint32_t> ids = [] {
        std::vector<std::uint32_t> out(kThreads);
        for (auto& id : out)
            registerDevice(std::make_unique<Module>(std::uint8_t(0), std::uint8_t(0)), &id);
        return out;
    }();
    return ids;
}

void BM_LookupDistinctDevices(benchmark::State& state)
{
    const std::uint32_t id = idleDevices()[static_cast<std::size_t>(state.thread_index()) % kThreads];
    for (auto _ : state)
        benchmark::DoNotOptimize(CCAMap.findDevice(id));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupDistinctDevices)->Threads(1)->Threads(kThreads)->UseRealTime();

void BM_WrapperCallWithoutIO(benchmark::State& state)
{
    const std::uint32_t id = idleDevices()[static_cast<std::size_t>(state.thread_index()) % kThreads];
    for (auto _ : state) {
        Result r{};
        system_getSerialNumber(&id, &r, 0);  // not connected: 25 at once
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrapperCallWithoutIO)->Threads(1)->Threads(kThreads)->UseRealTime();

// Calls on the shared hub while another thread keeps waiting on a silent
// module; compare with BM_WrapperRoundTrip.
void BM_WrapperBesideBlockedDevice(benchmark::State& state)
{
    Hub& hub = sharedHub();
    static Hub silent("127.0.0.3", 0x0BE7C402);
    morvsim::Faults faults;
    faults.silent = true;
    silent.sim().setFaults(faults);
    std::atomic<bool> stop{false};
    std::atomic<int> blockedCalls{0};
    std::thread blocker([&] {
        while (!stop.load()) {
            Result r{};
            system_getSerialNumber(silent.id(), &r, 0);  // waits out its time-out
            ++blockedCalls;
        }
    });
    for (auto _ : state) {
        Result r{};
        system_getSerialNumber(hub.id(), &r, 0);
        if (r.error != aErrNone)
            state.SkipWithError("system_getSerialNumber failed");
    }
    stop = true;
    blocker.join();
    state.counters["blocked_calls"] = blockedCalls.load();
}
BENCHMARK(BM_WrapperBesideBlockedDevice)->UseRealTime()->MinTime(1.5);

}  // namespace

BENCHMARK_MAIN();
