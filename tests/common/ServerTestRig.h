// Rig of the network-server tests: a module simulator behind a link, a server
// on that link, and clients of two kinds: network-client links (a client
// stream under a link) and bare DEALER sockets, for what a link would hide.
// Include it from one test file per program: it holds the program's
// ThreadSanitizer suppressions and switches CZMQ's signal handlers off.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <czmq.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Elapsed.h"
#include "Eventually.h"
#include "ModuleSimulator.h"
#include "PacketPtr.h"
#include "PrivateNetns.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aServer.h"
#include "aStreamClient.h"
#include "aUEI.h"

#if defined(__SANITIZE_THREAD__)
// libzmq and CZMQ are not instrumented: frames their lock-free pipes hand
// from thread to thread look like unsynchronised memory.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libzmq.so\nrace:libczmq.so\n";
}
#endif

namespace servertest {

// Before any CZMQ call: the test runner handles signals, not CZMQ. A child
// process that tests CZMQ's handlers asks for them with this variable.
inline const int kNoCzmqSignalHandler =
    std::getenv("MORV_CHILD_KEEP_CZMQ_HANDLERS") ? 0 : setenv("ZSYS_SIGHANDLER", "false", 1);

using morvsim::Bytes;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kModule = 4;
constexpr std::uint8_t kEcho = 23;

inline std::uint32_t ipv4(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

inline const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

using morvtest::eventually;
using morvtest::msSince;

inline Bytes dataOf(const aPacket* p)
{
    return Bytes(p->data, p->data + p->dataSize);
}

using morvtest::PacketPtr;

inline int acceptAll(const aPacket*, void*)
{
    return 1;
}

inline void echoHandler(SimModule& m, const SimPacket& p, SimReply& r)
{
    r.packet(m.address, p.data);
}

// Byte-buffer set packets of an entity: [command, option | 0x80, 0x20 |
// index, up to 24 bytes, sequence byte].
inline std::vector<Bytes> bufferSetPackets(std::uint8_t command, std::uint8_t option, std::uint8_t index,
                                           const Bytes& buffer)
{
    std::vector<Bytes> out;
    std::size_t offset = 0;
    std::uint8_t counter = 0;
    do {
        std::size_t n = std::min<std::size_t>(24, buffer.size() - offset);
        bool more = offset + n < buffer.size();
        Bytes d{command, static_cast<std::uint8_t>(option | 0x80), static_cast<std::uint8_t>(0x20 | index)};
        d.insert(d.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                 buffer.begin() + static_cast<std::ptrdiff_t>(offset + n));
        d.push_back(static_cast<std::uint8_t>((more ? 0x80 : 0) | (counter & 0x7F)));
        out.push_back(d);
        offset += n;
        counter = static_cast<std::uint8_t>((counter + 1) & 0x7F);
    } while (offset < buffer.size());
    return out;
}

// A network-client link: a client stream to the server under a link of its
// own (over a caller's stream, so it is never shared).
class ClientLink {
public:
    explicit ClientLink(std::uint16_t port, std::uint32_t address = kLoopback)
    {
        aStream* stream = nullptr;
        error = aStream_CreateClient(address, port, &stream);
        if (error == aErrNone)
            id = aLink_Create(stream);
    }
    ~ClientLink()
    {
        if (id != 0)
            aLink_Destroy(&id);
    }
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    bool ok() const { return error == aErrNone && id != 0; }

    aErr put(std::uint8_t address, const Bytes& data) const
    {
        static const std::uint8_t none = 0;
        aPacket* packet =
            aPacket_CreateWithData(address, static_cast<std::uint8_t>(data.size()), data.empty() ? &none : data.data());
        if (packet == nullptr)
            return aErrMemory;
        aErr err = aLink_PutPacket(id, packet);
        aPacket_Destroy(&packet);
        return err;
    }

    PacketPtr next(int ms) const { return PacketPtr(aLink_AwaitPacket(id, static_cast<std::uint64_t>(ms))); }

    // Sends and returns the next packet that comes back, whatever it is.
    PacketPtr ask(std::uint8_t address, const Bytes& data, int ms = 3000) const
    {
        if (put(address, data) != aErrNone)
            return PacketPtr();
        return next(ms);
    }

    // Packets that arrive within quietMs of each other, for at most totalMs.
    std::vector<Bytes> drain(int quietMs = 300, int totalMs = 3000) const
    {
        std::vector<Bytes> out;
        auto start = Clock::now();
        while (msSince(start) < totalMs) {
            PacketPtr p = next(quietMs);
            if (!p)
                break;
            out.push_back(p.data());
        }
        return out;
    }

    aErr error = aErrUnknown;
    int id = 0;
};

// A bare DEALER socket connected to the server's frontend; with an identity
// of its own when one is given.
class BareClient {
public:
    explicit BareClient(std::uint16_t port, const char* address = "127.0.0.1", const std::string& identity = {})
    {
        socket_ = zsock_new(ZMQ_DEALER);
        if (socket_ != nullptr) {
            zsock_set_linger(socket_, 0);
            if (!identity.empty())
                zsock_set_identity(socket_, identity.c_str());
            zsock_connect(socket_, "tcp://%s:%d", address, int(port));
        }
    }
    ~BareClient() { zsock_destroy(&socket_); }
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    bool send(const Bytes& bytes)
    {
        zframe_t* frame = zframe_new(bytes.data(), bytes.size());
        return frame != nullptr && zframe_send(&frame, socket_, 0) == 0;
    }
    bool sendPacket(std::uint8_t address, const Bytes& data)
    {
        Bytes wire{address, static_cast<std::uint8_t>(data.size())};
        wire.insert(wire.end(), data.begin(), data.end());
        return send(wire);
    }
    // The next frame within ms.
    std::optional<Bytes> receive(int ms)
    {
        zsock_set_rcvtimeo(socket_, ms);
        zframe_t* frame = zframe_recv(socket_);
        if (frame == nullptr)
            return std::nullopt;
        Bytes out(zframe_data(frame), zframe_data(frame) + zframe_size(frame));
        zframe_destroy(&frame);
        return out;
    }
    std::vector<Bytes> receiveAll(int quietMs = 300)
    {
        std::vector<Bytes> out;
        for (int i = 0; i < 10000; ++i) {
            auto frame = receive(quietMs);
            if (!frame)
                break;
            out.push_back(*frame);
        }
        return out;
    }
    zsock_t* socket() const { return socket_; }

private:
    zsock_t* socket_ = nullptr;
};

// Reports when a connection of a socket ends, as ZeroMQ sees it. Made after
// the socket and gone before it.
class DisconnectWatch {
public:
    explicit DisconnectWatch(zsock_t* socket)
    {
        monitor_ = zactor_new(zmonitor, socket);
        if (monitor_ != nullptr) {
            zstr_sendx(monitor_, "LISTEN", "DISCONNECTED", nullptr);
            zstr_sendx(monitor_, "START", nullptr);
            zsock_wait(monitor_);
        }
    }
    ~DisconnectWatch() { zactor_destroy(&monitor_); }
    DisconnectWatch(const DisconnectWatch&) = delete;
    DisconnectWatch& operator=(const DisconnectWatch&) = delete;

    // True when a connection ended within ms.
    bool seen(int ms)
    {
        if (monitor_ == nullptr)
            return false;
        zsock_set_rcvtimeo(monitor_, ms);
        zmsg_t* event = zmsg_recv(monitor_);
        bool ended = event != nullptr;
        zmsg_destroy(&event);
        return ended;
    }

private:
    zactor_t* monitor_ = nullptr;
};

inline Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes wire(std::uint8_t address, const Bytes& data)
{
    Bytes out{address, static_cast<std::uint8_t>(data.size())};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Tests whose server runs the loopback multicast responder run only inside a
// private network namespace (the test runner's).
class PrivateNetnsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
    }
};

// A simulated module behind a TCP link on 127.0.0.0/8 and a server on that
// link, held by the link's registry entry (so the link's teardown takes the
// server down).
class ServedModule {
public:
    explicit ServedModule(const char* ip = "127.0.0.1", std::uint32_t serial = 0) : sim(SimModule(kModule, serial, 0x13))
    {
        sim.setHandler(kModule, kEcho, echoHandler);
        std::uint16_t simPort = sim.listenTcp(ip);
        linkId = aLink_CreateTCPIP(ipv4(ip), simPort);
    }
    ~ServedModule()
    {
        if (linkId != 0)
            aLink_Destroy(&linkId);
        sim.stop();
    }
    ServedModule(const ServedModule&) = delete;
    ServedModule& operator=(const ServedModule&) = delete;

    // Creates and starts the server; its start's result.
    aErr serve(std::uint32_t interfaceAddress = 0, std::uint8_t localOnly = 0)
    {
        server = aServer_Create(linkId, interfaceAddress, localOnly);
        if (server == nullptr)
            return aErrResource;
        sLookupEntryByID(linkId)->server = server;
        aErr err = aServer_Start(server);
        aServer_GetPort(server, &port);
        return err;
    }

    // Takes the server off the link and destroys it.
    void stopServing()
    {
        if (server == nullptr)
            return;
        sLookupEntryByID(linkId)->server = nullptr;
        aServer_Destroy(&server);
    }

    ModuleSimulator sim;
    int linkId = 0;
    aServer* server = nullptr;
    std::uint16_t port = 0;
};

}  // namespace servertest
