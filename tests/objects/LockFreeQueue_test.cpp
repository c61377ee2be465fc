#include "LockFreeQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using Zorventa::LocklessQueue_SPSC;

TEST(LockFreeQueue, HoldsOneLessThanItsCapacityInOrder)
{
    LocklessQueue_SPSC<int> q(5);
    int out = -1;
    EXPECT_FALSE(q.pop(&out));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(q.push(i)) << i;
    EXPECT_FALSE(q.push(99));  // full: one slot stays free
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(q.pop(&out));
        EXPECT_EQ(out, i);
    }
    EXPECT_FALSE(q.pop(&out));
    EXPECT_EQ(out, 3);  // a failed pop leaves the out value alone
}

TEST(LockFreeQueue, WrapsAroundManyTimes)
{
    LocklessQueue_SPSC<int> q(3);
    int out = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(q.push(2 * i));
        ASSERT_TRUE(q.push(2 * i + 1));
        ASSERT_FALSE(q.push(-1));
        ASSERT_TRUE(q.pop(&out));
        EXPECT_EQ(out, 2 * i);
        ASSERT_TRUE(q.pop(&out));
        EXPECT_EQ(out, 2 * i + 1);
    }
}

TEST(LockFreeQueue, CapacityKeepsItsLow16BitsAndTinyCapacitiesHoldNothing)
{
    struct Case {
        std::uint32_t given;
        std::uint16_t kept;
        int holds;
    } cases[] = {
        {0, 0, 0}, {1, 1, 0}, {2, 2, 1}, {500, 500, 499}, {0x10003, 3, 2}, {0x10000, 0, 0},
    };
    for (const auto& c : cases) {
        LocklessQueue_SPSC<int> q(c.given);
        EXPECT_EQ(q.capacity(), c.kept) << c.given;
        int n = 0;
        while (n < 1000 && q.push(n))
            ++n;
        EXPECT_EQ(n, c.holds) << c.given;
        int out;
        for (int i = 0; i < c.holds; ++i)
            EXPECT_TRUE(q.pop(&out));
        EXPECT_FALSE(q.pop(&out)) << c.given;
    }
}

TEST(LockFreeQueue, IncrementWrapsToZeroAtTheCapacity)
{
    LocklessQueue_SPSC<int> q(500);
    EXPECT_EQ(q._increment(0), 1);
    EXPECT_EQ(q._increment(498), 499);
    EXPECT_EQ(q._increment(499), 0);
}

TEST(LockFreeQueue, MovesOwningElementsWithoutCopies)
{
    LocklessQueue_SPSC<std::unique_ptr<std::string>> q(4);
    ASSERT_TRUE(q.push(std::make_unique<std::string>("a")));
    std::unique_ptr<std::string> out;
    ASSERT_TRUE(q.pop(&out));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "a");
}

// One producer, one consumer, a small ring so both sides wrap and meet the
// full and empty states often. Under TSan this also checks the publication
// of each slot by the head and tail stores.
TEST(LockFreeQueue, TwoThreadStressDeliversEverythingOnceInOrder)
{
    constexpr int kCount = 200000;
    struct Item {
        int sequence = -1;
        std::string payload;  // heap memory in the slot, so a torn copy shows
    };
    LocklessQueue_SPSC<Item> q(8);
    std::atomic<bool> producerDone{false};
    // Generous: on a machine running many tests at once each yield can cost a time slice.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);

    std::thread producer([&] {
        for (int i = 0; i < kCount && std::chrono::steady_clock::now() < deadline;) {
            Item item{i, std::string(16 + i % 32, static_cast<char>('a' + i % 26))};
            if (q.push(std::move(item)))
                ++i;
            else
                std::this_thread::yield();
        }
        producerDone = true;
    });

    int expected = 0;
    int bad = 0;
    Item out;
    while (expected < kCount && std::chrono::steady_clock::now() < deadline) {
        if (!q.pop(&out)) {
            std::this_thread::yield();
            continue;
        }
        const std::string want(16 + expected % 32, static_cast<char>('a' + expected % 26));
        if (out.sequence != expected || out.payload != want)
            ++bad;
        ++expected;
    }
    producer.join();
    EXPECT_EQ(expected, kCount);
    EXPECT_EQ(bad, 0);
    EXPECT_FALSE(q.pop(&out));
}
