// Settings files: reading, the typed getters and setters, change tracking, and
// saving that never loses the good copy.
#include "KeyValueStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "Log.h"
#include "PathChecks.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"

using storetest::kStampPattern;
using storetest::readFile;
using storetest::writeFile;
using Pairs = std::map<std::string, std::string>;

namespace {

class KeyValueStoreTest : public ::testing::Test {
protected:
    std::string file(const char* name = ".settings") const { return dir.sub(name); }

    morvtest::TempDir dir;
};

struct LineCase {
    const char* label;
    std::string content;
    Pairs expected;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.label; }

class SettingsLines : public KeyValueStoreTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SettingsLines, ReadGivesThePairs) {
    writeFile(file(), GetParam().content);
    KeyValueStore store;
    store.Load(file().c_str());
    EXPECT_EQ(store.Pairs(), GetParam().expected);
    EXPECT_FALSE(store.IsDirty());
    EXPECT_EQ(store.Path(), file());
}

const std::string kFits(2046, 'y');      // 2047 characters with its newline
const std::string kTooLong(2047, 'y');   // 2048 with its newline

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsLines,
    ::testing::Values(
        LineCase{"comment", "# a=1\n", {}},
        LineCase{"plain", "a=1\n", {{"a", "1"}}},
        LineCase{"blanks", "  b =  two words  \n", {{"b", "two words"}}},
        LineCase{"no_equals", "abc\n", {{"abc", ""}}},
        LineCase{"too_short", "c\n", {}},
        LineCase{"empty_value", "x=\n", {{"x", ""}}},
        LineCase{"indented_hash_is_a_key", " #x =1\n", {{"#x", "1"}}},
        LineCase{"last_line_too_short", "a=1\nx=", {{"a", "1"}}},
        LineCase{"last_line_without_newline", "a=1\nkey=v", {{"a", "1"}, {"key", "v"}}},
        LineCase{"later_line_wins", "a=1\na=2\n", {{"a", "2"}}},
        LineCase{"first_equals_splits", "k = v = w\n", {{"k", "v = w"}}},
        LineCase{"empty_key", "=5\n", {{"", "5"}}},
        LineCase{"crlf_and_tabs", "\tkey\t=\tval\r\n", {{"key", "val"}}},
        LineCase{"line_that_fits", "a=1\n" + kFits + "\nb=2\n", {{"a", "1"}, {kFits, ""}, {"b", "2"}}},
        // A line longer than the reader's buffer is dropped, never the lines after it.
        LineCase{"too_long_line_skipped", "a=1\n" + kTooLong + "\nb=2\n", {{"a", "1"}, {"b", "2"}}},
        LineCase{"very_long_line_skipped", "a=1\nk=" + std::string(9000, 'v') + "\nb=2\nc=3\n",
                 {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        LineCase{"long_last_line", "a=1\n" + std::string(3000, 'z'), {{"a", "1"}}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.label); });

TEST_F(KeyValueStoreTest, LinesAfterATooLongLineSurviveASave) {
    writeFile(file(), "a=1\n" + kTooLong + "\nb=2\n");
    KeyValueStore store(file().c_str());
    store.Add("c", "3");
    ASSERT_TRUE(store.Save(nullptr));
    const std::string saved = readFile(file());
    EXPECT_NE(saved.find("a=1\n"), std::string::npos);
    EXPECT_NE(saved.find("b=2\n"), std::string::npos);
    EXPECT_NE(saved.find("c=3\n"), std::string::npos);
}

TEST_F(KeyValueStoreTest, MissingFileIsCreatedWithTwoTimeStamps) {
    KeyValueStore store(file().c_str());
    EXPECT_FALSE(store.IsDirty());
    ASSERT_EQ(store.Pairs().size(), 2u);
    const std::string saved = readFile(file());
    EXPECT_THAT(saved, ::testing::MatchesRegex(std::string("CREATED_TIME=") + kStampPattern + "\nUPDATED_TIME=" +
                                               kStampPattern + "\n"));
    EXPECT_EQ(KeyValueStore::TimeStamp().size(), 24u);
    // Created through a temporary file that is gone again.
    EXPECT_EQ(storetest::entries(dir.path()), std::vector<std::string>{".settings"});
}

TEST_F(KeyValueStoreTest, MissingFileInMissingDirectoryIsNotCreated) {
    storetest::TraceCapture trace(DEBUG_Attributes);
    KeyValueStore store(dir.sub("none/.settings").c_str());
    EXPECT_FALSE(morvtest::entryExists(dir.sub("none")));
    EXPECT_NE(trace.text().find("Attibutes: Error - cannot open attributes file: '" + dir.sub("none/.settings")),
              std::string::npos);
    EXPECT_NE(store["CREATED_TIME"], nullptr);
    EXPECT_NE(store["UPDATED_TIME"], nullptr);
}

// A settings file that is there but cannot be read must never be replaced.
class UnreadableFile : public KeyValueStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnreadableFile, IsNeitherRecreatedNorOverwritten) {
    const std::string kind = GetParam();
    const std::string path = file();
    if (kind == "mode_000") {
        writeFile(path, "a=1\n");
        chmod(path.c_str(), 0);
        if (storetest::canOpenForReading(path)) {
            chmod(path.c_str(), 0644);
            GTEST_SKIP() << "running as root: mode 000 does not stop reads (the directory case covers this)";
        }
    } else if (kind == "socket") {
        // Opening a socket file fails for everybody, root included.
        ASSERT_TRUE(storetest::makeSocketFile(path));
    } else if (kind == "fifo") {
        // Opened blocking, a FIFO without a writer would hold the reader for ever.
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else {
        dir.makeDir(".settings");
        writeFile(path + "/keep", "x");
    }

    KeyValueStore store(path.c_str());
    EXPECT_TRUE(store.Pairs().empty());
    store.Add("LATEST_DOWNLOAD", "12.bird");
    EXPECT_FALSE(store.Save(nullptr));
    EXPECT_TRUE(store.IsDirty());

    if (kind == "mode_000") {
        chmod(path.c_str(), 0644);
        EXPECT_EQ(readFile(path), "a=1\n");
    } else if (kind == "socket" || kind == "fifo") {
        struct stat info;
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(kind == "socket" ? S_ISSOCK(info.st_mode) : S_ISFIFO(info.st_mode));
    } else {
        EXPECT_TRUE(storetest::isDirectory(path));
        EXPECT_EQ(readFile(path + "/keep"), "x");
    }
    // Saving elsewhere still works.
    EXPECT_TRUE(store.Save(file("other").c_str()));
    EXPECT_NE(readFile(file("other")).find("LATEST_DOWNLOAD=12.bird\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnreadableFile, ::testing::Values("mode_000", "socket", "fifo", "directory"));

// A settings file that is a link (here a relative one to a second link) is
// updated where it points: the links stay, the file at the end of them takes
// the change, and no temporary is left in either folder.
TEST_F(KeyValueStoreTest, ALinkedFileIsUpdatedWhereItPoints)
{
    const std::string elsewhere = dir.makeDir("elsewhere");
    writeFile(elsewhere + "/settings.txt", "GOOD=1\n");
    ASSERT_EQ(symlink("settings.txt", (elsewhere + "/current").c_str()), 0);
    dir.makeDir("device");
    const std::string path = dir.sub("device/.settings");
    ASSERT_EQ(symlink("../elsewhere/current", path.c_str()), 0);

    KeyValueStore store(path.c_str());
    EXPECT_EQ(store.GetString("GOOD", ""), "1");
    store.Add("NEW", "2");
    ASSERT_TRUE(store.Save(nullptr));
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(lstat((elsewhere + "/current").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_NE(readFile(elsewhere + "/settings.txt").find("GOOD=1\nNEW=2\n"), std::string::npos);
    EXPECT_EQ(storetest::entries(dir.sub("device")), std::vector<std::string>{".settings"});
    EXPECT_EQ(storetest::entries(elsewhere), (std::vector<std::string>{"current", "settings.txt"}));
}

// A link that leads nowhere is neither replaced nor followed to create a file.
TEST_F(KeyValueStoreTest, ADanglingLinkIsRefused)
{
    dir.makeDir("device");
    const std::string path = dir.sub("device/.settings");
    ASSERT_EQ(symlink("../elsewhere/settings.txt", path.c_str()), 0);
    storetest::TraceCapture trace(DEBUG_Attributes);
    KeyValueStore store(path.c_str());
    EXPECT_TRUE(store.LoadFailed());
    store.Add("NEW", "2");
    EXPECT_FALSE(store.Save(nullptr));
    EXPECT_TRUE(store.IsDirty());
    EXPECT_THAT(trace.text(), ::testing::HasSubstr("Attibutes: Error - '" + path + "' is a link to nothing"));
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_FALSE(morvtest::entryExists(dir.sub("elsewhere")));
    EXPECT_EQ(storetest::entries(dir.sub("device")), std::vector<std::string>{".settings"});
}

// A save that fails keeps the good copy and the store dirty, so a later save
// still writes the change.
class FailedSave : public KeyValueStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedSave, KeepsTheGoodCopyAndStaysDirty) {
    const std::string kind = GetParam();
    const std::string path = file();
    writeFile(path, "GOOD=1\n");
    KeyValueStore store(path.c_str());
    store.Add("NEW", "2");

    if (kind == "read_only_directory") {
        chmod(dir.path().c_str(), 0555);
        if (storetest::canCreateIn(dir.path())) {
            chmod(dir.path().c_str(), 0755);
            GTEST_SKIP() << "running as root: a read-only directory does not stop writes";
        }
        EXPECT_FALSE(store.Save(nullptr));
        chmod(dir.path().c_str(), 0755);
    } else if (kind == "no_free_descriptor") {
        storetest::NoFreeDescriptor fault;
        EXPECT_FALSE(store.Save(nullptr));
    } else {
        storetest::NoFileGrowth fault;  // every write fails, as on a full disk
        EXPECT_FALSE(store.Save(nullptr));
    }
    EXPECT_TRUE(store.IsDirty());
    EXPECT_EQ(readFile(path), "GOOD=1\n");
    EXPECT_EQ(storetest::entries(dir.path()), std::vector<std::string>{".settings"})
        << "the failed temporary file was left behind";

    // With the obstacle gone the change is still there to be written.
    ASSERT_TRUE(store.Save(nullptr));
    EXPECT_FALSE(store.IsDirty());
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("GOOD=1\nNEW=2\nUPDATED_TIME="), std::string::npos) << saved;
    EXPECT_EQ(storetest::entries(dir.path()), std::vector<std::string>{".settings"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailedSave,
                         ::testing::Values("no_free_descriptor", "disk_full", "read_only_directory"));

TEST_F(KeyValueStoreTest, SaveWritesSortedLinesAndReadsThemBack) {
    KeyValueStore store;
    store.Add("UPDATED_TIME", "u");
    store.Add("LATEST_DOWNLOAD", "1234.bird");
    store.Add("LAST_DOWNLOAD_DATE", "d");
    store.Add("CREATED_TIME", "c");
    EXPECT_EQ(store.GetInt("ABSENT", 7), 7);  // inserted with an empty value
    ASSERT_TRUE(store.Save(file().c_str()));
    // UPDATED_TIME got a fresh stamp because the store was dirty.
    EXPECT_THAT(readFile(file()),
                ::testing::MatchesRegex(std::string("ABSENT=\nCREATED_TIME=c\nLAST_DOWNLOAD_DATE=d\n"
                                                    "LATEST_DOWNLOAD=1234.bird\nUPDATED_TIME=") +
                                        kStampPattern + "\n"));
    KeyValueStore reread(file().c_str());
    EXPECT_EQ(reread.Pairs(), store.Pairs());
}

TEST_F(KeyValueStoreTest, CleanStoreIsWrittenWithoutANewStamp) {
    writeFile(file(), "a=1\n");
    KeyValueStore store(file().c_str());
    writeFile(file(), "changed behind our back\n");
    ASSERT_TRUE(store.Save(nullptr));
    EXPECT_EQ(readFile(file()), "a=1\n");
}

TEST_F(KeyValueStoreTest, SaveWithoutAnyPathUsesTheDefaultInTheWorkingDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    storetest::TraceCapture trace(DEBUG_Attributes);
    KeyValueStore store;
    store.Add("a", 1);
    const bool saved = store.Save(nullptr);
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_TRUE(saved);
    EXPECT_EQ(store.Path(), ".settings");
    EXPECT_NE(readFile(file()).find("a=1\n"), std::string::npos);
    EXPECT_NE(trace.text().find("Attibutes: no filename given for attributes, using default:[.settings]\n"),
              std::string::npos);
}

struct GetterCase {
    const char* label;
    const char* value;  // null: key absent
    int asInt;
    unsigned asHex;
    bool asBool;
    double asDouble;
};

void PrintTo(const GetterCase& c, std::ostream* out) { *out << c.label; }

class TypedGetters : public ::testing::TestWithParam<GetterCase> {};

TEST_P(TypedGetters, ConvertTheText) {
    const GetterCase& c = GetParam();
    KeyValueStore store;
    if (c.value != nullptr) store.Add("k", c.value);
    const bool dirty = store.IsDirty();
    EXPECT_EQ(store.GetInt("k", -7), c.asInt);
    EXPECT_EQ(store.GetHex("k", 0xDEADu), c.asHex);
    EXPECT_EQ(store.GetBOOL("k", true), c.asBool);
    EXPECT_DOUBLE_EQ(store.GetDouble("k", -0.5), c.asDouble);
    // An absent key is added with an empty value, and that is no change.
    ASSERT_NE(store["k"], nullptr);
    EXPECT_EQ(store.IsDirty(), dirty);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedGetters,
    ::testing::Values(GetterCase{"absent", nullptr, -7, 0xDEADu, true, -0.5},
                      GetterCase{"empty", "", -7, 0xDEADu, true, -0.5},
                      GetterCase{"bundle_name", "1234.bird", 1234, 0x1234u, true, 1234.0},
                      GetterCase{"true_is_not_a_number", "true", 0, 0u, false, 0.0},
                      GetterCase{"one", "1", 1, 1u, true, 1.0},
                      GetterCase{"hex_prefix", "0x000000FF", 0, 255u, false, 255.0},
                      GetterCase{"hex_word", "ffffffff", 0, 0xFFFFFFFFu, false, 0.0},
                      GetterCase{"negative", "-3", -3, 0xFFFFFFFDu, true, -3.0},
                      GetterCase{"does_not_fit_an_int", "99999999999", INT_MAX, 0x99999999u, true, 99999999999.0},
                      GetterCase{"below_int", "-99999999999", INT_MIN, 0x66666667u, true, -99999999999.0},
                      GetterCase{"decimal", " 2.5", 2, 2u, true, 2.5}),
    [](const ::testing::TestParamInfo<GetterCase>& info) { return std::string(info.param.label); });

TEST(KeyValueStoreText, SettersFormatAndGetStringOnlySearches) {
    KeyValueStore store;
    store.AddHex("hex", 255);
    store.Add("int", -42);
    store.Add("double", 1.5);
    store.Add("string", std::string("text"));
    store.Add("empty", "");
    EXPECT_STREQ(store["hex"], "0x000000FF");
    EXPECT_EQ(store.GetHex("hex", 0), 255u);
    EXPECT_STREQ(store["int"], "-42");
    EXPECT_STREQ(store["double"], "1.500000");
    EXPECT_EQ(store.GetString("string", "d"), "text");
    EXPECT_EQ(store.GetString("empty", "d"), "");
    EXPECT_EQ(store.GetString("absent", "d"), "d");
    EXPECT_EQ(store.GetString("absent", nullptr), "");
    EXPECT_EQ(store["absent"], nullptr);
}

TEST(KeyValueStoreText, DirtyOnlyForRealChanges) {
    KeyValueStore store;
    store.Add("new_but_empty", "");
    EXPECT_FALSE(store.IsDirty());
    store.Add("k", "v");
    EXPECT_TRUE(store.IsDirty());

    KeyValueStore copy = store;
    KeyValueStore loaded;
    loaded.Add(copy);  // another store with pairs
    EXPECT_TRUE(loaded.IsDirty());
    EXPECT_STREQ(loaded["k"], "v");

    KeyValueStore clean;
    clean.Add(KeyValueStore());
    EXPECT_FALSE(clean.IsDirty());
    clean.Clear();
    EXPECT_TRUE(clean.IsDirty());
}

TEST_F(KeyValueStoreTest, RewritingTheSameValueIsNoChange) {
    writeFile(file(), "k=v\n");
    KeyValueStore store(file().c_str());
    store.Add("k", "v");
    EXPECT_FALSE(store.IsDirty());
    store.Add("k", "w");
    EXPECT_TRUE(store.IsDirty());
    store.Add("k", "w");
    EXPECT_TRUE(store.IsDirty());
}

TEST_F(KeyValueStoreTest, LoadMergesIntoThePairsItHolds) {
    writeFile(file(), "a=file\nb=2\n");
    KeyValueStore store;
    store.Add("a", "memory");
    store.Add("c", "3");
    store.Load(file().c_str());
    EXPECT_EQ(store.Pairs(), (Pairs{{"a", "file"}, {"b", "2"}, {"c", "3"}}));
    EXPECT_FALSE(store.IsDirty());
}

}  // namespace
