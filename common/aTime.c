/* Millisecond ticks of the monotonic clock and sleeps. */
#include "aTime.h"

#include <errno.h>
#include <time.h>

/* Sleeps are taken in pieces below one second. */
#define SLEEP_PIECE_US 999999u

uint64_t aTime_GetMSTicks(void)
{
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 0;
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

uint64_t aTime_DeadlineAfter(uint64_t ms)
{
    uint64_t now = aTime_GetMSTicks();
    return ms > UINT64_MAX - now ? UINT64_MAX : now + ms;
}

static void sleepMicroseconds(uint32_t us)
{
    struct timespec left = {0, (long)us * 1000L};
    struct timespec rest;
    /* A signal cuts nanosleep short; sleep what is left. */
    while (nanosleep(&left, &rest) != 0 && errno == EINTR)
        left = rest;
}

aErr aTime_MSSleep(uint32_t ms)
{
    uint64_t us = (uint64_t)ms * 1000u;
    while (us > 0) {
        uint32_t piece = us > SLEEP_PIECE_US ? SLEEP_PIECE_US : (uint32_t)us;
        sleepMicroseconds(piece);
        us -= piece;
    }
    return aErrNone;
}
