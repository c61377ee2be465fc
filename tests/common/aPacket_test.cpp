#include "PacketPtr.h"
#include "aPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using morvtest::PacketPtr;

PacketPtr make(uint8_t address, const Bytes& data)
{
    return PacketPtr(aPacket_CreateWithData(address, static_cast<uint8_t>(data.size()), data.data()));
}

Bytes dataOf(const aPacket* p)
{
    return Bytes(p->data, p->data + p->dataSize);
}

// Field by field: the record has a padding byte that memcmp would compare.
bool sameAsTemplate(const aPacket* p)
{
    return p->check == PACK.check && p->curSize == 0 && p->address == 0 && p->dataSize == 0 &&
           std::memcmp(p->data, PACK.data, sizeof(p->data)) == 0;
}

TEST(PacketRecord, CreateIsACopyOfTheTemplate)
{
    EXPECT_EQ(PACK.check, 0xBEEF);
    PacketPtr p(aPacket_Create());
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(sameAsTemplate(p.get()));
    EXPECT_TRUE(aVALIDPACKET(p.get()));
    EXPECT_FALSE(aVALIDPACKET(static_cast<aPacket*>(nullptr)));
}

TEST(PacketRecord, CreateWithData)
{
    struct Case {
        int length;
        bool nullData;
        bool created;
    };
    const Case cases[] = {
        {0, false, true},  {1, false, true},   {27, false, true},  {28, false, true},
        {29, false, false}, {255, false, false}, {0, true, false},  {5, true, false},
    };
    uint8_t source[255];
    for (int i = 0; i < 255; ++i)
        source[i] = static_cast<uint8_t>(0xA0 + i);
    for (const Case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length) + (c.nullData ? " NULL data" : ""));
        PacketPtr p(aPacket_CreateWithData(0x12, static_cast<uint8_t>(c.length), c.nullData ? nullptr : source));
        ASSERT_EQ(p != nullptr, c.created);
        if (!p)
            continue;
        EXPECT_TRUE(aVALIDPACKET(p.get()));
        EXPECT_EQ(p->address, 0x12);
        EXPECT_EQ(p->dataSize, c.length);
        EXPECT_EQ(p->curSize, c.length + 2);
        EXPECT_TRUE(aPacket_IsComplete(p.get()));
        EXPECT_EQ(0, std::memcmp(p->data, source, c.length));
        for (int i = c.length; i < aPACKET_MAX_DATA; ++i)
            EXPECT_EQ(p->data[i], 0) << "byte " << i;
    }
}

TEST(PacketRecord, CopyRebuildsFromAddressAndData)
{
    // Half assembled: address, length 5, two of five data bytes.
    PacketPtr half(aPacket_Create());
    for (uint8_t b : Bytes{0x04, 0x05, 0x11, 0x22})
        ASSERT_EQ(aPacket_AddByte(half.get(), b), aErrNone);
    ASSERT_FALSE(aPacket_IsComplete(half.get()));

    PacketPtr copy(aPacket_Copy(half.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), half.get());
    EXPECT_EQ(copy->curSize, 7);
    EXPECT_EQ(copy->address, 4);
    EXPECT_EQ(dataOf(copy.get()), (Bytes{0x11, 0x22, 0, 0, 0}));
    EXPECT_TRUE(aPacket_IsComplete(copy.get()));

    // The copy is independent of its source.
    half->data[0] = 0x99;
    EXPECT_EQ(copy->data[0], 0x11);

    EXPECT_EQ(aPacket_Copy(nullptr), nullptr);
    aPacket broken = PACK;
    broken.check = 0xBEEE;
    EXPECT_EQ(aPacket_Copy(&broken), nullptr);

    // A bad length byte stays stored after the error; such a packet is not copied.
    PacketPtr badLength(aPacket_Create());
    ASSERT_EQ(aPacket_AddByte(badLength.get(), 0x04), aErrNone);
    ASSERT_EQ(aPacket_AddByte(badLength.get(), 0xC8), aErrPacket);
    EXPECT_EQ(aPacket_Copy(badLength.get()), nullptr);
}

TEST(PacketRecord, Accessors)
{
    using Getter = aErr (*)(const aPacket*, uint8_t*);
    struct Case {
        const char* name;
        Getter get;
        int dataSize;
        bool nullOut;
        bool validPacket;
        aErr expected;
        uint8_t value;
    };
    // Data bytes 0xFF 0xFF 0xFF show the option and index masks.
    const Case cases[] = {
        {"cmd", aPacket_GetCmd, 1, false, true, aErrNone, 0xFF},
        {"cmd empty", aPacket_GetCmd, 0, false, true, aErrPacket, 0},
        {"option", aPacket_GetOption, 2, false, true, aErrNone, 0x3F},
        {"option short", aPacket_GetOption, 1, false, true, aErrPacket, 0},
        {"index", aPacket_GetIndex, 3, false, true, aErrNone, 0x1F},
        {"index short", aPacket_GetIndex, 2, false, true, aErrPacket, 0},
        {"index invalid packet", aPacket_GetIndex, 3, false, false, aErrPacket, 0},
        {"cmd NULL out", aPacket_GetCmd, 3, true, true, aErrParam, 0},
        {"index NULL out short", aPacket_GetIndex, 0, true, true, aErrParam, 0},
        {"option NULL out invalid", aPacket_GetOption, 3, true, false, aErrParam, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        aPacket p = PACK;
        std::memset(p.data, 0xFF, sizeof(p.data));
        p.dataSize = static_cast<uint8_t>(c.dataSize);
        p.curSize = static_cast<uint8_t>(c.dataSize + 2);
        if (!c.validPacket)
            p.check = 0;
        uint8_t out = 0x5A;
        EXPECT_EQ(c.get(&p, c.nullOut ? nullptr : &out), c.expected);
        EXPECT_EQ(out, c.expected == aErrNone ? c.value : 0x5A) << "out written only on success";
    }
    uint8_t out = 0;
    EXPECT_EQ(aPacket_GetCmd(nullptr, &out), aErrPacket);
    EXPECT_EQ(aPacket_GetIndex(nullptr, nullptr), aErrParam);

    PacketPtr entity = make(0x06, {0x03, 0x41, 0x62});
    ASSERT_EQ(aPacket_GetCmd(entity.get(), &out), aErrNone);
    EXPECT_EQ(out, 0x03);
    ASSERT_EQ(aPacket_GetOption(entity.get(), &out), aErrNone);
    EXPECT_EQ(out, 0x01);
    ASSERT_EQ(aPacket_GetIndex(entity.get(), &out), aErrNone);
    EXPECT_EQ(out, 0x02);
}

TEST(PacketRecord, ResetKeepsOnlyTheCheckWord)
{
    Bytes full(aPACKET_MAX_DATA, 0xEE);
    PacketPtr p = make(0x08, full);
    ASSERT_EQ(aPacket_Reset(p.get()), aErrNone);
    EXPECT_TRUE(sameAsTemplate(p.get()));
    EXPECT_EQ(aPacket_Reset(nullptr), aErrParam);
    aPacket broken = PACK;
    broken.check = 0;
    broken.curSize = 9;
    EXPECT_EQ(aPacket_Reset(&broken), aErrParam);
    EXPECT_EQ(broken.curSize, 9);
}

TEST(PacketRecord, DestroyClearsTheCallersPointer)
{
    aPacket* p = aPacket_Create();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(aPacket_Destroy(&p), aErrNone);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(aPacket_Destroy(&p), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}

// One packet fed byte by byte without resets: the result of every byte and
// whether the packet is complete after it.
TEST(PacketAssembler, ByteByByte)
{
    struct Step {
        uint8_t byte;
        aErr result;
        bool complete;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        uint8_t address;
        Bytes data;
    };
    const aErr N = aErrNone, P = aErrPacket;
    const Case cases[] = {
        {"zero length", {{0x04, N, false}, {0x00, N, true}}, 4, {}},
        {"two data bytes", {{0x04, N, false}, {0x02, N, false}, {0x10, N, false}, {0x20, N, true}}, 4, {0x10, 0x20}},
        {"highest address", {{0xFE, N, false}, {0x01, N, false}, {0x7F, N, true}}, 0xFE, {0x7F}},
        {"odd address", {{0x03, P, false}}, 0, {}},
        {"zero address", {{0x00, P, false}}, 0, {}},
        {"length 29", {{0x04, N, false}, {0x1D, P, false}}, 4, {}},
        {"byte after complete packet", {{0x04, N, false}, {0x01, N, false}, {0x55, N, true}, {0x66, P, false}}, 4, {0x55}},
        // The next byte must not turn a complete empty packet into one with a length.
        {"byte after complete empty packet", {{0x04, N, false}, {0x00, N, true}, {0x03, P, false}}, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PacketPtr p(aPacket_Create());
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("byte " + std::to_string(i));
            EXPECT_EQ(aPacket_AddByte(p.get(), c.steps[i].byte), c.steps[i].result);
            EXPECT_EQ(aPacket_IsComplete(p.get()), c.steps[i].complete);
        }
        EXPECT_EQ(p->address, c.address);
        EXPECT_EQ(Bytes(p->data, p->data + c.data.size()), c.data);
        EXPECT_TRUE(aVALIDPACKET(p.get()));
    }
}

TEST(PacketAssembler, FullPacketThenOverrun)
{
    PacketPtr p(aPacket_Create());
    ASSERT_EQ(aPacket_AddByte(p.get(), 0x02), aErrNone);
    ASSERT_EQ(aPacket_AddByte(p.get(), aPACKET_MAX_DATA), aErrNone);
    for (int i = 0; i < aPACKET_MAX_DATA; ++i) {
        ASSERT_FALSE(aPacket_IsComplete(p.get()));
        ASSERT_EQ(aPacket_AddByte(p.get(), static_cast<uint8_t>(i + 1)), aErrNone);
    }
    EXPECT_TRUE(aPacket_IsComplete(p.get()));
    EXPECT_EQ(p->curSize, aPACKET_MAX_SIZE);
    EXPECT_EQ(p->data[aPACKET_MAX_DATA - 1], aPACKET_MAX_DATA);
    EXPECT_EQ(aPacket_AddByte(p.get(), 0x99), aErrOverrun) << "31st byte";
}

// Without resets the 8-bit counter must stop at the wire maximum: past 255
// bytes a wrapped counter would write before the data array.
TEST(PacketAssembler, CounterNeverWraps)
{
    const Bytes prefixes[] = {{0x04, 0xFF}, {0x04, 0x1C}, {0x03, 0x05, 0x04}, {0x04, 0x00}};
    for (const Bytes& prefix : prefixes) {
        SCOPED_TRACE("prefix of " + std::to_string(prefix.size()));
        PacketPtr p(aPacket_Create());
        for (uint8_t b : prefix)
            aPacket_AddByte(p.get(), b);
        const aPacket before = *p;
        int overruns = 0;
        for (int i = 0; i < 1000; ++i) {
            aErr err = aPacket_AddByte(p.get(), 0xA5);
            if (err == aErrOverrun)
                ++overruns;
            else
                ASSERT_EQ(overruns, 0) << "a byte accepted after an overrun";
            ASSERT_LE(p->curSize, aPACKET_MAX_SIZE);
        }
        EXPECT_EQ(overruns, 1000 - (aPACKET_MAX_SIZE - before.curSize));
        EXPECT_EQ(p->check, aPACKET_CHECK);
        EXPECT_EQ(p->address, before.address);
        EXPECT_EQ(p->dataSize, before.dataSize);
    }
}

TEST(PacketAssembler, InvalidPacketIsLeftAlone)
{
    EXPECT_EQ(aPacket_AddByte(nullptr, 0x04), aErrParam);
    aPacket broken = PACK;
    broken.check = 0xDEAD;
    EXPECT_EQ(aPacket_AddByte(&broken, 0x04), aErrParam);
    EXPECT_EQ(broken.curSize, 0);
    EXPECT_EQ(broken.address, 0);
    EXPECT_FALSE(aPacket_IsComplete(&broken));
    EXPECT_FALSE(aPacket_IsComplete(nullptr));
}

// What a link reader does: feed every byte, reset after an error, take and
// reset after a complete packet.
struct Received {
    std::vector<std::pair<uint8_t, Bytes>> packets;
    int errors = 0;
};

Received readStream(const Bytes& stream)
{
    Received got;
    PacketPtr p(aPacket_Create());
    for (uint8_t b : stream) {
        if (aPacket_AddByte(p.get(), b) != aErrNone) {
            ++got.errors;
            aPacket_Reset(p.get());
        } else if (aPacket_IsComplete(p.get())) {
            PacketPtr taken(aPacket_Copy(p.get()));
            EXPECT_NE(taken, nullptr);
            if (taken)
                got.packets.emplace_back(taken->address, dataOf(taken.get()));
            aPacket_Reset(p.get());
        }
    }
    return got;
}

TEST(PacketAssembler, ByteStreams)
{
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::pair<uint8_t, Bytes>> packets;
        int errors;
    };
    const Case cases[] = {
        {"back to back",
         {0x04, 0x02, 0x10, 0x20, 0x06, 0x00, 0x08, 0x03, 0x01, 0x02, 0x03},
         {{4, {0x10, 0x20}}, {6, {}}, {8, {0x01, 0x02, 0x03}}},
         0},
        {"garbage before", {0x00, 0x03, 0xFF, 0x01, 0x04, 0x01, 0xAB}, {{4, {0xAB}}}, 4},
        {"bad length then resync", {0x04, 0x40, 0x06, 0x01, 0xAA}, {{6, {0xAA}}}, 1},
        {"link-level address bytes", {0xAD, 0xAF, 0x02, 0x00}, {{2, {}}}, 2},
        {"cut off at the end", {0x04, 0x01, 0x11, 0x04, 0x05, 0x01, 0x02}, {{4, {0x11}}}, 0},
        {"empty", {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Received got = readStream(c.stream);
        EXPECT_EQ(got.packets, c.packets);
        EXPECT_EQ(got.errors, c.errors);
    }
}

TEST(PacketAssembler, RandomPacketsRoundTrip)
{
    std::mt19937 rng(20240611);
    std::vector<std::pair<uint8_t, Bytes>> sent;
    Bytes stream;
    for (int n = 0; n < 2000; ++n) {
        uint8_t address = static_cast<uint8_t>((rng() % 127 + 1) * 2);
        Bytes data(rng() % (aPACKET_MAX_DATA + 1));
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(rng());
        stream.push_back(address);
        stream.push_back(static_cast<uint8_t>(data.size()));
        stream.insert(stream.end(), data.begin(), data.end());
        sent.emplace_back(address, data);
    }
    Received got = readStream(stream);
    EXPECT_EQ(got.errors, 0);
    EXPECT_EQ(got.packets, sent);
}

} // namespace
