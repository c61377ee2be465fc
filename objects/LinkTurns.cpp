#include "LinkTurns.h"

#include <algorithm>
#include <map>

namespace Zorventa {
namespace Morvasset {

namespace {

std::mutex turnsByLinkMutex;
std::map<int, std::weak_ptr<LinkTurns>> turnsByLink;  // guarded by turnsByLinkMutex

}  // namespace

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
    for (;;) {
        if (!blockedLocked(mine))
            break;
        if (mine->unblocked.wait_until(lock, deadline) == std::cv_status::timeout && blockedLocked(mine)) {
            places_.erase(mine);
            // Those behind may have waited for this place only.
            wakeUnblockedLocked();
            return false;
        }
    }
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

bool LinkTurns::enterSendGate(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(gateMutex_);
    const std::uint64_t mine = gateNext_++;
    if (gateChanged_.wait_until(lock, deadline, [&] { return gateServing_ == mine; }))
        return true;
    // Whoever is served before us passes our number on.
    gateAbandoned_.push_back(mine);
    return false;
}

void LinkTurns::leaveSendGate()
{
    {
        std::lock_guard<std::mutex> lock(gateMutex_);
        ++gateServing_;
        for (auto it = std::find(gateAbandoned_.begin(), gateAbandoned_.end(), gateServing_);
             it != gateAbandoned_.end(); it = std::find(gateAbandoned_.begin(), gateAbandoned_.end(), gateServing_)) {
            gateAbandoned_.erase(it);
            ++gateServing_;
        }
    }
    gateChanged_.notify_all();
}

}  // namespace Morvasset
}  // namespace Zorventa
