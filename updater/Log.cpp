#include "Log.h"

#include <cstdarg>
#include <cstring>
#include <mutex>

std::atomic<FILE*> Log::fh{nullptr};
std::atomic<uint32_t> Log::package_bitmask{0};

namespace {
constexpr size_t kLogBufferSize = 2048;
// The stdio lock already keeps one fwrite whole; this one also makes it visible
// to the thread sanitizer, which cannot see inside the C library.
std::mutex g_writeLock;
}

void Log::log(unsigned package, const char* format, ...)
{
    if (package != 0 && (package & package_bitmask.load(std::memory_order_relaxed)) == 0)
        return;
    FILE* out = fh.load(std::memory_order_relaxed);
    if (out == nullptr || format == nullptr)
        return;

    char buffer[kLogBufferSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n <= 0)
        return;
    std::lock_guard<std::mutex> lock(g_writeLock);
    fwrite(buffer, 1, strlen(buffer), out);
}

void Log::SetOutput(FILE* f)
{
    fh.store(f, std::memory_order_relaxed);
}

void Log::ActivatePackage(unsigned bits)
{
    package_bitmask.fetch_or(bits, std::memory_order_relaxed);
}

void Log::DeactivatePackage(unsigned bits)
{
    package_bitmask.fetch_and(~bits, std::memory_order_relaxed);
}
