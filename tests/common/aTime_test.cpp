#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <sys/time.h>

#include "Elapsed.h"
#include "aTime.h"

namespace {

using Clock = std::chrono::steady_clock;

using morvtest::msSince;

TEST(Ticks, FollowTheMonotonicClock)
{
    timespec mono{};
    ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &mono), 0);
    uint64_t before = uint64_t(mono.tv_sec) * 1000 + uint64_t(mono.tv_nsec) / 1000000;
    uint64_t ticks = aTime_GetMSTicks();
    ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &mono), 0);
    uint64_t after = uint64_t(mono.tv_sec) * 1000 + uint64_t(mono.tv_nsec) / 1000000;
    EXPECT_GE(ticks, before);
    EXPECT_LE(ticks, after);

    uint64_t last = aTime_GetMSTicks();
    for (int i = 0; i < 1000; ++i) {
        uint64_t now = aTime_GetMSTicks();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(Deadline, SaturatesInsteadOfWrapping)
{
    uint64_t now = aTime_GetMSTicks();
    uint64_t soon = aTime_DeadlineAfter(1000);
    EXPECT_GE(soon, now + 1000);
    EXPECT_LT(soon, now + 60000);
    EXPECT_GE(aTime_DeadlineAfter(0), now);
    EXPECT_EQ(aTime_DeadlineAfter(UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(aTime_DeadlineAfter(UINT64_MAX - 1), UINT64_MAX);
    EXPECT_EQ(aTime_DeadlineAfter(UINT64_MAX - now / 2), UINT64_MAX);
}

TEST(Sleep, SleepsAtLeastTheTimeGiven)
{
    auto start = Clock::now();
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
    EXPECT_LT(msSince(start), 1000);

    start = Clock::now();
    EXPECT_EQ(aTime_MSSleep(30), aErrNone);
    EXPECT_GE(msSince(start), 30);

    // Longer than one sleep piece of just under a second.
    start = Clock::now();
    EXPECT_EQ(aTime_MSSleep(1100), aErrNone);
    EXPECT_GE(msSince(start), 1100);
}

volatile sig_atomic_t alarms = 0;
void onAlarm(int)
{
    alarms = alarms + 1;
}

TEST(Sleep, ASignalDoesNotCutItShort)
{
    struct sigaction action{};
    action.sa_handler = onAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the sleep sees EINTR
    struct sigaction previous{};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 20000;
    timer.it_interval.tv_usec = 20000;
    alarms = 0;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    auto start = Clock::now();
    EXPECT_EQ(aTime_MSSleep(150), aErrNone);
    long long elapsed = msSince(start);

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GT(alarms, 0);
    EXPECT_GE(elapsed, 150);
}

}  // namespace
