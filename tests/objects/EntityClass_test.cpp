// EntityClass against the module simulator: get, set and call of scalars,
// byte buffers both ways, error replies, time-outs, refused indexes, unbound
// and unconnected entities, and answers from the stream cache.
#include "ObjectTestRig.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "EntityClass.h"
#include "Patterns.h"
#include "SimStreams.h"
#include "aPacket.h"

namespace {

using namespace objtest;
using morvsim::bufferKey;
using morvsim::entityKey;
using morvsim::errorKey;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kCmd = 10;

using morvtest::ramp;

class EntityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig_.sim.withModule(kRouterAddress, [](SimModule& m) {
            morvsim::installEntityHandler(m, kCmd);
            morvsim::installStreamControl(m);
            m.entities[entityKey(kCmd, 1, 0)] = morvsim::u8(0x5A);
            m.entities[entityKey(kCmd, 2, 0)] = morvsim::u16(0xBEEF);
            m.entities[entityKey(kCmd, 3, 0)] = morvsim::u32(0xDEADBEEF);
            m.entities[entityKey(kCmd, 3, 5)] = morvsim::u32(0x01020305);
            m.entities[entityKey(kCmd, 3, 31)] = morvsim::u32(0x3131);
            m.entities[entityKey(kCmd, 7, 0, 2)] = morvsim::u32(0xCAFE);
            m.entities[entityKey(kCmd, 8, 0)] = morvsim::u8(0);
            m.entities[errorKey(kCmd, 9, 0)] = {13};
        });
        module_ = rig_.connect();
        entity_.init(module_.get(), kCmd, 0);
    }

    void setBuffer(std::uint8_t option, const Bytes& bytes)
    {
        rig_.sim.withModule(kRouterAddress, [&](SimModule& m) { m.entities[bufferKey(kCmd, option, 0)] = bytes; });
    }
    Bytes entityValue(std::uint32_t key)
    {
        SimModule m = rig_.sim.module(kRouterAddress);
        auto it = m.entities.find(key);
        return it == m.entities.end() ? Bytes() : it->second;
    }
    // Replaces the entity handler with fixed answers to every request.
    void answerWith(std::vector<Bytes> replies)
    {
        rig_.sim.setHandler(kRouterAddress, kCmd, [replies](SimModule& m, const SimPacket&, SimReply& r) {
            for (const Bytes& reply : replies)
                r.packet(m.address, reply);
        });
    }
    // Every packet the sim received before this returns has been answered and
    // the answers have reached the host.
    void roundTrip()
    {
        rig_.sim.withModule(kRouterAddress, [](SimModule& m) { morvsim::installEcho(m); });
        const std::uint8_t byte = 0x42;
        ASSERT_EQ(module_->debug(&byte, 1), aErrNone);
    }

    SimRig rig_;
    std::unique_ptr<Module> module_;
    EntityClass entity_;
};

// ---------------------------------------------------------------- scalars

TEST_F(EntityTest, ScalarGetsSetsAndCallsTable)
{
    EntityClass index5;
    ASSERT_EQ(index5.init(module_.get(), kCmd, 5), aErrNone);
    EntityClass index31;
    ASSERT_EQ(index31.init(module_.get(), kCmd, 31), aErrNone);

    struct Case {
        const char* name;
        std::function<aErr(std::uint32_t*)> call;
        Bytes request;
        std::uint32_t value;  // decoded by a get
        std::uint32_t storedKey = 0;
        Bytes stored = {};  // the module's value after a set
    };
    EntityClass& e = entity_;
    const Case cases[] = {
        {"get u8", [&](std::uint32_t* v) { std::uint8_t x = 0; aErr r = e.getUEI8(1, &x); *v = x; return r; },
         {kCmd, 0x41, 0x20}, 0x5A},
        {"get u16", [&](std::uint32_t* v) { std::uint16_t x = 0; aErr r = e.getUEI16(2, &x); *v = x; return r; },
         {kCmd, 0x42, 0x20}, 0xBEEF},
        {"get u32", [&](std::uint32_t* v) { return e.getUEI32(3, v); }, {kCmd, 0x43, 0x20}, 0xDEADBEEF},
        {"get u32 of a u8 reply", [&](std::uint32_t* v) { return e.getUEI32(1, v); }, {kCmd, 0x41, 0x20}, 0x5A},
        {"get u8 of a u32 reply", [&](std::uint32_t* v) { std::uint8_t x = 0; aErr r = e.getUEI8(3, &x); *v = x; return r; },
         {kCmd, 0x43, 0x20}, 0xEF},
        {"get index 5", [&](std::uint32_t* v) { return index5.getUEI32(3, v); }, {kCmd, 0x43, 0x25}, 0x01020305},
        {"get index 31", [&](std::uint32_t* v) { return index31.getUEI32(3, v); }, {kCmd, 0x43, 0x3F}, 0x3131},
        {"get with sub-index", [&](std::uint32_t* v) { return e.getUEI32(7, 2, v); }, {kCmd, 0x47, 0x20, 2}, 0xCAFE},
        {"get u16 with sub-index", [&](std::uint32_t* v) { std::uint16_t x = 0; aErr r = e.getUEI16(7, 2, &x); *v = x; return r; },
         {kCmd, 0x47, 0x20, 2}, 0xCAFE},
        {"set u8", [&](std::uint32_t*) { return e.setUEI8(1, 0x11); }, {kCmd, 0x81, 0x20, 0x11}, 0,
         entityKey(kCmd, 1, 0), {0x11}},
        {"set u16", [&](std::uint32_t*) { return e.setUEI16(2, 0x1234); }, {kCmd, 0x82, 0x20, 0x12, 0x34}, 0,
         entityKey(kCmd, 2, 0), {0x12, 0x34}},
        {"set u32", [&](std::uint32_t*) { return e.setUEI32(3, 0x0A0B0C0D); },
         {kCmd, 0x83, 0x20, 0x0A, 0x0B, 0x0C, 0x0D}, 0, entityKey(kCmd, 3, 0), {0x0A, 0x0B, 0x0C, 0x0D}},
        {"set u32 with sub-index", [&](std::uint32_t*) { return e.setUEI32(7, 2, 0x00000102); },
         {kCmd, 0x87, 0x20, 2, 0, 0, 1, 2}, 0, entityKey(kCmd, 7, 0, 2), {0, 0, 1, 2}},
        {"set u8 with sub-index", [&](std::uint32_t*) { return e.setUEI8(7, 3, 0x44); },
         {kCmd, 0x87, 0x20, 3, 0x44}, 0},
        {"set u16 with sub-index", [&](std::uint32_t*) { return e.setUEI16(7, 4, 0x5566); },
         {kCmd, 0x87, 0x20, 4, 0x55, 0x66}, 0},
        {"call", [&](std::uint32_t*) { return e.callUEI(10); }, {kCmd, 0x8A, 0x20}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t mark = rig_.mark();
        std::uint32_t value = 0;
        ASSERT_EQ(c.call(&value), aErrNone);
        EXPECT_EQ(value, c.value);
        std::vector<Bytes> sent = rig_.sentSince(mark);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.request);
        if (c.storedKey != 0) {
            EXPECT_EQ(entityValue(c.storedKey), c.stored);
        }
    }
}

TEST_F(EntityTest, DeviceErrorsAndRepliesThatCarryNoValue)
{
    std::uint8_t byte = 0x77;
    EXPECT_EQ(entity_.getUEI8(9, &byte), 13) << "the device's code, unchanged";
    EXPECT_EQ(byte, 0x77) << "no value delivered";
    EXPECT_EQ(entity_.setUEI8(9, 1), 13);
    EXPECT_EQ(entity_.callUEI(9), 13);
    std::uint32_t word = 0;
    EXPECT_EQ(entity_.getUEI32(40, &word), aErrInvalidOption) << "the simulator's answer for an absent option";

    // Error bit with code 0 is still a failure.
    answerWith({{kCmd, 1, 0x80, 0}});
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrUnknown);
    // A get answered without a value, or with a length no value has.
    answerWith({{kCmd, 1, 0x00}});
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrPacket);
    EXPECT_EQ(byte, 0x77);
    answerWith({{kCmd, 1, 0x00, 1, 2, 3}});
    EXPECT_EQ(entity_.getUEI32(1, &word), aErrPacket);
    // A reply of another index, or a streamed sample of the option, is no reply.
    answerWith({{kCmd, 1, 0x01, 9}, {kCmd, 1, 0x40, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0}, {kCmd, 1, 0x00, 0x66}});
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrNone);
    EXPECT_EQ(byte, 0x66);
}

TEST_F(EntityTest, NoReplyTimesOutWith18)
{
    rig_.sim.setHandler(kRouterAddress, kCmd, {});
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrTimeout);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 2500);
    std::uint8_t buffer[8];
    std::size_t count = 99;
    EXPECT_EQ(entity_.getUEIBytes(20, buffer, sizeof(buffer), &count), aErrTimeout);
    EXPECT_EQ(count, 0u);
}

// Every operation that would put the index into a specifier refuses one
// above 31 before anything is sent.
TEST_F(EntityTest, IndexesAbove31AreRefusedBeforeAnythingIsSent)
{
    for (std::uint8_t index : {32, 33, 0x40, 0x80, 0xFF}) {
        SCOPED_TRACE(int(index));
        EntityClass e;
        EXPECT_EQ(e.init(module_.get(), kCmd, index), aErrIndexRange);
        EXPECT_EQ(e.getIndex(), index);
        const std::size_t mark = rig_.mark();
        std::uint8_t b = 0;
        std::uint16_t s = 0;
        std::uint32_t w = 0;
        std::uint8_t buffer[4];
        std::size_t count = 0;
        uei value;
        Link::StreamStatusEntry rows[2];
        EXPECT_EQ(e.getUEI8(1, &b), aErrIndexRange);
        EXPECT_EQ(e.getUEI16(2, 1, &s), aErrIndexRange);
        EXPECT_EQ(e.getUEI32(3, &w), aErrIndexRange);
        EXPECT_EQ(e.getUEI(3, &value), aErrIndexRange);
        EXPECT_EQ(e.setUEI8(1, 1), aErrIndexRange);
        EXPECT_EQ(e.setUEI16(2, 1, 1), aErrIndexRange);
        EXPECT_EQ(e.setUEI32(3, 1), aErrIndexRange);
        EXPECT_EQ(e.callUEI(10), aErrIndexRange);
        EXPECT_EQ(e.setUEIBytes(20, buffer, sizeof(buffer)), aErrIndexRange);
        EXPECT_EQ(e.getUEIBytes(20, buffer, sizeof(buffer), &count), aErrIndexRange);
        EXPECT_EQ(e.awaitUEI32Val(3, &w, 0), aErrIndexRange);
        EXPECT_EQ(e.drainUEI(3), aErrIndexRange);
        EXPECT_EQ(e.setStreamEnabled(1), aErrIndexRange);
        EXPECT_EQ(e.registerOptionCallback(3, true, {}, nullptr), aErrIndexRange);
        EXPECT_EQ(e.getStreamStatus(rows, 2, &count), aErrIndexRange);
        EXPECT_TRUE(rig_.sentSince(mark).empty());
    }
}

TEST_F(EntityTest, UnboundNotConnectedAndNullPointers)
{
    EntityClass unbound;
    std::uint8_t b = 0;
    std::uint32_t w = 0;
    std::uint8_t buffer[4];
    std::size_t count = 7;
    uei value;
    Link::StreamStatusEntry rows[2];
    const std::uint8_t match[1] = {kCmd};
    std::uint8_t length = 1;
    std::uint8_t data[aPACKET_MAX_DATA];
    EXPECT_EQ(unbound.getUEI8(1, &b), aErrResource);
    EXPECT_EQ(unbound.getUEI(1, &value), aErrResource);
    EXPECT_EQ(unbound.setUEI32(3, 1), aErrResource);
    EXPECT_EQ(unbound.setUEI(3, 1, &value), aErrResource);
    EXPECT_EQ(unbound.callUEI(10), aErrResource);
    EXPECT_EQ(unbound.setUEIBytes(20, buffer, 4), aErrResource);
    EXPECT_EQ(unbound.getUEIBytes(20, buffer, 4, &count), aErrResource);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(unbound.awaitUEI32Val(3, &w, 0), aErrResource);
    EXPECT_EQ(unbound.drainUEI(3), aErrResource);
    EXPECT_EQ(unbound.sendPacket(kCmd, 1, buffer), aErrResource);
    EXPECT_EQ(unbound.receivePacket(match, &length, data), aErrResource);
    EXPECT_EQ(unbound.setStreamEnabled(1), aErrResource);
    EXPECT_EQ(unbound.registerOptionCallback(1, true, {}, nullptr), aErrResource);
    EXPECT_EQ(unbound.getStreamStatus(rows, 2, &count), aErrResource);

    // Null value pointers: 2, and nothing is sent.
    const std::size_t mark = rig_.mark();
    EXPECT_EQ(entity_.getUEI8(1, nullptr), aErrParam);
    EXPECT_EQ(entity_.getUEI16(2, 1, nullptr), aErrParam);
    EXPECT_EQ(entity_.getUEI32(3, nullptr), aErrParam);
    EXPECT_EQ(entity_.getUEI(3, nullptr), aErrParam);
    EXPECT_EQ(entity_.setUEI(3, nullptr), aErrParam);
    EXPECT_EQ(entity_.awaitUEI32Val(3, nullptr, 0), aErrParam);
    EXPECT_EQ(entity_.getUEIBytes(20, nullptr, 4, &count), aErrParam);
    EXPECT_EQ(entity_.getUEIBytes(20, buffer, 4, nullptr), aErrParam);
    EXPECT_EQ(entity_.getUEIBytes(20, buffer, 0, &count), aErrParam);
    EXPECT_EQ(entity_.setUEIBytes(20, nullptr, 4), aErrParam);
    EXPECT_TRUE(rig_.sentSince(mark).empty());

    // Bound to a module whose link is not connected.
    Module offline(kRouterAddress, false, 0);
    EntityClass e;
    e.init(&offline, kCmd, 0);
    EXPECT_EQ(e.getUEI8(1, &b), aErrConnection);
    EXPECT_EQ(e.setUEI8(1, 1), aErrConnection);
    EXPECT_EQ(e.callUEI(10), aErrConnection);
    EXPECT_EQ(e.getUEIBytes(20, buffer, 4, &count), aErrConnection);
    EXPECT_EQ(e.awaitUEI32Val(3, &w, 0), aErrConnection);
    EXPECT_EQ(e.drainUEI(3), aErrConnection);
    EXPECT_EQ(e.sendPacket(kCmd, 1, buffer), aErrConnection);
}

// ---------------------------------------------------------------- byte buffers

TEST_F(EntityTest, ByteBufferGetsOfEverySize)
{
    // 3100 bytes take 130 packets: the sequence number wraps after 127.
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(24), std::size_t(25), std::size_t(30),
                             std::size_t(3100)}) {
        SCOPED_TRACE(size);
        const Bytes expected = ramp(size);
        setBuffer(20, expected);
        Bytes buffer(4096, 0xCC);
        std::size_t count = 99;
        const std::size_t mark = rig_.mark();
        ASSERT_EQ(entity_.getUEIBytes(20, buffer.data(), buffer.size(), &count), aErrNone);
        ASSERT_EQ(count, size);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
        EXPECT_EQ(buffer[size], 0xCC) << "nothing past the count";
        std::vector<Bytes> sent = rig_.sentSince(mark);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], (Bytes{kCmd, 0x54, 0x20}));
    }
}

TEST_F(EntityTest, ByteBufferGetFailures)
{
    Bytes buffer(64, 0xCC);
    std::size_t count = 0;

    // Larger than the caller's buffer.
    setBuffer(20, ramp(24));
    EXPECT_EQ(entity_.getUEIBytes(20, buffer.data(), 20, &count), aErrMemory);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], 0xCC);

    // An error reply: the code comes back, and the caller's bytes stay as they were.
    rig_.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities[errorKey(kCmd, 21, 0)] = {17}; });
    EXPECT_EQ(entity_.getUEIBytes(21, buffer.data(), buffer.size(), &count), 17);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], 0xCC) << "the code is never written into the buffer";

    // A reply packet too short to hold a sequence byte.
    answerWith({{kCmd, 22, 0x00}});
    EXPECT_EQ(entity_.getUEIBytes(22, buffer.data(), buffer.size(), &count), aErrPacket);
    EXPECT_EQ(count, 0u);

    // The second packet out of sequence (a gap, or the start of another
    // transfer): an error at once, never data.
    Bytes first{kCmd, 22, 0x00};
    Bytes chunk = ramp(24);
    first.insert(first.end(), chunk.begin(), chunk.end());
    first.push_back(0x80);
    for (std::uint8_t sequence : {0x05, 0x00, 0x80}) {
        SCOPED_TRACE(static_cast<int>(sequence));
        answerWith({first, {kCmd, 22, 0x00, 1, 2, sequence}});
        const auto start = Clock::now();
        EXPECT_EQ(entity_.getUEIBytes(22, buffer.data(), buffer.size(), &count), aErrPacket);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 900);
    }

    // A streamed byte-buffer packet of the same option is no reply.
    answerWith({{kCmd, 23, 0x40, 9, 9, 0x00}, {kCmd, 23, 0x00, 7, 8, 0x00}});
    EXPECT_EQ(entity_.getUEIBytes(23, buffer.data(), buffer.size(), &count), aErrNone);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(buffer[1], 8);
}

// The usual "buffer too small, ask again with a bigger one" against a module
// whose value changes on every read: each get gives one reply's data or an
// error, never parts of two.
TEST_F(EntityTest, ByteBufferGetCutShortNeverSplicesTwoReplies)
{
    auto reads = std::make_shared<int>(0);
    rig_.sim.setHandler(kRouterAddress, kCmd, [reads](SimModule& m, const SimPacket& p, SimReply& r) {
        const std::vector<Bytes> names = {Bytes(50, 'A'), Bytes(62, 'B'), Bytes(74, 'C'), Bytes(30, 'D')};
        m.entities[bufferKey(kCmd, 24, 0)] = names[static_cast<std::size_t>(*reads) % names.size()];
        ++*reads;
        morvsim::handleEntityRequest(m, p, r);
    });
    Bytes buffer(200, 0);
    std::size_t count = 0;
    EXPECT_EQ(entity_.getUEIBytes(24, buffer.data(), 20, &count), aErrMemory);
    struct Read {
        std::size_t capacity;
        Bytes expected;
    };
    for (const Read& read : {Read{200, Bytes(62, 'B')}, Read{200, Bytes(74, 'C')}, Read{10, Bytes()},
                             Read{200, Bytes(50, 'A')}}) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const aErr err = entity_.getUEIBytes(24, buffer.data(), read.capacity, &count);
        if (read.expected.empty()) {
            EXPECT_EQ(err, aErrMemory);
            continue;
        }
        ASSERT_EQ(err, aErrNone);
        ASSERT_EQ(count, read.expected.size());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count)), read.expected);
    }
}

TEST_F(EntityTest, ByteBufferSetsInSequencedPackets)
{
    for (std::size_t size : {std::size_t(0), std::size_t(24), std::size_t(25), std::size_t(3000)}) {
        SCOPED_TRACE(size);
        setBuffer(20, {});
        const Bytes data = ramp(size, 11);
        const std::size_t mark = rig_.mark();
        ASSERT_EQ(entity_.setUEIBytes(20, data.data(), data.size()), aErrNone);
        EXPECT_EQ(entityValue(bufferKey(kCmd, 20, 0)), data);
        std::vector<Bytes> sent = rig_.sentSince(mark);
        const std::size_t packets = size == 0 ? 1 : (size + 23) / 24;
        ASSERT_EQ(sent.size(), packets);
        for (std::size_t i = 0; i < packets; ++i) {
            ASSERT_GE(sent[i].size(), 4u);
            EXPECT_EQ(sent[i][0], kCmd);
            EXPECT_EQ(sent[i][1], 0x94);
            EXPECT_EQ(sent[i][2], 0x20);
            const std::uint8_t more = i + 1 < packets ? 0x80 : 0x00;
            EXPECT_EQ(sent[i].back(), static_cast<std::uint8_t>(more | (i & 0x7F))) << "packet " << i;
        }
    }
}

TEST(EntityBytesCheck, ElementCounts)
{
    struct Case {
        std::size_t count;
        std::size_t size;
        aErr result;
        std::size_t after;
    };
    const Case cases[] = {
        {12, 4, aErrNone, 3}, {13, 4, aErrMemory, 13}, {0, 4, aErrNone, 0},
        {0, 0, aErrNone, 0},  {5, 0, aErrMemory, 5},   {7, 1, aErrNone, 7},
    };
    for (const Case& c : cases) {
        std::size_t count = c.count;
        EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, c.size), c.result) << c.count << "/" << c.size;
        EXPECT_EQ(count, c.after) << c.count << "/" << c.size;
    }
    EXPECT_EQ(EntityClass::getUEIBytesCheck(nullptr, 4), aErrParam);
}

// A module's error code is a byte: only the table's codes pass on as they
// are, any other byte reads as aErrUnknown (never as a value the enum lacks).
TEST_F(EntityTest, ErrorCodesOutsideTheTableReadAsUnknown)
{
    struct Row {
        std::uint8_t code;
        aErr result;
    };
    const Row rows[] = {{29, aErrInvalidOption}, {34, aErrUnknown},  {35, aErrUnknown},  {63, aErrUnknown},
                        {64, aErrUnknown},       {210, aErrUnknown}, {255, aErrUnknown}, {0, aErrUnknown}};
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.code));
        rig_.sim.withModule(kRouterAddress, [&](SimModule& m) { m.entities[errorKey(kCmd, 11, 0)] = {row.code}; });
        std::uint32_t word = 0;
        EXPECT_EQ(entity_.getUEI32(11, &word), row.result);
        EXPECT_EQ(entity_.setUEI8(11, 1), row.result);
        Bytes buffer(8, 0);
        std::size_t count = 0;
        EXPECT_EQ(entity_.getUEIBytes(11, buffer.data(), buffer.size(), &count), row.result);
    }
}

// ---------------------------------------------------------------- awaiting and draining

TEST_F(EntityTest, AwaitAValueWithoutAskingAndDrainStaleReplies)
{
    std::size_t mark = rig_.mark();
    ASSERT_TRUE(rig_.sim.sendPacket(kRouterAddress, {kCmd, 3, 0x00, 0x12, 0x34, 0x56, 0x78}));
    std::uint32_t word = 0;
    EXPECT_EQ(entity_.awaitUEI32Val(3, &word, 0), aErrNone);
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_TRUE(rig_.sentSince(mark).empty()) << "nothing is asked";

    // A late reply waits in the queue and would answer the next get.
    ASSERT_TRUE(rig_.sim.sendPacket(kRouterAddress, {kCmd, 1, 0x00, 0x77}));
    roundTrip();
    EXPECT_EQ(entity_.drainUEI(1), aErrNone);
    std::uint8_t byte = 0;
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrNone);
    EXPECT_EQ(byte, 0x5A) << "the module's answer, not the stale one";

}

// A reply that came after its caller gave up waits in the queue; the next
// request of the same entity option drops it before it is sent, so it never
// answers that request (nor piles up).
TEST_F(EntityTest, StaleRepliesNeverAnswerALaterRequest)
{
    setBuffer(20, Bytes(5, 0x42));
    struct Row {
        const char* what;
        std::vector<Bytes> stale;
        std::function<void(EntityClass&)> request;
    };
    const std::vector<Row> rows = {
        {"get",
         {{kCmd, 1, 0x00, 0x77}},
         [](EntityClass& e) {
             std::uint8_t byte = 0;
             EXPECT_EQ(e.getUEI8(1, &byte), aErrNone);
             EXPECT_EQ(byte, 0x5A);
         }},
        {"get error",
         {{kCmd, 2, 0x80, 13}},
         [](EntityClass& e) {
             std::uint16_t word = 0;
             EXPECT_EQ(e.getUEI16(2, &word), aErrNone);
             EXPECT_EQ(word, 0xBEEF);
         }},
        {"set", {{kCmd, 1 | 0xC0, 0x80, 13}}, [](EntityClass& e) { EXPECT_EQ(e.setUEI8(1, 0x5A), aErrNone); }},
        {"a late value behind a late error",
         {{kCmd, 3, 0x80, 13}, {kCmd, 3, 0x00, 0x11, 0x11, 0x11, 0x11}},
         [](EntityClass& e) {
             std::uint32_t word = 0;
             EXPECT_EQ(e.getUEI32(3, &word), aErrNone);
             EXPECT_EQ(word, 0xDEADBEEFu);
         }},
        {"byte buffer",
         {{kCmd, 20, 0x00, 9, 9, 9, 0x00}},
         [](EntityClass& e) {
             Bytes buffer(64, 0);
             std::size_t count = 0;
             EXPECT_EQ(e.getUEIBytes(20, buffer.data(), buffer.size(), &count), aErrNone);
             ASSERT_EQ(count, 5u);
             EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), Bytes(5, 0x42));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (const Bytes& stale : row.stale)
            ASSERT_TRUE(rig_.sim.sendPacket(kRouterAddress, stale));
        roundTrip();
        row.request(entity_);
    }
}

// A real late reply: the module answers after the caller's time-out, and
// the next get gets the module's new value.
TEST_F(EntityTest, AReplyAfterTheTimeOutIsNotTheNextAnswer)
{
    morvsim::Faults slow;
    slow.replyTiming.delay = Millis(1300);
    rig_.sim.setFaults(slow);
    const std::uint64_t written = rig_.sim.bytesWritten();
    std::uint32_t word = 0;
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrTimeout);
    rig_.sim.setFaults(morvsim::Faults());
    rig_.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities[entityKey(kCmd, 3, 0)] = morvsim::u32(7); });
    // The late reply has reached the host.
    ASSERT_TRUE(rig_.sim.waitUntil([&] { return rig_.sim.bytesWritten() > written; }, Millis(3000)));
    roundTrip();
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrNone);
    EXPECT_EQ(word, 7u);
}

// Packets the module sent that nobody read overflow the input queue: the loss
// is reported in the status, and entity calls go on working.
TEST_F(EntityTest, CallsWorkAfterTheInputQueueOverflowed)
{
    Bytes flood;
    for (int i = 0; i < 1001; i++) {
        const Bytes p = {kRouterAddress, 3, 0x30, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        flood.insert(flood.end(), p.begin(), p.end());
    }
    ASSERT_TRUE(rig_.sim.sendRaw(flood));
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (module_->getStatus() != 8 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(module_->getStatus(), 8);
    EXPECT_TRUE(module_->isConnected());
    std::uint8_t byte = 0;
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrNone);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(module_->getStatus(), 2);
    EXPECT_TRUE(module_->isConnected());
}

// ---------------------------------------------------------------- stream cache

TEST_F(EntityTest, StreamedValuesAnswerGettersWithoutARequest)
{
    std::mutex mutex;
    std::condition_variable arrived;
    int samples = 0;
    auto callback = [&](const aPacket*, void*) -> std::uint8_t {
        std::lock_guard<std::mutex> lock(mutex);
        ++samples;
        arrived.notify_all();
        return 0;
    };
    auto awaitSamples = [&](int n) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(2), [&] { return samples >= n; });
    };
    ASSERT_EQ(entity_.registerOptionCallback(3, true, callback, nullptr), aErrNone);
    ASSERT_TRUE(rig_.sim.sendPacket(kRouterAddress, morvsim::streamSample(3, kCmd, 3, 0, 0, 1000, 0x11223344)));
    ASSERT_TRUE(awaitSamples(1));

    const std::size_t mark = rig_.mark();
    std::uint32_t word = 0;
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrNone);
    EXPECT_EQ(word, 0x11223344u);
    word = 0;
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrStreamStale) << "read once already";
    EXPECT_EQ(word, 0x11223344u) << "the value still comes with 33";
    std::uint16_t half = 0;
    EXPECT_EQ(entity_.getUEI16(3, &half), aErrStreamStale);
    EXPECT_EQ(half, 0x3344);

    ASSERT_TRUE(rig_.sim.sendPacket(kRouterAddress, morvsim::streamSample(3, kCmd, 3, 0, 0, 2000, 0x55667788)));
    ASSERT_TRUE(awaitSamples(2));
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrNone) << "a new sample is fresh again";
    EXPECT_EQ(word, 0x55667788u);
    EXPECT_TRUE(rig_.sentSince(mark).empty()) << "the cache answered";

    // An option that is not streamed still asks the module.
    std::uint8_t byte = 0;
    EXPECT_EQ(entity_.getUEI8(1, &byte), aErrNone);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(rig_.sentSince(mark).size(), 1u);

    Link::StreamStatusEntry rows[4];
    std::size_t count = 0;
    EXPECT_EQ(entity_.getStreamStatus(rows, 4, &count), aErrNone);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(rows[0].value, 0x55667788u);
    EXPECT_EQ(rows[0].key, Link::createStreamKey(kRouterAddress, kCmd, 3, 0, 0));

    EXPECT_EQ(entity_.registerOptionCallback(3, false, {}, nullptr), aErrNone);
    EXPECT_EQ(entity_.getUEI32(3, &word), aErrNone);
    EXPECT_EQ(word, 0xDEADBEEFu) << "asked again once streaming stopped";
}

TEST_F(EntityTest, StreamEnableAsksTheModuleForEveryOption)
{
    const std::size_t mark = rig_.mark();
    ASSERT_EQ(entity_.setStreamEnabled(1), aErrNone);
    std::vector<Bytes> sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{93, 0x81, 0x20, kRouterAddress, kCmd, 0xFF, 0}));
    ASSERT_EQ(entity_.setStreamEnabled(0), aErrNone);
    sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], (Bytes{93, 0x82, 0x20, kRouterAddress, kCmd, 0xFF, 0}));
}

}  // namespace
