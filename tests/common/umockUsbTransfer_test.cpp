// Bytes over an open USB stream on the real libusb-1.0, the kernel side
// emulated: what each read outcome gives, transfers that time out after
// moving part of their bytes, and the tolerance for a few consecutive I/O
// errors. (libusb reports an URB status of -EPROTO as LIBUSB_ERROR_IO.)
#include "Elapsed.h"
#include "Patterns.h"
#include "UmockTsanSuppressions.h"
#include "UmockUsbFixture.h"

#include <cerrno>

namespace {

constexpr std::uint32_t kSerial = 0x00C0FFEE;

using morvtest::textPattern;

class UmockTransferTest : public UmockOpenStreamTest {
protected:
    UmockTransferTest() : UmockOpenStreamTest(kSerial) {}
};

TEST_F(UmockTransferTest, FailedTransfersNeverSendAByteTwice)
{
    open(64);
    outFault(ETIMEDOUT, 20);  // 20 of 64 went out before the time-out
    outFault(EPROTO, 0);
    outFault(EPIPE, 10);
    std::string data = textPattern(200);
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    EXPECT_EQ(readPeer(data.size() + 1, 300), data);
    EXPECT_EQ(outChunks(id_), (std::vector<int>{64, 64, 64, 64, 64, 42}));
    EXPECT_EQ(bed().stats(id_).clearedHalts, (std::vector<std::uint8_t>{0x02}));
}

TEST_F(UmockTransferTest, WriteGivesUpAfterTenFailedTransfers)
{
    open(64);
    for (int i = 0; i < 9; i++)
        outFault(EPROTO, 0);
    outFault(ETIMEDOUT, 5);
    std::string data = textPattern(100);
    EXPECT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrWrite);
    EXPECT_EQ(outChunks(id_).size(), 10u);
    EXPECT_EQ(readPeer(100, 200), data.substr(0, 5));

    // A transfer that reports success without moving a byte is no progress either.
    for (int i = 0; i < 10; i++)
        outFault(0, 0);
    EXPECT_EQ(aStream_Write(stream_, data.data(), 10), aErrWrite);
    EXPECT_EQ(outChunks(id_).size(), 20u);
}

TEST_F(UmockTransferTest, FailedHaltClearingIsAToleratedIOError)
{
    open(64);
    bed().setClearHaltError(id_, EIO);
    for (int i = 0; i < 4; i++) {
        outFault(EPIPE, 0);
        EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrNone) << "write " << i << " got all bytes out";
        EXPECT_EQ(readPeer(3), "abc");
    }
    outFault(EPIPE, 0);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrIO);
    std::size_t before = bed().stats(id_).transfers.size();
    char byte = 0;
    EXPECT_EQ(get(byte), aErrIO) << "the device failed for reads too";
    EXPECT_EQ(aStream_Write(stream_, "d", 1), aErrIO);
    EXPECT_EQ(bed().stats(id_).transfers.size(), before) << "a failed device is not touched";
}

TEST_F(UmockTransferTest, OneTransferFeedsManyGets)
{
    open();
    std::string data = textPattern(300);
    ASSERT_TRUE(writePeer(data));
    std::string got;
    for (std::size_t i = 0; i < data.size(); i++) {
        char byte = 0;
        ASSERT_EQ(get(byte), aErrNone) << "byte " << i;
        got.push_back(byte);
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(inTransfers(id_), 1u);
    auto t = bed().stats(id_).transfers.back();
    EXPECT_EQ(t.requested, 1024);
}

TEST_F(UmockTransferTest, TimeoutAfterSomeBytesDeliversThem)
{
    open();
    ASSERT_TRUE(writePeer("12345"));
    inFault(ETIMEDOUT, 5);
    std::string got;
    for (int i = 0; i < 5; i++) {
        char byte = 0;
        ASSERT_EQ(get(byte), aErrNone);
        got.push_back(byte);
    }
    EXPECT_EQ(got, "12345");
    inFault(ETIMEDOUT, 0);
    char byte = 0;
    EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(inTransfers(id_), 2u);
}

struct ReadCase {
    const char* name;
    int error;
    aErr expected;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class UmockReadTest : public UmockTransferTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(UmockReadTest, OutcomeOfOneTransfer)
{
    open();
    inFault(GetParam().error, 0);
    char byte = 'q';
    EXPECT_EQ(mvusb_get_from_device(nullptr, &byte), aErrParam);
    EXPECT_EQ(get(byte), GetParam().expected);
    EXPECT_EQ(byte, 'q') << "no byte was handed out";
    EXPECT_EQ(inTransfers(id_), 1u);
}

INSTANTIATE_TEST_SUITE_P(Results, UmockReadTest,
                         ::testing::Values(ReadCase{"TimeoutWithoutBytes", ETIMEDOUT, aErrNotReady},
                                           ReadCase{"ZeroLengthPacket", 0, aErrNotReady},
                                           ReadCase{"Halted", EPIPE, aErrNotReady},
                                           ReadCase{"ToleratedIOError", EPROTO, aErrNotReady},
                                           ReadCase{"ToleratedOverflow", EOVERFLOW, aErrNotReady},
                                           ReadCase{"ToleratedNoDevice", ENODEV, aErrNotReady}),
                         [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(UmockTransferTest, FifthConsecutiveIOErrorFailsTheDeviceForGood)
{
    open();
    for (int i = 0; i < 5; i++)
        inFault(EPROTO, 0);
    char byte = 0;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(get(byte), aErrNotReady) << "error " << i + 1 << " is tolerated";
    EXPECT_EQ(get(byte), aErrIO);
    std::size_t transfers = bed().stats(id_).transfers.size();

    // No count wraps back into tolerance, a write fails too.
    ASSERT_TRUE(writePeer("late"));
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(get(byte), aErrIO) << "call " << i;
    EXPECT_EQ(aStream_Write(stream_, "x", 1), aErrIO);
    EXPECT_EQ(bed().stats(id_).transfers.size(), transfers);
}

TEST_F(UmockTransferTest, AnyOtherResultRestartsTheCount)
{
    open();
    char byte = 0;
    // Reads and writes share the count: a good write in between restarts it.
    for (int i = 0; i < 3; i++)
        inFault(EPROTO, 0);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(get(byte), aErrNotReady);
    ASSERT_EQ(aStream_Write(stream_, "w", 1), aErrNone);
    // A good byte restarts it as well.
    for (int i = 0; i < 4; i++)
        inFault(EPROTO, 0);
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(get(byte), aErrNotReady);
    ASSERT_TRUE(writePeer("k"));
    ASSERT_EQ(get(byte), aErrNone);
    EXPECT_EQ(byte, 'k');
    // And so does a read that merely found nothing.
    for (int i = 0; i < 4; i++)
        inFault(EPROTO, 0);
    inFault(ETIMEDOUT, 0);
    for (int i = 0; i < 4; i++)
        inFault(EPROTO, 0);
    for (int i = 0; i < 9; i++)
        ASSERT_EQ(get(byte), aErrNotReady) << "read " << i;
    inFault(EPROTO, 0);
    EXPECT_EQ(get(byte), aErrIO) << "the fifth in a row";
}

TEST_F(UmockTransferTest, StreamReadsExactlyTheBytesSentThroughTroubles)
{
    open();
    std::string data = textPattern(40);
    ASSERT_TRUE(writePeer(data.substr(0, 3)));
    inFault(0, 0);          // empty transfer
    inFault(EPROTO, 0);     // tolerated
    inFault(ETIMEDOUT, 3);  // three bytes, then the time-out
    inFault(EPIPE, 0);
    inFault(EPROTO, 0);
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

TEST_F(UmockTransferTest, UnpluggedDeviceFailsReadsAndWrites)
{
    open();
    bed().unplug(id_);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrWrite);
    char byte = 0;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(get(byte), aErrIO);
    EXPECT_EQ(aStream_Write(stream_, "abc", 3), aErrIO);
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_EQ(bed().openHandles(), 0);
}

// A transfer the kernel never gives back, not even once cancelled: the call
// still returns within its bound (time-out, grace, cancel wait), the other
// endpoint goes on working, and closing takes no wait of its own.
TEST_F(UmockTransferTest, TransfersThatNeverComeBackEndWithinTheirBound)
{
    using std::chrono::steady_clock;
    open();
    bed().setDiscardIgnored(id_, true);
    const long long bound = MVUSB_READ_TIMEOUT_MS + MVUSB_COMPLETION_GRACE_MS + MVUSB_CANCEL_WAIT_MS;
    char byte = 0;
    auto start = steady_clock::now();
    EXPECT_EQ(get(byte), aErrNotReady) << "a tolerated I/O error";
    long long took = morvtest::msSince(start);
    EXPECT_GE(took, static_cast<long long>(MVUSB_READ_TIMEOUT_MS));
    EXPECT_LT(took, bound + 3000);
    EXPECT_EQ(get(byte), aErrNotReady) << "the lost transfer is not used again";

    ASSERT_EQ(aStream_Write(stream_, "abc", 3), aErrNone);
    EXPECT_EQ(readPeer(3), "abc");
    outFault(ETIMEDOUT, 0);  // held until discarded, which never comes
    start = steady_clock::now();
    EXPECT_EQ(aStream_Write(stream_, "def", 3), aErrWrite);
    EXPECT_LT(morvtest::msSince(start), static_cast<long long>(MVUSB_WRITE_TIMEOUT_MS) + bound + 3000);

    start = steady_clock::now();
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_LT(morvtest::msSince(start), 2000);
    EXPECT_EQ(bed().openHandles(), 0);
    bed().setDiscardIgnored(id_, false);
    ASSERT_EQ(aStream_CreateUSB(serial_, &stream_), aErrNone);
    ASSERT_EQ(aStream_Write(stream_, "ghi", 3), aErrNone);
    EXPECT_EQ(readPeer(3), "ghi");
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

class UmockDeviceStateTest : public UmockUsbTest, public ::testing::WithParamInterface<StateCase> {};

// The driver's own operations on an object that is not ready.
TEST_P(UmockDeviceStateTest, OperationsOutsideTheReadyState)
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
    States, UmockDeviceStateTest,
    ::testing::Values(StateCase{"Created", MVUSB_MODE_LIBUSB, false, aErrNotReady, aErrNotReady, aErrMode},
                      StateCase{"OpenFailed", MVUSB_MODE_LIBUSB, true, aErrConnection, aErrConnection, aErrMode},
                      StateCase{"KernelObject", MVUSB_MODE_KERNEL, false, aErrMode, aErrMode, aErrNone}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST_F(UmockUsbTest, ModesDoNotMix)
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
