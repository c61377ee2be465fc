/* Joinable threads. */
#ifndef MORV_ATHREAD_H
#define MORV_ATHREAD_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void* (*aThreadProc)(void* arg);

typedef struct aThread aThread;

/* Starts proc(arg) on a new thread; NULL when it cannot. */
aThread* aThread_Create(aThreadProc proc, void* arg);
/* Joins the thread, frees the handle and sets *thread to NULL; returns the
 * join's result (0 or an errno value; EINVAL for a NULL handle). The thread
 * must have been told to stop first. */
int aThread_Destroy(aThread** thread);
/* Sleeps 5 microseconds. */
void aThread_Yield(void);

#ifdef __cplusplus
}
#endif

#endif
