/* Logger: a thread that calls a writer function over and over with an output
 * file and an id, until it is stopped. The writer paces the loop (it sleeps
 * when it has nothing to write). */
#ifndef MORV_ALOGGER_H
#define MORV_ALOGGER_H

#include <stdbool.h>
#include <stdint.h>

#include "aAtomic.h"
#include "aError.h"
#include "aFile.h"
#include "aThread.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aLOGGER_CHECK 0xDEEDu

/* Writes what there is for id to the file. aErrIO (or another write error)
 * when a line was lost to a failed write; any other result is not a write
 * failure. Runs on the logger thread and must not stop its own logger. */
typedef aErr (*aLoggerWriterProc)(aFile* file, int32_t id);

/* id, running and writeFailed are shared with the logger thread; aLogger.c
 * reaches each through its accessor. */
typedef struct aLogger {
    aATOMIC(int32_t) id;
    aLoggerWriterProc writer;
    aFile* file;                  /* opened for appending, unbuffered */
    aThread* thread;              /* NULL while no logger thread runs */
    aATOMIC(uint8_t) running;     /* 1 while the logger thread is to keep running */
    aATOMIC(uint8_t) writeFailed; /* a write failed since the thread was last started */
    uint16_t check;
} aLogger;

#define aVALIDLOGGER(l) ((l) != NULL && (l)->check == aLOGGER_CHECK)

/* A new logger, not running, with the file at path opened for appending and
 * unbuffered. NULL when memory is exhausted, the writer or path is NULL or
 * the file cannot be opened. */
aLogger* aLogger_Create(int32_t id, aLoggerWriterProc writer, const char* path);
/* Starts the logger thread; aErrNone also when it runs already. aErrParam
 * for an invalid logger, aErrResource when no thread can be started. */
aErr aLogger_Enable(aLogger* logger);
/* Stops and joins the logger thread; aErrNone when it did not run or when
 * called on the logger thread itself (then nothing is stopped). aErrParam for
 * an invalid logger, aErrUnknown when the join fails. */
aErr aLogger_Disable(aLogger* logger);
/* Stops the thread and, when that succeeded, closes the file, frees the
 * logger and clears *logger (a failed stop keeps both, as the thread may
 * still use them). The stop's result, or aErrIO when the close lost data. An invalid logger: aErrNone, nothing.
 * On the logger thread itself: aErrBusy, nothing (it would free itself). */
aErr aLogger_Destroy(aLogger** logger);
/* The id handed to the writer from the next call on. aErrParam for an
 * invalid logger. */
aErr aLogger_SetId(aLogger* logger, int32_t id);
/* True when a write failed since the thread was last started. */
bool aLogger_WriteFailed(const aLogger* logger);

#ifdef __cplusplus
}
#endif

#endif
