#include "SimSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvsim {

namespace {

std::runtime_error failure(const std::string& what)
{
    return std::runtime_error("module simulator: " + what + ": " + std::strerror(errno));
}

}  // namespace

int listenLoopback(const std::string& ip, std::uint16_t port, std::uint16_t& boundPort)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1)
        throw std::invalid_argument("module simulator: not an IPv4 address: " + ip);
    // Tests must never listen beyond this machine.
    if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        throw std::invalid_argument("module simulator: not a loopback address: " + ip);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw failure("socket");
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 8) != 0) {
        auto error = failure("bind/listen " + ip + ":" + std::to_string(port));
        ::close(fd);
        throw error;
    }
    socklen_t len = sizeof(addr);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        auto error = failure("getsockname");
        ::close(fd);
        throw error;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

void makeNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        throw failure("fcntl O_NONBLOCK");
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

bool isSocket(int fd)
{
    struct stat st{};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool isTcpSocket(int fd)
{
    if (!isSocket(fd))
        return false;
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    return addr.ss_family == AF_INET || addr.ss_family == AF_INET6;
}

void closeWithReset(int fd)
{
    if (isTcpSocket(fd)) {
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    }
    ::close(fd);
}

ssize_t writeSome(int fd, bool socket, const std::uint8_t* bytes, std::size_t count)
{
    for (;;) {
        ssize_t n = socket ? ::send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT) : ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

ssize_t readSome(int fd, bool socket, std::uint8_t* bytes, std::size_t count)
{
    for (;;) {
        ssize_t n = socket ? ::recv(fd, bytes, count, MSG_DONTWAIT) : ::read(fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

}  // namespace morvsim
