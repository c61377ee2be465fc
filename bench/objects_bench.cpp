// Link against the module simulator over TCP loopback: one caller's entity
// get with and without the link's turn, gets from several threads on one
// link, byte-buffer transfers
// (next to a bare socket carrying the same wire bytes), streamed samples to a
// callback with their latency, and the idle CPU of a Link with a stream.
#include "BenchSupport.h"
#include "EntityClass.h"
#include "Link.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "SimEntities.h"
#include "SimStreams.h"
#include "aUEI.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kModule = 4;

Bytes pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return b;
}

// One simulated module on its own loopback address, and a Link connected to it.
struct Rig {
    explicit Rig(const char* ip) : sim(SimModule(kModule, 0x1234, 19))
    {
        sim.withModule(kModule, [](SimModule& m) {
            morvsim::installEntityHandler(m, 3);
            morvsim::installStreamControl(m);
        });
        link.setConfig(benchsupport::directConfig());
        link.setLinkSpecifier(benchsupport::tcpSpec(ip, sim.listenTcp(ip)));
        ok = link.connect() == aErrNone;
    }

    ModuleSimulator sim;
    Link link{"Link"};
    bool ok = false;
};

uei makeRequest(std::uint8_t option, int type)
{
    uei r;
    r.module = kModule;
    r.command = 3;
    r.option = option;
    r.specifier = 0x20;
    r.type = type;
    return r;
}

uei makeExpected(std::uint8_t option)
{
    uei r;
    r.module = kModule;
    r.command = 3;
    r.option = option;
    r.specifier = 0;
    return r;
}

// ---------------------------------------------------------------- entity round trip

// One caller's u32 get on its own link. Arg 0: the steps of a get without a
// turn on the link, as gets were made before they took turns (stream cache,
// request, reply); arg 1: EntityClass::getUEI32 as it is, which also takes
// the link's turn and drops stale replies before it asks.
void BM_EntityGetRoundTrip(benchmark::State& state)
{
    const bool current = state.range(0) != 0;
    Rig rig(current ? "127.0.0.24" : "127.0.0.23");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    rig.sim.withModule(kModule, [](SimModule& m) { m.entities[morvsim::entityKey(3, 7, 0)] = morvsim::u32(7); });
    Module module(kModule, false, 0);
    module.setConfig(benchsupport::directConfig());
    linkSpec spec;
    rig.link.getLinkSpecifier(&spec);
    if (module.connectFromSpec(spec) != aErrNone) {
        state.SkipWithError("no module");
        return;
    }
    Link& link = *module.getLink();
    EntityClass entity;
    entity.init(&module, 3, 0);
    std::int64_t failures = 0;
    for (auto _ : state) {
        std::uint32_t value = 0;
        if (current) {
            if (entity.getUEI32(7, &value) != aErrNone)
                ++failures;
        } else {
            std::uint32_t cached = 0;
            uei reply = makeExpected(7);
            if (link.getStreamValue(kModule, 3, 7, 0, 0, &cached) != aErrNotFound ||
                link.sendUEI(makeRequest(0x40 | 7, ueiTypeVoid)) != aErrNone ||
                link.receiveUEI(kModule, 3, 7, 0, &reply) != aErrNone)
                ++failures;
            value = reply.v.intVal;
        }
        if (value != 7)
            ++failures;
    }
    state.SetLabel(current ? "after: turn + stale drop" : "before: no turn");
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_EntityGetRoundTrip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Gets from several threads, each with its own Module on the one shared link:
// the aggregate rate (items_per_second). Arg 0: the number of threads; arg 1:
// 0 when each thread reads an entity option of its own, 1 when all read the
// same one (their replies could be confused, so they take turns). The CPU of
// the whole process per get (cpu_us_per_get) is less at the mercy of a
// loaded machine than the rate.
void BM_EntityGetsFromThreads(benchmark::State& state)
{
    constexpr int kGets = 4000;
    const int threads = static_cast<int>(state.range(0));
    const bool sameOption = state.range(1) != 0;
    Rig rig(sameOption ? "127.0.0.29" : "127.0.0.28");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    rig.sim.withModule(kModule, [](SimModule& m) {
        for (std::uint8_t option = 1; option <= 8; ++option)
            m.entities[morvsim::entityKey(3, option, 0)] = morvsim::u32(option);
    });
    linkSpec spec;
    rig.link.getLinkSpecifier(&spec);
    std::vector<std::unique_ptr<Module>> modules;
    for (int t = 0; t < threads; ++t) {
        modules.push_back(std::make_unique<Module>(kModule, false, 0));
        modules.back()->setConfig(benchsupport::directConfig());
        if (modules.back()->connectFromSpec(spec) != aErrNone) {
            state.SkipWithError("no module");
            return;
        }
    }
    std::atomic<std::int64_t> failures{0};
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        const auto start = Clock::now();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                EntityClass entity;
                entity.init(modules[static_cast<std::size_t>(t)].get(), 3, 0);
                const auto option = static_cast<std::uint8_t>(sameOption ? 1 : 1 + t % 8);
                for (int n = 0; n < kGets / threads; ++n) {
                    std::uint32_t value = 0;
                    if (entity.getUEI32(option, &value) != aErrNone || value != option)
                        ++failures;
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const std::int64_t gets = state.iterations() * (kGets / threads) * threads;
    state.SetItemsProcessed(gets);
    state.counters["failures"] = static_cast<double>(failures.load());
    state.counters["cpu_us_per_get"] = (processCpuSeconds() - cpu0) * 1e6 / static_cast<double>(gets);
}
BENCHMARK(BM_EntityGetsFromThreads)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// ---------------------------------------------------------------- byte buffers

void BM_ByteBufferSet64K(benchmark::State& state)
{
    Rig rig("127.0.0.21");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    const Bytes data = pattern(64 * 1024);
    rig.sim.withModule(kModule, [](SimModule& m) { m.entities[morvsim::bufferKey(3, 30, 0)] = {}; });
    std::int64_t failures = 0;
    for (auto _ : state) {
        uei r = makeRequest(0x80 | 30, ueiTypeBytes);
        r.v.bufPtr = const_cast<std::uint8_t*>(data.data());
        r.count = data.size();
        uei reply = makeExpected(0xC0 | 30);
        reply.type = ueiTypeBytes;
        reply.count = data.size();
        if (rig.link.sendUEI(r) != aErrNone ||
            rig.link.receiveUEI(kModule, 3, reply.option, 0, &reply) != aErrNone || (reply.specifier & 0x80))
            ++failures;
    }
    const bool intact = rig.sim.module(kModule).entities.at(morvsim::bufferKey(3, 30, 0)) == data;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["intact"] = intact ? 1 : 0;
}
BENCHMARK(BM_ByteBufferSet64K)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same wire bytes (2731 packets of a 64 KiB set) through a bare TCP
// socket to a peer that answers with one byte when all came.
void BM_BareSocketSet64K(benchmark::State& state)
{
    const std::size_t packets = (64 * 1024 + 23) / 24;
    const std::size_t wire = packets * 30 - (packets * 24 - 64 * 1024);
    const Bytes bytes = pattern(wire);

    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.22");
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        state.SkipWithError("no socket");
        if (listener >= 0)
            ::close(listener);
        return;
    }
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        std::vector<char> buffer(65536);
        std::size_t got = 0;
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
            while (got >= wire) {
                got -= wire;
                char ack = 1;
                if (::send(fd, &ack, 1, MSG_NOSIGNAL) != 1)
                    break;
            }
        }
        ::close(fd);
    });
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    if (fd >= 0)
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // as a packet stream needs
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("no connection");
    } else {
        for (auto _ : state) {
            // One write per packet, as the link's writer does.
            for (std::size_t off = 0; off < wire; off += 30) {
                const std::size_t n = std::min<std::size_t>(30, wire - off);
                if (::send(fd, bytes.data() + off, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
                    state.SkipWithError("send failed");
            }
            char ack;
            if (::recv(fd, &ack, 1, 0) != 1)
                state.SkipWithError("no answer");
        }
        state.SetBytesProcessed(state.iterations() * 64 * 1024);
    }
    stop = true;
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    peer.join();
    if (fd >= 0)
        ::close(fd);
    ::close(listener);
}
BENCHMARK(BM_BareSocketSet64K)->Unit(benchmark::kMillisecond)->UseRealTime();

struct BufferReceive {
    uei record;
    std::uint8_t* buffer;
    std::size_t capacity;
    std::size_t received;
};

std::uint8_t bufferFilter(const aPacket* packet, const void* ref)
{
    auto* r = static_cast<BufferReceive*>(const_cast<void*>(ref));
    if (packet->address != r->record.module || packet->dataSize < 4 || packet->data[0] != r->record.command ||
        packet->data[1] != r->record.option || (packet->data[2] & 0x1F) != r->record.specifier ||
        aUEI_getBytesSequence(packet) != r->record.sequence)
        return 0;
    const std::size_t n = packet->dataSize - 4u;
    if (r->received + n > r->capacity)
        return 0;
    std::memcpy(r->buffer + r->received, packet->data + 3, n);
    r->received += n;
    r->record.continued = aUEI_getBytesContinue(packet) ? 1 : 0;
    return 1;
}

void BM_ByteBufferGet4K(benchmark::State& state)
{
    Rig rig("127.0.0.23");
    if (!rig.ok) {
        state.SkipWithError("no link");
        return;
    }
    const Bytes data = pattern(4096);
    rig.sim.withModule(kModule, [&](SimModule& m) { m.entities[morvsim::bufferKey(3, 31, 0)] = data; });
    Bytes buffer(data.size());
    std::int64_t failures = 0;
    for (auto _ : state) {
        BufferReceive r{makeExpected(31), buffer.data(), buffer.size(), 0};
        bool ok = rig.link.sendUEI(makeRequest(0x40 | 31, ueiTypeVoid)) == aErrNone;
        while (ok) {
            ok = rig.link.receiveUEI(kModule, 3, 31, 0, &r.record, &bufferFilter) == aErrNone;
            if (!ok || !r.record.continued)
                break;
            r.record.sequence = static_cast<std::uint8_t>((r.record.sequence + 1) & 0x7F);
        }
        if (!ok || r.received != data.size() || buffer != data)
            ++failures;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_ByteBufferGet4K)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- streams

std::uint64_t nowNs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

struct LatencyLog {
    std::vector<std::uint64_t> ns;  // written by the worker only
    std::atomic<std::uint64_t> delivered{0};

    static std::uint8_t record(const aPacket* packet, void* ref)
    {
        auto* self = static_cast<LatencyLog*>(ref);
        std::uint64_t sent = 0;
        if (Link::getStreamSample(packet, &sent, nullptr, nullptr) == aErrNone && self->ns.size() < self->ns.capacity())
            self->ns.push_back(nowNs() - sent);
        self->delivered.fetch_add(1, std::memory_order_release);
        return 0;
    }
};

// Bursts of samples as one write each, at most the callback queue's room at a time.
void BM_StreamSamplesToCallback(benchmark::State& state)
{
    constexpr int kBurst = 400;
    Rig rig("127.0.0.24");
    LatencyLog log;
    log.ns.reserve(4000000);
    if (!rig.ok || rig.link.registerStreamCallback(kModule, 10, 5, 0, true, &LatencyLog::record, &log) != aErrNone) {
        state.SkipWithError("no stream");
        return;
    }
    std::uint64_t sent = 0;
    bool stalled = false;
    for (auto _ : state) {
        Bytes raw;
        raw.reserve(kBurst * 16);
        for (int i = 0; i < kBurst; ++i) {
            const Bytes d = morvsim::streamSample(3, 10, 5, 0, 0, nowNs(), static_cast<std::uint32_t>(sent + i));
            raw.push_back(kModule);
            raw.push_back(static_cast<std::uint8_t>(d.size()));
            for (std::uint8_t b : d)
                raw.push_back(b);
        }
        rig.sim.sendRaw(raw);
        sent += kBurst;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (log.delivered.load(std::memory_order_acquire) < sent && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (log.delivered.load() < sent) {
            stalled = true;
            break;
        }
    }
    rig.link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr);  // joins the worker
    std::vector<std::uint64_t> ns = log.ns;
    std::sort(ns.begin(), ns.end());
    auto pct = [&](double p) {
        return ns.empty() ? 0.0 : static_cast<double>(ns[static_cast<std::size_t>(p * (ns.size() - 1))]) / 1000.0;
    };
    state.SetItemsProcessed(static_cast<std::int64_t>(log.delivered.load()));
    state.counters["dropped"] = static_cast<double>(sent - log.delivered.load());
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
    if (stalled)
        state.SkipWithError("samples lost");
}
BENCHMARK(BM_StreamSamplesToCallback)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One sample at a time, each awaited: the latency of a lone sample meeting an idle worker.
void BM_StreamSampleLatencyIdle(benchmark::State& state)
{
    Rig rig("127.0.0.25");
    LatencyLog log;
    log.ns.reserve(1000000);
    if (!rig.ok || rig.link.registerStreamCallback(kModule, 10, 5, 0, true, &LatencyLog::record, &log) != aErrNone) {
        state.SkipWithError("no stream");
        return;
    }
    std::uint64_t sent = 0;
    for (auto _ : state) {
        rig.sim.sendPacket(kModule, morvsim::streamSample(3, 10, 5, 0, 0, nowNs(), 1));
        ++sent;
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (log.delivered.load(std::memory_order_acquire) < sent && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        // Let the worker go idle again.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    rig.link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr);
    std::vector<std::uint64_t> ns = log.ns;
    std::sort(ns.begin(), ns.end());
    auto pct = [&](double p) {
        return ns.empty() ? 0.0 : static_cast<double>(ns[static_cast<std::size_t>(p * (ns.size() - 1))]) / 1000.0;
    };
    state.counters["dropped"] = static_cast<double>(sent - log.delivered.load());
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
}
BENCHMARK(BM_StreamSampleLatencyIdle)->Iterations(500)->Unit(benchmark::kMicrosecond)->UseRealTime();

// ---------------------------------------------------------------- idle CPU

// CPU of the whole process (link threads, worker, simulator) over 3 s with
// no traffic: with a registered stream (range 1) and without (range 0).
void BM_IdleCpuOfLink(benchmark::State& state)
{
    Rig rig(state.range(0) ? "127.0.0.26" : "127.0.0.27");
    LatencyLog log;
    if (!rig.ok ||
        (state.range(0) &&
         rig.link.registerStreamCallback(kModule, 10, 5, 0, true, &LatencyLog::record, &log) != aErrNone)) {
        state.SkipWithError("no link");
        return;
    }
    double percent = 0;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        percent = 100.0 * (processCpuSeconds() - cpu0) / wall;
    }
    state.counters["cpu_percent_of_one_core"] = percent;
}
BENCHMARK(BM_IdleCpuOfLink)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
