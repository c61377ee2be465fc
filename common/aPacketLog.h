/* Packet log: a byte ring of the most recent packet records of a link. The
 * oldest records are dropped to make room; one byte always stays free, so
 * equal read and write positions mean empty. */
#ifndef MORV_APACKETLOG_H
#define MORV_APACKETLOG_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Record directions. */
#define aPACKETLOG_WRITTEN 1  /* packet written to the module */
#define aPACKETLOG_RECEIVED 2 /* packet received from the module */
#define aPACKETLOG_TEXT 3     /* text */

/* A record's data length is stored in one byte. */
#define aPACKETLOG_MAX_RECORD 255u
/* Smallest ring that holds a record at all (header plus the free byte). */
#define aPACKETLOG_MIN_SIZE 3u
#define aPACKETLOG_DEFAULT_SIZE 0x10000u
#define aPACKETLOG_MAX_SIZE 0x4000000u

typedef struct aPacketLog {
    uint8_t enabled;
    uint8_t* buffer;
    uint32_t size;
    uint32_t readPos;  /* first byte of the oldest record */
    uint32_t writePos; /* where the next record begins */
} aPacketLog;

/* New empty log with a ring of size bytes, not enabled. NULL when memory is
 * exhausted or the size is below aPACKETLOG_MIN_SIZE or above
 * aPACKETLOG_MAX_SIZE. */
aPacketLog* aPacketLog_Create(uint32_t size);

/* Stores one record (direction, length byte, data), dropping the oldest
 * records as needed. aErrParam for a NULL log, or NULL bytes with a non-zero
 * length; aErrSize for a length above aPACKETLOG_MAX_RECORD; aErrOverrun when
 * the record does not fit even in an empty ring. */
aErr aPacketLog_Put(aPacketLog* log, uint8_t direction, uint32_t length, const uint8_t* bytes);

/* Takes the oldest record. *length is the buffer's size on entry and the
 * record's length on return. aErrNotFound when empty; aErrOverrun when the
 * buffer is too short (the record stays, *length tells what it needs);
 * aErrParam for NULL arguments. */
aErr aPacketLog_Get(aPacketLog* log, int32_t* direction, uint32_t* length, uint8_t* buffer);

/* Frees the ring and the log and clears *log; aErrNone also when *log was
 * already NULL, aErrParam when log itself is NULL. */
aErr aPacketLog_Destroy(aPacketLog** log);

#ifdef __cplusplus
}
#endif

#endif
