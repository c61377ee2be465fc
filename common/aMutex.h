/* Named, non-recursive mutexes. */
#ifndef MORV_AMUTEX_H
#define MORV_AMUTEX_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aMUTEX_MAX_NAME 255

typedef struct aMutex aMutex;

/* NULL when the name has 256 characters or more or the mutex cannot be made. */
aMutex* aMutex_Create(const char* name);
/* Its name ("" when created without one). */
const char* aMutex_Identifier(const aMutex* mutex);
/* Destroys and frees it and sets *mutex to NULL. When pthread refuses (the
 * mutex is held: aErrBusy) it is kept and *mutex left as it was. */
aErr aMutex_Destroy(aMutex** mutex);
aErr aMutex_Lock(aMutex* mutex);
/* aErrBusy when it is held. */
aErr aMutex_TryLock(aMutex* mutex);
aErr aMutex_Unlock(aMutex* mutex);

/* How each operation maps a pthread result to a code (kept apart for tests). */
typedef enum {
    aMUTEX_OP_DESTROY,
    aMUTEX_OP_LOCK,
    aMUTEX_OP_TRYLOCK,
    aMUTEX_OP_UNLOCK
} aMutexOp;
aErr aMutex_ResultCode(aMutexOp op, int pthreadResult);

#ifdef __cplusplus
}
#endif

#endif
