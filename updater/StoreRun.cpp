#include "StoreRun.h"

#include <sys/stat.h>

#include <cerrno>

constexpr std::chrono::seconds StoreRun::DEFAULT_BOUND;

namespace {

unsigned wholeSeconds(std::chrono::milliseconds time)
{
    return static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::seconds>(time + std::chrono::milliseconds(999)).count());
}

}  // namespace

StoreRun::StoreRun(std::chrono::milliseconds bound, Notice waiting, Notice gaveUp)
    : _left(bound < std::chrono::milliseconds::zero() ? std::chrono::milliseconds::zero() : bound),
      _waiting(std::move(waiting)), _gaveUp(std::move(gaveUp))
{
}

StoreTurn StoreRun::Take(const std::string& directory)
{
    struct stat info;
    const bool known = stat(directory.c_str(), &info) == 0;
    const auto key = known ? std::make_pair(info.st_dev, info.st_ino) : std::make_pair(dev_t(0), ino_t(0));
    if (known) {
        const auto held = _held.find(key);
        if (held != _held.end()) {
            if (std::shared_ptr<DirectoryLock> lock = held->second.lock())
                return StoreTurn(lock, false);
            _held.erase(held);
        }
    }
    const std::chrono::milliseconds left = _left;
    std::chrono::steady_clock::time_point waitStart;
    bool waited = false;
    auto lock = std::make_shared<DirectoryLock>(directory, left, [&] {
        waitStart = std::chrono::steady_clock::now();
        waited = true;
        if (_toldWaiting || !_waiting)
            return;
        _toldWaiting = true;
        _waiting(directory, wholeSeconds(left));
    });
    // Only time spent waiting for another run counts; a wait that ran out used all there was.
    if (lock->Error() == ETIMEDOUT) {
        _left = std::chrono::milliseconds::zero();
        _gaveUpOnce = true;
    } else if (waited) {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - waitStart);
        _left = spent >= _left ? std::chrono::milliseconds::zero() : _left - spent;
    }
    if (lock->Error() == ETIMEDOUT && !_toldGaveUp && _gaveUp) {
        _toldGaveUp = true;
        _gaveUp(directory, wholeSeconds(left));
    }
    if (known && lock->Held())
        _held[key] = lock;
    return StoreTurn(lock, lock->Held());
}
