#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"
#include "aFile.h"

namespace {

class FileTest : public testing::Test {
protected:
    morvtest::TempDir dir;

    std::string make(const std::string& name, const std::string& content)
    {
        std::string path = dir.sub(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static std::string contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(FileTest, ExistsOnlyForFilesWithPathsThatFit)
{
    std::string file = make("f", "x");
    EXPECT_TRUE(aFile_Exists(file.c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path().c_str()));
    EXPECT_FALSE(aFile_Exists(dir.sub("missing").c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
    std::string tooLong(4097, 'a');
    EXPECT_FALSE(aFile_Exists(tooLong.c_str()));
}

TEST_F(FileTest, OpenRefusesBadArgumentsAndMissingFiles)
{
    std::string file = make("f", "x");
    EXPECT_EQ(aFile_Open(nullptr, aFILE_MODE_READ), nullptr);
    EXPECT_EQ(aFile_Open("", aFILE_MODE_READ), nullptr);
    EXPECT_EQ(aFile_Open(file.c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open(file.c_str(), -1), nullptr);
    EXPECT_EQ(aFile_Open(dir.sub("missing").c_str(), aFILE_MODE_READ), nullptr);
    EXPECT_EQ(aFile_Open(dir.sub("no/such/dir").c_str(), aFILE_MODE_WRITE), nullptr);
    std::string tooLong = dir.path() + "/" + std::string(4096, 'a');
    EXPECT_EQ(aFile_Open(tooLong.c_str(), aFILE_MODE_WRITE), nullptr);
}

TEST_F(FileTest, WriteTruncatesThenReadGivesTheBytesBack)
{
    std::string path = make("f", "old content that is longer");
    aFile* f = aFile_Open(path.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(f, nullptr);
    size_t written = 0;
    EXPECT_EQ(aFile_Write(f, "abc\0def", 7, &written), aErrNone);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(aFile_Printf(f, "%d-%s", 42, "z"), aErrNone);
    char buffer[8];
    EXPECT_EQ(aFile_Read(f, buffer, 1, nullptr), aErrMode);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(contents(path), std::string("abc\0def42-z", 11));

    f = aFile_Open(path.c_str(), aFILE_MODE_READ);
    ASSERT_NE(f, nullptr);
    char data[32] = {};
    size_t got = 0;
    EXPECT_EQ(aFile_Read(f, data, sizeof(data), &got), aErrNone);
    EXPECT_EQ(std::string(data, got), std::string("abc\0def42-z", 11));
    EXPECT_EQ(aFile_Read(f, data, 10, &got), aErrEOF);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(aFile_Read(f, data, 0, &got), aErrNone);
    EXPECT_EQ(aFile_Write(f, "x", 1, nullptr), aErrMode);
    EXPECT_EQ(aFile_Printf(f, "x"), aErrMode);
    EXPECT_EQ(aFile_SetUnbuffered(f), aErrMode);
    EXPECT_EQ(aFile_Read(f, nullptr, 1, nullptr), aErrParam);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
}

TEST_F(FileTest, AppendStartsAtTheEndAndCanReadBack)
{
    std::string path = make("f", "0123");
    aFile* f = aFile_Open(path.c_str(), aFILE_MODE_APPEND);
    ASSERT_NE(f, nullptr);
    int64_t position = -1;
    EXPECT_EQ(aFile_GetPosition(f, &position), aErrNone);
    EXPECT_EQ(position, 4);
    EXPECT_EQ(aFile_Write(f, "45", 2, nullptr), aErrNone);
    // Switching from writing to reading on one stream.
    EXPECT_EQ(aFile_Seek(f, 0, aFILE_SEEK_START), aErrNone);
    char data[8] = {};
    size_t got = 0;
    EXPECT_EQ(aFile_Read(f, data, 3, &got), aErrNone);
    EXPECT_EQ(std::string(data, got), "012");
    EXPECT_EQ(aFile_Write(f, "6", 1, nullptr), aErrNone);  // appends regardless
    EXPECT_EQ(aFile_Read(f, data, sizeof(data), &got), aErrEOF);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
    EXPECT_EQ(contents(path), "0123456");
}

TEST_F(FileTest, SeekStaysWithinTheFile)
{
    std::string path = make("f", "0123456789");
    aFile* f = aFile_Open(path.c_str(), aFILE_MODE_READ);
    ASSERT_NE(f, nullptr);
    int64_t position = -1;
    EXPECT_EQ(aFile_GetPosition(f, &position), aErrNone);
    EXPECT_EQ(position, 0);
    uint64_t size = 0;
    EXPECT_EQ(aFile_GetSize(f, &size), aErrNone);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(aFile_GetSize(f, nullptr), aErrParam);

    struct Row {
        int64_t offset;
        int origin;
        aErr result;
        int64_t position;  // afterwards
    };
    const Row rows[] = {
        {4, aFILE_SEEK_START, aErrNone, 4},
        {2, aFILE_SEEK_CURRENT, aErrNone, 6},
        {-6, aFILE_SEEK_CURRENT, aErrNone, 0},
        {10, aFILE_SEEK_START, aErrNone, 10},  // exactly the size
        {11, aFILE_SEEK_START, aErrRange, 10},
        {-1, aFILE_SEEK_END, aErrNone, 9},
        {1, aFILE_SEEK_END, aErrRange, 9},
        {-11, aFILE_SEEK_END, aErrRange, 9},
        {-10, aFILE_SEEK_CURRENT, aErrRange, 9},
        {3, 7, aErrNone, 3},  // unknown origin counts as the start
        {INT64_MAX, aFILE_SEEK_CURRENT, aErrRange, 3},
        {INT64_MIN, aFILE_SEEK_END, aErrRange, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.offset << " from " << row.origin);
        EXPECT_EQ(aFile_Seek(f, row.offset, row.origin), row.result);
        EXPECT_EQ(aFile_GetPosition(f, &position), aErrNone);
        EXPECT_EQ(position, row.position);
    }
    EXPECT_EQ(aFile_Seek(f, -1, aFILE_SEEK_END), aErrNone);
    char last = 0;
    EXPECT_EQ(aFile_Read(f, &last, 1, nullptr), aErrNone);
    EXPECT_EQ(last, '9');
    EXPECT_EQ(aFile_Close(&f), aErrNone);
}

TEST_F(FileTest, ReadLineReportsLinesLongerThanTheBuffer)
{
    std::string fifteen(15, 'a');
    std::string fourteen(14, 'b');
    std::string path = make("f", fifteen + "\n" + fourteen + "\n" + "tail");
    aFile* f = aFile_Open(path.c_str(), aFILE_MODE_READ);
    ASSERT_NE(f, nullptr);
    char buffer[16];
    size_t length = 99;

    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrOverrun);
    EXPECT_EQ(length, 15u);
    EXPECT_EQ(std::string(buffer), fifteen);
    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_EQ(std::string(buffer), "\n");
    EXPECT_EQ(length, 1u);

    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_EQ(length, 15u);
    EXPECT_EQ(std::string(buffer), fourteen + "\n");

    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrNone);
    EXPECT_EQ(std::string(buffer), "tail");
    EXPECT_EQ(length, 4u);

    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrEOF);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(aFile_ReadLine(f, buffer, 0, &length), aErrParam);
    EXPECT_EQ(aFile_Close(&f), aErrNone);

    f = aFile_Open(path.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(aFile_ReadLine(f, buffer, sizeof(buffer), &length), aErrMode);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
}

TEST_F(FileTest, CloseClearsTheHandleAndRefusesNone)
{
    EXPECT_EQ(aFile_Close(nullptr), aErrParam);
    aFile* none = nullptr;
    EXPECT_EQ(aFile_Close(&none), aErrParam);
    EXPECT_EQ(aFile_Write(nullptr, "x", 1, nullptr), aErrParam);
    EXPECT_EQ(aFile_Read(nullptr, &none, 1, nullptr), aErrParam);
    EXPECT_EQ(aFile_Seek(nullptr, 0, 0), aErrParam);
    EXPECT_EQ(aFile_GetPosition(nullptr, nullptr), aErrParam);
    EXPECT_EQ(aFile_Printf(nullptr, "x"), aErrParam);
}

// /dev/full takes the open and refuses every byte: the loss must be reported.
class FullDevice : public testing::Test {
protected:
    void SetUp() override
    {
        if (access("/dev/full", W_OK) != 0)
            GTEST_SKIP() << "no writable /dev/full";
    }
};

TEST_F(FullDevice, ShortUnbufferedWriteIsAnIOError)
{
    aFile* f = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(aFile_SetUnbuffered(f), aErrNone);
    size_t written = 99;
    EXPECT_EQ(aFile_Write(f, "abcd", 4, &written), aErrIO);
    EXPECT_LT(written, 4u);
    EXPECT_EQ(aFile_Printf(f, "%s", "abcd"), aErrIO);
    aFile_Close(&f);
    EXPECT_EQ(f, nullptr);
}

TEST_F(FullDevice, BufferedDataLostAtCloseIsReported)
{
    aFile* f = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(aFile_Write(f, "abcd", 4, nullptr), aErrNone);  // still in the buffer
    EXPECT_EQ(aFile_Close(&f), aErrIO);
    EXPECT_EQ(f, nullptr);
}

TEST_F(FileTest, DeleteMapsTheSystemErrors)
{
    std::string path = make("f", "x");
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists(path.c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    std::string tooLong(4097, 'a');
    EXPECT_EQ(aFile_Delete(tooLong.c_str()), aErrFileNameLength);
    EXPECT_EQ(aFile_Delete(dir.path().c_str()), aErrIO);  // a directory: EISDIR

    if (geteuid() != 0) {
        std::string locked = dir.makeDir("locked");
        std::string inside = make("locked/f", "x");
        ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
        EXPECT_EQ(aFile_Delete(inside.c_str()), aErrPermission);
        chmod(locked.c_str(), 0755);
    }
}

}  // namespace
