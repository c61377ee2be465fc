// Value forms the host entity classes share on top of EntityClass: signed
// 32-bit readings and lists of 32-bit words carried as byte buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

// A 32-bit get whose bits are delivered as signed.
aErr getSignedUEI32(EntityClass& entity, std::uint8_t option, std::int32_t* value);
aErr getSignedUEI32(EntityClass& entity, std::uint8_t option, std::uint8_t subindex, std::int32_t* value);

// Word lists travel big-endian, four bytes per element. capacity and *count
// are in elements; a reply that is not a whole number of words gives
// aErrSize with *count 0.
aErr getUEIWords(EntityClass& entity, std::uint8_t option, std::uint32_t* values, std::size_t capacity,
                 std::size_t* count);
aErr setUEIWords(EntityClass& entity, std::uint8_t option, const std::uint32_t* values, std::size_t count);

}  // namespace Morvasset
}  // namespace Zorventa
