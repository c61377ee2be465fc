// Link against the module simulator: connection by transport, entity
// requests and replies, raw packets, byte buffers, time-outs.
#include "LinkTestSupport.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <numeric>

#include "Patterns.h"
#include "PtyPair.h"
#include "aUEI.h"

using namespace linktest;
using namespace Zorventa::Morvasset;
using morvsim::bufferKey;
using morvsim::entityKey;
using morvsim::errorKey;
using morvsim::SimReply;

namespace {

using morvtest::ramp;

// A byte-buffer receive for the tests: stores the packets' value bytes in
// sequence, as an entity byte-buffer get does.
struct BufferReceive {
    uei record;
    Bytes buffer;
    std::size_t received = 0;
    bool outOfRoom = false;
};

std::uint8_t bufferFilter(const aPacket* packet, const void* ref)
{
    auto* r = static_cast<BufferReceive*>(const_cast<void*>(ref));
    const uei& e = r->record;
    if (packet->address != e.module || packet->dataSize < 4 || packet->data[0] != e.command ||
        packet->data[1] != e.option || (packet->data[2] & 0x1F) != e.specifier)
        return 0;
    if (aUEI_getBytesSequence(packet) != r->record.sequence)
        return 0;
    const std::size_t n = packet->dataSize - 4u;
    if (r->received + n > r->buffer.size()) {
        r->outOfRoom = true;
        return 1;
    }
    std::memcpy(r->buffer.data() + r->received, packet->data + 3, n);
    r->received += n;
    r->record.continued = aUEI_getBytesContinue(packet) ? 1 : 0;
    return 1;
}

// Receives a whole byte buffer with the test filter; the result of the last wait.
aErr receiveBuffer(Link& link, BufferReceive& r)
{
    for (int packets = 0; packets < 100000; ++packets) {
        const aErr result = link.receiveUEI(kModule, r.record.command, r.record.option, r.record.specifier,
                                            &r.record, &bufferFilter);
        if (result != aErrNone || r.outOfRoom)
            return result;
        if (!r.record.continued)
            return aErrNone;
        r.record.sequence = static_cast<std::uint8_t>((r.record.sequence + 1) & 0x7F);
    }
    return aErrUnknown;
}

uei bytesRequest(std::uint8_t option, const Bytes& data)
{
    uei r = request(static_cast<std::uint8_t>(0x80 | option), 0x20, ueiTypeBytes);
    r.v.bufPtr = const_cast<std::uint8_t*>(data.data());
    r.count = data.size();
    return r;
}

}  // namespace

// ---------------------------------------------------------------- construction and configuration

TEST(LinkObject, NameIsCopiedAndCutAt1024Characters)
{
    const std::string longName(1500, 'n');
    Link a(longName.c_str());
    ASSERT_NE(a.getName(), nullptr);
    EXPECT_EQ(std::string(a.getName()), longName.substr(0, 1024));

    std::string shortName = "Link";
    Link b(shortName.c_str());
    shortName[0] = 'X';
    EXPECT_STREQ(b.getName(), "Link");

    Link c(static_cast<const char*>(nullptr));
    EXPECT_EQ(c.getName(), nullptr);
}

TEST(LinkObject, ConfigurationDefaultsAndSpecifierStorage)
{
    Link link("Link");
    EXPECT_EQ(link.getConfig(nullptr), aErrParam);
    aEtherConfig c;
    c.enabled = false;
    ASSERT_EQ(link.getConfig(&c), aErrNone);
    EXPECT_TRUE(c.enabled);
    EXPECT_TRUE(c.fallback);
    EXPECT_EQ(c.localOnly, 1);
    EXPECT_EQ(c.port, 0);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&c.networkInterface);
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x7F, 0, 0, 1}));

    linkSpec out;
    EXPECT_EQ(link.getLinkSpecifier(&out), aErrNotFound);
    const linkSpec spec = tcpSpec("127.0.0.9", 4444);
    Link withSpec(spec, "Link");
    ASSERT_EQ(withSpec.getLinkSpecifier(&out), aErrNone);
    EXPECT_EQ(std::memcmp(&out, &spec, sizeof spec), 0);
    EXPECT_EQ(withSpec.getStatus(), 8);
    EXPECT_FALSE(withSpec.isConnected());
}

TEST(LinkObject, EverythingThatNeedsTheLinkFailsWhileNotConnected)
{
    Link link("Link");
    std::uint8_t byte = 0, length = 1, data[28] = {0};
    uei reply;
    EXPECT_EQ(link.sendUEI(request(0x48, 0x20)), aErrConnection);
    EXPECT_EQ(link.sendUEI(request(0x48, 0x20), 1), aErrConnection);
    EXPECT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), aErrConnection);
    EXPECT_EQ(link.dropMatchingUEIPackets(kModule, 3, 8, 0), aErrConnection);
    EXPECT_EQ(link.sendPacket(kModule, 23, 0, nullptr), aErrConnection);
    EXPECT_EQ(link.receivePacket(kModule, data, &length, data), aErrConnection);
    EXPECT_EQ(link.getModuleAddress(&byte), aErrNotReady);
    EXPECT_EQ(link.reset(), aErrConnection);
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_EQ(link.connect(), aErrConfiguration);  // no linkSpec stored
    Link::StreamStatusEntry rows[2];
    std::size_t count = 0;
    EXPECT_EQ(link.getStreamStatus(kModule, 3, 0xFF, 0, 0xFF, rows, 2, &count), aErrConnection);
    EXPECT_EQ(link.registerStreamCallback(kModule, 3, 1, 0, true, nullptr, nullptr), aErrConnection);
}

TEST(LinkObject, SpecsThatCannotBeConnected)
{
    struct Case {
        const char* what;
        linkSpec spec;
        bool enabled;
        aErr result;
    };
    linkSpec unknown = tcpSpec("127.0.0.1", 1);
    unknown.type = 9;
    linkSpec aether = tcpSpec("127.0.0.1", 1);
    aether.type = linkTypeAEther;
    linkSpec usb;
    std::memset(&usb, 0, sizeof usb);
    usb.type = linkTypeUSB;
    usb.serialNumber = 0x5555AAAA;
    usb.usbId = usb.serialNumber;
    linkSpec unterminated = serialSpec(7, "/dev/null");
    std::memset(unterminated.path, 'x', sizeof unterminated.path);
    const Case cases[] = {
        {"unknown type", unknown, false, aErrMode},
        {"network client while serving is off", aether, false, aErrConfiguration},
        {"USB through a local server that cannot start", usb, true, aErrConnection},
        {"serial path without its end", unterminated, false, aErrConfiguration},
        {"serial line at a rate the line has not", serialSpec(7, "/dev/null", 1200), false, aErrConnection},
    };
    for (const auto& c : cases) {
        Link link(c.spec, "Link");
        aEtherConfig config = directConfig();
        config.enabled = c.enabled;
        ASSERT_EQ(link.setConfig(config), aErrNone);
        EXPECT_EQ(link.connect(), c.result) << c.what;
        EXPECT_FALSE(link.isConnected()) << c.what;
        EXPECT_EQ(link.getStatus(), 8) << c.what;  // no id was kept
    }
}

TEST(LinkObject, NetworkClientWithNoServerConnectsButIsNeverAnswered)
{
    // The client stream connects lazily, as ZeroMQ does: nothing is there to refuse the link,
    // so it comes up, and the first question goes unanswered instead.
    linkSpec aether = tcpSpec("127.0.0.1", 1);
    aether.type = linkTypeAEther;
    Link link(aether, "Link");
    aEtherConfig config = directConfig();
    config.enabled = true;
    ASSERT_EQ(link.setConfig(config), aErrNone);
    ASSERT_EQ(link.connect(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    std::uint8_t address = 0x55;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNotReady);
    EXPECT_EQ(address, 0);
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_FALSE(link.isConnected());
}

TEST(LinkObject, TcpConnectToAClosedPortFails)
{
    ModuleSimulator sim(kModule);
    const std::uint16_t port = sim.listenTcp("127.0.0.3");
    sim.stopListening();
    Link link(tcpSpec("127.0.0.3", port), "Link");
    ASSERT_EQ(link.setConfig(directConfig()), aErrNone);
    EXPECT_EQ(link.connect(), aErrConnection);
    EXPECT_EQ(link.getStatus(), 8);
}

// ---------------------------------------------------------------- connection over TCP

class LinkTcp : public SimTcpFixture {};

TEST_F(LinkTcp, ConnectTwiceKeepsTheFirstLink)
{
    connectLink();
    EXPECT_EQ(link.connect(), aErrConnection);
    EXPECT_EQ(link.setConfig(directConfig()), aErrMode);
    EXPECT_EQ(link.setLinkSpecifier(spec), aErrBusy);
    EXPECT_EQ(sim.connectionCount(), 1u);
    std::uint8_t address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
}

TEST_F(LinkTcp, DisconnectAndReconnect)
{
    setEntity(entityKey(3, 8, 0), morvsim::u8(19));
    for (int round = 0; round < 2; ++round) {
        connectLink();
        ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
        uei reply = expected(8, 0);
        ASSERT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), aErrNone) << round;
        EXPECT_EQ(reply.v.byteVal, 19);
        EXPECT_EQ(link.disconnect(), aErrNone);
        EXPECT_FALSE(link.isConnected());
        EXPECT_EQ(link.getStatus(), 8);
        EXPECT_TRUE(sim.waitUntil([&] { return !sim.connected(); }, Millis(2000)));
    }
    EXPECT_EQ(sim.connectionCount(), 2u);
}

TEST_F(LinkTcp, ResetReconnectsAndReportsItsResult)
{
    connectLink();
    EXPECT_EQ(link.reset(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    EXPECT_TRUE(sim.waitUntil([&] { return sim.connectionCount() == 2; }, Millis(3000)));
    std::uint8_t address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);

    // Nobody to reconnect to: the failure comes back, not 0.
    sim.stopListening();
    sim.closeConnection();
    EXPECT_NE(link.reset(), aErrNone);
    EXPECT_FALSE(link.isConnected());
}

TEST_F(LinkTcp, ConnectThroughAnotherLinkSharesItsLink)
{
    setEntity(entityKey(3, 8, 0), morvsim::u8(19));
    Link second("Link");
    ASSERT_EQ(second.setConfig(directConfig()), aErrNone);
    ASSERT_EQ(second.setLinkSpecifier(spec), aErrNone);
    EXPECT_EQ(second.connectThroughLinkModule(link), aErrInitialization);  // the other holds no link
    connectLink();
    ASSERT_EQ(second.connectThroughLinkModule(link), aErrNone);
    EXPECT_TRUE(second.isConnected());
    EXPECT_EQ(second.connectThroughLinkModule(link), aErrConnection);  // holds its own id already
    EXPECT_EQ(sim.connectionCount(), 1u);

    // Releasing the first use leaves the second working.
    EXPECT_EQ(link.disconnect(), aErrNone);
    ASSERT_EQ(second.sendUEI(request(0x48, 0x20)), aErrNone);
    uei reply = expected(8, 0);
    EXPECT_EQ(second.receiveUEI(kModule, 3, 8, 0, &reply), aErrNone);
    EXPECT_EQ(reply.v.byteVal, 19);
}

TEST_F(LinkTcp, ConnectThroughAnotherLinkAsANetworkClientSharesItsLink)
{
    connectLink();
    linkSpec aether = spec;
    aether.type = linkTypeAEther;
    Link second(aether, "Link");
    aEtherConfig config = directConfig();
    config.enabled = true;
    ASSERT_EQ(second.setConfig(config), aErrNone);
    ASSERT_EQ(second.connectThroughLinkModule(link), aErrNone);
    EXPECT_TRUE(second.isConnected());
    std::uint8_t address = 0;
    EXPECT_EQ(second.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
    // Releasing the shared use leaves the first Link's connection alone.
    EXPECT_EQ(second.disconnect(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
}

TEST_F(LinkTcp, AddressQueryIsAPacketWithoutDataAndTimesOutWith11)
{
    connectLink();
    std::uint8_t address = 0;
    const std::size_t from = sim.packetCount();
    ASSERT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
    auto query = sim.waitForPacket([](const SimPacket& p) { return p.isSyncRequest(); }, Millis(1000), from);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->wire(), (Bytes{0xAD, 0x00}));

    morvsim::Faults f;
    f.ignoreSync = true;
    sim.setFaults(f);
    address = 0x55;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNotReady);
    EXPECT_EQ(address, 0);
    EXPECT_EQ(link.getModuleAddress(nullptr), aErrParam);
}

// ---------------------------------------------------------------- entity requests

TEST_F(LinkTcp, RequestBytesAndDecodedReplies)
{
    setEntity(entityKey(3, 8, 0), morvsim::u8(19));
    setEntity(entityKey(3, 9, 1), morvsim::u16(0xBEEF));
    setEntity(entityKey(3, 7, 0), morvsim::u32(0x01020304));
    setEntity(entityKey(3, 7, 0, 2), morvsim::u32(0xA0B0C0D0));
    setEntity(entityKey(3, 12, 0, 3), morvsim::u16(0));
    connectLink();

    struct Case {
        const char* what;
        uei request;
        int subindex;  // -1: plain form
        Bytes bytes;   // as the module receives them
        uei reply;     // what the reply is matched against
        int type;      // decoded
        std::uint32_t value;
    } cases[] = {
        {"get u8", request(0x48, 0x20), -1, {3, 0x48, 0x20}, expected(8, 0), ueiTypeByte, 19},
        {"get u16", request(0x49, 0x21), -1, {3, 0x49, 0x21}, expected(9, 1), ueiTypeShort, 0xBEEF},
        {"get u32", request(0x47, 0x20), -1, {3, 0x47, 0x20}, expected(7, 0), ueiTypeInt, 0x01020304},
        {"get with sub-index", request(0x47, 0x20, ueiTypeByte, 2), -1, {3, 0x47, 0x20, 2}, expected(7, 0),
         ueiTypeInt, 0xA0B0C0D0},
        {"set u8", request(0x88, 0x20, ueiTypeByte, 21), -1, {3, 0x88, 0x20, 21}, expected(0xC8, 0), ueiTypeVoid, 0},
        {"set u16", request(0x89, 0x21, ueiTypeShort, 0x1234), -1, {3, 0x89, 0x21, 0x12, 0x34}, expected(0xC9, 1),
         ueiTypeVoid, 0},
        {"set u32", request(0x87, 0x20, ueiTypeInt, 0x0A0B0C0D), -1, {3, 0x87, 0x20, 0x0A, 0x0B, 0x0C, 0x0D},
         expected(0xC7, 0), ueiTypeVoid, 0},
        {"call", request(0x8A, 0x20), -1, {3, 0x8A, 0x20}, expected(0xCA, 0), ueiTypeVoid, 0},
        {"set void, sub-index", request(0x8A, 0x20), 1, {3, 0x8A, 0x20, 1}, expected(0xCA, 0), ueiTypeVoid, 0},
        {"set u8, sub-index", request(0x8B, 0x20, ueiTypeByte, 9), 4, {3, 0x8B, 0x20, 4, 9}, expected(0xCB, 0),
         ueiTypeVoid, 0},
        {"set u16, sub-index", request(0x8C, 0x20, ueiTypeShort, 0xABCD), 3, {3, 0x8C, 0x20, 3, 0xAB, 0xCD},
         expected(0xCC, 0), ueiTypeVoid, 0},
        {"set u32, sub-index", request(0x87, 0x20, ueiTypeInt, 0x11223344), 2,
         {3, 0x87, 0x20, 2, 0x11, 0x22, 0x33, 0x44}, expected(0xC7, 0), ueiTypeVoid, 0},
    };
    for (auto& c : cases) {
        const std::size_t from = sim.packetCount();
        const aErr sent = c.subindex < 0 ? link.sendUEI(c.request)
                                         : link.sendUEI(c.request, static_cast<std::uint8_t>(c.subindex));
        ASSERT_EQ(sent, aErrNone) << c.what;
        auto seen = requestTo(3, from);
        ASSERT_TRUE(seen) << c.what;
        EXPECT_EQ(seen->data, c.bytes) << c.what;
        uei reply = c.reply;
        reply.type = 99;
        ASSERT_EQ(link.receiveUEI(kModule, 3, c.reply.option, c.reply.specifier, &reply), aErrNone) << c.what;
        EXPECT_EQ(reply.type, c.type) << c.what;
        EXPECT_EQ(reply.specifier, c.reply.specifier) << c.what;
        if (c.type != ueiTypeVoid) {
            EXPECT_EQ(reply.v.intVal, c.value) << c.what;
        }
    }
    // The sub-index sets reached the sub-indexed values.
    const SimModule m = sim.module(kModule);
    EXPECT_EQ(m.entities.at(entityKey(3, 7, 0, 2)), morvsim::u32(0x11223344));
    EXPECT_EQ(m.entities.at(entityKey(3, 12, 0, 3)), morvsim::u16(0xABCD));
}

TEST_F(LinkTcp, RequestsThatAreRefusedBeforeSending)
{
    connectLink();
    const std::size_t from = sim.packetCount();
    uei r = request(0x48, 0x20);
    for (std::uint8_t module : {0, 3, 5, 0xFF}) {
        r.module = module;
        EXPECT_EQ(link.sendUEI(r), aErrPacket) << int(module);
        EXPECT_EQ(link.sendUEI(r, 1), aErrPacket) << int(module);
        uei reply;
        EXPECT_EQ(link.receiveUEI(module, 3, 8, 0, &reply), aErrPacket);
        EXPECT_EQ(link.dropMatchingUEIPackets(module, 3, 8, 0), aErrPacket);
        EXPECT_EQ(link.sendPacket(module, 23, 0, nullptr), aErrPacket);
    }
    r = request(0x48, 0x20, 3);  // 3 is no value type
    EXPECT_EQ(link.sendUEI(r), aErrParam);
    r.type = ueiTypeBytes;
    EXPECT_EQ(link.sendUEI(r, 1), aErrParam);  // no byte buffer in the sub-index form
    r.count = 5;
    r.v.bufPtr = nullptr;
    EXPECT_EQ(link.sendUEI(r), aErrParam);
    EXPECT_EQ(link.receiveUEI(kModule, 3, 8, 0, nullptr), aErrParam);
    const std::uint8_t data[28] = {0};
    EXPECT_EQ(link.sendPacket(kModule, 23, 28, data), aErrParam);
    EXPECT_FALSE(requestTo(3, from, Millis(100)));
    EXPECT_FALSE(requestTo(23, from, Millis(0)));
}

// Each case answers a get of option 8, index 0 with one packet that must not be
// taken as its reply, then with the right one.
TEST_F(LinkTcp, ReplyMatchingSkipsWhatIsNotTheReply)
{
    struct Case {
        const char* what;
        std::uint8_t address;
        Bytes wrong;
    } cases[] = {
        {"set-form option byte", kModule, {3, 0xC8, 0x00, 1}},
        {"other index", kModule, {3, 8, 0x01, 1}},
        {"other command", kModule, {4, 8, 0x00, 1}},
        {"other module", 6, {3, 8, 0x00, 1}},
        {"stream sample of the same entity", kModule, morvsim::streamSample(1, 3, 8, 0, 0, 5, 1)},
        {"too short", kModule, {3, 8}},
    };
    connectLink();
    for (const auto& c : cases) {
        sim.setHandler(kModule, 3, [&c](SimModule& m, const SimPacket&, SimReply& reply) {
            reply.packet(c.address, c.wrong);
            reply.packet(m.address, {3, 8, 0x20, 42});  // bit 5 of the index byte plays no part
        });
        ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
        uei reply = expected(8, 0);
        ASSERT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), aErrNone) << c.what;
        EXPECT_EQ(reply.v.byteVal, 42) << c.what;
        EXPECT_EQ(reply.error, 0) << c.what;
        link.dropMatchingUEIPackets(kModule, 3, 8, 0);
    }
}

TEST_F(LinkTcp, ErrorRepliesAndMalformedReplies)
{
    struct Case {
        const char* what;
        Bytes replyBytes;
        aErr result;
        std::uint8_t specifier;
        std::uint8_t error;
    } cases[] = {
        {"device error", {3, 8, 0x80, 29}, aErrNone, 0x80, 29},
        {"error reply without its code", {3, 8, 0x80}, aErrNone, 0x80, aErrPacket},
        {"length 6 fits no value", {3, 8, 0, 1, 2, 3}, aErrPacket, 0, aErrPacket},
        {"length 8 fits no value", {3, 8, 0, 1, 2, 3, 4, 5}, aErrPacket, 0, aErrPacket},
    };
    connectLink();
    for (const auto& c : cases) {
        sim.setHandler(kModule, 3,
                       [&c](SimModule& m, const SimPacket&, SimReply& reply) { reply.packet(m.address, c.replyBytes); });
        ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
        uei reply = expected(8, 0);
        reply.type = ueiTypeInt;
        reply.v.intVal = 0x11223344;
        EXPECT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), c.result) << c.what;
        EXPECT_EQ(reply.specifier, c.specifier) << c.what;
        EXPECT_EQ(reply.error, c.error) << c.what;
        if (c.specifier & 0x80) {
            EXPECT_EQ(reply.v.byteVal, c.error) << c.what;
        }
    }
}

TEST_F(LinkTcp, NoReplyTimesOutWith18)
{
    connectLink();
    ASSERT_EQ(link.sendUEI(request(0x48, 0x20, ueiTypeVoid, 0, 77)), aErrNone);  // nobody serves 77
    uei reply = expected(8, 0, 77);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.receiveUEI(kModule, 77, 8, 0, &reply), aErrTimeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, Millis(950));
    EXPECT_LT(waited, Millis(1800));
}

TEST_F(LinkTcp, DropMatchingRemovesOnlyMatchingReplies)
{
    connectLink();
    sim.setHandler(kModule, 3, [](SimModule& m, const SimPacket&, SimReply& reply) {
        reply.packet(m.address, {3, 8, 0, 1});
        reply.packet(m.address, {3, 8, 0, 2});
        reply.packet(m.address, {3, 9, 0, 3});
    });
    ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
    // Wait for all three to be queued before dropping: option 9's reply came last.
    uei nine = expected(9, 0);
    ASSERT_EQ(link.receiveUEI(kModule, 3, 9, 0, &nine), aErrNone);
    EXPECT_EQ(nine.v.byteVal, 3);
    EXPECT_EQ(link.dropMatchingUEIPackets(kModule, 3, 8, 0), aErrNone);
    uei eight = expected(8, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.receiveUEI(kModule, 3, 8, 0, &eight), aErrTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, Millis(900));
}

// ---------------------------------------------------------------- raw packets

TEST_F(LinkTcp, RawPacketsGoOutWholeAndMatchByPrefixFromAnyAddress)
{
    connectLink();
    sim.setHandler(kModule, 23, [](SimModule& m, const SimPacket& p, SimReply& reply) { reply.packet(m.address, p.data); });
    std::uint8_t payload[27];
    std::iota(payload, payload + 27, 1);
    const std::size_t from = sim.packetCount();
    ASSERT_EQ(link.sendPacket(kModule, 23, 27, payload), aErrNone);
    auto seen = requestTo(23, from);
    ASSERT_TRUE(seen);
    ASSERT_EQ(seen->data.size(), 28u);
    EXPECT_EQ(seen->data[0], 23);
    EXPECT_TRUE(std::equal(payload, payload + 27, seen->data.begin() + 1));

    std::uint8_t match[2] = {23, 1};
    std::uint8_t length = 2;
    std::uint8_t data[28] = {0};
    ASSERT_EQ(link.receivePacket(kModule, match, &length, data), aErrNone);
    EXPECT_EQ(length, 28);
    EXPECT_EQ(data[27], 27);

    // From another address, and with no data besides the command.
    ASSERT_TRUE(sim.sendPacket(10, {24, 9, 9}));
    std::uint8_t match24 = 24;
    length = 1;
    ASSERT_EQ(link.receivePacket(kModule, &match24, &length, data), aErrNone);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(data[1], 9);

    ASSERT_EQ(link.sendPacket(kModule, 23, 0, nullptr), aErrNone);
    length = 1;
    ASSERT_EQ(link.receivePacket(kModule, match, &length, data), aErrNone);
    EXPECT_EQ(length, 1);

    length = 1;
    const std::uint8_t nothing = 99;
    EXPECT_EQ(link.receivePacket(kModule, &nothing, &length, data), aErrTimeout);
}

// ---------------------------------------------------------------- byte buffers

TEST_F(LinkTcp, ByteBufferSetsPacketsAndSequenceBytes)
{
    connectLink();
    struct Case {
        std::size_t size;
        std::size_t packets;
    } cases[] = {{0, 1}, {24, 1}, {25, 2}, {5000, 209}};
    for (const auto& c : cases) {
        setEntity(bufferKey(3, 30, 0), {});
        const Bytes data = ramp(c.size);
        const std::size_t from = sim.packetCount();
        ASSERT_EQ(link.sendUEI(bytesRequest(30, data)), aErrNone) << c.size;
        uei reply = expected(0xC0 | 30, 0);
        reply.type = ueiTypeBytes;
        reply.count = c.size;
        ASSERT_EQ(link.receiveUEI(kModule, 3, reply.option, 0, &reply), aErrNone) << c.size;
        EXPECT_EQ(reply.specifier & 0x80, 0) << c.size;

        const auto all = sim.packets();
        std::vector<SimPacket> sent;
        for (std::size_t i = from; i < all.size(); ++i)
            if (all[i].address == kModule && !all[i].data.empty() && all[i].data[0] == 3)
                sent.push_back(all[i]);
        ASSERT_EQ(sent.size(), c.packets) << c.size;
        std::size_t offset = 0;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const Bytes& d = sent[i].data;
            const std::size_t chunk = std::min<std::size_t>(24, c.size - offset);
            ASSERT_EQ(d.size(), chunk + 4) << c.size << " packet " << i;
            EXPECT_EQ(d[1], 0x80 | 30);
            EXPECT_EQ(d[2], 0x20);
            const bool last = i + 1 == sent.size();
            EXPECT_EQ(d.back(), static_cast<std::uint8_t>((last ? 0 : 0x80) | (i & 0x7F))) << c.size << " packet " << i;
            offset += chunk;
        }
        EXPECT_EQ(sim.module(kModule).entities.at(bufferKey(3, 30, 0)), data) << c.size;
    }
    // The exact bytes of the two small cases.
    setEntity(bufferKey(3, 30, 0), {});
    const std::size_t from = sim.packetCount();
    ASSERT_EQ(link.sendUEI(bytesRequest(30, {})), aErrNone);
    auto empty = requestTo(3, from);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->data, (Bytes{3, 0x9E, 0x20, 0x00}));
}

TEST_F(LinkTcp, ByteBufferGetsInSequence)
{
    connectLink();
    for (std::size_t size : {std::size_t(0), std::size_t(24), std::size_t(25), std::size_t(4096)}) {
        const Bytes data = ramp(size);
        setEntity(bufferKey(3, 31, 2), data);
        ASSERT_EQ(link.sendUEI(request(0x40 | 31, 0x22)), aErrNone);
        BufferReceive r;
        r.record = expected(31, 2);
        r.buffer.resize(size + 10);
        ASSERT_EQ(receiveBuffer(link, r), aErrNone) << size;
        EXPECT_FALSE(r.outOfRoom);
        ASSERT_EQ(r.received, size);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), r.buffer.begin())) << size;
    }
}

// The reply to a set of more than 1000 bytes is awaited 4000 ms, of 1000 bytes
// or fewer 1000 ms, counted from the last packet written.
TEST_F(LinkTcp, LargeSetsWaitLongerForTheirReply)
{
    connectLink();
    morvsim::Faults f;
    f.replyTiming.delay = Millis(1600);
    sim.setFaults(f);
    for (std::size_t size : {std::size_t(1001), std::size_t(1000)}) {
        setEntity(bufferKey(3, 30, 0), {});
        const Bytes data = ramp(size);
        ASSERT_EQ(link.sendUEI(bytesRequest(30, data)), aErrNone);
        uei reply = expected(0xC0 | 30, 0);
        reply.type = ueiTypeBytes;
        reply.count = size;
        const aErr result = link.receiveUEI(kModule, 3, reply.option, 0, &reply);
        EXPECT_EQ(result, size > 1000 ? aErrNone : aErrTimeout) << size;
        link.dropMatchingUEIPackets(kModule, 3, 0xC0 | 30, 0);
    }
}

// ---------------------------------------------------------------- serial line

class LinkSerial : public ::testing::Test {
protected:
    LinkSerial() : sim(SimModule(kModule, kSerial, 19))
    {
        sim.withModule(kModule, [](SimModule& m) { morvsim::installEntityHandler(m, 3); });
        sim.attachPty(pty);
        EXPECT_EQ(link.setConfig(directConfig()), aErrNone);
        EXPECT_EQ(link.setLinkSpecifier(serialSpec(kSerial, pty.slavePath())), aErrNone);
    }

    morvtest::PtyPair pty;
    ModuleSimulator sim;
    Link link{"Link"};
};

TEST_F(LinkSerial, ConnectGetSetAndReconnect)
{
    sim.withModule(kModule, [](SimModule& m) { m.entities[entityKey(3, 8, 0)] = morvsim::u8(19); });
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(link.connect(), aErrNone) << round;
        ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
        uei reply = expected(8, 0);
        ASSERT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), aErrNone);
        EXPECT_EQ(reply.v.byteVal, 19 + round);
        ASSERT_EQ(link.sendUEI(request(0x88, 0x20, ueiTypeByte, 20 + round)), aErrNone);
        reply = expected(0xC8, 0);
        ASSERT_EQ(link.receiveUEI(kModule, 3, 0xC8, 0, &reply), aErrNone);
        std::uint8_t address = 0;
        EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
        EXPECT_EQ(address, kModule);
        EXPECT_EQ(link.disconnect(), aErrNone);
    }
    // A serial link cannot be reset; the failure is reported.
    ASSERT_EQ(link.connect(), aErrNone);
    EXPECT_NE(link.reset(), aErrNone);
}

// A set far larger than the output queue holds, while the module reads
// nothing for a while: the sender waits for room and nothing is lost.
TEST_F(LinkSerial, LargeSetWaitsForRoomAndLosesNothing)
{
    sim.withModule(kModule, [](SimModule& m) { m.entities[bufferKey(3, 30, 0)] = {}; });
    ASSERT_EQ(link.connect(), aErrNone);
    morvsim::Faults f;
    f.pauseReading = true;
    sim.setFaults(f);
    const Bytes data = ramp(40000);  // 1667 packets
    auto sending = std::async(std::launch::async, [&] { return link.sendUEI(bytesRequest(30, data)); });
    EXPECT_EQ(sending.wait_for(Millis(400)), std::future_status::timeout);  // held back by the module
    sim.setFaults(morvsim::Faults());
    ASSERT_EQ(sending.wait_for(Millis(30000)), std::future_status::ready);
    EXPECT_EQ(sending.get(), aErrNone);
    uei reply = expected(0xC0 | 30, 0);
    reply.type = ueiTypeBytes;
    reply.count = data.size();
    ASSERT_EQ(link.receiveUEI(kModule, 3, reply.option, 0, &reply), aErrNone);
    EXPECT_EQ(reply.specifier & 0x80, 0);
    EXPECT_EQ(sim.module(kModule).entities.at(bufferKey(3, 30, 0)), data);
}

// A module that reads nothing at all: once the writer has taken no packet for
// 2 s the set gives up with 18 instead of waiting for ever.
TEST_F(LinkSerial, SetToAModuleThatStopsReadingGivesUpWith18)
{
    sim.withModule(kModule, [](SimModule& m) { m.entities[bufferKey(3, 30, 0)] = {}; });
    ASSERT_EQ(link.connect(), aErrNone);
    morvsim::Faults f;
    f.pauseReading = true;
    sim.setFaults(f);
    const Bytes data = ramp(40000);
    const auto start = std::chrono::steady_clock::now();
    auto sending = std::async(std::launch::async, [&] { return link.sendUEI(bytesRequest(30, data)); });
    const bool ended = sending.wait_for(Millis(6000)) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - start;
    sim.setFaults(morvsim::Faults());  // the writer finishes its write, so the link can stop
    ASSERT_TRUE(ended);
    EXPECT_EQ(sending.get(), aErrTimeout);
    EXPECT_GE(took, Millis(2000));
    EXPECT_LT(took, Millis(4000));
}

// The link stops (a reset, which a serial link cannot complete) while a set
// waits for room: the set fails with 25 while the writer is still stuck.
TEST_F(LinkSerial, SetWaitingForRoomFailsWith25WhenTheLinkStops)
{
    sim.withModule(kModule, [](SimModule& m) { m.entities[bufferKey(3, 30, 0)] = {}; });
    ASSERT_EQ(link.connect(), aErrNone);
    morvsim::Faults f;
    f.pauseReading = true;
    sim.setFaults(f);
    const Bytes data = ramp(40000);
    auto sending = std::async(std::launch::async, [&] { return link.sendUEI(bytesRequest(30, data)); });
    EXPECT_EQ(sending.wait_for(Millis(300)), std::future_status::timeout);  // held back by the module
    auto resetting = std::async(std::launch::async, [&] { return link.reset(); });
    const bool ended = sending.wait_for(Millis(1000)) == std::future_status::ready;
    sim.setFaults(morvsim::Faults());
    ASSERT_TRUE(ended);
    EXPECT_EQ(sending.get(), aErrConnection);
    ASSERT_EQ(resetting.wait_for(Millis(10000)), std::future_status::ready);
    EXPECT_NE(resetting.get(), aErrNone);
}
