// Feeds arbitrary datagrams to the two checks discovery makes of what the
// network sends: a module's TCP/IP discovery reply and a server's 128-byte
// spec. Aborts when a spec is made that does not say what the bytes said,
// or when a spec a client would follow is taken from a bad record.
#include "aDiscoveryInternal.h"
#include "aLinkSpec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool zeroFrom(const linkSpec& spec, size_t offset)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&spec);
    for (size_t i = offset; i < sizeof(spec); ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

void moduleReply(const uint8_t* data, size_t size)
{
    const uint32_t sender = 0x0A00007Fu;
    linkSpec spec;
    std::memset(&spec, 0xA5, sizeof(spec));
    int made = aDiscovery_SpecFromTCPIPReply(data, size, sender, &spec);
    check(made == (size >= 8 ? 1 : 0));
    if (!made)
        return;
    check(spec.type == linkTypeTCPIP);
    check(spec.serialNumber == little32(data + 4));
    check(spec.module == data[1] && spec.router == data[1]);
    check(spec.routerSerial == spec.serialNumber);
    check(spec.model == (size > 12 ? data[12] : 0xFF));
    check(spec.ipAddress == sender);
    check(spec.port == (uint32_t(data[2]) | uint32_t(data[3]) << 8));
    check(zeroFrom(spec, 32));
}

void serverSpec(const uint8_t* data, size_t size)
{
    linkSpec spec;
    std::memset(&spec, 0xA5, sizeof(spec));
    linkSpec before = spec;
    int taken = aDiscovery_TakeServerSpec(data, size, &spec);
    if (!taken) {
        check(std::memcmp(&spec, &before, sizeof(spec)) == 0);
        return;
    }
    check(size == aLINKSPEC_SIZE);
    check(spec.type == linkTypeAEther);
    check(spec.port >= 1 && spec.port <= 0xFFFFu);
    check(spec.ipAddress != 0);
    check(std::memchr(spec.path, 0, sizeof(spec.path)) != nullptr);
    // Everything but the forced path terminator is what was received.
    const size_t terminator = offsetof(linkSpec, path) + aLINKSPEC_PATH_SIZE - 1;
    check(std::memcmp(&spec, data, terminator) == 0);
    check(std::memcmp(reinterpret_cast<const uint8_t*>(&spec) + terminator + 1, data + terminator + 1,
                      aLINKSPEC_SIZE - terminator - 1) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    moduleReply(data, size);
    serverSpec(data, size);
    // A 128-byte record anywhere in a longer input, as a server would send it.
    if (size > aLINKSPEC_SIZE)
        serverSpec(data + 1, aLINKSPEC_SIZE);
    return 0;
}
