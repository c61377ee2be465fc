#include "LinkExchange.h"

#include <algorithm>
#include <vector>

#include "LinkImpl.h"
#include "LinkRawTransfer.h"
#include "LinkReplyFilter.h"
#include "aLink.h"
#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

namespace {

using Clock = LinkTurns::Clock;
using std::chrono::milliseconds;

int matchesPattern(const aPacket* packet, void* ref)
{
    return static_cast<const ReplyPattern*>(ref)->matches(packet) ? 1 : 0;
}

int matchesAnyLate(const aPacket* packet, void* ref)
{
    const auto* pending = static_cast<const std::vector<LinkTurns::LateReply>*>(ref);
    return std::any_of(pending->begin(), pending->end(),
                       [packet](const LinkTurns::LateReply& late) { return late.replies.matches(packet); });
}

// More packets of the same reply follow.
bool continues(const aPacket* packet)
{
    return aUEI_isUEIPayload(packet) && aUEI_getBytesFullPacket(packet) && aUEI_getBytesContinue(packet);
}

}  // namespace

LinkExchange::LinkExchange(Link& link, const ReplyPattern& replies, std::uint64_t timeoutMs, Kind kind)
    : link_(link), kind_(kind), replies_(replies)
{
    const Clock::time_point start = Clock::now();
    budgetEnd_ = start + milliseconds(timeoutMs);
    linkID_ = link.m_impl->linkID;
    turns_ = link.m_impl->turnsOfLink();
    if (!turns_ || !link.isConnected()) {
        status_ = aErrConnection;
        return;
    }
    if (!turns_->enter(replies_, budgetEnd_, &ticket_)) {
        status_ = aErrTimeout;
        return;
    }
    uncounted_ = Clock::now() - start;
    if (kind_ == Kind::Await) {
        // Whatever comes is what this wait is for: nothing is waited out.
        turns_->claimLateReplies(ticket_);
    } else if (kind_ == Kind::Request) {
        const Clock::time_point before = Clock::now();
        waitOutLateReplies();
        // Not counted: the caller's own time-out starts after it.
        budgetEnd_ += Clock::now() - before;
        // Queued before this request, they can only answer earlier ones.
        aLink_DrainPackets(linkID_, &matchesPattern, &replies_);
    }
    status_ = aErrNone;
}

LinkExchange::~LinkExchange()
{
    if (!ticket_.held())
        return;
    if (gaveUp_ && kind_ == Kind::Request) {
        const Clock::time_point until = gaveUpAt_ + LinkTurns::kLateReplyMs;
        turns_->leave(&ticket_, &until);
    } else {
        turns_->leave(&ticket_, nullptr);
    }
}

void LinkExchange::waitOutLateReplies()
{
    std::vector<LinkTurns::LateReply> pending = turns_->claimLateReplies(ticket_);
    while (!pending.empty()) {
        const Clock::time_point now = Clock::now();
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [now](const LinkTurns::LateReply& late) { return late.until <= now; }),
                      pending.end());
        if (pending.empty())
            break;
        const auto next = std::min_element(
            pending.begin(), pending.end(),
            [](const LinkTurns::LateReply& a, const LinkTurns::LateReply& b) { return a.until < b.until; });
        aPacket* packet = aLink_AwaitFirst(linkID_, &matchesAnyLate, &pending, LinkTurns::msUntil(now, next->until));
        if (!packet) {
            // A link that stopped running brings nothing more.
            if (!link_.isConnected())
                break;
            continue;
        }
        const auto answered = std::find_if(pending.begin(), pending.end(), [packet](const LinkTurns::LateReply& late) {
            return late.replies.matches(packet);
        });
        if (answered != pending.end() && !continues(packet))
            pending.erase(answered);
        aPacket_Destroy(&packet);
    }
}

std::uint64_t LinkExchange::waitMs(std::uint64_t ms)
{
    const auto counted = std::min(uncounted_, Clock::duration(milliseconds(ms)));
    uncounted_ -= counted;
    const std::uint64_t left =
        ms - static_cast<std::uint64_t>(std::chrono::duration_cast<milliseconds>(counted).count());
    return std::max<std::uint64_t>(left, 1);
}

aErr LinkExchange::sendUEI(const uei& request)
{
    return noteSent(link_.m_impl->sendUEI(request, nullptr, budgetEnd_, &uncounted_));
}

aErr LinkExchange::sendUEI(const uei& request, std::uint8_t subindex)
{
    return noteSent(link_.m_impl->sendUEI(request, &subindex, budgetEnd_, &uncounted_));
}

aErr LinkExchange::sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data)
{
    return noteSent(link_.m_impl->sendPacket(module, command, length, data, budgetEnd_, &uncounted_));
}

aErr LinkExchange::noteSent(aErr result)
{
    if (result == aErrNone)
        sentAny_ = true;
    return result;
}

aErr LinkExchange::noteWait(aErr result)
{
    // Given up on with a request out: the reply may still come, counted
    // from now, however long this wait was.
    if (result == aErrTimeout && sentAny_) {
        gaveUp_ = true;
        gaveUpAt_ = Clock::now();
    }
    return result;
}

aErr LinkExchange::receiveUEI(uei* reply, std::uint64_t ms)
{
    return receiveUEI(reply, &ueiReplyFilter, ms);
}

aErr LinkExchange::receiveUEI(uei* reply, ueiFilter_t filter, std::uint64_t ms)
{
    const std::uint8_t module = reply ? reply->module : 0;
    const Link::impl::ReplyWait wait{*turns_, replies_};
    return noteWait(link_.m_impl->receiveUEI(module, reply, filter, waitMs(ms), &wait));
}

aErr LinkExchange::receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length,
                                 std::uint8_t* data, std::uint64_t ms)
{
    const Link::impl::ReplyWait wait{*turns_, replies_};
    return noteWait(link_.m_impl->receivePacket(module, match, length, data, waitMs(ms), &wait));
}

aErr LinkExchange::exchangeRaw(std::uint8_t module, const std::uint8_t* data, std::uint8_t length,
                               aPacketFifoProc filter, void* reference, std::uint64_t ms, OwnedPacket* reply)
{
    reply->reset(nullptr);
    aLink_DrainPackets(linkID_, filter, reference);
    const aErr queued = noteSent(link_.m_impl->queueGated(module, length, data, budgetEnd_, &uncounted_));
    if (queued != aErrNone)
        return queued;
    const Link::impl::ReplyWait wait{*turns_, replies_};
    reply->reset(link_.m_impl->awaitFirst(filter, reference, waitMs(ms), &wait));
    return noteWait(*reply ? aErrNone : aErrTimeout);
}

// ---------------------------------------------------------------- raw packet exchanges

aErr exchangePacket(Link& link, std::uint8_t module, std::uint8_t command, std::uint8_t length,
                    const std::uint8_t* data, const std::uint8_t* match, std::uint8_t matchLength,
                    std::uint8_t* replyLength, std::uint8_t* reply, aErr* sent)
{
    aErr unused = aErrNone;
    aErr& result = sent ? *sent : unused;
    if (!replyLength || !reply || (matchLength > 0 && !match))
        return result = aErrParam;
    LinkExchange exchange(link, ReplyPattern::prefix(match, matchLength), aREPLY_WAIT_MS);
    result = exchange.status();
    if (result != aErrNone)
        return result;
    result = exchange.sendPacket(module, command, length, data);
    if (result != aErrNone)
        return result;
    *replyLength = matchLength;
    return exchange.receivePacket(module, match, replyLength, reply, aREPLY_WAIT_MS);
}

aErr awaitPacket(Link& link, std::uint8_t module, const std::uint8_t* match, std::uint8_t matchLength,
                 std::uint8_t* replyLength, std::uint8_t* reply)
{
    if (!replyLength || !reply || (matchLength > 0 && !match))
        return aErrParam;
    LinkExchange exchange(link, ReplyPattern::prefix(match, matchLength), aREPLY_WAIT_MS, LinkExchange::Kind::Await);
    if (exchange.status() != aErrNone)
        return exchange.status();
    *replyLength = matchLength;
    return exchange.receivePacket(module, match, replyLength, reply, aREPLY_WAIT_MS);
}

}  // namespace Morvasset
}  // namespace Zorventa
