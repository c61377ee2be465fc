/* The event thread of the shared libusb context, the endpoints' transfers it
 * completes, and the sections in which libusb's synchronous calls run while
 * it rests (see aUSBEvents.h). */
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

#include "aThread.h"
#include "aTime.h"
#include "aUSBEvents.h"

/* The thread and its users. lifecycle serialises starting and stopping (it
 * is held across the join); state guards the rest. Lock order: lifecycle,
 * then state. */
static pthread_mutex_t _eventsLifecycle = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t _eventsState = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t _eventsChanged = PTHREAD_COND_INITIALIZER;
static aThread* _eventThread = NULL; /* guarded by lifecycle */
static unsigned _eventUsers = 0;     /* guarded by lifecycle */
/* Guarded by state: */
static libusb_context* _eventContext = NULL;
static bool _eventStop = false;
static bool _eventInRound = false;  /* the thread is inside libusb's event handling */
static bool _exclusiveHeld = false; /* a synchronous call runs; the thread rests */
/* Pipes whose transfer never came back: libusb may still hold them, so they
 * stay reachable until exit (never freed). Guarded by state. */
static mvusb_pipe* _lostPipes = NULL;

static struct timespec sDeadline(unsigned int ms)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += (time_t)(ms / 1000u);
    t.tv_nsec += (long)(ms % 1000u) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec++;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

static aErr sMonotonicCond(pthread_cond_t* cond)
{
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) {
        return aErrResource;
    }
    int rc = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    if (rc == 0) {
        rc = pthread_cond_init(cond, &attributes);
    }
    pthread_condattr_destroy(&attributes);
    return rc == 0 ? aErrNone : aErrResource;
}

/* --- The event thread --- */

static void* sEventLoop(void* unused)
{
    (void)unused;
    (void)pthread_setname_np(pthread_self(), MVUSB_EVENT_THREAD_NAME);
    pthread_mutex_lock(&_eventsState);
    while (!_eventStop) {
        if (_exclusiveHeld) {
            pthread_cond_wait(&_eventsChanged, &_eventsState);
            continue;
        }
        libusb_context* context = _eventContext;
        _eventInRound = true;
        pthread_mutex_unlock(&_eventsState);
        struct timeval round = {(time_t)(MVUSB_EVENT_ROUND_MS / 1000u), 0};
        int rc = libusb_handle_events_timeout_completed(context, &round, NULL);
        pthread_mutex_lock(&_eventsState);
        _eventInRound = false;
        pthread_cond_broadcast(&_eventsChanged);
        if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_INTERRUPTED && rc != LIBUSB_ERROR_TIMEOUT && !_eventStop) {
            /* A failing poll must not turn the loop into a spin. */
            pthread_mutex_unlock(&_eventsState);
            aTime_MSSleep(10);
            pthread_mutex_lock(&_eventsState);
        }
    }
    pthread_mutex_unlock(&_eventsState);
    return NULL;
}

/* Lifecycle held. */
static void sStopThread(void)
{
    if (_eventThread == NULL) {
        return;
    }
    pthread_mutex_lock(&_eventsState);
    _eventStop = true;
    libusb_context* context = _eventContext;
    pthread_cond_broadcast(&_eventsChanged);
    pthread_mutex_unlock(&_eventsState);
    libusb_interrupt_event_handler(context);
    (void)aThread_Destroy(&_eventThread);
    pthread_mutex_lock(&_eventsState);
    _eventStop = false;
    _eventContext = NULL;
    pthread_mutex_unlock(&_eventsState);
}

aErr mvusb_events_acquire(libusb_context* context)
{
    if (context == NULL) {
        return aErrResource;
    }
    aErr err = aErrNone;
    pthread_mutex_lock(&_eventsLifecycle);
    if (_eventThread == NULL) {
        pthread_mutex_lock(&_eventsState);
        _eventContext = context;
        pthread_mutex_unlock(&_eventsState);
        _eventThread = aThread_Create(sEventLoop, NULL);
        if (_eventThread == NULL) {
            err = aErrResource;
        }
    }
    if (err == aErrNone) {
        _eventUsers++;
    }
    pthread_mutex_unlock(&_eventsLifecycle);
    return err;
}

void mvusb_events_release(void)
{
    pthread_mutex_lock(&_eventsLifecycle);
    if (_eventUsers > 0 && --_eventUsers == 0) {
        sStopThread();
    }
    pthread_mutex_unlock(&_eventsLifecycle);
}

void mvusb_events_stop(void)
{
    pthread_mutex_lock(&_eventsLifecycle);
    sStopThread();
    _eventUsers = 0;
    pthread_mutex_unlock(&_eventsLifecycle);
}

/* --- Sections for libusb's synchronous calls --- */

static void sExclusiveBegin(void)
{
    pthread_mutex_lock(&_eventsState);
    while (_exclusiveHeld) {
        pthread_cond_wait(&_eventsChanged, &_eventsState);
    }
    _exclusiveHeld = true;
    if (_eventInRound) {
        libusb_interrupt_event_handler(_eventContext);
    }
    while (_eventInRound) {
        pthread_cond_wait(&_eventsChanged, &_eventsState);
    }
    pthread_mutex_unlock(&_eventsState);
}

static void sExclusiveEnd(void)
{
    pthread_mutex_lock(&_eventsState);
    _exclusiveHeld = false;
    pthread_cond_broadcast(&_eventsChanged);
    pthread_mutex_unlock(&_eventsState);
}

void mvusb_events_barrier(void)
{
    /* Within a section no thread of the library is in libusb's event
     * handling. (libusb_lock_events would not do: the event thread takes the
     * lock again at once, round after round, and starves the caller.) */
    sExclusiveBegin();
    sExclusiveEnd();
}

int mvusb_read_string_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data, int length)
{
    sExclusiveBegin();
    int result = libusb_get_string_descriptor_ascii(handle, index, data, length);
    sExclusiveEnd();
    return result;
}

/* --- The endpoints' transfers --- */

mvusb_pipe* mvusb_pipe_create(int bufferSize)
{
    mvusb_pipe* pipe = (mvusb_pipe*)calloc(1, sizeof(*pipe));
    if (pipe == NULL) {
        return NULL;
    }
    if (pthread_mutex_init(&pipe->mutex, NULL) != 0) {
        free(pipe);
        return NULL;
    }
    if (sMonotonicCond(&pipe->completed) != aErrNone) {
        pthread_mutex_destroy(&pipe->mutex);
        free(pipe);
        return NULL;
    }
    pipe->buffer = bufferSize > 0 ? (unsigned char*)malloc((size_t)bufferSize) : NULL;
    pipe->bufferSize = pipe->buffer != NULL ? bufferSize : 0;
    pipe->transfer = libusb_alloc_transfer(0);
    if (pipe->transfer == NULL || (bufferSize > 0 && pipe->buffer == NULL)) {
        mvusb_pipe_destroy(&pipe);
    }
    return pipe;
}

static void LIBUSB_CALL sCompleted(struct libusb_transfer* transfer)
{
    mvusb_pipe* pipe = (mvusb_pipe*)transfer->user_data;
    pthread_mutex_lock(&pipe->mutex);
    pipe->status = transfer->status;
    pipe->actual = transfer->actual_length;
    pipe->inFlight = false;
    pthread_cond_signal(&pipe->completed);
    pthread_mutex_unlock(&pipe->mutex);
}

/* Mutex held. False when the transfer is still in flight at the deadline. */
static bool sAwaitCompletion(mvusb_pipe* pipe, unsigned int ms)
{
    struct timespec deadline = sDeadline(ms);
    while (pipe->inFlight) {
        if (pthread_cond_timedwait(&pipe->completed, &pipe->mutex, &deadline) == ETIMEDOUT) {
            break;
        }
    }
    return !pipe->inFlight;
}

/* Mutex held. Cancels a transfer still in flight and waits for it; false
 * when it never came back. */
static bool sCancelAndAwait(mvusb_pipe* pipe)
{
    if (!pipe->inFlight) {
        return true;
    }
    if (pipe->lost) {
        return false;
    }
    pthread_mutex_unlock(&pipe->mutex);
    (void)libusb_cancel_transfer(pipe->transfer);
    pthread_mutex_lock(&pipe->mutex);
    if (!sAwaitCompletion(pipe, MVUSB_CANCEL_WAIT_MS)) {
        pipe->lost = true;
        return false;
    }
    return true;
}

bool mvusb_pipe_settle(mvusb_pipe* pipe)
{
    if (pipe == NULL) {
        return true;
    }
    pthread_mutex_lock(&pipe->mutex);
    bool settled = sCancelAndAwait(pipe);
    pthread_mutex_unlock(&pipe->mutex);
    return settled;
}

void mvusb_pipe_destroy(mvusb_pipe** pipe)
{
    if (pipe == NULL || *pipe == NULL) {
        return;
    }
    mvusb_pipe* p = *pipe;
    *pipe = NULL;
    pthread_mutex_lock(&p->mutex);
    bool held = p->inFlight || p->lost;
    p->lost = held;
    pthread_mutex_unlock(&p->mutex);
    if (held) {
        pthread_mutex_lock(&_eventsState);
        p->nextLost = _lostPipes;
        _lostPipes = p;
        pthread_mutex_unlock(&_eventsState);
        return;
    }
    libusb_free_transfer(p->transfer);
    free(p->buffer);
    pthread_cond_destroy(&p->completed);
    pthread_mutex_destroy(&p->mutex);
    free(p);
}

/* What libusb_bulk_transfer makes of a completed transfer's status. */
static int sStatusResult(int status)
{
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return LIBUSB_SUCCESS;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL:
        return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_OVERFLOW:
        return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return LIBUSB_ERROR_NO_DEVICE;
    default:
        return LIBUSB_ERROR_IO;
    }
}

int mvusb_pipe_bulk(mvusb_pipe* pipe, libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                    int length, unsigned int timeoutMs, int* transferred)
{
    *transferred = 0;
    pthread_mutex_lock(&pipe->mutex);
    if (pipe->lost || pipe->inFlight) {
        pthread_mutex_unlock(&pipe->mutex);
        return LIBUSB_ERROR_IO;
    }
    libusb_fill_bulk_transfer(pipe->transfer, handle, endpoint, data, length, sCompleted, pipe, timeoutMs);
    pipe->inFlight = true;
    pthread_mutex_unlock(&pipe->mutex);
    int rc = libusb_submit_transfer(pipe->transfer);
    pthread_mutex_lock(&pipe->mutex);
    if (rc != LIBUSB_SUCCESS) {
        pipe->inFlight = false;
    } else if (!sAwaitCompletion(pipe, timeoutMs + MVUSB_COMPLETION_GRACE_MS) && !sCancelAndAwait(pipe)) {
        rc = LIBUSB_ERROR_IO;
    } else {
        rc = sStatusResult(pipe->status);
        *transferred = pipe->actual;
    }
    pthread_mutex_unlock(&pipe->mutex);
    return rc;
}
