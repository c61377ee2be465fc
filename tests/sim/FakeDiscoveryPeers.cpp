#include "FakeDiscoveryPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace morvsim {

namespace {

constexpr std::uint16_t kTcpipRequestPort = 9888;
constexpr std::uint16_t kTcpipReplyPort = 9889;
constexpr const char* kTcpipGroup = "232.2.2.2";
constexpr const char* kServerGroup = "224.0.0.7";
constexpr std::uint16_t kServerRequestPort = 9850;
constexpr std::uint16_t kServerReplyPort = 9950;
constexpr std::uint16_t kBeaconPort = 8585;
constexpr const char kBeaconTag[] = "Morvasset2-Discovery";

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

in_addr parseAddress(const std::string& text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        throw std::runtime_error("bad IPv4 address " + text);
    return address;
}

sockaddr_in endpoint(in_addr address, std::uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr = address;
    out.sin_port = htons(port);
    return out;
}

int udpSocket()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        fail("socket");
    return fd;
}

void setOption(int fd, int level, int name, int value, const char* what)
{
    if (setsockopt(fd, level, name, &value, sizeof(value)) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        fail(what);
    }
}

void bindTo(int fd, in_addr address, std::uint16_t port, const char* what)
{
    sockaddr_in local = endpoint(address, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        fail(what);
    }
}

void join(int fd, const char* group, in_addr interface)
{
    ip_mreq membership{};
    membership.imr_multiaddr = parseAddress(group);
    membership.imr_interface = interface;
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        fail("IP_ADD_MEMBERSHIP");
    }
}

void sendTo(int fd, const Bytes& bytes, const sockaddr_in& to)
{
    (void)sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                 sizeof(to));
}

}  // namespace

Bytes tcpipReply(std::uint8_t moduleAddress, std::uint16_t port, std::uint32_t serialNumber,
                 std::uint8_t model)
{
    Bytes reply(16, 0);
    reply[0] = 0xA5; // not read by the host
    reply[1] = moduleAddress;
    reply[2] = std::uint8_t(port);
    reply[3] = std::uint8_t(port >> 8);
    for (int i = 0; i < 4; ++i)
        reply[4 + i] = std::uint8_t(serialNumber >> (8 * i));
    reply[8] = 0x5A;
    reply[12] = model;
    reply[13] = 0x77;
    return reply;
}

linkSpec serverSpec(std::uint32_t serialNumber, const std::string& address, std::uint16_t port,
                    std::int32_t model)
{
    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    spec.type = linkTypeAEther;
    spec.serialNumber = serialNumber;
    spec.model = model;
    spec.ipAddress = parseAddress(address).s_addr;
    spec.port = port;
    return spec;
}

Bytes specBytes(const linkSpec& spec)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&spec);
    return Bytes(p, p + sizeof(spec));
}

PeerThread::PeerThread()
{
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        fail("pipe2");
}

PeerThread::~PeerThread()
{
    stop();
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

void PeerThread::start()
{
    thread_ = std::thread([this] { serve(); });
}

void PeerThread::stop()
{
    if (!stopping_.exchange(true)) {
        char byte = 1;
        (void)!write(stopPipe_[1], &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
}

bool PeerThread::waitReadable(int fd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    int count = fd >= 0 ? 2 : 1;
    pollfd* first = fd >= 0 ? fds : fds + 1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left < 0)
            left = 0;
        int ready = poll(first, nfds_t(count), int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || stopping())
            return false;
        return fd >= 0 && (fds[0].revents & POLLIN);
    }
}

FakeTcpipModule::FakeTcpipModule(const std::string& interfaceAddress, Bytes reply, int repeat,
                                 int intervalMs)
    : reply_(std::move(reply)), repeat_(repeat), intervalMs_(intervalMs)
{
    in_addr interface = parseAddress(interfaceAddress);
    fd_ = udpSocket();
    setOption(fd_, SOL_SOCKET, SO_REUSEADDR, 1, "SO_REUSEADDR");
    bindTo(fd_, in_addr{htonl(INADDR_ANY)}, kTcpipRequestPort, "bind 9888");
    join(fd_, kTcpipGroup, interface);
    start();
}

FakeTcpipModule::~FakeTcpipModule()
{
    stop();
    close(fd_);
}

Bytes FakeTcpipModule::lastRequest() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastRequest_;
}

void FakeTcpipModule::serve()
{
    while (!stopping()) {
        if (!waitReadable(fd_, 1000))
            continue;
        std::uint8_t buffer[64];
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        ssize_t got = recvfrom(fd_, buffer, sizeof(buffer), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &length);
        if (got <= 0 || buffer[0] != 1)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastRequest_.assign(buffer, buffer + got);
        }
        ++requests_;
        sockaddr_in to = endpoint(from.sin_addr, kTcpipReplyPort);
        for (int i = 0; i < repeat_ && !stopping(); ++i) {
            if (i > 0)
                waitReadable(-1, intervalMs_);
            sendTo(fd_, reply_, to);
        }
    }
}

FakeMulticastServer::FakeMulticastServer(unsigned slot, Bytes reply, bool answers)
    : slot_(slot), reply_(std::move(reply)), answers_(answers)
{
    in_addr loopback{htonl(INADDR_LOOPBACK)};
    receiver_ = udpSocket();
    setOption(receiver_, SOL_SOCKET, SO_REUSEADDR, 0, "SO_REUSEADDR");
    bindTo(receiver_, in_addr{htonl(INADDR_ANY)}, std::uint16_t(kServerRequestPort + slot),
           "bind request port");
    join(receiver_, kServerGroup, loopback);

    sender_ = udpSocket();
    if (setsockopt(sender_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof(loopback)) != 0)
        fail("IP_MULTICAST_IF");
    unsigned char loop = 1;
    setsockopt(sender_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));
    start();
}

FakeMulticastServer::~FakeMulticastServer()
{
    stop();
    close(receiver_);
    close(sender_);
}

void FakeMulticastServer::serve()
{
    const std::uint8_t word[4] = {0xBA, 0xDC, 0xCD, 0xAB};
    sockaddr_in to = endpoint(parseAddress(kServerGroup), std::uint16_t(kServerReplyPort + slot_));
    while (!stopping()) {
        if (!waitReadable(receiver_, 1000))
            continue;
        std::uint8_t buffer[64];
        ssize_t got = recv(receiver_, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got != 4 || std::memcmp(buffer, word, 4) != 0)
            continue;
        ++requests_;
        if (answers_)
            sendTo(sender_, reply_, to);
    }
}

FakeBeaconServer::FakeBeaconServer(const std::string& broadcastAddress, std::vector<Bytes> payloads,
                                   int intervalMs, int rounds)
    : broadcast_(broadcastAddress), payloads_(std::move(payloads)), intervalMs_(intervalMs),
      rounds_(rounds)
{
    parseAddress(broadcast_);
    fd_ = udpSocket();
    setOption(fd_, SOL_SOCKET, SO_REUSEADDR, 1, "SO_REUSEADDR");
    setOption(fd_, SOL_SOCKET, SO_REUSEPORT, 1, "SO_REUSEPORT");
    setOption(fd_, SOL_SOCKET, SO_BROADCAST, 1, "SO_BROADCAST");
    bindTo(fd_, in_addr{htonl(INADDR_ANY)}, kBeaconPort, "bind 8585");
    start();
}

FakeBeaconServer::~FakeBeaconServer()
{
    stop();
    close(fd_);
}

void FakeBeaconServer::serve()
{
    sockaddr_in to = endpoint(parseAddress(broadcast_), kBeaconPort);
    bool publishing = false;
    auto next = std::chrono::steady_clock::now();
    while (!stopping()) {
        int wait = 1000;
        if (publishing) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            next - std::chrono::steady_clock::now())
                            .count();
            wait = left < 0 ? 0 : int(left);
        }
        if (waitReadable(fd_, wait)) {
            std::uint8_t buffer[300];
            ssize_t got = recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (got == ssize_t(sizeof(kBeaconTag) - 1) &&
                std::memcmp(buffer, kBeaconTag, sizeof(kBeaconTag) - 1) == 0) {
                ++tags_;
                if (!publishing) {
                    publishing = true;
                    next = std::chrono::steady_clock::now();
                }
            }
            continue;
        }
        if (stopping())
            break;
        if (publishing && std::chrono::steady_clock::now() >= next) {
            if (sent_.load() >= rounds_) {
                publishing = false;
                continue;
            }
            for (const Bytes& payload : payloads_)
                sendTo(fd_, payload, to);
            ++sent_;
            next += std::chrono::milliseconds(intervalMs_);
        }
    }
}

}  // namespace morvsim
