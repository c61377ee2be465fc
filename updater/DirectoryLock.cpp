#include "DirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace {

// A waiter looks again soon at first, then every quarter of a second: a
// short turn costs it little, a long one next to no CPU.
constexpr std::chrono::milliseconds kFirstRetry(10);
constexpr std::chrono::milliseconds kLongestRetry(250);

}  // namespace

DirectoryLock::DirectoryLock(const std::string& directory, std::chrono::milliseconds wait,
                             const std::function<void()>& waiting)
{
    _fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (_fd < 0) {
        _error = errno;
        // A directory we may write in but not read cannot carry the lock either.
        _unsupported = errno == EACCES;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto retry = kFirstRetry;
    bool told = false;
    for (;;) {
        if (flock(_fd, LOCK_EX | LOCK_NB) == 0) {
            _held = true;
            return;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            _unsupported = errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            errno = ETIMEDOUT;
            break;
        }
        if (!told && waiting)
            waiting();
        told = true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(retry, deadline - now));
        retry = std::min(retry * 2, kLongestRetry);
    }
    _error = errno;
    close(_fd);
    _fd = -1;
}

DirectoryLock::~DirectoryLock() {
    // Closing the only descriptor of the open directory releases the lock.
    if (_fd >= 0) close(_fd);
}
