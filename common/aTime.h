/* Millisecond ticks and sleeps. */
#ifndef MORV_ATIME_H
#define MORV_ATIME_H

#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Milliseconds of the monotonic clock (unaffected by changes of the system
 * time); only differences mean anything. 0 when the clock cannot be read. */
uint64_t aTime_GetMSTicks(void);
/* Sleeps the given milliseconds (also across signals); returns 0. */
aErr aTime_MSSleep(uint32_t ms);
/* aTime_GetMSTicks() + ms, saturating at UINT64_MAX instead of wrapping. */
uint64_t aTime_DeadlineAfter(uint64_t ms);

#ifdef __cplusplus
}
#endif

#endif
