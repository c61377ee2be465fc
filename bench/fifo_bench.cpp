// Packet hand-off between two threads through a packet FIFO, next to a bare
// mutex + condition variable queue carrying the same packet record.
//
// Latency: ping-pong; the sender stamps each packet, the receiver measures the
// one-way delay and answers, so every packet meets a sleeping receiver.
// Throughput: the sender streams with at most kWindow packets in flight (the
// receiver hands back credits), so the FIFO never reaches its cap.
#include "aPacketFifo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kTakeTimeoutMs = 10000;
constexpr int kWindow = 512;
constexpr int kCreditEvery = 64;
constexpr uint8_t kStop = 0xFF;

class FifoChannel {
public:
    FifoChannel() : id_(aPacketFifo_Create()) {}
    ~FifoChannel() { aPacketFifo_Destroy(&id_); }
    bool ok() const { return id_ != 0; }
    bool put(const aPacket& packet) { return aPacketFifo_Put(id_, &packet) == aErrNone; }
    bool take(aPacket& out) {
        aPacket* p = aPacketFifo_Await(id_, kTakeTimeoutMs);
        if (p == nullptr)
            return false;
        out = *p;
        aPacket_Destroy(&p);
        return true;
    }

private:
    aPacketFifoId id_;
};

class RawChannel {
public:
    bool ok() const { return true; }
    bool put(const aPacket& packet) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            queue_.push_back(packet);
        }
        arrived_.notify_all();
        return true;
    }
    bool take(aPacket& out) {
        std::unique_lock<std::mutex> held(lock_);
        if (!arrived_.wait_for(held, std::chrono::milliseconds(kTakeTimeoutMs), [this] { return !queue_.empty(); }))
            return false;
        out = queue_.front();
        queue_.pop_front();
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<aPacket> queue_;
};

aPacket payload() {
    uint8_t data[aPACKET_MAX_DATA] = {};
    aPacket* p = aPacket_CreateWithData(4, aPACKET_MAX_DATA, data);
    aPacket out = *p;
    aPacket_Destroy(&p);
    return out;
}

void stamp(aPacket& p) {
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    std::memcpy(p.data, &ns, sizeof ns);
}

double sinceStampUs(const aPacket& p) {
    int64_t ns = 0;
    std::memcpy(&ns, p.data, sizeof ns);
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    return static_cast<double>(now - ns) / 1000.0;
}

struct Figures {
    double p50Us = 0;
    double p99Us = 0;
    double packetsPerSecond = 0;
};
std::map<std::string, Figures> gFigures;

template <class Channel>
void BM_Latency(benchmark::State& state, const char* name) {
    Channel forth, back;
    if (!forth.ok() || !back.ok()) {
        state.SkipWithError("channel not created");
        return;
    }
    std::vector<double> samples;
    samples.reserve(1 << 20);
    std::thread echo([&] {
        aPacket p;
        while (forth.take(p) && p.data[8] != kStop) {
            if (samples.size() < samples.capacity())
                samples.push_back(sinceStampUs(p));
            back.put(p);
        }
    });
    aPacket p = payload();
    bool failed = false;
    for (auto _ : state) {
        stamp(p);
        if (!forth.put(p) || !back.take(p)) {
            state.SkipWithError("hand-off failed");
            failed = true;
            break;
        }
    }
    p.data[8] = kStop;
    forth.put(p);
    echo.join();
    if (failed || samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    Figures& f = gFigures[name];
    f.p50Us = samples[samples.size() / 2];
    f.p99Us = samples[samples.size() * 99 / 100];
    state.counters["p50_us"] = f.p50Us;
    state.counters["p99_us"] = f.p99Us;
}

template <class Channel>
void BM_Throughput(benchmark::State& state, const char* name) {
    Channel data, credits;
    if (!data.ok() || !credits.ok()) {
        state.SkipWithError("channel not created");
        return;
    }
    std::thread sink([&] {
        aPacket p;
        int received = 0;
        while (data.take(p) && p.data[8] != kStop) {
            if (++received % kCreditEvery == 0)
                credits.put(p);
        }
    });
    aPacket p = payload();
    int64_t sent = 0;
    int64_t credited = 0;
    bool failed = false;
    const auto start = Clock::now();
    for (auto _ : state) {
        if (sent - credited >= kWindow) {
            aPacket c;
            if (!credits.take(c)) {
                state.SkipWithError("hand-off failed");
                failed = true;
                break;
            }
            credited += kCreditEvery;
        }
        if (!data.put(p)) {
            state.SkipWithError("hand-off failed");
            failed = true;
            break;
        }
        ++sent;
    }
    p.data[8] = kStop;
    data.put(p);
    sink.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed)
        return;
    gFigures[name].packetsPerSecond = static_cast<double>(sent) / seconds;
    state.counters["packets_per_s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
}

void BM_FifoLatency(benchmark::State& s) { BM_Latency<FifoChannel>(s, "fifo"); }
void BM_RawLatency(benchmark::State& s) { BM_Latency<RawChannel>(s, "raw"); }
void BM_FifoThroughput(benchmark::State& s) { BM_Throughput<FifoChannel>(s, "fifo"); }
void BM_RawThroughput(benchmark::State& s) { BM_Throughput<RawChannel>(s, "raw"); }

BENCHMARK(BM_RawLatency)->UseRealTime();
BENCHMARK(BM_FifoLatency)->UseRealTime();
BENCHMARK(BM_RawThroughput)->UseRealTime();
BENCHMARK(BM_FifoThroughput)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const Figures& fifo = gFigures["fifo"];
    const Figures& raw = gFigures["raw"];
    std::printf("\nhand-off of one %zu-byte packet record between two threads\n", sizeof(aPacket));
    std::printf("%-34s %14s %14s\n", "", "packet FIFO", "raw mutex+cv");
    std::printf("%-34s %14.2f %14.2f\n", "one-way latency p50 (us)", fifo.p50Us, raw.p50Us);
    std::printf("%-34s %14.2f %14.2f\n", "one-way latency p99 (us)", fifo.p99Us, raw.p99Us);
    std::printf("%-34s %14.0f %14.0f\n", "streamed packets per second", fifo.packetsPerSecond, raw.packetsPerSecond);
    return 0;
}
