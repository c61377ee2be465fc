#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "aVersion.h"

namespace {

// First in the file so that, run alone or in order, these threads make the
// first calls: the text is built lazily and must be built exactly once.
TEST(VersionString, FirstCallsFromManyThreadsAtOnceAgree)
{
    constexpr int THREADS = 8;
    std::mutex gateMutex;
    std::condition_variable gate;
    bool open = false;
    std::vector<std::string> seen(THREADS);
    std::vector<const char*> pointers(THREADS, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            {
                std::unique_lock<std::mutex> lock(gateMutex);
                gate.wait(lock, [&] { return open; });
            }
            pointers[i] = aVersion_GetString();
            seen[i] = pointers[i];
        });
    }
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        open = true;
    }
    gate.notify_all();
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < THREADS; ++i) {
        EXPECT_EQ(seen[i], "2.11.3");
        EXPECT_EQ(pointers[i], pointers[0]);
    }
}

TEST(VersionString, LibraryVersionIs2_11_3)
{
    EXPECT_STREQ(aVersion_GetString(), "2.11.3");
    EXPECT_EQ(aVersion_GetString(), aVersion_GetString());
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 11);
    EXPECT_EQ(aVersion_GetPatch(), 3);
}

struct PackRow {
    uint8_t major, minor, patch;
    uint32_t word;
    bool legacy;
};

TEST(VersionWord, PackGivesTheLayoutOfTheVersion)
{
    const PackRow rows[] = {
        {2, 14, 7, 0x2E000007u, true},
        {2, 15, 0, 0x2F020F00u, false},
        {3, 0, 1, 0x2F030001u, false},
        {0, 0, 0, 0x00000000u, true},
        {1, 10, 0x45, 0x1A000045u, true},
        {1, 15, 255, 0x1F0000FFu, true},
        {2, 255, 255, 0x2F02FFFFu, false},
        {255, 255, 255, 0x2FFFFFFFu, false},
        // A minor above 15 below 2.15 keeps only its low four bits.
        {1, 0x12, 3, 0x12000003u, true},
    };
    for (const PackRow& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.major) << "." << int(row.minor) << "."
                                        << int(row.patch));
        uint32_t word = aVersion_Pack(row.major, row.minor, row.patch);
        EXPECT_EQ(word, row.word);
        EXPECT_EQ(aVersion_IsLegacyFormat(word), row.legacy);
    }
}

struct ParseRow {
    uint32_t word;
    bool legacy;
    uint8_t major, minor;
    uint32_t patch;
    const char* text;
};

TEST(VersionWord, ParseReadsTheLayoutTheTopNibblesName)
{
    const ParseRow rows[] = {
        {0x2F020F00u, false, 2, 15, 0, "2.15.0"},
        {0x1A012345u, true, 1, 10, 0x012345, "1.10.74565"},
        {0x2EFFFFFFu, true, 2, 14, 0xFFFFFF, "2.14.16777215"},
        {0x30000000u, false, 0, 0, 0, "0.0.0"},
        {0xFF010203u, false, 1, 2, 3, "1.2.3"},
        {0x2F0B0C0Du, false, 11, 12, 13, "11.12.13"},
        {0x00000000u, true, 0, 0, 0, "0.0.0"},
    };
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.word);
        EXPECT_EQ(aVersion_IsLegacyFormat(row.word), row.legacy);
        EXPECT_EQ(aVersion_ParseMajor(row.word), row.major);
        EXPECT_EQ(aVersion_ParseMinor(row.word), row.minor);
        EXPECT_EQ(aVersion_ParsePatch(row.word), row.patch);
        char text[32];
        aVersion_ParseString(row.word, text, sizeof(text));
        EXPECT_STREQ(text, row.text);
    }
}

TEST(VersionWord, PackThenParseGivesTheNumbersBack)
{
    for (int major = 0; major < 256; major += 3) {
        for (int minor = 0; minor < 256; minor += 5) {
            if (major < 2 || (major == 2 && minor < 15)) {
                if (minor > 15)
                    continue;
            }
            uint32_t word = aVersion_Pack(uint8_t(major), uint8_t(minor), 0xA5);
            ASSERT_EQ(aVersion_ParseMajor(word), major) << major << "." << minor;
            ASSERT_EQ(aVersion_ParseMinor(word), minor) << major << "." << minor;
            ASSERT_EQ(aVersion_ParsePatch(word), 0xA5u) << major << "." << minor;
        }
    }
}

TEST(VersionWord, ParseStringTruncatesLikeSnprintf)
{
    char text[6];
    std::memset(text, 'x', sizeof(text));
    aVersion_ParseString(0x2F0B0C0Du, text, sizeof(text));
    EXPECT_STREQ(text, "11.12");
    char one[1] = {'x'};
    aVersion_ParseString(0x2F0B0C0Du, one, sizeof(one));
    EXPECT_EQ(one[0], '\0');
    aVersion_ParseString(0x2F0B0C0Du, nullptr, 0);  // must not crash
}

struct CompareRow {
    uint8_t a1, a2, a3, b1, b2, b3;
    bool atLeast;
};

TEST(VersionCompare, ComparesMajorThenMinorThenPatch)
{
    const CompareRow rows[] = {
        {2, 11, 3, 2, 11, 3, true},   {2, 11, 3, 2, 11, 4, false},
        {2, 11, 4, 2, 11, 3, true},   {2, 12, 0, 2, 11, 255, true},
        {2, 10, 255, 2, 11, 0, false}, {3, 0, 0, 2, 255, 255, true},
        {1, 255, 255, 2, 0, 0, false}, {0, 0, 0, 0, 0, 0, true},
        {255, 255, 255, 255, 255, 255, true}, {200, 0, 0, 100, 0, 0, true},
    };
    for (const CompareRow& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.a1) << "." << int(r.a2) << "." << int(r.a3)
                                        << " vs " << int(r.b1) << "." << int(r.b2) << "."
                                        << int(r.b3));
        EXPECT_EQ(aVersion_IsAtLeastCompare(r.a1, r.a2, r.a3, r.b1, r.b2, r.b3), r.atLeast);
    }
}

TEST(VersionCompare, LibraryIsAtLeastOnlyItsOwnAndOlderVersions)
{
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 3));
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 2));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 255, 255));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 4));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 12, 0));
    EXPECT_FALSE(aVersion_IsAtLeast(3, 0, 0));
}

TEST(VersionFeatures, OnlyTheExactVersionNameIsAFeature)
{
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIO"));
    EXPECT_FALSE(aVersion_HasFeature("VERSION "));
    EXPECT_FALSE(aVersion_HasFeature(""));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
}

TEST(VersionFeatures, ListIsOneLinePerFeatureAndIsReleased)
{
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    aVersion_DestroyFeatureList(&list);
    EXPECT_EQ(list, nullptr);
    aVersion_DestroyFeatureList(&list);  // already released: nothing happens
    aVersion_DestroyFeatureList(nullptr);
}

}  // namespace
