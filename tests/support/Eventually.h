// A bounded polling wait, for state another thread changes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace morvtest {

// true once pred holds, polling until timeout; pred is asked once more at the end.
inline bool eventually(const std::function<bool()>& pred,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}

inline bool eventually(const std::function<bool()>& pred, int timeoutMs)
{
    return eventually(pred, std::chrono::milliseconds(timeoutMs));
}

}  // namespace morvtest
