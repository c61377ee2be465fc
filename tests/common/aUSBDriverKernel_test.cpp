// The USB stream over the modules' kernel driver node; a pseudo-terminal
// stands in for the node, in a directory of the test's own. libusb is not
// involved (the node decides the mode before any enumeration; that case is
// in umockUsbStream_test, where a module is also on the emulated bus).
#include "PtyPair.h"
#include "TempDir.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint32_t kSerial = 0x0012ABCD;

class UsbNodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mvusb_set_node_directory(nodes_.path().c_str());
        termios raw{};
        ASSERT_EQ(tcgetattr(pty_.slaveFd(), &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(pty_.slaveFd(), TCSANOW, &raw), 0);
    }

    void TearDown() override
    {
        if (stream_ != nullptr)
            aStream_Destroy(&stream_);
        mvusb_set_node_directory(nullptr);
    }

    // The node of the serial number, a link to the pty's slave.
    void makeNode(std::uint32_t serial)
    {
        ASSERT_EQ(::symlink(pty_.slavePath().c_str(), nodePath(serial).c_str()), 0);
    }

    std::string nodePath(std::uint32_t serial)
    {
        char name[32];
        std::snprintf(name, sizeof(name), "morvasset.%08X", static_cast<unsigned>(serial));
        return nodes_.sub(name);
    }

    morvtest::TempDir nodes_;
    morvtest::PtyPair pty_;
    aStream* stream_ = nullptr;
};

TEST_F(UsbNodeTest, TheNodeDecidesTheMode)
{
    makeNode(kSerial);
    ASSERT_EQ(::mkdir(nodePath(0xABCD).c_str(), 0755), 0);
    EXPECT_TRUE(mvusb_is_kernel_driver_installed(kSerial));
    EXPECT_FALSE(mvusb_is_kernel_driver_installed(kSerial + 1));
    EXPECT_FALSE(mvusb_is_kernel_driver_installed(0xABCD)) << "a directory is no node";
}

TEST_F(UsbNodeTest, BytesGoBothWays)
{
    makeNode(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);

    std::string block(2000, '\0');
    for (std::size_t i = 0; i < block.size(); i++)
        block[i] = static_cast<char>(i % 253);
    ASSERT_EQ(aStream_Write(stream_, block.data(), block.size()), aErrNone);
    EXPECT_EQ(pty_.readMaster(block.size(), 2000), block);
    char one = 'k';
    ASSERT_EQ(aStream_Write(stream_, &one, 1), aErrNone);
    EXPECT_EQ(pty_.readMaster(1, 2000), "k");

    ASSERT_TRUE(pty_.writeMaster(std::string("\x04\x02\x00\x01", 4)));
    char in[4] = {};
    aErr err = aErrNotReady;
    for (int i = 0; i < 100 && err == aErrNotReady; i++)
        err = aStream_Read(stream_, in, sizeof(in));
    ASSERT_EQ(err, aErrNone);
    EXPECT_EQ(std::string(in, 4), std::string("\x04\x02\x00\x01", 4));
}

TEST_F(UsbNodeTest, AnIdleReadReturnsSoonSoAReaderCanStop)
{
    makeNode(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::promise<void> done;
    std::thread reader([&] {
        char byte = 0;
        while (!stop) {
            calls++;
            aStream_Read(stream_, &byte, 1);
        }
        done.set_value();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    auto start = std::chrono::steady_clock::now();
    bool joined = done.get_future().wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!joined)
        pty_.closeMaster();  // frees a reader stuck in read, so the test ends
    reader.join();
    ASSERT_TRUE(joined) << "the reader waited without a bound";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_LT(calls, 200) << "an idle reader sleeps in poll instead of spinning";
}

TEST_F(UsbNodeTest, HangUpIsAnError)
{
    makeNode(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    pty_.closeMaster();
    char byte = 0;
    EXPECT_EQ(aStream_Read(stream_, &byte, 1), aErrIO);
    EXPECT_EQ(aStream_Write(stream_, "x", 1), aErrIO);
}

TEST_F(UsbNodeTest, NodeThatCannotBeOpenedIsIOError)
{
    // A socket is a non-directory that open() refuses.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = nodePath(kSerial);
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrIO);
    EXPECT_EQ(stream_, nullptr);
    ::close(fd);
}

TEST_F(UsbNodeTest, CloseReleasesTheNodeOnce)
{
    makeNode(kSerial);
    mvusb_device* device = mvusb_create_usb(MVUSB_MODE_KERNEL);
    ASSERT_NE(device, nullptr);
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", kSerial);
    ASSERT_EQ(mvusb_open_morvasset_device(device, text), aErrNone);
    EXPECT_EQ(mvusb_open_morvasset_kernel_device(device, text), aErrBusy) << "one descriptor per object";
    EXPECT_EQ(mvusb_close_morvasset_device(device), aErrNone);
    EXPECT_EQ(mvusb_get_state(device), MVUSB_STATE_CLOSED);
    EXPECT_EQ(mvusb_close_morvasset_device(device), aErrNone) << "nothing left to close";
    char byte = 0;
    EXPECT_EQ(mvusb_get_from_device(device, &byte), aErrMode);
    EXPECT_EQ(mvusb_write_to_device(device, "a", 1), aErrMode);
    EXPECT_EQ(mvusb_destroy(&device), aErrNone);
}

}  // namespace
