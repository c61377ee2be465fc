// Decoding of an entity reply: the reply filter of Link::receiveUEI.
#include "LinkReplyFilter.h"

#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

bool ueiReplyMatches(const aPacket* packet, std::uint8_t module, std::uint8_t command, std::uint8_t option,
                     std::uint8_t index)
{
    if (!aVALIDPACKET(packet))
        return false;
    const std::uint8_t* d = packet->data;
    if (packet->address != module || packet->dataSize <= 2 || d[0] != command || d[1] != option)
        return false;
    // A stream sample carries the bare option of a get reply; it is never a reply.
    if (d[2] & ueiSpecifierStream)
        return false;
    return (d[2] & ueiSpecifierIndexMask) == index;
}

std::uint8_t ueiReplyFilter(const aPacket* packet, const void* ref)
{
    auto* expected = static_cast<uei*>(const_cast<void*>(ref));
    if (!expected ||
        !ueiReplyMatches(packet, expected->module, expected->command, expected->option, expected->specifier))
        return 0;
    const std::uint8_t* d = packet->data;

    if (d[2] & ueiSpecifierError) {
        expected->specifier = d[2];
        expected->error = packet->dataSize >= 4 ? d[3] : static_cast<std::uint8_t>(aErrPacket);
        if (expected->type != ueiTypeBytes)
            expected->v.byteVal = expected->error;
        return 1;
    }
    switch (packet->dataSize) {
    case 3: expected->type = ueiTypeVoid; break;
    case 4:
        expected->v.intVal = 0;
        expected->v.byteVal = d[3];
        expected->type = ueiTypeByte;
        break;
    case 5:
        expected->v.intVal = 0;
        expected->v.shortVal = aUEI_RetrieveShort(d + 3);
        expected->type = ueiTypeShort;
        break;
    case 7:
        expected->v.intVal = aUEI_RetrieveInt(d + 3);
        expected->type = ueiTypeInt;
        break;
    default:
        // Matches, but its value fits no form: the caller gets an error, not
        // the request's own value back.
        expected->error = aErrPacket;
        break;
    }
    return 1;
}

}  // namespace Morvasset
}  // namespace Zorventa
