// Discovery speed: USB enumeration of 1 and 8 modules with the real
// libusb-1.0 on the emulated kernel (umockdev; time per module opened), and the loopback multicast search for network servers
// with 0, 1 and 5 servers. The process moves into a fresh network namespace
// of its own first, so the multicast search never leaves this program.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeDiscoveryPeers.h"
#include "PrivateNetns.h"
#include "UsbTestbed.h"
#include "aDiscovery.h"
#include "aUSBDriver.h"

namespace {

std::string g_netnsError = "not set up";

std::uint8_t acceptAll(const linkSpec*, bool* accepted, void*)
{
    *accepted = true;
    return 1;
}

void BM_UsbDiscovery(benchmark::State& state)
{
    const int modules = int(state.range(0));
    auto& bed = umockusb::Testbed::instance();
    bed.reset();
    Morvasset_libusb_exit();  // a fresh context sees only these modules
    for (int i = 0; i < modules; ++i)
        bed.plug(umockusb::moduleSpec(0x00100000u + std::uint32_t(i), 0x11));
    for (auto _ : state) {
        std::uint8_t found = aDiscovery_EnumerateModules(linkTypeUSB, acceptAll, nullptr, 0);
        if (found != modules) {
            state.SkipWithError("not every module was found");
            break;
        }
    }
    state.counters["per_module"] = benchmark::Counter(
        modules, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    Morvasset_libusb_exit();
    bed.reset();
}
BENCHMARK(BM_UsbDiscovery)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_MulticastServerSearch(benchmark::State& state)
{
    if (!g_netnsError.empty()) {
        state.SkipWithError(("no private network namespace: " + g_netnsError).c_str());
        return;
    }
    const int servers = int(state.range(0));
    std::vector<std::unique_ptr<morvsim::FakeMulticastServer>> fakes;
    for (int i = 0; i < servers; ++i) {
        linkSpec spec = morvsim::serverSpec(0x5E000000u + std::uint32_t(i), "127.0.0.1",
                                            std::uint16_t(9000 + i));
        fakes.push_back(std::make_unique<morvsim::FakeMulticastServer>(unsigned(i) * 3,
                                                                       morvsim::specBytes(spec)));
    }
    for (auto _ : state) {
        std::uint8_t found =
            aDiscovery_EnumerateModules(linkTypeAEther, acceptAll, nullptr, htonl(INADDR_LOOPBACK));
        if (found != servers) {
            state.SkipWithError("not every server was found");
            break;
        }
    }
}
BENCHMARK(BM_MulticastServerSearch)->Arg(0)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// The whole process (no other thread runs yet) leaves the machine's network.
std::string enterPrivateNetns()
{
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"link", "set", "lo", "up"},
          std::vector<std::string>{"link", "set", "lo", "multicast", "on"},
          std::vector<std::string>{"route", "add", "224.0.0.0/4", "dev", "lo"}}) {
        std::string error = morvtest::runIp(command);
        if (!error.empty())
            return error;
    }
    return morvtest::whyNotPrivateNetns();
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("ZSYS_SIGHANDLER", "false", 1);
    g_netnsError = enterPrivateNetns();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
