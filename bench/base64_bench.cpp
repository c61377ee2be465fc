// base64_decode throughput on a 16 MiB payload (a large bundle as the server sends it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "base64.h"

namespace {

void BM_Base64Decode16MiB(benchmark::State& state) {
    const unsigned long payload = 16UL * 1024 * 1024;
    std::vector<unsigned char> data(payload);
    std::mt19937 rng(3);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    unsigned long text_len = 0;
    char* text = base64_encode(data.data(), payload, &text_len);
    if (text == nullptr) {
        state.SkipWithError("encode failed");
        return;
    }
    for (auto _ : state) {
        unsigned long out_len = 0;
        unsigned char* out = base64_decode(text, text_len, &out_len);
        benchmark::DoNotOptimize(out);
        if (out == nullptr || out_len != payload) state.SkipWithError("decode failed");
        std::free(out);
    }
    // Throughput counted on the base64 text consumed.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text_len));
    std::free(text);
}
BENCHMARK(BM_Base64Decode16MiB)->Unit(benchmark::kMillisecond);

void BM_Base64Encode16MiB(benchmark::State& state) {
    const unsigned long payload = 16UL * 1024 * 1024;
    std::vector<unsigned char> data(payload, 0x5A);
    for (auto _ : state) {
        unsigned long len = 0;
        char* text = base64_encode(data.data(), payload, &len);
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(payload));
}
BENCHMARK(BM_Base64Encode16MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
