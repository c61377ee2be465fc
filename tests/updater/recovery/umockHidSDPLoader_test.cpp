// i.MX serial download loader over USB HID with the real hidapi (hidraw
// backend), the boot ROM a hidraw node of the umockdev-emulated kernel.
#include "HID_SDPLoader.h"
#include "HidTestbed.h"
#include "ImxRomSimulator.h"
#include "SDPLoader.h"
#include "UsbTestbed.h"

#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
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

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class UmockHidLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { umockusb::Testbed::instance().reset(); }

    void open(const ImxRomConfig& config = {})
    {
        rom_.reset();
        rom_ = std::make_unique<umockusb::HidRom>(config);
        loader_.reset(new SDPLoader);
        ASSERT_TRUE(loader_->setLoader(new HID_SDPLoader(0x1FC9, 0x0130)));
        ASSERT_EQ(0, loader_->init());
    }

    std::unique_ptr<SDPLoader> loader_;  // closed before the node goes
    std::unique_ptr<umockusb::HidRom> rom_;

    void TearDown() override { loader_.reset(); }
};

TEST_F(UmockHidLoaderTest, TheSystemHidapiWritesTheLoaderInReportsAndJumps)
{
    const std::string library = umockusb::loadedLibrary("libhidapi-hidraw.so");
    EXPECT_EQ(library.rfind("/usr/lib/", 0), 0u) << "loaded: " << library;
    open();
    Bytes image = pattern(2500);
    EXPECT_EQ(0, loader_->writeLoader(image, 0x20000000u));
    loader_->startLoader(0x20000400u);
    EXPECT_EQ(std::vector<size_t>({17, 17, 1025, 1025, 453, 17}), rom_->stats().writeLengths)
        << "status, WRITE_FILE, three data reports, JUMP_ADDRESS";
    rom_->withRom([&](ImxRom& rom) {
        EXPECT_EQ(std::vector<size_t>({1024, 1024, 452}), rom.dataReportSizes());
        EXPECT_EQ(image, rom.read(0x20000000u, image.size()));
        EXPECT_TRUE(rom.jumped());
        EXPECT_EQ(0x20000400u, rom.jumpAddress());
    });
}

TEST_F(UmockHidLoaderTest, FingerprintHasLowWordFirst)
{
    ImxRomConfig config;
    config.registers = {{0x401F4410u, 0x89ABCDEFu}, {0x401F4420u, 0x01234567u}};
    open(config);
    uint64_t fingerprint = 0;
    EXPECT_EQ(0, loader_->getFingerprint(fingerprint));
    EXPECT_EQ(0x0123456789ABCDEFull, fingerprint);
}

struct HidFailure {
    const char* name;
    void (*configure)(ImxRomConfig&);
    uint32_t address;
    size_t size;
    int expected;
    size_t dataReports;
};

class UmockHidFailureTest : public UmockHidLoaderTest, public ::testing::WithParamInterface<HidFailure> {};

TEST_P(UmockHidFailureTest, WriteLoaderReportsTheRomsAnswer)
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
    {"four_status_requests_unanswered", [](ImxRomConfig& c) { c.unansweredStatusRequests = 4; }, 0x20000000u,
     2500, 0, 3},
    {"refuses_the_address", [](ImxRomConfig&) {}, 0x10000000u, 2500, 3, 0},
    {"aborts_during_data", [](ImxRomConfig& c) { c.abortDuringData = true; }, 0x20000000u, 2500, 3, 1},
    {"wrong_final_word", [](ImxRomConfig& c) { c.completeStatus = 0x12345678u; }, 0x20000000u, 2500, 4, 3},
};

INSTANTIATE_TEST_SUITE_P(Rom, UmockHidFailureTest, ::testing::ValuesIn(kHidFailures),
                         [](const ::testing::TestParamInfo<HidFailure>& info) { return info.param.name; });

TEST_F(UmockHidLoaderTest, SilentRomCostsFiveBoundedAttempts)
{
    ImxRomConfig config;
    config.silent = true;
    open(config);
    auto begin = Clock::now();
    uint64_t fingerprint = 0;
    EXPECT_EQ(2, loader_->getFingerprint(fingerprint));
    long long elapsed = msSince(begin);
    EXPECT_GE(elapsed, 5 * 100 - 20) << "hid_read_timeout waited for the time-out";
    EXPECT_LT(elapsed, 3000);
    rom_->withRom([](ImxRom& rom) { EXPECT_EQ(5u, rom.commandCount(morvsim::kImxErrorStatus)); });
}

TEST_F(UmockHidLoaderTest, StaleReportIsNotTakenForAReply)
{
    ImxRomConfig config;
    config.silent = true;
    open(config);
    rom_->queueInputReport({3, 0x56, 0x78, 0x78, 0x56});
    Bytes reply(65, 0);
    reply[0] = 4;
    reply[1] = reply[2] = reply[3] = reply[4] = 0x88;
    rom_->queueInputReport(reply);
    EXPECT_EQ(2, loader_->writeLoader(pattern(100), 0x20000000u));
}

TEST_F(UmockHidLoaderTest, FailedDataReportStopsTheTransfer)
{
    open();
    rom_->failWrites(1, 3);  // status, WRITE_FILE and one data report go through
    EXPECT_EQ(4, loader_->writeLoader(pattern(8192), 0x20000000u));
    EXPECT_EQ(4u, rom_->stats().writeLengths.size()) << "nothing is sent after the failed report";
}

TEST_F(UmockHidLoaderTest, UnpluggedDeviceFailsBounded)
{
    open();
    rom_->unplug();
    auto begin = Clock::now();
    EXPECT_EQ(2, loader_->writeLoader(pattern(2500), 0x20000000u));
    EXPECT_LT(msSince(begin), 2000);
}

TEST_F(UmockHidLoaderTest, InitFailsWithoutTheDevice)
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
        SDPLoader loader;
        ASSERT_TRUE(loader.setLoader(new HID_SDPLoader(0x1FC9, c.product)));
        EXPECT_EQ(6, loader.init()) << c.name;
    }
}

}  // namespace
