// Updates through a routing module ("-r"): the router is on the emulated USB bus
// (the real libusb-1.0 over umockdev),
// the module to update sits behind it on the router's I2C bus, and everything
// travels over the router's link.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "NetnsUpdaterTest.h"
#include "PathChecks.h"
#include "SimI2C.h"
#include "UpdateRig.h"

namespace {

using morvsim::Bytes;
using morvtest::BundleBuilder;
using morvtest::ChildResult;
using updtest::describe;
using morvtest::FakeUpdateServer;
using morvtest::SplitLines;
using Lines = std::vector<std::string>;
using updtest::kVersionLine;

constexpr std::uint32_t kRouterSerial = 0x0D272031;
const std::string kRouterHex = "0D272031";
constexpr std::uint8_t kRouterAddress = 4;
constexpr std::uint8_t kRouterModel = 17;  // "MTMIOSerial"
constexpr std::uint32_t kSerial = 0x2181F0EE;
const std::string kSerialHex = "2181F0EE";
constexpr std::uint8_t kTargetAddress = 6;

using morvtest::exists;

// A routing module with the module to update behind it, both answered by one
// simulator (the router is its link module).
struct RoutedModules {
    RoutedModules() : sim(morvsim::SimModule(kRouterAddress, kRouterSerial, kRouterModel))
    {
        morvsim::SystemValues routerValues;
        routerValues.name = "Router";
        sim.withModule(kRouterAddress, [&](morvsim::SimModule& m) {
            morvsim::installSystemEntity(m, routerValues);
            morvsim::installIntrospection(m, morvsim::IntrospectionTable());
            morvsim::installI2CBus(m);
        });
        morvsim::SystemValues values;
        values.version = updtest::kVersionWord;
        values.router = kRouterAddress;
        morvsim::addModuleBehindRouter(sim, kRouterAddress,
                                       morvsim::SimModule(kTargetAddress, kSerial, updtest::kModel), values);
        morvsim::IntrospectionTable table;
        table.build = updtest::kBuild;
        sim.withModule(kTargetAddress, [&](morvsim::SimModule& m) { morvsim::installIntrospection(m, table); });
        loader = std::make_unique<morvsim::SimFirmwareLoader>(sim, kTargetAddress);
        // Behind a router the module's reboot leaves the router's link standing.
        morvsim::LoaderFaults faults;
        faults.keepLinkOnReboot = true;
        loader->setFaults(faults);
        usb.plugInto(sim);
    }
    ~RoutedModules() { loader.reset(); }

    updtest::UsbModulePlug usb{kRouterSerial, kRouterModel};
    morvsim::ModuleSimulator sim;
    std::unique_ptr<morvsim::SimFirmwareLoader> loader;
};

class RoutedUpdate : public updtest::NetnsUpdaterTest {
protected:
    void SetUp() override
    {
        NetnsUpdaterTest::SetUp();
        if (!ready())
            return;
        ns_->run([&] { modules_ = std::make_unique<RoutedModules>(); });
    }
    void tearDownInNamespace() override { modules_.reset(); }

    std::unique_ptr<RoutedModules> modules_;
};

TEST_F(RoutedUpdate, DiscoveryBehindTheRouterListsItsModules)
{
    const ChildResult r = run({"-D", "-r", kRouterHex});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out),
              (Lines{kVersionLine, "Searching for Morvasset Network devices connected to 0D272031",
                     "Discovered Devices: (Unknown)",
                     "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       "
                     "Device Name",
                     // The search behind a router asks no module for its name.
                     "    2181F0EE  06       04      USBHub3p       2.11.3 (     12345)         "}));
}

TEST_F(RoutedUpdate, FirmwareGoesToTheModuleBehindTheRouter)
{
    const Bytes image = updtest::pattern(1500, 0x31);
    const std::string path = dir_.path() + "/fw.bird";
    BundleBuilder()
        .descriptor("42", "2.11.3", "00000000", updtest::kModelName)
        .loader(0x20000000, Bytes(50, 9))
        .firmware(0x3000, image)
        .serialOffsets(0x3100, 0)
        .writeTo(path);

    const ChildResult r = run({"-U", "-d", kSerialHex, "-r", kRouterHex, "-f", path});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(std::regex_match(out.back(), std::regex(R"(Update time: \d+\.\d{4} sec)"))) << out.back();
    out.pop_back();
    EXPECT_EQ(out, (Lines{kVersionLine, "Updating from Birdfile: " + path, "Transferring loader to device",
                          "Transferring loader block 1 of 1, 54 bytes", "Transferred 1 blocks, 54 total bytes",
                          "Starting Load on Device", "Transferring firmware block 1 of 1, 1504 bytes",
                          "Transferred 1 blocks, 1504 total bytes"}));
    EXPECT_EQ(modules_->loader->flash(0x3000, image.size()), updtest::patched(image, 0x3000, 0x3100, 0, kSerial));
    EXPECT_EQ(modules_->loader->record().reboots, 1u);
    const std::string settings = updtest::readText(program_->storage() + "/" + kSerialHex + "/.settings");
    EXPECT_NE(settings.find("LATEST_TRANSFER=" + path + "\n"), std::string::npos) << settings;
}

TEST_F(RoutedUpdate, AModuleTheRouterDoesNotSeeIsNotUpdated)
{
    const std::string path = dir_.path() + "/fw.bird";
    BundleBuilder()
        .descriptor("42", "2.11.3", "00000000", updtest::kModelName)
        .firmware(0x3000, Bytes(10, 1))
        .serialOffsets(0x3004, 0)
        .writeTo(path);
    const ChildResult r = run({"-U", "-d", "00C0FFEE", "-r", kRouterHex, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.err,
              "Module address required for indirect firmware update, could not find serial number [0x00C0FFEE] on "
              "network\n");
    EXPECT_EQ(modules_->loader->record().inits, 0u);
    EXPECT_FALSE(exists(program_->storage() + "/00C0FFEE"));

    const ChildResult none = run({"-U", "-d", kSerialHex, "-r", "0BADBAD0", "-f", path});
    EXPECT_EQ(none.exitCode, 1) << describe(none);
    EXPECT_EQ(none.err, "Unable to find modules on Network\n");
}

}  // namespace
