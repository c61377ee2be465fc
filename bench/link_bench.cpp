// The link engine over TCP loopback and a pseudo-terminal, each figure next to
// a baseline from the same run:
//   idle cost    a TCP link and a serial (pty) link open and idle for 2 s,
//                CPU time of the process, next to the same 2 s with no link;
//   round trip   a packet put into the link and its echo taken with
//                aLink_AwaitFirst, next to a bare socket ping-pong of the same
//                bytes against the same echo peer, and next to a two-thread
//                relay that makes the link's hand-offs with nothing else;
//   receive      a raw writer thread streams packets as fast as it can, the
//                link's input queue is drained by a consumer, every sequence
//                number checked; next to a bare socket reader framing the
//                same bytes;
//   send         packets put into the link (pooled and not), counted by a raw
//                reader; next to bare socket writes of one packet per call and
//                of 4080 bytes per call.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "PtyPair.h"
#include "aLink.h"
#include "aLinkRegistry.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using benchsupport::noDelay;
using benchsupport::readAll;
using benchsupport::secondsSince;
using benchsupport::writeAll;

constexpr std::uint8_t kModule = 4;
constexpr std::uint8_t kCommand = 0x30;

std::map<std::string, double> gFigures;

// A listening socket on 127.0.0.1 with a free port.
class Listener {
public:
    Listener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(fd_, 4) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        socklen_t length = sizeof(a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    std::uint16_t port() const { return port_; }
    static std::uint32_t address() { return htonl(INADDR_LOOPBACK); }
    // The next connection, or -1 after timeoutMs.
    int accept(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return -1;
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            noDelay(fd);
        return fd;
    }
    int connect()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = address();
        a.sin_port = htons(port_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            ::close(fd);
            return -1;
        }
        noDelay(fd);
        return fd;
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Frames a byte stream into packets (address, length, data).
class Framer {
public:
    // Returns true when a packet is complete in out.
    bool feed(std::uint8_t byte, Bytes& out)
    {
        if (state_ == 0) {
            address_ = byte;
            state_ = 1;
            return false;
        }
        if (state_ == 1) {
            length_ = byte;
            data_.clear();
            if (length_ == 0 || length_ > aPACKET_MAX_DATA) {
                state_ = 0;
                if (length_ == 0) {
                    out = {address_, 0};
                    return true;
                }
                return false;
            }
            state_ = 2;
            return false;
        }
        data_.push_back(byte);
        if (data_.size() < length_)
            return false;
        out.assign({address_, length_});
        out.insert(out.end(), data_.begin(), data_.end());
        state_ = 0;
        return true;
    }

private:
    int state_ = 0;
    std::uint8_t address_ = 0;
    std::uint8_t length_ = 0;
    Bytes data_;
};

// Echoes every packet addressed to a module (even address) on each accepted
// connection; link-level packets (odd addresses 0xAD, 0xAF) are dropped.
class EchoPeer {
public:
    EchoPeer()
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                int fd = listener_.accept(50);
                if (fd < 0)
                    continue;
                serve(fd);
                ::close(fd);
            }
        });
    }
    ~EchoPeer()
    {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }
    Listener& listener() { return listener_; }

private:
    void serve(int fd)
    {
        Framer framer;
        Bytes packet;
        std::uint8_t buffer[4096];
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, 50);
            if (ready == 0)
                continue;
            ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; i++) {
                if (framer.feed(buffer[i], packet) && packet[0] != 0 && (packet[0] & 1) == 0)
                    writeAll(fd, packet.data(), packet.size());
            }
        }
    }

    Listener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void waitFlag(const std::atomic<bool>& flag)
{
    while (!flag.load())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// ---------------------------------------------------------------- idle cost

double idleCpuPercent(double seconds)
{
    double before = cpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return 100.0 * (cpuSeconds() - before) / secondsSince(start);
}

void BM_IdleBaseline(benchmark::State& state)
{
    for (auto _ : state)
        gFigures["idle_baseline"] = idleCpuPercent(2.0);
    state.counters["cpu_percent"] = gFigures["idle_baseline"];
}

void BM_IdleLinks(benchmark::State& state)
{
    Listener listener;
    morvtest::PtyPair pty;
    int tcp = aLink_CreateTCPIP(Listener::address(), listener.port());
    int peer = listener.accept(2000);
    int serial = aLink_CreateSerial(0x1D1E0001u, pty.slavePath().c_str(), 115200);
    if (tcp == 0 || serial == 0 || peer < 0) {
        state.SkipWithError("links not opened");
    } else {
        for (auto _ : state)
            gFigures["idle_links"] = idleCpuPercent(2.0);
        state.counters["cpu_percent"] = gFigures["idle_links"];
    }
    aLink_Destroy(&tcp);
    aLink_Destroy(&serial);
    if (peer >= 0)
        ::close(peer);
}

// ---------------------------------------------------------------- round trip

Bytes requestBytes(std::uint32_t sequence)
{
    return {kModule, 5, kCommand, static_cast<std::uint8_t>(sequence >> 24), static_cast<std::uint8_t>(sequence >> 16),
            static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence)};
}

std::uint32_t sequenceOf(const aPacket* p)
{
    return static_cast<std::uint32_t>(p->data[1]) << 24 | static_cast<std::uint32_t>(p->data[2]) << 16 |
           static_cast<std::uint32_t>(p->data[3]) << 8 | p->data[4];
}

int matchesSequence(const aPacket* packet, void* ref)
{
    return packet->dataSize == 5 && packet->data[0] == kCommand &&
           sequenceOf(packet) == *static_cast<std::uint32_t*>(ref);
}

// The hand-offs a link makes, with nothing else: the caller queues the bytes
// for a writer thread, a reader thread polls the socket and queues the echo
// for the caller. Plain mutex and condition variable queues.
class ThreadRelay {
public:
    explicit ThreadRelay(int fd) : fd_(fd)
    {
        writer_ = std::thread([this] {
            std::unique_lock<std::mutex> held(outLock_);
            while (!stop_) {
                outReady_.wait(held, [this] { return stop_ || !out_.empty(); });
                while (!out_.empty()) {
                    Bytes bytes = std::move(out_.front());
                    out_.erase(out_.begin());
                    held.unlock();
                    writeAll(fd_, bytes.data(), bytes.size());
                    held.lock();
                }
            }
        });
        reader_ = std::thread([this] {
            Framer framer;
            Bytes packet;
            std::uint8_t buffer[4096];
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 10) <= 0)
                    continue;
                ssize_t n = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
                if (n == 0)
                    return;  // the peer is gone; poll would report it at once from now on
                for (ssize_t i = 0; i < n; i++) {
                    if (framer.feed(buffer[i], packet)) {
                        {
                            std::lock_guard<std::mutex> guard(inLock_);
                            in_.push_back(packet);
                        }
                        inReady_.notify_all();
                    }
                }
            }
        });
    }
    ~ThreadRelay()
    {
        {
            std::lock_guard<std::mutex> guard(outLock_);
            stop_ = true;
        }
        outReady_.notify_all();
        writer_.join();
        reader_.join();
    }
    void put(Bytes bytes)
    {
        {
            std::lock_guard<std::mutex> guard(outLock_);
            out_.push_back(std::move(bytes));
        }
        outReady_.notify_all();
    }
    // The next packet, or an empty one after a second.
    Bytes await()
    {
        std::unique_lock<std::mutex> held(inLock_);
        if (!inReady_.wait_for(held, std::chrono::seconds(1), [this] { return !in_.empty(); }))
            return {};
        Bytes packet = std::move(in_.front());
        in_.erase(in_.begin());
        return packet;
    }

private:
    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex outLock_;
    std::condition_variable outReady_;
    std::vector<Bytes> out_;
    std::mutex inLock_;
    std::condition_variable inReady_;
    std::vector<Bytes> in_;
    std::thread writer_;
    std::thread reader_;
};

// Bare and link round trips alternate, so that both see the same load.
void BM_RoundTrip(benchmark::State& state)
{
    EchoPeer bareEcho;
    EchoPeer relayEcho;
    EchoPeer linkEcho;
    int fd = bareEcho.listener().connect();
    int relayFd = relayEcho.listener().connect();
    int id = aLink_CreateTCPIP(Listener::address(), linkEcho.port());
    if (fd < 0 || relayFd < 0 || id == 0) {
        state.SkipWithError("no connection");
        if (fd >= 0)
            ::close(fd);
        if (relayFd >= 0)
            ::close(relayFd);
        aLink_Destroy(&id);
        return;
    }
    std::vector<double> bare;
    std::vector<double> relayed;
    std::vector<double> link;
    auto relay = std::make_unique<ThreadRelay>(relayFd);
    std::uint32_t sequence = 0;
    std::uint8_t back[7];
    for (auto _ : state) {
        Bytes request = requestBytes(++sequence);
        auto start = Clock::now();
        if (!writeAll(fd, request.data(), request.size()) || !readAll(fd, back, sizeof(back)) ||
            std::memcmp(back, request.data(), sizeof(back)) != 0) {
            state.SkipWithError("bare echo failed");
            break;
        }
        bare.push_back(secondsSince(start) * 1e6);

        start = Clock::now();
        relay->put(request);
        Bytes echoed = relay->await();
        if (echoed != request) {
            state.SkipWithError("relayed echo failed");
            break;
        }
        relayed.push_back(secondsSince(start) * 1e6);

        aPacket* packet = aPacket_CreateWithData(kModule, 5, request.data() + 2);
        start = Clock::now();
        aErr err = aLink_PutPacket(id, packet);
        aPacket* reply = err == aErrNone ? aLink_AwaitFirst(id, matchesSequence, &sequence, 1000) : nullptr;
        double us = secondsSince(start) * 1e6;
        aPacket_Destroy(&packet);
        if (reply == nullptr) {
            state.SkipWithError("no link echo");
            break;
        }
        aPacket_Destroy(&reply);
        link.push_back(us);
    }
    ::close(fd);
    relay.reset();
    ::close(relayFd);
    aLink_Destroy(&id);
    std::sort(bare.begin(), bare.end());
    std::sort(relayed.begin(), relayed.end());
    std::sort(link.begin(), link.end());
    if (bare.empty() || relayed.empty() || link.empty())
        return;
    gFigures["rtt_relay_p50"] = relayed[relayed.size() / 2];
    gFigures["rtt_bare_p50"] = bare[bare.size() / 2];
    gFigures["rtt_bare_p99"] = bare[bare.size() * 99 / 100];
    gFigures["rtt_link_p50"] = link[link.size() / 2];
    gFigures["rtt_link_p99"] = link[link.size() * 99 / 100];
    state.counters["bare_p50_us"] = gFigures["rtt_bare_p50"];
    state.counters["link_p50_us"] = gFigures["rtt_link_p50"];
}

// ---------------------------------------------------------------- receive

constexpr std::uint32_t kStreamPackets = 400000;

Bytes streamBytes(std::uint32_t count)
{
    Bytes all;
    all.reserve(count * 7u);
    for (std::uint32_t i = 0; i < count; i++) {
        Bytes p = requestBytes(i);
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Writes the bytes to the next connection as fast as the socket takes them.
class Streamer {
public:
    explicit Streamer(const Bytes& bytes) : bytes_(bytes)
    {
        thread_ = std::thread([this] {
            int fd = listener_.accept(5000);
            if (fd < 0)
                return;
            waitFlag(go_);
            writeAll(fd, bytes_.data(), bytes_.size());
            // Keep the connection until the reader is done.
            waitFlag(done_);
            ::close(fd);
        });
    }
    ~Streamer()
    {
        start();
        finish();
        thread_.join();
    }
    Listener& listener() { return listener_; }
    void start() { go_ = true; }
    void finish() { done_ = true; }

private:
    const Bytes& bytes_;
    Listener listener_;
    std::atomic<bool> go_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

void BM_BareReceive(benchmark::State& state)
{
    static const Bytes bytes = streamBytes(kStreamPackets);
    for (auto _ : state) {
        Streamer streamer(bytes);
        int fd = streamer.listener().connect();
        if (fd < 0) {
            state.SkipWithError("no connection");
            return;
        }
        Framer framer;
        Bytes packet;
        std::uint8_t buffer[4096];
        std::uint32_t received = 0;
        bool inOrder = true;
        auto start = Clock::now();
        streamer.start();
        while (received < kStreamPackets) {
            ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; i++) {
                if (framer.feed(buffer[i], packet)) {
                    std::uint32_t s = static_cast<std::uint32_t>(packet[3]) << 24 | packet[4] << 16 | packet[5] << 8 |
                                      packet[6];
                    inOrder = inOrder && s == received;
                    received++;
                }
            }
        }
        double seconds = secondsSince(start);
        streamer.finish();
        ::close(fd);
        gFigures["rx_bare"] = received / seconds;
        gFigures["rx_bare_lost"] = kStreamPackets - received + (inOrder ? 0 : 1);
        state.counters["packets_per_s"] = gFigures["rx_bare"];
    }
}

void BM_LinkReceive(benchmark::State& state)
{
    static const Bytes bytes = streamBytes(kStreamPackets);
    for (auto _ : state) {
        Streamer streamer(bytes);
        int id = aLink_CreateTCPIP(Listener::address(), streamer.listener().port());
        if (id == 0) {
            state.SkipWithError("link not opened");
            return;
        }
        std::uint32_t received = 0;
        std::uint32_t outOfOrder = 0;
        auto start = Clock::now();
        streamer.start();
        while (received < kStreamPackets) {
            aPacket* p = aLink_AwaitPacket(id, 1000);
            if (p == nullptr)
                break;
            if (sequenceOf(p) != received)
                outOfOrder++;
            received++;
            aPacket_Destroy(&p);
        }
        double seconds = secondsSince(start);
        std::int32_t status = aLink_GetStatus(id);
        aLink_Destroy(&id);
        streamer.finish();
        gFigures["rx_link"] = received / seconds;
        gFigures["rx_link_lost"] = (kStreamPackets - received) + outOfOrder;
        gFigures["rx_link_status"] = status;
        state.counters["packets_per_s"] = gFigures["rx_link"];
        state.counters["lost"] = gFigures["rx_link_lost"];
    }
}

// ---------------------------------------------------------------- send

constexpr std::uint32_t kSendPackets = 200000;
constexpr std::size_t kSendWire = 16;  // address, length, 14 data bytes

// Counts the bytes of the next connection until it has count of them.
class Sink {
public:
    explicit Sink(std::size_t count) : count_(count)
    {
        thread_ = std::thread([this] {
            int fd = listener_.accept(5000);
            if (fd < 0)
                return;
            std::uint8_t buffer[65536];
            while (received_ < count_) {
                ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
                if (n <= 0)
                    break;
                received_ += static_cast<std::size_t>(n);
            }
            doneAt_ = Clock::now();
            done_ = true;
            ::close(fd);
        });
    }
    ~Sink() { thread_.join(); }
    Listener& listener() { return listener_; }
    // Waits for the count, up to timeoutMs; the time it was reached.
    bool wait(int timeoutMs)
    {
        auto start = Clock::now();
        while (!done_) {
            if (secondsSince(start) * 1000 > timeoutMs)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return received_ >= count_;
    }
    Clock::time_point doneAt() const { return doneAt_; }

private:
    std::size_t count_;
    std::atomic<std::size_t> received_{0};
    std::atomic<bool> done_{false};
    Clock::time_point doneAt_{};
    Listener listener_;
    std::thread thread_;
};

void BM_BareSend(benchmark::State& state)
{
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    const char* name = chunk == kSendWire ? "tx_bare_single" : "tx_bare_pooled";
    Bytes bytes(kSendPackets * kSendWire, 0x30);
    for (auto _ : state) {
        Sink sink(bytes.size());
        int fd = sink.listener().connect();
        auto start = Clock::now();
        for (std::size_t at = 0; at < bytes.size(); at += chunk)
            writeAll(fd, bytes.data() + at, std::min(chunk, bytes.size() - at));
        bool ok = sink.wait(30000);
        double seconds = std::chrono::duration<double>(sink.doneAt() - start).count();
        ::close(fd);
        if (!ok) {
            state.SkipWithError("sink incomplete");
            return;
        }
        gFigures[name] = kSendPackets / seconds;
        state.counters["packets_per_s"] = gFigures[name];
    }
}

void BM_LinkSend(benchmark::State& state)
{
    const bool pooled = state.range(0) != 0;
    const char* name = pooled ? "tx_link_pooled" : "tx_link_single";
    Bytes data(kSendWire - 2, kCommand);
    for (auto _ : state) {
        // The force-route packet of the start comes first.
        Sink sink(3 + kSendPackets * kSendWire);
        int id = aLink_CreateTCPIP(Listener::address(), sink.listener().port());
        if (id == 0) {
            state.SkipWithError("link not opened");
            return;
        }
        aLink_EnablePooledPackets(id, pooled ? 1 : 0);
        aPacket* packet = aPacket_CreateWithData(kModule, static_cast<std::uint8_t>(data.size()), data.data());
        aPacketFifoId out = sGetLink(id)->outFifo.load();
        auto start = Clock::now();
        bool failed = false;
        for (std::uint32_t i = 0; i < kSendPackets && !failed; i++) {
            // Stay below the output queue's cap, which would drop the queue.
            while (aPacketFifo_GetLength(out) > 900)
                std::this_thread::yield();
            failed = aLink_PutPacket(id, packet) != aErrNone;
        }
        bool ok = !failed && sink.wait(30000);
        double seconds = std::chrono::duration<double>(sink.doneAt() - start).count();
        aPacket_Destroy(&packet);
        aLink_Destroy(&id);
        if (!ok) {
            state.SkipWithError("packets lost");
            return;
        }
        gFigures[name] = kSendPackets / seconds;
        state.counters["packets_per_s"] = gFigures[name];
    }
}

BENCHMARK(BM_IdleBaseline)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleLinks)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareReceive)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkReceive)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareSend)->Arg(kSendWire)->Arg(255 * kSendWire)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkSend)->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    auto f = [](const char* key) { return gFigures.count(key) ? gFigures[key] : 0.0; };
    std::printf("\nlink engine over TCP loopback (and a pty for the idle serial link)\n");
    std::printf("%-40s %14s %14s %10s\n", "", "link", "baseline", "target");
    std::printf("%-40s %13.2f%% %13.2f%% %10s\n", "idle CPU, TCP + serial link, 2 s", f("idle_links"),
                f("idle_baseline"), "<= 2%");
    std::printf("%-40s %14.1f %14.1f %10s\n", "round trip p50 (us)", f("rtt_link_p50"), f("rtt_bare_p50"), "<= 3x");
    std::printf("%-40s %14.1f %14.1f\n", "round trip p99 (us)", f("rtt_link_p99"), f("rtt_bare_p99"));
    if (f("rtt_bare_p50") > 0)
        std::printf("%-40s %14.2f\n", "round trip p50 ratio", f("rtt_link_p50") / f("rtt_bare_p50"));
    std::printf("%-40s %14.1f %14.1f\n", "round trip p50, two-thread relay (us)", f("rtt_relay_p50"),
                f("rtt_bare_p50"));
    if (f("rtt_bare_p50") > 0)
        std::printf("%-40s %14.2f\n", "two-thread relay p50 ratio", f("rtt_relay_p50") / f("rtt_bare_p50"));
    std::printf("%-40s %14.0f %14.0f %10s\n", "receive packets/s", f("rx_link"), f("rx_bare"), ">= 200000");
    std::printf("%-40s %14.0f %14.0f %10s\n", "receive packets lost or out of order", f("rx_link_lost"),
                f("rx_bare_lost"), "0");
    std::printf("%-40s %14.0f %14s\n", "link status after receiving", f("rx_link_status"), "");
    std::printf("%-40s %14.0f %14.0f\n", "send packets/s, one write per packet", f("tx_link_single"),
                f("tx_bare_single"));
    std::printf("%-40s %14.0f %14.0f\n", "send packets/s, pooled (4080-byte writes)", f("tx_link_pooled"),
                f("tx_bare_pooled"));
    return 0;
}
