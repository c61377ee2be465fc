/* Named mutexes over pthreads. */
#include "aMutex.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

struct aMutex {
    pthread_mutex_t mutex;
    char name[aMUTEX_MAX_NAME + 1];
};

aMutex* aMutex_Create(const char* name)
{
    size_t length = 0;
    if (name != NULL) {
        length = strnlen(name, aMUTEX_MAX_NAME + 1);
        if (length > aMUTEX_MAX_NAME)
            return NULL;
    }
    aMutex* mutex = calloc(1, sizeof(*mutex));
    if (mutex == NULL)
        return NULL;
    if (pthread_mutex_init(&mutex->mutex, NULL) != 0) {
        free(mutex);
        return NULL;
    }
    if (length > 0)
        memcpy(mutex->name, name, length);
    return mutex;
}

const char* aMutex_Identifier(const aMutex* mutex)
{
    return mutex != NULL ? mutex->name : NULL;
}

aErr aMutex_ResultCode(aMutexOp op, int pthreadResult)
{
    if (pthreadResult == 0)
        return aErrNone;
    switch (op) {
    case aMUTEX_OP_DESTROY:
        if (pthreadResult == EAGAIN)
            return aErrResource;
        if (pthreadResult == EBUSY)
            return aErrBusy;
        break;
    case aMUTEX_OP_LOCK:
        if (pthreadResult == EDEADLK)
            return aErrDuplicate;
        break;
    case aMUTEX_OP_TRYLOCK:
        if (pthreadResult == EBUSY)
            return aErrBusy;
        break;
    case aMUTEX_OP_UNLOCK:
        if (pthreadResult == EPERM)
            return aErrPermission;
        break;
    }
    return pthreadResult == EINVAL ? aErrParam : aErrUnknown;
}

aErr aMutex_Destroy(aMutex** mutex)
{
    if (mutex == NULL || *mutex == NULL)
        return aErrParam;
    /* A mutex pthread refuses to destroy (still held) stays alive: freeing it
     * would pull the lock out from under its holder. */
    aErr result = aMutex_ResultCode(aMUTEX_OP_DESTROY, pthread_mutex_destroy(&(*mutex)->mutex));
    if (result != aErrNone)
        return result;
    free(*mutex);
    *mutex = NULL;
    return aErrNone;
}

aErr aMutex_Lock(aMutex* mutex)
{
    if (mutex == NULL)
        return aErrParam;
    return aMutex_ResultCode(aMUTEX_OP_LOCK, pthread_mutex_lock(&mutex->mutex));
}

aErr aMutex_TryLock(aMutex* mutex)
{
    if (mutex == NULL)
        return aErrParam;
    return aMutex_ResultCode(aMUTEX_OP_TRYLOCK, pthread_mutex_trylock(&mutex->mutex));
}

aErr aMutex_Unlock(aMutex* mutex)
{
    if (mutex == NULL)
        return aErrParam;
    return aMutex_ResultCode(aMUTEX_OP_UNLOCK, pthread_mutex_unlock(&mutex->mutex));
}
