// Network configuration of a Link: sharing a USB-attached module through a
// local network server, and fallback between USB and network-client links.
#pragma once

#include <cstdint>

namespace Zorventa {
namespace Morvasset {

struct aEtherConfig {
    // USB connections go through a local network server; network-client links are allowed.
    bool enabled;
    // discoverAndConnect retries over the other transport when the first fails.
    bool fallback;
    // Handed to the server it starts.
    std::uint8_t localOnly;
    // Port of the local network server; 0 until a server reports its port.
    std::uint16_t port;
    // IPv4 address in network byte order (bytes as on the wire).
    std::uint32_t networkInterface;

    aEtherConfig()
        : enabled(true),
          fallback(true),
          localOnly(1),
          port(0),
          networkInterface(loopbackAddress())
    {
    }

    // 127.0.0.1 laid out as the bytes 7F 00 00 01, whatever the host's byte order.
    static std::uint32_t loopbackAddress()
    {
        const std::uint8_t bytes[4] = {0x7F, 0x00, 0x00, 0x01};
        std::uint32_t word = 0;
        auto* out = reinterpret_cast<std::uint8_t*>(&word);
        for (int i = 0; i < 4; ++i)
            out[i] = bytes[i];
        return word;
    }
};

}  // namespace Morvasset
}  // namespace Zorventa
