// Fingerprint and recovery of LPC modules against the simulated LPC boot ROM on
// a pseudo-terminal, with a real update server on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FakeUpdateServer.h"
#include "LpcIspSimulator.h"
#include "Log.h"
#include "PtyPair.h"
#include "RecoveryRig.h"
#include "TempDir.h"
#include "Updater.h"
#include "UpdaterRecoverySteps.h"
#include "UpdaterTestDisplay.h"

namespace {

using morvtest::FakeUpdateServer;
using rectest::Bytes;
using rectest::Image;
using rectest::Reply;
using updtest::RecordingDisplay;

constexpr std::uint32_t kFlashEnd = 0x80000;
constexpr std::uint32_t kRamBuffer = 0x10001000;

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& l : lines)
        if (l == line)
            return true;
    return false;
}

bool sentCommand(const morvsim::LpcIspSimulator& rom, char letter)
{
    for (const std::string& c : rom.commands())
        if (!c.empty() && c[0] == letter)
            return true;
    return false;
}

class LpcRecovery : public ::testing::Test {
protected:
    LpcRecovery()
        : url_(server_.url()), storage_(dir_.sub("updater")), updater_(url_.c_str(), storage_.c_str(), display_)
    {
    }
    void SetUp() override
    {
        log_ = std::tmpfile();
        ASSERT_NE(nullptr, log_);
        // Every trace is formatted, so the sanitizers see the trace paths too.
        Log::SetOutput(log_);
        Log::ActivatePackage(0xFFFFFFFFu);
        rom_ = std::make_unique<morvsim::LpcIspSimulator>(pty_);
    }
    void TearDown() override
    {
        rom_.reset();
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(0xFFFFFFFFu);
        std::fclose(log_);
    }

    std::string bundlePath(const rectest::BundleBuilder& builder)
    {
        const std::string path = dir_.sub("recovery.bird");
        builder.writeTo(path);
        return path;
    }
    bool recover(const std::string& path, std::uint32_t build = 0, std::uint32_t serial = 0)
    {
        return updater_.Recover_Firmware(pty_.slavePath(), build, 115200, serial, path, false);
    }
    // Flash that must stay untouched by a refused recovery.
    void markFlash()
    {
        rom_->poke(0, Bytes(256, 0x11));
        rom_->poke(0x10000, Bytes(256, 0x22));
    }
    void expectFlashUntouched()
    {
        EXPECT_EQ(rom_->memory(0, 256), Bytes(256, 0x11));
        EXPECT_EQ(rom_->memory(0x10000, 256), Bytes(256, 0x22));
        EXPECT_FALSE(sentCommand(*rom_, 'E'));
        EXPECT_FALSE(sentCommand(*rom_, 'U'));
        EXPECT_FALSE(rom_->started());
    }

    morvtest::TempDir dir_;
    FakeUpdateServer server_;
    std::string url_;
    std::string storage_;
    RecordingDisplay display_;
    Updater updater_;
    morvtest::PtyPair pty_;
    std::unique_ptr<morvsim::LpcIspSimulator> rom_;
    FILE* log_ = nullptr;
};

TEST_F(LpcRecovery, FingerprintIsTheDeviceSerialWordsInOrder)
{
    const rectest::Words words = {0xCAFEF00Du, 1, 0x80000000u, 0xFFFFFFFFu};
    rom_->setDeviceSerial(words);
    Fingerprint fingerprint{};
    ASSERT_TRUE(updater_.Get_Fingerprint(fingerprint, pty_.slavePath(), DEFAULT_SERIAL_NUMBER, "", 115200, true));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(fingerprint.words[i], words[i]) << i;
    EXPECT_TRUE(sentCommand(*rom_, 'N'));
    EXPECT_FALSE(rom_->started()) << "reading the fingerprint starts nothing";
}

TEST_F(LpcRecovery, UnreadableDeviceIdIsNoFingerprint)
{
    // A ROM whose serial lines are not numbers must not give a fingerprint of
    // zeros; the i.MX attempt that follows finds no recovery image either.
    morvsim::LpcIspFaults faults;
    faults.idReply = {"garbage", "x", "y", "z"};
    rom_->setFaults(faults);
    Fingerprint fingerprint{{7, 7, 7, 7}};
    EXPECT_FALSE(updater_.Get_Fingerprint(fingerprint, pty_.slavePath(), DEFAULT_SERIAL_NUMBER, "", 115200, true));
    for (std::uint32_t word : fingerprint.words)
        EXPECT_EQ(word, 7u);
}

TEST_F(LpcRecovery, BundlePathProgramsTheDescrambledFirmwareAndStartsIt)
{
    const Bytes first = rectest::pattern(5000, 3);
    const Bytes second = rectest::pattern(700, 90);
    const std::string path = bundlePath(rectest::lpcBundle({{0x0, first}, {0x10000, second}}));

    ASSERT_TRUE(recover(path)) << ::testing::PrintToString(display_.lines);
    EXPECT_EQ(rom_->memory(0, first.size()), first);
    EXPECT_EQ(rom_->memory(0x10000, second.size()), second);
    EXPECT_TRUE(rom_->started());
    EXPECT_EQ(rom_->goAddress(), 0u);
    EXPECT_TRUE(rom_->echo()) << "echo is back on before the firmware starts";
    EXPECT_TRUE(server_.queries().empty()) << "a bundle path needs no server";

    std::vector<std::string> infos = display_.infos();
    ASSERT_FALSE(infos.empty());
    EXPECT_TRUE(rectest::isUpdateTimeLine(infos.back())) << infos.back();
    infos.pop_back();
    EXPECT_EQ(infos, (std::vector<std::string>{"Recovering from Birdfile: " + path,
                                               "Transferring firmware block 1 of 2, 5000 bytes",
                                               "Transferring firmware block 2 of 2, 700 bytes",
                                               "Transferred 2 blocks, 5700 total bytes", "Rebooting Device"}));
    EXPECT_TRUE(display_.errors().empty());
}

TEST_F(LpcRecovery, ServerNamesTheModuleAndTheBuild)
{
    const Bytes image = rectest::pattern(3000, 41);
    const Bytes bundle = rectest::lpcBundle({{0x0, image}}).file();
    struct Case {
        const char* name;
        std::uint32_t buildArgument;
        std::string fixBuild;  // empty: the server names no build
        std::string expectedBuild;
    };
    const Case cases[] = {
        {"server's build", 0, "1234", "1234"},
        {"-b overrides the server's build", 77, "1234", "77"},
        // Build 0 asks the download for the server's latest and loads what it stored.
        {"no build anywhere", 0, "", "1234"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        morvtest::TempDir store;
        RecordingDisplay display;
        Updater updater(url_.c_str(), store.sub("updater").c_str(), display);
        server_.clearRecords();
        rectest::serveRecovery(server_, "0012ABCD", c.fixBuild, bundle);
        if (c.buildArgument != 0)
            server_.setReply("builds", Reply::Ok({std::to_string(c.buildArgument) + ";2.11.3"}));
        rom_->reset();
        rom_->poke(0, Bytes(image.size(), 0));

        ASSERT_TRUE(updater.Recover_Firmware(pty_.slavePath(), c.buildArgument, 115200, 0, "", false))
            << ::testing::PrintToString(display.lines);
        EXPECT_EQ(rectest::queryOf(server_, "fix"), rectest::kLpcFingerprintQuery);
        EXPECT_NE(rectest::queryOf(server_, "bird").find("bld=" + c.expectedBuild + "&"), std::string::npos)
            << rectest::queryOf(server_, "bird");
        EXPECT_NE(rectest::queryOf(server_, "bird").find("sn=0012ABCD&"), std::string::npos);
        EXPECT_EQ(rom_->memory(0, image.size()), image);
        EXPECT_TRUE(rom_->started());
        EXPECT_TRUE(contains(display.infos(), "Recovering firmware with build: " +
                                                  std::to_string(c.buildArgument != 0 ? c.buildArgument
                                                                 : c.fixBuild.empty() ? 0u
                                                                                      : 1234u)));
    }
}

TEST_F(LpcRecovery, UnknownFingerprintStopsBeforeTheFlash)
{
    markFlash();
    server_.setReply("fix", Reply::Status(404, "unknown"));
    EXPECT_FALSE(recover(""));
    EXPECT_EQ(display_.errors(), (std::vector<std::string>{"Failed to retrieve recovery information from Zorventa server"}));
    expectFlashUntouched();

    // A reply that names no serial number (or serial number 0) names no module either.
    for (const Reply& reply : {Reply::Ok(), Reply::Ok({"0", "1234"})}) {
        display_.clear();
        rom_->reset();
        server_.setReply("fix", reply);
        EXPECT_FALSE(recover(""));
        EXPECT_EQ(display_.errors(),
                  (std::vector<std::string>{"Failed to retrieve recovery information from Zorventa server"}));
        expectFlashUntouched();
    }
}

TEST_F(LpcRecovery, ImagesArePaddedAndNeverCarryStaleRam)
{
    // What an earlier piece (or anything else) left in the RAM buffer must not
    // reach the flash behind a short image.
    struct Case {
        std::uint32_t address;
        std::size_t size;
    };
    const Case cases[] = {
        {0x0, 5096},    // last piece 1000 bytes, copied as 1024
        {0x0, 5097},    // not a multiple of 4
        {0x2000, 1},    // one byte, copied as 256
        {0x0F00, 300},  // the copy of 512 bytes runs into the next sector
        {0x7FF00, 256}, // ends exactly at the end of the flash
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "address 0x" << std::hex << c.address << std::dec << ", " << c.size
                                          << " bytes");
        display_.clear();
        rom_->reset();
        rom_->poke(kRamBuffer, Bytes(4096, 0x5A));
        const Bytes image = rectest::pattern(c.size, static_cast<std::uint8_t>(c.size));
        const std::string path = bundlePath(rectest::lpcBundle({{c.address, image}}));
        ASSERT_TRUE(recover(path)) << ::testing::PrintToString(display_.lines);
        EXPECT_EQ(rom_->memory(c.address, c.size), image);
        const std::uint32_t end = c.address + static_cast<std::uint32_t>(c.size);
        const std::uint32_t rounded = std::min<std::uint32_t>(kFlashEnd, (end + 4095) / 4096 * 4096);
        if (rounded > end) {
            EXPECT_EQ(rom_->memory(end, rounded - end), Bytes(rounded - end, 0xFF)) << "flash behind the image";
        }
    }
}

TEST_F(LpcRecovery, BundlesTheFlashCannotTakeEraseNothing)
{
    using rectest::BundleBuilder;
    const rectest::Words& w = rectest::kLpcSerialWords;
    struct Case {
        const char* name;
        BundleBuilder bundle;
        std::string error;
    };
    const std::string cannot = "Bird file cannot be written to the device: ";
    const Case cases[] = {
        {"no firmware block", BundleBuilder().descriptor("1", "1.0.0", "0", "x").loader(0x20000000, Bytes(16, 1)),
         "Birdfile holds no firmware blocks"},
        {"only the end marker", rectest::lpcBundle({{0x0, Bytes(4, 0)}}), cannot + "no firmware block to write"},
        {"empty image", rectest::lpcBundle({{0x0, Bytes()}}), cannot + "a firmware block holds no image"},
        {"empty image after a good one", rectest::lpcBundle({{0x0, Bytes(64, 1)}, {0x1000, Bytes()}}),
         cannot + "a firmware block holds no image"},
        {"not on a 256-byte boundary", rectest::lpcBundle({{0x1080, Bytes(64, 1)}}),
         cannot + "a firmware block does not fit the flash"},
        {"beyond the flash", rectest::lpcBundle({{0x0, Bytes(64, 1)}, {kFlashEnd, Bytes(64, 1)}}),
         cannot + "a firmware block does not fit the flash"},
        {"running past the end", rectest::lpcBundle({{0x7F000, Bytes(0x1004, 1)}}),
         cannot + "a firmware block does not fit the flash"},
        {"last copy rounded past the end", rectest::lpcBundle({{0x7F100, Bytes(3000, 1)}}),
         cannot + "a firmware block does not fit the flash"},
        {"address near 4 GiB", rectest::lpcBundle({{0xFFFFFF00u, Bytes(512, 1)}}),
         cannot + "a firmware block does not fit the flash"},
        // Flash cells only clear bits: where two images overlap, neither survives.
        {"second image inside the first", rectest::lpcBundle({{0x0, Bytes(512, 1)}, {0x100, Bytes(256, 2)}}),
         cannot + "two firmware blocks overlap"},
        {"first image inside the second", rectest::lpcBundle({{0x100, Bytes(256, 2)}, {0x0, Bytes(512, 1)}}),
         cannot + "two firmware blocks overlap"},
        {"same address", rectest::lpcBundle({{0x1000, Bytes(64, 1)}, {0x1000, Bytes(64, 2)}}),
         cannot + "two firmware blocks overlap"},
        {"last byte on the next start",
         rectest::lpcBundle({{0x0, Bytes(64, 1)}, {0x2000, Bytes(0x1001, 2)}, {0x3000, Bytes(64, 3)}}),
         cannot + "two firmware blocks overlap"},
        {"across a block between them",
         rectest::lpcBundle({{0x0, Bytes(0x3000, 1)}, {0x4000, Bytes(64, 2)}, {0x2000, Bytes(64, 3)}}),
         cannot + "two firmware blocks overlap"},
        {"serial offsets", rectest::lpcBundle({{0x0, Bytes(64, 1)}}, w).serialOffsets(0x10, 0x20),
         "Updater does not support offline recovery"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display_.clear();
        rom_->reset();
        markFlash();
        EXPECT_FALSE(recover(bundlePath(c.bundle)));
        EXPECT_EQ(display_.errors(), std::vector<std::string>{c.error});
        expectFlashUntouched();
    }
}

TEST_F(LpcRecovery, AdjacentImagesInAnyOrderAreAllWritten)
{
    // Touching is not overlapping; neither is a block placed before an earlier one,
    // nor the erased-flash padding of a short copy against the next image.
    const Bytes a = rectest::pattern(0x100, 1);
    const Bytes b = rectest::pattern(0x1000, 2);
    const Bytes c = rectest::pattern(600, 3);  // copied as 1024 bytes, up to 0x1500
    const std::string path = bundlePath(rectest::lpcBundle({{0x100, b}, {0x0, a}, {0x1100, c}, {0x1400, a}}));
    ASSERT_TRUE(recover(path)) << ::testing::PrintToString(display_.lines);
    EXPECT_EQ(rom_->memory(0x0, a.size()), a);
    EXPECT_EQ(rom_->memory(0x100, b.size()), b);
    EXPECT_EQ(rom_->memory(0x1100, c.size()), c);
    EXPECT_EQ(rom_->memory(0x1400, a.size()), a);
    EXPECT_TRUE(rom_->started());
}

TEST_F(LpcRecovery, FourByteImageEndsTheBlockList)
{
    const Bytes a = rectest::pattern(300, 1);
    const Bytes b = rectest::pattern(100, 2);
    const std::string path = bundlePath(
        rectest::lpcBundle({{0x0, a}, {0x1000, b}, {0x2000, Bytes{1, 2, 3, 4}}, {0x3000, rectest::pattern(100, 3)}}));
    ASSERT_TRUE(recover(path)) << ::testing::PrintToString(display_.lines);
    EXPECT_EQ(rom_->memory(0, a.size()), a);
    EXPECT_EQ(rom_->memory(0x1000, b.size()), b);
    EXPECT_EQ(rom_->memory(0x2000, 0x2000), Bytes(0x2000, 0xFF)) << "nothing written from the end marker on";
    const std::vector<std::string> infos = display_.infos();
    EXPECT_TRUE(contains(infos, "Transferring firmware block 2 of 2, 100 bytes"));
    EXPECT_TRUE(contains(infos, "Transferred 2 blocks, 400 total bytes"));
}

TEST_F(LpcRecovery, OtherRateIsSynchronisedBeforeUnlocking)
{
    // A boot ROM waiting for its autobaud handshake at 57600 baud takes the
    // recovery only when it is synchronised at that rate first.
    ASSERT_FALSE(rom_->synchronized());
    const Bytes image = rectest::pattern(1000, 9);
    BirdFile bundle(bundlePath(rectest::lpcBundle({{0x0, image}})).c_str());
    ASSERT_TRUE(bundle.DecodeFirmwareBlocks(rectest::kLpcSerialWords.data()));
    std::string port = pty_.slavePath();
    Fingerprint fingerprint{{rectest::kLpcSerialWords[0], rectest::kLpcSerialWords[1], rectest::kLpcSerialWords[2],
                             rectest::kLpcSerialWords[3]}};
    ASSERT_TRUE(UpdaterRecovery::_recover_firmware_lpc(display_, bundle, port, 57600, fingerprint));
    EXPECT_TRUE(rom_->synchronized());
    EXPECT_EQ(rom_->crystalKHz(), 14746u);
    EXPECT_EQ(rom_->memory(0, image.size()), image);
    EXPECT_TRUE(rom_->started());
    ASSERT_FALSE(rom_->commands().empty());
    EXPECT_EQ(rom_->commands().front(), "U 23130");

    // A ROM that does not answer the handshake is left as it was.
    morvtest::PtyPair otherPty;
    morvsim::LpcIspSimulator silentRom(otherPty);
    silentRom.poke(0, Bytes(256, 0x11));
    morvsim::LpcIspFaults silent;
    silent.silent = true;
    silentRom.setFaults(silent);
    std::string otherPort = otherPty.slavePath();
    EXPECT_FALSE(UpdaterRecovery::_recover_firmware_lpc(display_, bundle, otherPort, 57600, fingerprint));
    silentRom.setFaults(morvsim::LpcIspFaults());
    EXPECT_EQ(silentRom.memory(0, 256), Bytes(256, 0x11));
    EXPECT_TRUE(silentRom.commands().empty());
}

// A step the boot ROM refuses (or whose data does not get through) is said as
// an error, with the ROM's own return code where it gave one: the flash may
// be erased by then, and the operator must learn why.
TEST_F(LpcRecovery, ARefusedStepIsSaidWithTheRomsCode)
{
    const std::string path = bundlePath(rectest::lpcBundle({{0x1000, rectest::pattern(300, 9)}}));
    struct Case {
        char command;
        int code;
        int resends;  // write checksums answered RESEND
        const char* error;
    };
    const Case cases[] = {
        {'U', 15, 0, "Recovery Error unlocking the device ==> boot ROM code [15, CMD_LOCKED]"},
        {'P', 7, 0, "Recovery Error preparing sectors 0 to 29 ==> boot ROM code [7, INVALID_SECTOR]"},
        {'E', 11, 0, "Recovery Error erasing sectors 0 to 29 ==> boot ROM code [11, BUSY]"},
        {'W', 14, 0, "Recovery Error writing 512 bytes to RAM at 0x10001000 ==> boot ROM code [14, ADDR_NOT_MAPPED]"},
        {'C', 10, 0, "Recovery Error copying 512 bytes to flash at 0x00001000 ==> boot ROM code [10, COMPARE_ERROR]"},
        {0, 0, 3, "Recovery Error writing 512 bytes to RAM at 0x10001000 ==> [18, aErrTimeout]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        display_.clear();
        rom_->reset();
        morvsim::LpcIspFaults faults;
        faults.failCommand = c.command;
        faults.failCode = c.code;
        faults.resendWriteChecksums = c.resends;
        rom_->setFaults(faults);
        EXPECT_FALSE(recover(path));
        EXPECT_EQ(display_.errors(), std::vector<std::string>{c.error});
        EXPECT_FALSE(rom_->started());
        std::vector<std::string> infos = display_.infos();
        ASSERT_FALSE(infos.empty());
        EXPECT_TRUE(rectest::isUpdateTimeLine(infos.back())) << infos.back();
    }
}

TEST_F(LpcRecovery, NoAnswerAnywhereIsReported)
{
    morvsim::LpcIspFaults silent;
    silent.silent = true;
    rom_->setFaults(silent);
    EXPECT_FALSE(recover(""));
    EXPECT_EQ(display_.errors(), (std::vector<std::string>{"Could not get Device Identifier"}));
}

}  // namespace
