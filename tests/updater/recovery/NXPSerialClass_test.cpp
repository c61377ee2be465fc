// The ISP client against the simulated boot ROM over a pseudo-terminal:
// connection, autobaud sync, identification and the commands' return codes.
#include "LpcIspFixture.h"

#include <termios.h>

using namespace lpctest;
using morvsim::LpcIspFaults;
using morvsim::LpcIspSimulator;
using morvtest::PtyPair;

namespace {

TEST(NXPSerialConnect, PicksTheFirstSpeedAtOrAboveTheRequest)
{
    struct Case {
        uint32_t requested;
        uint32_t baud;
        speed_t speed;
    };
    const std::vector<Case> cases = {
        {115200, 115200, B115200}, {100000, 115200, B115200}, {300000, 9600, B9600},
        {0, 2400, B2400},          {2400, 2400, B2400},       {2401, 4800, B4800},
        {230400, 230400, B230400}, {230401, 9600, B9600},
    };
    for (const Case& c : cases) {
        PtyPair pty;
        NXPSerialClass isp;
        ASSERT_EQ(aErrNone, isp.Connect(pty.slavePath(), c.requested)) << c.requested;
        EXPECT_TRUE(isp.isConnected());
        EXPECT_EQ(c.baud, isp.getBaud()) << c.requested;
        termios t{};
        ASSERT_EQ(0, tcgetattr(pty.slaveFd(), &t));
        EXPECT_EQ(c.speed, cfgetospeed(&t)) << c.requested;
    }
}

TEST(NXPSerialConnect, MissingPortFailsAndLeavesNothingOpen)
{
    NXPSerialClass isp;
    EXPECT_EQ(aErrNotFound, isp.Connect("/nonexistent/tty-lpc", 115200));
    EXPECT_FALSE(isp.isConnected());
    EXPECT_EQ(aErrConnection, isp.Sync());
    EXPECT_EQ(aErrConnection, isp.GetDeviceID());
    EXPECT_EQ(aErrConnection, isp.Unlock());
}

TEST_F(LpcIspTest, ReconnectReplacesTheStreamAndDisconnectCloses)
{
    ASSERT_EQ(aErrNone, isp_.Connect(pty_.slavePath(), 9600));
    EXPECT_EQ(9600u, isp_.getBaud());
    ASSERT_EQ(aErrNone, isp_.Sync());
    EXPECT_EQ(aErrNone, isp_.Disconnect());
    EXPECT_FALSE(isp_.isConnected());
    EXPECT_EQ(aErrConnection, isp_.Prepare(0, 1));
}

TEST_F(LpcIspTest, SyncHandshakeReachesCommandMode)
{
    EXPECT_EQ(aErrNone, isp_.Sync());
    EXPECT_TRUE(rom_->synchronized());
    EXPECT_EQ(14746u, rom_->crystalKHz());
    EXPECT_TRUE(isp_.getEcho());
    EXPECT_TRUE(rom_->echo());
    // Nothing of the handshake is left in the line: the first command reads its own code.
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 0));
}

TEST_F(LpcIspTest, SyncWithASilentRomFailsWithinItsWait)
{
    LpcIspFaults f;
    f.silent = true;
    rom_->setFaults(f);
    auto start = Clock::now();
    EXPECT_NE(aErrNone, isp_.Sync());
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(rom_->synchronized());
}

TEST_F(LpcIspTest, SyncWithoutTheClosingOkFails)
{
    LpcIspFaults f;
    f.crystalReply = "NO\r\n";
    rom_->setFaults(f);
    EXPECT_EQ(aErrIO, isp_.Sync());
    // The bytes received are traced by their count, not as an unterminated text.
    EXPECT_NE(std::string::npos, Trace().find("Did not receive correct response [NO\\r\\n]"));
}

TEST_P(LpcIspEchoTest, IdentificationReplies)
{
    Ready(GetParam());
    rom_->setDeviceSerial({0x00000001u, 0xFFFFFFFFu, 0x80000000u, 0x1234ABCDu});
    rom_->setPartId(0x26013F37u);
    rom_->setBootCodeVersion(4, 1);

    ASSERT_EQ(aErrNone, isp_.GetDeviceID());
    EXPECT_EQ(0x00000001u, isp_.GetDeviceSerial(0));
    EXPECT_EQ(0xFFFFFFFFu, isp_.GetDeviceSerial(1));
    EXPECT_EQ(0x80000000u, isp_.GetDeviceSerial(2));
    EXPECT_EQ(0x1234ABCDu, isp_.GetDeviceSerial(3));
    EXPECT_EQ(0u, isp_.GetDeviceSerial(4));

    int64_t part = 0;
    ASSERT_EQ(aErrNone, isp_.GetPartNumber(part));
    EXPECT_EQ(0x26013F37, part);

    uint8_t major = 0, minor = 0;
    ASSERT_EQ(aErrNone, isp_.GetBootLoaderVersion(major, minor));
    EXPECT_EQ(4, major);
    EXPECT_EQ(1, minor);
}

INSTANTIATE_TEST_SUITE_P(Echo, LpcIspEchoTest, ::testing::Bool(), EchoName);

struct DeviceIdFault {
    const char* name;
    std::vector<std::string> lines;  // empty: the fault below
    char failCommand;
    int failCode;
    bool silent;
    aErr expected;
};

TEST_F(LpcIspTest, DeviceIdIsNeverMadeUpFromABadReply)
{
    const std::vector<DeviceIdFault> cases = {
        {"three words", {"1", "2", "3"}, 0, 0, false, aErrTimeout},
        {"text for a word", {"1", "2", "abc", "4"}, 0, 0, false, aErrParse},
        {"word too wide", {"4294967296", "2", "3", "4"}, 0, 0, false, aErrParse},
        {"signed word", {"-1", "2", "3", "4"}, 0, 0, false, aErrParse},
        {"trailing text", {"1 2", "2", "3", "4"}, 0, 0, false, aErrParse},
        {"empty word", {"", "2", "3", "4"}, 0, 0, false, aErrParse},
        {"failed return code", {}, 'N', 19, false, aErrParam},
        {"silent ROM", {}, 0, 0, true, aErrTimeout},
    };
    Ready();
    rom_->setDeviceSerial({11, 22, 33, 44});
    ASSERT_EQ(aErrNone, isp_.GetDeviceID());
    for (const DeviceIdFault& c : cases) {
        LpcIspFaults f;
        f.idReply = c.lines;
        f.failCommand = c.failCommand;
        f.failCode = c.failCode;
        f.silent = c.silent;
        rom_->setFaults(f);
        auto start = Clock::now();
        EXPECT_EQ(c.expected, isp_.GetDeviceID()) << c.name;
        EXPECT_LT(MsSince(start), 1500) << c.name;
        // The words of the last good reply stay.
        EXPECT_EQ(11u, isp_.GetDeviceSerial(0)) << c.name;
        EXPECT_EQ(44u, isp_.GetDeviceSerial(3)) << c.name;
        // Lines a bad reply left behind must not spill into the next case: a new
        // connection starts with an empty input queue.
        rom_->setFaults(LpcIspFaults{});
        ASSERT_EQ(aErrNone, isp_.Connect(pty_.slavePath(), 115200));
    }
}

TEST_F(LpcIspTest, VersionAndPartNumberNeedNumbers)
{
    Ready();
    LpcIspFaults f;
    f.failCommand = 'J';
    f.failCode = 1;
    rom_->setFaults(f);
    int64_t part = 77;
    EXPECT_EQ(aErrParam, isp_.GetPartNumber(part));
    EXPECT_EQ(77, part);

    f.failCommand = 'K';
    f.failCode = 12;
    rom_->setFaults(f);
    uint8_t major = 9, minor = 9;
    EXPECT_EQ(aErrParam, isp_.GetBootLoaderVersion(major, minor));
    EXPECT_EQ(9, major);
    rom_->setBootCodeVersion(2, 0);
    rom_->setFaults(LpcIspFaults{});
    EXPECT_EQ(aErrNone, isp_.GetBootLoaderVersion(major, minor));
    EXPECT_EQ(2, major);
    EXPECT_EQ(0, minor);
}

struct CodeCase {
    const char* name;
    char letter;
    int code;
};

TEST_P(LpcIspEchoTest, EveryNonZeroReturnCodeFails)
{
    // Codes that end in '0' (10 COMPARE_ERROR, 20, 100) must not pass for success.
    const std::vector<CodeCase> cases = {
        {"COMPARE_ERROR on copy", 'C', 10},      {"INVALID_COMMAND on unlock", 'U', 1},
        {"BUSY on prepare", 'P', 11},            {"CODE_READ_PROTECTION on erase", 'E', 19},
        {"PARAM_ERROR on echo", 'A', 12},        {"INVALID_BAUD_RATE", 'B', 17},
        {"unknown code 20", 'P', 20},            {"code 100", 'P', 100},
    };
    Ready(GetParam());
    ASSERT_EQ(aErrNone, isp_.Unlock());
    for (const CodeCase& c : cases) {
        LpcIspFaults f;
        f.failCommand = c.letter;
        f.failCode = c.code;
        rom_->setFaults(f);
        aErr err = aErrNone;
        switch (c.letter) {
        case 'C':
            err = isp_.CopyToFlash(0, NXPSerialClass::WRITE_ADDRESS, 256);
            break;
        case 'U':
            err = isp_.Unlock();
            break;
        case 'P':
            err = isp_.Prepare(0, 1);
            break;
        case 'E':
            err = isp_.Erase(0, 1);
            break;
        case 'A':
            err = isp_.SetEcho(GetParam());
            break;
        case 'B':
            err = isp_.SetBaudRate(115200);
            break;
        }
        EXPECT_EQ(aErrParam, err) << c.name;
        EXPECT_EQ(GetParam(), isp_.getEcho()) << c.name;
    }
    // The line is still in step: a good command right after succeeds.
    rom_->setFaults(LpcIspFaults{});
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 29));
    EXPECT_EQ(aErrNone, isp_.Erase(0, 29));
}

TEST_P(LpcIspEchoTest, TheRomsOwnRefusals)
{
    Ready(GetParam());
    EXPECT_EQ(aErrParam, isp_.Erase(0, 0)) << "locked";
    ASSERT_EQ(aErrNone, isp_.Unlock());
    EXPECT_TRUE(rom_->unlocked());
    EXPECT_EQ(aErrParam, isp_.CopyToFlash(0, NXPSerialClass::WRITE_ADDRESS, 256)) << "not prepared";
    EXPECT_EQ(aErrParam, isp_.Prepare(0, 30)) << "no sector 30";
    EXPECT_EQ(aErrParam, isp_.Write(0x20000000u, 4, RandomBytes(4, 1).data())) << "not RAM";
    EXPECT_EQ(aErrParam, isp_.SetBaudRate(1234));
    EXPECT_EQ(aErrNone, isp_.SetBaudRate(115200));
    EXPECT_EQ(aErrNone, isp_.Prepare(3, 3));
    EXPECT_EQ(aErrNone, isp_.Erase(3, 3));
}

TEST_F(LpcIspTest, BadArgumentsAreRefusedWithoutSending)
{
    Ready();
    Bytes data(8, 0x55);
    uint8_t buffer[8];
    size_t before = rom_->commands().size();
    EXPECT_EQ(aErrParam, isp_.Prepare(5, 4));
    EXPECT_EQ(aErrParam, isp_.Erase(3, 1));
    EXPECT_EQ(aErrParam, isp_.CopyToFlash(0x1080, NXPSerialClass::WRITE_ADDRESS, 256));
    EXPECT_EQ(aErrParam, isp_.CopyToFlash(0x1000, NXPSerialClass::WRITE_ADDRESS, 768));
    EXPECT_EQ(aErrParam, isp_.CopyToFlash(0x1000, NXPSerialClass::WRITE_ADDRESS, 0));
    EXPECT_EQ(aErrParam, isp_.Write(NXPSerialClass::WRITE_ADDRESS, 0, data.data()));
    EXPECT_EQ(aErrParam, isp_.Write(NXPSerialClass::WRITE_ADDRESS, 6, data.data()));
    EXPECT_EQ(aErrParam, isp_.Write(NXPSerialClass::WRITE_ADDRESS, 8, nullptr));
    EXPECT_EQ(aErrParam, isp_.Read(0, 0, buffer));
    EXPECT_EQ(aErrParam, isp_.Read(0, 10, buffer));
    EXPECT_EQ(before, rom_->commands().size());
}

TEST_P(LpcIspEchoTest, CommandsToASilentRomTimeOut)
{
    Ready(GetParam());
    LpcIspFaults f;
    f.silent = true;
    rom_->setFaults(f);
    auto start = Clock::now();
    EXPECT_EQ(aErrTimeout, isp_.Unlock());
    EXPECT_EQ(aErrTimeout, isp_.SetEcho(!GetParam()));
    EXPECT_EQ(GetParam(), isp_.getEcho());
    EXPECT_EQ(aErrTimeout, isp_.Prepare(0, 1));
    EXPECT_LT(MsSince(start), 2000);
}

TEST_F(LpcIspTest, ALineThatHangsUpIsReportedNotWaitedOut)
{
    Ready();
    rom_->stop();  // the far end closes
    auto start = Clock::now();
    EXPECT_EQ(aErrIO, isp_.Unlock());
    EXPECT_NE(aErrNone, isp_.GetDeviceID());
    EXPECT_NE(aErrNone, isp_.Sync());
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(LpcIspTest, EchoFollowsTheRom)
{
    Ready();
    ASSERT_EQ(aErrNone, isp_.SetEcho(false));
    EXPECT_FALSE(isp_.getEcho());
    EXPECT_FALSE(rom_->echo());
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 1));
    ASSERT_EQ(aErrNone, isp_.SetEcho(true));
    EXPECT_TRUE(rom_->echo());
    EXPECT_EQ(aErrNone, isp_.Prepare(0, 1));
}

TEST_F(LpcIspTest, ExecuteStartsTheFirmware)
{
    Ready();
    ASSERT_EQ(aErrNone, isp_.Unlock());
    EXPECT_EQ(aErrNone, isp_.ExecuteFrom(0));
    EXPECT_TRUE(rom_->waitUntil([&] { return rom_->started(); }, std::chrono::milliseconds(2000)));
    EXPECT_EQ(0u, rom_->goAddress());
    EXPECT_EQ("G 0 T", rom_->commands().back());
}

}  // namespace
