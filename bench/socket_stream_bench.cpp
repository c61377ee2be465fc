// Socket-stream read throughput over loopback next to bare socket read loops
// measured in the same run, and the CPU an idle stream reader costs.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "aStream.h"

namespace {

constexpr size_t kBytesPerIteration = 4 << 20;

// A loopback listener that accepts one connection and floods it with bytes
// until stopped.
class Flood {
public:
    Flood()
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(a);
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
            ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            throw std::runtime_error("listener");
        port_ = ntohs(a.sin_port);
    }
    ~Flood()
    {
        stop();
        ::close(listen_);
    }
    uint16_t port() const { return port_; }

    // Accepts the client and starts sending; with flood false it only accepts.
    void start(bool flood = true)
    {
        peer_ = ::accept(listen_, nullptr, nullptr);
        if (peer_ < 0)
            throw std::runtime_error("accept");
        if (!flood)
            return;
        sender_ = std::thread([this] {
            std::vector<char> block(65536);
            for (size_t i = 0; i < block.size(); i++)
                block[i] = static_cast<char>(i);
            while (!stopping_) {
                if (::send(peer_, block.data(), block.size(), MSG_NOSIGNAL) <= 0)
                    break;
            }
        });
    }
    void stop()
    {
        stopping_ = true;
        if (peer_ >= 0)
            ::shutdown(peer_, SHUT_RDWR);
        if (sender_.joinable())
            sender_.join();
        if (peer_ >= 0)
            ::close(peer_);
        peer_ = -1;
    }

private:
    int listen_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread sender_;
};

int connectRaw(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
        throw std::runtime_error("connect");
    return fd;
}

// Baseline: a bare blocking read loop of 4 KiB recv calls.
void BM_RawSocketReadBlocks(benchmark::State& state)
{
    Flood flood;
    int fd = connectRaw(flood.port());
    flood.start();
    char buffer[4096];
    for (auto _ : state) {
        size_t got = 0;
        while (got < kBytesPerIteration) {
            ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                state.SkipWithError("recv failed");
                break;
            }
            got += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerIteration));
    flood.stop();
    ::close(fd);
}
BENCHMARK(BM_RawSocketReadBlocks)->UseRealTime();

// Baseline: a peek and a one-byte recv per byte (two system calls a byte).
void BM_RawSocketPeekRecvPerByte(benchmark::State& state)
{
    Flood flood;
    int fd = connectRaw(flood.port());
    flood.start();
    const size_t bytes = kBytesPerIteration / 16;
    for (auto _ : state) {
        for (size_t got = 0; got < bytes; got++) {
            char c;
            if (::recv(fd, &c, 1, MSG_PEEK) != 1 || ::recv(fd, &c, 1, 0) != 1) {
                state.SkipWithError("recv failed");
                break;
            }
            benchmark::DoNotOptimize(c);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    flood.stop();
    ::close(fd);
}
BENCHMARK(BM_RawSocketPeekRecvPerByte)->UseRealTime();

// The socket stream read as the link's reader does: one byte per aStream_Read.
void BM_SocketStreamReadPerByte(benchmark::State& state)
{
    Flood flood;
    aStream* stream = nullptr;
    if (aStream_CreateSocket(htonl(INADDR_LOOPBACK), flood.port(), &stream) != aErrNone) {
        state.SkipWithError("aStream_CreateSocket failed");
        return;
    }
    flood.start();
    for (auto _ : state) {
        size_t got = 0;
        while (got < kBytesPerIteration) {
            char c;
            aErr err = aStream_Read(stream, &c, 1);
            if (err == aErrNone) {
                got++;
                benchmark::DoNotOptimize(c);
            } else if (err != aErrNotReady) {
                state.SkipWithError("aStream_Read failed");
                break;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerIteration));
    flood.stop();
    aStream_Destroy(&stream);
}
BENCHMARK(BM_SocketStreamReadPerByte)->UseRealTime();

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A thread reading an idle stream for one second, as an idle link's reader:
// reports the CPU time it used and how many reads it made.
void idleReader(benchmark::State& state, aStream* stream)
{
    for (auto _ : state) {
        double cpu = 0;
        long reads = 0;
        std::thread reader([&] {
            double start = threadCpuMs();
            timespec begin{}, now{};
            clock_gettime(CLOCK_MONOTONIC, &begin);
            do {
                char c;
                if (aStream_Read(stream, &c, 1) != aErrNotReady)
                    break;
                reads++;
                clock_gettime(CLOCK_MONOTONIC, &now);
            } while ((now.tv_sec - begin.tv_sec) * 1000 + (now.tv_nsec - begin.tv_nsec) / 1000000 < 1000);
            cpu = threadCpuMs() - start;
        });
        reader.join();
        state.counters["cpu_ms_per_s"] = cpu;
        state.counters["reads_per_s"] = static_cast<double>(reads);
    }
}

void BM_IdleSocketStreamReader(benchmark::State& state)
{
    Flood flood;
    aStream* stream = nullptr;
    if (aStream_CreateSocket(htonl(INADDR_LOOPBACK), flood.port(), &stream) != aErrNone) {
        state.SkipWithError("aStream_CreateSocket failed");
        return;
    }
    flood.start(false);
    idleReader(state, stream);
    aStream_Destroy(&stream);
}
BENCHMARK(BM_IdleSocketStreamReader)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleSerialStreamReader(benchmark::State& state)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof(name)) != 0) {
        state.SkipWithError("no pty");
        return;
    }
    aStream* stream = nullptr;
    if (aStream_CreateSerial(name, 6, false, 0, 0, &stream) != aErrNone) {
        state.SkipWithError("aStream_CreateSerial failed");
        ::close(master);
        return;
    }
    idleReader(state, stream);
    aStream_Destroy(&stream);
    ::close(master);
}
BENCHMARK(BM_IdleSerialStreamReader)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
