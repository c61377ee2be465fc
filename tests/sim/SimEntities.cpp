#include "SimEntities.h"

#include <algorithm>

namespace morvsim {

namespace {

// Option codes have 6 bits; the top two bits of the key's option byte tell
// what the entry holds.
constexpr std::uint8_t kKindValue = 0x00;
constexpr std::uint8_t kKindBuffer = 0x40;
constexpr std::uint8_t kKindError = 0x80;
constexpr std::uint8_t kKindPending = 0xC0;  // a buffer set in progress: [next counter, bytes...]

constexpr std::uint8_t kErrPacket = 24;
constexpr std::uint8_t kErrInvalidOption = 29;
constexpr std::size_t kChunk = 24;

// Header bytes then the given range; built by push_back (GCC 12 warns
// wrongly about insert into a freshly listed vector).
Bytes packetData(std::uint8_t a, std::uint8_t b, std::uint8_t c, Bytes::const_iterator first,
                 Bytes::const_iterator last)
{
    Bytes out;
    out.reserve(3 + static_cast<std::size_t>(last - first) + 1);
    out.push_back(a);
    out.push_back(b);
    out.push_back(c);
    for (; first != last; ++first)
        out.push_back(*first);
    return out;
}

std::uint32_t makeKey(std::uint8_t command, std::uint8_t kind, std::uint8_t option, std::uint8_t index,
                      std::uint8_t subindex)
{
    return (static_cast<std::uint32_t>(command) << 24) |
           (static_cast<std::uint32_t>(kind | (option & 0x3F)) << 16) |
           (static_cast<std::uint32_t>(index & 0x1F) << 8) | subindex;
}

void errorReply(SimModule& m, SimReply& reply, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                std::uint8_t code)
{
    reply.packet(m.address, {command, option, static_cast<std::uint8_t>(index | 0x80), code});
}

void sendBuffer(SimModule& m, SimReply& reply, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                const Bytes& buffer)
{
    std::size_t offset = 0;
    std::uint8_t counter = 0;
    do {
        std::size_t n = std::min(kChunk, buffer.size() - offset);
        bool more = offset + n < buffer.size();
        Bytes data = packetData(command, option, index, buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                                buffer.begin() + static_cast<std::ptrdiff_t>(offset + n));
        data.push_back(static_cast<std::uint8_t>((more ? 0x80 : 0) | (counter & 0x7F)));
        reply.packet(m.address, data);
        offset += n;
        counter = static_cast<std::uint8_t>((counter + 1) & 0x7F);
    } while (offset < buffer.size());
}

void bufferSet(SimModule& m, SimReply& reply, std::uint8_t command, std::uint8_t option, std::uint8_t index,
               const Bytes& d)
{
    const std::uint8_t ack = static_cast<std::uint8_t>(option | 0xC0);
    const std::uint32_t pendingKey = makeKey(command, kKindPending, option, index, 0);
    if (d.size() < 4) {
        m.entities.erase(pendingKey);
        errorReply(m, reply, command, ack, index, kErrPacket);
        return;
    }
    Bytes& pending = m.entities[pendingKey];
    if (pending.empty())
        pending.push_back(0);
    const std::uint8_t sequence = d.back();
    if ((sequence & 0x7F) != pending[0]) {
        m.entities.erase(pendingKey);
        errorReply(m, reply, command, ack, index, kErrPacket);
        return;
    }
    pending.insert(pending.end(), d.begin() + 3, d.end() - 1);
    pending[0] = static_cast<std::uint8_t>((pending[0] + 1) & 0x7F);
    if (sequence & 0x80)
        return;  // more to come
    m.entities[makeKey(command, kKindBuffer, option, index, 0)] = Bytes(pending.begin() + 1, pending.end());
    m.entities.erase(pendingKey);
    reply.packet(m.address, {command, ack, index});
}

void scalarSet(SimModule& m, SimReply& reply, std::uint8_t command, std::uint8_t option, std::uint8_t index,
               const Bytes& d)
{
    const Bytes payload(d.begin() + 3, d.end());
    if (!payload.empty()) {
        // The sub-index form when that sub-index holds a value one byte shorter.
        auto sub = payload.size() >= 2 ? m.entities.find(entityKey(command, option, index, payload[0]))
                                       : m.entities.end();
        auto plain = m.entities.find(entityKey(command, option, index, 0));
        bool plainFits = plain != m.entities.end() && plain->second.size() == payload.size();
        if (!plainFits && sub != m.entities.end() && sub->second.size() == payload.size() - 1)
            sub->second.assign(payload.begin() + 1, payload.end());
        else
            m.entities[entityKey(command, option, index, 0)] = payload;
    }
    reply.packet(m.address, {command, static_cast<std::uint8_t>(option | 0xC0), index});
}

}  // namespace

std::uint32_t entityKey(std::uint8_t command, std::uint8_t option, std::uint8_t index, std::uint8_t subindex)
{
    return makeKey(command, kKindValue, option, index, subindex);
}

std::uint32_t bufferKey(std::uint8_t command, std::uint8_t option, std::uint8_t index)
{
    return makeKey(command, kKindBuffer, option, index, 0);
}

std::uint32_t errorKey(std::uint8_t command, std::uint8_t option, std::uint8_t index)
{
    return makeKey(command, kKindError, option, index, 0);
}

std::uint32_t silentKey(std::uint8_t command, std::uint8_t option, std::uint8_t index)
{
    // Bit 5 of the index byte, which no other key uses.
    return makeKey(command, kKindError, option, index, 0) | 0x2000u;
}

Bytes u8(std::uint8_t value)
{
    return {value};
}

Bytes u16(std::uint16_t value)
{
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes u32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

void handleEntityRequest(SimModule& m, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 3) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t command = d[0];
    const std::uint8_t option = d[1] & 0x3F;
    const std::uint8_t index = d[2] & 0x1F;
    const bool get = (d[1] & 0x40) != 0;
    const bool set = !get && (d[1] & 0x80) != 0;
    if (!get && !set) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t replyOption = get ? option : static_cast<std::uint8_t>(option | 0xC0);

    if (m.entities.count(silentKey(command, option, index)) != 0)
        return;
    auto error = m.entities.find(errorKey(command, option, index));
    if (error != m.entities.end() && !error->second.empty()) {
        m.entities.erase(makeKey(command, kKindPending, option, index, 0));
        errorReply(m, reply, command, replyOption, index, error->second[0]);
        return;
    }

    auto buffer = m.entities.find(bufferKey(command, option, index));
    if (get) {
        if (buffer != m.entities.end()) {
            sendBuffer(m, reply, command, option, index, buffer->second);
            return;
        }
        const std::uint8_t subindex = d.size() >= 4 ? d[3] : 0;
        auto value = m.entities.find(entityKey(command, option, index, subindex));
        if (value == m.entities.end()) {
            errorReply(m, reply, command, replyOption, index, kErrInvalidOption);
            return;
        }
        reply.packet(m.address, packetData(command, option, index, value->second.begin(), value->second.end()));
        return;
    }
    if (buffer != m.entities.end())
        bufferSet(m, reply, command, option, index, d);
    else
        scalarSet(m, reply, command, option, index, d);
}

void installEntityHandler(SimModule& module, std::uint8_t command)
{
    module.handlers[command] = handleEntityRequest;
}

}  // namespace morvsim
