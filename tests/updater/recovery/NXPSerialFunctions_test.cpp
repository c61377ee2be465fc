// The ISP client's pure functions: uuencoding, copy lengths, the sector map,
// line timing and return-code texts.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "NXPSerialClass.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Encode(const Bytes& data)
{
    char line[64];
    size_t consumed = NXPSerialClass::uuencode(line, sizeof(line), data.data(), data.size());
    EXPECT_EQ(std::min<size_t>(data.size(), 45), consumed);
    return line;
}

struct EncodeCase {
    const char* name;
    Bytes data;
    std::string line;
};

TEST(NXPSerialUUEncode, Table)
{
    const std::vector<EncodeCase> cases = {
        {"empty", {}, "`"},
        {"three zero bytes", {0, 0, 0}, "#````"},
        {"one zero byte", {0}, "!````"},
        {"one 0xFF byte", {0xFF}, "!_P``"},
        {"text", {'C', 'a', 't'}, "#0V%T"},
        {"two bytes pad with zero", {'C', 'a'}, "\"0V$`"},
        {"four bytes start a second group", {0xFF, 0xFF, 0xFF, 0x01}, "$____`0``"},
    };
    for (const EncodeCase& c : cases)
        EXPECT_EQ(c.line, Encode(c.data)) << c.name;
}

TEST(NXPSerialUUEncode, FullLineIs61CharactersAndLongerInputIsCut)
{
    Bytes data(100, 0x5A);
    char line[64];
    EXPECT_EQ(45u, NXPSerialClass::uuencode(line, sizeof(line), data.data(), data.size()));
    EXPECT_EQ(61u, std::strlen(line));
    EXPECT_EQ('M', line[0]);
}

TEST(NXPSerialUUEncode, SmallOutputConsumesOnlyWhatFits)
{
    Bytes data(45, 0x11);
    char line[10];  // length character, two groups, zero
    std::memset(line, 'X', sizeof(line));
    EXPECT_EQ(6u, NXPSerialClass::uuencode(line, sizeof(line), data.data(), data.size()));
    EXPECT_EQ(9u, std::strlen(line));
    EXPECT_EQ(0u, NXPSerialClass::uuencode(line, 1, data.data(), data.size()));
    EXPECT_EQ('\0', line[0]);
}

TEST(NXPSerialUUEncode, UUCharMapsZeroToGraveAccent)
{
    EXPECT_EQ('`', NXPSerialClass::uuchar(0));
    EXPECT_EQ('!', NXPSerialClass::uuchar(1));
    EXPECT_EQ('_', NXPSerialClass::uuchar(63));
    EXPECT_EQ('`', NXPSerialClass::uuchar(64));  // only six bits count
    EXPECT_EQ('!', NXPSerialClass::uuchar(0x41));
}

struct DecodeCase {
    const char* name;
    const char* line;
    size_t size;
    size_t result;
    Bytes bytes;  // the first result bytes of the buffer
};

TEST(NXPSerialUUDecode, Table)
{
    const std::vector<DecodeCase> cases = {
        {"text", "#0V%T", 8, 3, {'C', 'a', 't'}},
        {"zero sextets as grave accents", "#````", 8, 3, {0, 0, 0}},
        {"zero sextets as blanks", "#    ", 8, 3, {0, 0, 0}},
        {"mixed zero forms", "!_P` ", 8, 1, {0xFF}},
        {"line end after the groups", "#0V%T\r\n", 8, 3, {'C', 'a', 't'}},
        {"empty line", "`", 8, 0, {}},
        {"count above size", "#0V%T", 2, 0, {}},
        {"line shorter than its count", "&0V%T", 8, 3, {'C', 'a', 't'}},
        {"group cut by the line end", "#0V\r\n", 8, 0, {}},
        {"invalid length character", "\r\n", 8, 0, {}},
        {"empty text", "", 8, 0, {}},
    };
    for (const DecodeCase& c : cases) {
        uint8_t buffer[16];
        std::memset(buffer, 0xEE, sizeof(buffer));
        EXPECT_EQ(c.result, NXPSerialClass::uudecode(buffer, c.size, c.line)) << c.name;
        for (size_t i = 0; i < c.bytes.size(); i++)
            EXPECT_EQ(c.bytes[i], buffer[i]) << c.name << " byte " << i;
        for (size_t i = c.result; i < sizeof(buffer); i++)
            EXPECT_EQ(0xEE, buffer[i]) << c.name << ": written past the decoded bytes at " << i;
    }
}

TEST(NXPSerialUUDecode, WritesNoMoreThanTheCountEvenInsideAGroup)
{
    // One byte in a four-character group: the other two decoded bytes must not land.
    uint8_t buffer[3] = {0xAA, 0xBB, 0xCC};
    EXPECT_EQ(1u, NXPSerialClass::uudecode(buffer, 1, "!_P``"));
    EXPECT_EQ(0xFF, buffer[0]);
    EXPECT_EQ(0xBB, buffer[1]);
    EXPECT_EQ(0xCC, buffer[2]);
}

TEST(NXPSerialUUDecode, RoundTripsEveryLineLength)
{
    std::mt19937 random(7);
    for (size_t n = 0; n <= 45; n++) {
        Bytes data(n);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random());
        if (n > 2)
            data[1] = 0;  // zero sextets on the way
        char line[64];
        ASSERT_EQ(n, NXPSerialClass::uuencode(line, sizeof(line), data.data(), n));
        EXPECT_EQ(1 + 4 * ((n + 2) / 3), std::strlen(line));
        uint8_t back[45];
        ASSERT_EQ(n, NXPSerialClass::uudecode(back, sizeof(back), line)) << n;
        EXPECT_TRUE(n == 0 || std::memcmp(back, data.data(), n) == 0) << n;
    }
}

TEST(NXPSerialTables, CopyLength)
{
    const std::vector<std::pair<uint32_t, uint32_t>> cases = {
        {1, 256},     {256, 256},   {257, 512},   {512, 512},   {513, 1024},
        {1024, 1024}, {1025, 4096}, {1808, 4096}, {4096, 4096}, {4097, 4097},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, NXPSerialClass::CopyLength(c.first)) << c.first;
}

TEST(NXPSerialTables, SectorFromAddress)
{
    const std::vector<std::pair<uint32_t, uint32_t>> cases = {
        {0x0, 0},      {0x0FFF, 0},   {0x1000, 1},   {0xF000, 15},       {0xFFFF, 15},
        {0x10000, 16}, {0x17FFF, 16}, {0x18000, 17}, {0x78000, 29},      {0x7FFFF, 29},
        {0x80000, 30}, {0x10001000, 30}, {0xFFFFFFFF, 30},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, NXPSerialClass::SectorFromAddress(c.first)) << std::hex << c.first;
}

TEST(NXPSerialTables, SectorMapIsContiguousAndEnds)
{
    uint32_t next = 0;
    for (uint32_t i = 0; i < 30; i++) {
        EXPECT_EQ(i, NXP_LPC17XX_sectors[i].sector);
        EXPECT_EQ(next, NXP_LPC17XX_sectors[i].start);
        EXPECT_EQ(i < 16 ? 0x1000u : 0x8000u, NXP_LPC17XX_sectors[i].size);
        next += NXP_LPC17XX_sectors[i].size;
    }
    EXPECT_EQ(0x80000u, next);
    EXPECT_EQ(0xFFFFFFFFu, NXP_LPC17XX_sectors[30].start);
    EXPECT_EQ(0u, NXP_LPC17XX_sectors[30].size);
    EXPECT_EQ(30u, NXP_LPC17XX_sectors[30].sector);
}

TEST(NXPSerialTables, WaitTime)
{
    struct Case {
        uint32_t bytes, baud, ms;
    };
    const std::vector<Case> cases = {
        {14, 115200, 2},   {0, 9600, 2},         {61, 9600, 60},
        {14, 2400, 61},    {4096, 115200, 321},  {14, 0, 61},  // not connected: as 2400
        {0xFFFFFFFF, 2400, 0xFFFFFFFFu},  // saturates
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ms, NXPSerialClass::WAIT_TIME_MS(c.bytes, c.baud)) << c.bytes << " " << c.baud;
}

TEST(NXPSerialTables, ErrorText)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"0", "CMD_SUCCESS"},
        {"0\r\n", "CMD_SUCCESS"},
        {"9", "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION"},
        {"10\r\n", "COMPARE_ERROR"},
        {"15", "CMD_LOCKED"},
        {"0x0F", "CMD_LOCKED"},
        {"19", "CODE_READ_PROTECTION_ENABLED"},
        {"20", "Unknown error"},
        {"21", "Unknown error"},
        {"-1", "Unknown error"},
        {"", "Unknown error"},
        {"OK\r\n", "Unknown error"},
        {"1x", "Unknown error"},
        {"99999999999999999999999", "Unknown error"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.second, NXPSerialClass::GetErrorText(c.first)) << c.first;
    EXPECT_STREQ("Unknown error", NXPSerialClass::GetErrorText(nullptr));
}

TEST(NXPSerialTables, Sum)
{
    const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    EXPECT_EQ(1021u, NXPSerialClass::sum(bytes, sizeof(bytes)));
    EXPECT_EQ(0u, NXPSerialClass::sum(bytes, 0));
    Bytes many(20 * 45, 0xFF);
    EXPECT_EQ(229500u, NXPSerialClass::sum(many.data(), many.size()));
}

}  // namespace
