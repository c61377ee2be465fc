// The serial stream over a pseudo-terminal pair: settings are checked with
// tcgetattr on the slave, data is exchanged with the master.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <future>
#include <ostream>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "Elapsed.h"
#include "PtyPair.h"
#include "StreamReads.h"
#include "TempDir.h"
#include "aLink.h"
#include "aPacket.h"
#include "aStream.h"

using morvtest::PtyPair;

namespace {

termios attributes(int fd)
{
    termios t{};
    EXPECT_EQ(0, tcgetattr(fd, &t));
    return t;
}

struct SettingsCase {
    const char* name;
    int baudIndex;
    bool parity;
    int dataBits;
    int stopBits;
    speed_t speed;
    tcflag_t cflag;  // expected control flags without the speed bits
    tcflag_t iflag;
};

void PrintTo(const SettingsCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr tcflag_t kBase = CREAD | CLOCAL;

class SerialSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SerialSettings, AppliedAsRawMode)
{
    const SettingsCase& c = GetParam();
    PtyPair pty;
    // Settings that raw mode must not inherit.
    termios before = attributes(pty.slaveFd());
    before.c_iflag |= ICRNL | IXON | ISTRIP;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    before.c_cflag |= HUPCL | CRTSCTS;
    ASSERT_EQ(0, tcsetattr(pty.slaveFd(), TCSANOW, &before));

    aStream* stream = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateSerial(pty.slavePath().c_str(), c.baudIndex, c.parity,
                                             c.dataBits, c.stopBits, &stream));
    termios t = attributes(pty.slaveFd());
    EXPECT_EQ(c.iflag, t.c_iflag);
    EXPECT_EQ(0u, t.c_oflag);
    EXPECT_EQ(0u, t.c_lflag);
    // A pty always reports eight data bits and no parity, whatever it is given.
    const tcflag_t ptyForced = CSIZE | PARENB;
    EXPECT_EQ(c.cflag & ~ptyForced, t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX | ptyForced));
    EXPECT_EQ(c.speed, cfgetospeed(&t));
    EXPECT_EQ(c.speed, cfgetispeed(&t));
    EXPECT_EQ(0, t.c_cc[VMIN]);
    EXPECT_EQ(0, t.c_cc[VTIME]);
    EXPECT_EQ(aErrNone, aStream_Destroy(&stream));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialSettings,
    ::testing::Values(
        SettingsCase{"B2400", 0, false, 0, 0, B2400, kBase | CS8, IGNBRK},
        SettingsCase{"B4800", 1, false, 0, 0, B4800, kBase | CS8, IGNBRK},
        SettingsCase{"B9600", 2, false, 0, 0, B9600, kBase | CS8, IGNBRK},
        SettingsCase{"B19200", 3, false, 0, 0, B19200, kBase | CS8, IGNBRK},
        SettingsCase{"B38400", 4, false, 0, 0, B38400, kBase | CS8, IGNBRK},
        SettingsCase{"B57600", 5, false, 0, 0, B57600, kBase | CS8, IGNBRK},
        SettingsCase{"B115200", 6, false, 0, 0, B115200, kBase | CS8, IGNBRK},
        SettingsCase{"B230400", 7, false, 0, 0, B230400, kBase | CS8, IGNBRK},
        SettingsCase{"EvenParity7Bits2Stop", 6, true, 1, 1, B115200,
                     kBase | PARENB | CS7 | CSTOPB, IGNBRK | IGNPAR}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

// A write waits for its bytes to leave the port: about their line time, in
// waits sized by what is still queued (a pty has no line time to show it).
struct DrainCase {
    const char* name;
    std::uint32_t queued;
    std::uint32_t baud;
    std::uint32_t bitsPerCharacter;
    bool progressed;
    std::uint32_t expectedUs;
};

void PrintTo(const DrainCase& c, std::ostream* os)
{
    *os << c.name;
}

class SerialDrainWait : public ::testing::TestWithParam<DrainCase> {};

TEST_P(SerialDrainWait, IsTheLineTimeOfWhatIsQueued)
{
    const DrainCase& c = GetParam();
    EXPECT_EQ(c.expectedUs, aStream_SerialDrainWaitUs(c.queued, c.baud, c.bitsPerCharacter, c.progressed));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialDrainWait,
    ::testing::Values(
        // 31 bytes of 8N1 at 115200: 2.69 ms of line time, not the next 2 ms step.
        DrainCase{"Packet31At115200", 31, 115200, 10, true, 2691},
        DrainCase{"Packet31At9600", 31, 9600, 10, true, 20000},
        DrainCase{"Packet6At9600", 6, 9600, 10, true, 6250},
        DrainCase{"OneCharacterAt230400", 1, 230400, 10, true, 44},
        DrainCase{"ParityAndTwoStopBits", 1, 2400, 12, true, 5000},
        DrainCase{"Empty", 0, 115200, 10, true, 0},
        // Looked at again at most every 20 ms, so a stop is noticed.
        DrainCase{"LongQueueIsSliced", 4096, 2400, 10, true, 20000},
        // A queue that did not shrink is looked at no more often than every 2 ms.
        DrainCase{"StalledShortQueue", 3, 230400, 10, false, 2000},
        DrainCase{"StalledLongQueue", 20, 9600, 10, false, 20000},
        DrainCase{"NoRate", 5, 0, 10, true, 20000}),
    [](const ::testing::TestParamInfo<DrainCase>& info) { return std::string(info.param.name); });

TEST(SerialStreamSettings, SavedSettingsComeBackOnDestroy)
{
    PtyPair pty;
    termios before = attributes(pty.slaveFd());
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL;
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    cfsetispeed(&before, B4800);
    cfsetospeed(&before, B4800);
    before.c_cc[VMIN] = 1;
    before.c_cc[VTIME] = 5;
    ASSERT_EQ(0, tcsetattr(pty.slaveFd(), TCSANOW, &before));
    before = attributes(pty.slaveFd());

    aStream* stream = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateSerial(pty.slavePath().c_str(), 6, false, 0, 0, &stream));
    ASSERT_NE(before.c_lflag, attributes(pty.slaveFd()).c_lflag);
    ASSERT_EQ(aErrNone, aStream_Destroy(&stream));
    EXPECT_EQ(nullptr, stream);

    termios after = attributes(pty.slaveFd());
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
    EXPECT_EQ(before.c_cc[VMIN], after.c_cc[VMIN]);
    EXPECT_EQ(before.c_cc[VTIME], after.c_cc[VTIME]);
}

class SerialStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(aErrNone, aStream_CreateSerial(pty.slavePath().c_str(), 6, false, 0, 0, &stream));
    }
    void TearDown() override
    {
        if (stream != nullptr)
            aStream_Destroy(&stream);
    }
    aErr readWithin(std::string& out, size_t count, int timeoutMs)
    {
        return morvtest::readWithin(stream, out, count, timeoutMs);
    }

    PtyPair pty;
    aStream* stream = nullptr;
};

TEST_F(SerialStream, RawBytesBothWays)
{
    const std::string bytes("\r\n\x03\x04\x11\x13\x7f\0\xff\x1a" "end", 13);
    ASSERT_EQ(aErrNone, aStream_Write(stream, bytes.data(), bytes.size()));
    ASSERT_EQ(aErrNone, aStream_Write(stream, "!", 1));
    EXPECT_EQ(bytes + "!", pty.readMaster(bytes.size() + 1, 2000));

    char c;
    EXPECT_EQ(aErrNotReady, aStream_Read(stream, &c, 1));
    std::string big(3000, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<char>(i * 37);
    ASSERT_TRUE(pty.writeMaster(bytes + big));
    std::string got;
    ASSERT_EQ(aErrNone, readWithin(got, bytes.size() + big.size(), 3000));
    EXPECT_EQ(bytes + big, got);
    EXPECT_EQ(aErrNotReady, aStream_Read(stream, &c, 1));
}

TEST_F(SerialStream, HangUpIsAnErrorNotEndlessNotReady)
{
    pty.closeMaster();
    EXPECT_EQ(aErrIO, morvtest::readByteWithin(stream, 1000));
}

// Runs work on its own thread and tells whether it ended within boundMs of
// the moment returned by during (run meanwhile on the test thread; by
// default the start), giving that time in *tookMs. When it did not, the
// pty's master is read until it does, so that a writer blocked for ever on it
// cannot hang the test (bounded at 30 s).
using Clock = std::chrono::steady_clock;
bool endsWithin(PtyPair& pty, int boundMs, const std::function<void()>& work,
                const std::function<Clock::time_point(Clock::time_point)>& during = {},
                long long* tookMs = nullptr)
{
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    auto from = Clock::now();
    std::thread runner(std::move(task));
    if (during)
        from = during(from);
    const bool inTime = done.wait_until(from + std::chrono::milliseconds(boundMs)) == std::future_status::ready;
    if (tookMs != nullptr)
        *tookMs = morvtest::msSince(from);
    const auto rescue = Clock::now();
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
           morvtest::msSince(rescue) < 30000) {
        pty.readMaster(1 << 16, 50);
    }
    runner.join();
    return inTime;
}

// A far end that stops reading: the write waits, as a blocking one would,
// until its owner cancels; then it gives up within the bound, a port still
// full is not waited for again, and writing works again once the far end
// reads.
TEST_F(SerialStream, CancelEndsAWriteTheFarEndNeverTakes)
{
    const std::string block(30, 'w');
    std::atomic<int> writes{0};
    std::atomic<bool> cancelled{false};
    aErr last = aErrNone;
    long long afterCancelMs = -1;
    ASSERT_TRUE(endsWithin(pty, 10000, [&] {
        // A pty holds some tens of kilobytes; 4000 blocks are more.
        while (last == aErrNone && writes < 4000) {
            last = aStream_Write(stream, block.data(), block.size());
            writes++;
        }
    }, [&](std::chrono::steady_clock::time_point) {
        // Once the writer is held, it stays held until the cancel.
        int seen = -1;
        for (int i = 0; i < 100 && seen != writes; i++) {
            seen = writes;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(seen, writes.load()) << "the writer never settled";
        EXPECT_EQ(aErrNone, last) << "gave up before it was cancelled";
        auto start = std::chrono::steady_clock::now();
        cancelled = true;
        EXPECT_EQ(aErrNone, aStream_Cancel(stream));
        return start;
    }, &afterCancelMs)) << "a write to a port nobody reads never returned";
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(aErrTimeout, last);
    EXPECT_LT(writes, 4000);
    EXPECT_LT(afterCancelMs, 1000) << "the write went on waiting after the cancel";

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aErrTimeout, aStream_Write(stream, block.data(), block.size()));
    EXPECT_LT(morvtest::msSince(start), 500) << "a port known to be stalled was waited for again";

    // Read what the port holds; the next write goes through whole.
    for (int i = 0; i < 100 && !pty.readMaster(1 << 16, 200).empty(); i++) {
    }
    ASSERT_EQ(aErrNone, aStream_Write(stream, "fresh", 5));
    EXPECT_EQ("fresh", pty.readMaster(5, 2000));
}

// A serial link whose far end never reads: 3000 packets put, then destroy
// returns within the engine's bound instead of waiting for the far end.
TEST(SerialLinkStop, DestroyReturnsWhileTheFarEndNeverReads)
{
    PtyPair pty;
    aStream* stream = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateSerial(pty.slavePath().c_str(), 6, false, 0, 0, &stream));
    int id = aLink_Create(stream);
    ASSERT_NE(0, id);
    uint8_t data[28];
    for (size_t i = 0; i < sizeof(data); i++)
        data[i] = static_cast<uint8_t>(i);
    aPacket* packet = aPacket_CreateWithData(0x04, sizeof(data), data);
    ASSERT_NE(nullptr, packet);
    for (int i = 0; i < 3000; i++)
        aLink_PutPacket(id, packet);  // a full queue refuses some; that is fine here
    aPacket_Destroy(&packet);
    // Let the writer fill the port and stall on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto start = std::chrono::steady_clock::now();
    aErr destroyed = aErrUnknown;
    // The engine bounds a stop by one stream read or one 1 s queue wait; room for a loaded machine.
    const bool inTime = endsWithin(pty, 4000, [&] { destroyed = aLink_Destroy(&id); });
    EXPECT_TRUE(inTime) << "destroy took " << morvtest::msSince(start) << " ms";
    EXPECT_EQ(aErrNone, destroyed);
    EXPECT_EQ(0, id);
}

TEST(SerialStreamCreate, Refusals)
{
    morvtest::TempDir dir;
    const std::string file = dir.sub("plain");
    int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string longPath(4096, 'a');
    PtyPair pty;
    const char* tty = pty.slavePath().c_str();

    struct Case {
        const char* path;
        int baud, data, stop;
        aErr expected;
    } cases[] = {
        {nullptr, 6, 0, 0, aErrResource},
        {tty, 6, 2, 0, aErrResource},
        {tty, 6, 0, 2, aErrResource},
        {tty, 6, -1, 0, aErrResource},
        {tty, -1, 0, 0, aErrParam},
        {tty, 8, 0, 0, aErrParam},
        {longPath.c_str(), 6, 0, 0, aErrFileNameLength},
        {"/nonexistent/tty", 6, 0, 0, aErrNotFound},
        {file.c_str(), 6, 0, 0, aErrIO},  // not a terminal
    };
    for (const Case& c : cases) {
        aStream* stream = reinterpret_cast<aStream*>(1);
        EXPECT_EQ(c.expected, aStream_CreateSerial(c.path, c.baud, false, c.data, c.stop, &stream))
            << (c.path ? std::string(c.path).substr(0, 40) : "NULL") << " " << c.baud << " "
            << c.data << " " << c.stop;
        EXPECT_EQ(nullptr, stream);
    }
    EXPECT_EQ(aErrResource, aStream_CreateSerial(tty, 6, false, 0, 0, nullptr));
}

}  // namespace
