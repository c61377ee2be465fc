/* How the library uses CZMQ: started without signal handlers of its own, and
 * with actors whose stop returns within a bound whatever they are doing.
 * Internal to the library. */
#ifndef MORV_AZEROMQ_H
#define MORV_AZEROMQ_H

#include <czmq.h>
#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called before the library's first CZMQ call on every path that makes one:
 * CZMQ would otherwise put its own SIGINT and SIGTERM handlers in place as it
 * starts, and the host's would never run. Handlers in place stay as they are,
 * CZMQ's own included (a host that started CZMQ with them chose them). Once
 * per process; any thread. */
void aZeroMQ_Start(void);

/* Releases what an actor and its starter shared; run by whichever of them
 * lets go last. */
typedef void aZeroMQReleaseFn(void* shared);

/* Starts task(pipe, shared) as an actor that holds shared until the task
 * returns; *holders counts the holders (the starter's own hold included, so
 * the starter sets it to 1 before its first actor). NULL when the actor
 * cannot be started (then it holds nothing). */
zactor_t* aZeroMQ_StartActor(zactor_fn* task, void* shared, int* holders, aZeroMQReleaseFn* release);

/* Asks the actor to end and waits for it until the deadline (aTime_GetMSTicks
 * milliseconds), never longer, also for an actor that ended already or one
 * that is stuck; destroys the handle and clears it. The actor may still run
 * afterwards: it holds what it uses until it ends. */
void aZeroMQ_StopActor(zactor_t** actor, uint64_t deadline);

/* Gives up one hold of shared; the last one releases it. True when this was
 * the last hold. */
bool aZeroMQ_LetGo(int* holders, aZeroMQReleaseFn* release, void* shared);

#ifdef __cplusplus
}
#endif

#endif
