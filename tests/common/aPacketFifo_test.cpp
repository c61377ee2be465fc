// Packet queues with real threads: hand-off, waits with time-outs, predicate
// waits, waits for the queue to shrink, destruction under waiters, overrun and
// far-future deadlines.
#include "Elapsed.h"
#include "aPacketFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait in these tests ends by this, so a broken queue fails instead of hanging.
constexpr auto kGuard = std::chrono::seconds(5);

aPacket* makePacket(uint8_t cmd, uint8_t tag = 0, uint8_t address = 4) {
    const uint8_t data[3] = {cmd, tag, 0x11};
    return aPacket_CreateWithData(address, sizeof data, data);
}

aErr putPacket(aPacketFifoId id, uint8_t cmd, uint8_t tag = 0) {
    aPacket* p = makePacket(cmd, tag);
    aErr err = aPacketFifo_Put(id, p);
    aPacket_Destroy(&p);
    return err;
}

uint8_t cmdOf(const aPacket* p) { return p->data[0]; }
uint8_t tagOf(const aPacket* p) { return p->data[1]; }

using morvtest::msSince;

int acceptAll(const aPacket*, void*) { return 1; }

int acceptCmd3(const aPacket* p, void*) { return p->data[0] == 3; }

struct CountingFilter {
    explicit CountingFilter(uint8_t w) : wanted(w) {}
    uint8_t wanted;
    int calls = 0;
    std::vector<uint8_t> seenTags;
};
int countingFilter(const aPacket* p, void* ref) {
    auto* f = static_cast<CountingFilter*>(ref);
    ++f->calls;
    f->seenTags.push_back(tagOf(p));
    return cmdOf(p) == f->wanted;
}

class PacketFifo : public ::testing::Test {
protected:
    void SetUp() override {
        id = aPacketFifo_Create();
        ASSERT_NE(id, 0u);
    }
    void TearDown() override {
        if (id != 0) {
            EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
        }
    }
    // Drains what is left in order, as (cmd, tag) pairs.
    std::vector<std::pair<int, int>> takeAll() {
        std::vector<std::pair<int, int>> out;
        while (aPacket* p = aPacketFifo_Get(id)) {
            out.emplace_back(cmdOf(p), tagOf(p));
            aPacket_Destroy(&p);
        }
        return out;
    }
    aPacketFifoId id = 0;
};

TEST(PacketFifoIds, FirstIdIsOneAndIdsAreDistinct) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process, so no earlier test has drawn ids.
    EXPECT_EXIT(_exit(aPacketFifo_Create() == 1 ? 0 : 1), ::testing::ExitedWithCode(0), "");

    std::vector<aPacketFifoId> ids;
    for (int i = 0; i < 50; ++i) {
        ids.push_back(aPacketFifo_Create());
        ASSERT_NE(ids.back(), 0u);
        if (i > 0) {
            EXPECT_GT(ids[i], ids[i - 1]);
        }
    }
    for (auto& i : ids)
        EXPECT_EQ(aPacketFifo_Destroy(&i), aErrNone);
}

TEST_F(PacketFifo, PutKeepsItsOwnCopyAndGetHandsOutAFreshOne) {
    const uint8_t data[5] = {9, 8, 7, 6, 5};
    aPacket* mine = aPacket_CreateWithData(6, sizeof data, data);
    ASSERT_NE(mine, nullptr);
    ASSERT_EQ(aPacketFifo_Put(id, mine), aErrNone);
    ASSERT_EQ(aPacketFifo_Put(id, mine), aErrNone);
    // The queued copies must not depend on the caller's record.
    mine->data[0] = 0x55;
    mine->address = 8;

    EXPECT_EQ(aPacketFifo_GetLength(id), 2u);
    aPacket* got = aPacketFifo_Get(id);
    ASSERT_TRUE(aVALIDPACKET(got));
    EXPECT_NE(got, mine);
    aPacket_Destroy(&mine);
    aPacket* second = aPacketFifo_Get(id);
    ASSERT_TRUE(aVALIDPACKET(second));
    EXPECT_NE(got, second);
    for (aPacket* p : {got, second}) {
        EXPECT_EQ(p->address, 6);
        EXPECT_EQ(p->curSize, 7);
        ASSERT_EQ(p->dataSize, 5);
        EXPECT_EQ(0, memcmp(p->data, data, sizeof data));
    }
    aPacket_Destroy(&got);
    aPacket_Destroy(&second);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    EXPECT_EQ(aPacketFifo_Get(id), nullptr);
}

TEST_F(PacketFifo, BadPutsQueueNothing) {
    aPacket* p = makePacket(1);
    p->check = 0xBEEE;
    EXPECT_EQ(aPacketFifo_Put(id, p), aErrParam);
    p->check = aPACKET_CHECK;
    EXPECT_EQ(aPacketFifo_Put(id, nullptr), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    aPacket_Destroy(&p);
}

TEST(PacketFifoUnknownId, EveryOperationAnswersWithoutHarm) {
    aPacket* p = makePacket(1);
    for (aPacketFifoId unknown : {aPacketFifoId{0}, aPacketFifoId{0xFFFFFFFFFFFFull}}) {
        SCOPED_TRACE(unknown);
        EXPECT_EQ(aPacketFifo_Put(unknown, p), aErrParam);
        EXPECT_EQ(aPacketFifo_Get(unknown), nullptr);
        EXPECT_EQ(aPacketFifo_Await(unknown, 1000), nullptr);
        EXPECT_EQ(aPacketFifo_GetFirst(unknown, acceptAll, nullptr), nullptr);
        EXPECT_EQ(aPacketFifo_AwaitFirst(unknown, acceptAll, nullptr, 1000), nullptr);
        EXPECT_EQ(aPacketFifo_GetLength(unknown), 0u);
        EXPECT_EQ(aPacketFifo_DrainPackets(unknown, acceptAll, nullptr), 0u);
        aPacketFifoId copy = unknown;
        EXPECT_EQ(aPacketFifo_Destroy(&copy), aErrNotFound);
        EXPECT_EQ(copy, unknown);
    }
    EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);
    aPacket_Destroy(&p);
}

TEST_F(PacketFifo, NullPredicateTakesNothing) {
    ASSERT_EQ(putPacket(id, 3), aErrNone);
    EXPECT_EQ(aPacketFifo_GetFirst(id, nullptr, nullptr), nullptr);
    EXPECT_EQ(aPacketFifo_AwaitFirst(id, nullptr, nullptr, 10), nullptr);
    EXPECT_EQ(aPacketFifo_DrainPackets(id, nullptr, nullptr), 0u);
    EXPECT_EQ(aPacketFifo_GetLength(id), 1u);
}

TEST_F(PacketFifo, FullQueueIsEmptiedAndTheLossReported) {
    for (int i = 0; i < aPACKETFIFO_MAX_PACKETS; ++i)
        ASSERT_EQ(putPacket(id, 1, static_cast<uint8_t>(i)), aErrNone) << i;
    EXPECT_EQ(aPacketFifo_GetLength(id), 1000u);

    EXPECT_EQ(putPacket(id, 1, 0xEE), aErrOverrun);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);

    // The queue works on as before.
    EXPECT_EQ(putPacket(id, 2, 1), aErrNone);
    EXPECT_EQ(putPacket(id, 3, 2), aErrNone);
    aPacket* p = aPacketFifo_GetFirst(id, acceptCmd3, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tagOf(p), 2);
    aPacket_Destroy(&p);
    EXPECT_EQ(takeAll(), (std::vector<std::pair<int, int>>{{2, 1}}));
}

std::atomic<int> gOffered{0};
int countCmd3(const aPacket* p, void*) {
    ++gOffered;
    return p->data[0] == 3;
}

TEST_F(PacketFifo, PredicateWaiterSeesPacketsPutAfterAnOverrun) {
    // Ids go on growing across the emptying, so a waiter that examined the
    // lost packets is still offered the new ones.
    gOffered = 0;
    ASSERT_EQ(putPacket(id, 1), aErrNone);
    auto waiter = std::async(std::launch::async, [this] {
        return aPacketFifo_AwaitFirst(id, countCmd3, nullptr, 5000);
    });
    const auto end = Clock::now() + kGuard;
    while (gOffered == 0 && Clock::now() < end)
        std::this_thread::sleep_for(milliseconds(1));
    for (int i = 1; i < aPACKETFIFO_MAX_PACKETS; ++i)
        ASSERT_EQ(putPacket(id, 1), aErrNone);
    ASSERT_EQ(putPacket(id, 1), aErrOverrun);
    ASSERT_EQ(putPacket(id, 3, 7), aErrNone);
    ASSERT_EQ(waiter.wait_for(kGuard), std::future_status::ready);
    aPacket* p = waiter.get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tagOf(p), 7);
    aPacket_Destroy(&p);
}

TEST_F(PacketFifo, AwaitTimesOutOrReturnsAsSoonAsAPacketArrives) {
    auto start = Clock::now();
    EXPECT_EQ(aPacketFifo_Await(id, 0), nullptr);
    EXPECT_LT(msSince(start), 50);

    start = Clock::now();
    EXPECT_EQ(aPacketFifo_Await(id, 100), nullptr);
    const long waited = msSince(start);
    EXPECT_GE(waited, 99);
    EXPECT_LT(waited, 2000);

    std::thread producer([this] {
        std::this_thread::sleep_for(milliseconds(50));
        putPacket(id, 5, 1);
    });
    start = Clock::now();
    aPacket* p = aPacketFifo_Await(id, 4000);
    const long took = msSince(start);
    producer.join();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(cmdOf(p), 5);
    EXPECT_LT(took, 2000);
    aPacket_Destroy(&p);
}

TEST_F(PacketFifo, FarFutureDeadlinesWaitInsteadOfExpiring) {
    // Values whose deadline does not fit the clock must not wrap into the past.
    const uint64_t cases[] = {UINT64_MAX, uint64_t{1} << 63, (uint64_t{1} << 63) - 1, uint64_t{1} << 62,
                              UINT64_MAX / 1000, uint64_t{1000000000000}};
    for (bool predicate : {false, true}) {
        for (uint64_t ms : cases) {
            SCOPED_TRACE(::testing::Message() << "ms " << ms << (predicate ? " AwaitFirst" : " Await"));
            auto waiter = std::async(std::launch::async, [this, ms, predicate] {
                return predicate ? aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, ms) : aPacketFifo_Await(id, ms);
            });
            EXPECT_EQ(waiter.wait_for(milliseconds(60)), std::future_status::timeout) << "returned at once";
            ASSERT_EQ(putPacket(id, 3), aErrNone);
            if (waiter.wait_for(kGuard) != std::future_status::ready) {
                aPacketFifoId gone = id;
                aPacketFifo_Destroy(&gone);  // frees the waiter; TearDown then finds nothing
                id = 0;
                FAIL() << "waiter did not wake";
            }
            aPacket* p = waiter.get();
            EXPECT_NE(p, nullptr);
            aPacket_Destroy(&p);
        }
    }
}

TEST_F(PacketFifo, GetFirstAndAwaitFirstTakeTheOldestAcceptedAndLeaveTheRest) {
    ASSERT_EQ(putPacket(id, 1, 1), aErrNone);
    ASSERT_EQ(putPacket(id, 3, 2), aErrNone);
    ASSERT_EQ(putPacket(id, 2, 3), aErrNone);
    ASSERT_EQ(putPacket(id, 3, 4), aErrNone);

    aPacket* p = aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tagOf(p), 2);
    aPacket_Destroy(&p);
    p = aPacketFifo_GetFirst(id, acceptCmd3, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tagOf(p), 4);
    aPacket_Destroy(&p);
    EXPECT_EQ(aPacketFifo_GetFirst(id, acceptCmd3, nullptr), nullptr);
    EXPECT_EQ(takeAll(), (std::vector<std::pair<int, int>>{{1, 1}, {2, 3}}));
}

TEST_F(PacketFifo, AwaitFirstOffersEveryPacketOnceAndTakesALaterMatch) {
    ASSERT_EQ(putPacket(id, 1, 1), aErrNone);
    ASSERT_EQ(putPacket(id, 1, 2), aErrNone);
    CountingFilter filter(3);
    std::thread producer([this] {
        for (uint8_t tag = 3; tag <= 6; ++tag) {
            std::this_thread::sleep_for(milliseconds(10));
            putPacket(id, 2, tag);
        }
        std::this_thread::sleep_for(milliseconds(10));
        putPacket(id, 3, 7);
        putPacket(id, 3, 8);
    });
    aPacket* p = aPacketFifo_AwaitFirst(id, countingFilter, &filter, 4000);
    producer.join();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tagOf(p), 7);
    aPacket_Destroy(&p);
    // Refused packets are skipped on every later wake-up.
    EXPECT_EQ(filter.seenTags, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(takeAll(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 3}, {2, 4}, {2, 5}, {2, 6}, {3, 8}}));
}

TEST_F(PacketFifo, AwaitFirstTimesOutLeavingRefusedPackets) {
    ASSERT_EQ(putPacket(id, 1, 1), aErrNone);
    std::thread producer([this] {
        std::this_thread::sleep_for(milliseconds(20));
        putPacket(id, 2, 2);
    });
    auto start = Clock::now();
    EXPECT_EQ(aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, 120), nullptr);
    EXPECT_GE(msSince(start), 119);
    producer.join();
    EXPECT_EQ(aPacketFifo_GetLength(id), 2u);
}

TEST_F(PacketFifo, DrainRemovesAcceptedPacketsKeepingTheOrderOfTheRest) {
    for (uint8_t tag = 0; tag < 6; ++tag)
        ASSERT_EQ(putPacket(id, tag % 2 ? 3 : 1, tag), aErrNone);
    EXPECT_EQ(aPacketFifo_DrainPackets(id, acceptCmd3, nullptr), 3u);
    EXPECT_EQ(takeAll(), (std::vector<std::pair<int, int>>{{1, 0}, {1, 2}, {1, 4}}));

    for (uint8_t tag = 0; tag < 5; ++tag)
        ASSERT_EQ(putPacket(id, 1, tag), aErrNone);
    EXPECT_EQ(aPacketFifo_DrainPackets(id, acceptAll, nullptr), 5u);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    // A predicate waiter after a drain still sees new packets.
    ASSERT_EQ(putPacket(id, 3, 9), aErrNone);
    aPacket* p = aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, 0);
    ASSERT_NE(p, nullptr);
    aPacket_Destroy(&p);
}

TEST_F(PacketFifo, DestroyWakesEveryWaiterWithNull) {
    std::atomic<int> started{0};
    auto plain = std::async(std::launch::async, [&] {
        ++started;
        return aPacketFifo_Await(id, 20000);
    });
    auto selective = std::async(std::launch::async, [&] {
        ++started;
        return aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, 20000);
    });
    ASSERT_EQ(putPacket(id, 1), aErrNone);  // refused by the selective waiter, taken by the other
    while (started < 2)
        std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(50));

    aPacketFifoId gone = id;
    auto start = Clock::now();
    ASSERT_EQ(aPacketFifo_Destroy(&gone), aErrNone);
    EXPECT_EQ(gone, 0u);
    ASSERT_EQ(selective.wait_for(kGuard), std::future_status::ready);
    ASSERT_EQ(plain.wait_for(kGuard), std::future_status::ready);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_EQ(selective.get(), nullptr);
    aPacket* p = plain.get();  // either the packet (taken before) or NULL
    aPacket_Destroy(&p);

    aPacketFifoId again = id;
    EXPECT_EQ(aPacketFifo_Destroy(&again), aErrNotFound);
    EXPECT_EQ(putPacket(id, 1), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    id = 0;
}

// ---- waits for the queue to shrink

TEST_F(PacketFifo, LengthWaitIsSatisfiedAtOnceOrTimesOut) {
    for (uint8_t tag = 0; tag < 3; ++tag)
        ASSERT_EQ(putPacket(id, 1, tag), aErrNone);
    struct Case {
        uint32_t maxLength;
        uint64_t ms;
        aErr expected;
    };
    const Case cases[] = {{3, 0, aErrNone}, {3, 10000, aErrNone}, {1000, 0, aErrNone},
                          {2, 0, aErrTimeout}, {0, 0, aErrTimeout}, {2, 80, aErrTimeout}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "at most " << c.maxLength << " within " << c.ms << " ms");
        const auto start = Clock::now();
        EXPECT_EQ(aPacketFifo_AwaitLengthAtMost(id, c.maxLength, c.ms), c.expected);
        const long took = msSince(start);
        if (c.expected == aErrTimeout) {
            EXPECT_GE(took, static_cast<long>(c.ms) - 1);
        }
        EXPECT_LT(took, static_cast<long>(c.ms) + 1000);
    }
    // Waiting takes nothing.
    EXPECT_EQ(aPacketFifo_GetLength(id), 3u);
}

TEST(PacketFifoUnknownId, LengthWaitIsAParameterError) {
    for (aPacketFifoId unknown : {aPacketFifoId{0}, aPacketFifoId{0xFFFFFFFFFFFFull}}) {
        const auto start = Clock::now();
        EXPECT_EQ(aPacketFifo_AwaitLengthAtMost(unknown, 0, 1000), aErrParam);
        EXPECT_LT(msSince(start), 500);
    }
}

// Each way of taking packets wakes the waiter once the bound is reached, and
// not before.
TEST_F(PacketFifo, LengthWaitEndsWhenTakesBringTheQueueDown) {
    enum class Take { Get, Await, GetFirst, AwaitFirst, Drain };
    for (Take take : {Take::Get, Take::Await, Take::GetFirst, Take::AwaitFirst, Take::Drain}) {
        SCOPED_TRACE(static_cast<int>(take));
        for (uint8_t tag = 0; tag < 6; ++tag)
            ASSERT_EQ(putPacket(id, 3, tag), aErrNone);
        std::atomic<int> left{6};
        auto waiter = std::async(std::launch::async, [this, &left] {
            const aErr err = aPacketFifo_AwaitLengthAtMost(id, 2, 20000);
            return std::make_pair(err, left.load());
        });
        EXPECT_EQ(waiter.wait_for(milliseconds(50)), std::future_status::timeout) << "returned at once";
        // Taken one by one, with pauses the waiter would have to sleep through.
        for (int i = 0; i < 4; ++i) {
            std::this_thread::sleep_for(milliseconds(20));
            aPacket* p = nullptr;
            switch (take) {
            case Take::Get: p = aPacketFifo_Get(id); break;
            case Take::Await: p = aPacketFifo_Await(id, 0); break;
            case Take::GetFirst: p = aPacketFifo_GetFirst(id, acceptCmd3, nullptr); break;
            case Take::AwaitFirst: p = aPacketFifo_AwaitFirst(id, acceptCmd3, nullptr, 0); break;
            case Take::Drain: {
                int first = 1;
                const uint32_t n = aPacketFifo_DrainPackets(
                    id, [](const aPacket*, void* ref) { return std::exchange(*static_cast<int*>(ref), 0); },
                    &first);
                EXPECT_EQ(n, 1u);
                break;
            }
            }
            if (take != Take::Drain) {
                EXPECT_NE(p, nullptr);
                aPacket_Destroy(&p);
            }
            --left;
        }
        const auto taken = Clock::now();
        ASSERT_EQ(waiter.wait_for(kGuard), std::future_status::ready);
        EXPECT_LT(msSince(taken), 500);
        const auto [err, leftWhenWoken] = waiter.get();
        EXPECT_EQ(err, aErrNone);
        EXPECT_LE(leftWhenWoken, 3);  // woken by the fourth take at the earliest
        EXPECT_EQ(aPacketFifo_GetLength(id), 2u);
        takeAll();
    }
}

TEST_F(PacketFifo, LengthWaitersWithDifferentBoundsEachWakeAtTheirOwn) {
    for (uint8_t tag = 0; tag < 4; ++tag)
        ASSERT_EQ(putPacket(id, 1, tag), aErrNone);
    auto low = std::async(std::launch::async, [this] { return aPacketFifo_AwaitLengthAtMost(id, 0, 20000); });
    auto high = std::async(std::launch::async, [this] { return aPacketFifo_AwaitLengthAtMost(id, 3, 20000); });
    std::this_thread::sleep_for(milliseconds(50));
    aPacket* p = aPacketFifo_Get(id);
    aPacket_Destroy(&p);
    ASSERT_EQ(high.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(high.get(), aErrNone);
    EXPECT_EQ(low.wait_for(milliseconds(50)), std::future_status::timeout);
    takeAll();
    ASSERT_EQ(low.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(low.get(), aErrNone);
}

TEST_F(PacketFifo, LengthWaitEndsWhenAnOverrunEmptiesTheQueue) {
    for (int i = 0; i < aPACKETFIFO_MAX_PACKETS; ++i)
        ASSERT_EQ(putPacket(id, 1), aErrNone);
    auto waiter = std::async(std::launch::async, [this] { return aPacketFifo_AwaitLengthAtMost(id, 10, 20000); });
    EXPECT_EQ(waiter.wait_for(milliseconds(50)), std::future_status::timeout);
    ASSERT_EQ(putPacket(id, 1), aErrOverrun);
    ASSERT_EQ(waiter.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(waiter.get(), aErrNone);
}

TEST_F(PacketFifo, DestroyWakesLengthWaitersWithAnError) {
    ASSERT_EQ(putPacket(id, 1), aErrNone);
    ASSERT_EQ(putPacket(id, 1), aErrNone);
    std::vector<std::future<aErr>> waiters;
    for (uint32_t bound : {0u, 1u})
        waiters.push_back(
            std::async(std::launch::async, [this, bound] { return aPacketFifo_AwaitLengthAtMost(id, bound, 20000); }));
    std::this_thread::sleep_for(milliseconds(50));
    aPacketFifoId gone = id;
    const auto start = Clock::now();
    ASSERT_EQ(aPacketFifo_Destroy(&gone), aErrNone);
    for (auto& w : waiters) {
        ASSERT_EQ(w.wait_for(kGuard), std::future_status::ready);
        // Emptied by the destroy, but the packets were not taken: not a success.
        EXPECT_EQ(w.get(), aErrParam);
    }
    EXPECT_LT(msSince(start), 2000);
    EXPECT_EQ(aPacketFifo_AwaitLengthAtMost(id, 5, 0), aErrParam);
    id = 0;
}

TEST_F(PacketFifo, LengthWaitWithFarFutureDeadlineWaitsInsteadOfExpiring) {
    const uint64_t cases[] = {UINT64_MAX, uint64_t{1} << 63, UINT64_MAX / 1000, uint64_t{1000000000000}};
    for (uint64_t ms : cases) {
        SCOPED_TRACE(::testing::Message() << "ms " << ms);
        ASSERT_EQ(putPacket(id, 1), aErrNone);
        auto waiter = std::async(std::launch::async, [this, ms] { return aPacketFifo_AwaitLengthAtMost(id, 0, ms); });
        EXPECT_EQ(waiter.wait_for(milliseconds(60)), std::future_status::timeout) << "returned at once";
        aPacket* p = aPacketFifo_Get(id);
        aPacket_Destroy(&p);
        if (waiter.wait_for(kGuard) != std::future_status::ready) {
            aPacketFifoId gone = id;
            aPacketFifo_Destroy(&gone);  // frees the waiter; TearDown then finds nothing
            id = 0;
            FAIL() << "waiter did not wake";
        }
        EXPECT_EQ(waiter.get(), aErrNone);
    }
}

TEST(PacketFifoThreads, ProducersAndConsumersLoseNothingAndKeepOrder) {
    aPacketFifoId id = aPacketFifo_Create();
    ASSERT_NE(id, 0u);
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 2000;
    std::atomic<int> overruns{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kProducers; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerProducer; ++i) {
                // Stay well below the cap: this test is about hand-off, not overrun.
                for (int n = 0; n < 5000 && aPacketFifo_GetLength(id) > 500; ++n)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                uint8_t data[3] = {static_cast<uint8_t>(t), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
                aPacket* p = aPacket_CreateWithData(2, 3, data);
                aErr err = aPacketFifo_Put(id, p);
                aPacket_Destroy(&p);
                if (err == aErrOverrun)
                    ++overruns;
                else
                    EXPECT_EQ(err, aErrNone);
            }
        });
    }
    // Two consumers; each producer's packets must reach them in order.
    std::vector<std::vector<int>> seen(2 * kProducers);
    std::vector<std::thread> consumers;
    std::atomic<int> taken{0};
    for (int c = 0; c < 2; ++c) {
        consumers.emplace_back([&, c] {
            const auto end = Clock::now() + kGuard;
            while (taken < kProducers * kPerProducer && overruns == 0 && Clock::now() < end) {
                aPacket* p = aPacketFifo_Await(id, 20);
                if (p == nullptr)
                    continue;
                seen[c * kProducers + p->data[0]].push_back(p->data[1] << 8 | p->data[2]);
                ++taken;
                aPacket_Destroy(&p);
            }
        });
    }
    for (auto& t : producers)
        t.join();
    for (auto& t : consumers)
        t.join();
    EXPECT_EQ(overruns, 0);
    EXPECT_EQ(taken, kProducers * kPerProducer);
    for (int t = 0; t < kProducers; ++t) {
        size_t total = 0;
        for (int c = 0; c < 2; ++c) {
            const auto& s = seen[c * kProducers + t];
            total += s.size();
            for (size_t i = 1; i < s.size(); ++i)
                ASSERT_LT(s[i - 1], s[i]) << "producer " << t << " consumer " << c;
        }
        EXPECT_EQ(total, static_cast<size_t>(kPerProducer));
    }
    EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
}

TEST(PacketFifoThreads, DestroyRacingPutsAndTakesIsSafe) {
    // Producers and a taker hammer a queue while it is destroyed: no crash or
    // race, every waiter returns, and every put after the destroy fails.
    for (int round = 0; round < 40; ++round) {
        aPacketFifoId id = aPacketFifo_Create();
        ASSERT_NE(id, 0u);
        std::atomic<bool> destroyed{false};
        std::atomic<int> lateSuccesses{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&, id] {
                for (int i = 0; i < 1000000; ++i) {
                    const bool after = destroyed;
                    const aErr err = putPacket(id, 1);
                    if (after && err != aErrParam)
                        ++lateSuccesses;
                    if (err == aErrParam)
                        return;
                }
            });
        }
        threads.emplace_back([&, id] {
            while (!destroyed) {
                aPacket* p = aPacketFifo_AwaitFirst(id, acceptAll, nullptr, 5);
                aPacket_Destroy(&p);
                p = aPacketFifo_Await(id, 5);
                aPacket_Destroy(&p);
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
        aPacketFifoId gone = id;
        ASSERT_EQ(aPacketFifo_Destroy(&gone), aErrNone);
        destroyed = true;
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(lateSuccesses, 0);
        EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    }
}

std::atomic<bool> gReleaseHolder{false};
int holdLockUntilReleased(const aPacket*, void*) {
    const auto end = Clock::now() + kGuard;
    while (!gReleaseHolder && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return 0;
}

TEST(PacketFifoThreads, PutThatLosesTheRaceWithDestroyFails) {
    // A put that found the queue just before a destroy removed it, but locks
    // it only after the destroy emptied it, must not report success. The
    // holder thread keeps the queue locked (inside a predicate) while the put
    // blocks, then destroys it at once, so it usually wins the lock.
    int failed = 0;
    for (int round = 0; round < 20; ++round) {
        aPacketFifoId id = aPacketFifo_Create();
        ASSERT_NE(id, 0u);
        ASSERT_EQ(putPacket(id, 1), aErrNone);
        gReleaseHolder = false;
        std::atomic<bool> holding{false};
        std::thread holder([&holding, id] {
            holding = true;
            aPacketFifo_GetFirst(id, holdLockUntilReleased, nullptr);
            aPacketFifoId gone = id;
            EXPECT_EQ(aPacketFifo_Destroy(&gone), aErrNone);
        });
        while (!holding)
            std::this_thread::yield();
        std::this_thread::sleep_for(milliseconds(5));
        auto put = std::async(std::launch::async, [id] { return putPacket(id, 2); });
        std::this_thread::sleep_for(milliseconds(10));
        gReleaseHolder = true;
        holder.join();
        ASSERT_EQ(put.wait_for(kGuard), std::future_status::ready);
        const aErr err = put.get();
        EXPECT_TRUE(err == aErrNone || err == aErrParam) << err;
        failed += err == aErrParam;
    }
    EXPECT_GT(failed, 0) << "every put raced past a destroy reported success";
}

// Uses the queues from a destructor that runs after every ordinary static
// destructor, as a late library user would.
bool gLateUserArmed = false;
aPacketFifoId gKeptFifo = 0;
struct LateUser {
    ~LateUser() {
        if (!gLateUserArmed)
            return;
        // A queue made before exit still holds its packets.
        if (aPacketFifo_GetLength(gKeptFifo) != 3)
            _exit(3);
        aPacket* p = aPacketFifo_Get(gKeptFifo);
        if (!aVALIDPACKET(p) || p->data[1] != 1)
            _exit(4);
        aPacket_Destroy(&p);
        if (aPacketFifo_Destroy(&gKeptFifo) != aErrNone)
            _exit(5);
        aPacketFifoId id = aPacketFifo_Create();
        if (id == 0 || putPacket(id, 1) != aErrNone || aPacketFifo_GetLength(id) != 1)
            _exit(6);
        if (aPacketFifo_Destroy(&id) != aErrNone)
            _exit(7);
    }
};
LateUser gLateUser __attribute__((init_priority(101)));

TEST(PacketFifoExit, RegistryOutlivesStaticDestruction) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            gLateUserArmed = true;
            gKeptFifo = aPacketFifo_Create();
            for (uint8_t tag = 1; tag <= 3; ++tag)
                putPacket(gKeptFifo, 1, tag);
            aPacketFifoId id = aPacketFifo_Create();
            std::atomic<bool> running{false};
            // Still using its queue while the process runs its exit handlers.
            std::thread([id, &running] {
                for (;;) {
                    putPacket(id, 1);
                    aPacket* p = aPacketFifo_Await(id, 1);
                    aPacket_Destroy(&p);
                    aPacketFifoId other = aPacketFifo_Create();
                    aPacketFifo_Destroy(&other);
                    running = true;
                }
            }).detach();
            while (!running)
                std::this_thread::yield();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
