// A signed overflow on every input, empty ones too. A fuzz build where this program's
// run passes would pass over undefined behaviour in the real fuzz programs as well.
#include <climits>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t size)
{
    volatile int largest = INT_MAX;
    volatile int sum = largest + static_cast<int>(size % 2 + 1);
    (void)sum;
    return 0;
}
