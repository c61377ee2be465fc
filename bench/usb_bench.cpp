// A pooled block written to a module over the USB stream, with the real
// libusb-1.0 on the emulated kernel (umockdev): time per block and the bulk
// transfers it takes.
#include "UsbTestbed.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint32_t kSerial = 0x0BE4C400;
constexpr std::size_t kBlock = 4080;

void BM_UsbBulkWrite(benchmark::State& state)
{
    char nodes[] = "/tmp/usb-bench-XXXXXX";
    if (mkdtemp(nodes) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    mvusb_set_node_directory(nodes);
    auto& bed = umockusb::Testbed::instance();
    bed.reset();
    Morvasset_libusb_exit();  // a fresh context sees only this module
    int id = bed.plug(umockusb::moduleSpec(kSerial, 0x11, static_cast<std::uint16_t>(state.range(0))));
    int peer = bed.takePeerFd(id);
    aStream* stream = nullptr;
    if (aStream_CreateUSB(kSerial, &stream) != aErrNone) {
        state.SkipWithError("cannot open the module");
        ::close(peer);
        return;
    }
    // The module takes everything as fast as it comes.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        char buffer[65536];
        while (!stop) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0 && ::recv(peer, buffer, sizeof(buffer), MSG_DONTWAIT) == 0)
                break;
        }
    });
    std::string block(kBlock, '\x5A');
    std::size_t before = bed.stats(id).transfers.size();
    bool failed = false;
    for (auto _ : state) {
        if (aStream_Write(stream, block.data(), block.size()) != aErrNone)
            failed = true;
    }
    std::size_t transfers = bed.stats(id).transfers.size() - before;
    stop = true;
    drain.join();
    aStream_Destroy(&stream);
    ::close(peer);
    Morvasset_libusb_exit();
    bed.reset();
    mvusb_set_node_directory(nullptr);
    ::rmdir(nodes);
    if (failed)
        state.SkipWithError("a write failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
    state.counters["transfers_per_block"] =
        benchmark::Counter(static_cast<double>(transfers) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_UsbBulkWrite)->ArgName("max_packet")->Arg(64)->Arg(512)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
