// i.MX serial download loader over USB HID with the real hidapi (hidraw
// backend), the simulated boot ROM a hidraw node of the umockdev-emulated
// kernel.
#include "Elapsed.h"
#include "HID_SDPLoader.h"
#include "HidTestbed.h"
#include "UsbTestbed.h"
#include "ImxRomSimulator.h"
#include "Log.h"
#include "SDPLoader.h"

#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using morvsim::ImxRom;
using morvsim::ImxRomConfig;

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 13 + 1);
    return b;
}

using morvtest::msSince;

class HidLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { umockusb::Testbed::instance().reset(); }
    void TearDown() override { loader_.reset(); }

    // A loader on the NXP ids, initialised.
    void open(const ImxRomConfig& config = {})
    {
        loader_.reset();
        rom_.reset();
        rom_ = std::make_unique<umockusb::HidRom>(config);
        loader_.reset(new SDPLoader);
        ASSERT_TRUE(loader_->setLoader(new HID_SDPLoader(0x1FC9, 0x0130)));
        ASSERT_EQ(0, loader_->init());
    }

    std::unique_ptr<umockusb::HidRom> rom_;
    std::unique_ptr<SDPLoader> loader_;  // closed before the node goes
};

TEST_F(HidLoaderTest, WritesLoaderInReportsAndJumps)
{
    const std::string library = umockusb::loadedLibrary("libhidapi-hidraw.so");
    EXPECT_EQ(library.rfind("/usr/lib/", 0), 0u) << "the system's hidapi, loaded: " << library;
    open();
    Bytes image = pattern(2500);
    EXPECT_EQ(0, loader_->writeLoader(image, 0x20000000u));
    loader_->startLoader(0x20000400u);

    EXPECT_EQ(std::vector<size_t>({17, 17, 1025, 1025, 453, 17}), rom_->stats().writeLengths)
        << "status, WRITE_FILE, three data reports, JUMP_ADDRESS";
    rom_->withRom([&](ImxRom& rom) {
        EXPECT_EQ(std::vector<size_t>({1024, 1024, 452}), rom.dataReportSizes());
        ASSERT_EQ(3u, rom.commands().size());
        const std::array<uint8_t, 16> writeFile{0x04, 0x04, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00,
                                                0x00, 0x09, 0xC4, 0x00, 0x00, 0x00, 0x00, 0x00};
        EXPECT_EQ(writeFile, rom.commands()[1].raw);
        const std::array<uint8_t, 16> jump{0x0B, 0x0B, 0x20, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(jump, rom.commands()[2].raw);
        EXPECT_EQ(image, rom.read(0x20000000u, image.size()));
        EXPECT_EQ(1u, rom.filesWritten());
        EXPECT_TRUE(rom.jumped());
        EXPECT_EQ(0x20000400u, rom.jumpAddress());
    });
}

TEST_F(HidLoaderTest, SeveralLoaderBlocksInARow)
{
    open();
    Bytes first = pattern(64 * 1024);
    Bytes second = pattern(1024);  // exactly one full data report
    EXPECT_EQ(0, loader_->writeLoader(first, 0x20000000u));
    EXPECT_EQ(0, loader_->writeLoader(second, 0x20010000u));
    rom_->withRom([&](ImxRom& rom) {
        EXPECT_EQ(2u, rom.filesWritten());
        EXPECT_EQ(first, rom.read(0x20000000u, first.size()));
        EXPECT_EQ(second, rom.read(0x20010000u, second.size()));
        EXPECT_EQ(65u, rom.dataReportSizes().size());
    });
}

TEST_F(HidLoaderTest, FingerprintHasLowWordFirst)
{
    for (bool closed : {false, true}) {
        ImxRomConfig config;
        config.habClosed = closed;
        config.registers = {{0x401F4410u, 0x89ABCDEFu}, {0x401F4420u, 0x01234567u}};
        open(config);
        uint64_t fingerprint = 0;
        EXPECT_EQ(0, loader_->getFingerprint(fingerprint)) << "HAB closed " << closed;
        EXPECT_EQ(0x0123456789ABCDEFull, fingerprint) << "HAB closed " << closed;
    }
}

TEST_F(HidLoaderTest, UnreadableFuseWordLeavesFingerprintAlone)
{
    ImxRomConfig config;
    config.registers = {{0x401F4410u, 0x11111111u}};  // the high word has no register
    open(config);
    uint64_t fingerprint = 0;
    EXPECT_EQ(7, loader_->getFingerprint(fingerprint));
    EXPECT_EQ(0u, fingerprint);
}

struct HidFailure {
    const char* name;
    void (*configure)(ImxRomConfig&);
    uint32_t address;
    size_t size;
    int expected;
    size_t dataReports;  // what reached the ROM before the loader stopped
};

void PrintTo(const HidFailure& f, std::ostream* os)
{
    *os << f.name;
}

class HidFailureTest : public HidLoaderTest, public ::testing::WithParamInterface<HidFailure> {};

TEST_P(HidFailureTest, WriteLoaderReportsTheRomsAnswer)
{
    ImxRomConfig config;
    GetParam().configure(config);
    open(config);
    auto begin = Clock::now();
    EXPECT_EQ(GetParam().expected, loader_->writeLoader(pattern(GetParam().size), GetParam().address));
    EXPECT_LT(msSince(begin), 3000);
    rom_->withRom([&](ImxRom& rom) { EXPECT_EQ(GetParam().dataReports, rom.dataReportSizes().size()); });
}

const HidFailure kHidFailures[] = {
    {"silent", [](ImxRomConfig& c) { c.silent = true; }, 0x20000000u, 2500, 2, 0},
    {"four_status_requests_unanswered", [](ImxRomConfig& c) { c.unansweredStatusRequests = 4; },
     0x20000000u, 2500, 0, 3},
    {"five_status_requests_unanswered", [](ImxRomConfig& c) { c.unansweredStatusRequests = 5; },
     0x20000000u, 2500, 2, 0},
    {"refuses_the_address", [](ImxRomConfig&) {}, 0x10000000u, 2500, 3, 0},
    {"runs_past_memory", [](ImxRomConfig&) {}, 0x2007FC00u, 2048, 3, 0},
    {"aborts_during_data", [](ImxRomConfig& c) { c.abortDuringData = true; }, 0x20000000u, 2500, 3, 1},
    {"wrong_final_word", [](ImxRomConfig& c) { c.completeStatus = 0x12345678u; }, 0x20000000u, 2500, 4, 3},
    {"hab_closed_still_takes_data", [](ImxRomConfig& c) { c.habClosed = true; }, 0x20000000u, 2500, 0, 3},
    {"wraps_the_address_space", [](ImxRomConfig&) {}, 0xFFFFFC00u, 2048, 4, 0},
};

INSTANTIATE_TEST_SUITE_P(Rom, HidFailureTest, ::testing::ValuesIn(kHidFailures),
                         [](const ::testing::TestParamInfo<HidFailure>& info) { return info.param.name; });

TEST_F(HidLoaderTest, SilentRomCostsFiveBoundedAttempts)
{
    ImxRomConfig config;
    config.silent = true;
    open(config);
    auto begin = Clock::now();
    uint64_t fingerprint = 0;
    EXPECT_EQ(2, loader_->getFingerprint(fingerprint));
    long long elapsed = msSince(begin);
    EXPECT_GE(elapsed, 5 * 100 - 20);
    EXPECT_LT(elapsed, 2000);
    rom_->withRom([](ImxRom& rom) {
        EXPECT_EQ(5u, rom.commandCount(morvsim::kImxErrorStatus));
        EXPECT_EQ(5u, rom.commands().size()) << "no register read without an answer";
    });
}

TEST_F(HidLoaderTest, StaleReportIsNotTakenForAReply)
{
    ImxRomConfig config;
    config.silent = true;
    open(config);
    // A leftover status/reply pair: read as the answer to ERROR_STATUS it would
    // make the silent ROM look alive.
    rom_->queueInputReport({3, 0x56, 0x78, 0x78, 0x56});
    Bytes reply(65, 0);
    reply[0] = 4;
    reply[1] = reply[2] = reply[3] = reply[4] = 0x88;
    rom_->queueInputReport(reply);
    EXPECT_EQ(2, loader_->writeLoader(pattern(100), 0x20000000u));
}

TEST_F(HidLoaderTest, PaddedStatusReportKeepsFiveBytes)
{
    open();
    rom_->setPadStatusReport(true);
    EXPECT_EQ(0, loader_->writeLoader(pattern(3000), 0x20000000u));
    uint64_t fingerprint = 0;
    EXPECT_EQ(0, loader_->getFingerprint(fingerprint));
    EXPECT_EQ(0x5E6F70811A2B3C4Dull, fingerprint);
}

TEST_F(HidLoaderTest, FailedDataReportStopsTheTransfer)
{
    open();
    rom_->failWrites(1, 3);  // status, WRITE_FILE and one data report go through
    EXPECT_EQ(4, loader_->writeLoader(pattern(8192), 0x20000000u));
    EXPECT_EQ(4u, rom_->stats().writeLengths.size()) << "nothing is sent after the failed report";
}

TEST_F(HidLoaderTest, UnpluggedDeviceFailsBounded)
{
    open();
    rom_->unplug();
    auto begin = Clock::now();
    EXPECT_EQ(2, loader_->writeLoader(pattern(2500), 0x20000000u));
    EXPECT_LT(msSince(begin), 1000);
}

// hid_init failing is a case of the fake hidapi (hidFakeInit_test): the real
// hidraw backend's hid_init does not fail.
TEST_F(HidLoaderTest, InitFailsWithoutTheDevice)
{
    struct Case {
        const char* name;
        bool plugged;
        uint16_t product;
    };
    for (const Case& c : {Case{"absent", false, 0x0130}, Case{"other ids", true, 0x0131}}) {
        std::unique_ptr<umockusb::HidRom> rom;
        if (c.plugged)
            rom = std::make_unique<umockusb::HidRom>();
        {
            SDPLoader loader;
            ASSERT_TRUE(loader.setLoader(new HID_SDPLoader(0x1FC9, c.product)));
            EXPECT_EQ(6, loader.init()) << c.name;
        }
        if (rom) {
            EXPECT_EQ(0, rom->openHandles()) << c.name;
        }
    }
}

TEST_F(HidLoaderTest, DestroyingTheLoaderClosesTheDevice)
{
    open();
    EXPECT_EQ(1, rom_->openHandles());
    loader_.reset();
    EXPECT_EQ(0, rom_->openHandles());
}

TEST_F(HidLoaderTest, TracesGoUnderTheiMXPackage)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    ASSERT_NE(nullptr, out);
    Log::DeactivatePackage(0xFFFFFFFFu);
    Log::SetOutput(out);
    open();
    Log::ActivatePackage(DEBUG_Updater);
    EXPECT_EQ(0, loader_->writeLoader(pattern(100), 0x20000000u));
    fflush(out);
    EXPECT_EQ(0u, size) << "nothing under other packages";

    Log::ActivatePackage(DEBUG_iMXSerial);
    EXPECT_EQ(0, loader_->writeLoader(pattern(2500), 0x20000000u));
    Log::SetOutput(nullptr);
    Log::DeactivatePackage(0xFFFFFFFFu);
    fclose(out);
    std::string text(data, size);
    free(data);
    EXPECT_NE(std::string::npos, text.find("bytesWritten: 17\n1 5 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \n"));
    EXPECT_NE(std::string::npos, text.find("Write Res: 1025 , Total: 1025, Loop: 1, tell: 1024, size: 1025\n"));
    EXPECT_NE(std::string::npos, text.find("Write Res: 453 , Total: 2503, Loop: 3, tell: 2500, size: 453\n"));
    EXPECT_NE(std::string::npos, text.find("Written Bytes: 2503\n"));
    EXPECT_NE(std::string::npos, text.find("Loader Transfer Successful\n"));
}

// ---- the emulated node, as the end-to-end runs rely on it -----------------

TEST_F(HidLoaderTest, TheNodeRefusesReportsTheDeviceHasNotAndReadsTimeOut)
{
    rom_ = std::make_unique<umockusb::HidRom>();
    ASSERT_EQ(0, hid_init());
    hid_device* dev = hid_open(0x1FC9, 0x0130, nullptr);
    ASSERT_NE(nullptr, dev);
    const unsigned char shortCommand[16] = {1, 5, 5};
    const unsigned char inputReport[5] = {3, 0, 0, 0, 0};
    unsigned char bigData[1026] = {2};
    EXPECT_EQ(-1, hid_write(dev, shortCommand, sizeof(shortCommand)));
    EXPECT_EQ(-1, hid_write(dev, inputReport, sizeof(inputReport)));
    EXPECT_EQ(-1, hid_write(dev, bigData, sizeof(bigData)));
    EXPECT_NE(nullptr, hid_error(dev));

    unsigned char report[65];
    auto begin = Clock::now();
    EXPECT_EQ(0, hid_read_timeout(dev, report, sizeof(report), 50));
    EXPECT_GE(msSince(begin), 45);
    EXPECT_LT(msSince(begin), 1000);
    hid_close(dev);
    hid_exit();
}

}  // namespace
