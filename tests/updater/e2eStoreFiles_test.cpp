// The real Updater program on a store that holds the user's own files beside
// the bundles: what a run may remove, create and open there.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FakeUpdateServer.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "UpdaterProgram.h"

namespace {

using morvtest::ChildResult;
using morvtest::SplitLines;
using updtest::describe;
using Lines = std::vector<std::string>;
using Reply = morvtest::FakeUpdateServer::Reply;

constexpr const char* kSerialText = "0012ABCD";

class StoreFiles : public ::testing::Test {
protected:
    StoreFiles() : program_(dir_.path(), server_.url()) {}

    std::string device(const std::string& name = "") const
    {
        return program_.storage() + "/" + kSerialText + (name.empty() ? "" : "/" + name);
    }

    morvtest::TempDir dir_;
    morvtest::FakeUpdateServer server_;
    updtest::UpdaterProgram program_;
};

// Hidden ".tmp" files of the user's own, beside the bundles, in a folder of the
// device directory and in a folder outside the store a link there leads to,
// all stay; only the run's own kind of leftover goes, and nothing is written
// below the device directory.
TEST_F(StoreFiles, TheListingRemovesOnlyItsOwnLeftovers)
{
    dir_.makeDir("updater/0012ABCD/old");
    const std::string outside = dir_.makeDir("userdocs");
    ASSERT_EQ(symlink(outside.c_str(), device("archive").c_str()), 0);
    const std::vector<std::string> users = {".my-notes.tmp", ".x.tmp", "old/.draft.tmp", "old/.1004.bird.tmp",
                                            "old/.settings.Ab3dEf.tmp"};
    for (const std::string& name : users)
        storetest::writeFile(device(name), "the user's");
    for (const char* name : {".thesis.tmp", ".x.tmp", ".settings.tmp", ".1004.bird.x7Qz2A.tmp"})
        storetest::writeFile(outside + "/" + name, "the user's");
    storetest::writeFile(device(".1004.bird.x7Qz2A.tmp"), "left by a killed run");

    const ChildResult r = program_.run({"-L", "-d", kSerialText});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(storetest::entries(device()),
              (std::vector<std::string>{".my-notes.tmp", ".settings", ".x.tmp", "archive", "old"}));
    EXPECT_EQ(storetest::entries(device("old")),
              (std::vector<std::string>{".1004.bird.tmp", ".draft.tmp", ".settings.Ab3dEf.tmp"}));
    EXPECT_EQ(storetest::entries(outside),
              (std::vector<std::string>{".1004.bird.x7Qz2A.tmp", ".settings.tmp", ".thesis.tmp", ".x.tmp"}));
}

// Where a bundle is expected, a FIFO (whose open would wait for a writer that
// never comes) or a folder is refused at once with a message naming it.
struct SpecialBundle {
    const char* name;
    bool fifo;                           // else a folder
    bool stored;                         // stands in the store as 1004.bird, else given with -f
    std::vector<std::string> arguments;  // after "-U -d 0012ABCD"; the path follows a trailing "-f"
    const char* lastError;               // the line after the one naming the bundle
};

void PrintTo(const SpecialBundle& c, std::ostream* out)
{
    *out << c.name;
}

class SpecialBundles : public StoreFiles, public ::testing::WithParamInterface<SpecialBundle> {};

TEST_P(SpecialBundles, AreRefusedWithoutWaiting)
{
    const SpecialBundle& c = GetParam();
    server_.setReply("qu", Reply::Ok({"1004", "2.11.3"}));
    const std::string path = c.stored ? device("1004.bird") : dir_.sub("special.bird");
    if (c.stored)
        dir_.makeDir("updater/0012ABCD");
    if (c.fifo)
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    else
        dir_.makeDir(path.substr(dir_.path().size() + 1));
    std::vector<std::string> arguments = {"-U", "-d", kSerialText};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    if (!arguments.empty() && arguments.back() == "-f")
        arguments.push_back(path);

    const ChildResult r = program_.run(arguments, std::chrono::seconds(20));
    ASSERT_FALSE(r.timedOut) << describe(r);
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.err), (Lines{"Birdfile " + path + " is not a regular file", c.lastError})) << describe(r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpecialBundles,
    ::testing::Values(
        SpecialBundle{"FifoGivenWithF", true, false, {"-f"}, "Failed to load bird file"},
        SpecialBundle{"FolderGivenWithF", false, false, {"-f"}, "Failed to load bird file"},
        SpecialBundle{"FifoStoredForTheBuild", true, true, {"-b", "1004"}, "Failed to load bird file"},
        SpecialBundle{"FifoStoredForTheServersBuild", true, true, {}, "Could not find valid build for this device."},
        SpecialBundle{"FifoGivenForImxRecovery",
                      true,
                      false,
                      {"-t", "RECOVER", "-s", "USB", "-f"},
                      "Could not get Device Identifier"}),
    [](const ::testing::TestParamInfo<SpecialBundle>& info) { return std::string(info.param.name); });

}  // namespace
