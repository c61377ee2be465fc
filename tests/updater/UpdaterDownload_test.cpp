// Downloads into the local store against a real HTTP update server on loopback.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "Base64Text.h"
#include "BundleBuilder.h"
#include "DirectoryLock.h"
#include "FakeUpdateServer.h"
#include "PathChecks.h"
#include "SmallFileSystem.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "Updater.h"
#include "UpdaterTestDisplay.h"
#include "base64.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;
using morvtest::entryExists;
using storetest::readFile;
using updtest::RecordingDisplay;

constexpr uint32_t kSerial = 0x0012ABCD;
const char* const kDeviceDir = "0012ABCD";

using morvtest::encode;

std::string asText(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

Bytes bundle(const std::string& version, uint8_t fill)
{
    return BundleBuilder()
        .descriptor("1234", version, "0012ABCD", "USBHub3p")
        .loader(0x20000000, Bytes(16, fill))
        .firmware(0x08000000, Bytes(64, fill))
        .file();
}

class DownloadTest : public ::testing::Test {
protected:
    DownloadTest() : url_(server_.url()), updater_(url_.c_str(), dir_.path().c_str(), display_)
    {
        server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
        server_.setReply("builds", Reply::Ok({"1200;2.10.0", "1234;2.11.3"}));
        server_.setReply("bird", Reply::Ok({encode(good_)}));
    }

    std::string device(const std::string& name = "") const
    {
        return dir_.sub(kDeviceDir) + (name.empty() ? "" : "/" + name);
    }
    std::string settings() const { return readFile(device(".settings")); }
    std::vector<std::string> ops() const
    {
        std::vector<std::string> out;
        for (const std::string& q : server_.queries()) {
            const auto at = q.find("op=");
            out.push_back(at == std::string::npos ? "" : q.substr(at + 3, q.find('&', at) - at - 3));
        }
        return out;
    }

    FakeUpdateServer server_;
    morvtest::TempDir dir_;
    RecordingDisplay display_;
    std::string url_;
    Updater updater_;
    const Bytes good_ = bundle("2.11.3", 0x5A);
};

TEST_F(DownloadTest, LatestBuildIsStoredAndRecordedInANewDeviceDirectory)
{
    ASSERT_FALSE(entryExists(device()));
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "", false, false), 1234u);

    EXPECT_EQ(readFile(device("1234.bird")), asText(good_));
    const std::string text = settings();
    EXPECT_NE(text.find("LATEST_DOWNLOAD=1234.bird\n"), std::string::npos) << text;
    const auto date = text.find("LAST_DOWNLOAD_DATE=");
    ASSERT_NE(date, std::string::npos) << text;
    // ctime's form without its newline: "Tue Dec  8 17:29:57 2026".
    EXPECT_EQ(text.find('\n', date) - date - std::string("LAST_DOWNLOAD_DATE=").size(), 24u) << text;

    const std::vector<RecordingDisplay::Line> expected = {
        {0, "Retrieving build 1234"},
        {0, "Validating build 1234 with server"},
        {0, "Build 1234 is valid"},
    };
    EXPECT_EQ(display_.lines, expected);
    ASSERT_GE(display_.spinner.size(), 2u);
    EXPECT_EQ(display_.spinner.front(), std::make_pair(true, std::string("Downloading")));
    EXPECT_EQ(display_.spinner.back(), std::make_pair(false, std::string("Downloading")));

    EXPECT_EQ(ops(), (std::vector<std::string>{"hi", "qu", "builds", "bird"}));
    EXPECT_EQ(server_.queries().back(), "bld=1234&fw=2.11.3&no_cal=false&op=bird&sn=0012ABCD&");
}

TEST_F(DownloadTest, BuildZeroMeansTheLatestAndNoCalIsPassedOn)
{
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "0", false, true), 1234u);
    EXPECT_EQ(server_.queries().back(), "bld=1234&fw=2.11.3&no_cal=true&op=bird&sn=0012ABCD&");
}

TEST_F(DownloadTest, ARequestedBuildMustBeListedUnlessOverridden)
{
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "1200", false, false), 1200u);
    EXPECT_TRUE(entryExists(device("1200.bird")));
    EXPECT_NE(settings().find("LATEST_DOWNLOAD=1200.bird\n"), std::string::npos);

    display_.clear();
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "999", false, false), 0u);
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"No valid build 999"});
    EXPECT_FALSE(entryExists(device("999.bird")));

    display_.clear();
    server_.clearRecords();
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "999", true, false), 999u);
    EXPECT_EQ(display_.infos(), (std::vector<std::string>{"Retrieving build 999",
                                                          "Override specified, skipping validation of build 999"}));
    EXPECT_EQ(ops(), (std::vector<std::string>{"hi", "qu", "bird"}));
    EXPECT_TRUE(entryExists(device("999.bird")));
    EXPECT_NE(settings().find("LATEST_DOWNLOAD=999.bird\n"), std::string::npos);
}

// Every failure returns 0 with its messages, writes nothing and leaves the bundle
// and the settings of an earlier good download exactly as they were.
TEST_F(DownloadTest, FailuresKeepTheStoredBundleAndTheSettings)
{
    ASSERT_EQ(updater_.Download_Firmware(kSerial, "", false, false), 1234u);
    const std::string before = settings();
    const std::string stored = readFile(device("1234.bird"));

    struct Case {
        const char* name;
        uint32_t serial;
        std::string build;
        std::string op;
        Reply reply;
        std::vector<std::string> errors;
    };
    const Bytes notABundle = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'u', 'n', 'd', 'l', 'e'};
    Bytes truncated = bundle("9.9.9", 0x11);
    truncated.resize(truncated.size() / 2);
    const std::vector<std::string> noBundle = {"Failed to retrieve a valid BIRD file"};
    const std::vector<Case> cases = {
        {"not a number", kSerial, "12x", "", {}, {"Build number '12x' must be an number"}},
        {"beyond 32 bits", kSerial, "4294967296", "", {}, {"Build number '4294967296' must be an number"}},
        {"negative", kSerial, "-5", "", {}, {"Build number '-5' must be an number"}},
        {"control characters", kSerial, "1\x1b[2J", "", {}, {"Build number '1\\x1B[2J' must be an number"}},
        {"serial 0", 0, "", "", {}, {"Serial Number must be non-zero"}},
        {"server down", kSerial, "", "hi", Reply::Status(500, "no"), {"Server request failed for " + url_}},
        {"no build info", kSerial, "", "qu", Reply::Status(404, ""), {"No build information for device"}},
        {"server build not a number", kSerial, "", "qu", Reply::Ok({"abc", "1.0.0"}),
         {"No build information for device"}},
        {"build list refused", kSerial, "1234", "builds", Reply::Status(500, ""), {"No valid build 1234"}},
        {"request failed", kSerial, "1234", "bird", Reply::Status(500, "oops"),
         {"Download failed", "Failed to retrieve a valid BIRD file"}},
        {"reply without bundle", kSerial, "1234", "bird", Reply::Ok(), noBundle},
        {"not base64", kSerial, "1234", "bird", Reply::Ok({"abcde"}), noBundle},
        {"decodes to something else", kSerial, "1234", "bird", Reply::Ok({encode(notABundle)}), noBundle},
        {"truncated bundle", kSerial, "1234", "bird", Reply::Ok({encode(truncated)}), noBundle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.op.empty())
            server_.setReply(c.op, c.reply);
        display_.clear();
        EXPECT_EQ(updater_.Download_Firmware(c.serial, c.build, false, false), 0u);
        EXPECT_EQ(display_.errors(), c.errors);
        EXPECT_EQ(settings(), before);
        EXPECT_EQ(readFile(device("1234.bird")), stored);
        // Restore the good replies for the next case.
        server_.setReply("hi", Reply::Ok());
        server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
        server_.setReply("builds", Reply::Ok({"1200;2.10.0", "1234;2.11.3"}));
        server_.setReply("bird", Reply::Ok({encode(good_)}));
    }
    EXPECT_FALSE(entryExists(dir_.sub("00000000")));
}

TEST_F(DownloadTest, AFileThatCannotBeWrittenIsAFailureAndNotRecorded)
{
    // A directory in the bundle's place: the rename over it fails.
    dir_.makeDir(std::string(kDeviceDir) + "/1234.bird");
    ASSERT_EQ(updater_.Download_Firmware(kSerial, "1200", false, false), 1200u);
    const std::string before = settings();

    display_.clear();
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "1234", false, false), 0u);
    ASSERT_EQ(display_.errors().size(), 1u);
    EXPECT_EQ(display_.errors()[0].rfind("Failed to write file with ", 0), 0u) << display_.errors()[0];
    EXPECT_EQ(settings(), before);
    EXPECT_NE(before.find("LATEST_DOWNLOAD=1200.bird\n"), std::string::npos);
}

// A store on a full file system (a small tmpfs of the test's own, its blocks
// or its inodes used up): the download fails, names the cause beside the
// code, and leaves the stored bundle and the settings as they were.
struct FullDisk {
    const char* name;
    bool blocks;
    bool inodes;
    const char* error;
};

void PrintTo(const FullDisk& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadOntoAFullDisk : public DownloadTest, public ::testing::WithParamInterface<FullDisk> {};

TEST_P(DownloadOntoAFullDisk, FailsAndSaysWhy)
{
    const std::string why = morvtest::OnSmallTmpfs(dir_.path(), 256 * 1024, 64, [&] {
        ASSERT_EQ(updater_.Download_Firmware(kSerial, "1200", false, false), 1200u);
        const std::string before = settings();
        morvtest::FillFileSystem(dir_.path(), GetParam().blocks, GetParam().inodes);

        display_.clear();
        EXPECT_EQ(updater_.Download_Firmware(kSerial, "1234", false, false), 0u);
        EXPECT_EQ(display_.errors(), std::vector<std::string>{GetParam().error});
        EXPECT_EQ(settings(), before);
        EXPECT_EQ(readFile(device("1200.bird")), asText(good_));
        EXPECT_EQ(storetest::entries(device()), (std::vector<std::string>{".settings", "1200.bird"}));
    });
    if (!why.empty())
        GTEST_SKIP() << why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadOntoAFullDisk,
    ::testing::Values(FullDisk{"NoBlockLeft", true, false, "Failed to write file with 6 (No space left on device)"},
                      FullDisk{"NoInodeLeft", false, true, "Failed to write file with 3 (No space left on device)"}),
    [](const ::testing::TestParamInfo<FullDisk>& info) { return std::string(info.param.name); });

// Another run (here this test, with the directory's lock) keeps the device
// directory past the whole wait: the download gives up there, asks the
// server for no bundle, and stores nothing.
TEST_F(DownloadTest, ARunThatGaveUpWaitingForTheStoreDownloadsNothing)
{
    ASSERT_EQ(updater_.Download_Firmware(kSerial, "1200", false, false), 1200u);
    const std::string before = settings();
    DirectoryLock other(device(), std::chrono::milliseconds(0));
    ASSERT_TRUE(other.Held());

    RecordingDisplay display;
    Updater impatient(url_.c_str(), dir_.path().c_str(), display, std::chrono::milliseconds(300));
    server_.clearRecords();
    EXPECT_EQ(impatient.Download_Firmware(kSerial, "", false, false), 0u);
    EXPECT_EQ(display.errors(),
              std::vector<std::string>{"Another run still holds " + device() + ": gave up waiting for it"});
    const std::vector<std::string> asked = ops();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "bird"), 0) << "the bundle was requested";
    EXPECT_FALSE(entryExists(device("1234.bird")));
    EXPECT_EQ(settings(), before);
}

TEST_F(DownloadTest, SettingsThatCannotBeSavedMakeTheDownloadFail)
{
    // A directory where the settings file belongs: nothing can be recorded.
    dir_.makeDir(std::string(kDeviceDir) + "/.settings");
    display_.clear();
    EXPECT_EQ(updater_.Download_Firmware(kSerial, "", false, false), 0u);
    ASSERT_EQ(display_.errors().size(), 1u);
    EXPECT_EQ(display_.errors()[0].rfind("Failed to record the download in ", 0), 0u) << display_.errors()[0];
}

TEST_F(DownloadTest, AStoreThatCannotBeCreatedIsReported)
{
    const std::string file = dir_.sub("plain-file");
    storetest::writeFile(file, "x");
    Updater blocked(url_.c_str(), file.c_str(), display_);
    EXPECT_EQ(blocked.Download_Firmware(kSerial, "", false, false), 0u);
    ASSERT_EQ(display_.errors().size(), 1u);
    EXPECT_EQ(display_.errors()[0].rfind("Failed to Create UpdaterStore in: Download_Firmware - Exception: ", 0), 0u)
        << display_.errors()[0];
}

TEST_F(DownloadTest, ByFingerprintTheServerNamesSerialAndBuild)
{
    server_.setReply("fix", Reply::Ok({"0012ABCD", "1200"}));
    Fingerprint fingerprint{{1, 2, 3, 4}};
    EXPECT_EQ(updater_.Download_Firmware(fingerprint, "", false), 1200u);
    EXPECT_TRUE(entryExists(device("1200.bird")));
    const std::vector<std::string> queries = server_.queries();
    ASSERT_FALSE(queries.empty());
    EXPECT_EQ(queries.front(), "brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix&");

    // A build of our own wins over the server's.
    EXPECT_EQ(updater_.Download_Firmware(fingerprint, "1234", false), 1234u);
    EXPECT_NE(settings().find("LATEST_DOWNLOAD=1234.bird\n"), std::string::npos);

    display_.clear();
    server_.setReply("fix", Reply::Status(404, ""));
    EXPECT_EQ(updater_.Download_Firmware(fingerprint, "", false), 0u);
    EXPECT_EQ(display_.errors(),
              std::vector<std::string>{"Failed to retrieve recovery information from Zorventa update server"});
}

}  // namespace
