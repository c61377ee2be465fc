// Build lists from the update server and from the local store, and the feature token.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "FakeUpdateServer.h"
#include "PathChecks.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "Updater.h"
#include "UpdaterTestDisplay.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;
using Builds = std::map<std::string, std::string>;
using updtest::RecordingDisplay;

constexpr uint32_t kSerial = 0x0012ABCD;

class BuildListTest : public ::testing::Test {
protected:
    BuildListTest() : url_(server_.url()), updater_(url_.c_str(), dir_.path().c_str(), display_) {}

    std::string device(const std::string& name) const { return dir_.sub("0012ABCD/" + name); }
    void storeBundle(const std::string& name, const std::string& version) const
    {
        BundleBuilder().descriptor("1", version, "0012ABCD", "USBHub3p").firmware(0x100, Bytes(8, 1)).writeTo(device(name));
    }

    FakeUpdateServer server_;
    morvtest::TempDir dir_;
    RecordingDisplay display_;
    std::string url_;
    Updater updater_;
};

TEST_F(BuildListTest, ServerListIsReturnedAsSent)
{
    server_.setReply("builds", Reply::Ok({"1234;2.11.3", "1200;2.10.0", "12", "1300"}));
    EXPECT_EQ(updater_.Get_BuildList(kSerial), (Builds{{"1200", "2.10.0"}, {"1234", "2.11.3"}, {"1300", ""}}));
    EXPECT_TRUE(display_.lines.empty());
    EXPECT_EQ(server_.queries().back(), "op=builds&sn=0012ABCD&");
}

TEST_F(BuildListTest, ServerFailuresAreReportedWithAnEmptyList)
{
    server_.setReply("builds", Reply::Status(500, ""));
    EXPECT_TRUE(updater_.Get_BuildList(kSerial).empty());
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Failed to retrieve builds for 0012ABCD"});

    display_.clear();
    server_.setReply("hi", Reply::Status(503, ""));
    EXPECT_TRUE(updater_.Get_BuildList(kSerial).empty());
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Server request failed for " + url_});
}

TEST_F(BuildListTest, TokenIsFetchedOrReported)
{
    server_.setReply("ent_jwt", Reply::Ok({"aa.bb.cc"}));
    EXPECT_EQ(updater_.Get_JWT(kSerial), "aa.bb.cc");
    EXPECT_EQ(server_.queries().back(), "json=false&op=ent_jwt&sn=0012ABCD&");
    EXPECT_TRUE(display_.lines.empty());

    server_.setReply("ent_jwt", Reply::Ok({"a.b.c"}));
    EXPECT_EQ(updater_.Get_JWT(kSerial), "");
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Failed to retrieve jwt for 0012ABCD"});

    display_.clear();
    server_.setReply("hi", Reply::Status(500, ""));
    EXPECT_EQ(updater_.Get_JWT(kSerial), "");
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Server request failed for " + url_});
}

TEST_F(BuildListTest, LocalListShowsEveryEntryAndSurvivesBrokenOnes)
{
    dir_.makeDir("0012ABCD/sub");
    storeBundle("1234.bird", "2.11.3");
    storeBundle("1234.bird.old", "2.0.0");
    // Passes the header check, but its body is no zlib stream.
    storetest::writeFile(device("1300.bird"), std::string("bird\x01\x01", 6) + "garbage that does not inflate");
    ASSERT_EQ(mkfifo(device("1400.bird").c_str(), 0600), 0);
    BundleBuilder().firmware(0x100, Bytes(8, 1)).writeTo(device("1500.bird"));
    storetest::writeFile(device("notes.txt"), "hello");
    storetest::writeFile(device(".hidden"), "x");

    Builds local = updater_.Get_BuildListLocal(kSerial);
    ASSERT_EQ(local.count("1234"), 1u);
    const std::string v1234 = local["1234"];
    EXPECT_TRUE(v1234 == "2.11.3" || v1234 == "2.0.0") << v1234;
    local.erase("1234");
    EXPECT_EQ(local, (Builds{{"1300", ""}, {"1400", ""}, {"1500", ""}, {"notes.txt", ""}, {"sub", ""}}));
    EXPECT_TRUE(display_.lines.empty());
}

TEST_F(BuildListTest, LocalListOfAnUnknownDeviceIsEmptyAndCreatesNothing)
{
    EXPECT_TRUE(updater_.Get_BuildListLocal(kSerial).empty());
    EXPECT_FALSE(morvtest::entryExists(dir_.sub("0012ABCD")));
    EXPECT_TRUE(display_.lines.empty());
}

TEST_F(BuildListTest, LocalListOfAStoreThatCannotBeCreatedIsReported)
{
    const std::string file = dir_.sub("plain-file");
    storetest::writeFile(file, "x");
    Updater blocked(url_.c_str(), file.c_str(), display_);
    EXPECT_TRUE(blocked.Get_BuildListLocal(kSerial).empty());
    ASSERT_EQ(display_.errors().size(), 1u);
    EXPECT_EQ(display_.errors()[0].rfind("Failed to Create UpdaterStore in: Get_BuildListLocal - Exception: ", 0), 0u);
}

}  // namespace
