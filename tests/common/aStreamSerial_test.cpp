// The serial stream over a pseudo-terminal pair: settings are checked with
// tcgetattr on the slave, data is exchanged with the master.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "PtyPair.h"
#include "StreamReads.h"
#include "TempDir.h"
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
