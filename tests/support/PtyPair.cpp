#include "PtyPair.h"

#include "FdIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace morvtest {

PtyPair::PtyPair()
{
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    char name[256];
    if (ptsname_r(master_, name, sizeof(name)) != 0) {
        int error = errno;
        ::close(master_);
        ::close(slave_);
        throw std::runtime_error(std::string("ptsname_r: ") + std::strerror(error));
    }
    slavePath_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    closeSlave();
}

bool PtyPair::writeMaster(const std::string& bytes)
{
    return writeAll(master_, bytes.data(), bytes.size());
}

std::string PtyPair::readMaster(std::size_t count, int timeoutMs)
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && master_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        std::size_t want = std::min(sizeof(buffer), count - out.size());
        ssize_t n = ::read(master_, buffer, want);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPair::closeSlave()
{
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

}  // namespace morvtest
