#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "aThread.h"

namespace {

void* addOne(void* arg)
{
    static_cast<std::atomic<int>*>(arg)->fetch_add(1);
    return nullptr;
}

TEST(Thread, DestroyJoinsBeforeReturning)
{
    std::atomic<int> ran{0};
    aThread* thread = aThread_Create(addOne, &ran);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(aThread_Destroy(&thread), 0);
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(ran.load(), 1) << "the function must have finished by now";
}

TEST(Thread, ManyThreadsRunConcurrentlyAndAreAllJoined)
{
    constexpr int COUNT = 32;
    std::atomic<int> ran{0};
    aThread* threads[COUNT];
    for (aThread*& t : threads) {
        t = aThread_Create(addOne, &ran);
        ASSERT_NE(t, nullptr);
    }
    for (aThread*& t : threads) {
        EXPECT_EQ(aThread_Destroy(&t), 0);
        EXPECT_EQ(t, nullptr);
    }
    EXPECT_EQ(ran.load(), COUNT);
}

TEST(Thread, RefusesMissingFunctionsAndHandles)
{
    EXPECT_EQ(aThread_Create(nullptr, nullptr), nullptr);
    EXPECT_EQ(aThread_Destroy(nullptr), EINVAL);
    aThread* none = nullptr;
    EXPECT_EQ(aThread_Destroy(&none), EINVAL);
}

}  // namespace
