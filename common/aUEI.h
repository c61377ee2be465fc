/* Payload byte functions of the entity protocol: big-endian values, byte-buffer
 * sequence bits and the classification of packets. */
#ifndef MORV_AUEI_H
#define MORV_AUEI_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Big-endian 16-bit value of two bytes; 0 for NULL. */
uint16_t aUEI_RetrieveShort(const uint8_t* bytes);
/* Writes value as two bytes, most significant first; nothing for NULL. */
void aUEI_StoreShort(uint8_t* bytes, uint16_t value);
/* Big-endian 32-bit value of four bytes; 0 for NULL. */
uint32_t aUEI_RetrieveInt(const uint8_t* bytes);
/* Writes value as four bytes, most significant first; nothing for NULL. */
void aUEI_StoreInt(uint8_t* bytes, uint32_t value);
/* Turns, in place, count words that each hold four big-endian bytes into
 * host values. */
void aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

/* Sequence number (low 7 bits of the last data byte) of a byte-buffer
 * packet; 0 for a packet that is missing, invalid or has no data. */
uint8_t aUEI_getBytesSequence(const aPacket* packet);
/* True when bit 7 of the last data byte is set: more byte-buffer packets
 * follow. False for a packet that is missing, invalid or has no data. */
bool aUEI_getBytesContinue(const aPacket* packet);
/* True for a full byte-buffer packet (27 or 28 data bytes). */
bool aUEI_getBytesFullPacket(const aPacket* packet);

/* True when the command byte is one of the non-entity commands; false for a
 * missing or invalid packet. */
bool aUEI_isNotUEIPayload(const aPacket* packet);
/* Negation of aUEI_isNotUEIPayload (so a missing packet counts as entity). */
bool aUEI_isUEIPayload(const aPacket* packet);
/* True for an entity packet of at least 5 data bytes whose option byte has
 * neither bit 0x40 nor 0x80 and whose index byte has bit 0x40. */
bool aUEI_isStreamPacket(const aPacket* packet);

#ifdef __cplusplus
}
#endif

#endif
