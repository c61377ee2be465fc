// Settings saved ahead of a step that cannot be undone (PreparedSave), on a
// file system of the test's own that fills up (a small tmpfs: root only, so
// these are no tests for an unprivileged user).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "KeyValueStore.h"
#include "PathChecks.h"
#include "SmallFileSystem.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"

using storetest::kStampPattern;
using storetest::readFile;
using storetest::writeFile;

namespace {

class PreparedSaveTest : public ::testing::Test {
protected:
    std::string file() const { return dir.sub(".settings"); }

    morvtest::TempDir dir;
};

// A save prepared ahead of a step that cannot be undone: the whole new file
// stands synced beside the old one, whose place it takes on Commit with the
// step's time stamps written into it, even when the disk has filled up
// meanwhile (a small tmpfs of the test's own). Longer stamps could need
// space: the prepared ones stay then.
struct Renewal {
    const char* name;
    std::string date;  // LAST_TRANSFER_DATE at Commit
    std::string saved;  // what it holds in the file then
};

void PrintTo(const Renewal& c, std::ostream* out) { *out << c.name; }

class PreparedSaves : public PreparedSaveTest, public ::testing::WithParamInterface<Renewal> {};

TEST_P(PreparedSaves, CommitOnAFullDiskWithTheNewStamps) {
    const std::string why = morvtest::OnSmallTmpfs(dir.path(), 64 * 1024, 16, [&] {
        writeFile(file(), "GOOD=1\n");
        KeyValueStore store(file().c_str());
        store.Add("LATEST_TRANSFER", "9.bird");
        store.Add("LAST_TRANSFER_DATE", "Mon Jan  1 00:00:00 2024");
        PreparedSave prepared;
        int cause = -1;
        ASSERT_TRUE(store.Prepare(nullptr, &prepared, &cause));
        EXPECT_EQ(cause, 0);
        EXPECT_TRUE(prepared.Ready());
        EXPECT_EQ(readFile(file()), "GOOD=1\n") << "the old file stays until the commit";
        const std::vector<std::string> names = storetest::entries(dir.path());
        ASSERT_EQ(names.size(), 2u);
        const std::string temporary = names[1];
        EXPECT_THAT(temporary, ::testing::MatchesRegex("\\.settings\\.[A-Za-z0-9]{6}\\.tmp"));
        EXPECT_THAT(readFile(dir.sub(temporary)),
                    ::testing::MatchesRegex(std::string("GOOD=1\nLAST_TRANSFER_DATE=Mon Jan  1 00:00:00 2024\n"
                                                        "LATEST_TRANSFER=9.bird\nUPDATED_TIME=") +
                                            kStampPattern + "\n"));
        morvtest::FillFileSystem(dir.path(), true, true);

        KeyValueStore renewed;
        renewed.Add("LAST_TRANSFER_DATE", GetParam().date);
        ASSERT_TRUE(prepared.Commit(renewed, &cause));
        EXPECT_FALSE(prepared.Ready());
        EXPECT_THAT(readFile(file()),
                    ::testing::MatchesRegex("GOOD=1\nLAST_TRANSFER_DATE=" + GetParam().saved +
                                            "\nLATEST_TRANSFER=9.bird\nUPDATED_TIME=" + kStampPattern + "\n"));
        EXPECT_EQ(prepared.Store().GetString("LAST_TRANSFER_DATE", ""), GetParam().saved);
        EXPECT_FALSE(prepared.Store().IsDirty());
        EXPECT_FALSE(morvtest::entryExists(dir.sub(temporary)));
    });
    if (!why.empty()) GTEST_SKIP() << why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreparedSaves,
    ::testing::Values(Renewal{"SameLength", "Tue Feb  2 11:11:11 2025", "Tue Feb  2 11:11:11 2025"},
                      Renewal{"Shorter", "later", "later"},
                      Renewal{"Longer", "Tue Feb  2 11:11:11 2025 and more", "Mon Jan  1 00:00:00 2024"}),
    [](const ::testing::TestParamInfo<Renewal>& info) { return std::string(info.param.name); });

// A full disk fails the preparation, with the system's cause, and leaves
// nothing; a preparation dropped without a commit takes its temporary along.
TEST_F(PreparedSaveTest, AFailedOrDroppedPreparationLeavesTheOldFile) {
    const std::string why = morvtest::OnSmallTmpfs(dir.path(), 64 * 1024, 16, [&] {
        writeFile(file(), "GOOD=1\n");
        KeyValueStore store(file().c_str());
        store.Add("NEW", "2");
        {
            PreparedSave dropped;
            int cause = 0;
            ASSERT_TRUE(store.Prepare(nullptr, &dropped, &cause));
            EXPECT_EQ(storetest::entries(dir.path()).size(), 2u);
        }
        EXPECT_EQ(storetest::entries(dir.path()), std::vector<std::string>{".settings"});

        morvtest::FillFileSystem(dir.path(), true, false);
        PreparedSave prepared;
        int cause = 0;
        EXPECT_FALSE(store.Prepare(nullptr, &prepared, &cause));
        EXPECT_EQ(cause, ENOSPC);
        EXPECT_FALSE(prepared.Ready());
        EXPECT_FALSE(prepared.Commit(KeyValueStore(), &cause));
        EXPECT_TRUE(store.IsDirty());
        EXPECT_EQ(readFile(file()), "GOOD=1\n");
        EXPECT_EQ(storetest::entries(dir.path()), (std::vector<std::string>{".settings", "filler"}));
    });
    if (!why.empty()) GTEST_SKIP() << why;
}

}  // namespace
