// Trace log: package filter, formatting limits and whole lines from two threads.
#include "Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Log::DeactivatePackage(0xFFFFFFFFu);
        stream = open_memstream(&data, &size);
        ASSERT_NE(nullptr, stream);
        Log::SetOutput(stream);
    }
    void TearDown() override
    {
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(0xFFFFFFFFu);
        fclose(stream);
        free(data);
    }
    std::string text()
    {
        fflush(stream);
        return std::string(data, size);
    }

    FILE* stream = nullptr;
    char* data = nullptr;
    size_t size = 0;
};

TEST_F(LogTest, WritesPackageZeroAlwaysAndOthersWhenEnabled)
{
    Log::log(0, "always %d\n", 1);
    Log::log(DEBUG_ServerComm, "hidden\n");
    Log::ActivatePackage(0x20);
    Log::log(DEBUG_ServerComm, "ServerCommClass: %s", "built ");
    Log::log(0x20, "from two calls\n");
    Log::log(DEBUG_Updater, "hidden\n");
    Log::log(0x21, "shares a bit\n");
    Log::ActivatePackage(DEBUG_Updater | DEBUG_APP);
    Log::DeactivatePackage(0x20);
    Log::log(0x20, "hidden\n");
    Log::log(DEBUG_Updater, "updater\n");
    Log::log(DEBUG_APP, "app\n");
    EXPECT_EQ("always 1\nServerCommClass: built from two calls\nshares a bit\nupdater\napp\n", text());
}

TEST_F(LogTest, CutsLongLinesAt2047Characters)
{
    const std::string longText(5000, 'y');
    Log::log(0, "%s", longText.c_str());
    EXPECT_EQ(std::string(2047, 'y'), text());
}

TEST_F(LogTest, WritesNothingWithoutAnOutput)
{
    Log::SetOutput(nullptr);
    Log::ActivatePackage(0xFFFFFFFFu);
    Log::log(0, "lost\n");
    Log::log(1, "lost\n");
    Log::SetOutput(stream);
    Log::log(0, "kept\n");
    EXPECT_EQ("kept\n", text());
}

TEST_F(LogTest, LinesFromTwoThreadsStayWhole)
{
    Log::ActivatePackage(DEBUG_APP);
    const int kLines = 2000;
    auto writer = [](char tag) {
        for (int i = 0; i < kLines; ++i)
            Log::log(DEBUG_APP, "%c%04d %s\n", tag, i, "abcdefghijklmnopqrstuvwxyz0123456789");
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();

    const std::string all = text();
    std::set<std::string> lines;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find('\n', start);
        ASSERT_NE(std::string::npos, end);
        lines.insert(all.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(2u * kLines, lines.size());
    for (char tag : {'A', 'B'})
        for (int i = 0; i < kLines; i += 97) {
            char line[64];
            snprintf(line, sizeof(line), "%c%04d abcdefghijklmnopqrstuvwxyz0123456789", tag, i);
            EXPECT_EQ(1u, lines.count(line));
        }
}

} // namespace
