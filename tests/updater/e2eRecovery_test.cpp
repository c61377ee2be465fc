// The real Updater program reading fingerprints and recovering modules through
// their boot ROMs: an LPC boot ROM on a pseudo-terminal, and an i.MX boot ROM
// on an emulated hidraw node whose recovery loader then appears as a module on
// the emulated USB bus (the real hidapi and libusb under umockdev). The update
// server is a loopback fixture.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FakeUpdateServer.h"
#include "HidTestbed.h"
#include "Fingerprint.h"
#include "LpcIspSimulator.h"
#include "PathChecks.h"
#include "PtyPair.h"
#include "RecoveryProgram.h"
#include "RecoveryRig.h"
#include "SimEntities.h"
#include "SimFirmwareLoader.h"
#include "SimSystemEntity.h"
#include "TempDir.h"
#include "UpdateRig.h"

namespace {

using morvtest::ChildResult;
using updtest::describe;
using morvtest::FakeUpdateServer;
using morvtest::SplitLines;
using rectest::BundleBuilder;
using rectest::Bytes;
using rectest::Reply;
using Lines = std::vector<std::string>;
using updtest::kVersionLine;

const std::string kModuleHex = "0012ABCD";
// The recovery loader's unique identifier, by sub-index of option 39.
constexpr std::uint32_t kUniqueId[4] = {0x11112222u, 0x33334444u, 0x55556666u, 0x77778888u};
// Word 3 - i is sub-index i.
const std::string kImxFingerprintLine = "[ 77778888 55556666 33334444 11112222 ]";
const std::string kImxFingerprintQuery = "brief=true&fp=77778888%2055556666%2033334444%2011112222&op=fix&";

using morvtest::exists;

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(static_cast<bool>(out)) << path;
}

bool hasLine(const Lines& lines, const std::string& line)
{
    for (const std::string& l : lines)
        if (l == line)
            return true;
    return false;
}

class Recovery : public ::testing::Test {
protected:
    // No USB or HID device unless a fixture plugs one.
    Recovery() : program_(dir_.path(), server_.url()) { umockusb::Testbed::instance().reset(); }

    morvtest::TempDir dir_;
    FakeUpdateServer server_;
    rectest::RecoveryProgram program_;
};

// --- LPC over a serial line ---

TEST_F(Recovery, LpcFingerprintOverSerial)
{
    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    const ChildResult r = program_.run({"-N", "-s", pty.slavePath()});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "[ 12345678 9ABCDEF0 0F1E2D3C A5A55A5A ]"}));
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(rom.started());
}

TEST_F(Recovery, NoBootRomAnswers)
{
    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    morvsim::LpcIspFaults silent;
    silent.silent = true;
    rom.setFaults(silent);
    // Neither the LPC ROM nor an i.MX loader (no recovery image to be had).
    const ChildResult fingerprint = program_.run({"-N", "-s", pty.slavePath()});
    EXPECT_EQ(fingerprint.exitCode, 1) << describe(fingerprint);
    EXPECT_EQ(SplitLines(fingerprint.err), Lines{"Got no response from chip"});

    const ChildResult recovery = program_.run({"-U", "-t", "RECOVER", "-s", pty.slavePath()});
    EXPECT_EQ(recovery.exitCode, 1) << describe(recovery);
    EXPECT_EQ(SplitLines(recovery.err), Lines{"Could not get Device Identifier"});
}

TEST_F(Recovery, LpcModuleRecoveredOverSerial)
{
    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    const Bytes image = rectest::pattern(6000, 17);
    rectest::serveRecovery(server_, kModuleHex, "1234", rectest::lpcBundle({{0x0, image}}).file());

    const ChildResult r = program_.run({"-U", "-t", "RECOVER", "-s", pty.slavePath()});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(rom.memory(0, image.size()), image) << "the flash holds the descrambled firmware";
    EXPECT_TRUE(rom.started());
    EXPECT_EQ(rectest::queryOf(server_, "fix"), rectest::kLpcFingerprintQuery);
    EXPECT_TRUE(exists(program_.storage() + "/" + kModuleHex + "/1234.bird"));

    Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(rectest::isUpdateTimeLine(out.back())) << out.back();
    out.pop_back();
    EXPECT_EQ(out, (Lines{kVersionLine, "Recovering firmware with build: 1234", "Downloading firmware build 1234",
                          "Retrieving build 1234", "Validating build 1234 with server", "Build 1234 is valid",
                          "Transferring firmware block 1 of 1, 6000 bytes", "Transferred 1 blocks, 6000 total bytes",
                          "Rebooting Device"}));
    EXPECT_EQ(r.err, "");
}

// A FIFO given as the bundle would block its open for ever: refused at once,
// before the flash is touched.
TEST_F(Recovery, LpcBundleThatIsAFifoIsRefused)
{
    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    const std::string fifo = dir_.path() + "/recovery.bird";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const ChildResult r =
        program_.run({"-U", "-t", "RECOVER", "-s", pty.slavePath(), "-f", fifo}, std::chrono::seconds(20));
    ASSERT_FALSE(r.timedOut) << describe(r);
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.err), (Lines{"Birdfile " + fifo + " is not a regular file", "Failed to load bird file"}));
    for (const std::string& command : rom.commands())
        EXPECT_NE(command.substr(0, 1), "E") << "the flash was erased";
    EXPECT_FALSE(rom.started());
}

TEST_F(Recovery, LpcOverlappingImagesEraseNothing)
{
    morvtest::PtyPair pty;
    morvsim::LpcIspSimulator rom(pty);
    const Bytes before = rectest::pattern(0x1000, 5);
    rom.poke(0, before);
    rectest::serveRecovery(server_, kModuleHex, "1234",
                           rectest::lpcBundle({{0x0, Bytes(512, 1)}, {0x100, Bytes(256, 2)}}).file());

    const ChildResult r = program_.run({"-U", "-t", "RECOVER", "-s", pty.slavePath()});
    EXPECT_NE(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.err), Lines{"Bird file cannot be written to the device: two firmware blocks overlap"});
    EXPECT_FALSE(hasLine(SplitLines(r.out), "Rebooting Device")) << r.out;
    EXPECT_EQ(rom.memory(0, before.size()), before) << "nothing erased";
    for (const std::string& command : rom.commands())
        EXPECT_TRUE(command[0] != 'U' && command[0] != 'E' && command[0] != 'C') << command;
    EXPECT_FALSE(rom.started());
}

// --- i.MX over USB HID, the recovery loader then on USB ---

// The module the recovery loader makes of the processor: serial 0xDEADDEAD, its
// unique identifier in option 39, and a loader that is running already. The
// Updater runs with the real hidapi and libusb on the emulated kernel: the boot
// ROM is a hidraw node, and its jump writes the marker and puts the recovery
// loader's module on the USB bus, as a module that appears when its loader
// starts.
class ImxRecovery : public Recovery {
protected:
    void SetUp() override
    {
        umockusb::Testbed::instance().reset();
        loader_ = std::make_unique<updtest::SimulatedModule>(DEFAULT_SERIAL_NUMBER);
        loader_->sim.withModule(updtest::kModuleAddress, [](morvsim::SimModule& m) {
            for (std::uint8_t i = 0; i < 4; ++i)
                m.entities[morvsim::entityKey(morvsim::kSystemCommand, 39, 0, i)] = morvsim::u32(kUniqueId[i]);
            m.handlers[morvsim::kSystemCommand] = [](morvsim::SimModule& module, const morvsim::SimPacket& packet,
                                                     morvsim::SimReply& reply) {
                const Bytes& d = packet.data;
                if (d.size() >= 3 && (d[1] & 0x3F) == 39 && (d[1] & 0x40) != 0)
                    morvsim::handleEntityRequest(module, packet, reply);
                else
                    morvsim::handleSystemRequest(module, packet, reply);
            };
        });
        loader_->loader->setStage(morvsim::LoaderStage::Loader);
        morvsim::ImxRomConfig config;
        const std::string marker = program_.jumpMarker();
        config.onJump = [this, marker](std::uint32_t entry) {
            if (std::FILE* f = std::fopen(marker.c_str(), "w")) {
                std::fprintf(f, "%08X\n", entry);
                std::fclose(f);
            }
            // Not from the ROM's handler: the bus is changed on a thread of its own.
            std::lock_guard<std::mutex> lock(plugMutex_);
            if (!plugger_.joinable())
                plugger_ = std::thread([this] { usb_.plugInto(loader_->sim); });
        };
        rom_ = std::make_unique<umockusb::HidRom>(config);
    }
    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> lock(plugMutex_);
            if (plugger_.joinable())
                plugger_.join();
        }
        rom_.reset();
        loader_.reset();
    }
    // Claims of the recovery loader's module: each open of it by the Updater.
    int opens() const { return usb_.id() == 0 ? 0 : umockusb::Testbed::instance().stats(usb_.id()).claims; }
    Bytes bundle(const Bytes& firmware) const
    {
        return BundleBuilder()
            .descriptor("1234", "2.11.3", "00000000", updtest::kModelName)
            .loader(0x20000000, rectest::pattern(4096, 60))
            .jumpAddress(0x20000100)
            .firmware(0x1000, firmware)
            .file();
    }
    std::string marker() const
    {
        std::ifstream in(program_.jumpMarker());
        std::string text;
        std::getline(in, text);
        return text;
    }

    std::mutex plugMutex_;
    std::thread plugger_;
    updtest::UsbModulePlug usb_{DEFAULT_SERIAL_NUMBER, updtest::kModel};
    std::unique_ptr<updtest::SimulatedModule> loader_;
    std::unique_ptr<umockusb::HidRom> rom_;
};

TEST_F(ImxRecovery, FingerprintFromTheRecoveryLoader)
{
    rectest::serveRecovery(server_, kModuleHex, "1234", bundle(Bytes(64, 1)));
    const ChildResult r = program_.run({"-N", "-s", "USB"});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, kImxFingerprintLine})) << "the download is not shown";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(marker(), "20000100") << "the loader started at the bundle's entry";
    EXPECT_EQ(opens(), 1) << "the module was opened once its loader ran";
    EXPECT_EQ(morvsim::systemCalls(loader_->sim.module(updtest::kModuleAddress), 11), 1u) << "reset after reading";
    EXPECT_NE(rectest::queryOf(server_, "bird").find("sn=DEADDEAD&"), std::string::npos)
        << "the default recovery image was downloaded";
    EXPECT_TRUE(exists(program_.storage() + "/DEADDEAD/1234.bird"));
}

// A stored default recovery image that cannot be used is fetched again.
struct StoredImage {
    const char* name;
    std::string settings;
    std::string storedFile;  // 77.bird; empty: none
};

std::ostream& operator<<(std::ostream& out, const StoredImage& c)
{
    return out << c.name;
}

class ImxStoredImage : public ImxRecovery, public ::testing::WithParamInterface<StoredImage> {};

TEST_P(ImxStoredImage, IsDownloadedAgain)
{
    rectest::serveRecovery(server_, kModuleHex, "1234", bundle(Bytes(64, 1)));
    const std::string device = program_.storage() + "/DEADDEAD";
    ASSERT_EQ(0, system(("mkdir -p '" + device + "'").c_str()));
    writeFile(device + "/.settings", GetParam().settings);
    if (!GetParam().storedFile.empty())
        writeFile(device + "/77.bird", GetParam().storedFile);

    const ChildResult r = program_.run({"-N", "-s", "USB"});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, kImxFingerprintLine}));
    EXPECT_NE(rectest::queryOf(server_, "bird").find("sn=DEADDEAD&"), std::string::npos);
    EXPECT_TRUE(exists(device + "/1234.bird"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImxStoredImage,
    ::testing::Values(StoredImage{"NamedFileMissing", "LATEST_DOWNLOAD=77.bird\n", ""},
                      StoredImage{"NamedFileNoBundle", "LATEST_DOWNLOAD=77.bird\n", std::string("bird\x01\x01 not compressed")},
                      StoredImage{"NoDownloadRecorded", "", ""},
                      StoredImage{"NameLeavingTheDirectory", "LATEST_DOWNLOAD=../../77.bird\n", ""}),
    [](const ::testing::TestParamInfo<StoredImage>& info) { return std::string(info.param.name); });

TEST_F(ImxRecovery, ModuleRecoveredThroughTheRecoveryLoader)
{
    const Bytes image = rectest::pattern(5000, 23);
    rectest::serveRecovery(server_, kModuleHex, "1234", bundle(image));

    const ChildResult r = program_.run({"-U", "-t", "RECOVER", "-s", "USB"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(loader_->loader->flash(0x1000, image.size()), image);
    const morvsim::LoaderRecord record = loader_->loader->record();
    EXPECT_EQ(record.reboots, 1u);
    EXPECT_EQ(rectest::queryOf(server_, "fix"), kImxFingerprintQuery);
    EXPECT_EQ(morvsim::systemCalls(loader_->sim.module(updtest::kModuleAddress), 11), 0u)
        << "the loader keeps running between the fingerprint and the transfer";
    EXPECT_EQ(opens(), 2) << "once for the fingerprint, once for the firmware";
    EXPECT_TRUE(exists(program_.storage() + "/DEADDEAD/1234.bird"));
    EXPECT_TRUE(exists(program_.storage() + "/" + kModuleHex + "/1234.bird"));

    const Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(rectest::isUpdateTimeLine(out.back())) << out.back();
    EXPECT_TRUE(hasLine(out, "Recovering firmware with build: 1234"));
    EXPECT_TRUE(hasLine(out, "Transferring firmware block 1 of 1, 5004 bytes"));
    EXPECT_TRUE(hasLine(out, "Transferred 1 blocks, 5004 total bytes"));
    EXPECT_EQ(r.err, "");
}

TEST_F(ImxRecovery, BundlePathNeedsTheModulesSerialNumber)
{
    const std::string path = dir_.sub("given.bird");
    BundleBuilder().loader(0x20000000, Bytes(64, 1)).firmware(0x1000, Bytes(64, 2)).writeTo(path);
    const ChildResult r = program_.run({"-U", "-t", "RECOVER", "-s", "USB", "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.err), (Lines{"Add serial number or remove the bird filename to use a default recovery image.",
                                        "Could not get Device Identifier"}));
    EXPECT_FALSE(exists(program_.jumpMarker())) << "nothing was placed";

    // With the module's serial number the given bundle carries both the loader
    // and the firmware, and no server is asked.
    const Bytes image = rectest::pattern(700, 5);
    BundleBuilder().loader(0x20000000, Bytes(2048, 1)).firmware(0x1000, image).writeTo(path);
    server_.clearRecords();
    const ChildResult offline = program_.run({"-U", "-t", "RECOVER", "-s", "USB", "-f", path, "-d", kModuleHex});
    ASSERT_EQ(offline.exitCode, 0) << describe(offline);
    EXPECT_EQ(marker(), "20000400") << "no entry block: the default entry";
    EXPECT_EQ(loader_->loader->flash(0x1000, image.size()), image);
    EXPECT_TRUE(server_.queries().empty());
}

}  // namespace
