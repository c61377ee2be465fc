// The turns of one link, shared by every Link that holds its id: which
// exchanges wait for which, the late replies still expected, and the gate
// that keeps one sender's packets together. Internal to the library; its
// one user is LinkExchange.
//
// Exchanges whose reply patterns overlap go one at a time, in the order they
// came; the others do not wait for each other. A turn is waited for until a
// deadline and never longer. When an exchange gives up on its reply, its
// place turns into a late record: the reply may still come, for up to
// kLateReplyMs after the exchange gave up, whatever its own wait was, and the
// next exchange that could take it for its own waits for it and drops it
// first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "ReplyPattern.h"
#include "aPacket.h"
#include "aPacketFifo.h"
#include "aReplyWait.h"

namespace Zorventa {
namespace Morvasset {

class LinkTurns {
public:
    using Clock = std::chrono::steady_clock;

    // How long after its exchange gave up a reply may still come.
    static constexpr std::chrono::milliseconds kLateReplyMs{aREPLY_LATE_MS};

    struct LateReply {
        ReplyPattern replies;
        Clock::time_point until;
    };

private:
    enum class State { Waiting, Holding, Late };
    struct Place {
        Place(std::uint64_t n, const ReplyPattern& r) : number(n), replies(r) {}
        std::uint64_t number;
        ReplyPattern replies;
        State state = State::Waiting;
        Clock::time_point lateUntil{};
        std::uint64_t claimedBy = 0;  // a late record: the exchange waiting it out, 0 for none
        // Signalled when nothing blocks this place any more; only its waiter
        // wakes, not every one in the line.
        std::condition_variable unblocked;
    };

public:
    // One exchange's place in the line.
    class Ticket {
    public:
        bool held() const { return held_; }

    private:
        friend class LinkTurns;
        std::list<Place>::iterator place_;
        bool held_ = false;
    };

    // Whole milliseconds from one point to a later one, rounded up; 0 when past.
    static std::uint64_t msUntil(Clock::time_point from, Clock::time_point to);

    // The turns of the link id, made on first use; held as long as a Link holds it.
    static std::shared_ptr<LinkTurns> forLink(int linkID);

    // Waits until no exchange that came earlier and whose replies overlap
    // still holds or waits for its turn; false when the deadline passes first.
    bool enter(const ReplyPattern& replies, Clock::time_point deadline, Ticket* ticket);
    // The late replies ahead of the ticket that its exchange could take and
    // nobody else is waiting out; they are the ticket's until it leaves.
    std::vector<LateReply> claimLateReplies(const Ticket& ticket);
    // Gives the turn back. With lateUntil set, the exchange gave up on a
    // reply that may still come until then: its place stays as a late
    // record. Late records the ticket claimed are gone either way.
    void leave(Ticket* ticket, const Clock::time_point* lateUntil);

    // The first received packet of the link the filter takes, waited for
    // until the deadline (as aLink_AwaitFirst; NULL when none came, or the
    // link stopped running). Of the exchanges waiting this way on one link
    // only one waits on the input queue and wakes the one a packet's pattern
    // says it is for, instead of every packet waking every waiter. The filter
    // runs on the waiting thread.
    aPacket* awaitReply(int linkID, const ReplyPattern& replies, aPacketFifoProc filter, void* reference,
                        Clock::time_point deadline);

    // The gate around putting one request's packets on the output queue:
    // first come, first served, waited for until the deadline.
    bool enterSendGate(Clock::time_point deadline);
    void leaveSendGate();

private:
    void purgeExpiredLocked(Clock::time_point now);
    bool blockedLocked(const std::list<Place>::iterator& mine) const;
    // After places went or changed: wakes the waiters nothing blocks now.
    void wakeUnblockedLocked();
    // The gate goes to the next number nobody gave up.
    void passGateLocked();

    std::mutex mutex_;
    std::list<Place> places_;       // guarded by mutex_, in order of arrival
    std::uint64_t nextNumber_ = 1;  // guarded by mutex_

    struct Waiter {
        explicit Waiter(const ReplyPattern& r) : replies(r) {}
        const ReplyPattern& replies;
        bool signalled = true;  // look at the queue: a packet may be there
        std::condition_variable wake;
    };
    struct Leading {
        LinkTurns* turns;
        Waiter* leader;
        aPacketFifoProc filter;
        void* reference;
    };
    // The leader's filter: its own reply, or a wake-up for the waiter whose
    // pattern the packet matches.
    static int leadFilter(const aPacket* packet, void* leading);

    std::mutex waitersMutex_;  // never held while a queue is waited on
    std::list<Waiter*> waiters_;  // guarded by waitersMutex_
    Waiter* leader_ = nullptr;    // guarded by waitersMutex_

    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    std::uint64_t gateNext_ = 0;                // guarded by gateMutex_
    std::uint64_t gateServing_ = 0;             // guarded by gateMutex_
    std::vector<std::uint64_t> gateAbandoned_;  // guarded by gateMutex_: tickets whose holder gave up
};

}  // namespace Morvasset
}  // namespace Zorventa
