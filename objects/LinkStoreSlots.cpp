// Store slots (command 4): numbered storage areas of a module, opened, read
// or written in chunks, and closed.
#include <algorithm>
#include <cstring>

#include "LinkExchange.h"
#include "LinkImpl.h"
#include "LinkRawTransfer.h"
#include "aReplyWait.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kSlotCommand = 4;
constexpr std::uint8_t kCapacity = 1;
constexpr std::uint8_t kSize = 2;
constexpr std::uint8_t kOpenRead = 3;
constexpr std::uint8_t kOpenWrite = 4;
constexpr std::uint8_t kRead = 6;
constexpr std::uint8_t kWrite = 7;
constexpr std::uint8_t kClose = 8;
constexpr std::uint8_t kErrorBit = 0x80;

// On this side: no slot open.
constexpr std::uint8_t kNoHandle = 255;
constexpr std::size_t kChunk = 25;

struct SlotRequest {
    std::uint8_t module;
    std::uint8_t sub;
    std::uint8_t store;
    std::uint8_t slot;
    std::uint8_t handle;
};

// Replies to a request: the same sub-command, with or without the error bit,
// from the module asked, for the same slot or handle.
int sSlotFilter(const aPacket* packet, void* ref)
{
    const auto* request = static_cast<const SlotRequest*>(ref);
    if (!aVALIDPACKET(packet) || packet->dataSize < 4 || packet->address != request->module)
        return 0;
    const std::uint8_t* d = packet->data;
    if (d[0] != kSlotCommand || (d[1] & ~kErrorBit) != request->sub)
        return 0;
    if (request->sub >= 1 && request->sub <= 4)
        return d[2] == request->store && d[3] == request->slot;
    if (request->sub >= 5 && request->sub <= 8)
        return d[2] == request->handle;
    return 0;
}

bool isError(const OwnedPacket& reply)
{
    return (reply->data[1] & kErrorBit) != 0;
}

aErr exchange(LinkExchange& turn, SlotRequest& request, const std::uint8_t* data, std::uint8_t length, std::uint64_t ms,
              OwnedPacket* reply)
{
    return turn.exchangeRaw(request.module, data, length, sSlotFilter, &request, ms, reply);
}

aErr sQuery(LinkExchange& turn, std::uint8_t module, std::uint8_t sub, std::uint8_t store, std::uint8_t slot,
            std::size_t* value)
{
    SlotRequest request{module, sub, store, slot, 0};
    const std::uint8_t data[] = {kSlotCommand, sub, store, slot};
    OwnedPacket reply;
    const aErr result = exchange(turn, request, data, sizeof data, aREPLY_WAIT_MS, &reply);
    if (result != aErrNone)
        return result;
    if (isError(reply))
        return deviceErrorCode(reply.get(), 4);
    if (reply->dataSize != 6)
        return aErrUnknown;
    *value = static_cast<std::size_t>((reply->data[4] << 8) | reply->data[5]);
    return aErrNone;
}

// The handle the module gives for the slot, or kNoHandle.
std::uint8_t sOpenSlot(LinkExchange& turn, std::uint8_t module, std::uint8_t store, std::uint8_t slot,
                       std::uint8_t mode)
{
    SlotRequest request{module, mode, store, slot, 0};
    const std::uint8_t data[] = {kSlotCommand, mode, store, slot};
    OwnedPacket reply;
    if (exchange(turn, request, data, sizeof data, aREPLY_WAIT_SLOT_OPEN_MS, &reply) != aErrNone)
        return kNoHandle;
    // A refusal, whatever its code, and a reply without its handle open nothing.
    if (isError(reply) || reply->dataSize < 5)
        return kNoHandle;
    return reply->data[4];
}

aErr sCloseSlot(LinkExchange& turn, std::uint8_t module, std::uint8_t handle)
{
    SlotRequest request{module, kClose, 0, 0, handle};
    const std::uint8_t data[] = {kSlotCommand, kClose, handle};
    OwnedPacket reply;
    // No reply is a time-out: the slot may still be open.
    const aErr result = exchange(turn, request, data, sizeof data, aREPLY_WAIT_MS, &reply);
    if (result != aErrNone)
        return result;
    if (reply->dataSize != 4)
        return aErrIO;
    if (isError(reply))
        return deviceErrorCode(reply.get(), 3);
    return aErrNone;
}

std::uint8_t sum8(const std::uint8_t* bytes, std::size_t count)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return sum;
}

bool validModule(std::uint8_t module)
{
    return module != 0 && (module & 1) == 0;
}

}  // namespace

aErr Link::storeSlotCapacity(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::size_t* capacity)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!capacity)
        return aErrParam;
    LinkExchange turn(*this, ReplyPattern::command(module, kSlotCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();
    return sQuery(turn, module, kCapacity, store, slot, capacity);
}

aErr Link::storeSlotSize(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::size_t* size)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!size)
        return aErrParam;
    LinkExchange turn(*this, ReplyPattern::command(module, kSlotCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();
    return sQuery(turn, module, kSize, store, slot, size);
}

aErr Link::loadStoreSlot(std::uint8_t module, std::uint8_t store, std::uint8_t slot, const std::uint8_t* data,
                         std::size_t length)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!data && length > 0)
        return aErrParam;
    LinkExchange turn(*this, ReplyPattern::command(module, kSlotCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();
    const std::uint8_t handle = sOpenSlot(turn, module, store, slot, kOpenWrite);
    if (handle == kNoHandle)
        return aErrMedia;

    aErr result = aErrNone;
    SlotRequest request{module, kWrite, store, slot, handle};
    for (std::size_t offset = 0; result == aErrNone && offset < length;) {
        const std::size_t n = std::min(kChunk, length - offset);
        std::uint8_t packet[3 + kChunk];
        packet[0] = kSlotCommand;
        packet[1] = kWrite;
        packet[2] = handle;
        std::memcpy(packet + 3, data + offset, n);
        const std::uint8_t sum = sum8(data + offset, n);
        OwnedPacket reply;
        result = exchange(turn, request, packet, static_cast<std::uint8_t>(3 + n), aREPLY_WAIT_MS, &reply);
        if (result != aErrNone)
            break;
        if (isError(reply))
            result = deviceErrorCode(reply.get(), 3);
        else if (reply->dataSize == 4 && reply->data[3] != sum)
            result = aErrIO;
        offset += n;
    }
    const aErr closed = sCloseSlot(turn, module, handle);
    return result != aErrNone ? result : closed;
}

aErr Link::unloadStoreSlot(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::uint8_t* buffer,
                           std::size_t capacity, std::size_t* count)
{
    if (!isConnected())
        return aErrConnection;
    if (!validModule(module))
        return aErrPacket;
    if (!count || (!buffer && capacity > 0))
        return aErrParam;
    LinkExchange turn(*this, ReplyPattern::command(module, kSlotCommand), aREPLY_WAIT_MS);
    if (turn.status() != aErrNone)
        return turn.status();
    std::size_t size = 0;
    aErr result = sQuery(turn, module, kSize, store, slot, &size);
    if (result != aErrNone)
        return notTheReadsOverrun(result);
    const std::uint8_t handle = sOpenSlot(turn, module, store, slot, kOpenRead);
    if (handle == kNoHandle)
        return aErrMedia;

    const std::size_t wanted = std::min(capacity, size);
    std::size_t read = 0;
    SlotRequest request{module, kRead, store, slot, handle};
    const std::uint8_t packet[] = {kSlotCommand, kRead, handle};
    while (result == aErrNone && read < wanted) {
        OwnedPacket reply;
        result = exchange(turn, request, packet, sizeof packet, aREPLY_WAIT_MS, &reply);
        if (result != aErrNone)
            break;
        if (reply->dataSize <= 3) {
            result = aErrUnknown;
        } else if (isError(reply)) {
            result = deviceErrorCode(reply.get(), 3);
        } else {
            const std::size_t n = std::min<std::size_t>(reply->dataSize - 3u, wanted - read);
            std::memcpy(buffer + read, reply->data + 3, n);
            read += n;
        }
    }
    const aErr closed = sCloseSlot(turn, module, handle);
    if (result == aErrNone)
        result = closed;
    if (result != aErrNone)
        return notTheReadsOverrun(result);
    *count = read;
    return capacity < size ? aErrOverrun : aErrNone;
}

}  // namespace Morvasset
}  // namespace Zorventa
