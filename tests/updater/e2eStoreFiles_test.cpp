// The real Updater program on a store that holds the user's own files beside
// the bundles: what a run may remove, create and open there.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FakeUpdateServer.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "UpdaterProgram.h"

namespace {

using morvtest::ChildResult;
using updtest::describe;

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

}  // namespace
