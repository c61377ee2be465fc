// The turns of a link on their own: which reply patterns overlap, turns in
// arrival order and within their deadline, late records, the send gate.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Elapsed.h"
#include "LinkTurns.h"
#include "ReplyPattern.h"
#include "aPacket.h"

namespace {

using namespace Zorventa::Morvasset;
using Clock = LinkTurns::Clock;
using morvtest::msSince;
using std::chrono::milliseconds;

ReplyPattern prefix(std::initializer_list<std::uint8_t> bytes)
{
    const std::vector<std::uint8_t> b(bytes);
    return ReplyPattern::prefix(b.data(), static_cast<std::uint8_t>(b.size()));
}

TEST(ReplyPattern, OverlapsWhenSomePacketCouldMatchBoth)
{
    struct Row {
        const char* what;
        ReplyPattern a;
        ReplyPattern b;
        bool overlap;
    };
    const Row rows[] = {
        {"one entity option", ReplyPattern::entity(4, 3, 7, 0), ReplyPattern::entity(4, 3, 7, 0), true},
        {"a get and a set reply", ReplyPattern::entity(4, 3, 7, 0), ReplyPattern::entity(4, 3, 0xC7, 0), false},
        {"another index", ReplyPattern::entity(4, 3, 7, 0), ReplyPattern::entity(4, 3, 7, 1), false},
        {"another module", ReplyPattern::entity(4, 3, 7, 0), ReplyPattern::entity(6, 3, 7, 0), false},
        {"an index beyond five bits", ReplyPattern::entity(4, 3, 7, 0), ReplyPattern::entity(4, 3, 7, 32), true},
        {"a raw prefix of the entity's", ReplyPattern::entity(4, 95, 7, 0), prefix({95, 7}), true},
        {"a raw prefix of another option", ReplyPattern::entity(4, 95, 0xCA, 0), prefix({95, 7}), false},
        {"an I2C read and a write of its address", prefix({8, 0, 0x51}), prefix({8, 0, 0x51, 0}), true},
        {"an I2C read and a write of another", prefix({8, 0, 0x51}), prefix({8, 0, 0x50, 0}), false},
        {"the pull-up and a read of address 0", prefix({8, 0, 1}), prefix({8, 0, 1}), true},
        {"two buses", prefix({8, 0, 0x51}), prefix({8, 1, 0x51}), false},
        {"a module's command and an entity of it", ReplyPattern::command(4, 4), ReplyPattern::entity(4, 4, 1, 2), true},
        {"a command of two modules", ReplyPattern::command(4, 4), ReplyPattern::command(6, 4), false},
        {"address answers", ReplyPattern::addressAnswer(), ReplyPattern::addressAnswer(), true},
        {"an address answer and an empty prefix", ReplyPattern::addressAnswer(), prefix({}), true},
        {"an address answer and an entity", ReplyPattern::addressAnswer(), ReplyPattern::entity(4, 3, 7, 0), false},
        {"an empty prefix and anything", prefix({}), ReplyPattern::command(6, 94), true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.a.overlaps(row.b), row.overlap) << row.what;
        EXPECT_EQ(row.b.overlaps(row.a), row.overlap) << row.what << " (the other way)";
    }
}

TEST(ReplyPattern, AnEntityPatternTakesErrorRepliesButNoStreamSamples)
{
    const ReplyPattern entity = ReplyPattern::entity(4, 3, 7, 2);
    struct Row {
        std::uint8_t address;
        std::vector<std::uint8_t> data;
        bool matches;
    };
    const Row rows[] = {
        {4, {3, 7, 2, 1}, true},  {4, {3, 7, 0x82, 29}, true}, {4, {3, 7, 0x42, 1}, false},
        {6, {3, 7, 2, 1}, false}, {4, {3, 7}, false},          {4, {3, 0x47, 2}, false},
    };
    for (const Row& row : rows) {
        aPacket* packet =
            aPacket_CreateWithData(row.address, static_cast<std::uint8_t>(row.data.size()), row.data.data());
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(entity.matches(packet), row.matches) << int(row.address) << " " << row.data.size();
        aPacket_Destroy(&packet);
    }
}

Clock::time_point in(int ms)
{
    return Clock::now() + milliseconds(ms);
}

TEST(LinkTurns, OverlappingExchangesGoInTheOrderTheyCame)
{
    LinkTurns turns;
    const ReplyPattern replies = ReplyPattern::entity(4, 3, 7, 0);
    LinkTurns::Ticket first;
    ASSERT_TRUE(turns.enter(replies, in(1000), &first));

    std::mutex m;
    std::vector<int> order;
    std::vector<std::thread> waiters;
    for (int n = 0; n < 3; ++n) {
        waiters.emplace_back([&, n] {
            LinkTurns::Ticket ticket;
            if (!turns.enter(replies, in(10000), &ticket))
                return;
            {
                std::lock_guard<std::mutex> hold(m);
                order.push_back(n);
            }
            turns.leave(&ticket, nullptr);
        });
        // The next one comes later.
        std::this_thread::sleep_for(milliseconds(200));
    }
    turns.leave(&first, nullptr);
    for (auto& w : waiters)
        w.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(LinkTurns, ATurnIsWaitedForUntilTheDeadlineOnlyAndOthersDoNotWait)
{
    LinkTurns turns;
    LinkTurns::Ticket holder;
    ASSERT_TRUE(turns.enter(ReplyPattern::entity(4, 3, 7, 0), in(1000), &holder));

    LinkTurns::Ticket other;
    auto start = Clock::now();
    EXPECT_TRUE(turns.enter(ReplyPattern::entity(4, 3, 8, 0), in(100), &other)) << "no overlap, no wait";
    EXPECT_LT(msSince(start), 100);
    turns.leave(&other, nullptr);

    LinkTurns::Ticket late;
    start = Clock::now();
    EXPECT_FALSE(turns.enter(ReplyPattern::entity(4, 3, 7, 0), in(200), &late));
    EXPECT_GE(msSince(start), 190);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(late.held());

    // The one that gave up holds up nobody behind it.
    turns.leave(&holder, nullptr);
    LinkTurns::Ticket next;
    start = Clock::now();
    EXPECT_TRUE(turns.enter(ReplyPattern::entity(4, 3, 7, 0), in(100), &next));
    EXPECT_LT(msSince(start), 100);
    turns.leave(&next, nullptr);
}

TEST(LinkTurns, ALateRecordGoesToTheNextExchangeThatCouldTakeItsReply)
{
    LinkTurns turns;
    const ReplyPattern replies = ReplyPattern::entity(4, 3, 7, 0);
    LinkTurns::Ticket gaveUp;
    ASSERT_TRUE(turns.enter(replies, in(1000), &gaveUp));
    const Clock::time_point until = in(1000);
    turns.leave(&gaveUp, &until);

    LinkTurns::Ticket unrelated;
    ASSERT_TRUE(turns.enter(ReplyPattern::entity(4, 3, 8, 0), in(100), &unrelated));
    EXPECT_TRUE(turns.claimLateReplies(unrelated).empty());
    turns.leave(&unrelated, nullptr);

    // The record does not hold the next one up; it is the next one's to wait out.
    LinkTurns::Ticket next;
    const auto start = Clock::now();
    ASSERT_TRUE(turns.enter(replies, in(100), &next));
    EXPECT_LT(msSince(start), 100);
    const auto claimed = turns.claimLateReplies(next);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_TRUE(claimed[0].until == until);

    // While it is waited out, nobody else takes its reply.
    LinkTurns::Ticket meanwhile;
    EXPECT_FALSE(turns.enter(replies, in(100), &meanwhile));
    turns.leave(&next, nullptr);

    LinkTurns::Ticket after;
    ASSERT_TRUE(turns.enter(replies, in(100), &after));
    EXPECT_TRUE(turns.claimLateReplies(after).empty()) << "gone with the one that waited it out";
    turns.leave(&after, nullptr);
}

TEST(LinkTurns, ALateRecordEndsAtItsDeadline)
{
    LinkTurns turns;
    const ReplyPattern replies = ReplyPattern::addressAnswer();
    LinkTurns::Ticket gaveUp;
    ASSERT_TRUE(turns.enter(replies, in(1000), &gaveUp));
    const Clock::time_point until = in(50);
    turns.leave(&gaveUp, &until);
    std::this_thread::sleep_for(milliseconds(100));
    LinkTurns::Ticket next;
    ASSERT_TRUE(turns.enter(replies, in(100), &next));
    EXPECT_TRUE(turns.claimLateReplies(next).empty());
    turns.leave(&next, nullptr);
}

TEST(LinkTurns, TheSendGateServesInOrderAndSkipsWhoGaveUp)
{
    LinkTurns turns;
    ASSERT_TRUE(turns.enterSendGate(in(100)));
    const auto start = Clock::now();
    EXPECT_FALSE(turns.enterSendGate(in(150)));
    EXPECT_GE(msSince(start), 140);

    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        if (turns.enterSendGate(in(10000))) {
            entered = true;
            turns.leaveSendGate();
        }
    });
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(entered.load());
    turns.leaveSendGate();
    waiter.join();
    EXPECT_TRUE(entered.load()) << "the one that gave up held nobody up";
    EXPECT_TRUE(turns.enterSendGate(in(100)));
    turns.leaveSendGate();
}

TEST(LinkTurns, OneTableForEachLink)
{
    auto a = LinkTurns::forLink(1001);
    auto b = LinkTurns::forLink(1001);
    auto c = LinkTurns::forLink(1002);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

}  // namespace
