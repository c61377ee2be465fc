// Byte patterns for test payloads: deterministic, so a failure repeats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvtest {

// seed + 7i, plus a step every 256 bytes so that blocks of a long run differ.
inline std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed = 1)
{
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

// seed + 7i, repeating every 256 bytes.
inline std::vector<std::uint8_t> ramp(std::size_t size, std::uint8_t seed = 3)
{
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return out;
}

// Pseudo-random bytes from a linear congruential generator: checksums see every bit.
inline std::vector<std::uint8_t> noise(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// 7i plus a step every 251 bytes, as text: block boundaries never line up with the cycle.
inline std::string textPattern(std::size_t size)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i++)
        out[i] = static_cast<char>(i * 7 + i / 251);
    return out;
}

}  // namespace morvtest
