// Time and peak heap of BirdFile loading a bundle with a 16 MiB payload.
// Every allocation is counted through a malloc wrapper (operator new and zlib
// both allocate through malloc), so "peak_MiB" is the most heap the load held
// at once; "target_MiB" is the file size plus twice the payload.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include "BirdFile.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BENCH_COUNT_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define BENCH_COUNT_HEAP 0
#endif
#endif
#ifndef BENCH_COUNT_HEAP
#define BENCH_COUNT_HEAP 1
#endif

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

[[maybe_unused]] void noteAllocated(void* p)
{
    if (!p)
        return;
    const int64_t live = g_live.fetch_add(int64_t(malloc_usable_size(p))) + int64_t(malloc_usable_size(p));
    int64_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
}

[[maybe_unused]] void noteFreed(void* p)
{
    if (p)
        g_live.fetch_sub(int64_t(malloc_usable_size(p)));
}

}  // namespace

#if BENCH_COUNT_HEAP
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) noexcept
{
    void* p = __libc_malloc(n);
    noteAllocated(p);
    return p;
}

void* calloc(size_t n, size_t size) noexcept
{
    void* p = __libc_calloc(n, size);
    noteAllocated(p);
    return p;
}

void* realloc(void* old, size_t n) noexcept
{
    const int64_t before = old ? int64_t(malloc_usable_size(old)) : 0;
    void* p = __libc_realloc(old, n);
    if (p || n == 0)
        g_live.fetch_sub(before);
    noteAllocated(p);
    return p;
}

void* memalign(size_t alignment, size_t n) noexcept
{
    void* p = __libc_memalign(alignment, n);
    noteAllocated(p);
    return p;
}

void* aligned_alloc(size_t alignment, size_t n) noexcept
{
    return memalign(alignment, n);
}

int posix_memalign(void** out, size_t alignment, size_t n) noexcept
{
    void* p = memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void free(void* p) noexcept
{
    noteFreed(p);
    __libc_free(p);
}
}
#endif

namespace {

constexpr size_t kPayloadSize = 16u << 20;

enum class Content { Typical, Sparse, Random };

void appendBE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// A payload of exactly kPayloadSize bytes: count, a 64 KiB loader, a descriptor,
// one firmware block filling the rest, checksum.
std::vector<uint8_t> makePayload(Content content)
{
    std::vector<uint8_t> p;
    p.reserve(kPayloadSize);
    appendBE32(p, 3);
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return uint8_t(state >> 16);
    };
    auto image = [&](size_t n) {
        static const uint8_t common[16] = {0x00, 0xFF, 0x20, 0x46, 0x70, 0x47, 0xBD, 0xE8,
                                           0x4B, 0x68, 0x60, 0x01, 0x02, 0x10, 0x08, 0x80};
        for (size_t i = 0; i < n; ++i) {
            const uint8_t r = next();
            switch (content) {
            case Content::Typical: p.push_back(common[r & 15]); break;
            case Content::Sparse: p.push_back((r & 31) == 0 ? next() : 0); break;
            case Content::Random: p.push_back(r); break;
            }
        }
    };
    p.push_back(0);
    appendBE32(p, 4 + 65536);
    appendBE32(p, 0x20000000);
    image(65536);
    p.push_back(4);
    appendBE32(p, 64);
    const char* d = "1234            2.11.3          40F5849A        USBHub3p        ";
    p.insert(p.end(), d, d + 64);
    const size_t firmware = kPayloadSize - p.size() - 5 - 4 - 4;
    p.push_back(1);
    appendBE32(p, uint32_t(4 + firmware));
    appendBE32(p, 0);
    image(firmware);
    appendBE32(p, 0);
    if (p.size() != kPayloadSize)
        throw std::logic_error("payload size");
    return p;
}

class BundleFile {
public:
    explicit BundleFile(Content content)
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/birdbench.XXXXXX";
        if (!mkdtemp(&tmpl[0]))
            throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        path_ = dir_ + "/bundle.bird";

        const std::vector<uint8_t> payload = makePayload(content);
        uLongf length = compressBound(uLong(payload.size()));
        std::vector<uint8_t> file(6 + length);
        std::memcpy(file.data(), "bird\1\1", 6);
        if (compress(file.data() + 6, &length, payload.data(), uLong(payload.size())) != Z_OK)
            throw std::runtime_error("compress");
        file.resize(6 + length);
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (!f)
            throw std::runtime_error("create " + path_);
        const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
        if (std::fclose(f) != 0 || !ok)
            throw std::runtime_error("write " + path_);
        fileSize_ = file.size();
    }
    ~BundleFile()
    {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& path() const { return path_; }
    size_t fileSize() const { return fileSize_; }

private:
    std::string dir_;
    std::string path_;
    size_t fileSize_ = 0;
};

void BM_BirdFileLoad(benchmark::State& state, Content content)
{
    BundleFile bundle(content);
    int64_t worst = 0;
    for (auto _ : state) {
        const int64_t base = g_live.load();
        g_peak.store(base);
        {
            BirdFile bird(bundle.path().c_str());
            benchmark::DoNotOptimize(bird.blockCount);
            if (bird.blockCount != 3)
                state.SkipWithError("bundle did not load");
        }
        worst = std::max(worst, g_peak.load() - base);
    }
    const double mib = 1024.0 * 1024.0;
    const double target = double(bundle.fileSize()) + 2.0 * double(kPayloadSize);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayloadSize));
    state.counters["file_MiB"] = double(bundle.fileSize()) / mib;
    state.counters["payload_MiB"] = double(kPayloadSize) / mib;
    state.counters["target_MiB"] = target / mib;
    if (BENCH_COUNT_HEAP) {
        state.counters["peak_MiB"] = double(worst) / mib;
        state.counters["within_target"] = double(worst) <= target ? 1 : 0;
    }
}

}  // namespace

BENCHMARK_CAPTURE(BM_BirdFileLoad, typical, Content::Typical)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BirdFileLoad, sparse_over_8to1, Content::Sparse)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BirdFileLoad, incompressible, Content::Random)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
