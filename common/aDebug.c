/* The library's debug switches. */
#include "aDebug.h"

uint8_t aMorvassetDebuggingEnable = 0;
uint32_t aMorvassetDebuggingLevel = 0;

int aDebug_IsOn(uint32_t bit)
{
    /* Relaxed atomic reads: a debugger or the embedding program may flip the
     * switches while link threads are tracing. */
    return __atomic_load_n(&aMorvassetDebuggingEnable, __ATOMIC_RELAXED) != 0 &&
           (__atomic_load_n(&aMorvassetDebuggingLevel, __ATOMIC_RELAXED) & bit) != 0;
}
