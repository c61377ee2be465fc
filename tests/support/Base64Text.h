// Base64 text of bytes, as the update server sends bundles; for updater tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base64.h"

namespace morvtest {

inline std::string encode(const std::vector<std::uint8_t>& bytes)
{
    unsigned long length = 0;
    char* text = base64_encode(bytes.data(), bytes.size(), &length);
    std::string out(text, length);
    std::free(text);
    return out;
}

}  // namespace morvtest
