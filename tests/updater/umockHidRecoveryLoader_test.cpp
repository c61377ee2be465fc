// Placement of the i.MX recovery loader from a bundle through the simulated boot
// ROM: over its USB HID device (the real hidapi on an emulated hidraw node) and
// over a serial line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "HidTestbed.h"
#include "UsbTestbed.h"
#include "ImxRomSerial.h"
#include "ImxRomSimulator.h"
#include "Log.h"
#include "PtyPair.h"
#include "RecoveryRig.h"
#include "TempDir.h"
#include "UpdaterRecoverySteps.h"
#include "UpdaterTestDisplay.h"

namespace {

using morvsim::ImxRom;
using morvsim::ImxRomConfig;
using rectest::BundleBuilder;
using rectest::Bytes;
using UpdaterRecovery::_transfer_recovery_loader;

class RecoveryLoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = std::tmpfile();
        ASSERT_NE(nullptr, log_);
        Log::SetOutput(log_);
        Log::ActivatePackage(0xFFFFFFFFu);
        umockusb::Testbed::instance().reset();
        rom_ = std::make_unique<umockusb::HidRom>();
    }
    void TearDown() override
    {
        rom_.reset();
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(0xFFFFFFFFu);
        std::fclose(log_);
    }
    BirdFile load(const BundleBuilder& builder)
    {
        const std::string path = dir_.sub("loader.bird");
        builder.writeTo(path);
        return BirdFile(path.c_str());
    }
    aErr place(const BundleBuilder& builder, const std::string& port = "USB")
    {
        BirdFile bundle = load(builder);
        return _transfer_recovery_loader(display_, bundle, port);
    }

    morvtest::TempDir dir_;
    updtest::RecordingDisplay display_;
    FILE* log_ = nullptr;
    std::unique_ptr<umockusb::HidRom> rom_;
};

TEST_F(RecoveryLoader, EveryBlockAtItsAddressThenTheBundlesEntry)
{
    const Bytes first = rectest::pattern(2500, 1);
    const Bytes second = rectest::pattern(100, 2);
    ASSERT_EQ(aErrNone, place(BundleBuilder()
                                  .loader(0x20000000, first)
                                  .firmware(0x1000, Bytes(64, 9))
                                  .loader(0x20010000, second)
                                  .jumpAddress(0x20010000)));
    rom_->withRom([&](ImxRom& rom) {
        EXPECT_EQ(rom.read(0x20000000, first.size()), first);
        EXPECT_EQ(rom.read(0x20010000, second.size()), second);
        EXPECT_EQ(rom.filesWritten(), 2u);
        EXPECT_TRUE(rom.jumped());
        EXPECT_EQ(rom.jumpAddress(), 0x20010000u);
    });
    EXPECT_EQ(rom_->openHandles(), 0) << "the HID device is closed again";
}

TEST_F(RecoveryLoader, WithoutEntryBlockTheLoaderStartsAtItsDefault)
{
    ASSERT_EQ(aErrNone, place(BundleBuilder().loader(0x20000000, rectest::pattern(2048, 5))));
    rom_->withRom([](ImxRom& rom) {
        EXPECT_TRUE(rom.jumped());
        EXPECT_EQ(rom.jumpAddress(), 0x20000400u);
    });
}

TEST_F(RecoveryLoader, FailuresStopBeforeTheJump)
{
    // No loader at all: the ROM is not even opened, so nothing can jump into
    // RAM that holds no loader.
    EXPECT_EQ(aErrParam, place(BundleBuilder().firmware(0x1000, Bytes(64, 1)).jumpAddress(0x20000000)));
    EXPECT_EQ(rom_->stats().opens, 0);

    rom_->unplug();
    EXPECT_EQ(aErrNotReady, place(BundleBuilder().loader(0x20000000, Bytes(64, 1))));

    // The ROM reports a failed write of the first block: the second is not
    // sent and nothing runs.
    ImxRomConfig refusing;
    refusing.completeStatus = 0x12345678u;
    rom_ = std::make_unique<umockusb::HidRom>(refusing);
    EXPECT_EQ(aErrConnection,
              place(BundleBuilder().loader(0x20000000, Bytes(64, 1)).loader(0x20001000, Bytes(64, 2))));
    rom_->withRom([](ImxRom& rom) {
        EXPECT_EQ(rom.commandCount(morvsim::kImxWriteFile), 1u);
        EXPECT_FALSE(rom.jumped());
    });
}

TEST_F(RecoveryLoader, SerialPortCarriesTheSameLoader)
{
    morvtest::PtyPair pty;
    morvsim::ImxRomSerial rom;
    rom.attachPty(pty);
    const Bytes image = rectest::pattern(3000, 7);
    ASSERT_EQ(aErrNone, place(BundleBuilder().loader(0x20000000, image).jumpAddress(0x20000000), pty.slavePath()));
    EXPECT_TRUE(rom.waitFor([](const ImxRom& r) { return r.jumped(); }, std::chrono::milliseconds(2000)));
    rom.withRom([&](ImxRom& r) {
        EXPECT_EQ(r.read(0x20000000, image.size()), image);
        EXPECT_EQ(r.jumpAddress(), 0x20000000u);
    });
    EXPECT_EQ(rom_->stats().opens, 0) << "a tty never goes through HID";
}

TEST_F(RecoveryLoader, SerialPortAfterTheLpcProbe)
{
    // The LPC attempt that precedes the i.MX one on a tty leaves its "?" in the
    // i.MX ROM, the first byte of a command; the loader must still get through.
    morvtest::PtyPair pty;
    morvsim::ImxRomSerial rom;
    rom.attachPty(pty);
    Fingerprint fingerprint{};
    ASSERT_FALSE(UpdaterRecovery::_get_fingerprint_lpc(pty.slavePath(), 115200, fingerprint));
    ASSERT_GT(rom.bytesReceived(), 0u);
    const Bytes image = rectest::pattern(1500, 3);
    ASSERT_EQ(aErrNone, place(BundleBuilder().loader(0x20000000, image).jumpAddress(0x20000000), pty.slavePath()));
    EXPECT_TRUE(rom.waitFor([](const ImxRom& r) { return r.jumped(); }, std::chrono::milliseconds(2000)));
    rom.withRom([&](ImxRom& r) {
        EXPECT_EQ(r.read(0x20000000, image.size()), image);
        EXPECT_EQ(r.filesWritten(), 1u);
    });
}

}  // namespace
