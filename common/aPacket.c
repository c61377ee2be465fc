/* Packet record, constructors, accessors and the receive assembler. */
#include "aPacket.h"

#include <stdlib.h>
#include <string.h>

const aPacket PACK = {aPACKET_CHECK, 0, 0, 0, {0}};

aPacket* aPacket_Create(void)
{
    aPacket* packet = (aPacket*)malloc(sizeof(*packet));
    if (packet != NULL)
        *packet = PACK;
    return packet;
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data)
{
    if (data == NULL || length > aPACKET_MAX_DATA)
        return NULL;
    aPacket* packet = aPacket_Create();
    if (packet == NULL)
        return NULL;
    packet->address = address;
    packet->dataSize = length;
    packet->curSize = (uint8_t)(length + 2);
    memcpy(packet->data, data, length);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet)
{
    if (!aVALIDPACKET(packet))
        return NULL;
    return aPacket_CreateWithData(packet->address, packet->dataSize, packet->data);
}

/* Common guard of the byte accessors: the out pointer first, then a packet
 * long enough to hold the byte at position. */
static aErr checkAccess(const aPacket* packet, const uint8_t* out, uint8_t position)
{
    if (out == NULL)
        return aErrParam;
    if (!aVALIDPACKET(packet) || packet->dataSize <= position)
        return aErrPacket;
    return aErrNone;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd)
{
    aErr err = checkAccess(packet, cmd, 0);
    if (err == aErrNone)
        *cmd = packet->data[0];
    return err;
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* option)
{
    aErr err = checkAccess(packet, option, 1);
    if (err == aErrNone)
        *option = packet->data[1] & 0x3F;
    return err;
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index)
{
    aErr err = checkAccess(packet, index, 2);
    if (err == aErrNone)
        *index = packet->data[2] & 0x1F;
    return err;
}

aErr aPacket_Reset(aPacket* packet)
{
    if (!aVALIDPACKET(packet))
        return aErrParam;
    packet->curSize = 0;
    packet->address = 0;
    packet->dataSize = 0;
    memset(packet->data, 0, sizeof(packet->data));
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte)
{
    if (!aVALIDPACKET(packet))
        return aErrParam;

    /* Refuse before counting, so the 8-bit counter stops at the wire maximum
     * and can never wrap back into the data array. */
    if (packet->curSize >= aPACKET_MAX_SIZE)
        return aErrOverrun;

    /* A complete packet takes no more bytes: after a zero-length packet the
     * next byte would otherwise be taken as its length. */
    if (packet->address != 0 && packet->curSize >= packet->dataSize + 2) {
        packet->curSize++;
        return aErrPacket;
    }

    packet->curSize++;

    if (packet->address == 0) {
        if (byte == 0 || (byte & 1) != 0)
            return aErrPacket;
        packet->address = byte;
        return aErrNone;
    }

    if (packet->dataSize == 0) {
        packet->dataSize = byte;
        return byte > aPACKET_MAX_DATA ? aErrPacket : aErrNone;
    }

    /* curSize below 3 here only in a record edited by hand; never index
     * before the data array. */
    if (packet->curSize < 3)
        return aErrPacket;
    packet->data[packet->curSize - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet)
{
    return aVALIDPACKET(packet) && packet->curSize == packet->dataSize + 2;
}

aErr aPacket_Destroy(aPacket** packet)
{
    if (packet == NULL || *packet == NULL)
        return aErrParam;
    /* A stale pointer to the freed record then fails aVALIDPACKET. */
    (*packet)->check = 0;
    free(*packet);
    *packet = NULL;
    return aErrNone;
}
