/* Joinable threads over pthreads. */
#include "aThread.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

struct aThread {
    pthread_t thread;
};

aThread* aThread_Create(aThreadProc proc, void* arg)
{
    if (proc == NULL)
        return NULL;
    aThread* handle = malloc(sizeof(*handle));
    if (handle == NULL)
        return NULL;
    if (pthread_create(&handle->thread, NULL, proc, arg) != 0) {
        free(handle);
        return NULL;
    }
    return handle;
}

int aThread_Destroy(aThread** thread)
{
    if (thread == NULL || *thread == NULL)
        return EINVAL;
    int result = pthread_join((*thread)->thread, NULL);
    /* A thread that cannot be joined (it is the caller itself) still must not leak. */
    if (result != 0)
        pthread_detach((*thread)->thread);
    free(*thread);
    *thread = NULL;
    return result;
}

void aThread_Yield(void)
{
    struct timespec pause = {0, 5000};
    nanosleep(&pause, NULL);
}
