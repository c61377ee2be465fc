// The network server over real ZeroMQ, to the module simulator behind a TCP
// link, each figure next to its baseline from the same run:
//   round trip   SystemClass::getSerialNumber through a local server (a
//                network-client Link), next to the same call on a direct
//                link, and the floor: one bare DEALER-ROUTER echo over
//                ZeroMQ on TCP loopback; the same for a bare echo packet;
//   requests/s   1 and 4 clients asking at once, with how evenly the
//                clients were served (fewest / most answers of one client);
//   transfer     a 3 KiB byte-buffer set (128 packets) through the server,
//                next to the same transfer on the direct link.
// The server's loopback multicast responder joins a group on lo, so this
// runs only inside a private network namespace (unshare --net).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <czmq.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Module.h"
#include "ModuleSimulator.h"
#include "PrivateNetns.h"
#include "SimEntities.h"
#include "SimSystemEntity.h"
#include "SystemClass.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aServer.h"
#include "aStreamClient.h"

namespace {

using Clock = std::chrono::steady_clock;
using morvsim::Bytes;

constexpr std::uint8_t kModule = 4;
constexpr std::uint8_t kEcho = 23;
constexpr std::uint8_t kBufferCommand = 10;
constexpr std::uint8_t kBufferOption = 5;
constexpr std::uint32_t kSerial = 0x1234ABCD;

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

std::map<std::string, double> gFigures;

double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

bool put(int id, std::uint8_t address, const Bytes& data)
{
    aPacket* packet = aPacket_CreateWithData(address, std::uint8_t(data.size()), data.data());
    bool ok = packet != nullptr && aLink_PutPacket(id, packet) == aErrNone;
    aPacket_Destroy(&packet);
    return ok;
}

bool echo(int id, std::uint8_t value)
{
    if (!put(id, kModule, {kEcho, value}))
        return false;
    aPacket* reply = aLink_AwaitPacket(id, 2000);
    bool ok = reply != nullptr && reply->dataSize == 2 && reply->data[1] == value;
    aPacket_Destroy(&reply);
    return ok;
}

bool transfer(int id, const Bytes& bytes)
{
    std::size_t offset = 0;
    std::uint8_t counter = 0;
    do {
        std::size_t n = std::min<std::size_t>(24, bytes.size() - offset);
        bool more = offset + n < bytes.size();
        Bytes d;
        d.reserve(28);
        d.push_back(kBufferCommand);
        d.push_back(0x80 | kBufferOption);
        d.push_back(0x20);
        for (std::size_t i = 0; i < n; ++i)
            d.push_back(bytes[offset + i]);
        d.push_back(std::uint8_t((more ? 0x80 : 0) | (counter & 0x7F)));
        if (!put(id, kModule, d))
            return false;
        offset += n;
        counter = std::uint8_t((counter + 1) & 0x7F);
    } while (offset < bytes.size());
    aPacket* reply = aLink_AwaitPacket(id, 4000);
    bool ok = reply != nullptr && reply->dataSize == 3 && (reply->data[2] & 0x80) == 0;
    aPacket_Destroy(&reply);
    return ok;
}

// The simulated module behind a TCP link, served by a local server.
struct Rig {
    Rig() : sim(morvsim::SimModule(kModule, kSerial, 17))
    {
        sim.withModule(kModule, [](morvsim::SimModule& m) { morvsim::installSystemEntity(m); });
        sim.setHandler(kModule, kEcho, [](morvsim::SimModule& m, const morvsim::SimPacket& p, morvsim::SimReply& r) {
            r.packet(m.address, p.data);
        });
        sim.withModule(kModule, [](morvsim::SimModule& m) {
            morvsim::installEntityHandler(m, kBufferCommand);
            m.entities[morvsim::bufferKey(kBufferCommand, kBufferOption, 0)] = Bytes();
        });
        simPort = sim.listenTcp("127.0.0.1");
        linkId = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), simPort);
        server = linkId != 0 ? aServer_Create(linkId, 0, 0) : nullptr;
        if (server != nullptr && aServer_Start(server) == aErrNone)
            aServer_GetPort(server, &port);
    }
    ~Rig()
    {
        if (server != nullptr)
            aServer_Destroy(&server);
        if (linkId != 0)
            aLink_Destroy(&linkId);
        sim.stop();
    }
    int client()
    {
        aStream* stream = nullptr;
        if (aStream_CreateClient(htonl(INADDR_LOOPBACK), port, &stream) != aErrNone)
            return 0;
        return aLink_Create(stream);
    }
    bool ok() const { return port != 0; }

    morvsim::ModuleSimulator sim;
    std::uint16_t simPort = 0;
    int linkId = 0;
    aServer* server = nullptr;
    std::uint16_t port = 0;
};

Rig* gRig = nullptr;

void roundTrips(benchmark::State& state, bool served, const char* key)
{
    int id = served ? gRig->client() : gRig->linkId;
    std::vector<double> samples;
    std::uint8_t value = 0;
    echo(id, value);
    for (auto _ : state) {
        auto start = Clock::now();
        if (!echo(id, ++value)) {
            state.SkipWithError("no echo");
            break;
        }
        samples.push_back(microsSince(start));
    }
    gFigures[std::string(key) + "_p50"] = percentile(samples, 0.5);
    gFigures[std::string(key) + "_p99"] = percentile(samples, 0.99);
    if (served)
        aLink_Destroy(&id);
}

void BM_DirectRoundTrip(benchmark::State& state)
{
    roundTrips(state, false, "rtt_direct");
}

void BM_ServerRoundTrip(benchmark::State& state)
{
    roundTrips(state, true, "rtt_server");
}

// A Module on its own link: a TCP link to the simulator, or a network-client
// link to the rig's server.
struct SystemRig {
    explicit SystemRig(bool served) : module(0, std::uint8_t(0))
    {
        using namespace Zorventa::Morvasset;
        linkSpec spec;
        std::memset(&spec, 0, sizeof(spec));
        spec.type = served ? linkTypeAEther : linkTypeTCPIP;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.port = served ? gRig->port : gRig->simPort;
        aEtherConfig config;
        config.enabled = served;
        config.fallback = false;
        ok = module.setConfig(config) == aErrNone && module.connectFromSpec(spec) == aErrNone &&
             system.init(&module, 0) == aErrNone;
    }
    bool roundTrip()
    {
        std::uint32_t serial = 0;
        return system.getSerialNumber(&serial) == aErrNone && serial == kSerial;
    }
    Zorventa::Morvasset::Module module;
    Zorventa::Morvasset::SystemClass system;
    bool ok = false;
};

void serialNumbers(benchmark::State& state, bool served, const char* key)
{
    SystemRig rig(served);
    if (!rig.ok || !rig.roundTrip()) {
        state.SkipWithError("no module");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!rig.roundTrip()) {
            state.SkipWithError("getSerialNumber failed");
            break;
        }
        samples.push_back(microsSince(start));
    }
    gFigures[std::string(key) + "_p50"] = percentile(samples, 0.5);
    gFigures[std::string(key) + "_p99"] = percentile(samples, 0.99);
}

void BM_DirectSerialNumber(benchmark::State& state)
{
    serialNumbers(state, false, "sn_direct");
}

void BM_ServerSerialNumber(benchmark::State& state)
{
    serialNumbers(state, true, "sn_server");
}

void BM_ServerRequests(benchmark::State& state)
{
    const int clients = int(state.range(0));
    std::vector<int> ids;
    for (int c = 0; c < clients; ++c)
        ids.push_back(gRig->client());
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::vector<long> counts(std::size_t(clients), 0);
        std::vector<std::thread> threads;
        auto start = Clock::now();
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                std::uint8_t value = 0;
                while (!stop.load())
                    counts[std::size_t(c)] += echo(ids[std::size_t(c)], ++value) ? 1 : 0;
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        stop = true;
        for (auto& t : threads)
            t.join();
        double seconds = microsSince(start) / 1e6;
        long total = 0;
        for (long n : counts)
            total += n;
        auto [fewest, most] = std::minmax_element(counts.begin(), counts.end());
        std::string key = "req_" + std::to_string(clients);
        gFigures[key] = double(total) / seconds;
        gFigures[key + "_even"] = *most > 0 ? double(*fewest) / double(*most) : 0;
    }
    for (int& id : ids)
        aLink_Destroy(&id);
}

void BM_ZeroMQFloor(benchmark::State& state)
{
    zsock_t* router = zsock_new(ZMQ_ROUTER);
    zsock_t* dealer = zsock_new(ZMQ_DEALER);
    int port = router != nullptr ? zsock_bind(router, "tcp://127.0.0.1:*") : -1;
    if (dealer == nullptr || port <= 0 || zsock_connect(dealer, "tcp://127.0.0.1:%d", port) != 0) {
        state.SkipWithError("no sockets");
        zsock_destroy(&dealer);
        zsock_destroy(&router);
        return;
    }
    std::atomic<bool> stop{false};
    zsock_set_rcvtimeo(router, 100);
    zsock_set_rcvtimeo(dealer, 2000);
    std::thread peer([&] {
        while (!stop.load()) {
            zmsg_t* message = zmsg_recv(router);
            if (message != nullptr)
                zmsg_send(&message, router);
        }
    });
    std::vector<double> samples;
    const std::uint8_t request[] = {kModule, 2, kEcho, 1};
    for (auto _ : state) {
        auto start = Clock::now();
        zframe_t* frame = zframe_new(request, sizeof(request));
        zframe_send(&frame, dealer, 0);
        frame = zframe_recv(dealer);
        if (frame == nullptr) {
            state.SkipWithError("no echo");
            break;
        }
        zframe_destroy(&frame);
        samples.push_back(microsSince(start));
    }
    gFigures["rtt_zmq_p50"] = percentile(samples, 0.5);
    stop = true;
    peer.join();
    zsock_destroy(&dealer);
    zsock_destroy(&router);
}

void transfers(benchmark::State& state, bool served, const char* key)
{
    int id = served ? gRig->client() : gRig->linkId;
    const Bytes bytes(3072, 0x5A);
    std::vector<double> samples;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!transfer(id, bytes)) {
            state.SkipWithError("transfer failed");
            break;
        }
        samples.push_back(microsSince(start) / 1000.0);
    }
    gFigures[key] = percentile(samples, 0.5);
    if (served)
        aLink_Destroy(&id);
}

void BM_DirectTransfer(benchmark::State& state)
{
    transfers(state, false, "xfer_direct");
}

void BM_ServerTransfer(benchmark::State& state)
{
    transfers(state, true, "xfer_server");
}

BENCHMARK(BM_DirectSerialNumber)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServerSerialNumber)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectRoundTrip)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServerRoundTrip)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZeroMQFloor)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServerRequests)->Arg(1)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectTransfer)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerTransfer)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    (void)kNoCzmqSignalHandler;
    std::string why = morvtest::whyNotPrivateNetns();
    if (!why.empty()) {
        std::fprintf(stderr, "server_bench runs only in a private network namespace: %s\n", why.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    {
        Rig rig;
        if (!rig.ok()) {
            std::fprintf(stderr, "the server did not start\n");
            return 1;
        }
        gRig = &rig;
        benchmark::RunSpecifiedBenchmarks();
        gRig = nullptr;
    }
    benchmark::Shutdown();

    auto f = [](const char* key) { return gFigures.count(key) ? gFigures[key] : 0.0; };
    std::printf("\nnetwork server on a TCP link to the simulator, ZeroMQ on loopback\n");
    std::printf("%-40s %14s %14s %10s\n", "", "server", "direct", "target");
    std::printf("%-40s %14.1f %14.1f %10s\n", "getSerialNumber p50 (us)", f("sn_server_p50"), f("sn_direct_p50"),
                "<= 2x");
    std::printf("%-40s %14.1f %14.1f\n", "getSerialNumber p99 (us)", f("sn_server_p99"), f("sn_direct_p99"));
    if (f("sn_direct_p50") > 0)
        std::printf("%-40s %14.2f\n", "getSerialNumber p50 ratio", f("sn_server_p50") / f("sn_direct_p50"));
    std::printf("%-40s %14.1f\n", "bare ZeroMQ TCP echo p50 (us), the floor", f("rtt_zmq_p50"));
    // The least a served call can cost: the direct call plus one bare ZeroMQ
    // exchange, before any hand-off of the client's or the server's own.
    if (f("sn_direct_p50") > 0)
        std::printf("%-40s %14.2f\n", "(direct + bare echo) / direct", (f("sn_direct_p50") + f("rtt_zmq_p50")) /
                                                                             f("sn_direct_p50"));
    std::printf("%-40s %14.1f %14.1f\n", "echo packet round trip p50 (us)", f("rtt_server_p50"), f("rtt_direct_p50"));
    std::printf("%-40s %14.1f %14.1f\n", "echo packet round trip p99 (us)", f("rtt_server_p99"), f("rtt_direct_p99"));
    if (f("rtt_direct_p50") > 0)
        std::printf("%-40s %14.2f\n", "echo packet round trip p50 ratio", f("rtt_server_p50") / f("rtt_direct_p50"));
    std::printf("%-40s %14.0f\n", "requests/s, 1 client", f("req_1"));
    std::printf("%-40s %14.0f\n", "requests/s, 4 clients", f("req_4"));
    std::printf("%-40s %14.2f\n", "4 clients: fewest / most answers", f("req_4_even"));
    std::printf("%-40s %14.2f %14.2f\n", "3 KiB byte-buffer transfer p50 (ms)", f("xfer_server"), f("xfer_direct"));
    return 0;
}
