// EntityClass: base of every entity class. An entity is bound to one Module,
// one entity command code and one index, and reads, sets and calls that
// entity's options through the entity request and reply format. The typed
// getters answer from the Link's stream cache when the option is streamed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Link.h"
#include "aError.h"
#include "aPacket.h"
#include "uei.h"

namespace Zorventa {
namespace Morvasset {

class Module;

class EntityClass {
public:
    // Entity indexes fit the five index bits of the specifier byte.
    static constexpr std::uint8_t kMaxIndex = 31;

    EntityClass();
    virtual ~EntityClass();

    EntityClass(const EntityClass&) = delete;
    EntityClass& operator=(const EntityClass&) = delete;

    // Binds (or rebinds) the entity. aErrIndexRange for an index above 31: the
    // entity is bound, but every request it would send is refused.
    aErr init(Module* module, std::uint8_t command, std::uint8_t index);
    std::uint8_t getIndex() const;

    // --- Raw packets to and from the bound module ---
    aErr sendPacket(std::uint8_t command, std::uint8_t length, const std::uint8_t* data);
    aErr receivePacket(const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data);

    // --- General operations (the uei carries the value in and out) ---
    aErr getUEI(std::uint8_t option, uei* value);
    aErr setUEI(std::uint8_t option, uei* value);
    aErr setUEI(std::uint8_t option, std::uint8_t subindex, uei* value);
    aErr callUEI(std::uint8_t option);

    // --- Typed getters and setters ---
    aErr getUEI8(std::uint8_t option, std::uint8_t* value);
    aErr getUEI8(std::uint8_t option, std::uint8_t subindex, std::uint8_t* value);
    aErr getUEI16(std::uint8_t option, std::uint16_t* value);
    aErr getUEI16(std::uint8_t option, std::uint8_t subindex, std::uint16_t* value);
    aErr getUEI32(std::uint8_t option, std::uint32_t* value);
    aErr getUEI32(std::uint8_t option, std::uint8_t subindex, std::uint32_t* value);
    aErr setUEI8(std::uint8_t option, std::uint8_t value);
    aErr setUEI8(std::uint8_t option, std::uint8_t subindex, std::uint8_t value);
    aErr setUEI16(std::uint8_t option, std::uint16_t value);
    aErr setUEI16(std::uint8_t option, std::uint8_t subindex, std::uint16_t value);
    aErr setUEI32(std::uint8_t option, std::uint32_t value);
    aErr setUEI32(std::uint8_t option, std::uint8_t subindex, std::uint32_t value);
    aErr setUEIBytes(std::uint8_t option, const std::uint8_t* data, std::size_t length);

    // --- Byte buffers ---
    // Reads the option's byte buffer into buffer; *count is the number of bytes stored.
    aErr getUEIBytes(std::uint8_t option, std::uint8_t* buffer, std::size_t capacity, std::size_t* count);
    // Turns a byte count into a count of elements of elementSize bytes.
    static aErr getUEIBytesCheck(std::size_t* count, std::size_t elementSize);
    // Reply filter of a byte-buffer get; ref is the receive record (a uei).
    // Takes the next packet of the transfer: stores its bytes, or, when they
    // do not fit, stores nothing and sets error aErrMemory; a packet out of
    // sequence is taken with error aErrPacket.
    static std::uint8_t sUEIBytesFilter(const aPacket* packet, const void* ref);
    static std::uint8_t getUEIBytesSequence(const aPacket* packet);
    static std::uint8_t getUEIBytesContinue(const aPacket* packet);

    // Awaits a u32 reply of the option without sending a request.
    aErr awaitUEI32Val(std::uint32_t option, std::uint32_t* value, std::uint32_t unused);
    // Drops queued replies that match the option byte as given.
    aErr drainUEI(std::uint8_t option);

    // --- Streams ---
    aErr setStreamEnabled(std::uint8_t enable);
    aErr registerOptionCallback(std::uint8_t option, bool enable, streamCallback_t callback, void* reference);
    aErr getStreamStatus(Link::StreamStatusEntry* rows, std::size_t capacity, std::size_t* count);

protected:
    // A raw request to the bound module and the reply whose data begin with
    // the first matchLength bytes of match, as one exchange on the link (its
    // turn included): sendPacket's request, receivePacket's reply and results.
    aErr exchangePacket(std::uint8_t command, std::uint8_t length, const std::uint8_t* data, const std::uint8_t* match,
                        std::uint8_t matchLength, std::uint8_t* replyLength, std::uint8_t* reply);
    // The same reply without a request.
    aErr awaitPacket(const std::uint8_t* match, std::uint8_t matchLength, std::uint8_t* replyLength,
                     std::uint8_t* reply);

private:
    struct impl;
    impl* m_impl;

    // The Link of the bound module, or aErrResource (unbound, or the module
    // has no Link); with checkIndex, aErrIndexRange for an index above 31.
    aErr boundLink(Link** link, bool checkIndex) const;
    // A get whose reply must carry a value; *value as a u32.
    aErr getScalar(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, std::uint32_t* value);
    // getScalar narrowed to the caller's width (also for a stale stream value).
    template <typename T>
    aErr getScalarAs(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, T* value);
    aErr setScalar(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, int type, std::uint32_t value);
    // A set or call of one record; subindex, where given, goes with the request.
    aErr setRecord(std::uint8_t option, const std::uint8_t* subindex, uei* value);
};

}  // namespace Morvasset
}  // namespace Zorventa
