#include <gtest/gtest.h>

#include <czmq.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "zBeaconInterface.h"

namespace {

// Before any CZMQ call: the test runner handles signals, not CZMQ.
const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

using Clock = std::chrono::steady_clock;

std::string take(char* copy)
{
    std::string text = copy ? copy : "<null>";
    std::free(copy);
    return text;
}

std::string current() { return take(zBeaconInterface_get()); }

void setUnlocked(const char* text)
{
    ASSERT_EQ(zBeaconInterface_setAndLock(text), 1);
    ASSERT_EQ(zBeaconInterface_unlock(), 1);
}

// True when another thread can take the lock within waitMs.
bool lockIsFree(int waitMs = 2000)
{
    std::atomic<bool> took{false};
    std::thread other([&] {
        char* text = zBeaconInterface_getAndLock();
        if (text) {
            took = true;
            std::free(text);
            zBeaconInterface_unlock();
        }
    });
    auto start = Clock::now();
    while (!took && Clock::now() - start < std::chrono::milliseconds(waitMs))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bool free = took.load();
    if (!free) {
        other.detach(); // it ends once the holder releases the lock
        return false;
    }
    other.join();
    return true;
}

TEST(BeaconInterfaceText, OnlyAddressesEmptyOrStarAreTaken)
{
    (void)kNoCzmqSignalHandler;
    setUnlocked("192.0.2.7");
    struct Case {
        const char* text;
        int result;
    } cases[] = {{"eth0", 0}, {"10.0.0", 0}, {"::1", 0}, {"10.0.0.1 ", 0}, {nullptr, 0},
                 {"", 1},     {"*", 1},      {"10.213.0.1", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "NULL");
        ASSERT_EQ(zBeaconInterface_setAndLock(c.text), c.result);
        if (c.result == 1) {
            EXPECT_EQ(current(), c.text);
            EXPECT_EQ(zBeaconInterface_unlock(), 1);
            setUnlocked("192.0.2.7");
        } else {
            EXPECT_EQ(current(), "192.0.2.7") << "a refused text changes nothing";
            EXPECT_TRUE(lockIsFree()) << "a refused text takes no lock";
        }
    }
    EXPECT_EQ(zBeaconInterface_backupSetAndLock("eth0"), 0);
    EXPECT_TRUE(lockIsFree());
}

TEST(BeaconInterfaceBackup, RestorePutsThePreviousSettingBack)
{
    setUnlocked("192.0.2.1");
    ASSERT_EQ(zBeaconInterface_backupSetAndLock("10.213.0.1"), 1);
    EXPECT_EQ(current(), "10.213.0.1");
    EXPECT_EQ(take(zBeaconInterface_getBackup()), "192.0.2.1");
    EXPECT_EQ(zBeaconInterface_restoreAndUnlock(), 1);
    EXPECT_EQ(current(), "192.0.2.1");
    EXPECT_TRUE(lockIsFree());

    // Also from the empty setting, which must come back empty, not as a
    // leftover of an earlier backup.
    setUnlocked("");
    ASSERT_EQ(zBeaconInterface_backupSetAndLock("*"), 1);
    EXPECT_EQ(zBeaconInterface_restoreAndUnlock(), 1);
    EXPECT_EQ(current(), "");
}

TEST(BeaconInterfaceLock, HoldersFollowOneAnother)
{
    setUnlocked("");
    ASSERT_EQ(zBeaconInterface_backupSetAndLock("10.213.0.1"), 1);
    std::atomic<bool> otherHolds{false};
    std::atomic<int> otherSaw{0};
    std::thread other([&] {
        if (zBeaconInterface_setAndLock("10.213.0.2") == 1) {
            otherHolds = true;
            zBeaconInterface_unlock();
        }
        otherSaw = 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(otherHolds.load()) << "the second setter waits for the holder";
    EXPECT_EQ(current(), "10.213.0.1");
    EXPECT_EQ(zBeaconInterface_restoreAndUnlock(), 1);
    other.join();
    EXPECT_TRUE(otherHolds.load());
    EXPECT_EQ(current(), "10.213.0.2") << "the server's setting stays after unlock";
}

TEST(BeaconInterfaceLock, MisusedPairsFailInsteadOfHangingOrBreakingTheLock)
{
    setUnlocked("192.0.2.1");
    EXPECT_EQ(zBeaconInterface_unlock(), 0) << "nothing held";
    EXPECT_EQ(zBeaconInterface_restoreAndUnlock(), 0);
    EXPECT_EQ(current(), "192.0.2.1");

    ASSERT_EQ(zBeaconInterface_setAndLock("10.0.0.1"), 1);
    // The lock is not recursive: the holder's second locking call fails.
    EXPECT_EQ(zBeaconInterface_setAndLock("10.0.0.2"), 0);
    EXPECT_EQ(zBeaconInterface_backupSetAndLock("10.0.0.2"), 0);
    EXPECT_EQ(zBeaconInterface_getAndLock(), nullptr);
    EXPECT_EQ(zBeaconInterface_getBackupAndLock(), nullptr);
    EXPECT_EQ(current(), "10.0.0.1");

    // Another thread can neither release nor restore it.
    int otherUnlock = -1;
    int otherRestore = -1;
    std::thread([&] {
        otherUnlock = zBeaconInterface_unlock();
        otherRestore = zBeaconInterface_restoreAndUnlock();
    }).join();
    EXPECT_EQ(otherUnlock, 0);
    EXPECT_EQ(otherRestore, 0);
    EXPECT_EQ(current(), "10.0.0.1");

    EXPECT_EQ(zBeaconInterface_unlock(), 1);
    EXPECT_TRUE(lockIsFree());
}

TEST(BeaconInterfaceGetters, CopiesOutliveLaterChanges)
{
    setUnlocked("192.0.2.10");
    char* before = zBeaconInterface_get();
    ASSERT_NE(before, nullptr);
    // CZMQ frees its old text when the interface is set; the copy stays.
    setUnlocked("10.213.0.99");
    EXPECT_STREQ(before, "192.0.2.10");
    std::free(before);

    char* locked = zBeaconInterface_getAndLock();
    ASSERT_NE(locked, nullptr);
    EXPECT_STREQ(locked, "10.213.0.99");
    std::free(locked);
    EXPECT_EQ(current(), "10.213.0.99") << "get works while the lock is held";
    EXPECT_EQ(zBeaconInterface_unlock(), 1);

    ASSERT_EQ(zBeaconInterface_backupSetAndLock("10.1.1.1"), 1);
    EXPECT_EQ(zBeaconInterface_restoreAndUnlock(), 1);
    char* backup = zBeaconInterface_getBackupAndLock();
    ASSERT_NE(backup, nullptr);
    EXPECT_STREQ(backup, "10.213.0.99");
    std::free(backup);
    EXPECT_EQ(zBeaconInterface_unlock(), 1);
}

TEST(BeaconInterfaceGetters, GetRacesWithSettersSafely)
{
    // Readers and a setter at once; run under ASan/TSan this catches a
    // getter handing out CZMQ's text while it is freed.
    setUnlocked("");
    std::atomic<bool> done{false};
    std::thread setter([&] {
        const char* texts[] = {"10.0.0.1", "10.0.0.22", "*", ""};
        for (int i = 0; i < 2000; ++i) {
            zBeaconInterface_setAndLock(texts[i % 4]);
            zBeaconInterface_unlock();
        }
        done = true;
    });
    int reads = 0;
    while (!done && reads < 200000) {
        std::string text = current();
        ASSERT_TRUE(text == "10.0.0.1" || text == "10.0.0.22" || text == "*" || text.empty()) << text;
        ++reads;
    }
    setter.join();
}

}  // namespace
