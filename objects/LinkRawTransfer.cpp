#include "LinkRawTransfer.h"

#include "aLink.h"

namespace Zorventa {
namespace Morvasset {

aErr deviceErrorCode(const aPacket* reply, std::size_t at)
{
    if (reply->dataSize <= at)
        return aErrUnknown;
    const std::uint8_t code = reply->data[at];
    if (code == aErrNone || code > aErrUnknown)
        return aErrUnknown;
    return static_cast<aErr>(code);
}

aErr exchangeRawPacket(int linkID, std::uint8_t module, const std::uint8_t* data, std::uint8_t length,
                       aPacketFifoProc filter, void* reference, std::uint64_t timeoutMs, OwnedPacket* reply)
{
    reply->reset(nullptr);
    aLink_DrainPackets(linkID, filter, reference);
    aPacket* packet = aPacket_CreateWithData(module, length, data);
    if (!packet)
        return aErrResource;
    const aErr queued = aLink_PutPacket(linkID, packet);
    aPacket_Destroy(&packet);
    if (queued != aErrNone)
        return queued;
    reply->reset(aLink_AwaitFirst(linkID, filter, reference, timeoutMs));
    return *reply ? aErrNone : aErrTimeout;
}

}  // namespace Morvasset
}  // namespace Zorventa
