#include "LoopbackListener.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace morvtest {

namespace {

int msLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::runtime_error failure(const char* what)
{
    return std::runtime_error(std::string("LoopbackListener: ") + what + ": " + std::strerror(errno));
}

}  // namespace

LoopbackPeer::~LoopbackPeer()
{
    close();
}

std::string LoopbackPeer::read(std::size_t count, int timeoutMs)
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && out.size() < count) {
        int left = msLeft(deadline);
        if (left == 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[65536];
        std::size_t want = std::min(sizeof(buffer), count - out.size());
        ssize_t n = ::recv(fd_, buffer, want, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

bool LoopbackPeer::write(const std::string& bytes)
{
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

void LoopbackPeer::reset()
{
    if (fd_ < 0)
        return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    ::close(fd_);
    fd_ = -1;
}

void LoopbackPeer::close()
{
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

LoopbackListener::LoopbackListener(int backlog, int receiveBuffer)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw failure("socket");
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (receiveBuffer > 0 &&
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer)) != 0) {
        auto error = failure("SO_RCVBUF");
        stop();
        throw error;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address();
    a.sin_port = 0;
    socklen_t length = sizeof(a);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        auto error = failure("bind/listen");
        stop();
        throw error;
    }
    port_ = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    stop();
}

std::uint32_t LoopbackListener::address()
{
    return htonl(INADDR_LOOPBACK);
}

std::unique_ptr<LoopbackPeer> LoopbackListener::accept(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        int ready = ::poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return nullptr;
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return std::make_unique<LoopbackPeer>(fd);
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
            return nullptr;
    }
    return nullptr;
}

void LoopbackListener::stop()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace morvtest
