// Drives the network server's broker with arbitrary client messages and
// arbitrary answers of its sync worker (command frames, tags, replies), and
// its frame-to-packet conversion with arbitrary frames. Aborts when a bad
// frame becomes a packet, when a request reaches the worker malformed, or
// when a reply reaches any client but the one whose request it answers, or
// more than once.
#include "aServerInternal.h"
#include "FuzzRig.h"

#include <czmq.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

constexpr int kClients = 3;
const char* const kIdentity[kClients] = {"A", "BB", "CCC"};

// Sockets made once: the broker's frontend with a client per identity, and
// the sync pair with the worker's side read by the fuzzer.
struct Rig {
    zsock_t* frontend = nullptr;
    zsock_t* clients[kClients] = {};
    zsock_t* syncBroker = nullptr;
    zsock_t* syncWorker = nullptr;
    aServer server{};

    Rig()
    {
        zsys_handler_set(nullptr);
        frontend = zsock_new(ZMQ_ROUTER);
        zsock_set_router_mandatory(frontend, 1);
        check(zsock_bind(frontend, "inproc://fuzz-frontend") == 0);
        for (int i = 0; i < kClients; i++) {
            clients[i] = zsock_new(ZMQ_DEALER);
            zsock_set_identity(clients[i], kIdentity[i]);
            check(zsock_connect(clients[i], "inproc://fuzz-frontend") == 0);
        }
        syncBroker = zsock_new(ZMQ_DEALER);
        syncWorker = zsock_new(ZMQ_DEALER);
        check(zsock_bind(syncBroker, "inproc://fuzz-sync") == 0);
        check(zsock_connect(syncWorker, "inproc://fuzz-sync") == 0);
        server.check = aSERVER_CHECK;
        server.frontend = frontend;
        server.syncBroker = syncBroker;
        // The router learns the clients' identities once each has spoken.
        for (int i = 0; i < kClients; i++) {
            zstr_send(clients[i], "hello");
            zmsg_t* hello = zmsg_recv(frontend);
            check(hello != nullptr);
            zmsg_destroy(&hello);
        }
    }
    ~Rig()
    {
        for (zsock_t*& client : clients)
            zsock_destroy(&client);
        zsock_destroy(&syncWorker);
        zsock_destroy(&syncBroker);
        zsock_destroy(&frontend);
    }
};

Rig& rig()
{
    return fuzzRig<Rig>();
}

// Reads the input front to back; zero past its end.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    std::string bytes(size_t n)
    {
        std::string out;
        while (n-- > 0 && at < size)
            out.push_back(static_cast<char>(data[at++]));
        return out;
    }
};

uint32_t tagOf(zframe_t* frame)
{
    const uint8_t* d = zframe_data(frame);
    return uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3];
}

void checkConversion(const std::string& frame)
{
    const auto* d = reinterpret_cast<const uint8_t*>(frame.data());
    aPacket* packet = _zFrame_To_aPacket(d, frame.size());
    if (packet == nullptr)
        return;
    check(frame.size() >= 2 && frame.size() <= aPACKET_MAX_SIZE);
    check(d[1] <= aPACKET_MAX_DATA && frame.size() == size_t(d[1]) + 2);
    check(d[0] == aLINK_SYNC_ADDRESS || d[0] == aLINK_FORCE_ROUTE_ADDRESS || (d[0] != 0 && (d[0] & 1) == 0));
    uint8_t wire[aPACKET_MAX_SIZE];
    size_t size = _aServer_Wire(packet, wire);
    check(size == frame.size() && std::memcmp(wire, d, size) == 0);
    aPacket_Destroy(&packet);
}

struct Run {
    aServerBrokerState* broker;
    // Tags the worker was sent and not yet answered, with the client that asked.
    std::map<uint32_t, int> open;

    // Everything the broker forwarded to the worker after a request of client.
    void takeForwarded(int client)
    {
        for (;;) {
            zmsg_t* message = zmsg_recv_nowait(rig().syncWorker);
            if (message == nullptr)
                return;
            zframe_t* tag = zmsg_first(message);
            check(tag != nullptr && zframe_size(tag) == aSERVER_TAG_SIZE);
            check(zmsg_size(message) >= 2);
            for (zframe_t* f = zmsg_next(message); f != nullptr; f = zmsg_next(message)) {
                aPacket* packet = _zFrame_To_aPacket(zframe_data(f), zframe_size(f));
                check(packet != nullptr);
                // A client's force-route command never reaches the module.
                check(!(packet->address == aLINK_FORCE_ROUTE_ADDRESS && packet->dataSize == 1));
                aPacket_Destroy(&packet);
            }
            uint32_t t = tagOf(tag);
            if (t != 0) {
                check(open.count(t) == 0);  // a tag is never reused while open
                open[t] = client;
            }
            zmsg_destroy(&message);
        }
    }

    // Replies that reached the clients: only the asking client, at most count.
    void takeDelivered(int asker, size_t allowed)
    {
        size_t delivered = 0;
        for (int i = 0; i < kClients; i++) {
            for (;;) {
                zframe_t* frame = zframe_recv_nowait(rig().clients[i]);
                if (frame == nullptr)
                    break;
                check(i == asker);
                delivered++;
                zframe_destroy(&frame);
            }
        }
        check(delivered <= allowed);
    }

    void request(Input& in, uint8_t op)
    {
        int client = (op >> 2) % kClients;
        zmsg_t* message = zmsg_new();
        zmsg_addstr(message, kIdentity[client]);
        int frames = 1 + ((op >> 4) & 1);
        for (int i = 0; i < frames; i++) {
            std::string content = in.bytes(in.byte() % 40);
            zmsg_addmem(message, content.data(), content.size());
        }
        if ((op & 0x80) != 0) {  // no content at all
            zframe_t* last = zmsg_last(message);
            zmsg_remove(message, last);
            zframe_destroy(&last);
        }
        _aServerBroker_Request(broker, message);
        zmsg_destroy(&message);
        takeForwarded(client);
        takeDelivered(-1, 0);
    }

    void answer(Input& in, uint8_t op)
    {
        zmsg_t* message = zmsg_new();
        std::string command = in.bytes((op & 0x04) != 0 ? in.byte() % 6 : 3);
        zmsg_addmem(message, command.data(), command.size());
        uint32_t tag = 0;
        int asker = -1;
        if ((op & 0x08) != 0 && !open.empty()) {
            auto it = open.begin();
            std::advance(it, in.byte() % open.size());
            tag = it->first;
        } else {
            for (char c : in.bytes(4))
                tag = tag << 8 | uint8_t(c);
        }
        uint8_t tagBytes[6] = {uint8_t(tag >> 24), uint8_t(tag >> 16), uint8_t(tag >> 8), uint8_t(tag), 0, 0};
        size_t tagSize = (op & 0x10) != 0 ? in.byte() % 6 : 4;
        zmsg_addmem(message, tagBytes, tagSize);
        int replies = in.byte() % 6;
        for (int i = 0; i < replies; i++) {
            std::string reply = in.bytes(in.byte() % 34);
            zmsg_addmem(message, reply.data(), reply.size());
        }
        auto it = open.find(tag);
        bool wellFormed = command.size() == aSERVER_CMD_SIZE && tagSize == aSERVER_TAG_SIZE;
        if (it != open.end() && wellFormed) {
            asker = it->second;
            open.erase(it);
        }
        _aServerBroker_Answer(broker, message);
        zmsg_destroy(&message);
        size_t allowed = 0;
        if (asker >= 0 && uint8_t(command[0]) == SERVER_CMD_INCOMING_PACKETS)
            allowed = std::min<size_t>(size_t(replies), size_t(uint8_t(command[1])) << 8 | uint8_t(command[2]));
        takeDelivered(asker, allowed);
        check(_aServerBroker_Pending(broker) == open.size());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    Run run{_aServerBroker_New(&rig().server), {}};
    check(run.broker != nullptr);
    for (int steps = 0; in.more() && steps < 256; steps++) {
        uint8_t op = in.byte();
        switch (op & 3) {
        case 0:
        case 1:
            run.request(in, op);
            break;
        case 2:
            run.answer(in, op);
            break;
        default:
            checkConversion(in.bytes(in.byte() % 40));
            break;
        }
    }
    _aServerBroker_Free(&run.broker);
    // Nothing of this input stays queued for the next.
    run.takeForwarded(0);
    run.takeDelivered(-1, 0);
    return 0;
}
