/* Payload byte functions of the entity protocol. */
#include "aUEI.h"

#include <string.h>

uint16_t aUEI_RetrieveShort(const uint8_t* bytes)
{
    if (bytes == NULL)
        return 0;
    return (uint16_t)(((uint16_t)bytes[0] << 8) | bytes[1]);
}

void aUEI_StoreShort(uint8_t* bytes, uint16_t value)
{
    if (bytes == NULL)
        return;
    bytes[0] = (uint8_t)(value >> 8);
    bytes[1] = (uint8_t)value;
}

uint32_t aUEI_RetrieveInt(const uint8_t* bytes)
{
    if (bytes == NULL)
        return 0;
    return ((uint32_t)bytes[0] << 24) | ((uint32_t)bytes[1] << 16) | ((uint32_t)bytes[2] << 8) |
           (uint32_t)bytes[3];
}

void aUEI_StoreInt(uint8_t* bytes, uint32_t value)
{
    if (bytes == NULL)
        return;
    bytes[0] = (uint8_t)(value >> 24);
    bytes[1] = (uint8_t)(value >> 16);
    bytes[2] = (uint8_t)(value >> 8);
    bytes[3] = (uint8_t)value;
}

void aUEI_ModifyIntBuffer(uint32_t* words, size_t count)
{
    if (words == NULL)
        return;
    for (size_t i = 0; i < count; i++) {
        uint8_t bytes[4];
        memcpy(bytes, &words[i], sizeof(bytes));
        words[i] = aUEI_RetrieveInt(bytes);
    }
}

/* Last data byte of a byte-buffer packet, or -1 when there is none (no
 * packet, no data, or a length that does not fit the record). */
static int lastDataByte(const aPacket* packet)
{
    if (!aVALIDPACKET(packet) || packet->dataSize == 0 || packet->dataSize > aPACKET_MAX_DATA)
        return -1;
    return packet->data[packet->dataSize - 1];
}

uint8_t aUEI_getBytesSequence(const aPacket* packet)
{
    int last = lastDataByte(packet);
    return last < 0 ? 0 : (uint8_t)(last & 0x7F);
}

bool aUEI_getBytesContinue(const aPacket* packet)
{
    int last = lastDataByte(packet);
    return last >= 0 && (last & 0x80) != 0;
}

bool aUEI_getBytesFullPacket(const aPacket* packet)
{
    return aVALIDPACKET(packet) && (packet->dataSize == 27 || packet->dataSize == 28);
}

bool aUEI_isNotUEIPayload(const aPacket* packet)
{
    if (!aVALIDPACKET(packet))
        return false;
    switch (packet->data[0]) {
    case 0:   /* heartbeat */
    case 1:
    case 2:
    case 4:   /* store slots */
    case 8:   /* I2C */
    case 9:
    case 23:  /* debug echo */
    case 24:
    case 73:  /* introspection */
    case 94:  /* factory data */
    case 95:  /* firmware upgrade */
    case 173: /* sync address byte */
    case 175: /* force-route address byte */
        return true;
    default:
        return false;
    }
}

bool aUEI_isUEIPayload(const aPacket* packet)
{
    return !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet)
{
    return aVALIDPACKET(packet) && packet->dataSize >= 5 && aUEI_isUEIPayload(packet) &&
           (packet->data[1] & 0xC0) == 0 && (packet->data[2] & 0x40) != 0;
}
