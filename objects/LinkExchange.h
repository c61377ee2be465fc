// One request/reply exchange on a Link, as one step: it takes the link's
// turn for the replies it expects, waits out a late reply an earlier
// exchange gave up on, drops replies already queued that could be taken for
// its own, sends, and awaits its reply; when it gives up on the reply, the
// reply is remembered as late (LinkTurns). Waiting for the turn counts inside
// the exchange's time-out; waiting out an earlier exchange's late reply does
// not (after a time-out one call may pay up to LinkTurns::kLateReplyMs more).
//
// Internal to the library and its own programs: every operation of the
// object layer (and of the upgrade entity) that sends and then waits for a
// reply runs as one of these. Link::sendUEI, Link::receiveUEI and the other
// halves stay as they are for callers that pair them themselves.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "Link.h"
#include "LinkTurns.h"
#include "ReplyPattern.h"
#include "aPacketFifo.h"

namespace Zorventa {
namespace Morvasset {

class OwnedPacket;

class LinkExchange {
public:
    enum class Kind {
        // A request and its reply.
        Request,
        // A reply awaited without a request: any late reply is what it waits for.
        Await,
        // The turn alone: no late reply is waited out or remembered (a drain,
        // or a query every answer of which is as good as the others).
        TurnOnly,
    };

    // Takes the turn, waiting at most timeoutMs; status() tells whether it did.
    LinkExchange(Link& link, const ReplyPattern& replies, std::uint64_t timeoutMs, Kind kind = Kind::Request);
    ~LinkExchange();

    LinkExchange(const LinkExchange&) = delete;
    LinkExchange& operator=(const LinkExchange&) = delete;

    // aErrNone with the turn; aErrConnection without a link; aErrTimeout when
    // the turn did not come within the time-out.
    aErr status() const { return status_; }
    int linkID() const { return linkID_; }

    // A reply wait of ms, less the time the turn took that no wait has
    // counted yet: the first wait after the turn is shorter by it.
    std::uint64_t waitMs(std::uint64_t ms);

    // Link::sendUEI and Link::sendPacket, as this exchange's request.
    aErr sendUEI(const uei& request);
    aErr sendUEI(const uei& request, std::uint8_t subindex);
    aErr sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data);
    // Link::receiveUEI (the entity reply filter and its checks of the reply's
    // shape) and the same with another filter, for up to ms.
    aErr receiveUEI(uei* reply, std::uint64_t ms);
    aErr receiveUEI(uei* reply, ueiFilter_t filter, std::uint64_t ms);
    // Link::receivePacket for up to ms.
    aErr receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data,
                       std::uint64_t ms);
    // One raw request (at most 28 data bytes) and the reply the filter
    // accepts within ms; the filter's queued matches are dropped first.
    aErr exchangeRaw(std::uint8_t module, const std::uint8_t* data, std::uint8_t length, aPacketFifoProc filter,
                     void* reference, std::uint64_t ms, OwnedPacket* reply);

private:
    void waitOutLateReplies();
    aErr noteSent(aErr result);
    aErr noteWait(aErr result);

    Link& link_;
    Kind kind_;
    ReplyPattern replies_;
    int linkID_ = 0;
    aErr status_ = aErrConnection;
    std::shared_ptr<LinkTurns> turns_;
    LinkTurns::Ticket ticket_;
    // The end of the time-out for the turn and the send gate.
    LinkTurns::Clock::time_point budgetEnd_{};
    // Time spent waiting for the turn or the gate that no reply wait has counted yet.
    LinkTurns::Clock::duration uncounted_{0};
    bool sentAny_ = false;
    // A reply was given up on, and when: it may still come.
    bool gaveUp_ = false;
    LinkTurns::Clock::time_point gaveUpAt_{};
};

// A raw request to the module and the reply whose data begin with the first
// matchLength bytes of match (from any module address), as one exchange:
// Link::sendPacket's request, Link::receivePacket's reply and results
// (*replyLength and reply as there; reply has room for 28 bytes). *sent,
// when given, gets the result of taking the turn and sending the request, so
// that a caller can tell a request that never went out from a missing reply.
aErr exchangePacket(Link& link, std::uint8_t module, std::uint8_t command, std::uint8_t length,
                    const std::uint8_t* data, const std::uint8_t* match, std::uint8_t matchLength,
                    std::uint8_t* replyLength, std::uint8_t* reply, aErr* sent = nullptr);
// The same reply without a request.
aErr awaitPacket(Link& link, std::uint8_t module, const std::uint8_t* match, std::uint8_t matchLength,
                 std::uint8_t* replyLength, std::uint8_t* reply);

}  // namespace Morvasset
}  // namespace Zorventa
