#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PathChecks.h"
#include "TempDir.h"
#include "aDirectory.h"

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

using morvtest::entryExists;

// Runs a test body from inside the temporary directory and goes back after.
class InDirectory {
public:
    explicit InDirectory(const std::string& path)
    {
        char* old = getcwd(nullptr, 0);
        if (old != nullptr) {
            previous_ = old;
            std::free(old);
        }
        entered_ = chdir(path.c_str()) == 0;
    }
    ~InDirectory()
    {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previous_;
    }
    bool entered() const { return entered_; }

private:
    std::string previous_;
    bool entered_ = false;
};

// Makes a chain of directories whose path passes `length` characters.
std::string deepPath(const morvtest::TempDir& dir, size_t length)
{
    std::string path = dir.path();
    const std::string level(200, 'd');
    while (path.size() < length) {
        path += "/" + level;
        if (mkdir(path.c_str(), 0755) != 0)
            return "";
    }
    return path;
}

TEST(DirectoryExists, OnlyForDirectories)
{
    morvtest::TempDir dir;
    writeFile(dir.sub("f"), "x");
    EXPECT_TRUE(aDirectory_Exists(dir.path().c_str()));
    EXPECT_FALSE(aDirectory_Exists(dir.sub("f").c_str()));
    EXPECT_FALSE(aDirectory_Exists(dir.sub("missing").c_str()));
    EXPECT_FALSE(aDirectory_Exists(nullptr));
}

TEST(DirectoryEnsure, CreatesEveryMissingLevel)
{
    morvtest::TempDir dir;
    {
        InDirectory inside(dir.path());
        ASSERT_TRUE(inside.entered());
        EXPECT_EQ(aDirectory_Ensure("a/b/c", 0755), aErrNone);
    }
    EXPECT_TRUE(aDirectory_Exists(dir.sub("a/b/c").c_str()));

    EXPECT_EQ(aDirectory_Ensure(dir.sub("a/x//y/z/").c_str(), 0700), aErrNone);
    EXPECT_TRUE(aDirectory_Exists(dir.sub("a/x/y/z").c_str()));
    struct stat st;
    ASSERT_EQ(stat(dir.sub("a/x/y").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_EQ(aDirectory_Ensure(dir.path().c_str(), 0755), aErrNone);
    EXPECT_EQ(aDirectory_Ensure(nullptr, 0755), aErrParam);
    EXPECT_EQ(aDirectory_Ensure("", 0755), aErrParam);
}

TEST(DirectoryEnsure, FailsWhereALevelCannotBeMade)
{
    morvtest::TempDir dir;
    writeFile(dir.sub("file"), "x");
    // A file in the way of a parent level.
    EXPECT_EQ(aDirectory_Ensure(dir.sub("file/below").c_str(), 0755), aErrPermission);
    // A file at the path itself passes (EEXIST is tolerated); callers check that.
    EXPECT_EQ(aDirectory_Ensure(dir.sub("file").c_str(), 0755), aErrNone);

    if (geteuid() != 0) {
        std::string locked = dir.makeDir("locked");
        ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
        EXPECT_EQ(aDirectory_Ensure(dir.sub("locked/a/b").c_str(), 0755), aErrPermission);
        chmod(locked.c_str(), 0755);
    }
}

struct Listed {
    std::map<std::string, aDirectoryListData> entries;  // by path; the path pointer is not kept
    int calls = 0;
    int stopAfter = -1;
};

uint8_t collect(const aDirectoryListData* data, void* ref)
{
    Listed* listed = static_cast<Listed*>(ref);
    ++listed->calls;
    aDirectoryListData copy = *data;
    copy.path = nullptr;
    listed->entries[data->path] = copy;
    return listed->calls == listed->stopAfter ? 0 : 1;
}

TEST(DirectoryList, HandsOverEveryEntryWithSizeAndKind)
{
    morvtest::TempDir dir;
    writeFile(dir.sub("five"), "12345");
    writeFile(dir.sub("empty"), "");
    dir.makeDir("sub");
    ASSERT_EQ(symlink("missing-target", dir.sub("dangling").c_str()), 0);

    Listed listed;
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), collect, &listed), aErrNone);
    // "." and ".." are entries too; the dangling link cannot be stat-ed and is skipped.
    EXPECT_EQ(listed.entries.size(), 5u);
    EXPECT_EQ(listed.calls, 5);
    ASSERT_EQ(listed.entries.count(dir.sub("five")), 1u);
    EXPECT_EQ(listed.entries[dir.sub("five")].size, 5u);
    EXPECT_EQ(listed.entries[dir.sub("five")].isDirectory, 0u);
    EXPECT_EQ(listed.entries[dir.sub("empty")].size, 0u);
    EXPECT_EQ(listed.entries[dir.sub("sub")].isDirectory, 1u);
    EXPECT_EQ(listed.entries[dir.sub(".")].isDirectory, 1u);
    EXPECT_EQ(listed.entries[dir.sub("..")].isDirectory, 1u);
    EXPECT_EQ(listed.entries.count(dir.sub("dangling")), 0u);
}

TEST(DirectoryList, CallbackEndsTheListing)
{
    morvtest::TempDir dir;
    writeFile(dir.sub("a"), "");
    writeFile(dir.sub("b"), "");
    Listed listed;
    listed.stopAfter = 1;
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), collect, &listed), aErrNone);
    EXPECT_EQ(listed.calls, 1);
}

TEST(DirectoryList, RefusesWhatCannotBeListed)
{
    morvtest::TempDir dir;
    writeFile(dir.sub("f"), "");
    Listed listed;
    EXPECT_EQ(aDirectory_List(dir.sub("missing").c_str(), collect, &listed), aErrNotFound);
    EXPECT_EQ(aDirectory_List(dir.sub("f").c_str(), collect, &listed), aErrNotFound);
    EXPECT_EQ(aDirectory_List(nullptr, collect, &listed), aErrParam);
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), nullptr, &listed), aErrParam);
    EXPECT_EQ(listed.calls, 0);
}

TEST(DirectoryList, SkipsEntriesWhosePathDoesNotFit)
{
    morvtest::TempDir dir;
    std::string deep = deepPath(dir, 1700);
    ASSERT_FALSE(deep.empty());
    ASSERT_LT(deep.size() + 1 + 10, size_t(aDIR_PATH_BUFFER));
    std::string longName(aDIR_PATH_BUFFER - deep.size(), 'n');  // joined: one too long
    ASSERT_LE(longName.size(), 255u);
    writeFile(deep + "/short", "");
    writeFile(deep + "/" + longName, "x");
    ASSERT_TRUE(entryExists(deep + "/" + longName));

    Listed listed;
    EXPECT_EQ(aDirectory_List(deep.c_str(), collect, &listed), aErrNone);
    EXPECT_EQ(listed.entries.count(deep + "/short"), 1u);
    EXPECT_EQ(listed.entries.count(deep + "/" + longName), 0u);
    EXPECT_EQ(listed.calls, 3);
}

TEST(DirectoryDelete, RemovesOnlyEmptyDirectories)
{
    morvtest::TempDir dir;
    std::string empty = dir.makeDir("empty");
    std::string full = dir.makeDir("full");
    writeFile(full + "/f", "");
    EXPECT_EQ(aDirectory_Delete(empty.c_str()), aErrNone);
    EXPECT_FALSE(entryExists(empty));
    EXPECT_EQ(aDirectory_Delete(full.c_str()), aErrUnknown);
    EXPECT_EQ(aDirectory_Delete(empty.c_str()), aErrUnknown);
}

TEST(DirectoryDeleteTree, RemovesTheWholeTree)
{
    morvtest::TempDir dir;
    std::string tree = dir.makeDir("tree/a/b/c");
    writeFile(dir.sub("tree/top"), "1");
    writeFile(dir.sub("tree/a/mid"), "2");
    writeFile(tree + "/leaf", "3");
    dir.makeDir("tree/empty");
    EXPECT_EQ(aDirectory_DeleteTree(dir.sub("tree").c_str()), aErrNone);
    EXPECT_FALSE(entryExists(dir.sub("tree")));
    EXPECT_EQ(aDirectory_DeleteTree(dir.sub("tree").c_str()), aErrNotFound);
    EXPECT_EQ(aDirectory_DeleteTree(nullptr), aErrParam);
    writeFile(dir.sub("plain"), "");
    EXPECT_EQ(aDirectory_DeleteTree(dir.sub("plain").c_str()), aErrNotFound);
    EXPECT_TRUE(entryExists(dir.sub("plain")));
}

TEST(DirectoryDeleteTree, RemovesLinksWithoutFollowingThem)
{
    morvtest::TempDir dir;
    std::string outside = dir.makeDir("outside");
    writeFile(outside + "/precious", "keep");
    writeFile(dir.sub("precious-file"), "keep");
    dir.makeDir("tree/sub");
    ASSERT_EQ(symlink(outside.c_str(), dir.sub("tree/linkdir").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), dir.sub("tree/sub/linkdir").c_str()), 0);
    ASSERT_EQ(symlink(dir.sub("precious-file").c_str(), dir.sub("tree/linkfile").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", dir.sub("tree/dangling").c_str()), 0);

    EXPECT_EQ(aDirectory_DeleteTree(dir.sub("tree").c_str()), aErrNone);
    EXPECT_FALSE(entryExists(dir.sub("tree")));
    EXPECT_TRUE(entryExists(outside + "/precious"));
    EXPECT_TRUE(entryExists(dir.sub("precious-file")));

    // A link named as the tree itself goes, its target stays.
    ASSERT_EQ(symlink(outside.c_str(), dir.sub("toplink").c_str()), 0);
    EXPECT_EQ(aDirectory_DeleteTree(dir.sub("toplink").c_str()), aErrNone);
    EXPECT_FALSE(entryExists(dir.sub("toplink")));
    EXPECT_TRUE(entryExists(outside + "/precious"));
}

TEST(DirectoryDeleteTree, RemovesTreesDeeperThanThePathBuffer)
{
    morvtest::TempDir dir;
    std::string root = dir.makeDir("root");
    std::string path = root;
    const std::string level(200, 'd');
    // As deep as the system lets us name, well past the 2048-byte buffer.
    while (path.size() + 1 + level.size() + 2 < PATH_MAX) {
        path += "/" + level;
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        writeFile(path + "/f", "x");
    }
    ASSERT_GT(path.size(), size_t(aDIR_PATH_BUFFER));
    EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrNone);
    EXPECT_FALSE(entryExists(root));
}

TEST(DirectoryDeleteTree, LeftoversAreAFailure)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root removes regardless of permissions";
    morvtest::TempDir dir;
    std::string locked = dir.makeDir("tree/locked");
    writeFile(locked + "/f", "x");
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    aErr result = aDirectory_DeleteTree(dir.sub("tree").c_str());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    chmod(locked.c_str(), 0755);
    EXPECT_EQ(result, aErrUnknown);
    EXPECT_TRUE(entryExists(locked + "/f"));
    EXPECT_EQ(out, "---error unlink-ing file [" + locked + "/f]\n");
    EXPECT_EQ(err.rfind("aDirectory_DeleteTree: ", 0), 0u) << err;
}

struct BuildRow {
    const char* first;
    const char* second;
    size_t size;
    aErr result;
    const char* joined;
};

TEST(DirectoryBuildPath, PutsOneSeparatorBetweenComponents)
{
    const BuildRow rows[] = {
        {"a", "b", 16, aErrNone, "a/b"},
        {"a/", "b", 16, aErrNone, "a/b"},
        {"a", "/b", 16, aErrNone, "a/b"},
        {"/root", "x.bird", 16, aErrNone, "/root/x.bird"},
        {"abc", "de", 8, aErrNone, "abc/de"},
        {"abc", "def", 8, aErrOverrun, "abc/"},    // one byte is always kept spare
        {"abc", "defg", 8, aErrOverrun, "abc/"},   // what was joined so far stays
        {"abcdefg", "x", 8, aErrOverrun, ""},      // first of size - 1 characters
        {"abcdef", "x", 8, aErrOverrun, "abcdef"}, // no room for the separator and x
        {"abcdef", "", 8, aErrNone, "abcdef"},
    };
    for (const BuildRow& row : rows) {
        SCOPED_TRACE(testing::Message() << row.first << " + " << row.second << " in " << row.size);
        char buffer[64];
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(aDirectory_JoinPath(buffer, row.size, row.first, row.second), row.result);
        EXPECT_STREQ(buffer, row.joined);
    }
}

TEST(DirectoryBuildPath, TakesUpToTenComponents)
{
    char buffer[64];
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "1", "2", "3", "4", "5", "6", "7",
                                   "8", "9", "10", (const char*)nullptr),
              aErrNone);
    EXPECT_STREQ(buffer, "1/2/3/4/5/6/7/8/9/10");
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "1", "2", "3", "4", "5", "6", "7",
                                   "8", "9", "10", "11", (const char*)nullptr),
              aErrParam);
    EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof(buffer), "only", (const char*)nullptr),
              aErrNone);
    EXPECT_STREQ(buffer, "only");
}

TEST(DirectoryBuildPath, RefusesBadBuffers)
{
    char buffer[16] = "abc";
    EXPECT_EQ(aDirectory_JoinPath(nullptr, 16, "a", "b"), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(buffer, 0, "a", "b"), aErrParam);
    EXPECT_STREQ(buffer, "abc") << "size 0 must leave the buffer alone";
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), buffer, "b"), aErrParam);
    std::strcpy(buffer, "abc");
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), "a", buffer), aErrParam);
    std::strcpy(buffer, "abc");
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), "a", buffer + 1), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof(buffer), nullptr, "b"), aErrParam);
}

TEST(DirectoryHome, GivesTheUsersHomeAlwaysTerminated)
{
    const char* expected = nullptr;
    struct passwd* pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0')
        expected = pw->pw_dir;
    else
        expected = std::getenv("HOME");
    std::string home = expected != nullptr ? expected : "";

    char buffer[4096];
    EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, sizeof(buffer)), aErrNone);
    EXPECT_EQ(std::string(buffer), home);

    for (size_t size = 1; size <= home.size() + 1; ++size) {
        char small[4096];
        std::memset(small, 'x', sizeof(small));
        EXPECT_EQ(aDirectory_GetHomeDirectory(small, size), aErrNone);
        ASSERT_EQ(std::string(small), home.substr(0, size - 1)) << size;
    }
    EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, 0), aErrParam);
    EXPECT_EQ(aDirectory_GetHomeDirectory(nullptr, 16), aErrParam);
}

TEST(DirectoryProcess, WorkingDirectoryAndExecutablePath)
{
    morvtest::TempDir dir;
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
    {
        InDirectory inside(dir.path());
        ASSERT_TRUE(inside.entered());
        char buffer[PATH_MAX];
        EXPECT_EQ(aDirectory_CWD(buffer, sizeof(buffer)), aErrNone);
        EXPECT_STREQ(buffer, real);
        EXPECT_EQ(aDirectory_CWD(buffer, 2), aErrParam);
    }

    char exe[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", exe), nullptr);
    char buffer[PATH_MAX];
    EXPECT_EQ(aDirectory_ExecutableFilePath(buffer, sizeof(buffer)), aErrNone);
    EXPECT_STREQ(buffer, exe);
    char small[6];
    EXPECT_EQ(aDirectory_ExecutableFilePath(small, sizeof(small)), aErrNone);
    EXPECT_EQ(std::string(small), std::string(exe).substr(0, 5));
}

}  // namespace
