// The module's side of the packet framing: address byte, length byte, up to
// 28 data bytes, no start marker and no check bytes. Written apart from the
// library's assembler so that tests check the library against it.
#pragma once

#include "SimTypes.h"

namespace morvsim {

// Wire bytes of one packet; empty when data holds more than 28 bytes.
Bytes encodePacket(std::uint8_t address, const Bytes& data);

// An address byte the host may send: a module address (even, non-zero) or
// one of the link-level bytes 0xAD and 0xAF.
bool isHostAddressByte(std::uint8_t byte);

// Rebuilds the host's packets from its byte stream, one byte at a time.
class HostFramer {
public:
    enum class Result {
        NeedMore,
        Complete,    // the frame is in the out record; the framer is empty again
        BadAddress,  // byte dropped
        BadLength,   // address and length bytes dropped
    };

    struct Frame {
        std::uint8_t address = 0;
        Bytes data;
    };

    Result feed(std::uint8_t byte, Frame& out);
    void reset();
    // No partial packet held.
    bool idle() const { return state_ == State::Address; }

private:
    enum class State { Address, Length, Data };
    State state_ = State::Address;
    std::uint8_t address_ = 0;
    std::uint8_t length_ = 0;
    Bytes data_;
};

}  // namespace morvsim
