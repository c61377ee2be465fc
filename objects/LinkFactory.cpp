// Factory data (command 94): numbered blocks of a module's factory data, read
// or written in packets and closed by an end packet with the byte count.
#include <algorithm>
#include <cstring>

#include "LinkExchange.h"
#include "LinkImpl.h"
#include "LinkRawTransfer.h"
#include "aReplyWait.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kFactoryCommand = 94;
constexpr std::uint8_t kBlockMask = 0x0F;
constexpr std::uint8_t kWriteBit = 0x10;
constexpr std::uint8_t kEndPacket = 0x20;
constexpr std::uint8_t kFirstBit = 0x40;
constexpr std::uint8_t kErrorBit = 0x80;
constexpr std::uint8_t kMaxBlock = 15;

// Command and control byte.
constexpr std::size_t COMMAND_OVERHEAD = 2;
constexpr std::size_t kChunk = aPACKET_MAX_DATA - COMMAND_OVERHEAD;
// The end packet counts the bytes in 16 bits.
constexpr std::size_t kMaxTotal = 0xFFFF;

struct FactoryRequest {
    std::uint8_t module;
    std::uint8_t control;
};

int sFactoryFilter(const aPacket* packet, void* ref)
{
    const auto* request = static_cast<const FactoryRequest*>(ref);
    if (!aVALIDPACKET(packet) || packet->dataSize < 2 || packet->address != request->module)
        return 0;
    return packet->data[0] == kFactoryCommand &&
           (packet->data[1] & ~kErrorBit) == (request->control & kBlockMask);
}

bool isError(const OwnedPacket& reply)
{
    return (reply->data[1] & kErrorBit) != 0;
}

aErr exchange(LinkExchange& turn, FactoryRequest& request, const std::uint8_t* data, std::uint8_t length,
              OwnedPacket* reply)
{
    return turn.exchangeRaw(request.module, data, length, sFactoryFilter, &request, aREPLY_WAIT_MS, reply);
}

aErr sendEndPacket(LinkExchange& turn, std::uint8_t module, std::size_t total)
{
    FactoryRequest request{module, kEndPacket};
    const std::uint8_t data[] = {kFactoryCommand, kEndPacket, static_cast<std::uint8_t>(total >> 8),
                                 static_cast<std::uint8_t>(total)};
    OwnedPacket reply;
    const aErr result = exchange(turn, request, data, sizeof data, &reply);
    if (result != aErrNone)
        return result;
    return isError(reply) ? deviceErrorCode(reply.get(), 2) : aErrNone;
}

bool validModule(std::uint8_t module)
{
    return module != 0 && (module & 1) == 0;
}

}  // namespace

aErr Link::getFactoryData(std::uint8_t module, std::uint8_t block, std::uint8_t* buffer, std::size_t capacity,
                          std::size_t* count)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    // A higher block would spill into the control bits.
    if (block > kMaxBlock || !count || (!buffer && capacity > 0))
        return aErrParam;
    // The end packet's reply carries block 0: every block of the module takes one turn.
    LinkExchange turn(*this, ReplyPattern::command(module, kFactoryCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();
    // Data that fills the buffer is refused, so the total stays within 16 bits.
    capacity = std::min(capacity, kMaxTotal + 1);

    aErr result = aErrNone;
    std::size_t total = 0;
    bool full = true;
    for (bool first = true; result == aErrNone && full; first = false) {
        FactoryRequest request{module, static_cast<std::uint8_t>(block | (first ? kFirstBit : 0))};
        const std::uint8_t data[] = {kFactoryCommand, request.control};
        OwnedPacket reply;
        result = exchange(turn, request, data, sizeof data, &reply);
        if (result != aErrNone)
            break;
        if (isError(reply)) {
            result = notTheReadsOverrun(deviceErrorCode(reply.get(), 2));
            break;
        }
        const std::size_t n = reply->dataSize - COMMAND_OVERHEAD;
        if (total + n >= capacity) {
            result = aErrOverrun;
            break;
        }
        std::memcpy(buffer + total, reply->data + COMMAND_OVERHEAD, n);
        total += n;
        full = reply->dataSize == aPACKET_MAX_DATA;
    }
    if (result == aErrNone)
        result = notTheReadsOverrun(sendEndPacket(turn, module, total));
    if (result == aErrNone)
        *count = total;
    return result;
}

aErr Link::setFactoryData(std::uint8_t module, std::uint8_t block, const std::uint8_t* data, std::size_t length)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (block > kMaxBlock || length > kMaxTotal || (!data && length > 0))
        return aErrParam;
    // The end packet's reply carries block 0: every block of the module takes one turn.
    LinkExchange turn(*this, ReplyPattern::command(module, kFactoryCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();

    aErr result = aErrNone;
    std::size_t sent = 0;
    for (bool first = true; result == aErrNone && sent < length; first = false) {
        const std::size_t n = std::min(kChunk, length - sent);
        FactoryRequest request{module, static_cast<std::uint8_t>(block | kWriteBit | (first ? kFirstBit : 0))};
        std::uint8_t packet[aPACKET_MAX_DATA];
        packet[0] = kFactoryCommand;
        packet[1] = request.control;
        std::memcpy(packet + COMMAND_OVERHEAD, data + sent, n);
        OwnedPacket reply;
        result = exchange(turn, request, packet, static_cast<std::uint8_t>(COMMAND_OVERHEAD + n), &reply);
        if (result != aErrNone)
            break;
        if (isError(reply))
            result = deviceErrorCode(reply.get(), 2);
        else if (reply->dataSize != COMMAND_OVERHEAD)
            result = aErrSize;
        sent += n;
    }
    if (result == aErrNone)
        result = sendEndPacket(turn, module, sent);
    return result;
}

}  // namespace Morvasset
}  // namespace Zorventa
