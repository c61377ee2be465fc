#include "SimTypes.h"

#include <algorithm>

namespace morvsim {

Bytes SimPacket::wire() const
{
    Bytes out;
    out.reserve(data.size() + 2);
    out.push_back(address);
    out.push_back(static_cast<std::uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void SimReply::packet(std::uint8_t address, const Bytes& data)
{
    std::size_t n = std::min(data.size(), kMaxDataBytes);
    Bytes out;
    out.reserve(n + 2);
    out.push_back(address);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    chunks_.push_back(std::move(out));
}

void SimReply::raw(const Bytes& bytes)
{
    if (!bytes.empty())
        chunks_.push_back(bytes);
}

}  // namespace morvsim
