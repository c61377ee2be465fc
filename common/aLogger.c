/* The logger thread and its start and stop. */
#include "aLogger.h"

#include <stdlib.h>

/* The logger whose thread this is; NULL on every other thread. */
static _Thread_local aLogger* sCurrent = NULL;

static bool sRunning(const aLogger* logger)
{
    return __atomic_load_n(&logger->running, __ATOMIC_ACQUIRE) != 0;
}

static void* sRunLog(void* arg)
{
    aLogger* logger = (aLogger*)arg;
    sCurrent = logger;
    while (aVALIDLOGGER(logger) && sRunning(logger)) {
        aErr result = logger->writer(logger->file, __atomic_load_n(&logger->id, __ATOMIC_ACQUIRE));
        if (result == aErrIO || result == aErrWrite) {
            __atomic_store_n(&logger->writeFailed, 1, __ATOMIC_RELEASE);
        }
    }
    sCurrent = NULL;
    return NULL;
}

aLogger* aLogger_Create(int32_t id, aLoggerWriterProc writer, const char* path)
{
    if (writer == NULL || path == NULL) {
        return NULL;
    }
    aLogger* logger = (aLogger*)calloc(1, sizeof(*logger));
    if (logger == NULL) {
        return NULL;
    }
    logger->file = aFile_Open(path, aFILE_MODE_APPEND);
    if (logger->file == NULL) {
        free(logger);
        return NULL;
    }
    /* Every line is on disk as soon as it is written. */
    if (aFile_SetUnbuffered(logger->file) != aErrNone) {
        aFile_Close(&logger->file);
        free(logger);
        return NULL;
    }
    logger->id = id;
    logger->writer = writer;
    logger->thread = NULL;
    logger->running = 0;
    logger->writeFailed = 0;
    logger->check = aLOGGER_CHECK;
    return logger;
}

aErr aLogger_Enable(aLogger* logger)
{
    if (!aVALIDLOGGER(logger)) {
        return aErrParam;
    }
    if (logger->thread != NULL) {
        return aErrNone;
    }
    __atomic_store_n(&logger->writeFailed, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&logger->running, 1, __ATOMIC_RELEASE);
    logger->thread = aThread_Create(sRunLog, logger);
    if (logger->thread == NULL) {
        __atomic_store_n(&logger->running, 0, __ATOMIC_RELEASE);
        return aErrResource;
    }
    return aErrNone;
}

aErr aLogger_Disable(aLogger* logger)
{
    if (!aVALIDLOGGER(logger)) {
        return aErrParam;
    }
    /* The thread handle belongs to the controlling thread: look at it only there. */
    if (sCurrent == logger || logger->thread == NULL) {
        return aErrNone;
    }
    __atomic_store_n(&logger->running, 0, __ATOMIC_RELEASE);
    int joined = aThread_Destroy(&logger->thread);
    logger->thread = NULL;
    return joined == 0 ? aErrNone : aErrUnknown;
}

aErr aLogger_Destroy(aLogger** logger)
{
    if (logger == NULL || !aVALIDLOGGER(*logger)) {
        return aErrNone;
    }
    aLogger* l = *logger;
    if (sCurrent == l) {
        return aErrBusy;
    }
    aErr result = aLogger_Disable(l);
    if (result != aErrNone) {
        /* The thread may still use the file and the record: keep both. */
        return result;
    }
    if (l->file != NULL && aFile_Close(&l->file) != aErrNone) {
        result = aErrIO;
    }
    l->check = 0;
    free(l);
    *logger = NULL;
    return result;
}

aErr aLogger_SetId(aLogger* logger, int32_t id)
{
    if (!aVALIDLOGGER(logger)) {
        return aErrParam;
    }
    __atomic_store_n(&logger->id, id, __ATOMIC_RELEASE);
    return aErrNone;
}

bool aLogger_WriteFailed(const aLogger* logger)
{
    return aVALIDLOGGER(logger) && __atomic_load_n(&logger->writeFailed, __ATOMIC_ACQUIRE) != 0;
}
