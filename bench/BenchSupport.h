// What the benchmark programs share: elapsed time on the monotonic clock,
// whole reads and writes on a socket, and a direct TCP link to a simulator.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FdIo.h"
#include "aEtherConfig.h"
#include "aLinkSpec.h"

namespace benchsupport {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

inline void noDelay(int fd)
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// False once the peer is gone or a send fails.
inline bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    return morvtest::ioAll(size,
                           [&](std::size_t done) { return ::send(fd, data + done, size - done, MSG_NOSIGNAL); });
}

// False once the peer is gone or a receive fails.
inline bool readAll(int fd, std::uint8_t* data, std::size_t size)
{
    return morvtest::ioAll(size, [&](std::size_t done) { return ::recv(fd, data + done, size - done, 0); });
}

// A TCP/IP link spec for ip (dotted quad) and port.
inline linkSpec tcpSpec(const char* ip, std::uint16_t port)
{
    linkSpec spec;
    std::memset(&spec, 0, sizeof spec);
    spec.type = linkTypeTCPIP;
    in_addr address{};
    inet_pton(AF_INET, ip, &address);
    spec.ipAddress = address.s_addr;
    spec.port = port;
    return spec;
}

// A link straight to its module: no local server, no fallback.
inline Zorventa::Morvasset::aEtherConfig directConfig()
{
    Zorventa::Morvasset::aEtherConfig config;
    config.enabled = false;
    config.fallback = false;
    return config;
}

}  // namespace benchsupport
