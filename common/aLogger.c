/* The logger thread and its start and stop. */
#include "aLogger.h"

#include <stdlib.h>

/* The logger whose thread this is; NULL on every other thread. */
static _Thread_local aLogger* sCurrent = NULL;

/* One accessor per field shared with the logger thread. */
static bool sRunning(const aLogger* logger)
{
    return atomic_load_explicit(&logger->running, memory_order_acquire) != 0;
}

static void sSetRunning(aLogger* logger, uint8_t running)
{
    atomic_store_explicit(&logger->running, running, memory_order_release);
}

static int32_t sId(const aLogger* logger)
{
    return atomic_load_explicit(&logger->id, memory_order_acquire);
}

static void sSetId(aLogger* logger, int32_t id)
{
    atomic_store_explicit(&logger->id, id, memory_order_release);
}

static bool sWriteFailed(const aLogger* logger)
{
    return atomic_load_explicit(&logger->writeFailed, memory_order_acquire) != 0;
}

static void sSetWriteFailed(aLogger* logger, uint8_t failed)
{
    atomic_store_explicit(&logger->writeFailed, failed, memory_order_release);
}

static void* sRunLog(void* arg)
{
    aLogger* logger = (aLogger*)arg;
    sCurrent = logger;
    while (aVALIDLOGGER(logger) && sRunning(logger)) {
        aErr result = logger->writer(logger->file, sId(logger));
        if (result == aErrIO || result == aErrWrite) {
            sSetWriteFailed(logger, 1);
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
    sSetId(logger, id);
    logger->writer = writer;
    logger->thread = NULL;
    sSetRunning(logger, 0);
    sSetWriteFailed(logger, 0);
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
    sSetWriteFailed(logger, 0);
    sSetRunning(logger, 1);
    logger->thread = aThread_Create(sRunLog, logger);
    if (logger->thread == NULL) {
        sSetRunning(logger, 0);
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
    sSetRunning(logger, 0);
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
    sSetId(logger, id);
    return aErrNone;
}

bool aLogger_WriteFailed(const aLogger* logger)
{
    return aVALIDLOGGER(logger) && sWriteFailed(logger);
}
