#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "aMutex.h"

#if defined(__SANITIZE_THREAD__)
#define MORV_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MORV_UNDER_TSAN 1
#endif
#endif

namespace {

TEST(MutexCreate, NamesUpTo255Characters)
{
    std::string longest(255, 'n');
    aMutex* named = aMutex_Create(longest.c_str());
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(std::string(aMutex_Identifier(named)), longest);
    EXPECT_EQ(aMutex_Destroy(&named), aErrNone);
    EXPECT_EQ(named, nullptr);

    std::string tooLong(256, 'n');
    EXPECT_EQ(aMutex_Create(tooLong.c_str()), nullptr);

    aMutex* anonymous = aMutex_Create(nullptr);
    ASSERT_NE(anonymous, nullptr);
    EXPECT_STREQ(aMutex_Identifier(anonymous), "");
    EXPECT_EQ(aMutex_Destroy(&anonymous), aErrNone);
}

TEST(MutexLock, ExcludesOtherThreads)
{
    aMutex* mutex = aMutex_Create("aLink_Managed");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    aErr whileHeld = aErrNone;
    std::thread([&] { whileHeld = aMutex_TryLock(mutex); }).join();
    EXPECT_EQ(whileHeld, aErrBusy);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);

    aErr afterwards = aErrUnknown;
    std::thread([&] {
        afterwards = aMutex_TryLock(mutex);
        if (afterwards == aErrNone)
            aMutex_Unlock(mutex);
    }).join();
    EXPECT_EQ(afterwards, aErrNone);

    // A counter under the lock from several threads ends exact.
    long counter = 0;
    std::thread workers[4];
    for (std::thread& t : workers) {
        t = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                aMutex_Lock(mutex);
                ++counter;
                aMutex_Unlock(mutex);
            }
        });
    }
    for (std::thread& t : workers)
        t.join();
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
}

TEST(MutexNull, EveryOperationRefusesIt)
{
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_TryLock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Unlock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Destroy(nullptr), aErrParam);
    aMutex* none = nullptr;
    EXPECT_EQ(aMutex_Destroy(&none), aErrParam);
}

#ifndef MORV_UNDER_TSAN  // destroying a held mutex is reported by TSan by design
TEST(MutexDestroy, AHeldMutexIsKept)
{
    aMutex* mutex = aMutex_Create("held");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    aMutex* handle = mutex;
    EXPECT_EQ(aMutex_Destroy(&handle), aErrBusy);
    EXPECT_EQ(handle, mutex) << "the holder's mutex must stay alive";
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&handle), aErrNone);
    EXPECT_EQ(handle, nullptr);
}
#endif

struct MappingRow {
    aMutexOp op;
    int result;
    aErr code;
};

TEST(MutexResults, PthreadResultsMapPerOperation)
{
    const MappingRow rows[] = {
        {aMUTEX_OP_DESTROY, 0, aErrNone},          {aMUTEX_OP_DESTROY, EAGAIN, aErrResource},
        {aMUTEX_OP_DESTROY, EBUSY, aErrBusy},      {aMUTEX_OP_DESTROY, EINVAL, aErrParam},
        {aMUTEX_OP_DESTROY, EDEADLK, aErrUnknown}, {aMUTEX_OP_DESTROY, EPERM, aErrUnknown},
        {aMUTEX_OP_LOCK, 0, aErrNone},             {aMUTEX_OP_LOCK, EINVAL, aErrParam},
        {aMUTEX_OP_LOCK, EDEADLK, aErrDuplicate},  {aMUTEX_OP_LOCK, EAGAIN, aErrUnknown},
        {aMUTEX_OP_LOCK, EBUSY, aErrUnknown},      {aMUTEX_OP_TRYLOCK, 0, aErrNone},
        {aMUTEX_OP_TRYLOCK, EBUSY, aErrBusy},      {aMUTEX_OP_TRYLOCK, EINVAL, aErrParam},
        {aMUTEX_OP_TRYLOCK, EAGAIN, aErrUnknown},  {aMUTEX_OP_UNLOCK, 0, aErrNone},
        {aMUTEX_OP_UNLOCK, EINVAL, aErrParam},     {aMUTEX_OP_UNLOCK, EPERM, aErrPermission},
        {aMUTEX_OP_UNLOCK, EBUSY, aErrUnknown},    {aMUTEX_OP_UNLOCK, 12345, aErrUnknown},
    };
    for (const MappingRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "op " << row.op << " result " << row.result);
        EXPECT_EQ(aMutex_ResultCode(row.op, row.result), row.code);
    }
}

}  // namespace
