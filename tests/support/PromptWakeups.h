// Simulated hardware answers within microseconds, and the host code opposite
// it waits only milliseconds (the LPC boot ROM's reply window is 22 ms). On a
// machine running many tests at once an ordinary thread can miss that window,
// so a simulator thread asks for real-time scheduling where that is allowed
// (as root) and runs as before elsewhere. Such a thread must block between
// answers, never spin.
#pragma once

#include <pthread.h>
#include <sched.h>

namespace morvtest {

inline void PreferPromptWakeups()
{
    sched_param param{};
    param.sched_priority = 1;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace morvtest
