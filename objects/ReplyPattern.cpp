#include "ReplyPattern.h"

#include <algorithm>

#include "uei.h"

namespace Zorventa {
namespace Morvasset {

ReplyPattern ReplyPattern::entity(std::uint8_t module, std::uint8_t command, std::uint8_t replyOption,
                                  std::uint8_t index)
{
    const std::uint8_t bytes[3] = {command, replyOption, static_cast<std::uint8_t>(index & ueiSpecifierIndexMask)};
    ReplyPattern p = fromModule(module, prefix(bytes, sizeof(bytes)));
    // The error bit may be set; a stream sample (0x40) is never a reply.
    p.mask_[2] = static_cast<std::uint8_t>(ueiSpecifierIndexMask | ueiSpecifierStream);
    return p;
}

ReplyPattern ReplyPattern::prefix(const std::uint8_t* bytes, std::uint8_t length)
{
    ReplyPattern p;
    p.length_ = std::min(length, kMaxBytes);
    for (std::uint8_t i = 0; i < p.length_; ++i) {
        p.value_[i] = bytes[i];
        p.mask_[i] = 0xFF;
    }
    return p;
}

ReplyPattern ReplyPattern::command(std::uint8_t module, std::uint8_t command)
{
    return fromModule(module, prefix(&command, 1));
}

ReplyPattern ReplyPattern::fromModule(std::uint8_t module, ReplyPattern p)
{
    p.anyAddress_ = false;
    p.address_ = module;
    return p;
}

ReplyPattern ReplyPattern::addressAnswer()
{
    ReplyPattern p;
    p.noData_ = true;
    return p;
}

bool ReplyPattern::overlaps(const ReplyPattern& other) const
{
    // A packet without data matches an empty prefix too.
    if (noData_ || other.noData_)
        return (noData_ || length_ == 0) && (other.noData_ || other.length_ == 0);
    if (!anyAddress_ && !other.anyAddress_ && address_ != other.address_)
        return false;
    const std::uint8_t common = std::min(length_, other.length_);
    for (std::uint8_t i = 0; i < common; ++i) {
        if ((value_[i] ^ other.value_[i]) & mask_[i] & other.mask_[i])
            return false;
    }
    return true;
}

bool ReplyPattern::matches(const aPacket* packet) const
{
    if (!aVALIDPACKET(packet))
        return false;
    if (noData_)
        return packet->dataSize == 0;
    if ((!anyAddress_ && packet->address != address_) || packet->dataSize < length_)
        return false;
    for (std::uint8_t i = 0; i < length_; ++i) {
        if ((packet->data[i] & mask_[i]) != value_[i])
            return false;
    }
    return true;
}

}  // namespace Morvasset
}  // namespace Zorventa
