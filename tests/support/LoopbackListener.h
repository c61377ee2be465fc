// A TCP listener on 127.0.0.1 with an ephemeral port, standing in for a
// module's or a server's end of a connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace morvtest {

// One accepted connection; closed (orderly) when destroyed.
class LoopbackPeer {
public:
    explicit LoopbackPeer(int fd) : fd_(fd) {}
    ~LoopbackPeer();

    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // Bytes received until count arrived, the other side closed or timeoutMs passed.
    std::string read(std::size_t count, int timeoutMs);
    // Sends all bytes; false on failure.
    bool write(const std::string& bytes);

    // Closes with SO_LINGER 0: the other side sees a reset.
    void reset();
    // Orderly close: the other side sees the end of the stream.
    void close();

private:
    int fd_;
};

class LoopbackListener {
public:
    // receiveBuffer > 0 sets SO_RCVBUF, inherited by accepted connections, so
    // that a peer that stops reading fills up quickly. A connection the
    // backlog has no room for is not answered (its connect hangs). Throws
    // std::runtime_error on failure.
    explicit LoopbackListener(int backlog = 8, int receiveBuffer = 0);
    ~LoopbackListener();

    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return port_; }
    // 127.0.0.1 in network byte order.
    static std::uint32_t address();

    // The next connection, or nullptr when none came within timeoutMs.
    std::unique_ptr<LoopbackPeer> accept(int timeoutMs);
    // Closes the listening socket: later connects to the port are refused.
    void stop();
    bool isListening() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace morvtest
