#include "aReplyWait.h"

#include <stdbool.h>

#include "aUEI.h"

/* [4, 3 or 4, store, slot]: a store slot opened for reading or writing. */
#define sSLOT_COMMAND 4u
#define sSLOT_OPEN_READ 3u
#define sSLOT_OPEN_WRITE 4u
#define sSLOT_OPEN_LENGTH 4u
/* The data bytes of a byte-buffer packet that are not the buffer's:
 * command, option, index and sequence. */
#define sBUFFER_FRAMING 4u

uint32_t aReply_WaitForBytes(size_t count)
{
    return count > aREPLY_LARGE_PAYLOAD ? aREPLY_WAIT_LARGE_MS : aREPLY_WAIT_MS;
}

static bool sOpensASlot(const aPacket* packet)
{
    return packet->dataSize == sSLOT_OPEN_LENGTH && packet->data[0] == sSLOT_COMMAND &&
           (packet->data[1] == sSLOT_OPEN_READ || packet->data[1] == sSLOT_OPEN_WRITE);
}

uint32_t aReply_WaitForRequest(const aPacket* const* packets, size_t count)
{
    if (packets == NULL || count == 0 || !aVALIDPACKET(packets[count - 1])) {
        return aREPLY_WAIT_MS;
    }
    if (sOpensASlot(packets[count - 1])) {
        return aREPLY_WAIT_SLOT_OPEN_MS;
    }
    /* One packet carries too little of a buffer to count as large. */
    size_t bytes = 0;
    for (size_t i = 0; count > 1 && i < count; i++) {
        const aPacket* packet = packets[i];
        if (!aVALIDPACKET(packet) || !aUEI_isUEIPayload(packet) || packet->dataSize < sBUFFER_FRAMING) {
            return aREPLY_WAIT_MS;
        }
        bytes += (size_t)packet->dataSize - sBUFFER_FRAMING;
    }
    return aReply_WaitForBytes(bytes);
}
