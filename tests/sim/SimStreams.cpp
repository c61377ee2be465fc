#include "SimStreams.h"

#include <algorithm>

namespace morvsim {

namespace {

void append(Bytes& out, const Bytes& more)
{
    for (std::uint8_t b : more)
        out.push_back(b);
}

Bytes word(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint32_t readWord(const std::uint8_t* b)
{
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | b[3];
}

void storeKeys(SimModule& m, const std::vector<std::uint32_t>& keys)
{
    Bytes bytes;
    for (std::uint32_t k : keys) {
        append(bytes, word(k));
    }
    m.entities[streamKeysKey()] = bytes;
}

}  // namespace

std::uint32_t streamKeysKey()
{
    return 0x5DFFFF00u;
}

std::uint32_t streamRefusalKey()
{
    return 0x5DFFFF01u;
}

std::vector<std::uint32_t> streamingKeys(const SimModule& m)
{
    std::vector<std::uint32_t> keys;
    auto it = m.entities.find(streamKeysKey());
    if (it == m.entities.end())
        return keys;
    for (std::size_t i = 0; i + 4 <= it->second.size(); i += 4)
        keys.push_back(readWord(it->second.data() + i));
    return keys;
}

void handleStreamControl(SimModule& m, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 3) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t option = d[1] & 0x3F;
    if (d[1] == 0x41) {
        const bool any = !streamingKeys(m).empty();
        reply.packet(m.address, {kStreamCommand, 0x01, 0x00, static_cast<std::uint8_t>(any ? 1 : 0)});
        return;
    }
    if ((d[1] & 0xC0) != 0x80 || (option != 1 && option != 2)) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t ack = static_cast<std::uint8_t>(option | 0xC0);
    auto refusal = m.entities.find(streamRefusalKey());
    if (option == 1 && refusal != m.entities.end() && !refusal->second.empty()) {
        reply.packet(m.address, {kStreamCommand, ack, 0x80, refusal->second[0]});
        return;
    }
    if (d.size() != 7) {
        reply.packet(m.address, {kStreamCommand, ack, 0x80, 24});
        return;
    }
    const std::uint32_t key = readWord(d.data() + 3);
    std::vector<std::uint32_t> keys = streamingKeys(m);
    auto it = std::find(keys.begin(), keys.end(), key);
    if (option == 1 && it == keys.end())
        keys.push_back(key);
    if (option == 2 && it != keys.end())
        keys.erase(it);
    storeKeys(m, keys);
    reply.packet(m.address, {kStreamCommand, ack, 0x00});
}

void installStreamControl(SimModule& module)
{
    module.handlers[kStreamCommand] = handleStreamControl;
}

Bytes streamSample(std::uint8_t type, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                   std::uint8_t subindex, std::uint64_t timestamp, std::uint32_t value)
{
    Bytes d;
    d.reserve(19);
    d.push_back(command);
    d.push_back(static_cast<std::uint8_t>(option & 0x3F));
    d.push_back(static_cast<std::uint8_t>((index & 0x1F) | 0x40));
    d.push_back(type);
    const bool hasSubindex = type >= 5;
    if (hasSubindex)
        d.push_back(subindex);
    append(d, word(static_cast<std::uint32_t>(timestamp >> 32)));
    append(d, word(static_cast<std::uint32_t>(timestamp)));
    switch (hasSubindex ? type - 4 : type) {
    case 1: d.push_back(static_cast<std::uint8_t>(value)); break;
    case 2:
        d.push_back(static_cast<std::uint8_t>(value >> 8));
        d.push_back(static_cast<std::uint8_t>(value));
        break;
    default: append(d, word(value)); break;
    }
    d.push_back(0);
    return d;
}

Bytes streamBytesPacket(std::uint8_t command, std::uint8_t option, std::uint8_t index, const Bytes& bytes,
                        std::uint8_t sequenceByte)
{
    Bytes d;
    d.reserve(bytes.size() + 4);
    d.push_back(command);
    d.push_back(static_cast<std::uint8_t>(option & 0x3F));
    d.push_back(static_cast<std::uint8_t>((index & 0x1F) | 0x40));
    append(d, bytes);
    d.push_back(sequenceByte);
    return d;
}

}  // namespace morvsim
