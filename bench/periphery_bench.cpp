// The packet log against the module simulator over TCP loopback: a Link's
// round trip and receive throughput with the log off and on (same run), the
// logger's drain rate, and how many records it loses at a given packet rate.
#include "BenchSupport.h"
#include "LinkImpl.h"
#include "ModuleSimulator.h"
#include "SimIntrospection.h"
#include "TempDir.h"
#include "aFile.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aLogger.h"
#include "aPacketDebug.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kModule = 4;

// One simulated module with the echo command on its own loopback address,
// and a Link connected to it.
struct Rig {
    explicit Rig(const char* ip) : sim(SimModule(kModule, 0x1234, 19))
    {
        sim.withModule(kModule, [](SimModule& m) { morvsim::installEcho(m); });
        link.setConfig(benchsupport::directConfig());
        link.setLinkSpecifier(benchsupport::tcpSpec(ip, sim.listenTcp(ip)));
        ok = link.connect() == aErrNone;
    }

    ModuleSimulator sim;
    Link link{"Link"};
    morvtest::TempDir dir;
    bool ok = false;
};

std::size_t countLines(const std::string& path, const std::string& prefix)
{
    std::ifstream in(path, std::ios::binary);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++n;
    return n;
}

// ---------------------------------------------------------------- through a Link

// One echo request and its answer (27 data bytes each way); "logged" counts
// the answers in the file.
void BM_EchoRoundTrip(benchmark::State& state)
{
    Rig rig(state.range(0) ? "127.0.0.31" : "127.0.0.32");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    const bool logged = state.range(0) != 0;
    const std::string path = rig.dir.sub("echo.log");
    if (logged && rig.link.enablePacketLog(path.c_str()) != aErrNone) {
        state.SkipWithError("no packet log");
        return;
    }
    std::uint8_t data[26];
    for (std::size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<std::uint8_t>(i);
    std::int64_t failures = 0;
    for (auto _ : state) {
        const std::uint8_t match[] = {morvsim::kEchoCommand};
        std::uint8_t length = 1;
        std::uint8_t reply[28];
        if (rig.link.sendPacket(kModule, morvsim::kEchoCommand, sizeof data, data) != aErrNone ||
            rig.link.receivePacket(kModule, match, &length, reply) != aErrNone)
            ++failures;
    }
    if (logged)
        rig.link.disablePacketLog();
    state.SetItemsProcessed(state.iterations());
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["logged"] = logged ? static_cast<double>(countLines(path, "29 < ")) : 0;
}
BENCHMARK(BM_EchoRoundTrip)->ArgName("log")->Arg(0)->Arg(1)->UseRealTime();

// Bursts of 500 packets from the module, each taken off the input queue.
void BM_ReceiveThroughput(benchmark::State& state)
{
    Rig rig(state.range(0) ? "127.0.0.33" : "127.0.0.34");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    const bool logged = state.range(0) != 0;
    const std::string path = rig.dir.sub("receive.log");
    if (logged && rig.link.enablePacketLog(path.c_str()) != aErrNone) {
        state.SkipWithError("no packet log");
        return;
    }
    constexpr int kBurst = 500;
    Bytes payload(26, 0x5A);
    payload[0] = 9;
    std::int64_t missing = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i)
            rig.sim.sendPacket(kModule, payload);
        for (int i = 0; i < kBurst; ++i) {
            const std::uint8_t match[] = {9};
            std::uint8_t length = 1;
            std::uint8_t data[28];
            if (rig.link.receivePacket(kModule, match, &length, data) != aErrNone) {
                missing += kBurst - i;
                break;
            }
        }
    }
    if (logged)
        rig.link.disablePacketLog();
    state.SetItemsProcessed(state.iterations() * kBurst);
    state.counters["missing"] = static_cast<double>(missing);
}
BENCHMARK(BM_ReceiveThroughput)->ArgName("log")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- the logger

// A TCP link of the engine to a simulated module, by id.
struct EngineRig {
    explicit EngineRig(const char* ip, int logSize) : sim(kModule)
    {
        const std::uint16_t port = sim.listenTcp(ip);
        id = aLink_CreateTCPIP(inet_addr(ip), port);
        ok = id != 0 && aLink_PacketDebug_SetLogSize(id, logSize) == aErrNone &&
             aLink_PacketDebug_Enable(id) == aErrNone;
    }
    ~EngineRig()
    {
        if (id != 0)
            aLink_Destroy(&id);
    }
    // True once the log holds no record, false after the time-out.
    bool awaitEmptyLog(std::chrono::milliseconds timeout)
    {
        aLink* record = sGetLink(id);
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            aMutex* mutex = record->logMutex.load(std::memory_order_acquire);
            aMutex_Lock(mutex);
            aPacketLog* log = record->log.load(std::memory_order_acquire);
            const bool empty = log->readPos == log->writePos;
            aMutex_Unlock(mutex);
            if (empty)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    ModuleSimulator sim;
    morvtest::TempDir dir;
    int id = 0;
    bool ok = false;
};

// The writer on its own: records of a received full packet, moved to the file.
void BM_LoggerDrain(benchmark::State& state)
{
    EngineRig rig("127.0.0.35", 0);
    const std::string path = rig.dir.sub("drain.log");
    aFile* file = aFile_Open(path.c_str(), aFILE_MODE_APPEND);
    if (!rig.ok || !file || aFile_SetUnbuffered(file) != aErrNone) {
        state.SkipWithError("no log");
        if (file)
            aFile_Close(&file);
        return;
    }
    constexpr int kRecords = 1000;  // 32 ring bytes each: well within the default ring
    std::uint8_t wire[30];
    wire[0] = kModule;
    wire[1] = 28;
    for (std::size_t i = 2; i < sizeof wire; ++i)
        wire[i] = static_cast<std::uint8_t>(i * 9);
    std::int64_t failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kRecords; ++i)
            aLink_PacketDebug_Write(rig.id, aPACKETLOG_RECEIVED, sizeof wire, wire);
        state.ResumeTiming();
        for (int i = 0; i < kRecords; ++i)
            if (Link::impl::readDebugBuffer(file, rig.id) != aErrNone)
                ++failures;
    }
    aFile_Close(&file);
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_LoggerDrain)->UseRealTime()->Unit(benchmark::kMillisecond);

// One second of full packets from the module at a given rate (0: 20000 as
// fast as the simulator sends them) into a ring of a given size, with the
// logger thread writing the file: how many records it wrote and how many the
// ring dropped. The writer sleeps 5 ms whenever it finds the ring empty, so a
// ring smaller than 5 ms of traffic overflows.
void BM_LoggerLossAtRate(benchmark::State& state)
{
    const std::int64_t rate = state.range(0);
    const int ring = static_cast<int>(state.range(1));
    const int packets = rate > 0 ? static_cast<int>(rate) : 20000;
    for (auto _ : state) {
        EngineRig rig("127.0.0.36", ring);
        const std::string path = rig.dir.sub("loss.log");
        aLogger* logger = rig.ok ? aLogger_Create(rig.id, &Link::impl::readDebugBuffer, path.c_str()) : nullptr;
        if (!logger || aLogger_Enable(logger) != aErrNone) {
            state.SkipWithError("no logger");
            aLogger_Destroy(&logger);
            return;
        }
        // The host takes every packet off the input queue.
        std::atomic<int> received{0};
        std::atomic<bool> stop{false};
        std::thread consumer([&] {
            while (!stop) {
                aPacket* packet = aLink_AwaitPacket(rig.id, 50);
                if (packet) {
                    ++received;
                    aPacket_Destroy(&packet);
                }
            }
        });
        Bytes payload(28, 0xA5);
        payload[0] = 9;
        const auto start = Clock::now();
        for (int i = 0; i < packets; ++i) {
            if (rate > 0 && i % 10 == 0)
                std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000LL / rate));
            rig.sim.sendPacket(kModule, payload);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (received < packets && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rig.awaitEmptyLog(std::chrono::seconds(5));
        aLogger_Destroy(&logger);
        stop = true;
        consumer.join();
        const std::size_t logged = countLines(path, "30 < ");
        state.counters["received"] = received.load();
        state.counters["logged"] = static_cast<double>(logged);
        state.counters["lost"] = static_cast<double>(packets - static_cast<std::int64_t>(logged));
        state.counters["packets_per_s"] = received.load() / seconds;
    }
}
BENCHMARK(BM_LoggerLossAtRate)
    ->ArgNames({"rate", "ring"})
    ->Args({2000, 4096})
    ->Args({10000, 4096})
    ->Args({50000, 4096})
    ->Args({0, 4096})
    ->Args({10000, 65536})
    ->Args({50000, 65536})
    ->Args({0, 65536})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
