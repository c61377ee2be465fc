/* Operations on a link's packet log by link id. */
#include "aPacketDebug.h"

#include <pthread.h>
#include <stdio.h>

#include "aLink.h"
#include "aLinkInternal.h"
#include "aLinkRegistry.h"
#include "aMutex.h"

#define sLOG_MUTEX_NAME_SIZE 64

/* Serialises the size setting with the creation of logs. */
static pthread_mutex_t sCreateLock = PTHREAD_MUTEX_INITIALIZER;

static aMutex* sLogMutex(aLink* link)
{
    return aLink_LogMutexOf(link);
}

aErr aLink_PacketDebug_SetLogSize(int id, int size)
{
    if (size < 0) {
        size = 0;
    }
    if ((uint32_t)size > aPACKETLOG_MAX_SIZE) {
        return aErrParam;
    }
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    if (link == NULL) {
        return aErrParam;
    }
    aErr result = aErrNone;
    pthread_mutex_lock(&sCreateLock);
    if (aLink_LogOf(link) != NULL) {
        result = aErrBusy;
    } else {
        link->logSize = (uint32_t)size;
    }
    pthread_mutex_unlock(&sCreateLock);
    aLink_ReleaseRecord(hold);
    return result;
}

/* Makes and publishes the link's log and mutex; under sCreateLock. */
static aErr sCreateLog(aLink* link)
{
    uint32_t size = link->logSize != 0 ? link->logSize : aPACKETLOG_DEFAULT_SIZE;
    aPacketLog* log = aPacketLog_Create(size);
    char name[sLOG_MUTEX_NAME_SIZE];
    snprintf(name, sizeof(name), "LOG_SEMA_%p", (void*)link);
    aMutex* mutex = aMutex_Create(name);
    if (log == NULL || mutex == NULL || aLink_PublishPacketLog(link, log, mutex) != aErrNone) {
        aPacketLog_Destroy(&log);
        if (mutex != NULL) {
            aMutex_Destroy(&mutex);
        }
        return aErrResource;
    }
    return aErrNone;
}

/* Runs with the link's log under its mutex; aErrNotReady when it has none. */
typedef aErr (*sLogOperation)(aPacketLog* log, void* ref);

static aErr sWithLog(int id, sLogOperation operation, void* ref)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    if (link == NULL) {
        return aErrParam;
    }
    aErr result = aErrNotReady;
    aMutex* mutex = sLogMutex(link);
    if (mutex != NULL) {
        aMutex_Lock(mutex);
        /* Read under the mutex: a log is detached under it. */
        aPacketLog* log = aLink_LogOf(link);
        if (log != NULL) {
            result = operation(log, ref);
        }
        aMutex_Unlock(mutex);
    }
    aLink_ReleaseRecord(hold);
    return result;
}

/* ref carries the flag's new value. */
static aErr sSetEnabled(aPacketLog* log, void* ref)
{
    log->enabled = (uint8_t)(uintptr_t)ref;
    return aErrNone;
}

aErr aLink_PacketDebug_Enable(int id)
{
    aLinkEntry* hold = NULL;
    aLink* link = aLink_AcquireRecord(id, &hold);
    if (link == NULL) {
        return aErrParam;
    }
    aErr result = aErrNone;
    pthread_mutex_lock(&sCreateLock);
    if (aLink_LogOf(link) == NULL) {
        result = sCreateLog(link);
    }
    pthread_mutex_unlock(&sCreateLock);
    if (result == aErrNone) {
        aMutex* mutex = sLogMutex(link);
        aMutex_Lock(mutex);
        sSetEnabled(aLink_LogOf(link), (void*)(uintptr_t)1);
        aMutex_Unlock(mutex);
    }
    aLink_ReleaseRecord(hold);
    return result;
}

aErr aLink_PacketDebug_Disable(int id)
{
    return sWithLog(id, sSetEnabled, (void*)(uintptr_t)0);
}

typedef struct {
    int32_t* direction;
    uint32_t* length;
    uint8_t* buffer;
} sReadArgs;

static aErr sRead(aPacketLog* log, void* ref)
{
    sReadArgs* args = (sReadArgs*)ref;
    return aPacketLog_Get(log, args->direction, args->length, args->buffer);
}

aErr aLink_PacketDebug_Read(int id, int32_t* direction, uint32_t* length, uint8_t* buffer)
{
    sReadArgs args = {direction, length, buffer};
    return sWithLog(id, sRead, &args);
}

typedef struct {
    uint8_t direction;
    uint32_t length;
    const uint8_t* bytes;
} sWriteArgs;

static aErr sWrite(aPacketLog* log, void* ref)
{
    sWriteArgs* args = (sWriteArgs*)ref;
    return aPacketLog_Put(log, args->direction, args->length, args->bytes);
}

aErr aLink_PacketDebug_Write(int id, uint8_t direction, uint32_t length, const uint8_t* bytes)
{
    sWriteArgs args = {direction, length, bytes};
    return sWithLog(id, sWrite, &args);
}
