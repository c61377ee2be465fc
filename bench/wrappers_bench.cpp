// Cost of the C-callable wrappers: one wrapper call next to the same
// SystemClass call on the same link to the simulated module, interleaved
// (the wrapper's share should vanish in the round trip), registry lookups and bare wrapper
// calls from many threads on distinct devices, and calls on one device while
// another thread is blocked on a silent one.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
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

aErr directRoundTrip(Module* module)
{
    SystemClass system;
    system.init(module, 0);
    std::uint32_t serial = 0;
    const aErr err = system.getSerialNumber(&serial);
    benchmark::DoNotOptimize(serial);
    return err;
}

aErr wrappedRoundTrip(const std::uint32_t* id)
{
    Result r{};
    system_getSerialNumber(id, &r, 0);
    benchmark::DoNotOptimize(r);
    return static_cast<aErr>(r.error);
}

double medianOf(std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

// The same SystemClass call directly and through its wrapper, one of each per
// iteration (their order alternating), so that a change of load hits both
// alike; the ratio of the medians is the wrapper's cost.
void BM_DirectAndWrappedRoundTrip(benchmark::State& state)
{
    Hub& hub = sharedHub();
    std::vector<double> direct;
    std::vector<double> wrapped;
    bool directFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool isDirect = (turn == 0) == directFirst;
            const auto start = benchsupport::Clock::now();
            const aErr err = isDirect ? directRoundTrip(hub.module()) : wrappedRoundTrip(hub.id());
            const double micros = benchsupport::microsSince(start);
            if (err != aErrNone)
                state.SkipWithError("getSerialNumber failed");
            (isDirect ? direct : wrapped).push_back(micros);
        }
        directFirst = !directFirst;
    }
    const double directMedian = medianOf(direct);
    const double wrappedMedian = medianOf(wrapped);
    state.counters["direct_median_us"] = directMedian;
    state.counters["wrapped_median_us"] = wrappedMedian;
    state.counters["wrapped_over_direct"] = directMedian > 0.0 ? wrappedMedian / directMedian : 0.0;
}
BENCHMARK(BM_DirectAndWrappedRoundTrip)->UseRealTime()->MinTime(1.0);

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
// module; compare with wrapped_median_us of BM_DirectAndWrappedRoundTrip.
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
