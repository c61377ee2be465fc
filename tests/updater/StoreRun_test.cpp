// A run's turns in store directories: one bounded wait for the whole run, told
// once, and the run's own turns never waiting for the run itself. The other
// run is a second lock on the directory (a lock of its own, as another
// process's would be).
#include "StoreRun.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DirectoryLock.h"
#include "TempDir.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct Told {
    std::vector<std::pair<std::string, unsigned>> waiting;
    std::vector<std::string> gaveUp;
};

std::unique_ptr<StoreRun> runWith(milliseconds bound, Told& told)
{
    return std::make_unique<StoreRun>(
        bound, [&told](const std::string& d, unsigned s) { told.waiting.emplace_back(d, s); },
        [&told](const std::string& d, unsigned) { told.gaveUp.push_back(d); });
}

class StoreRunTest : public ::testing::Test {
protected:
    morvtest::TempDir dir_;
    const std::string a_ = dir_.makeDir("0000000A");
    const std::string b_ = dir_.makeDir("0000000B");
    Told told_;
};

// Held elsewhere past the bound: the first turn waits the bound, says so once
// and gives up once; every later turn finds nothing left to wait and says nothing.
TEST_F(StoreRunTest, TheBoundIsForTheWholeRunAndToldOnce)
{
    DirectoryLock otherA(a_, milliseconds(0));
    DirectoryLock otherB(b_, milliseconds(0));
    ASSERT_TRUE(otherA.Held());
    ASSERT_TRUE(otherB.Held());
    auto run = runWith(milliseconds(300), told_);

    auto start = Clock::now();
    StoreTurn first = run->Take(a_);
    const auto waited = Clock::now() - start;
    EXPECT_FALSE(first.MayWrite());
    EXPECT_TRUE(first.TimedOut());
    EXPECT_GE(waited, milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_EQ(run->Left(), milliseconds(0));
    EXPECT_TRUE(run->GaveUp());

    start = Clock::now();
    for (const std::string& directory : {a_, b_, a_}) {
        StoreTurn later = run->Take(directory);
        EXPECT_FALSE(later.MayWrite());
        EXPECT_TRUE(later.TimedOut());
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "nothing was left to wait";
    ASSERT_EQ(told_.waiting.size(), 1u);
    EXPECT_EQ(told_.waiting[0].first, a_);
    EXPECT_EQ(told_.waiting[0].second, 1u) << "300 ms, in whole seconds";
    EXPECT_EQ(told_.gaveUp, std::vector<std::string>{a_});
}

// A holder that lets go ends the wait; the time waited is gone from the bound.
TEST_F(StoreRunTest, AWaitEndsWhenTheOtherRunLetsGo)
{
    auto other = std::make_unique<DirectoryLock>(a_, milliseconds(0));
    ASSERT_TRUE(other->Held());
    auto run = runWith(milliseconds(60000), told_);
    std::thread release([&] {
        std::this_thread::sleep_for(milliseconds(300));
        other.reset();
    });
    StoreTurn turn = run->Take(a_);
    release.join();
    EXPECT_TRUE(turn.Held());
    EXPECT_TRUE(turn.Fresh());
    EXPECT_LE(run->Left(), milliseconds(60000 - 300));
    ASSERT_EQ(told_.waiting.size(), 1u);
    EXPECT_EQ(told_.waiting[0], std::make_pair(a_, 60u));
    EXPECT_TRUE(told_.gaveUp.empty());
    EXPECT_FALSE(run->GaveUp());
}

// While the run holds a directory, its further turns there are its own at once
// (no other run gets one meanwhile); the lock goes with the last of them.
TEST_F(StoreRunTest, ATurnInsideAHeldOneIsTheRunsOwn)
{
    auto run = runWith(milliseconds(60000), told_);
    {
        StoreTurn outer = run->Take(a_);
        ASSERT_TRUE(outer.Held());
        EXPECT_TRUE(outer.Fresh());
        {
            const auto start = Clock::now();
            StoreTurn inner = run->Take(a_ + "/");  // the same directory by another name
            EXPECT_TRUE(inner.Held());
            EXPECT_FALSE(inner.Fresh());
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        }
        EXPECT_FALSE(DirectoryLock(a_, milliseconds(0)).Held()) << "the outer turn still holds it";
    }
    EXPECT_TRUE(DirectoryLock(a_, milliseconds(0)).Held());
    EXPECT_TRUE(told_.waiting.empty());
    EXPECT_EQ(run->Left(), milliseconds(60000)) << "no time spent waiting";
}

}  // namespace
