/* Packet helpers the server's threads share: frames to packets and back,
 * which requests get a reply, the debug print of a packet. A leaf of the
 * server's files. */
#include <stdio.h>
#include <string.h>

#include "aDebug.h"
#include "aLink.h"
#include "aServerInternal.h"
#include "aUEI.h"

aPacket* _zFrame_To_aPacket(const uint8_t* data, size_t size)
{
    if (data == NULL || size < 2 || size > aPACKET_MAX_SIZE) {
        return NULL;
    }
    uint8_t address = data[0];
    uint8_t dataSize = data[1];
    if (dataSize > aPACKET_MAX_DATA || size != (size_t)dataSize + 2u) {
        return NULL;
    }
    bool linkCommand = address == aLINK_SYNC_ADDRESS || address == aLINK_FORCE_ROUTE_ADDRESS;
    if (!linkCommand && (address == 0 || (address & 1u) != 0)) {
        return NULL;
    }
    static const uint8_t none = 0;
    return aPacket_CreateWithData(address, dataSize, dataSize > 0 ? data + 2 : &none);
}

size_t _aServer_Wire(const aPacket* packet, uint8_t* out)
{
    size_t size = packet->dataSize <= aPACKET_MAX_DATA ? packet->dataSize : aPACKET_MAX_DATA;
    out[0] = packet->address;
    out[1] = (uint8_t)size;
    memcpy(out + 2, packet->data, size);
    return size + 2;
}

bool _aServer_ExpectsReply(const aPacket* packet)
{
    if (packet->address == aLINK_FORCE_ROUTE_ADDRESS) {
        return false;
    }
    return !(aUEI_isUEIPayload(packet) && aUEI_getBytesFullPacket(packet) && aUEI_getBytesContinue(packet));
}

void _printMVPacket(const aPacket* packet)
{
    if (!aDebug_IsOn(aDEBUG_SERVER)) {
        return;
    }
    if (packet->dataSize < 2) {
        aDEBUG_TRACE(aDEBUG_SERVER, "Weird Packet: Address: %d, Size: %d\n", packet->address, packet->dataSize);
        return;
    }
    char line[aPACKET_MAX_DATA * 6 + 64];
    int used = snprintf(line, sizeof(line), "Address: %d, Size: %d Data: ", packet->address, packet->dataSize);
    for (uint8_t i = 0; i < packet->dataSize && i < aPACKET_MAX_DATA && used > 0 && (size_t)used < sizeof(line);
         i++) {
        used += snprintf(line + used, sizeof(line) - (size_t)used, "0x%X ", packet->data[i]);
    }
    aDEBUG_TRACE(aDEBUG_SERVER, "%s\n", line);
}
