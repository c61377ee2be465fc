// The USB transport with the real libusb-1.0 on the emulated kernel
// (umockdev): a pooled block written over the USB stream (time per block and
// the bulk transfers it takes), one packet's round trip over an open USB link
// to the module simulator, and what an open link that carries nothing costs
// (CPU seconds of the whole process per second).
#include "ModuleSimulator.h"
#include "UsbTestbed.h"
#include "aLink.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
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

constexpr std::uint32_t kLinkSerial = 0x0BE4C401;
constexpr std::uint8_t kModule = 4;
constexpr std::uint8_t kEcho = 23;

// A synced USB link to the simulator, on a fresh bus and context.
class UsbLinkRig {
public:
    UsbLinkRig()
    {
        if (mkdtemp(nodes_) == nullptr)
            return;
        mvusb_set_node_directory(nodes_);
        bed_.reset();
        Morvasset_libusb_exit();
        int device = bed_.plug(umockusb::moduleSpec(kLinkSerial, 0x13, 64));
        sim_.attachFd(bed_.takePeerFd(device));
        sim_.setHandler(kModule, kEcho, [](morvsim::SimModule& m, const morvsim::SimPacket& p, morvsim::SimReply& r) {
            r.packet(m.address, p.data);
        });
        id_ = aLink_CreateUSB(kLinkSerial);
    }
    ~UsbLinkRig()
    {
        if (id_ != 0)
            aLink_Destroy(&id_);
        sim_.stop();
        Morvasset_libusb_exit();
        bed_.reset();
        mvusb_set_node_directory(nullptr);
        ::rmdir(nodes_);
    }
    int id() const { return id_; }

    bool echo()
    {
        const std::uint8_t data[] = {kEcho, 1, 2, 3};
        aPacket* packet = aPacket_CreateWithData(kModule, sizeof(data), data);
        aErr err = aLink_PutPacket(id_, packet);
        aPacket_Destroy(&packet);
        aPacket* reply = err == aErrNone ? aLink_AwaitPacket(id_, 2000) : nullptr;
        bool ok = reply != nullptr && reply->dataSize == sizeof(data);
        aPacket_Destroy(&reply);
        return ok;
    }

private:
    char nodes_[32] = "/tmp/usb-bench-XXXXXX";
    umockusb::Testbed& bed_ = umockusb::Testbed::instance();
    morvsim::ModuleSimulator sim_{kModule};
    int id_ = 0;
};

void BM_UsbLinkRoundTrip(benchmark::State& state)
{
    UsbLinkRig rig;
    if (rig.id() == 0) {
        state.SkipWithError("no link to the module");
        return;
    }
    bool failed = false;
    for (auto _ : state) {
        if (!rig.echo())
            failed = true;
    }
    if (failed)
        state.SkipWithError("an echo went unanswered");
}
BENCHMARK(BM_UsbLinkRoundTrip)->Unit(benchmark::kMicrosecond);

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Each iteration is one second of wall time with the link open and silent.
void BM_UsbIdleLink(benchmark::State& state)
{
    UsbLinkRig rig;
    if (rig.id() == 0 || !rig.echo()) {
        state.SkipWithError("no link to the module");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        double before = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        cpu += processCpuSeconds() - before;
    }
    state.counters["cpu_per_second"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_UsbIdleLink)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
