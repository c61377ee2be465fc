// Firmware transfer through UpdaterEntity to the simulated loader over TCP
// loopback: one 256 KiB firmware block (PREPARE, then per chunk of the
// loader's block size the data, SUM and WRITE) by the DATA packet path, the
// entity byte-buffer path and the byte-buffer path with pooled packets.
//
// Each figure stands next to the protocol's minimum measured on the same link
// in the same run:
//   rtt_us        one request of 28 data bytes and its answer (echo), median;
//   stream_us     each further packet of a burst of 28-byte packets (raw
//                 packets the module does not answer, then one echo);
//   minimum       DATA path: round trips x rtt; byte-buffer path: per set
//                 rtt + (packets - 1) x stream, plus the PREPARE, SUM and WRITE
//                 round trips. The protocol has no wait of its own here.
//   ratio         measured time / minimum (target: at most 1.5).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "Link.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "SimFirmwareLoader.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterEntity.h"

namespace {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using Clock = std::chrono::steady_clock;
using benchsupport::secondsSince;

constexpr const char* kIp = "127.0.0.61";
constexpr std::uint8_t kAddress = 4;
constexpr std::uint32_t kImageBytes = 256 * 1024;
constexpr std::uint16_t kBlockSize = 4096;
constexpr std::uint8_t kSilentCommand = 0x31;  // no handler: never answered

struct NullDisplay : UpdaterDisplayInterface {
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char*) override {}
    void error_message(const char*) override {}
};

struct Rig {
    explicit Rig(bool ueiData)
        : sim(morvsim::SimModule(kAddress, 0x0B0B0001, 19))
    {
        morvsim::SystemValues values;
        values.protocolFeatures = 0x80000000u;
        sim.withModule(kAddress, [&](morvsim::SimModule& m) {
            morvsim::installSystemEntity(m, values);
            morvsim::installIntrospection(m, morvsim::IntrospectionTable());
            morvsim::installEcho(m);
        });
        const std::uint16_t port = sim.listenTcp(kIp);
        morvsim::LoaderConfig config;
        config.blockSize = kBlockSize;
        config.flashSize = kImageBytes;
        config.ueiData = ueiData;
        config.listenIp = kIp;
        loader = std::make_unique<morvsim::SimFirmwareLoader>(sim, kAddress, config);
        loader->setStage(morvsim::LoaderStage::Loader);

        module = std::make_unique<Module>(0, true, 0);
        module->setConfig(benchsupport::directConfig());
        ok = module->connectFromSpec(benchsupport::tcpSpec(kIp, port)) == aErrNone;
    }

    ~Rig()
    {
        module.reset();
        loader.reset();
    }

    // Median time of one echo of 27 bytes (28 data bytes with the command).
    double roundTrip()
    {
        std::uint8_t probe[27];
        for (std::size_t i = 0; i < sizeof(probe); ++i)
            probe[i] = static_cast<std::uint8_t>(i);
        std::vector<double> times;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            if (module->debug(probe, sizeof(probe)) != aErrNone)
                return 0;
            times.push_back(secondsSince(start));
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    }

    // A burst of n unanswered 28-byte packets, then one echo: its time.
    double burst(unsigned n)
    {
        std::uint8_t data[27] = {};
        std::uint8_t probe[1] = {9};
        const auto start = Clock::now();
        for (unsigned i = 0; i < n; ++i)
            module->getLink()->sendPacket(kAddress, kSilentCommand, sizeof(data), data);
        if (module->debug(probe, sizeof(probe)) != aErrNone)
            return 0;
        return secondsSince(start);
    }

    // Time of each further packet of a burst (median of a few bursts).
    double streamCost(unsigned n)
    {
        std::vector<double> costs;
        for (int i = 0; i < 7; ++i) {
            const double one = burst(1);
            const double many = burst(n);
            costs.push_back(std::max(0.0, (many - one) / (n - 1)));
        }
        std::sort(costs.begin(), costs.end());
        sim.clearRecords();
        return costs[costs.size() / 2];
    }

    morvsim::ModuleSimulator sim;
    std::unique_ptr<morvsim::SimFirmwareLoader> loader;
    std::unique_ptr<Module> module;
    bool ok = false;
};

enum class Path { Data, Uei, UeiPooled };

void transfer(benchmark::State& state, Path path)
{
    Rig rig(path != Path::Data);
    if (!rig.ok) {
        state.SkipWithError("no connection to the simulator");
        return;
    }
    UpdaterEntity entity;
    entity.init(rig.module.get(), 0, true, false);
    if (path != Path::Data && entity.CheckUEIDataSupport() != aErrNone) {
        state.SkipWithError("byte-buffer path not offered");
        return;
    }
    if (path == Path::UeiPooled)
        entity.CheckPooledPacketsSupport();

    const unsigned perSet = (kBlockSize + 23) / 24;
    const unsigned chunks = (kImageBytes + kBlockSize - 1) / kBlockSize;
    Bytes block(4 + kImageBytes);
    for (std::size_t i = 4; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 131 + 7);
    NullDisplay display;
    double total = 0;
    double minimumTotal = 0;
    double rttTotal = 0;
    double streamTotal = 0;
    for (auto _ : state) {
        // The link's figures are taken right before each transfer, so that the
        // load of the machine weighs on both alike.
        state.PauseTiming();
        rig.sim.clearRecords();
        const double rtt = rig.roundTrip();
        const double stream = rig.streamCost(perSet);
        state.ResumeTiming();
        const auto start = Clock::now();
        std::uint16_t size = 0;
        aErr err = entity.TransferPrepare(block.data(), static_cast<std::uint32_t>(block.size()), 0, size);
        if (err == aErrNone)
            err = entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), size, display);
        const double took = secondsSince(start);
        state.SetIterationTime(took);
        if (err != aErrNone) {
            state.SkipWithError("transfer failed");
            return;
        }
        total += took;
        rttTotal += rtt;
        streamTotal += stream;
        if (path == Path::Data)
            minimumTotal += (1.0 + chunks * (std::ceil(kBlockSize / 26.0) + 2.0)) * rtt;
        else
            minimumTotal += (1.0 + chunks * 2.0) * rtt + chunks * (rtt + (perSet - 1) * stream);
    }
    if (rig.loader->flash(0, kImageBytes) != Bytes(block.begin() + 4, block.end())) {
        state.SkipWithError("flash differs from the image");
        return;
    }
    const double n = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
    state.counters["rtt_us"] = rttTotal / n * 1e6;
    state.counters["stream_us"] = streamTotal / n * 1e6;
    state.counters["minimum_ms"] = minimumTotal / n * 1e3;
    state.counters["time_ms"] = total / n * 1e3;
    state.counters["ratio"] = minimumTotal > 0 ? total / minimumTotal : 0;
}

void BM_Transfer_DataPackets(benchmark::State& state)
{
    transfer(state, Path::Data);
}
void BM_Transfer_ByteBufferSets(benchmark::State& state)
{
    transfer(state, Path::Uei);
}
void BM_Transfer_ByteBufferSetsPooled(benchmark::State& state)
{
    transfer(state, Path::UeiPooled);
}

BENCHMARK(BM_Transfer_DataPackets)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transfer_ByteBufferSets)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transfer_ByteBufferSetsPooled)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
