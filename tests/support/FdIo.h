// Whole reads and writes on the test's end of a pipe, socket or pty.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace morvtest {

// Repeats step (one read or write from an offset, answering as read(2) or
// write(2) does) until size bytes went, retrying interruptions; false once a
// call fails or moves nothing.
template <typename Step> bool ioAll(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes all size bytes to fd.
bool writeAll(int fd, const void* data, std::size_t size);

// Sends all of bytes on socket fd; a closed peer is a false, not a SIGPIPE.
bool sendAll(int fd, const std::string& bytes);

// What fd delivers until count bytes came, the peer closed or timeoutMs passed.
std::string readUpTo(int fd, std::size_t count, int timeoutMs);

}  // namespace morvtest
