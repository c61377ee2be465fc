// Placement of a 64 KiB i.MX recovery loader from a bundle through the simulated
// boot ROM behind the fake HID library: the time it takes, and how much of it
// is spent in reads that waited out their time-out.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BirdFile.h"
#include "BundleBuilder.h"
#include "FakeHidapi.h"
#include "TempDir.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterRecoverySteps.h"

namespace {

class QuietDisplay : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char*) override {}
    void error_message(const char*) override {}
};

void BM_ImxLoaderPlacement64KiB(benchmark::State& state)
{
    const size_t size = 64 * 1024;
    morvtest::Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 31 + 7);
    morvtest::TempDir dir;
    const std::string path = dir.sub("loader.bird");
    morvtest::BundleBuilder().loader(0x20000000, image).jumpAddress(0x20000000).writeTo(path);
    BirdFile bundle(path.c_str());
    QuietDisplay display;

    long long waited = 0;
    long long emptyReads = 0;
    long long reads = 0;
    for (auto _ : state) {
        fakehid::reset();
        if (UpdaterRecovery::_transfer_recovery_loader(display, bundle, "USB") != aErrNone) {
            state.SkipWithError("loader not placed");
            return;
        }
        const fakehid::Stats stats = fakehid::stats();
        waited += stats.waitedMs;
        emptyReads += stats.emptyReads;
        reads += stats.reads;
    }
    const double n = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    state.counters["timeout_wait_ms"] = static_cast<double>(waited) / n;
    state.counters["empty_reads"] = static_cast<double>(emptyReads) / n;
    state.counters["reads"] = static_cast<double>(reads) / n;
}
BENCHMARK(BM_ImxLoaderPlacement64KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
