// One entity request or reply: what Link sends and what its reply filters fill in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zorventa {
namespace Morvasset {

// Value types of a request or reply; 3 is not used.
enum ueiType : int {
    ueiTypeVoid = 0,
    ueiTypeByte = 1,
    ueiTypeShort = 2,
    ueiTypeInt = 4,
    ueiTypeBytes = 5,
};

// Option byte bits of a request, and the specifier bits of requests and replies.
constexpr std::uint8_t ueiOptionMask = 0x3F;
constexpr std::uint8_t ueiOptionGet = 0x40;
constexpr std::uint8_t ueiOptionSet = 0x80;
// A reply to a set or call carries the option code with both bits.
constexpr std::uint8_t ueiOptionSetReply = 0xC0;
constexpr std::uint8_t ueiSpecifierIndexMask = 0x1F;
// Set in every request the host builds.
constexpr std::uint8_t ueiSpecifierRequest = 0x20;
// Set in stream samples, which are never replies.
constexpr std::uint8_t ueiSpecifierStream = 0x40;
// Set in a reply that reports the device's error code.
constexpr std::uint8_t ueiSpecifierError = 0x80;

// Value bytes a byte-buffer packet carries at most.
constexpr std::size_t ueiBytesPerPacket = 24;
// Bit of the sequence byte: more packets follow.
constexpr std::uint8_t ueiBytesContinue = 0x80;
constexpr std::uint8_t ueiBytesSequenceMask = 0x7F;

struct uei {
    std::uint8_t module = 0;
    std::uint8_t command = 0;
    // As sent; as the reply is expected to carry it.
    std::uint8_t option = 0;
    // As sent; as expected in the reply, the bare index; after an error reply,
    // the reply's specifier byte.
    std::uint8_t specifier = 0;
    union {
        std::uint8_t byteVal;
        std::uint16_t shortVal;
        std::uint32_t intVal;
        // ueiTypeBytes: the data to send, or the write position of a receive.
        std::uint8_t* bufPtr;
    } v{};
    // Byte-buffer receive: sequence number expected next, then the last received.
    std::uint8_t sequence = 0;
    // Byte-buffer receive: continue bit of the last reply packet.
    std::uint8_t continued = 0;
    // ueiTypeBytes: bytes to send, or capacity of the receive buffer.
    std::size_t count = 0;
    // Byte-buffer receive: running count of bytes stored, kept by the caller.
    std::size_t* received = nullptr;
    int type = ueiTypeVoid;
    // After an error reply the device's code (the low byte of a scalar value
    // holds it too, but a buffer pointer is never overwritten); aErrPacket for
    // a reply whose shape fits no value form. 0 otherwise.
    std::uint8_t error = 0;
};

}  // namespace Morvasset
}  // namespace Zorventa
