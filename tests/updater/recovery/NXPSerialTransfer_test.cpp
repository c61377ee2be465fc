// Data transfers of the ISP client against the simulated boot ROM: writes to
// RAM with checksums and RESEND, reads back, and programming a firmware image.
#include "LpcIspFixture.h"

#include <algorithm>

using namespace lpctest;
using morvsim::LpcIspFaults;
using morvsim::LpcIspSimulator;

namespace {

constexpr uint32_t kRam = NXPSerialClass::WRITE_ADDRESS;

TEST_P(LpcIspEchoTest, WriteSendsLinesAndChecksumsInBlocks)
{
    Ready(GetParam());
    Bytes data = RandomBytes(1000, 3);
    ASSERT_EQ(aErrNone, isp_.Write(kRam, 1000, data.data()));
    EXPECT_EQ(data, rom_->memory(kRam, 1000));
    morvsim::LpcIspStats s = rom_->stats();
    // 22 full lines and one of 10 bytes; checksums after line 20 and line 23.
    EXPECT_EQ(23u, s.dataLines);
    EXPECT_EQ((std::vector<int>{20, 3}), s.linesPerChecksum);
    EXPECT_EQ(0u, s.resendsSent);
    // The line is in step afterwards.
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 0));
}

INSTANTIATE_TEST_SUITE_P(Echo, LpcIspEchoTest, ::testing::Bool(), EchoName);

TEST_F(LpcIspTest, TwoResendsAreAbsorbedTheThirdEndsTheWrite)
{
    Ready(false);
    Bytes data = RandomBytes(1000, 4);
    LpcIspFaults f;
    f.resendWriteChecksums = 2;
    rom_->setFaults(f);
    ASSERT_EQ(aErrNone, isp_.Write(kRam, 1000, data.data()));
    EXPECT_EQ(data, rom_->memory(kRam, 1000));
    EXPECT_EQ(2u, rom_->stats().resendsSent);
    EXPECT_EQ((std::vector<int>{20, 20, 20, 3}), rom_->stats().linesPerChecksum);

    f.resendWriteChecksums = 3;
    rom_->setFaults(f);
    EXPECT_EQ(aErrTimeout, isp_.Write(kRam, 1000, data.data()));
    EXPECT_NE(std::string::npos, Trace().find("Write() exceeded retries"));
}

TEST_F(LpcIspTest, ResendBudgetIsSharedByAllBlocksOfOneWrite)
{
    Ready(false);
    Bytes data = RandomBytes(2000, 5);  // blocks of 20, 20 and 5 lines
    LpcIspFaults f;
    f.resendAtChecksums = {2, 4};
    rom_->setFaults(f);
    ASSERT_EQ(aErrNone, isp_.Write(kRam, 2000, data.data()));
    EXPECT_EQ(data, rom_->memory(kRam, 2000));
    EXPECT_EQ((std::vector<int>{20, 20, 20, 5, 5}), rom_->stats().linesPerChecksum);

    f.resendAtChecksums = {2, 4, 5};
    rom_->setFaults(f);
    EXPECT_EQ(aErrTimeout, isp_.Write(kRam, 2000, data.data()));
}

TEST_F(LpcIspTest, ACorruptedLineIsSentAgain)
{
    Ready(false);
    Bytes data = RandomBytes(400, 6);
    LpcIspFaults f;
    f.corruptWriteLines = 1;
    rom_->setFaults(f);
    ASSERT_EQ(aErrNone, isp_.Write(kRam, 400, data.data()));
    EXPECT_EQ(1u, rom_->stats().resendsSent);
    EXPECT_EQ(data, rom_->memory(kRam, 400));
}

TEST_F(LpcIspTest, AnUnexpectedChecksumReplyIsAnError)
{
    Ready(false);
    Bytes data = RandomBytes(100, 7);
    LpcIspFaults f;
    f.writeChecksumReply = "OKAY";
    rom_->setFaults(f);
    EXPECT_EQ(aErrIO, isp_.Write(kRam, 100, data.data()));
    EXPECT_NE(std::string::npos, Trace().find("Write() unexpected response [OKAY\\r\\n]"));
}

TEST_F(LpcIspTest, SilenceAtTheChecksumTimesOut)
{
    Ready(false);
    Bytes data = RandomBytes(100, 8);
    LpcIspFaults f;
    f.silenceAtWriteChecksum = true;
    rom_->setFaults(f);
    auto start = Clock::now();
    EXPECT_EQ(aErrTimeout, isp_.Write(kRam, 100, data.data()));
    long ms = MsSince(start);
    EXPECT_GE(ms, 1900);  // the checksum reply gets its two seconds
    EXPECT_LT(ms, 4000);
}

TEST_F(LpcIspTest, ARefusedWriteSendsNoData)
{
    Ready();
    Bytes data = RandomBytes(100, 9);
    EXPECT_EQ(aErrParam, isp_.Write(LpcIspSimulator::kRamBase + LpcIspSimulator::kRamSize - 96, 100,
                                    data.data()));
    EXPECT_EQ(0u, rom_->stats().dataLines);
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 0));
}

TEST_P(LpcIspEchoTest, ReadReturnsMemory)
{
    Ready(GetParam());
    Bytes data = RandomBytes(2000, 10);
    std::fill(data.begin() + 100, data.begin() + 160, 0);  // zero sextets
    rom_->poke(0x2000, data);
    Bytes back(2000, 0xEE);
    ASSERT_EQ(aErrNone, isp_.Read(0x2000, 2000, back.data()));
    EXPECT_EQ(data, back);
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 0));
}

TEST_F(LpcIspTest, ReadAcceptsBlanksForZero)
{
    Ready(false);
    Bytes data(96, 0);
    data[50] = 0x40;
    rom_->poke(kRam, data);
    LpcIspFaults f;
    f.readZeroAsSpace = true;
    rom_->setFaults(f);
    Bytes back(96, 0xEE);
    ASSERT_EQ(aErrNone, isp_.Read(kRam, 96, back.data()));
    EXPECT_EQ(data, back);
}

TEST_F(LpcIspTest, ReadAsksAgainOnABadChecksumAndGivesUp)
{
    Ready(false);
    Bytes data = RandomBytes(1000, 11);
    rom_->poke(0x10000, data);
    LpcIspFaults f;
    f.wrongReadChecksums = 1;
    rom_->setFaults(f);
    Bytes back(1000);
    ASSERT_EQ(aErrNone, isp_.Read(0x10000, 1000, back.data()));
    EXPECT_EQ(data, back);
    EXPECT_EQ(1u, rom_->stats().readResendsReceived);

    f.wrongReadChecksums = 3;
    rom_->setFaults(f);
    EXPECT_EQ(aErrTimeout, isp_.Read(0x10000, 1000, back.data()));
}

// The order the recovery follows: unlock, prepare and erase everything, then per
// piece of at most 4096 bytes write to RAM, prepare its sectors and copy.
TEST_F(LpcIspTest, ProgramsAFirmwareImageIntoFlash)
{
    rom_->poke(0, Bytes(0x80000, 0x00));  // old contents everywhere
    Bytes image = RandomBytes(10000, 12);
    Ready();
    ASSERT_EQ(aErrNone, isp_.Unlock());
    ASSERT_EQ(aErrNone, isp_.Prepare(0, 29));
    ASSERT_EQ(aErrNone, isp_.Erase(0, 29));
    ASSERT_EQ(aErrNone, isp_.SetEcho(false));
    EXPECT_FALSE(rom_->echo());
    for (uint32_t a = 0; a < image.size(); a += 4096) {
        uint32_t n = std::min<uint32_t>(4096, static_cast<uint32_t>(image.size()) - a);
        ASSERT_EQ(aErrNone, isp_.Write(kRam, n, image.data() + a)) << a;
        uint32_t first = NXPSerialClass::SectorFromAddress(a);
        uint32_t last = NXPSerialClass::SectorFromAddress(a + n - 1);
        ASSERT_EQ(aErrNone, isp_.Prepare(first, last)) << a;
        ASSERT_EQ(aErrNone, isp_.CopyToFlash(a, kRam, NXPSerialClass::CopyLength(n))) << a;
    }
    ASSERT_EQ(aErrNone, isp_.SetEcho(true));
    ASSERT_EQ(aErrNone, isp_.ExecuteFrom(0));
    ASSERT_TRUE(rom_->waitUntil([&] { return rom_->started(); }, std::chrono::milliseconds(2000)));

    Bytes flash = rom_->flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x4000, flash.end(), [](uint8_t b) { return b == 0xFF; }))
        << "sectors beyond the image are erased";
    EXPECT_EQ(0u, rom_->goAddress());
    EXPECT_TRUE(rom_->echo());
}

}  // namespace
