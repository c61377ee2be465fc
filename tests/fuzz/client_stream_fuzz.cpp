// Sends arbitrary frames from a server (a ROUTER on 127.0.0.1) to a network
// client stream and reads them back byte by byte as the link's reader does,
// and writes arbitrary bytes through the stream as the link's writer does.
// Aborts when a byte is lost, added or reordered, when a write sends what is
// not a whole packet, or when a refused write sends anything.
#include "aPacket.h"
#include "aStream.h"
#include "aStreamClient.h"
#include "FuzzRig.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Ends every input's frames, so the reader knows where they stop without
// waiting for silence.
const std::string kMarker("\x02\x03MRK", 5);

struct Rig {
    zsock_t* server = nullptr;
    zframe_t* client = nullptr;  // the stream's routing identity
    aStream* stream = nullptr;

    Rig()
    {
        zsys_handler_set(nullptr);
        server = zsock_new(ZMQ_ROUTER);
        check(server != nullptr);
        zsock_set_router_mandatory(server, 1);
        int port = zsock_bind(server, "tcp://127.0.0.1:*");
        check(port > 0);
        check(aStream_CreateClient(inet_addr("127.0.0.1"), uint16_t(port), &stream) == aErrNone);
        // The server learns the client's identity from its first packet. A
        // packet sent before the connection is up is dropped, not queued: try
        // again for up to 5 s.
        const char hello[2] = {0x02, 0x00};
        zsock_set_rcvtimeo(server, 100);
        zmsg_t* first = nullptr;
        for (int attempt = 0; attempt < 50 && first == nullptr; attempt++) {
            check(aStream_Write(stream, hello, sizeof(hello)) == aErrNone);
            first = zmsg_recv(server);
        }
        check(first != nullptr && zmsg_size(first) == 2);
        // Later hellos that were on their way.
        while (zmsg_t* late = zmsg_recv(server))
            zmsg_destroy(&late);
        client = zmsg_pop(first);
        zmsg_destroy(&first);
    }
    ~Rig()
    {
        aStream_Destroy(&stream);
        zframe_destroy(&client);
        zsock_destroy(&server);
    }
};

Rig& rig()
{
    return fuzzRig<Rig>();
}

// libFuzzer's timer signal can cut a wait short: try again, a few times.
zmsg_t* receiveAtServer()
{
    zmsg_t* message = nullptr;
    for (int attempt = 0; attempt < 10 && message == nullptr; attempt++) {
        message = zmsg_recv(rig().server);
        if (message == nullptr && errno != EINTR)
            break;
    }
    return message;
}

void sendToClient(const std::vector<std::string>& parts)
{
    zmsg_t* message = zmsg_new();
    zframe_t* identity = zframe_dup(rig().client);
    zmsg_append(message, &identity);
    for (const std::string& part : parts)
        zmsg_addmem(message, part.data(), part.size());
    int sent = -1;
    for (int attempt = 0; attempt < 10 && sent != 0; attempt++) {
        sent = zmsg_send(&message, rig().server);
        if (sent != 0 && errno != EINTR)
            break;
    }
    check(sent == 0);
}

// Reads exactly the bytes expected, as the link's reader would: not-ready
// answers are read through, one for each empty frame and up to 20 more
// (each at most 1 s).
void readBack(const std::string& expected, size_t emptyFrames)
{
    std::string got;
    size_t idle = 0;
    while (got.size() < expected.size()) {
        char byte;
        aErr err = aStream_Read(rig().stream, &byte, 1);
        if (err == aErrNotReady) {
            check(++idle <= emptyFrames + 20);
            continue;
        }
        check(err == aErrNone);
        got.push_back(byte);
        check(got.back() == expected[got.size() - 1]);
    }
}

// The packets of a write, as the server must receive them: one frame each.
bool splitPackets(const std::string& bytes, std::vector<std::string>* packets)
{
    for (size_t at = 0; at < bytes.size();) {
        size_t left = bytes.size() - at;
        if (left < 2)
            return false;
        size_t size = 2u + uint8_t(bytes[at + 1]);
        if (uint8_t(bytes[at + 1]) > aPACKET_MAX_DATA || left < size)
            return false;
        packets->push_back(bytes.substr(at, size));
        at += size;
    }
    return true;
}

void writeThrough(const std::string& bytes)
{
    std::vector<std::string> packets;
    const bool whole = splitPackets(bytes, &packets) && bytes.size() != 1;
    aErr err = aStream_Write(rig().stream, bytes.data(), bytes.size());
    if (bytes.size() == 1) {
        check(err == aErrUnimplemented);  // single bytes are never sent
    } else {
        check((err == aErrNone) == whole);
    }
    // The marker packet follows, so what arrives before it is all the write sent.
    check(aStream_Write(rig().stream, kMarker.data(), kMarker.size()) == aErrNone);
    if (!whole || err != aErrNone)
        packets.clear();
    packets.push_back(kMarker);
    zsock_set_rcvtimeo(rig().server, 5000);
    for (const std::string& expected : packets) {
        zmsg_t* message = receiveAtServer();
        check(message != nullptr && zmsg_size(message) == 2);
        zframe_t* identity = zmsg_first(message);
        check(zframe_eq(identity, rig().client));
        zframe_t* frame = zmsg_next(message);
        check(zframe_size(frame) == expected.size() &&
              std::memcmp(zframe_data(frame), expected.data(), expected.size()) == 0);
        zmsg_destroy(&message);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rig();
    // Input: [write length][write bytes], then frames: [parts][length, bytes]...
    size_t at = 0;
    auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    auto bytes = [&](size_t n) {
        std::string out;
        while (n-- > 0 && at < size)
            out.push_back(char(data[at++]));
        return out;
    };
    writeThrough(bytes(byte() % 64));

    std::string expected;
    size_t emptyFrames = 0;
    for (int messages = 0; at < size && messages < 64; messages++) {
        int parts = 1 + byte() % 3;
        std::vector<std::string> frames;
        for (int i = 0; i < parts; i++) {
            uint8_t lengthByte = byte();
            // Mostly short frames; now and then one as long as a stream batch
            // (at most 4064 bytes: the stream refuses frames over 4096).
            size_t length = (lengthByte & 0x80) != 0 ? size_t(lengthByte & 0x7F) * 32 : lengthByte;
            frames.push_back(bytes(length));
            expected += frames.back();
            emptyFrames += frames.back().empty() ? 1 : 0;
        }
        sendToClient(frames);
    }
    sendToClient({kMarker});
    readBack(expected + kMarker, emptyFrames);
    return 0;
}
