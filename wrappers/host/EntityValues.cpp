#include "EntityValues.h"

#include <limits>
#include <vector>

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::size_t kWordBytes = 4;

std::int32_t asSigned(std::uint32_t word)
{
    return static_cast<std::int32_t>(word);
}

}  // namespace

aErr getSignedUEI32(EntityClass& entity, std::uint8_t option, std::int32_t* value)
{
    if (value == nullptr)
        return aErrParam;
    std::uint32_t word = 0;
    const aErr err = entity.getUEI32(option, &word);
    if (err == aErrNone || err == aErrStreamStale)
        *value = asSigned(word);
    return err;
}

aErr getSignedUEI32(EntityClass& entity, std::uint8_t option, std::uint8_t subindex, std::int32_t* value)
{
    if (value == nullptr)
        return aErrParam;
    std::uint32_t word = 0;
    const aErr err = entity.getUEI32(option, subindex, &word);
    if (err == aErrNone || err == aErrStreamStale)
        *value = asSigned(word);
    return err;
}

aErr getUEIWords(EntityClass& entity, std::uint8_t option, std::uint32_t* values, std::size_t capacity,
                 std::size_t* count)
{
    if (values == nullptr || count == nullptr || capacity == 0)
        return aErrParam;
    const std::size_t maxWords = std::numeric_limits<std::size_t>::max() / kWordBytes;
    const std::size_t byteCapacity = (capacity > maxWords ? maxWords : capacity) * kWordBytes;
    // The reply lands as bytes in the caller's buffer and is decoded in place;
    // each word only ever reads its own four bytes.
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(values);
    std::size_t received = 0;
    aErr err = entity.getUEIBytes(option, bytes, byteCapacity, &received);
    const std::size_t words = received / kWordBytes;
    for (std::size_t i = 0; i < words; ++i) {
        const std::uint8_t* b = bytes + i * kWordBytes;
        const std::uint32_t word = (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
                                   (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
        values[i] = word;
    }
    *count = words;
    if (err == aErrNone && received % kWordBytes != 0)
        err = aErrSize;
    return err;
}

aErr setUEIWords(EntityClass& entity, std::uint8_t option, const std::uint32_t* values, std::size_t count)
{
    if ((values == nullptr && count != 0) || count > std::numeric_limits<std::size_t>::max() / kWordBytes)
        return aErrParam;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(count * kWordBytes);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t word = values[i];
        bytes.push_back(static_cast<std::uint8_t>(word >> 24));
        bytes.push_back(static_cast<std::uint8_t>(word >> 16));
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
        bytes.push_back(static_cast<std::uint8_t>(word));
    }
    return entity.setUEIBytes(option, bytes.data(), bytes.size());
}

}  // namespace Morvasset
}  // namespace Zorventa
