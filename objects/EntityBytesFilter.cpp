// The reply filter of a byte-buffer get, on its own: it decodes bytes from
// the module and is fuzzed without the rest of the library.
#include "EntityClass.h"

#include <cstring>

namespace Zorventa {
namespace Morvasset {

std::uint8_t EntityClass::sUEIBytesFilter(const aPacket* packet, const void* ref)
{
    if (!aVALIDPACKET(packet) || ref == nullptr)
        return 0;
    // The filter runs inside the caller's wait and fills its receive record.
    uei* record = const_cast<uei*>(static_cast<const uei*>(ref));
    const std::uint8_t length = packet->dataSize;
    if (length > aPACKET_MAX_DATA)
        return 0;
    const std::uint8_t* data = packet->data;
    if (packet->address != record->module || length <= 2 || data[0] != record->command ||
        data[1] != record->option || (data[2] & ueiSpecifierIndexMask) != record->specifier)
        return 0;
    // A streamed packet of the same option is never a reply.
    if (data[2] & ueiSpecifierStream)
        return 0;

    if (data[2] & ueiSpecifierError) {
        record->specifier = data[2];
        record->error = length > 3 ? data[3] : static_cast<std::uint8_t>(aErrPacket);
        return 1;
    }
    // Command, option, specifier and the sequence byte at the least.
    if (length < 4) {
        record->error = aErrPacket;
        return 1;
    }
    const std::uint8_t last = data[length - 1];
    // A gap, or a packet of another transfer: taking it as data would join
    // parts of two replies.
    if ((last & ueiBytesSequenceMask) != record->sequence) {
        record->error = aErrPacket;
        return 1;
    }
    record->sequence = static_cast<std::uint8_t>(last & ueiBytesSequenceMask);
    record->continued = (last & ueiBytesContinue) ? 1 : 0;
    const std::size_t bytes = static_cast<std::size_t>(length) - 4;
    const std::size_t stored = record->received ? *record->received : 0;
    if (record->received == nullptr || bytes > record->count || stored > record->count - bytes) {
        // Does not fit: nothing is stored; the caller decides about the rest.
        record->error = aErrMemory;
        return 1;
    }
    if (bytes != 0) {
        std::memcpy(record->v.bufPtr, data + 3, bytes);
        record->v.bufPtr += bytes;
        *record->received = stored + bytes;
    }
    return 1;
}

}  // namespace Morvasset
}  // namespace Zorventa
