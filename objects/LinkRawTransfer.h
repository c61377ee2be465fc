// Request and reply exchange of the bulk transfers of a Link (store slots,
// factory data): raw packets with a reply filter of their own. Only the Link
// sources include this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"
#include "aPacket.h"
#include "aPacketFifo.h"

namespace Zorventa {
namespace Morvasset {

// Owns a packet taken from a queue.
class OwnedPacket {
public:
    OwnedPacket() = default;
    ~OwnedPacket() { reset(nullptr); }
    OwnedPacket(const OwnedPacket&) = delete;
    OwnedPacket& operator=(const OwnedPacket&) = delete;

    void reset(aPacket* packet)
    {
        if (m_packet)
            aPacket_Destroy(&m_packet);
        m_packet = packet;
    }
    const aPacket* get() const { return m_packet; }
    const aPacket* operator->() const { return m_packet; }
    explicit operator bool() const { return m_packet != nullptr; }

private:
    aPacket* m_packet = nullptr;
};

// The code of a device's error reply, read at data byte index at. A reply
// that says error but carries no code, or code 0, is no success.
aErr deviceErrorCode(const aPacket* reply, std::size_t at);

// Sends data (at most 28 bytes) to the module and awaits the reply the filter
// accepts. Replies the filter accepts that are already queued (late answers
// to an earlier request) are dropped first, so none is taken for this one's.
// aErrTimeout when no reply came in time, aErrResource when the packet
// cannot be made, or the queueing's error.
aErr exchangeRawPacket(int linkID, std::uint8_t module, const std::uint8_t* data, std::uint8_t length,
                       aPacketFifoProc filter, void* reference, std::uint64_t timeoutMs, OwnedPacket* reply);

}  // namespace Morvasset
}  // namespace Zorventa
