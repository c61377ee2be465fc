// A replaced file survives a power cut: its data is synced before it takes the
// target's name, and the directory after. This program defines fdatasync, fsync
// and rename itself (passing each on to the C library), so the order of the
// calls the store makes can be seen and a failing sync can be made.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ReplaceFile.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "aError.h"

namespace {

struct Call {
    std::string what;  // "sync file", "sync directory", "rename"
    off_t size = 0;    // of a synced file
    ino_t inode = 0;   // of a synced directory
    std::string to;    // of a rename
};

std::vector<Call> g_calls;
bool g_recording = false;
int g_failFileSync = 0;       // errno to fail a file's sync with, 0 none
int g_failDirectorySync = 0;  // errno to fail a directory's sync with, 0 none

template <typename F> F realFunction(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int recordSync(int fd, const char* name)
{
    struct stat info;
    if (g_recording && fstat(fd, &info) == 0) {
        const bool directory = S_ISDIR(info.st_mode);
        g_calls.push_back({directory ? "sync directory" : "sync file", info.st_size, info.st_ino, ""});
        const int fail = directory ? g_failDirectorySync : g_failFileSync;
        if (fail != 0) {
            errno = fail;
            return -1;
        }
    }
    return realFunction<int (*)(int)>(name)(fd);
}

}  // namespace

extern "C" int fdatasync(int fd)
{
    return recordSync(fd, "fdatasync");
}
extern "C" int fsync(int fd)
{
    return recordSync(fd, "fsync");
}
extern "C" int rename(const char* from, const char* to)
{
    if (g_recording)
        g_calls.push_back({"rename", 0, 0, to});
    return realFunction<int (*)(const char*, const char*)>("rename")(from, to);
}

namespace {

class ReplaceFileSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        target_ = dir_.sub("12.bird");
        storetest::writeFile(target_, "good old bundle");
        struct stat info;
        ASSERT_EQ(stat(dir_.path().c_str(), &info), 0);
        directory_ = info.st_ino;
        g_calls.clear();
        g_failFileSync = 0;
        g_failDirectorySync = 0;
    }
    void TearDown() override { g_recording = false; }

    aErr replace(const std::string& data)
    {
        ReplaceFile out(target_);
        if (!out.Open() || !out.Write(data.data(), data.size()))
            return aErrIO;
        g_recording = true;
        const aErr err = out.Commit();
        g_recording = false;
        return err;
    }

    morvtest::TempDir dir_;
    std::string target_;
    ino_t directory_ = 0;
};

TEST_F(ReplaceFileSync, DataIsSyncedBeforeTheRenameAndTheDirectoryAfter)
{
    const std::string data(100000, 'n');
    ASSERT_EQ(replace(data), aErrNone);
    EXPECT_EQ(storetest::readFile(target_), data);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].what, "sync file");
    EXPECT_EQ(g_calls[0].size, static_cast<off_t>(data.size())) << "all of it written before the sync";
    EXPECT_EQ(g_calls[1].what, "rename");
    EXPECT_EQ(g_calls[1].to, target_);
    EXPECT_EQ(g_calls[2].what, "sync directory");
    EXPECT_EQ(g_calls[2].inode, directory_);
}

// A sync that fails is a failed write: the good file stays, no temporary is left.
TEST_F(ReplaceFileSync, AFailedDataSyncKeepsTheGoodFile)
{
    g_failFileSync = EIO;
    EXPECT_EQ(replace("new bundle"), aErrIO);
    EXPECT_EQ(storetest::readFile(target_), "good old bundle");
    EXPECT_EQ(storetest::entries(dir_.path()), std::vector<std::string>{"12.bird"});
    for (const Call& call : g_calls)
        EXPECT_NE(call.what, "rename");
}

// The new file is in place, but it may not outlive a power cut: reported.
TEST_F(ReplaceFileSync, AFailedDirectorySyncIsReported)
{
    g_failDirectorySync = EIO;
    EXPECT_EQ(replace("new bundle"), aErrIO);
    EXPECT_EQ(storetest::readFile(target_), "new bundle");
    EXPECT_EQ(storetest::entries(dir_.path()), std::vector<std::string>{"12.bird"});
}

}  // namespace
