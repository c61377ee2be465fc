// The USB stream on the real libusb-1.0, only the kernel side emulated: the
// module's match, bytes both ways, how writes are cut into bulk transfers,
// and the kernel's faults (claim refused, stalls, I/O error bursts, unplug and
// re-plug, a second module).
#include "Eventually.h"
#include "Patterns.h"
#include "PtyPair.h"
#include "UmockTsanSuppressions.h"
#include "UmockUsbFixture.h"
#include "aDiscovery.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <thread>

namespace {

constexpr std::uint32_t kSerial = 0x0012ABCD;

using morvtest::textPattern;

class UmockStreamTest : public UmockOpenStreamTest {
protected:
    UmockStreamTest() : UmockOpenStreamTest(kSerial) {}
};

TEST_F(UmockStreamTest, TheSystemLibusbMovesBytesBothWays)
{
    std::string library = umockusb::loadedLibrary("libusb-1.0.so");
    EXPECT_EQ(library.rfind("/usr/lib/", 0), 0u) << "loaded: " << library;
    open();
    ASSERT_EQ(aStream_Write(stream_, "\xAD\x00", 2), aErrNone);
    EXPECT_EQ(readPeer(2), std::string("\xAD\x00", 2));
    ASSERT_TRUE(writePeer("\x04\x01\x07"));
    char in[3] = {};
    ASSERT_EQ(aStream_Read(stream_, in, 3), aErrNone);
    EXPECT_EQ(std::string(in, 3), "\x04\x01\x07");
    EXPECT_EQ(bed().stats(id_).claims, 1);
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_EQ(bed().stats(id_).releases, 1);
}

struct MatchCase {
    const char* name;
    void (*change)(umockusb::DeviceSpec&);
    aErr expected;
};

class UmockMatchTest : public UmockUsbTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(UmockMatchTest, OpenResult)
{
    umockusb::DeviceSpec spec = umockusb::moduleSpec(kSerial);
    GetParam().change(spec);
    plugSpec(spec);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), GetParam().expected);
    EXPECT_EQ(stream_ != nullptr, GetParam().expected == aErrNone);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, UmockMatchTest,
    ::testing::Values(
        MatchCase{"Module", [](umockusb::DeviceSpec&) {}, aErrNone},
        MatchCase{"HighestProductId", [](umockusb::DeviceSpec& s) { s.product = 0x7FFF; }, aErrNone},
        MatchCase{"ProductIdBit15", [](umockusb::DeviceSpec& s) { s.product = 0x8011; }, aErrNotFound},
        MatchCase{"OtherVendor", [](umockusb::DeviceSpec& s) { s.vendor = 0x2B9F; }, aErrNotFound},
        MatchCase{"LowerCaseSerial", [](umockusb::DeviceSpec& s) { s.serial = "0012abcd"; }, aErrNotFound},
        MatchCase{"SerialWithoutLeadingZeros", [](umockusb::DeviceSpec& s) { s.serial = "12ABCD"; }, aErrNotFound},
        MatchCase{"SerialWithMore", [](umockusb::DeviceSpec& s) { s.serial = "0012ABCD "; }, aErrNotFound},
        MatchCase{"NoSerialString", [](umockusb::DeviceSpec& s) { s.hasSerial = false; }, aErrNotFound},
        MatchCase{"SerialUnreadable", [](umockusb::DeviceSpec& s) { s.serialReadFails = true; }, aErrNotFound},
        MatchCase{"OtherClass", [](umockusb::DeviceSpec& s) { s.interfaceClass = 0xFE; }, aErrConfiguration},
        MatchCase{"OtherSubclass", [](umockusb::DeviceSpec& s) { s.subclass = 0x89; }, aErrConfiguration},
        MatchCase{"OtherProtocol", [](umockusb::DeviceSpec& s) { s.protocol = 0x11; }, aErrConfiguration},
        MatchCase{"NoBulkEndpoints", [](umockusb::DeviceSpec& s) { s.endpoints.clear(); }, aErrConfiguration},
        MatchCase{"NoInEndpoint", [](umockusb::DeviceSpec& s) { s.endpoints = {{0x02, 2, 64}}; }, aErrConfiguration},
        MatchCase{"NoOutEndpoint", [](umockusb::DeviceSpec& s) { s.endpoints = {{0x81, 2, 64}}; }, aErrConfiguration},
        MatchCase{"ControlAndIsochronousOnly",
                  [](umockusb::DeviceSpec& s) { s.endpoints = {{0x81, 1, 64}, {0x02, 0, 64}}; }, aErrConfiguration},
        MatchCase{"InterruptEndpoints", [](umockusb::DeviceSpec& s) { s.endpoints = {{0x81, 3, 64}, {0x02, 3, 64}}; },
                  aErrNone},
        MatchCase{"HighSpeedEndpoints", [](umockusb::DeviceSpec& s) { s = umockusb::moduleSpec(kSerial, 0x11, 512); },
                  aErrNone}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST_F(UmockUsbTest, CreateRejectsBadArguments)
{
    EXPECT_EQ(aStream_CreateUSB(kSerial, nullptr), aErrParam);
    int id = plugModule(kSerial);
    aStream* sentinel = reinterpret_cast<aStream*>(0x1);
    stream_ = sentinel;
    EXPECT_EQ(aStream_CreateUSB(0, &stream_), aErrParam);
    EXPECT_EQ(stream_, nullptr);
    EXPECT_EQ(bed().stats(id).opens, 0);
}

TEST_F(UmockUsbTest, NoSuchModuleIsNotFoundAndNothingStaysOpen)
{
    int other = plugModule(kSerial + 1);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNotFound);
    EXPECT_EQ(stream_, nullptr);
    EXPECT_EQ(bed().stats(other).opens, 1) << "its serial number was read";
    EXPECT_EQ(bed().openHandles(), 0);
}

// The vendor interface's last bulk or interrupt endpoint of each direction
// is the one used, whatever another interface before it holds.
TEST_F(UmockUsbTest, LastQualifyingEndpointOfTheVendorInterfaceWins)
{
    umockusb::DeviceSpec spec = umockusb::moduleSpec(kSerial);
    spec.before = {{0x08, {{0x87, 2, 64}, {0x08, 2, 64}}}};
    spec.endpoints = {{0x81, 2, 64}, {0x83, 1, 64}, {0x85, 2, 64}, {0x02, 2, 64},
                      {0x04, 3, 64}, {0x06, 0, 64}, {0x89, 0, 64}};
    int id = plugSpec(spec);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_EQ(aStream_Write(stream_, "ab", 2), aErrNone);
    EXPECT_EQ(readPeer(2), "ab");
    ASSERT_TRUE(writePeer("z"));
    char byte = 0;
    ASSERT_EQ(aStream_Read(stream_, &byte, 1), aErrNone);
    EXPECT_EQ(byte, 'z');
    auto transfers = bed().stats(id).transfers;
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].endpoint, 0x04);
    EXPECT_EQ(transfers[0].status, 0);
    EXPECT_EQ(transfers[1].endpoint, 0x85);
    EXPECT_EQ(transfers[1].status, 0);
    EXPECT_EQ(bed().stats(id).claimedInterfaces, (std::vector<unsigned>{1}));
}

// libusb lists the device it enumerated last first: plugged in reverse.
TEST_F(UmockUsbTest, OpensOnlyModulesAndClosesTheOthersAgain)
{
    int after = bed().plug(umockusb::moduleSpec(kSerial + 2));
    int target = plugModule(kSerial);
    int wrongSerial = bed().plug(umockusb::moduleSpec(kSerial + 1));
    umockusb::DeviceSpec printer = umockusb::moduleSpec(kSerial);
    printer.vendor = 0x04B8;
    int other = bed().plug(printer);

    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    EXPECT_EQ(bed().stats(other).opens, 0);
    EXPECT_EQ(bed().stats(wrongSerial).opens, 1);
    EXPECT_EQ(bed().openHandles(wrongSerial), 0);
    EXPECT_EQ(bed().openHandles(target), 1);
    EXPECT_EQ(bed().stats(after).opens, 0) << "the search ends at the match";
}

struct ChunkCase {
    std::uint16_t maxPacket;
    std::size_t length;
    std::vector<int> chunks;
};

std::vector<int> repeat(int chunk, int times, std::vector<int> tail)
{
    std::vector<int> v(static_cast<std::size_t>(times), chunk);
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
}

class UmockChunkTest : public UmockStreamTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(UmockChunkTest, WriteGoesOutInChunks)
{
    open(GetParam().maxPacket);
    std::string data = textPattern(GetParam().length);
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    EXPECT_EQ(outChunks(id_), GetParam().chunks);
    EXPECT_EQ(readPeer(data.size()), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UmockChunkTest,
                         ::testing::Values(ChunkCase{512, 1000, {511, 489}}, ChunkCase{64, 64, {64}},
                                           ChunkCase{64, 150, {64, 64, 22}}, ChunkCase{512, 512, {511, 1}},
                                           ChunkCase{64, 1000, repeat(64, 15, {40})}, ChunkCase{64, 30, {30}},
                                           ChunkCase{1024, 512, {511, 1}}, ChunkCase{1024, 2100, {1024, 1024, 52}},
                                           ChunkCase{512, 4080, repeat(511, 7, {503})}));

// A module sending more than one buffer: every byte arrives once, in order,
// whatever the packet size cuts.
TEST_F(UmockStreamTest, ReadsEveryByteOfALongAnswer)
{
    open(64);
    std::string data = textPattern(3000);
    ASSERT_TRUE(writePeer(data));
    std::string got(data.size(), '\0');
    aErr err = aErrNotReady;
    for (int tries = 0; err == aErrNotReady && tries < 20; tries++)
        err = aStream_Read(stream_, &got[0], got.size());
    ASSERT_EQ(err, aErrNone);
    EXPECT_EQ(got, data);
}

// The modules' kernel driver node wins over a module libusb would find: a
// pseudo-terminal stands in for the node.
TEST_F(UmockStreamTest, TheKernelDriverNodeWinsOverLibusb)
{
    morvtest::PtyPair pty;
    char name[32];
    std::snprintf(name, sizeof(name), "morvasset.%08X", static_cast<unsigned>(kSerial));
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), nodes_.sub(name).c_str()), 0);
    id_ = plugModule(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    EXPECT_EQ(bed().stats(id_).opens, 0);
    EXPECT_EQ(bed().openHandles(), 0);
    ASSERT_EQ(aStream_Write(stream_, "n", 1), aErrNone);
    EXPECT_EQ(pty.readMaster(1, 2000), "n") << "the bytes went to the node";
    EXPECT_EQ(readPeer(1, 100), "");
}

struct ClaimCase {
    const char* name;
    int error;
    aErr expected;
};

class UmockClaimTest : public UmockUsbTest, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(UmockClaimTest, ClaimRefusedByTheKernel)
{
    int twin = plugModule(kSerial);  // listed after the first: would open
    int id = bed().plug(umockusb::moduleSpec(kSerial));
    bed().setClaimError(id, GetParam().error);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), GetParam().expected);
    EXPECT_EQ(stream_, nullptr);
    EXPECT_EQ(bed().stats(id).claims, 0);
    EXPECT_EQ(bed().openHandles(id), 0) << "the handle is closed again";
    EXPECT_EQ(bed().stats(twin).opens, 0) << "no further device is tried";

    bed().setClaimError(id, 0);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone) << "the refusal left nothing behind";
}

INSTANTIATE_TEST_SUITE_P(Errors, UmockClaimTest,
                         ::testing::Values(ClaimCase{"Busy", EBUSY, aErrBusy},
                                           ClaimCase{"NoDevice", ENODEV, aErrBusy},
                                           // libusb reports a refused claim other than busy,
                                           // absent or gone as LIBUSB_ERROR_OTHER.
                                           ClaimCase{"Access", EACCES, aErrUnknown}),
                         [](const ::testing::TestParamInfo<ClaimCase>& info) { return std::string(info.param.name); });

// The kernel lets one open node claim the interface: a second open of the
// module is refused until the first lets go.
TEST_F(UmockStreamTest, ModuleHeldByAnotherOpenIsBusyUntilReleased)
{
    open();
    aStream* second = nullptr;
    EXPECT_EQ(aStream_CreateUSB(kSerial, &second), aErrBusy);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(bed().openHandles(id_), 1) << "the refused handle is closed again";

    ASSERT_EQ(aStream_Destroy(&stream_), aErrNone);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &second), aErrNone);
    EXPECT_EQ(aStream_Destroy(&second), aErrNone);
    EXPECT_EQ(bed().openHandles(id_), 0);
}

TEST_F(UmockStreamTest, StalledOutEndpointIsClearedAndNoByteGoesTwice)
{
    open(64);
    outFault(EPIPE, 10);   // ten bytes went out, then the stall
    outFault(EPROTO, 0);   // an I/O error
    std::string data = textPattern(200);
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    EXPECT_EQ(readPeer(data.size() + 1, 300), data);
    EXPECT_EQ(bed().stats(id_).clearedHalts, (std::vector<std::uint8_t>{0x02}));
}

TEST_F(UmockStreamTest, StalledInEndpointIsCleared)
{
    open();
    inFault(EPIPE);
    char byte = 0;
    EXPECT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(bed().stats(id_).clearedHalts, (std::vector<std::uint8_t>{0x81}));
    ASSERT_TRUE(writePeer("k"));
    ASSERT_EQ(get(byte), aErrNone);
    EXPECT_EQ(byte, 'k');
}

TEST_F(UmockStreamTest, ABurstOfIOErrorsIsToleratedUntilTheFifth)
{
    open();
    for (int i = 0; i < 4; i++)
        inFault(EPROTO);
    char byte = 0;
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(get(byte), aErrNotReady) << "error " << i + 1 << " is tolerated";
    ASSERT_TRUE(writePeer("k"));
    ASSERT_EQ(get(byte), aErrNone);
    EXPECT_EQ(byte, 'k');

    for (int i = 0; i < 5; i++)
        inFault(EPROTO);
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(get(byte), aErrNotReady);
    EXPECT_EQ(get(byte), aErrIO) << "the fifth in a row";
    EXPECT_EQ(aStream_Write(stream_, "x", 1), aErrIO);
}

// The module reboots: it leaves the bus and comes back with the same serial.
TEST_F(UmockStreamTest, UnplugFailsTheStreamAndTheReplugOpensAgain)
{
    open();
    bed().unplug(id_);
    EXPECT_NE(aStream_Write(stream_, "abc", 3), aErrNone);
    char byte = 0;
    aErr err = aErrNone;
    for (int i = 0; i < 10 && err != aErrIO; i++)
        err = get(byte);
    EXPECT_EQ(err, aErrIO);
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);

    int again = bed().plug(umockusb::moduleSpec(kSerial));
    int peer = bed().takePeerFd(again);
    ASSERT_GE(peer, 0);
    ::close(peer_);
    peer_ = peer;
    // libusb learns of the new device from its uevent, on its own thread.
    aErr opened = aErrNotFound;
    for (int i = 0; i < 100 && opened == aErrNotFound; i++) {
        opened = aStream_CreateUSB(kSerial, &stream_);
        if (opened == aErrNotFound)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(opened, aErrNone);
    ASSERT_EQ(aStream_Write(stream_, "hi", 2), aErrNone);
    EXPECT_EQ(readPeer(2), "hi");
}

TEST_F(UmockStreamTest, TwoModulesEachGetTheirOwnBytes)
{
    open();
    int second = bed().plug(umockusb::moduleSpec(kSerial + 1, 0x13, 512));
    int secondPeer = bed().takePeerFd(second);
    aStream* other = nullptr;
    aErr opened = aErrNotFound;
    for (int i = 0; i < 100 && opened == aErrNotFound; i++) {
        opened = aStream_CreateUSB(kSerial + 1, &other);
        if (opened == aErrNotFound)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(opened, aErrNone);
    ASSERT_EQ(aStream_Write(other, "two", 3), aErrNone);
    ASSERT_EQ(aStream_Write(stream_, "one", 3), aErrNone);
    EXPECT_EQ(readPeer(3), "one");
    char got[4] = {};
    pollfd p{secondPeer, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_EQ(::recv(secondPeer, got, sizeof got, 0), 3);
    EXPECT_STREQ(got, "two");
    EXPECT_EQ(aStream_Destroy(&other), aErrNone);
    ::close(secondPeer);
}

// Threads of this process by name (/proc/self/task/*/comm).
int threadsNamed(const std::string& name)
{
    int count = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr)
        return -1;
    while (dirent* entry = ::readdir(tasks)) {
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            count++;
    }
    ::closedir(tasks);
    return count;
}

// The count settles: a new thread names itself, a joined one leaves /proc a moment later.
bool eventThreads(int count)
{
    return morvtest::eventually([count] { return threadsNamed(MVUSB_EVENT_THREAD_NAME) == count; }, 2000);
}

TEST_F(UmockStreamTest, OneEventThreadRunsWhileAnyModuleIsOpen)
{
    EXPECT_TRUE(eventThreads(0));
    open();
    EXPECT_TRUE(eventThreads(1));
    int second = bed().plug(umockusb::moduleSpec(kSerial + 1));
    int secondPeer = bed().takePeerFd(second);
    aStream* other = nullptr;
    ASSERT_TRUE(morvtest::eventually([&] { return aStream_CreateUSB(kSerial + 1, &other) == aErrNone; }, 2000));
    EXPECT_TRUE(eventThreads(1)) << "one for all devices";
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_TRUE(eventThreads(1)) << "the other is still open";
    ASSERT_EQ(aStream_Write(other, "on", 2), aErrNone);
    EXPECT_EQ(morvtest::readUpTo(secondPeer, 2, 3000), "on");
    EXPECT_EQ(aStream_Destroy(&other), aErrNone);
    EXPECT_TRUE(eventThreads(0)) << "joined when the last device closed";
    ::close(secondPeer);
    // And it starts again.
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    EXPECT_TRUE(eventThreads(1));
}

// The link's reader and writer use one device at the same time, while USB
// discovery reads the module's serial string: every transfer completes on
// the library's event thread, and every byte arrives once, in order.
TEST_F(UmockStreamTest, ReaderAndWriterShareTheDevice)
{
    open(64);
    constexpr std::size_t kBlocks = 300;
    constexpr std::size_t kBlock = 30;
    std::string data = textPattern(kBlocks * kBlock);
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
    std::atomic<bool> written{false};
    std::thread writer([&] {
        for (std::size_t i = 0; i < kBlocks; i++) {
            if (aStream_Write(stream_, data.data() + i * kBlock, kBlock) != aErrNone)
                writeErrors++;
            if (i % 50 == 0)
                outFault(EPROTO);
        }
        written = true;
    });
    std::atomic<int> searches{0};
    std::atomic<int> found{0};
    std::thread discovery([&] {
        auto any = [](const linkSpec*, bool* accepted, void*) -> std::uint8_t {
            *accepted = true;
            return 1;
        };
        while (!written) {
            found += aDiscovery_EnumerateModules(linkTypeUSB, any, nullptr, 0);
            searches++;
        }
    });
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
        char byte = 0;
        aErr err = get(byte);
        if (err == aErrNone)
            got.push_back(byte);
        else if (err != aErrNotReady)
            break;
    }
    writer.join();
    discovery.join();
    stop = true;
    echo.join();
    EXPECT_EQ(writeErrors, 0);
    EXPECT_EQ(got, data);
    EXPECT_EQ(found, searches) << "each search found the open module";
}

}  // namespace
