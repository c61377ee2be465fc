// Entity requests and replies, raw command packets and the module address
// query of a Link.
#include "DeviceError.h"
#include "LinkExchange.h"
#include "LinkImpl.h"
#include "LinkRawTransfer.h"
#include "LinkReplyFilter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "aDebug.h"
#include "aLink.h"
#include "aReplyWait.h"
#include "aTime.h"
#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kMaxRawData = aPACKET_MAX_DATA - 1;
constexpr std::uint8_t kAddressQuery = 0xAD;

// Packets a sender lets wait in the output queue before it waits for the
// writer (well below the queue's limit, at which a put empties the queue),
// and the level the writer must bring it down to first, so that the writer
// always has work while the sender waits.
constexpr std::uint32_t kOutputHighWater = 512;
constexpr std::uint32_t kOutputLowWater = 256;
// A writer that takes no packet for this long is stuck.
constexpr std::uint64_t kOutputStallMs = 2000;
// A waiting sender looks for the writer's progress this often; the wait
// itself ends as soon as the writer has brought the queue down.
constexpr std::uint64_t kOutputLookMs = 100;

bool validModule(std::uint8_t module)
{
    return module != 0 && (module & 1) == 0;
}

// An unregistered link writes nothing either.
aErr roomResult(aErr waited)
{
    return waited == aErrParam ? aErrConnection : waited;
}

// Once more than limit packets wait for the writer, waits until at most
// resume do (back-pressure), so a long transfer never overfills the output
// queue. aErrConnection when the link stops writing, aErrTimeout when the
// writer makes no progress.
aErr awaitOutputRoom(int id, std::uint32_t limit, std::uint32_t resume)
{
    aErr room = aLink_AwaitOutputRoom(id, limit, 0);
    if (room != aErrTimeout)
        return roomResult(room);
    std::uint32_t length = aLink_GetOutputLength(id);
    std::uint64_t lastProgress = aTime_GetMSTicks();
    for (;;) {
        room = aLink_AwaitOutputRoom(id, resume, kOutputLookMs);
        if (room != aErrTimeout)
            return roomResult(room);
        const std::uint32_t now = aLink_GetOutputLength(id);
        const std::uint64_t ticks = aTime_GetMSTicks();
        if (now < length)
            lastProgress = ticks;
        else if (ticks - lastProgress >= kOutputStallMs)
            return aErrTimeout;
        length = now;
    }
}

aErr queuePacket(int id, std::uint8_t address, std::uint8_t length, const std::uint8_t* data)
{
    const aErr room = awaitOutputRoom(id, kOutputHighWater, kOutputLowWater);
    if (room != aErrNone)
        return room;
    aPacket* packet = aPacket_CreateWithData(address, length, data);
    if (!packet)
        return aErrResource;
    const aErr result = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    return result;
}

// Builds [command, option, specifier, (subindex,) value] for a scalar type.
bool buildScalarRequest(const uei& request, const std::uint8_t* subindex, std::uint8_t* data,
                        std::uint8_t* length)
{
    std::uint8_t n = 0;
    data[n++] = request.command;
    data[n++] = request.option;
    data[n++] = request.specifier;
    if (subindex)
        data[n++] = *subindex;
    switch (request.type) {
    case ueiTypeVoid: break;
    case ueiTypeByte: data[n++] = request.v.byteVal; break;
    case ueiTypeShort:
        aUEI_StoreShort(data + n, request.v.shortVal);
        n += 2;
        break;
    case ueiTypeInt:
        aUEI_StoreInt(data + n, request.v.intVal);
        n += 4;
        break;
    default: return false;
    }
    *length = n;
    return true;
}

struct FilterCall {
    ueiFilter_t filter;
    const void* reference;
};

int callFilter(const aPacket* packet, void* ref)
{
    const auto* call = static_cast<const FilterCall*>(ref);
    return call->filter(packet, call->reference) != 0;
}

std::uint8_t MatchMagic(const aPacket* packet, void*)
{
    return aVALIDPACKET(packet) && packet->dataSize == 0;
}

int matchMagicProc(const aPacket* packet, void* ref)
{
    return MatchMagic(packet, ref);
}

struct CommandMatch {
    const std::uint8_t* bytes;
    std::uint8_t length;
};

std::uint8_t sCommandFilter(const aPacket* packet, const void* ref)
{
    const auto* match = static_cast<const CommandMatch*>(ref);
    if (!aVALIDPACKET(packet) || packet->dataSize < match->length)
        return 0;
    return match->length == 0 || std::memcmp(packet->data, match->bytes, match->length) == 0;
}

// Waits for the link's send gate; the wait is added to *waited when given.
bool enterGate(LinkTurns* turns, LinkTurns::Clock::time_point deadline, LinkTurns::Clock::duration* waited)
{
    if (turns == nullptr)
        return false;
    const LinkTurns::Clock::time_point start = LinkTurns::Clock::now();
    const bool entered = turns->enterSendGate(deadline);
    if (waited)
        *waited += LinkTurns::Clock::now() - start;
    return entered;
}

LinkTurns::Clock::time_point replyDeadline()
{
    return LinkTurns::Clock::now() + std::chrono::milliseconds(aREPLY_WAIT_MS);
}

// A queued reply to an entity request, matched without being decoded.
struct ReplyMatch {
    std::uint8_t module;
    std::uint8_t command;
    std::uint8_t option;
    std::uint8_t index;
};

int matchesReply(const aPacket* packet, void* ref)
{
    const auto* m = static_cast<const ReplyMatch*>(ref);
    return ueiReplyMatches(packet, m->module, m->command, m->option, m->index) ? 1 : 0;
}

}  // namespace

std::shared_ptr<LinkTurns> Link::impl::turnsOfLink()
{
    std::lock_guard<std::mutex> guard(turnsGuard);
    if (linkID == 0)
        return nullptr;
    if (!turns || turnsLinkID != linkID) {
        turns = LinkTurns::forLink(linkID);
        turnsLinkID = linkID;
    }
    return turns;
}

aErr Link::impl::sendUEI(const uei& request, const std::uint8_t* subindex, LinkTurns::Clock::time_point gateDeadline,
                         LinkTurns::Clock::duration* gateWait)
{
    if (!link.isConnected())
        return aErrConnection;
    if (!validModule(request.module))
        return aErrPacket;
    const int id = linkID;
    std::uint8_t data[aPACKET_MAX_DATA];
    std::uint8_t length = 0;
    if ((request.type != ueiTypeBytes || subindex) && !buildScalarRequest(request, subindex, data, &length))
        return aErrParam;
    const std::uint8_t* bytes = request.v.bufPtr;
    const std::size_t count = request.count;
    if (request.type == ueiTypeBytes && !subindex && count > 0 && !bytes)
        return aErrParam;

    if (request.type != ueiTypeBytes || subindex)
        return queueGated(request.module, length, data, gateDeadline, gateWait);
    // The packets of one buffer stay together on the output queue.
    const std::shared_ptr<LinkTurns> gate = turnsOfLink();
    if (!enterGate(gate.get(), gateDeadline, gateWait))
        return gate ? aErrTimeout : aErrConnection;
    std::size_t offset = 0;
    std::uint8_t counter = 0;
    aErr result = aErrNone;
    do {
        const std::size_t chunk = std::min(ueiBytesPerPacket, count - offset);
        const bool more = offset + chunk < count;
        data[0] = request.command;
        data[1] = request.option;
        data[2] = request.specifier;
        if (chunk > 0)
            std::memcpy(data + 3, bytes + offset, chunk);
        data[3 + chunk] = static_cast<std::uint8_t>((more ? ueiBytesContinue : 0) | (counter & ueiBytesSequenceMask));
        result = queuePacket(id, request.module, static_cast<std::uint8_t>(chunk + 4), data);
        offset += chunk;
        counter = static_cast<std::uint8_t>((counter + 1) & ueiBytesSequenceMask);
    } while (result == aErrNone && offset < count);
    gate->leaveSendGate();
    // The reply's wait starts once the writer has taken the last packet.
    if (result == aErrNone)
        result = awaitOutputRoom(id, 0, 0);
    return result;
}

aErr Link::impl::queueGated(std::uint8_t address, std::uint8_t length, const std::uint8_t* data,
                            LinkTurns::Clock::time_point gateDeadline, LinkTurns::Clock::duration* gateWait)
{
    const std::shared_ptr<LinkTurns> gate = turnsOfLink();
    if (!enterGate(gate.get(), gateDeadline, gateWait))
        return gate ? aErrTimeout : aErrConnection;
    const aErr result = queuePacket(linkID, address, length, data);
    gate->leaveSendGate();
    return result;
}

aErr Link::impl::sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data,
                            LinkTurns::Clock::time_point gateDeadline, LinkTurns::Clock::duration* gateWait)
{
    if (!link.isConnected())
        return aErrConnection;
    if (length > kMaxRawData || (length > 0 && !data))
        return aErrParam;
    if (!validModule(module))
        return aErrPacket;
    std::uint8_t bytes[aPACKET_MAX_DATA];
    bytes[0] = command;
    if (length > 0)
        std::memcpy(bytes + 1, data, length);
    return queueGated(module, static_cast<std::uint8_t>(length + 1), bytes, gateDeadline, gateWait);
}

aPacket* Link::impl::awaitFirst(aPacketFifoProc filter, void* reference, std::uint64_t ms, const ReplyWait* wait)
{
    if (!wait)
        return aLink_AwaitFirst(linkID, filter, reference, ms);
    return wait->turns.awaitReply(linkID, wait->replies, filter, reference,
                                  LinkTurns::Clock::now() + std::chrono::milliseconds(ms));
}

aErr Link::impl::receiveUEI(std::uint8_t module, uei* reply, ueiFilter_t filter, std::uint64_t ms,
                            const ReplyWait* wait)
{
    if (!link.isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!reply || !filter)
        return aErrParam;
    reply->error = 0;
    FilterCall call{filter, reply};
    aPacket* packet = awaitFirst(&callFilter, &call, ms, wait);
    if (!packet)
        return aErrTimeout;
    aPacket_Destroy(&packet);
    // A reply of a shape that fits no value form, as the entity filter found.
    if (filter == &ueiReplyFilter && !(reply->specifier & ueiSpecifierError) && reply->error != 0)
        return deviceErrorResult(reply->error);
    return aErrNone;
}

aErr Link::impl::receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data,
                               std::uint64_t ms, const ReplyWait* wait)
{
    if (!link.isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!length || !data || (*length > 0 && !match) || *length > aPACKET_MAX_DATA)
        return aErrParam;
    CommandMatch expected{match, *length};
    FilterCall call{&sCommandFilter, &expected};
    aPacket* packet = awaitFirst(&callFilter, &call, ms, wait);
    if (!packet)
        return aErrTimeout;
    *length = packet->dataSize;
    std::memcpy(data, packet->data, packet->dataSize);
    aPacket_Destroy(&packet);
    return aErrNone;
}

std::uint64_t Link::impl::replyTimeoutFor(const uei& reply)
{
    const std::uint64_t ms = aReply_WaitForBytes(reply.type == ueiTypeBytes ? reply.count : 0);
    if (ms != aREPLY_WAIT_MS)
        aDEBUG_TRACE(aDEBUG_LINK, "receiveUEI - Expanding timeout for large payload: %lu\n",
                     static_cast<unsigned long>(ms));
    return ms;
}

aErr Link::sendUEI(uei request)
{
    return m_impl->sendUEI(request, nullptr, replyDeadline(), nullptr);
}

aErr Link::sendUEI(uei request, std::uint8_t subindex)
{
    return m_impl->sendUEI(request, &subindex, replyDeadline(), nullptr);
}

aErr Link::receiveUEI(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index, uei* reply)
{
    return receiveUEI(module, command, option, index, reply, &ueiReplyFilter);
}

aErr Link::receiveUEI(std::uint8_t module, std::uint8_t, std::uint8_t, std::uint8_t, uei* reply, ueiFilter_t filter)
{
    const std::uint64_t ms = reply ? impl::replyTimeoutFor(*reply) : aREPLY_WAIT_MS;
    return m_impl->receiveUEI(module, reply, filter, ms, nullptr);
}

aErr Link::dropMatchingUEIPackets(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    // Matches only: a filter that decodes would take the first error reply's
    // specifier into its record and let the replies behind it stay.
    const ReplyMatch expected{module, command, option, index};
    aLink_DrainPackets(m_impl->linkID, &matchesReply, const_cast<ReplyMatch*>(&expected));
    return aErrNone;
}

aErr Link::sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data)
{
    return m_impl->sendPacket(module, command, length, data, replyDeadline(), nullptr);
}

aErr Link::receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data)
{
    return m_impl->receivePacket(module, match, length, data, aREPLY_WAIT_MS, nullptr);
}

aErr Link::getModuleAddress(std::uint8_t* address)
{
    if (!address)
        return aErrParam;
    *address = 0;
    if (!isConnected())
        return aErrNotReady;
    aDEBUG_TRACE(aDEBUG_LINK, "getModuleAddress\n");
    // Every answer names the link's module: a late one is as good as its own.
    LinkExchange exchange(*this, ReplyPattern::addressAnswer(), aREPLY_WAIT_MS, LinkExchange::Kind::TurnOnly);
    if (exchange.status() != aErrNone)
        return aErrNotReady;
    // No data bytes, but a valid pointer: the packet constructor refuses NULL.
    const std::uint8_t none[1] = {0};
    aDEBUG_TRACE(aDEBUG_LINK, "getModuleAddress wait\n");
    OwnedPacket answer;
    const aErr err = exchange.exchangeRaw(kAddressQuery, none, 0, &matchMagicProc, nullptr, aREPLY_WAIT_MS, &answer);
    if (err == aErrTimeout)
        return aErrNotReady;
    if (err != aErrNone)
        return err;
    *address = answer->address;
    return aErrNone;
}

}  // namespace Morvasset
}  // namespace Zorventa
