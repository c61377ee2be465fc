// The real Updater program with the real libusb-1.0 on a umockdev-emulated
// USB bus holding one simulated module (its bulk endpoints lead to the
// simulator; a reboot takes it off the bus and brings it back). Runs in a
// fresh network namespace, so nothing can reach beyond it even if a search
// fell back to TCP/IP.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "DirectoryLock.h"
#include "NetnsUpdaterTest.h"
#include "SmallFileSystem.h"
#include "StoreTestHelpers.h"
#include "UpdateRig.h"
#include "base64.h"

namespace {

using morvsim::Bytes;
using morvtest::BundleBuilder;
using morvtest::ChildResult;
using updtest::describe;
using morvtest::FakeUpdateServer;
using morvtest::SplitLines;
using Reply = FakeUpdateServer::Reply;
using Lines = std::vector<std::string>;
using updtest::kVersionLine;

constexpr std::uint32_t kSerial = 0x0012ABCD;
const std::string kSerialHex = "0012ABCD";

class UsbUpdate : public updtest::NetnsUpdaterTest {
protected:
    void SetUp() override
    {
        NetnsUpdaterTest::SetUp();
        if (!ready())
            return;
        ns_->run([&] {
            morvsim::LoaderConfig config;
            usb_.wire(config);
            // The simulator's threads belong to the namespace.
            module_ = std::make_unique<updtest::SimulatedModule>(kSerial, config);
            usb_.plugInto(module_->sim);
        });
    }
    void tearDownInNamespace() override { module_.reset(); }
    // A fresh module on the bus (optionally with the byte-buffer data path, or
    // leaving the bus on LOAD and coming back with the same serial).
    void replaceModule(bool ueiData, bool rebootOnLoad = false)
    {
        ns_->run([&] {
            module_.reset();
            umockusb::Testbed::instance().unplug(usb_.id());
            morvsim::LoaderConfig config;
            usb_.wire(config);
            config.ueiData = ueiData;
            // The LOAD answer follows the host's last sync request on the new link.
            config.loadAnswerQuiet = morvsim::Millis(100);
            module_ = std::make_unique<updtest::SimulatedModule>(kSerial, config);
            if (ueiData)
                module_->sim.withModule(updtest::kModuleAddress, [](morvsim::SimModule& m) {
                    morvsim::IntrospectionTable table;
                    table.build = updtest::kBuild;
                    table.answers[{95, 10, 0, 0x80}] = 0;
                    morvsim::installIntrospection(m, table);
                });
            if (rebootOnLoad) {
                morvsim::LoaderFaults faults;
                faults.dropLinkOnLoad = true;
                module_->loader->setFaults(faults);
            }
            usb_.plugInto(module_->sim);
        });
    }
    std::string device(const std::string& name) const { return program_->storage() + "/" + kSerialHex + "/" + name; }
    // A bundle for the module with one firmware image at 0x2000, written
    // beside the store; its path.
    std::string writeBundle(const Bytes& image) const
    {
        const std::string path = dir_.path() + "/fw.bird";
        BundleBuilder()
            .descriptor("9", "2.11.3", kSerialHex, updtest::kModelName)
            .loader(0x20000000, Bytes(64, 3))
            .firmware(0x2000, image)
            .writeTo(path);
        return path;
    }

    updtest::UsbModulePlug usb_{kSerial, updtest::kModel};
    std::unique_ptr<updtest::SimulatedModule> module_;
};

// The child's libusb is the system's, with only umockdev's preload (and its
// poll shim) in front: the loader's own list of what it maps.
TEST_F(UsbUpdate, TheUpdaterRunsOnTheSystemLibusb)
{
    auto environment = umockusb::Testbed::instance().childEnvironment();
    const std::string preload = environment["LD_PRELOAD"];
    environment.erase("LD_PRELOAD");
    environment["LD_TRACE_LOADED_OBJECTS"] = "1";
    const ChildResult r =
        updtest::runUpdater(dir_.path(), server_->url(), {}, std::chrono::milliseconds(20000), preload, environment);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(libusb-1\.0\.so\.0 => (/usr)?/lib/x86_64-linux-gnu/libusb-1\.0\.so\.0)")))
        << r.out;
    EXPECT_NE(r.out.find("libumockdev-preload.so.0"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("fakeusb"), std::string::npos) << r.out;
}

TEST_F(UsbUpdate, DiscoveryListsTheModuleAsItDescribesItself)
{
    const ChildResult r = run({"-D"});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out),
              (Lines{kVersionLine, "Searching for Morvasset devices", "Discovered Devices: (USB)",
                     "    Device    Module   Router  Model          Firmware Version (Build)    Device Name",
                     "    0012ABCD  04       00      USBHub3p       2.11.3 (     12345)         Simulated module"}));
    EXPECT_EQ(r.err, "");
}

TEST_F(UsbUpdate, DownloadAndUpdateInOneRun)
{
    const Bytes loader = updtest::pattern(200, 0x21);
    const Bytes image = updtest::pattern(3000, 0x77);
    const Bytes file = BundleBuilder()
                           .descriptor("1234", "2.11.3", "00000000", updtest::kModelName)
                           .loader(0x20000000, loader)
                           .firmware(0x1000, image)
                           .serialOffsets(0x1400, 0x1800)
                           .file();
    unsigned long length = 0;
    char* text = base64_encode(file.data(), file.size(), &length);
    server_->setReply("bird", Reply::Ok({std::string(text, length)}));
    std::free(text);
    server_->setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    server_->setReply("builds", Reply::Ok({"1234;2.11.3"}));

    const ChildResult r = run({"-G", "-U", "-d", kSerialHex});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(std::regex_match(out.back(), std::regex(R"(Update time: \d+\.\d{4} sec)"))) << out.back();
    out.pop_back();
    EXPECT_EQ(out, (Lines{kVersionLine, "Retrieving firmware for device with serial number 0012ABCD",
                          "No build specified", "Using Latest build", "Retrieving build 1234",
                          "Validating build 1234 with server", "Build 1234 is valid",
                          "Updating firmware with build: 1234", "Transferring loader to device",
                          "Transferring loader block 1 of 1, 204 bytes", "Transferred 1 blocks, 204 total bytes",
                          "Starting Load on Device", "Transferring firmware block 1 of 1, 3004 bytes",
                          "Transferred 1 blocks, 3004 total bytes"}));
    EXPECT_EQ(module_->loader->flash(0x1000, image.size()), updtest::patched(image, 0x1000, 0x1400, 0x1800, kSerial));
    EXPECT_EQ(module_->loader->record().loaderImage.at(0x20000000), loader);
    const std::string settings = updtest::readText(device(".settings"));
    EXPECT_NE(settings.find("LATEST_DOWNLOAD=1234.bird\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("LATEST_TRANSFER=1234.bird\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("LAST_TRANSFER_DATE="), std::string::npos) << settings;
}

TEST_F(UsbUpdate, ByteBufferPathCarriesTheFirmwareWhenTheModuleHasIt)
{
    replaceModule(true);
    const Bytes image = updtest::pattern(5000, 0x05);
    const std::string path = writeBundle(image);

    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(module_->loader->flash(0x2000, image.size()), image);
    EXPECT_GT(module_->loader->record().ueiSets, 0u) << "the firmware went by byte-buffer sets";

    // "-m 0" keeps to the DATA packets.
    replaceModule(true);
    const ChildResult plain = run({"-U", "-d", kSerialHex, "-f", path, "-m", "0"});
    ASSERT_EQ(plain.exitCode, 0) << describe(plain);
    EXPECT_EQ(module_->loader->flash(0x2000, image.size()), image);
    EXPECT_EQ(module_->loader->record().ueiSets, 0u);
}

// An update whose device directory another run holds (here this test, with
// the directory's lock) says so, and touches the module only once it holds the
// store itself: the module is first claimed after the other run let go.
TEST_F(UsbUpdate, AnUpdateHoldsTheStoreBeforeItTouchesTheModule)
{
    const Bytes image = updtest::pattern(2000, 0x31);
    const std::string path = writeBundle(image);
    const std::string directory = program_->storage() + "/" + kSerialHex;
    dir_.makeDir("updater/" + kSerialHex);
    auto other = std::make_unique<DirectoryLock>(directory, std::chrono::milliseconds(0));
    ASSERT_TRUE(other->Held());
    std::chrono::steady_clock::time_point released;
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        released = std::chrono::steady_clock::now();
        other.reset();
    });
    const std::size_t found = usb_.plugs() - 1;
    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    release.join();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Lines out = SplitLines(r.out);
    EXPECT_EQ(std::count(out.begin(), out.end(), "Another run holds " + directory + ": waiting up to 600 sec for it"),
              1)
        << describe(r);
    // The module as the update found it: after REBOOT it comes back as a new device.
    const umockusb::DeviceStats stats = usb_.statsOf(found);
    ASSERT_FALSE(stats.claimedAt.empty());
    EXPECT_GT(stats.claimedAt.front(), released) << "the module was touched while the store was held elsewhere";
    EXPECT_EQ(module_->loader->flash(0x2000, image.size()), image);
    EXPECT_NE(updtest::readText(device(".settings")).find("LATEST_TRANSFER=" + path + "\n"), std::string::npos);
}

// A store where the transfer could not be recorded (its settings file cannot
// be read, here a FIFO) fails the update before the module is touched.
TEST_F(UsbUpdate, AStoreThatCannotRecordFailsTheUpdateBeforeTheTransfer)
{
    const std::string path = writeBundle(updtest::pattern(2000, 0x31));
    dir_.makeDir("updater/" + kSerialHex);
    ASSERT_EQ(mkfifo(device(".settings").c_str(), 0644), 0);
    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.err),
              Lines{"Cannot record the transfer in " + device(".settings") + "; not updating the module"})
        << describe(r);
    const morvsim::LoaderRecord record = module_->loader->record();
    EXPECT_EQ(record.inits, 0u);
    EXPECT_TRUE(record.writes.empty());
    EXPECT_EQ(umockusb::Testbed::instance().stats(usb_.id()).claims, 0) << "the module was touched";
}

// A store on a full file system (a small tmpfs of the test's own, its blocks
// or its inodes used up) cannot take the record of a transfer: the update
// fails before any byte reaches the module, says why, and leaves the
// settings as they were.
struct FullStore {
    const char* name;
    bool blocks;
    bool inodes;
};

void PrintTo(const FullStore& c, std::ostream* out)
{
    *out << c.name;
}

class UsbUpdateOnAFullStore : public UsbUpdate, public ::testing::WithParamInterface<FullStore> {};

TEST_P(UsbUpdateOnAFullStore, FailsBeforeTheModuleIsTouchedAndSaysWhy)
{
    const std::string path = writeBundle(updtest::pattern(2000, 0x31));
    const std::string storage = dir_.makeDir("updater");
    const std::string settings = "LATEST_DOWNLOAD=9.bird\n";
    std::string why;
    ns_->run([&] {
        why = morvtest::MountSmallTmpfs(storage, 64 * 1024, 64);
        if (!why.empty())
            return;
        dir_.makeDir("updater/" + kSerialHex);
        storetest::writeFile(device(".settings"), settings);
        morvtest::FillFileSystem(storage, GetParam().blocks, GetParam().inodes);
    });
    if (!why.empty())
        GTEST_SKIP() << why;

    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << describe(r);
    const morvsim::LoaderRecord record = module_->loader->record();
    EXPECT_EQ(record.inits, 0u);
    EXPECT_TRUE(record.loaderImage.empty());
    EXPECT_TRUE(record.writes.empty());
    EXPECT_EQ(umockusb::Testbed::instance().stats(usb_.id()).claims, 0) << "the module was touched";
    ns_->run([&] {
        EXPECT_EQ(storetest::entries(program_->storage() + "/" + kSerialHex), Lines{".settings"});
        EXPECT_EQ(storetest::readFile(device(".settings")), settings);
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbUpdateOnAFullStore,
                         ::testing::Values(FullStore{"NoBlockLeft", true, false}, FullStore{"NoInodeLeft", false, true}),
                         [](const ::testing::TestParamInfo<FullStore>& info) { return std::string(info.param.name); });

// An update that got ready to record its transfer and then did not finish
// it (the run is stopped by a signal in the middle of the firmware, or the
// module refuses every WRITE) leaves the settings as they were. A stopped
// run may leave its temporary beside them; the next run that takes the
// directory removes it, and a run that fails removes its own.
TEST_F(UsbUpdate, AnUnfinishedUpdateLeavesTheSettingsAndNoTemporary)
{
    const std::string path = writeBundle(updtest::pattern(20000, 0x52));
    dir_.makeDir("updater/" + kSerialHex);
    const std::string settings = "LATEST_DOWNLOAD=9.bird\n";
    storetest::writeFile(device(".settings"), settings);
    const std::string directory = program_->storage() + "/" + kSerialHex;
    for (const int stop : {SIGTERM, SIGINT, SIGHUP, 0}) {
        SCOPED_TRACE(stop == 0 ? "WRITE refused" : strsignal(stop));
        replaceModule(false);
        ChildResult r;
        if (stop == 0) {
            morvsim::LoaderFaults faults;
            faults.statuses[5] = 1;
            module_->loader->setFaults(faults);
            r = run({"-U", "-d", kSerialHex, "-f", path});
            EXPECT_EQ(r.exitCode, 1) << describe(r);
            EXPECT_EQ(storetest::entries(directory), Lines{".settings"});
        } else {
            const morvsim::SimFirmwareLoader& loader = *module_->loader;
            r = runInterrupted({"-U", "-d", kSerialHex, "-f", path},
                               [&loader] { return loader.record().dataPackets >= 20; }, stop);
            EXPECT_EQ(r.signal, stop) << describe(r);
            EXPECT_TRUE(module_->loader->record().writes.empty()) << "stopped too late";
        }
        EXPECT_EQ(storetest::readFile(device(".settings")), settings);
    }
}

// The module reboots into its loader on LOAD: it leaves the bus and comes back
// with the same serial, and the Updater finds it again and goes on.
TEST_F(UsbUpdate, TheModuleRebootingOnLoadIsFoundAgainBySerial)
{
    replaceModule(false, true);
    const int before = usb_.id();
    const std::size_t found = usb_.plugs() - 1;
    const Bytes image = updtest::pattern(2000, 0x44);
    const std::string path = writeBundle(image);

    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(module_->loader->flash(0x2000, image.size()), image);
    const morvsim::LoaderRecord record = module_->loader->record();
    EXPECT_EQ(record.loadAnnounced, 1u) << "LOAD was answered on the new link";
    EXPECT_GE(record.linkDrops, 2u) << "on LOAD and on REBOOT";
    EXPECT_NE(usb_.id(), before) << "a new device on the bus";
    // The device it was after LOAD (after REBOOT it comes back once more).
    EXPECT_EQ(usb_.statsOf(found + 1).claims, 1) << "opened again after LOAD";
}

}  // namespace
