/* CZMQ's start without signal handlers, and actors with bounded stops. */
#define _GNU_SOURCE
#include "aZeroMQ.h"

#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include "aTime.h"

/* ---- Signal handlers ---- */

static pthread_once_t sStarted = PTHREAD_ONCE_INIT;

static void* sHandlerCode(const struct sigaction* action)
{
    return (action->sa_flags & SA_SIGINFO) != 0 ? (void*)action->sa_sigaction : (void*)action->sa_handler;
}

/* True when the handler lies in CZMQ's own library. Where CZMQ is linked
 * into the same object as this code, the host's handlers would lie there
 * too: none is taken for CZMQ's then. */
static bool sIsCzmqHandler(const struct sigaction* action)
{
    void* code = sHandlerCode(action);
    if (code == (void*)SIG_DFL || code == (void*)SIG_IGN) {
        return false;
    }
    Dl_info handler;
    Dl_info czmq;
    Dl_info own;
    return dladdr(code, &handler) != 0 && dladdr((void*)zsys_handler_set, &czmq) != 0 &&
           dladdr((void*)aZeroMQ_Start, &own) != 0 && czmq.dli_fbase != own.dli_fbase &&
           handler.dli_fbase == czmq.dli_fbase;
}

static void sPutBackIfChanged(int signal, const struct sigaction* before)
{
    struct sigaction now;
    if (sigaction(signal, NULL, &now) == 0 &&
        (sHandlerCode(&now) != sHandlerCode(before) || now.sa_flags != before->sa_flags)) {
        (void)sigaction(signal, before, NULL);
    }
}

static void sKeepHostSignals(void)
{
    struct sigaction interrupt;
    struct sigaction terminate;
    if (sigaction(SIGINT, NULL, &interrupt) != 0 || sigaction(SIGTERM, NULL, &terminate) != 0) {
        return;
    }
    if (sIsCzmqHandler(&interrupt) || sIsCzmqHandler(&terminate)) {
        return;
    }
    /* CZMQ will never put its handlers in place. Had it started earlier with
     * them and the host then put in its own, this call would bring back what
     * was there before CZMQ: the host's own come back at once. */
    zsys_handler_set(NULL);
    sPutBackIfChanged(SIGINT, &interrupt);
    sPutBackIfChanged(SIGTERM, &terminate);
}

void aZeroMQ_Start(void)
{
    (void)pthread_once(&sStarted, sKeepHostSignals);
}

/* ---- Actors ---- */

typedef struct {
    zactor_fn* task;
    void* shared;
    int* holders;
    aZeroMQReleaseFn* release;
} sActorStart;

static void sRunActor(zsock_t* pipe, void* args)
{
    sActorStart start = *(sActorStart*)args;
    free(args);
    start.task(pipe, start.shared);
    aZeroMQ_LetGo(start.holders, start.release, start.shared);
}

zactor_t* aZeroMQ_StartActor(zactor_fn* task, void* shared, int* holders, aZeroMQReleaseFn* release)
{
    aZeroMQ_Start();
    sActorStart* start = (sActorStart*)malloc(sizeof(*start));
    if (start == NULL) {
        return NULL;
    }
    start->task = task;
    start->shared = shared;
    start->holders = holders;
    start->release = release;
    __atomic_add_fetch(holders, 1, __ATOMIC_SEQ_CST);
    zactor_t* actor = zactor_new(sRunActor, start);
    if (actor == NULL) {
        /* The task never ran. */
        free(start);
        __atomic_sub_fetch(holders, 1, __ATOMIC_SEQ_CST);
    }
    return actor;
}

void aZeroMQ_StopActor(zactor_t** actor, uint64_t deadline)
{
    if (actor == NULL || *actor == NULL) {
        return;
    }
    uint64_t now = aTime_GetMSTicks();
    uint64_t left = now < deadline ? deadline - now : 0;
    /* The stop request is not waited for (an actor that ended reads its pipe
     * no more), nor its answer beyond the deadline (a stuck one sends none). */
    zsock_set_sndtimeo(*actor, 0);
    zsock_set_rcvtimeo(*actor, left < INT_MAX ? (int)left : INT_MAX);
    zactor_destroy(actor);
}

bool aZeroMQ_LetGo(int* holders, aZeroMQReleaseFn* release, void* shared)
{
    if (__atomic_sub_fetch(holders, 1, __ATOMIC_SEQ_CST) != 0) {
        return false;
    }
    release(shared);
    return true;
}
