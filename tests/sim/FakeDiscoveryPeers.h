// Peers of the discovery searches: a module answering TCP/IP discovery, a
// network server answering the loopback multicast exchange, and one answering
// the discovery beacon. Each opens its sockets when constructed, so construct
// it on a thread of the namespace it belongs in (morvtest::NetnsThread::run);
// its own worker thread then serves them until it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "aLinkSpec.h"

namespace morvsim {

using Bytes = std::vector<std::uint8_t>;

// The 16-byte reply of a module to TCP/IP discovery.
Bytes tcpipReply(std::uint8_t moduleAddress, std::uint16_t port, std::uint32_t serialNumber,
                 std::uint8_t model);
// A network server's spec (type 4) as the 128 bytes it sends.
linkSpec serverSpec(std::uint32_t serialNumber, const std::string& address, std::uint16_t port,
                    std::int32_t model = 0x13);
Bytes specBytes(const linkSpec& spec);

// Runs serve() on a worker thread until destruction; stopFd() becomes
// readable when it is time to stop.
class PeerThread {
public:
    PeerThread();
    virtual ~PeerThread();
    PeerThread(const PeerThread&) = delete;
    PeerThread& operator=(const PeerThread&) = delete;

protected:
    void start();
    // Call first in the subclass destructor.
    void stop();
    int stopFd() const { return stopPipe_[0]; }
    // Waits until fd is readable, the stop or timeoutMs; true when fd is.
    bool waitReadable(int fd, int timeoutMs);
    bool stopping() const { return stopping_.load(); }
    virtual void serve() = 0;

private:
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Listens on 232.2.2.2:9888 joined on one interface and answers every
// request (first byte 1) with the reply bytes, sent to port 9889 of the
// requester, `repeat` times `intervalMs` apart.
class FakeTcpipModule : public PeerThread {
public:
    FakeTcpipModule(const std::string& interfaceAddress, Bytes reply, int repeat = 1,
                    int intervalMs = 0);
    ~FakeTcpipModule() override;

    int requests() const { return requests_.load(); }
    Bytes lastRequest() const;

private:
    void serve() override;

    int fd_ = -1;
    Bytes reply_;
    int repeat_;
    int intervalMs_;
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    Bytes lastRequest_;
};

// Holds loopback multicast slot `slot` (binds its request port without
// address reuse) and answers the 4-byte request word with the reply bytes
// on the slot's reply port; a silent one never answers.
class FakeMulticastServer : public PeerThread {
public:
    FakeMulticastServer(unsigned slot, Bytes reply, bool answers = true);
    ~FakeMulticastServer() override;

    int requests() const { return requests_.load(); }

private:
    void serve() override;

    unsigned slot_;
    int receiver_ = -1;
    int sender_ = -1;
    Bytes reply_;
    bool answers_;
    std::atomic<int> requests_{0};
};

// Listens on UDP port 8585; once it hears the discovery tag it broadcasts
// each payload to broadcastAddress:8585 every intervalMs, at most `rounds`
// times.
class FakeBeaconServer : public PeerThread {
public:
    FakeBeaconServer(const std::string& broadcastAddress, std::vector<Bytes> payloads,
                     int intervalMs = 100, int rounds = 30);
    ~FakeBeaconServer() override;

    int tagsHeard() const { return tags_.load(); }
    int roundsSent() const { return sent_.load(); }

private:
    void serve() override;

    int fd_ = -1;
    std::string broadcast_;
    std::vector<Bytes> payloads_;
    int intervalMs_;
    int rounds_;
    std::atomic<int> tags_{0};
    std::atomic<int> sent_{0};
};

}  // namespace morvsim
