// i.MX serial download loader: command bytes, reply decoding, and the whole
// exchange over a serial line (a pty) against the simulated boot ROM.
#include "Elapsed.h"
#include "HID_SDPLoader.h"
#include "ImxRomSerial.h"
#include "Patterns.h"
#include "PtyPair.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <ostream>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using morvsim::ImxRom;
using morvsim::ImxRomConfig;
using morvsim::ImxRomSerial;

constexpr std::chrono::milliseconds kWait{2000};

using morvtest::ramp;

using morvtest::msSince;

int openDescriptors()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    while (readdir(d) != nullptr)
        ++n;
    closedir(d);
    return n;
}

// ---- command packets ----------------------------------------------------

struct PacketCase {
    const char* name;
    Bytes packet;
    Bytes expected;
};

TEST(SDPCommandTest, PacketsHoldTheProtocolBytes)
{
    const PacketCase cases[] = {
        {"ERROR_STATUS", SDPLoader::_createStatusPacket(),
         {0x01, 0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"WRITE_FILE 0x20000000 2500", SDPLoader::_createWriteFilePacket(0x20000000u, 2500),
         {0x01, 0x04, 0x04, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x09, 0xC4, 0, 0, 0, 0, 0}},
        {"WRITE_FILE big-endian fields", SDPLoader::_createWriteFilePacket(0x12345678u, 0xA1B2C3D4u),
         {0x01, 0x04, 0x04, 0x12, 0x34, 0x56, 0x78, 0x20, 0xA1, 0xB2, 0xC3, 0xD4, 0, 0, 0, 0, 0}},
        {"JUMP_ADDRESS 0x20000400", SDPLoader::_createJumpPacket(0x20000400u),
         {0x01, 0x0B, 0x0B, 0x20, 0x00, 0x04, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"READ_REGISTER 0x401F4410", SDPLoader::_create4ByteReadRegisterPacket(0x401F4410u),
         {0x01, 0x01, 0x01, 0x40, 0x1F, 0x44, 0x10, 0x20, 0x00, 0x00, 0x00, 0x04, 0, 0, 0, 0, 0}},
    };
    for (const PacketCase& c : cases)
        EXPECT_EQ(c.expected, c.packet) << c.name;
}

TEST(SDPCommandTest, FillCommandPadsToSeventeenBytes)
{
    Bytes shortCommand{0x01, 0x05, 0x05};
    SDPLoader::_fillCommand(shortCommand);
    EXPECT_EQ(Bytes({0x01, 0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), shortCommand);
    Bytes full(17, 0xAA);
    SDPLoader::_fillCommand(full);
    EXPECT_EQ(Bytes(17, 0xAA), full);
}

// ---- where a reply value lies -------------------------------------------

struct ReplyCase {
    size_t size;
    unsigned int index;
    bool found;
    uint32_t value;  // ORed into 0x100 when found
};

Bytes numbered(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i);
    return b;
}

TEST(SDPReplyTest, HidReplyIsReportThreeThenReportFour)
{
    const ReplyCase cases[] = {
        {70, 0, true, 0x09080706u | 0x100},
        {70, 15, true, 0x18171615u | 0x100},
        {70, 16, false, 0},
        {69, 0, false, 0},
        {71, 0, false, 0},
        {0, 0, false, 0},
    };
    HID_SDPLoader hid(0x1FC9, 0x0130);
    for (const ReplyCase& c : cases) {
        uint32_t value = 0x100;
        EXPECT_EQ(c.found, hid.getDataFromBuffer(numbered(c.size), c.index, value))
            << c.size << " bytes, index " << c.index;
        if (c.found) {
            EXPECT_EQ(c.value, value) << c.size << " bytes, index " << c.index;
        } else {
            EXPECT_EQ(0x100u, value) << "untouched on failure";
        }
    }
}

TEST(SDPReplyTest, SerialReplyIsHabWordThenValue)
{
    const ReplyCase cases[] = {
        {8, 0, true, 0x07060504u | 0x100},
        {7, 0, false, 0},
        {4, 0, false, 0},
        {11, 1, false, 0},
        {12, 1, true, 0x08070605u | 0x100},
        {68, 15, true, 0x16151413u | 0x100},
        {200, 16, false, 0},
    };
    Serial_SDPLoader serial("/nonexistent");
    for (const ReplyCase& c : cases) {
        uint32_t value = 0x100;
        EXPECT_EQ(c.found, serial.getDataFromBuffer(numbered(c.size), c.index, value))
            << c.size << " bytes, index " << c.index;
        if (c.found) {
            EXPECT_EQ(c.value, value) << c.size << " bytes, index " << c.index;
        } else {
            EXPECT_EQ(0x100u, value) << "untouched on failure";
        }
    }
}

// ---- reply windows -------------------------------------------------------

// Records the order of the engine's calls and answers every reply window as a
// boot ROM that takes everything would (serial framing: HAB word, then value).
class RecordingTransport : public SDPLoader_Interface {
public:
    explicit RecordingTransport(std::vector<std::string>& calls) : calls_(calls) {}
    bool init() override { return true; }
    ssize_t writeData(const std::vector<uint8_t>& data) override
    {
        const bool command = data.at(0) == SDPLoader::REPORT_COMMAND;
        calls_.push_back(command ? "command" : "data");
        if (command)
            lastCommand_ = data.at(1);
        return static_cast<ssize_t>(data.size());
    }
    ssize_t readData(std::vector<uint8_t>& data, unsigned int timeoutMs) override
    {
        if (timeoutMs == 0) {
            calls_.push_back("poll");
            return 0;
        }
        calls_.push_back("window");
        const uint32_t word = lastCommand_ == 0x04 ? SDPLoader::REPLY_SUCCESS : SDPLoader::REPLY_ACK;
        const Bytes reply{0x56, 0x78, 0x78, 0x56, static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                          static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
        data.insert(data.end(), reply.begin(), reply.end());
        return static_cast<ssize_t>(reply.size());
    }
    bool getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index, uint32_t& value) override
    {
        return Serial_SDPLoader("").getDataFromBuffer(buffer, index, value);
    }
    bool waitUntilSent() override
    {
        calls_.push_back("drain");
        return true;
    }

private:
    std::vector<std::string>& calls_;
    uint8_t lastCommand_ = 0;
};

TEST(SDPReplyWindowTest, EveryWindowOpensOnceTheRequestHasLeft)
{
    // The ROM answers after the request's last byte; a window that opens while
    // the port still holds the request closes before a real line can deliver it.
    std::vector<std::string> calls;
    SDPLoader loader;
    ASSERT_TRUE(loader.setLoader(new RecordingTransport(calls)));
    ASSERT_EQ(0, loader.init());
    EXPECT_EQ(0, loader.writeLoader(ramp(2500), 0x20000000u));
    uint64_t fingerprint = 0;
    EXPECT_EQ(0, loader.getFingerprint(fingerprint));
    loader.startLoader(0x20000400u);

    int windows = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] != "window")
            continue;
        ++windows;
        bool drained = false;
        size_t j = i;
        for (; j > 0 && calls[j - 1] != "command" && calls[j - 1] != "data"; --j)
            drained = drained || calls[j - 1] == "drain";
        EXPECT_TRUE(j > 0 && drained) << "window " << windows << " of " << ::testing::PrintToString(calls);
    }
    // Alive check and final word; alive check and two registers; the jump.
    EXPECT_EQ(6, windows) << ::testing::PrintToString(calls);
}

// ---- engine without a usable transport ----------------------------------

TEST(SDPLoaderSetupTest, InitReportsMissingAndUnopenableTransports)
{
    SDPLoader none;
    EXPECT_EQ(1, none.init());
    uint64_t fingerprint = 0;
    EXPECT_EQ(2, none.writeLoader(ramp(16), 0x20000000u));
    EXPECT_EQ(2, none.getFingerprint(fingerprint));
    none.startLoader(0x20000400u);  // nothing to talk to; must simply return

    SDPLoader missing;
    EXPECT_FALSE(missing.setLoader(nullptr));
    ASSERT_TRUE(missing.setLoader(new Serial_SDPLoader("/nonexistent/tty")));
    EXPECT_EQ(6, missing.init());
}

TEST(SDPLoaderSetupTest, SecondTransportIsRefusedAndFirstKept)
{
    morvtest::PtyPair pty;
    SDPLoader loader;
    ASSERT_TRUE(loader.setLoader(new Serial_SDPLoader("/nonexistent/tty")));
    Serial_SDPLoader* second = new Serial_SDPLoader(pty.slavePath());
    EXPECT_FALSE(loader.setLoader(second));
    delete second;  // not taken, still ours
    EXPECT_EQ(6, loader.init()) << "the first (unopenable) transport is the one in use";
}

// ---- serial transport on its own ----------------------------------------

TEST(SerialTransportTest, NonTerminalIsRefusedAndClosed)
{
    morvtest::TempDir dir;
    std::string path = dir.sub("plain-file");
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    int before = openDescriptors();
    {
        Serial_SDPLoader serial(path);
        EXPECT_FALSE(serial.init());
        EXPECT_EQ(before, openDescriptors()) << "the descriptor of a non-terminal is closed at once";
        EXPECT_EQ(-1, serial.writeData({1, 2, 3}));
        Bytes in;
        EXPECT_EQ(0, serial.readData(in, 0));
        EXPECT_FALSE(serial.waitUntilSent()) << "nothing open, nothing sent";
    }
    EXPECT_EQ(before, openDescriptors());
}

TEST(SerialTransportTest, WriteToAStalledLineGivesUp)
{
    morvtest::PtyPair pty;  // nobody reads the master, so the line fills up
    Serial_SDPLoader serial(pty.slavePath());
    ASSERT_TRUE(serial.init());
    Bytes big(1 + 4 * 1024 * 1024, 0x5A);
    auto start = Clock::now();
    ssize_t n = serial.writeData(big);
    EXPECT_EQ(-1, n) << "a short write is not reported as done";
    EXPECT_LT(msSince(start), 4000);
    EXPECT_GE(msSince(start), static_cast<long long>(Serial_SDPLoader::WRITE_STALL_LIMIT_MS) - 50);
}

TEST(SerialTransportTest, HungUpLineFailsFast)
{
    morvtest::PtyPair pty;
    Serial_SDPLoader* serial = new Serial_SDPLoader(pty.slavePath());
    SDPLoader loader;
    ASSERT_TRUE(loader.setLoader(serial));
    ASSERT_EQ(0, loader.init());
    pty.closeMaster();
    pty.closeSlave();  // only the loader's descriptor is left, on a hung-up line

    auto start = Clock::now();
    EXPECT_EQ(-1, serial->writeData({1, 0x05, 0x05}));
    Bytes in;
    EXPECT_EQ(0, serial->readData(in, 0));
    serial->waitUntilSent();  // whatever it says, it says it at once
    EXPECT_EQ(2, loader.writeLoader(ramp(32), 0x20000000u));
    EXPECT_LT(msSince(start), 1500);
}

// ---- whole exchanges over a pty -----------------------------------------

class SerialLoaderTest : public ::testing::Test {
protected:
    void start(ImxRomConfig config = {})
    {
        rom_.reset(new ImxRomSerial(config));
        rom_->attachPty(pty_);
        transport_ = new Serial_SDPLoader(pty_.slavePath());
        ASSERT_TRUE(loader_.setLoader(transport_));
        ASSERT_EQ(0, loader_.init());
    }

    morvtest::PtyPair pty_;
    std::unique_ptr<ImxRomSerial> rom_;
    Serial_SDPLoader* transport_ = nullptr;
    SDPLoader loader_;
};

TEST_F(SerialLoaderTest, WritesLoaderAndJumps)
{
    start();
    Bytes image = ramp(2500);
    EXPECT_EQ(0, loader_.writeLoader(image, 0x20000000u));
    loader_.startLoader(0x20000400u);
    ASSERT_TRUE(rom_->waitFor([](const ImxRom& r) { return r.jumped(); }, kWait));

    rom_->withRom([&](ImxRom& r) {
        ASSERT_EQ(3u, r.commands().size());
        EXPECT_EQ(morvsim::kImxErrorStatus, r.commands()[0].type);
        const std::array<uint8_t, 16> writeFile{0x04, 0x04, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00,
                                                0x00, 0x09, 0xC4, 0x00, 0x00, 0x00, 0x00, 0x00};
        EXPECT_EQ(writeFile, r.commands()[1].raw) << "no report id on a serial line";
        EXPECT_EQ(morvsim::kImxJumpAddress, r.commands()[2].type);
        EXPECT_EQ(0x20000400u, r.jumpAddress());
        EXPECT_EQ(2500u, r.dataBytes());
        EXPECT_EQ(image, r.read(0x20000000u, image.size()));
    });
    EXPECT_EQ(16u + 16u + 2500u + 16u, rom_->bytesReceived());
    EXPECT_TRUE(transport_->waitUntilSent()) << "a pseudo-terminal holds nothing back";
}

TEST_F(SerialLoaderTest, ReadsFingerprintPastTheHabWord)
{
    ImxRomConfig config;
    config.habClosed = true;
    config.registers = {{0x401F4410u, 0x89ABCDEFu}, {0x401F4420u, 0x01234567u}};
    start(config);
    uint64_t fingerprint = 0;
    EXPECT_EQ(0, loader_.getFingerprint(fingerprint));
    EXPECT_EQ(0x0123456789ABCDEFull, fingerprint);
}

struct SerialFailure {
    const char* name;
    void (*configure)(ImxRomConfig&);
    uint32_t address;
    size_t size;
    int expected;
};

void PrintTo(const SerialFailure& f, std::ostream* os)
{
    *os << f.name;
}

class SerialFailureTest : public SerialLoaderTest, public ::testing::WithParamInterface<SerialFailure> {};

TEST_P(SerialFailureTest, WriteLoaderReportsTheRomsFailure)
{
    ImxRomConfig config;
    GetParam().configure(config);
    start(config);
    auto begin = Clock::now();
    EXPECT_EQ(GetParam().expected, loader_.writeLoader(ramp(GetParam().size), GetParam().address));
    EXPECT_LT(msSince(begin), 2000) << "every wait is bounded";
}

const SerialFailure kSerialFailures[] = {
    {"silent", [](ImxRomConfig& c) { c.silent = true; }, 0x20000000u, 2500, 2},
    // Larger than what the pty holds, so the ROM's early answer is on the line
    // before the last data is written, as it always is at a real line's speed.
    {"refuses_the_address", [](ImxRomConfig&) {}, 0x10000000u, 256 * 1024, 3},
    {"aborts_during_data", [](ImxRomConfig& c) { c.abortDuringData = true; }, 0x20000000u, 256 * 1024, 3},
    {"wrong_final_word", [](ImxRomConfig& c) { c.completeStatus = 0x12345678u; }, 0x20000000u, 2500, 4},
};

INSTANTIATE_TEST_SUITE_P(Rom, SerialFailureTest, ::testing::ValuesIn(kSerialFailures),
                         [](const ::testing::TestParamInfo<SerialFailure>& info) { return info.param.name; });

TEST_F(SerialLoaderTest, SilentRomCostsFiveStatusAttempts)
{
    ImxRomConfig config;
    config.silent = true;
    start(config);
    auto begin = Clock::now();
    uint64_t fingerprint = 0;
    EXPECT_EQ(2, loader_.getFingerprint(fingerprint));
    EXPECT_GE(msSince(begin), 5 * 100 - 20);
    EXPECT_LT(msSince(begin), 2000);
    EXPECT_TRUE(rom_->waitFor([](const ImxRom& r) { return r.commandCount(morvsim::kImxErrorStatus) == 5; }, kWait));
    rom_->withRom([](ImxRom& r) { EXPECT_EQ(5u, r.commands().size()); });
}

TEST_F(SerialLoaderTest, StaleBytesAreNotTakenForAReply)
{
    ImxRomConfig config;
    config.silent = true;
    start(config);
    // A whole reply's worth of old bytes waiting on the line: read as the answer
    // to the status command, they would make a silent ROM look alive.
    ASSERT_TRUE(rom_->sendRaw({0x56, 0x78, 0x78, 0x56, 0xF0, 0xF0, 0xF0, 0xF0}));
    int waiting = 0;
    for (int i = 0; i < 100 && waiting < 8; ++i) {
        ioctl(pty_.slaveFd(), FIONREAD, &waiting);
        if (waiting < 8)
            usleep(2000);
    }
    ASSERT_EQ(8, waiting);
    EXPECT_EQ(2, loader_.writeLoader(ramp(100), 0x20000000u));
}

}  // namespace
