// The device registry: lookups, registration and removal, and the lifetime
// of a device record while calls on it are in flight on other threads.
#include "WrapperRig.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace wraptest;

std::unique_ptr<Module> idleModule()
{
    return std::make_unique<Module>(std::uint8_t(0), std::uint8_t(0));
}

struct Counted {
    explicit Counted(std::atomic<int>& alive) : alive_(alive) { ++alive_; }
    ~Counted() { --alive_; }
    std::atomic<int>& alive_;
};

TEST(MorvMap, LookupsHandOutReferencesAndNeverAddEntries)
{
    std::atomic<int> alive{0};
    morvMap<Counted> map;
    EXPECT_FALSE(map.findDevice(7));
    EXPECT_EQ(map.size(), 0u);

    EXPECT_TRUE(map.insertDevice(7, std::make_shared<Counted>(alive)));
    EXPECT_FALSE(map.insertDevice(7, std::make_shared<Counted>(alive)));  // id taken
    EXPECT_FALSE(map.insertDevice(8, nullptr));
    EXPECT_EQ(alive.load(), 1);

    std::shared_ptr<Counted> held = map.findDevice(7);
    ASSERT_TRUE(held);
    EXPECT_EQ(held.use_count(), 2);
    EXPECT_FALSE(map.findDevice(8));
    EXPECT_EQ(map.size(), 1u);

    // Removed while held: gone from the map, alive until the holder lets go.
    std::shared_ptr<Counted> removed = map.removeDevice(7);
    EXPECT_TRUE(removed);
    removed.reset();
    EXPECT_FALSE(map.findDevice(7));
    EXPECT_FALSE(map.removeDevice(7));
    EXPECT_EQ(alive.load(), 1);
    held.reset();
    EXPECT_EQ(alive.load(), 0);
}

TEST(Registry, RegistrationGivesFreshIdsAndRefusesBadArguments)
{
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    ASSERT_EQ(registerDevice(idleModule(), &first), aErrNone);
    ASSERT_EQ(registerDevice(idleModule(), &second), aErrNone);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(CCAMap.findDevice(first)->module->getModuleAddress(), 0);

    std::uint32_t unused = 0;
    EXPECT_EQ(registerDevice(nullptr, &unused), aErrParam);
    EXPECT_EQ(registerDevice(idleModule(), nullptr), aErrParam);

    EXPECT_EQ(removeDevice(first), aErrNone);
    EXPECT_EQ(removeDevice(first), aErrNotFound);
    EXPECT_EQ(removeDevice(second), aErrNone);

    // A removed id is not handed out again.
    std::uint32_t third = 0;
    ASSERT_EQ(registerDevice(idleModule(), &third), aErrNone);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    EXPECT_EQ(removeDevice(third), aErrNone);
}

// Calls on unconnected modules (each answers 25 without I/O) race with
// registration and removal of other devices and of their own.
TEST(Registry, CallsRaceWithRegistrationAndRemoval)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    std::vector<std::uint32_t> stable(kThreads);
    for (auto& id : stable)
        ASSERT_EQ(registerDevice(idleModule(), &id), aErrNone);

    std::atomic<bool> go{false};
    std::atomic<int> badReports{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) {
                Result r{-7, -7};
                system_getSerialNumber(&stable[t], &r, 0);
                if (r.value != 0 || r.error != aErrConnection)
                    ++badReports;
                // Whatever the churn thread registered last, or nothing.
                const std::uint32_t guess = stable[kThreads - 1] + 1 + static_cast<std::uint32_t>(i % 4);
                Result g{-7, -7};
                port_getVbusVoltage(&guess, &g, 0);
                if (g.value != 0 || (g.error != aErrConnection && g.error != aErrNotFound))
                    ++badReports;
            }
        });
    }
    std::thread churn([&] {
        while (!go.load())
            std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i) {
            std::uint32_t id = 0;
            if (registerDevice(idleModule(), &id) == aErrNone)
                removeDevice(id);
        }
    });
    go = true;
    for (auto& c : callers)
        c.join();
    churn.join();
    EXPECT_EQ(badReports.load(), 0);
    for (auto id : stable)
        EXPECT_EQ(removeDevice(id), aErrNone);
}

// A removal while a call waits for the module's answer: the call finishes on
// the same Module, which goes only once the call let go of it.
TEST(Registry, DeviceRemovedWhileACallIsInFlight)
{
    HubRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.connectAndRegister());
    std::weak_ptr<deviceInfo> record = CCAMap.findDevice(rig.id);
    const std::uint32_t id = rig.id;

    morvsim::Faults slow;
    slow.replyTiming.delay = Millis(300);
    rig.sim.setFaults(slow);
    const std::size_t mark = rig.sim.packetCount();
    auto call = std::async(std::launch::async, [id] {
        Result r{-7, -7};
        system_getSerialNumber(&id, &r, 0);
        return r;
    });
    ASSERT_TRUE(rig.sim.waitForPacket([](const SimPacket& p) { return p.is(kHubAddress, {3, 0x49, 0x20}); },
                                      Millis(2000), mark));
    ASSERT_EQ(removeDevice(id), aErrNone);
    rig.id = 0;
    EXPECT_FALSE(CCAMap.findDevice(id));
    EXPECT_FALSE(record.expired());  // the call still holds it

    ASSERT_EQ(call.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const Result r = call.get();
    EXPECT_EQ(r.value, static_cast<std::int32_t>(kHubSerial));
    EXPECT_EQ(r.error, aErrNone);
    EXPECT_TRUE(record.expired());

    // The id now reports not found.
    Result after{-7, -7};
    system_getSerialNumber(&id, &after, 0);
    EXPECT_EQ(after.error, aErrNotFound);
}

// A call blocked on one device holds no lock that a call on another device needs.
TEST(Registry, CallBlockedOnOneDeviceDoesNotDelayAnother)
{
    HubRig stuck("127.0.0.2", 0x11110001);
    HubRig lively("127.0.0.3", 0x22220002);
    ASSERT_NO_FATAL_FAILURE(stuck.connectAndRegister());
    ASSERT_NO_FATAL_FAILURE(lively.connectAndRegister());

    morvsim::Faults silent;
    silent.silent = true;
    stuck.sim.setFaults(silent);
    std::atomic<bool> stuckDone{false};
    const std::uint32_t stuckId = stuck.id;
    const std::size_t mark = stuck.sim.packetCount();
    auto blocked = std::async(std::launch::async, [&] {
        Result r{-7, -7};
        usb_getHubMode(&stuckId, &r, 0);
        stuckDone = true;
        return r;
    });
    ASSERT_TRUE(stuck.sim.waitForPacket([](const SimPacket& p) { return p.address == kHubAddress; }, Millis(2000),
                                        mark));

    for (int i = 0; i < 5; ++i) {
        Result r{-7, -7};
        system_getSerialNumber(&lively.id, &r, 0);
        EXPECT_EQ(r.value, 0x22220002);
        EXPECT_EQ(r.error, aErrNone);
        std::uint32_t added = 0;
        ASSERT_EQ(registerDevice(idleModule(), &added), aErrNone);
        EXPECT_EQ(removeDevice(added), aErrNone);
    }
    // All of that ran while the other call was still waiting for its answer.
    EXPECT_FALSE(stuckDone.load());

    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(blocked.get().error, aErrTimeout);
}

}  // namespace
