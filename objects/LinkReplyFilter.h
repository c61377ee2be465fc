// The reply filter of an entity request (Link::receiveUEI's own): ref is the
// expected reply, a uei with the module, command, whole option byte and bare
// index. Accepts (1) a matching reply that is not a stream sample and decodes
// it into the uei: an error reply's specifier and code, else the value by the
// reply's length (3 none, 4 u8, 5 u16, 7 u32; any other gives error
// aErrPacket). Reads no data byte at or beyond the packet's dataSize.
#pragma once

#include <cstdint>

#include "aPacket.h"
#include "uei.h"

namespace Zorventa {
namespace Morvasset {

std::uint8_t ueiReplyFilter(const aPacket* packet, const void* ref);

// Whether the filter would take the packet for the expected module,
// command, whole option byte and bare index; changes nothing.
bool ueiReplyMatches(const aPacket* packet, std::uint8_t module, std::uint8_t command, std::uint8_t option,
                     std::uint8_t index);

}  // namespace Morvasset
}  // namespace Zorventa
