#include "LinkTurns.h"

#include <algorithm>
#include <map>

#include "aLink.h"

namespace Zorventa {
namespace Morvasset {

namespace {

std::mutex turnsByLinkMutex;
std::map<int, std::weak_ptr<LinkTurns>> turnsByLink;  // guarded by turnsByLinkMutex

}  // namespace

std::uint64_t LinkTurns::msUntil(Clock::time_point from, Clock::time_point to)
{
    if (to <= from)
        return 0;
    // Rounded up: a wait that ends before its deadline would have to go round again.
    return static_cast<std::uint64_t>(std::chrono::ceil<std::chrono::milliseconds>(to - from).count());
}

std::shared_ptr<LinkTurns> LinkTurns::forLink(int linkID)
{
    std::lock_guard<std::mutex> guard(turnsByLinkMutex);
    auto found = turnsByLink.find(linkID);
    if (found != turnsByLink.end()) {
        if (auto turns = found->second.lock())
            return turns;
    }
    // Ids are never reused: the turns of links nobody holds any more go.
    for (auto it = turnsByLink.begin(); it != turnsByLink.end();)
        it = it->second.expired() ? turnsByLink.erase(it) : std::next(it);
    auto turns = std::make_shared<LinkTurns>();
    turnsByLink[linkID] = turns;
    return turns;
}

void LinkTurns::purgeExpiredLocked(Clock::time_point now)
{
    for (auto it = places_.begin(); it != places_.end();) {
        const bool expired = it->state == State::Late && it->claimedBy == 0 && it->lateUntil <= now;
        it = expired ? places_.erase(it) : std::next(it);
    }
}

// An earlier exchange whose replies overlap holds or waits for its turn, or
// someone else waits out its late reply.
bool LinkTurns::blockedLocked(const std::list<Place>::iterator& mine) const
{
    for (auto it = places_.begin(); it != mine; ++it) {
        if (!it->replies.overlaps(mine->replies))
            continue;
        if (it->state != State::Late || (it->claimedBy != 0 && it->claimedBy != mine->number))
            return true;
    }
    return false;
}

void LinkTurns::wakeUnblockedLocked()
{
    // Signalled under the lock: a waiter that gave up erases its place
    // (and its condition variable) as soon as it holds the lock.
    for (auto it = places_.begin(); it != places_.end(); ++it) {
        if (it->state == State::Waiting && !blockedLocked(it))
            it->unblocked.notify_one();
    }
}

bool LinkTurns::enter(const ReplyPattern& replies, Clock::time_point deadline, Ticket* ticket)
{
    std::unique_lock<std::mutex> lock(mutex_);
    purgeExpiredLocked(Clock::now());
    auto mine = places_.emplace(places_.end(), nextNumber_++, replies);
    // A caller that gives up, or whose thread is cancelled in the wait (the
    // wait ends with the lock held), leaves no place behind to block others.
    struct GiveUp {
        LinkTurns& turns;
        std::list<Place>::iterator place;
        bool entered = false;
        ~GiveUp()
        {
            if (entered)
                return;
            turns.places_.erase(place);
            turns.wakeUnblockedLocked();
        }
    } giveUp{*this, mine};
    while (blockedLocked(mine)) {
        if (mine->unblocked.wait_until(lock, deadline) == std::cv_status::timeout && blockedLocked(mine))
            return false;
    }
    giveUp.entered = true;
    mine->state = State::Holding;
    ticket->place_ = mine;
    ticket->held_ = true;
    return true;
}

std::vector<LinkTurns::LateReply> LinkTurns::claimLateReplies(const Ticket& ticket)
{
    std::vector<LateReply> claimed;
    if (!ticket.held_)
        return claimed;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto mine = ticket.place_;
    for (auto it = places_.begin(); it != mine; ++it) {
        if (it->state == State::Late && it->claimedBy == 0 && it->replies.overlaps(mine->replies)) {
            it->claimedBy = mine->number;
            claimed.push_back(LateReply{it->replies, it->lateUntil});
        }
    }
    return claimed;
}

void LinkTurns::leave(Ticket* ticket, const Clock::time_point* lateUntil)
{
    if (!ticket->held_)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto mine = ticket->place_;
        const std::uint64_t number = mine->number;
        places_.remove_if([number](const Place& p) { return p.state == State::Late && p.claimedBy == number; });
        if (lateUntil) {
            mine->state = State::Late;
            mine->lateUntil = *lateUntil;
            mine->claimedBy = 0;
        } else {
            places_.erase(mine);
        }
        purgeExpiredLocked(Clock::now());
        wakeUnblockedLocked();
    }
    ticket->held_ = false;
}

int LinkTurns::leadFilter(const aPacket* packet, void* ref)
{
    auto* leading = static_cast<Leading*>(ref);
    if (leading->filter(packet, leading->reference) != 0)
        return 1;
    // Runs under the queue's lock: the order is always queue, then waiters.
    std::lock_guard<std::mutex> lock(leading->turns->waitersMutex_);
    for (Waiter* waiter : leading->turns->waiters_) {
        if (waiter != leading->leader && waiter->replies.matches(packet)) {
            waiter->signalled = true;
            waiter->wake.notify_one();
        }
    }
    return 0;
}

aPacket* LinkTurns::awaitReply(int linkID, const ReplyPattern& replies, aPacketFifoProc filter, void* reference,
                               Clock::time_point deadline)
{
    Waiter me(replies);
    std::unique_lock<std::mutex> lock(waitersMutex_);
    waiters_.push_back(&me);
    // On every way out, a cancelled thread's unwinding included: nobody is
    // left waiting for a leader that is gone.
    struct Leave {
        LinkTurns& turns;
        Waiter& me;
        std::unique_lock<std::mutex>& lock;
        ~Leave()
        {
            if (!lock.owns_lock())
                lock.lock();
            turns.waiters_.remove(&me);
            if (turns.leader_ != &me)
                return;
            turns.leader_ = nullptr;
            // Somebody else leads now (and looks at the whole queue again).
            if (!turns.waiters_.empty())
                turns.waiters_.front()->wake.notify_one();
        }
    } leave{*this, me, lock};
    for (;;) {
        if (leader_ == nullptr) {
            // Nobody waits on the queue: this one does, for everybody, until
            // its own reply comes, its time is up or the link stops.
            leader_ = &me;
            lock.unlock();
            Leading leading{this, &me, filter, reference};
            return aLink_AwaitFirst(linkID, &leadFilter, &leading, msUntil(Clock::now(), deadline));
        }
        if (me.signalled) {
            me.signalled = false;
            lock.unlock();
            aPacket* packet = aLink_GetFirst(linkID, filter, reference);
            lock.lock();
            if (packet)
                return packet;
            continue;
        }
        if (me.wake.wait_until(lock, deadline) == std::cv_status::timeout && !me.signalled && leader_ != nullptr)
            return nullptr;
    }
}

bool LinkTurns::enterSendGate(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(gateMutex_);
    const std::uint64_t mine = gateNext_++;
    // Given up on (or the thread cancelled in the wait): whoever is served
    // before passes the number on; served meanwhile, it is passed on now.
    struct GiveUp {
        LinkTurns& turns;
        std::uint64_t number;
        bool entered = false;
        ~GiveUp()
        {
            if (entered)
                return;
            if (turns.gateServing_ == number)
                turns.passGateLocked();
            else
                turns.gateAbandoned_.push_back(number);
        }
    } giveUp{*this, mine};
    giveUp.entered = gateChanged_.wait_until(lock, deadline, [&] { return gateServing_ == mine; });
    return giveUp.entered;
}

void LinkTurns::passGateLocked()
{
    ++gateServing_;
    for (auto it = std::find(gateAbandoned_.begin(), gateAbandoned_.end(), gateServing_); it != gateAbandoned_.end();
         it = std::find(gateAbandoned_.begin(), gateAbandoned_.end(), gateServing_)) {
        gateAbandoned_.erase(it);
        ++gateServing_;
    }
    gateChanged_.notify_all();
}

void LinkTurns::leaveSendGate()
{
    std::lock_guard<std::mutex> lock(gateMutex_);
    passGateLocked();
}

}  // namespace Morvasset
}  // namespace Zorventa
