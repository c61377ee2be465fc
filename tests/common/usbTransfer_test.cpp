// Bytes over an open libusb USB stream: how writes are cut into bulk
// transfers, what each read outcome gives, and the tolerance for a few
// consecutive I/O errors.
#include "UsbTestFixture.h"

#include <atomic>
#include <thread>

namespace {

constexpr std::uint32_t kSerial = 0x00C0FFEE;

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

class UsbTransferTest : public UsbTest {
protected:
    void open(std::uint16_t maxPacket = 64)
    {
        id_ = plugModule(kSerial, maxPacket);
        ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    }

    aErr get(char& byte) { return aStream_Read(stream_, &byte, 1); }
    void inFault(int error, int bytes = 0) { fakeusb::queueFault(id_, fakeusb::Direction::In, {error, bytes}); }
    void outFault(int error, int bytes = 0) { fakeusb::queueFault(id_, fakeusb::Direction::Out, {error, bytes}); }

    int id_ = 0;
};

struct ChunkCase {
    std::uint16_t maxPacket;
    std::size_t length;
    std::vector<int> chunks;
};

void PrintTo(const ChunkCase& c, std::ostream* os)
{
    *os << c.length << " bytes at " << c.maxPacket;
}

class UsbChunkTest : public UsbTransferTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(UsbChunkTest, WriteGoesOutInChunks)
{
    open(GetParam().maxPacket);
    std::string data = pattern(GetParam().length);
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    EXPECT_EQ(outChunks(id_), GetParam().chunks);
    EXPECT_EQ(readPeer(data.size()), data);
}

std::vector<int> repeat(int chunk, int times, std::vector<int> tail)
{
    std::vector<int> v(static_cast<std::size_t>(times), chunk);
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
}

INSTANTIATE_TEST_SUITE_P(Sizes, UsbChunkTest,
                         ::testing::Values(ChunkCase{512, 1000, {511, 489}}, ChunkCase{64, 1000, repeat(64, 15, {40})},
                                           ChunkCase{512, 512, {511, 1}}, ChunkCase{64, 30, {30}},
                                           ChunkCase{64, 64, {64}}, ChunkCase{1024, 512, {511, 1}},
                                           ChunkCase{1024, 2100, {1024, 1024, 52}},
                                           ChunkCase{512, 4080, repeat(511, 7, {503})}));

TEST_F(UsbTransferTest, FailedTransfersNeverSendAByteTwice)
{
    open(64);
    outFault(LIBUSB_ERROR_TIMEOUT, 20);  // 20 of 64 went out before the time-out
    outFault(LIBUSB_ERROR_IO, 0);
    outFault(LIBUSB_ERROR_PIPE, 10);
    std::string data = pattern(200);
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    EXPECT_EQ(readPeer(data.size() + 1, 300), data);
    EXPECT_EQ(outChunks(id_), (std::vector<int>{64, 64, 64, 64, 64, 42}));
    EXPECT_EQ(fakeusb::stats(id_).clearedHalts, (std::vector<std::uint8_t>{0x02}));
}

TEST_F(UsbTransferTest, WriteGivesUpAfterTenFailedTransfers)
{
    open(64);
    for (int i = 0; i < 9; i++)
        outFault(LIBUSB_ERROR_IO, 0);
    outFault(LIBUSB_ERROR_TIMEOUT, 5);
    std::string data = pattern(100);
    EXPECT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrWrite);
    EXPECT_EQ(outChunks(id_).size(), 10u);
    EXPECT_EQ(readPeer(100, 200), data.substr(0, 5));

    // A transfer that reports success without moving a byte is no progress either.
    for (int i = 0; i < 10; i++)
        outFault(0, 0);
    EXPECT_EQ(aStream_Write(stream_, data.data(), 10), aErrWrite);
    EXPECT_EQ(outChunks(id_).size(), 20u);
}

TEST_F(UsbTransferTest, FailedHaltClearingIsAToleratedIOError)
{
    open(64);
    fakeusb::setClearHaltError(id_, LIBUSB_ERROR_IO);
    for (int i = 0; i < 4; i++) {
        outFault(LIBUSB_ERROR_PIPE, 0);
        EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrNone) << "write " << i << " got all bytes out";
        EXPECT_EQ(readPeer(3), "abc");
    }
    outFault(LIBUSB_ERROR_PIPE, 0);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrIO);
    std::size_t before = fakeusb::stats(id_).transfers.size();
    char byte = 0;
    EXPECT_EQ(get(byte), aErrIO) << "the device failed for reads too";
    EXPECT_EQ(aStream_Write(stream_, "d", 1), aErrIO);
    EXPECT_EQ(fakeusb::stats(id_).transfers.size(), before) << "a failed device is not touched";
}

TEST_F(UsbTransferTest, OneTransferFeedsManyGets)
{
    open();
    std::string data = pattern(300);
    ASSERT_TRUE(writePeer(data));
    std::string got;
    for (std::size_t i = 0; i < data.size(); i++) {
        char byte = 0;
        ASSERT_EQ(get(byte), aErrNone) << "byte " << i;
        got.push_back(byte);
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(inTransfers(id_), 1u);
    auto t = fakeusb::stats(id_).transfers.back();
    EXPECT_EQ(t.requested, 1024);
}

TEST_F(UsbTransferTest, TimeoutAfterSomeBytesDeliversThem)
{
    open();
    ASSERT_TRUE(writePeer("12345"));
    inFault(LIBUSB_ERROR_TIMEOUT, 5);
    std::string got;
    for (int i = 0; i < 5; i++) {
        char byte = 0;
        ASSERT_EQ(get(byte), aErrNone);
        got.push_back(byte);
    }
    EXPECT_EQ(got, "12345");
    inFault(LIBUSB_ERROR_TIMEOUT, 0);
    char byte = 0;
    EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(inTransfers(id_), 2u);
}

struct ReadCase {
    const char* name;
    int error;
    int bytes;
    aErr expected;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsbReadTest : public UsbTransferTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(UsbReadTest, OutcomeOfOneTransfer)
{
    open();
    inFault(GetParam().error, GetParam().bytes);
    char byte = 'q';
    EXPECT_EQ(mvusb_get_from_device(nullptr, &byte), aErrParam);
    EXPECT_EQ(get(byte), GetParam().expected);
    EXPECT_EQ(byte, 'q') << "no byte was handed out";
}

INSTANTIATE_TEST_SUITE_P(
    Results, UsbReadTest,
    ::testing::Values(ReadCase{"TimeoutWithoutBytes", LIBUSB_ERROR_TIMEOUT, 0, aErrNotReady},
                      ReadCase{"ZeroLengthPacket", 0, 0, aErrNotReady},
                      ReadCase{"Halted", LIBUSB_ERROR_PIPE, 0, aErrNotReady},
                      ReadCase{"ToleratedIOError", LIBUSB_ERROR_IO, 0, aErrNotReady},
                      ReadCase{"ToleratedOverflow", LIBUSB_ERROR_OVERFLOW, 0, aErrNotReady},
                      ReadCase{"ToleratedNoDevice", LIBUSB_ERROR_NO_DEVICE, 0, aErrNotReady}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(UsbTransferTest, HaltedInEndpointIsCleared)
{
    open();
    inFault(LIBUSB_ERROR_PIPE, 0);
    char byte = 0;
    EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(fakeusb::stats(id_).clearedHalts, (std::vector<std::uint8_t>{0x81}));
}

TEST_F(UsbTransferTest, FifthConsecutiveIOErrorFailsTheDevice)
{
    open();
    for (int i = 0; i < 5; i++)
        inFault(LIBUSB_ERROR_IO, 0);
    char byte = 0;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(get(byte), aErrNotReady) << "error " << i + 1 << " is tolerated";
    EXPECT_EQ(get(byte), aErrIO);
    std::size_t transfers = fakeusb::stats(id_).transfers.size();

    // Failed for good: no count wraps back into tolerance, a write fails too.
    ASSERT_TRUE(writePeer("late"));
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(get(byte), aErrIO) << "call " << i;
    EXPECT_EQ(aStream_Write(stream_, "x", 1), aErrIO);
    EXPECT_EQ(fakeusb::stats(id_).transfers.size(), transfers);
}

TEST_F(UsbTransferTest, AnyOtherResultRestartsTheCount)
{
    open();
    char byte = 0;
    // Reads and writes share the count: a good write in between restarts it.
    for (int i = 0; i < 3; i++)
        inFault(LIBUSB_ERROR_IO, 0);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(get(byte), aErrNotReady);
    ASSERT_EQ(aStream_Write(stream_, "w", 1), aErrNone);
    // A good byte restarts it as well.
    for (int i = 0; i < 4; i++)
        inFault(LIBUSB_ERROR_IO, 0);
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(get(byte), aErrNotReady);
    ASSERT_TRUE(writePeer("k"));
    ASSERT_EQ(get(byte), aErrNone);
    EXPECT_EQ(byte, 'k');
    // And so does a read that merely found nothing.
    for (int i = 0; i < 4; i++)
        inFault(LIBUSB_ERROR_IO, 0);
    inFault(LIBUSB_ERROR_TIMEOUT, 0);
    for (int i = 0; i < 4; i++)
        inFault(LIBUSB_ERROR_IO, 0);
    for (int i = 0; i < 9; i++)
        ASSERT_EQ(get(byte), aErrNotReady) << "read " << i;
    inFault(LIBUSB_ERROR_IO, 0);
    EXPECT_EQ(get(byte), aErrIO) << "the fifth in a row";
}

TEST_F(UsbTransferTest, StreamReadsExactlyTheBytesSentThroughTroubles)
{
    open();
    std::string data = pattern(40);
    ASSERT_TRUE(writePeer(data.substr(0, 3)));
    inFault(0, 0);                     // empty transfer
    inFault(LIBUSB_ERROR_IO, 0);       // tolerated
    inFault(LIBUSB_ERROR_TIMEOUT, 3);  // three bytes, then the time-out
    inFault(LIBUSB_ERROR_PIPE, 0);
    inFault(LIBUSB_ERROR_IO, 0);
    char got[40] = {};
    aErr err = aErrNotReady;
    int tries = 0;
    bool restSent = false;
    while (err == aErrNotReady && tries++ < 20) {
        err = aStream_Read(stream_, got, sizeof(got));
        if (err == aErrNotReady && !restSent && tries >= 4) {
            ASSERT_TRUE(writePeer(data.substr(3)));
            restSent = true;
        }
    }
    ASSERT_EQ(err, aErrNone);
    EXPECT_EQ(std::string(got, sizeof(got)), data);
}

TEST_F(UsbTransferTest, UnpluggedDeviceFailsReadsAndWrites)
{
    open();
    fakeusb::unplug(id_);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrWrite);
    char byte = 0;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(get(byte), aErrIO);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrIO);
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_EQ(fakeusb::busStats().openHandles, 0);
}

// The link's reader and writer use one device at the same time.
TEST_F(UsbTransferTest, ReaderAndWriterShareTheDevice)
{
    open(64);
    constexpr std::size_t kBlocks = 300;
    constexpr std::size_t kBlock = 30;
    std::string data = pattern(kBlocks * kBlock);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char buffer[512];
        while (!stop) {
            pollfd p{peer_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = ::recv(peer_, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n <= 0)
                break;
            if (::send(peer_, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                break;
        }
    });
    std::atomic<int> writeErrors{0};
    std::thread writer([&] {
        for (std::size_t i = 0; i < kBlocks; i++) {
            if (aStream_Write(stream_, data.data() + i * kBlock, kBlock) != aErrNone)
                writeErrors++;
            if (i % 50 == 0)
                fakeusb::queueFault(id_, fakeusb::Direction::Out, {LIBUSB_ERROR_IO, 0});
        }
    });
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
        char byte = 0;
        aErr err = get(byte);
        if (err == aErrNone)
            got.push_back(byte);
        else if (err != aErrNotReady)
            break;
    }
    writer.join();
    stop = true;
    echo.join();
    EXPECT_EQ(writeErrors, 0);
    EXPECT_EQ(got, data);
}

struct StateCase {
    const char* name;
    int mode;
    bool failOpen;
    aErr write;
    aErr get;
    aErr close;
};

void PrintTo(const StateCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsbDeviceStateTest : public UsbTest, public ::testing::WithParamInterface<StateCase> {};

// The driver's own operations on an object that is not ready.
TEST_P(UsbDeviceStateTest, OperationsOutsideTheReadyState)
{
    const StateCase& c = GetParam();
    mvusb_device* device = mvusb_create_usb(c.mode);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(mvusb_get_state(device), MVUSB_STATE_CREATED);
    if (c.failOpen) {
        EXPECT_EQ(mvusb_open_morvasset_device(device, "0000ABCD"), c.mode == MVUSB_MODE_LIBUSB ? aErrNotFound : aErrIO);
    }
    char byte = 0;
    EXPECT_EQ(mvusb_write_to_USBlib_device(device, "a", 1), c.write);
    EXPECT_EQ(mvusb_get_from_USBlib_device(device, &byte), c.get);
    EXPECT_EQ(mvusb_close_morvasset_device(device), c.close);
    EXPECT_EQ(mvusb_destroy(&device), aErrNone);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(mvusb_destroy(&device), aErrParam);
}

INSTANTIATE_TEST_SUITE_P(
    States, UsbDeviceStateTest,
    ::testing::Values(StateCase{"Created", MVUSB_MODE_LIBUSB, false, aErrNotReady, aErrNotReady, aErrMode},
                      StateCase{"OpenFailed", MVUSB_MODE_LIBUSB, true, aErrConnection, aErrConnection, aErrMode},
                      StateCase{"KernelObject", MVUSB_MODE_KERNEL, false, aErrMode, aErrMode, aErrNone}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST_F(UsbTest, ModesDoNotMix)
{
    mvusb_device* usb = mvusb_create_usb(MVUSB_MODE_LIBUSB);
    mvusb_device* node = mvusb_create_usb(MVUSB_MODE_KERNEL);
    ASSERT_NE(usb, nullptr);
    ASSERT_NE(node, nullptr);
    char byte = 0;
    EXPECT_EQ(mvusb_open_morvasset_kernel_device(usb, "0000ABCD"), aErrMode);
    EXPECT_EQ(mvusb_open_morvasset_USBlib_device(node, "0000ABCD"), aErrResource);
    EXPECT_EQ(mvusb_write_to_kernel_device(usb, "a", 1), aErrMode);
    EXPECT_EQ(mvusb_get_from_kernel_device(usb, &byte), aErrMode);
    EXPECT_EQ(mvusb_close_morvasset_kernel_device(usb), aErrMode);
    EXPECT_EQ(mvusb_close_morvasset_USBlib_device(node), aErrMode);
    EXPECT_EQ(mvusb_create_usb(2), nullptr);
    mvusb_destroy(&usb);
    mvusb_destroy(&node);
}

}  // namespace
