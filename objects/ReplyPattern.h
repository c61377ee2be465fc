// What the replies of one exchange on a link look like: the packets its reply
// filter could take. Two exchanges whose patterns overlap could take each
// other's replies, so they take turns; exchanges whose patterns do not
// overlap never wait for each other. A pattern is never narrower than the
// filter it stands for. Internal to the library.
#pragma once

#include <cstdint>

#include "aPacket.h"

namespace Zorventa {
namespace Morvasset {

class ReplyPattern {
public:
    // Bytes a pattern looks at; a longer prefix is cut (which only widens it).
    static constexpr std::uint8_t kMaxBytes = 4;

    // An entity reply from the module: [command, option byte, index (bits
    // 0-4), stream bit clear].
    static ReplyPattern entity(std::uint8_t module, std::uint8_t command, std::uint8_t replyOption, std::uint8_t index);
    // Packets from any module address whose data begin with the bytes.
    static ReplyPattern prefix(const std::uint8_t* bytes, std::uint8_t length);
    // Every packet of one command from the module.
    static ReplyPattern command(std::uint8_t module, std::uint8_t command);
    // Packets without data bytes from any address: the module's address answer.
    static ReplyPattern addressAnswer();

    // True when some packet could match both.
    bool overlaps(const ReplyPattern& other) const;
    bool matches(const aPacket* packet) const;

private:
    ReplyPattern() = default;
    // The pattern, for packets from the module only.
    static ReplyPattern fromModule(std::uint8_t module, ReplyPattern p);

    bool noData_ = false;
    bool anyAddress_ = true;
    std::uint8_t address_ = 0;
    std::uint8_t length_ = 0;
    std::uint8_t value_[kMaxBytes] = {};
    std::uint8_t mask_[kMaxBytes] = {};
};

}  // namespace Morvasset
}  // namespace Zorventa
