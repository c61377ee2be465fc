// Milliseconds on the monotonic clock, for tests that bound a wait.
#pragma once

#include <chrono>

namespace morvtest {

inline long long msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace morvtest
