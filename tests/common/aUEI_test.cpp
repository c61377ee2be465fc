#include "aUEI.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

aPacket packetWith(const Bytes& data)
{
    aPacket p = PACK;
    if (!data.empty())
        std::memcpy(p.data, data.data(), data.size());
    p.address = 4;
    p.dataSize = static_cast<uint8_t>(data.size());
    p.curSize = static_cast<uint8_t>(data.size() + 2);
    return p;
}

TEST(UEIValues, ShortsAreBigEndian)
{
    struct Case {
        uint16_t value;
        uint8_t hi, lo;
    };
    const Case cases[] = {{0, 0, 0}, {0x1234, 0x12, 0x34}, {258, 0x01, 0x02}, {0xFFFF, 0xFF, 0xFF}, {0x00FF, 0x00, 0xFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        uint8_t in[2] = {c.hi, c.lo};
        EXPECT_EQ(aUEI_RetrieveShort(in), c.value);
        uint8_t out[3] = {0xAA, 0xAA, 0xAA};
        aUEI_StoreShort(out, c.value);
        EXPECT_EQ(out[0], c.hi);
        EXPECT_EQ(out[1], c.lo);
        EXPECT_EQ(out[2], 0xAA) << "wrote past two bytes";
    }
    EXPECT_EQ(aUEI_RetrieveShort(nullptr), 0);
    aUEI_StoreShort(nullptr, 1);
}

TEST(UEIValues, IntsAreBigEndian)
{
    struct Case {
        uint32_t value;
        Bytes bytes;
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0}},
        {258, {0x00, 0x00, 0x01, 0x02}},
        {0x12345678, {0x12, 0x34, 0x56, 0x78}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x80000001, {0x80, 0x00, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(aUEI_RetrieveInt(c.bytes.data()), c.value);
        Bytes out(5, 0xAA);
        aUEI_StoreInt(out.data(), c.value);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), c.bytes);
        EXPECT_EQ(out[4], 0xAA) << "wrote past four bytes";
    }
    EXPECT_EQ(aUEI_RetrieveInt(nullptr), 0u);
    aUEI_StoreInt(nullptr, 1);
}

TEST(UEIValues, ModifyIntBufferConvertsInPlace)
{
    const uint8_t wire[] = {0x00, 0x00, 0x01, 0x02, 0x12, 0x34, 0x56, 0x78, 0xDE, 0xAD, 0xBE, 0xEF};
    uint32_t words[3];
    std::memcpy(words, wire, sizeof(words));
    aUEI_ModifyIntBuffer(words, 2);
    EXPECT_EQ(words[0], 258u);
    EXPECT_EQ(words[1], 0x12345678u);
    uint32_t untouched;
    std::memcpy(&untouched, wire + 8, 4);
    EXPECT_EQ(words[2], untouched) << "converted past the count";
    aUEI_ModifyIntBuffer(words, 0);
    EXPECT_EQ(words[0], 258u);
    aUEI_ModifyIntBuffer(nullptr, 4);
}

TEST(UEIBytes, SequenceAndContinue)
{
    struct Case {
        const char* name;
        Bytes data;
        uint8_t sequence;
        bool more;
    };
    const Case cases[] = {
        {"continue bit", {0x03, 0x10, 0x00, 0x85}, 5, true},
        {"last packet", {0x03, 0x10, 0x00, 0x05}, 5, false},
        {"only byte", {0xFF}, 0x7F, true},
        {"full packet", Bytes(28, 0x01), 1, false},
        {"no data", {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        aPacket p = packetWith(c.data);
        EXPECT_EQ(aUEI_getBytesSequence(&p), c.sequence);
        EXPECT_EQ(aUEI_getBytesContinue(&p), c.more);
    }
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
    EXPECT_FALSE(aUEI_getBytesContinue(nullptr));
}

// A length byte above 28 stays stored after the assembler's error; reading
// the "last data byte" of such a packet would read past the record.
TEST(UEIBytes, BadStoredLengthIsNotRead)
{
    aPacket* p = aPacket_Create();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(aPacket_AddByte(p, 0x04), aErrNone);
    ASSERT_EQ(aPacket_AddByte(p, 0xFF), aErrPacket);
    ASSERT_EQ(p->dataSize, 0xFF);
    EXPECT_EQ(aUEI_getBytesSequence(p), 0);
    EXPECT_FALSE(aUEI_getBytesContinue(p));
    EXPECT_FALSE(aUEI_getBytesFullPacket(p));
    aPacket_Destroy(&p);
}

TEST(UEIBytes, FullPacket)
{
    const std::pair<int, bool> cases[] = {{0, false}, {1, false}, {26, false}, {27, true}, {28, true}};
    for (auto [size, full] : cases) {
        SCOPED_TRACE(size);
        aPacket p = packetWith(Bytes(static_cast<size_t>(size), 0x11));
        EXPECT_EQ(aUEI_getBytesFullPacket(&p), full);
    }
    EXPECT_FALSE(aUEI_getBytesFullPacket(nullptr));
}

TEST(UEIClassify, NonEntityCommands)
{
    const std::set<int> nonEntity = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
    for (int cmd = 0; cmd < 256; ++cmd) {
        SCOPED_TRACE(cmd);
        aPacket p = packetWith({static_cast<uint8_t>(cmd), 0x00, 0x00});
        const bool expectNot = nonEntity.count(cmd) != 0;
        EXPECT_EQ(aUEI_isNotUEIPayload(&p), expectNot);
        EXPECT_EQ(aUEI_isUEIPayload(&p), !expectNot);
    }
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
    EXPECT_TRUE(aUEI_isUEIPayload(nullptr));
}

TEST(UEIClassify, StreamPacket)
{
    struct Case {
        const char* name;
        Bytes data;
        bool stream;
    };
    const Case cases[] = {
        {"stream sample", {0x03, 0x01, 0x41, 0x00, 0x00}, true},
        {"longer sample", {0x0A, 0x3F, 0x7F, 1, 2, 3, 4, 5}, true},
        {"four data bytes", {0x03, 0x01, 0x41, 0x00}, false},
        {"option 0x40", {0x03, 0x40, 0x41, 0x00, 0x00}, false},
        {"option 0x80", {0x03, 0x80, 0x41, 0x00, 0x00}, false},
        {"specifier without 0x40", {0x03, 0x01, 0x01, 0x00, 0x00}, false},
        {"specifier 0x80 only", {0x03, 0x01, 0x80, 0x00, 0x00}, false},
        {"non-entity command", {0x08, 0x01, 0x41, 0x00, 0x00}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        aPacket p = packetWith(c.data);
        EXPECT_EQ(aUEI_isStreamPacket(&p), c.stream);
    }
    EXPECT_FALSE(aUEI_isStreamPacket(nullptr));
}

} // namespace
