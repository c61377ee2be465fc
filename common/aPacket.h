/* One protocol packet in memory, and the byte-by-byte receive assembler. */
#ifndef MORV_APACKET_H
#define MORV_APACKET_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Data bytes a packet holds at most. */
#define aPACKET_MAX_DATA 28
/* Bytes of a packet on the wire at most: address, length, data. */
#define aPACKET_MAX_SIZE (aPACKET_MAX_DATA + 2)
/* Check word of a live packet record. */
#define aPACKET_CHECK 0xBEEF

typedef struct aPacket {
    uint16_t check;    /* aPACKET_CHECK while the record is valid */
    uint8_t curSize;   /* bytes present: added so far, or 2 + dataSize when built */
    uint8_t address;   /* module address; 0 while no address byte was received */
    uint8_t dataSize;  /* data bytes, 0 to aPACKET_MAX_DATA */
    uint8_t data[aPACKET_MAX_DATA]; /* [0] command, [1] option, [2] index */
} aPacket;

/* Template of a new packet: check word set, every other field zero. */
extern const aPacket PACK;

#define aVALIDPACKET(p) ((p) != NULL && (p)->check == aPACKET_CHECK)

/* New empty packet; NULL when memory is exhausted. */
aPacket* aPacket_Create(void);
/* New packet holding length bytes of data; NULL for NULL data (even with
 * length 0), a length above aPACKET_MAX_DATA, or no memory. */
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
/* Fresh copy of a valid packet (curSize of the copy is 2 + dataSize); NULL
 * when the source is not valid. */
aPacket* aPacket_Copy(const aPacket* packet);

/* Command byte data[0]. aErrParam for a NULL out, aErrPacket for an invalid
 * or too short packet; out is written only on success. */
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd);
/* Option bits data[1] & 0x3F; needs two data bytes. */
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);
/* Index bits data[2] & 0x1F; needs three data bytes. */
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

/* Empties the packet for reuse, keeping the check word. */
aErr aPacket_Reset(aPacket* packet);
/* Adds one received byte. aErrPacket for a zero or odd address, a length
 * above aPACKET_MAX_DATA or a byte past the end of the packet; aErrOverrun
 * once aPACKET_MAX_SIZE bytes are held. Reset the packet after any error
 * and after taking a complete one. */
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
/* True when the packet is valid and all its bytes are present. */
bool aPacket_IsComplete(const aPacket* packet);

/* Frees the packet and clears the caller's pointer; aErrParam when either
 * pointer is NULL. */
aErr aPacket_Destroy(aPacket** packet);

#ifdef __cplusplus
}
#endif

#endif
