// SystemClass::getSerialNumber round trips over TCP loopback against the
// module simulator, next to a bare socket ping-pong of the same bytes
// measured in the same run. Counters: p50 and p99 in microseconds, and the
// library's p50 over the bare one.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "SimSystemEntity.h"
#include "SystemClass.h"

namespace {

using namespace Zorventa::Morvasset;
using Clock = std::chrono::steady_clock;
using benchsupport::microsSince;
using benchsupport::noDelay;
using benchsupport::readAll;
using benchsupport::writeAll;

constexpr std::uint8_t kAddress = 4;
constexpr std::uint32_t kSerial = 0x1234ABCD;
// What travels: the request and the reply of one serial-number get.
const std::uint8_t kRequest[5] = {kAddress, 3, 3, 0x49, 0x20};
const std::uint8_t kReply[9] = {kAddress, 7, 3, 9, 0, 0x12, 0x34, 0xAB, 0xCD};

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t at = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1));
    return samples[at];
}

// A peer that answers each request with the reply, over blocking sockets.
class BarePeer {
public:
    BarePeer()
    {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(a);
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
            ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            throw std::runtime_error("bare peer: listener");
        client_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (client_ < 0 || ::connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
            throw std::runtime_error("bare peer: connect");
        server_ = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        if (server_ < 0)
            throw std::runtime_error("bare peer: accept");
        noDelay(client_);
        noDelay(server_);
        thread_ = std::thread([this] {
            std::uint8_t request[sizeof(kRequest)];
            // Ends when the client side shuts down.
            while (readAll(server_, request, sizeof(request)) && writeAll(server_, kReply, sizeof(kReply))) {
            }
        });
    }
    ~BarePeer()
    {
        ::shutdown(client_, SHUT_RDWR);
        thread_.join();
        ::close(client_);
        ::close(server_);
    }

    bool roundTrip()
    {
        std::uint8_t reply[sizeof(kReply)];
        return writeAll(client_, kRequest, sizeof(kRequest)) && readAll(client_, reply, sizeof(reply)) &&
               std::memcmp(reply, kReply, sizeof(reply)) == 0;
    }

private:
    int client_ = -1;
    int server_ = -1;
    std::thread thread_;
};

// A simulated module on TCP loopback and a Module connected to it.
class SimulatedModule {
public:
    SimulatedModule() : sim_(morvsim::SimModule(kAddress, kSerial, 17)), module_(0, std::uint8_t(0))
    {
        sim_.withModule(kAddress, [](morvsim::SimModule& m) { morvsim::installSystemEntity(m); });
        const std::uint16_t port = sim_.listenTcp("127.0.0.1");
        module_.setConfig(benchsupport::directConfig());
        if (module_.connectFromSpec(benchsupport::tcpSpec("127.0.0.1", port)) != aErrNone)
            throw std::runtime_error("simulated module: connect");
        system_.init(&module_, 0);
    }

    bool roundTrip()
    {
        std::uint32_t serial = 0;
        return system_.getSerialNumber(&serial) == aErrNone && serial == kSerial;
    }

private:
    morvsim::ModuleSimulator sim_;
    Module module_;
    SystemClass system_;
};

void report(benchmark::State& state, const std::vector<double>& samples, const char* prefix)
{
    state.counters[std::string(prefix) + "p50_us"] = percentile(samples, 0.50);
    state.counters[std::string(prefix) + "p99_us"] = percentile(samples, 0.99);
}

void BM_GetSerialNumber(benchmark::State& state)
{
    SimulatedModule module;
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!module.roundTrip()) {
            state.SkipWithError("getSerialNumber failed");
            break;
        }
        samples.push_back(microsSince(start));
    }
    report(state, samples, "");
}
BENCHMARK(BM_GetSerialNumber)->UseRealTime();

void BM_BareSocketPingPong(benchmark::State& state)
{
    BarePeer peer;
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!peer.roundTrip()) {
            state.SkipWithError("ping-pong failed");
            break;
        }
        samples.push_back(microsSince(start));
    }
    report(state, samples, "");
}
BENCHMARK(BM_BareSocketPingPong)->UseRealTime();

// Both in turn within one run, so the ratio compares like with like.
void BM_GetSerialNumberOverBare(benchmark::State& state)
{
    SimulatedModule module;
    BarePeer peer;
    std::vector<double> library;
    std::vector<double> bare;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!module.roundTrip()) {
            state.SkipWithError("getSerialNumber failed");
            break;
        }
        library.push_back(microsSince(start));
        start = Clock::now();
        if (!peer.roundTrip()) {
            state.SkipWithError("ping-pong failed");
            break;
        }
        bare.push_back(microsSince(start));
    }
    report(state, library, "lib_");
    report(state, bare, "bare_");
    const double bareP50 = percentile(bare, 0.5);
    state.counters["ratio_p50"] = bareP50 > 0 ? percentile(library, 0.5) / bareP50 : 0;
}
BENCHMARK(BM_GetSerialNumberOverBare)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
