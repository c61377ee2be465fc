// Loading the bundle of an update or a recovery: from a path, from the store,
// or downloaded first when the store lacks it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "Base64Text.h"
#include "BundleBuilder.h"
#include "FakeUpdateServer.h"
#include "TempDir.h"
#include "Updater.h"
#include "UpdaterTestDisplay.h"
#include "base64.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;
using updtest::RecordingDisplay;
using Lines = std::vector<RecordingDisplay::Line>;

constexpr uint32_t kSerial = 0x0012ABCD;

Bytes bundle(const std::string& build)
{
    return BundleBuilder()
        .descriptor(build, "2.11.3", "0012ABCD", "USBHub3p")
        .loader(0x20000000, Bytes(8, 1))
        .firmware(0x1000, Bytes(32, 2))
        .file();
}

using morvtest::encode;

bool isDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class LoadBird : public ::testing::Test {
protected:
    LoadBird() : url_(server_.url()), updater_(url_.c_str(), dir_.path().c_str(), display_) {}

    std::string device() const { return dir_.sub("0012ABCD"); }

    FakeUpdateServer server_;
    morvtest::TempDir dir_;
    RecordingDisplay display_;
    std::string url_;
    Updater updater_;
};

TEST_F(LoadBird, AGivenPathIsLoadedAsItIs)
{
    const std::string path = dir_.sub("elsewhere.bird");
    BundleBuilder().descriptor("77", "1.0.0", "0012ABCD", "USBHub3p").firmware(0, Bytes(4, 0)).writeTo(path);
    BirdFile loaded = updater_.load_bird("Recovering", path, kSerial, 5, true);
    EXPECT_EQ(loaded.GetBuild(), 77u);
    EXPECT_EQ(display_.lines, (Lines{{0, "Recovering from Birdfile: " + path}}));
    EXPECT_FALSE(isDirectory(device())) << "a given path needs no device directory";
    EXPECT_TRUE(server_.queries().empty());

    EXPECT_THROW(updater_.load_bird("Updating", dir_.sub("missing.bird"), kSerial, 5, false), std::runtime_error);
}

TEST_F(LoadBird, StoredBuildIsReadFromTheDeviceDirectory)
{
    dir_.makeDir("0012ABCD");
    BundleBuilder()
        .descriptor("1234", "2.11.3", "0012ABCD", "USBHub3p")
        .firmware(0x1000, Bytes(32, 2))
        .writeTo(device() + "/1234.bird");
    BirdFile loaded = updater_.load_bird("Updating", "", kSerial, 1234, false);
    EXPECT_EQ(loaded.GetBuild(), 1234u);
    EXPECT_EQ(display_.lines, (Lines{{0, "Updating firmware with build: 1234"}}));
}

TEST_F(LoadBird, AMissingBuildFailsWithoutDownloadAndMakesTheDeviceDirectory)
{
    try {
        updater_.load_bird("Updating", "", kSerial, 1234, false);
        FAIL() << "no bundle, no download: must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error reading birdfile");
    }
    EXPECT_TRUE(isDirectory(device()));
    EXPECT_TRUE(server_.queries().empty());
}

TEST_F(LoadBird, TheDownloadedBuildIsTheOneLoaded)
{
    // Build 0 asks for the server's latest; the bundle is stored as 1234.bird
    // and that is what must be loaded, not "0.bird".
    server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    server_.setReply("builds", Reply::Ok({"1234;2.11.3"}));
    server_.setReply("bird", Reply::Ok({encode(bundle("1234"))}));
    BirdFile loaded = updater_.load_bird("Recovering", "", kSerial, 0, true);
    EXPECT_EQ(loaded.GetBuild(), 1234u);
    EXPECT_EQ(loaded.FindBlocks(BirdFile::BLOCK_FIRMWARE).size(), 1u);
    ASSERT_GE(display_.lines.size(), 2u);
    EXPECT_EQ(display_.lines[0], (RecordingDisplay::Line{0, "Recovering firmware with build: 0"}));
    EXPECT_EQ(display_.lines[1], (RecordingDisplay::Line{0, "Downloading firmware build 0"}));
}

TEST_F(LoadBird, AFailedDownloadFails)
{
    server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    server_.setReply("builds", Reply::Ok({"1234;2.11.3"}));
    server_.setReply("bird", Reply::Status(500, "down"));
    EXPECT_THROW(updater_.load_bird("Recovering", "", kSerial, 1234, true), std::runtime_error);
}

TEST(UpdateFirmware, NeedsASerialNumber)
{
    RecordingDisplay display;
    morvtest::TempDir dir;
    Updater updater("http://127.0.0.1:9/cgi/u", dir.path().c_str(), display);
    EXPECT_FALSE(updater.Update_Firmware(0, 5, "", 0, 0, false));
    EXPECT_EQ(display.lines, (Lines{{1, "Update command must specify the specific device"}}));
}

}  // namespace
