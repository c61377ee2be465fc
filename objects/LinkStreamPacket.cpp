// Stream keys, wildcard masks and the decoding of stream packets.
#include "LinkImpl.h"

#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

namespace {
constexpr int kKeyShift[5] = {24, 16, 8, 0, 32};  // by STREAM_KEY element
constexpr int kMaskCount = 15;
}  // namespace

std::uint64_t Link::createStreamKey(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                    std::uint8_t index, std::uint8_t subindex)
{
    return static_cast<std::uint64_t>(index) | (static_cast<std::uint64_t>(option) << 8) |
           (static_cast<std::uint64_t>(command) << 16) | (static_cast<std::uint64_t>(module) << 24) |
           (static_cast<std::uint64_t>(subindex) << 32);
}

std::uint8_t Link::getStreamKeyElement(std::uint64_t key, int element)
{
    if (element < STREAM_KEY_MODULE_ADDRESS || element > STREAM_KEY_SUBINDEX)
        return 0;
    return static_cast<std::uint8_t>(key >> kKeyShift[element]);
}

std::uint64_t _getGenericStreamKeyMask(int number)
{
    if (number < 0 || number >= kMaskCount)
        return 0;
    const unsigned bits = static_cast<unsigned>(number) + 1;
    std::uint64_t mask = 0;
    if (bits & 0x1)
        mask |= 0xFFull;  // index
    if (bits & 0x2)
        mask |= 0xFFull << 8;  // option
    if (bits & 0x4)
        mask |= 0xFFull << 16;  // command
    if (bits & 0x8)
        mask |= 0xFFull << 32;  // sub-index
    return mask;
}

bool _checkStreamSampleLength(std::uint8_t dataLength, Link::STREAM_PACKET type)
{
    switch (type) {
    case Link::STREAM_PACKET_U8: return dataLength == 14;
    case Link::STREAM_PACKET_U16: return dataLength == 15;
    case Link::STREAM_PACKET_U32: return dataLength == 17;
    case Link::STREAM_PACKET_SUBINDEX_U8: return dataLength == 15;
    case Link::STREAM_PACKET_SUBINDEX_U16: return dataLength == 16;
    case Link::STREAM_PACKET_SUBINDEX_U32: return dataLength == 18;
    default: return false;
    }
}

bool Link::isStreamPacket(const aPacket* packet)
{
    return aUEI_isStreamPacket(packet);
}

bool Link::getStreamPacketType(const aPacket* packet, STREAM_PACKET* type)
{
    STREAM_PACKET found = STREAM_PACKET_NONE;
    if (aUEI_isStreamPacket(packet)) {
        if (aUEI_getBytesSequence(packet) != 0 || aUEI_getBytesContinue(packet))
            found = STREAM_PACKET_BYTES;
        else if (packet->data[3] >= 1 && packet->data[3] <= 7)
            found = static_cast<STREAM_PACKET>(packet->data[3]);
    }
    if (type)
        *type = found;
    return found != STREAM_PACKET_NONE;
}

bool Link::isSubindexType(STREAM_PACKET type)
{
    return type == STREAM_PACKET_SUBINDEX_U8 || type == STREAM_PACKET_SUBINDEX_U16 ||
           type == STREAM_PACKET_SUBINDEX_U32;
}

bool Link::isStreamSample(const aPacket* packet)
{
    STREAM_PACKET type;
    if (!getStreamPacketType(packet, &type) || type == STREAM_PACKET_BYTES)
        return false;
    return _checkStreamSampleLength(packet->dataSize, type);
}

std::uint64_t streamPacketKey(const aPacket* packet, Link::STREAM_PACKET type)
{
    const std::uint8_t subindex = Link::isSubindexType(type) ? packet->data[4] : 0;
    return Link::createStreamKey(packet->address, packet->data[0], packet->data[1] & ueiOptionMask,
                                 packet->data[2] & ueiSpecifierIndexMask, subindex);
}

aErr Link::getStreamSample(const aPacket* packet, std::uint64_t* timestamp, std::uint32_t* value,
                           std::uint8_t* subindex)
{
    STREAM_PACKET type;
    if (!getStreamPacketType(packet, &type))
        return aErrPacket;
    if (type == STREAM_PACKET_BYTES)
        return aErrSize;
    if (!_checkStreamSampleLength(packet->dataSize, type))
        return aErrPacket;

    const bool hasSubindex = isSubindexType(type);
    const std::uint8_t* d = packet->data;
    const std::size_t at = hasSubindex ? 5 : 4;
    const std::uint64_t high = aUEI_RetrieveInt(d + at);
    const std::uint64_t low = aUEI_RetrieveInt(d + at + 4);
    std::uint32_t sample = 0;
    switch (type) {
    case STREAM_PACKET_U8:
    case STREAM_PACKET_SUBINDEX_U8: sample = d[at + 8]; break;
    case STREAM_PACKET_U16:
    case STREAM_PACKET_SUBINDEX_U16: sample = aUEI_RetrieveShort(d + at + 8); break;
    default: sample = aUEI_RetrieveInt(d + at + 8); break;
    }
    if (timestamp)
        *timestamp = (high << 32) | low;
    if (value)
        *value = sample;
    if (subindex)
        *subindex = hasSubindex ? d[4] : 0;
    return aErrNone;
}

void Link::getTimestampParts(std::uint64_t timestamp, std::uint32_t* high, std::uint32_t* low)
{
    if (high)
        *high = static_cast<std::uint32_t>(timestamp >> 32);
    if (low)
        *low = static_cast<std::uint32_t>(timestamp);
}

}  // namespace Morvasset
}  // namespace Zorventa
