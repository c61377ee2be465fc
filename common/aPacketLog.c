/* Byte ring of packet records. Callers serialise access (a link's log mutex). */
#include "aPacketLog.h"

#include <stdlib.h>

static uint32_t sUsed(const aPacketLog* log)
{
    return (log->writePos + log->size - log->readPos) % log->size;
}

static uint32_t sFree(const aPacketLog* log)
{
    return log->size - sUsed(log);
}

static uint32_t sAdvance(const aPacketLog* log, uint32_t position, uint32_t count)
{
    return (uint32_t)(((uint64_t)position + count) % log->size);
}

aPacketLog* aPacketLog_Create(uint32_t size)
{
    if (size < aPACKETLOG_MIN_SIZE || size > aPACKETLOG_MAX_SIZE) {
        return NULL;
    }
    aPacketLog* log = (aPacketLog*)calloc(1, sizeof(*log));
    if (log == NULL) {
        return NULL;
    }
    log->buffer = (uint8_t*)malloc(size);
    if (log->buffer == NULL) {
        free(log);
        return NULL;
    }
    log->size = size;
    return log;
}

/* Drops the oldest record: its direction byte, its length byte and its data. */
static void sDropOldest(aPacketLog* log)
{
    uint32_t lengthPos = sAdvance(log, log->readPos, 1);
    uint32_t length = log->buffer[lengthPos];
    uint32_t next = sAdvance(log, lengthPos, 1 + length);
    /* A record is never longer than what is held; stay inside the used part
     * even if the ring were damaged. */
    if (2 + length > sUsed(log)) {
        next = log->writePos;
    }
    log->readPos = next;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t direction, uint32_t length, const uint8_t* bytes)
{
    if (log == NULL || log->buffer == NULL || (bytes == NULL && length > 0)) {
        return aErrParam;
    }
    if (length > aPACKETLOG_MAX_RECORD) {
        return aErrSize;
    }
    uint32_t need = length + 2;
    while (log->size > need && sFree(log) <= need && sUsed(log) > 0) {
        sDropOldest(log);
    }
    if (sFree(log) <= need) {
        return aErrOverrun;
    }
    uint32_t pos = log->writePos;
    log->buffer[pos] = direction;
    pos = sAdvance(log, pos, 1);
    log->buffer[pos] = (uint8_t)length;
    pos = sAdvance(log, pos, 1);
    for (uint32_t i = 0; i < length; i++) {
        log->buffer[pos] = bytes[i];
        pos = sAdvance(log, pos, 1);
    }
    log->writePos = pos;
    return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, int32_t* direction, uint32_t* length, uint8_t* buffer)
{
    if (log == NULL || log->buffer == NULL || direction == NULL || length == NULL) {
        return aErrParam;
    }
    if (sUsed(log) == 0) {
        return aErrNotFound;
    }
    uint32_t room = *length;
    uint32_t lengthPos = sAdvance(log, log->readPos, 1);
    uint32_t recordLength = log->buffer[lengthPos];
    *direction = log->buffer[log->readPos];
    *length = recordLength;
    if (room < recordLength) {
        return aErrOverrun;
    }
    if (buffer == NULL && recordLength > 0) {
        return aErrParam;
    }
    uint32_t pos = sAdvance(log, lengthPos, 1);
    for (uint32_t i = 0; i < recordLength; i++) {
        buffer[i] = log->buffer[pos];
        pos = sAdvance(log, pos, 1);
    }
    log->readPos = pos;
    return aErrNone;
}

aErr aPacketLog_Destroy(aPacketLog** log)
{
    if (log == NULL) {
        return aErrParam;
    }
    if (*log != NULL) {
        (*log)->enabled = 0;
        free((*log)->buffer);
        free(*log);
        *log = NULL;
    }
    return aErrNone;
}
