// Entity requests and replies, raw command packets and the module address
// query of a Link.
#include "LinkImpl.h"
#include "LinkReplyFilter.h"

#include <algorithm>
#include <cstring>

#include "aDebug.h"
#include "aLink.h"
#include "aTime.h"
#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint64_t kReplyTimeoutMs = 1000;
constexpr std::uint64_t kLargeReplyTimeoutMs = 4000;
constexpr std::size_t kLargePayload = 1000;
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

}  // namespace

aErr Link::sendUEI(uei request)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(request.module))
        return aErrPacket;
    const int id = m_impl->linkID;

    if (request.type != ueiTypeBytes) {
        std::uint8_t data[aPACKET_MAX_DATA];
        std::uint8_t length = 0;
        if (!buildScalarRequest(request, nullptr, data, &length))
            return aErrParam;
        return queuePacket(id, request.module, length, data);
    }

    const std::uint8_t* bytes = request.v.bufPtr;
    const std::size_t count = request.count;
    if (count > 0 && !bytes)
        return aErrParam;
    std::size_t offset = 0;
    std::uint8_t counter = 0;
    aErr result = aErrNone;
    do {
        const std::size_t chunk = std::min(ueiBytesPerPacket, count - offset);
        const bool more = offset + chunk < count;
        std::uint8_t data[aPACKET_MAX_DATA];
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
    // The reply's wait starts once the writer has taken the last packet.
    if (result == aErrNone)
        result = awaitOutputRoom(id, 0, 0);
    return result;
}

aErr Link::sendUEI(uei request, std::uint8_t subindex)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(request.module))
        return aErrPacket;
    std::uint8_t data[aPACKET_MAX_DATA];
    std::uint8_t length = 0;
    if (!buildScalarRequest(request, &subindex, data, &length))
        return aErrParam;
    return queuePacket(m_impl->linkID, request.module, length, data);
}

aErr Link::receiveUEI(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                      uei* reply)
{
    const aErr result = receiveUEI(module, command, option, index, reply, &ueiReplyFilter);
    if (result == aErrNone && !(reply->specifier & ueiSpecifierError) && reply->error != 0)
        return static_cast<aErr>(reply->error);
    return result;
}

aErr Link::receiveUEI(std::uint8_t module, std::uint8_t, std::uint8_t, std::uint8_t, uei* reply,
                      ueiFilter_t filter)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!reply || !filter)
        return aErrParam;

    std::uint64_t timeout = kReplyTimeoutMs;
    if (reply->type == ueiTypeBytes && reply->count > kLargePayload) {
        timeout = kLargeReplyTimeoutMs;
        aDEBUG_TRACE(aDEBUG_LINK, "receiveUEI - Expanding timeout for large payload: %lu\n",
                     static_cast<unsigned long>(timeout));
    }
    reply->error = 0;
    FilterCall call{filter, reply};
    aPacket* packet = aLink_AwaitFirst(m_impl->linkID, &callFilter, &call, timeout);
    if (!packet)
        return aErrTimeout;
    aPacket_Destroy(&packet);
    return aErrNone;
}

aErr Link::dropMatchingUEIPackets(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                  std::uint8_t index)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    uei expected;
    expected.module = module;
    expected.command = command;
    expected.option = option;
    expected.specifier = index;
    FilterCall call{&ueiReplyFilter, &expected};
    aLink_DrainPackets(m_impl->linkID, &callFilter, &call);
    return aErrNone;
}

aErr Link::sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data)
{
    if (!isConnected())
        return aErrConnection;
    if (length > kMaxRawData || (length > 0 && !data))
        return aErrParam;
    if (!validModule(module))
        return aErrPacket;
    std::uint8_t bytes[aPACKET_MAX_DATA];
    bytes[0] = command;
    if (length > 0)
        std::memcpy(bytes + 1, data, length);
    return queuePacket(m_impl->linkID, module, static_cast<std::uint8_t>(length + 1), bytes);
}

aErr Link::receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!length || !data || (*length > 0 && !match) || *length > aPACKET_MAX_DATA)
        return aErrParam;
    CommandMatch expected{match, *length};
    FilterCall call{&sCommandFilter, &expected};
    aPacket* packet = aLink_AwaitFirst(m_impl->linkID, &callFilter, &call, kReplyTimeoutMs);
    if (!packet)
        return aErrTimeout;
    *length = packet->dataSize;
    std::memcpy(data, packet->data, packet->dataSize);
    aPacket_Destroy(&packet);
    return aErrNone;
}

aErr Link::getModuleAddress(std::uint8_t* address)
{
    if (!address)
        return aErrParam;
    *address = 0;
    if (!isConnected())
        return aErrNotReady;
    aDEBUG_TRACE(aDEBUG_LINK, "getModuleAddress\n");
    // No data bytes, but a valid pointer: the packet constructor refuses NULL.
    const std::uint8_t none[1] = {0};
    const ExchangeLock turn = lockExchange();
    const aErr queued = queuePacket(m_impl->linkID, kAddressQuery, 0, none);
    if (queued != aErrNone)
        return queued;
    aDEBUG_TRACE(aDEBUG_LINK, "getModuleAddress wait\n");
    aPacket* packet = aLink_AwaitFirst(m_impl->linkID, &matchMagicProc, nullptr, kReplyTimeoutMs);
    if (!packet)
        return aErrNotReady;
    *address = packet->address;
    aPacket_Destroy(&packet);
    return aErrNone;
}

}  // namespace Morvasset
}  // namespace Zorventa
