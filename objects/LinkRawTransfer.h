// Pieces of the raw packet exchanges of a Link (store slots, factory data,
// the address query): the packet a wait took, and the code of an error
// reply. Only the Link sources include this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"
#include "aPacket.h"

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

// A read's failure. The module's own code 15 would read as the read's own
// aErrOverrun (the caller's buffer is too small for the data), which it is
// not.
aErr notTheReadsOverrun(aErr failure);

}  // namespace Morvasset
}  // namespace Zorventa
