// LPC ISP writes of 64 KiB to the simulated boot ROM over a pseudo-terminal, in
// the 4 KiB pieces a recovery sends: payload bytes per second and bytes on the
// wire per payload byte (uuencoding, line ends, checksums and commands).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "LpcIspSimulator.h"
#include "NXPSerialClass.h"
#include "PtyPair.h"

namespace {

void BM_LpcWrite64KiB(benchmark::State& state)
{
    const bool echo = state.range(0) != 0;
    const uint32_t payload = 64 * 1024;
    const uint32_t piece = 4096;
    std::vector<uint8_t> data(payload);
    std::mt19937 rng(5);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());

    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    NXPSerialClass isp;
    if (isp.Connect(pty.slavePath(), 115200) != aErrNone || isp.Sync() != aErrNone ||
        isp.SetEcho(echo) != aErrNone) {
        state.SkipWithError("boot ROM not reached");
        return;
    }
    uint64_t wireBefore = rom.stats().bytesReceived;
    for (auto _ : state) {
        for (uint32_t a = 0; a < payload; a += piece) {
            if (isp.Write(NXPSerialClass::WRITE_ADDRESS, piece, data.data() + a) != aErrNone) {
                state.SkipWithError("write failed");
                return;
            }
        }
    }
    uint64_t wire = rom.stats().bytesReceived - wireBefore;
    int64_t total = static_cast<int64_t>(state.iterations()) * payload;
    state.SetBytesProcessed(total);
    state.counters["wire_per_payload"] =
        total > 0 ? static_cast<double>(wire) / static_cast<double>(total) : 0.0;
}
BENCHMARK(BM_LpcWrite64KiB)->Arg(0)->Arg(1)->ArgName("echo")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
