#include "FdIo.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace morvtest {

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    return ioAll(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

bool sendAll(int fd, const std::string& bytes)
{
    return ioAll(bytes.size(),
                 [&](std::size_t done) { return ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL); });
}

std::string readUpTo(int fd, std::size_t count, int timeoutMs)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof(buffer), count - out.size()), MSG_DONTWAIT);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace morvtest
