// The wrapper functions end to end: a real Module on TCP to the simulated
// hub, registered in CCAMap, called through the C functions of every family.
#include "WrapperRig.h"

#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace wraptest;
using morvsim::bufferKey;
using morvsim::entityKey;
using morvsim::errorKey;
using morvsim::pdAttributes;
using morvsim::u32;
using morvsim::u8;
using morvsim::words;

struct Reported {
    std::int32_t value;
    std::int32_t error;
    bool operator==(const Reported& o) const { return value == o.value && error == o.error; }
};

std::ostream& operator<<(std::ostream& os, const Reported& r)
{
    return os << "(" << r.value << ", " << r.error << ")";
}

Reported of(const Result& r)
{
    return {result_getValue(&r), result_getError(&r)};
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(rig_.connectAndRegister()); }

    const std::uint32_t* id() const { return &rig_.id; }
    Bytes stored(std::uint8_t command, std::uint8_t option, std::uint8_t index, std::uint8_t subindex = 0) const
    {
        const auto entities = rig_.hub().entities;
        auto it = entities.find(entityKey(command, option, index, subindex));
        return it == entities.end() ? Bytes() : it->second;
    }
    Bytes buffer(std::uint8_t command, std::uint8_t option, std::uint8_t index) const
    {
        const auto entities = rig_.hub().entities;
        auto it = entities.find(bufferKey(command, option, index));
        return it == entities.end() ? Bytes() : it->second;
    }

    HubRig rig_;
    Result r_{-7, -7};
};

TEST_F(EndToEnd, SystemFunctions)
{
    system_getSerialNumber(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{static_cast<std::int32_t>(kHubSerial), aErrNone}));
    system_getModel(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{200, aErrNone}));
    system_getTemperature(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{-10, aErrNone}));

    system_setLED(id(), &r_, 0, 5);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(stored(morvsim::kSystemCommand, 4, 0), u8(1));
    system_save(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(morvsim::systemCalls(rig_.hub(), 10), 1u);

    std::uint8_t name[32];
    std::memset(name, 0, sizeof(name));
    system_getName(id(), &r_, 0, name, sizeof(name));
    EXPECT_EQ(of(r_), (Reported{11, aErrNone}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 11), "Wrapped hub");

    std::uint32_t config[4] = {};
    system_getInputPowerBehaviorConfig(id(), &r_, 0, config, 4);
    EXPECT_EQ(of(r_), (Reported{2, aErrNone}));  // elements, not bytes
}

TEST_F(EndToEnd, SystemGetNameRefusesAnEmptyOrMissingBuffer)
{
    const std::size_t before = rig_.sim.packetCount();
    std::uint8_t name[4];
    system_getName(id(), &r_, 0, name, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrParam}));
    system_getName(id(), &r_, 0, nullptr, 4);
    EXPECT_EQ(of(r_), (Reported{0, aErrParam}));
    EXPECT_TRUE(rig_.sentSince(before).empty());
}

TEST_F(EndToEnd, PortFunctions)
{
    using namespace morvsim;
    port_getVbusVoltage(id(), &r_, 2);
    EXPECT_EQ(of(r_), (Reported{5000002, aErrNone}));
    port_getVbusVoltage(id(), &r_, 259);  // index 3
    EXPECT_EQ(of(r_), (Reported{5000003, aErrNone}));
    port_getVbusCurrent(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{-1500, aErrNone}));
    port_getState(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{-1, aErrNone}));
    port_getCC1State(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{65535, aErrNone}));
    port_getDataRole(id(), &r_, 1);
    EXPECT_EQ(of(r_), (Reported{200, aErrNone}));

    port_setEnabled(id(), &r_, 1, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(stored(kPortCommand, kPortEnabled, 1), u8(0));
    EXPECT_EQ(stored(kPortCommand, kPortEnabled, 0), u8(1));
    port_setMode(id(), &r_, 2, 0x80000007u);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(stored(kPortCommand, kPortMode, 2), u32(0x80000007u));

    std::uint8_t name[16];
    port_getName(id(), &r_, 3, name, sizeof(name));
    EXPECT_EQ(of(r_), (Reported{6, aErrNone}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 6), "Port 3");
    const std::uint8_t newName[] = {'U', 'p', 'l', 'i', 'n', 'k'};
    port_setName(id(), &r_, 3, newName, sizeof(newName));
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(buffer(kPortCommand, kPortName, 3), Bytes(newName, newName + sizeof(newName)));

    const std::size_t before = rig_.sim.packetCount();
    port_resetVbusAccumulatedPower(id(), &r_, 1);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(rig_.sentSince(before),
              (std::vector<Bytes>{{kPortCommand, 0x80 | kPortResetVbusAccumulatedPower, 0x21}}));
}

TEST_F(EndToEnd, ErrorsOfTheModulePassThrough)
{
    using namespace morvsim;
    rig_.change([](SimModule& m) { m.entities[errorKey(kPortCommand, kPortVbusVoltage, 0)] = {13}; });
    port_getVbusVoltage(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrRange}));
    // An option the hub does not have.
    port_getErrors(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrInvalidOption}));
    rig_.change([](SimModule& m) { m.entities[errorKey(kSystemCommand, 9, 0)] = {29}; });
    system_getSerialNumber(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrInvalidOption}));
    rig_.change([](SimModule& m) { m.entities[errorKey(kUsbSystemCommand, kUsbSysModeList, 0)] = {5}; });
    std::uint32_t modes[4] = {};
    usbsystem_getModeList(id(), &r_, 0, modes, 4);
    EXPECT_EQ(of(r_), (Reported{0, aErrBusy}));
}

TEST_F(EndToEnd, UsbFunctions)
{
    using namespace morvsim;
    usb_getPortVoltage(id(), &r_, 0, 2);
    EXPECT_EQ(of(r_), (Reported{-22, aErrNone}));
    usb_getHubMode(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{static_cast<std::int32_t>(0x80000001u), aErrNone}));
    usb_getConnectMode(id(), &r_, 0, 1);
    EXPECT_EQ(of(r_), (Reported{1, aErrNone}));

    usb_setPortCurrentLimit(id(), &r_, 0, 3, 500000);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(stored(kUsbCommand, kUsbPortCurrentLimit, 0, 3), u32(500000));
    EXPECT_EQ(stored(kUsbCommand, kUsbPortCurrentLimit, 0, 2), u32(900000));
    usb_getPortCurrentLimit(id(), &r_, 0, 3);
    EXPECT_EQ(of(r_), (Reported{500000, aErrNone}));

    const std::size_t before = rig_.sim.packetCount();
    usb_setPortEnable(id(), &r_, 0, 2);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    usb_setPortDisable(id(), &r_, 0, 1);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(rig_.sentSince(before), (std::vector<Bytes>{{kUsbCommand, 0x80 | kUsbPortEnable, 0x20, 2},
                                                          {kUsbCommand, 0x80 | kUsbPortDisable, 0x20, 1}}));
}

TEST_F(EndToEnd, PowerDeliveryFunctions)
{
    using namespace morvsim;
    powerdelivery_getNumberOfPowerDataObjects(id(), &r_, 1, 0, 1);
    EXPECT_EQ(of(r_), (Reported{3, aErrNone}));
    powerdelivery_getPowerDataObject(id(), &r_, 1, 0, 1, 3);
    EXPECT_EQ(of(r_), (Reported{static_cast<std::int32_t>(0x8004B12Cu), aErrNone}));
    powerdelivery_getConnectionState(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{3, aErrNone}));

    std::uint32_t objects[8] = {};
    powerdelivery_getPowerDataObjectList(id(), &r_, 2, objects, 8);
    EXPECT_EQ(of(r_), (Reported{3, aErrNone}));
    EXPECT_EQ(objects[0], 0x0801912Cu);
    EXPECT_EQ(objects[2], 0x8004B12Cu);

    powerdelivery_setPowerDataObject(id(), &r_, 0, 1, 2, 0x0002D0C8u);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(stored(kPowerDeliveryCommand, kPdPowerDataObject, 0, pdAttributes(0, 1, 2)), u32(0x0002D0C8u));

    // A selector beyond its field is refused before anything is sent.
    const std::size_t before = rig_.sim.packetCount();
    powerdelivery_getPowerDataObject(id(), &r_, 0, 4, 1, 1);
    EXPECT_EQ(of(r_), (Reported{0, aErrParam}));
    EXPECT_TRUE(rig_.sentSince(before).empty());

    std::uint8_t attributes = 0;
    powerdelivery_packDataObjectAttributes(id(), &r_, 0, &attributes, 1, 2, 3);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(attributes, 0x63);
    std::uint8_t partner = 9;
    std::uint8_t role = 9;
    powerdelivery_unpackDataObjectAttributes(id(), &r_, 0, 0x63, &partner, &role);
    EXPECT_EQ(of(r_), (Reported{3, aErrNone}));
    EXPECT_EQ(partner, 1);
    EXPECT_EQ(role, 2);
}

TEST_F(EndToEnd, UsbSystemFunctions)
{
    using namespace morvsim;
    usbsystem_getEnabledList(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{static_cast<std::int32_t>(0x8000000Fu), aErrNone}));
    usbsystem_getEnumerationDelay(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{250, aErrNone}));

    std::uint32_t modes[8] = {};
    usbsystem_getModeList(id(), &r_, 0, modes, 8);
    EXPECT_EQ(of(r_), (Reported{4, aErrNone}));
    EXPECT_EQ(modes[2], 0x80000003u);
    EXPECT_EQ(modes[3], 4u);

    const std::uint32_t config[] = {9, 10, 0xA000000B};
    usbsystem_setPowerBehaviorConfig(id(), &r_, 0, config, 3);
    EXPECT_EQ(of(r_), (Reported{0, aErrNone}));
    EXPECT_EQ(buffer(kUsbSystemCommand, kUsbSysPowerBehaviorConfig, 0), words({9, 10, 0xA000000B}));
    std::uint32_t back[3] = {};
    usbsystem_getPowerBehaviorConfig(id(), &r_, 0, back, 3);
    EXPECT_EQ(of(r_), (Reported{3, aErrNone}));
    EXPECT_EQ(back[2], 0xA000000Bu);

    // Four words do not fit in two: the library reports the overflow.
    std::uint32_t small[2] = {};
    usbsystem_getStateList(id(), &r_, 0, small, 2);
    EXPECT_EQ(r_.error, aErrMemory);
}

TEST_F(EndToEnd, WordListWithATornTailCountsWholeElements)
{
    using namespace morvsim;
    rig_.change([](SimModule& m) {
        m.entities[bufferKey(kUsbSystemCommand, kUsbSysStateList, 0)] = {0, 0, 0, 5, 0, 0, 0, 6, 1, 2};
    });
    std::uint32_t states[4] = {};
    usbsystem_getStateList(id(), &r_, 0, states, 4);
    EXPECT_EQ(of(r_), (Reported{2, aErrSize}));
    EXPECT_EQ(states[0], 5u);
    EXPECT_EQ(states[1], 6u);
}

TEST_F(EndToEnd, SilentModuleTimesOutAndDisconnectedModuleIsRefused)
{
    morvsim::Faults silent;
    silent.silent = true;
    rig_.sim.setFaults(silent);
    usb_getHubMode(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrTimeout}));

    rig_.sim.setFaults(morvsim::Faults());
    ASSERT_EQ(rig_.module->disconnect(), aErrNone);
    port_getVbusVoltage(id(), &r_, 0);
    EXPECT_EQ(of(r_), (Reported{0, aErrConnection}));
}

// A C caller cancels (pthread_cancel) a thread that waits in a call for a
// module that does not answer: the thread ends as cancelled, the process goes
// on, and the next call on the same link works (nothing stays locked).
struct BlockedCall {
    const std::uint32_t* id;
    Result result;
};

void* callSerialNumber(void* arg)
{
    auto* call = static_cast<BlockedCall*>(arg);
    system_getSerialNumber(call->id, &call->result, 0);
    return nullptr;
}

int cancelBlockedCaller(HubRig& rig)
{
    alarm(30);  // a hang ends the child
    morvsim::Faults silent;
    silent.silent = true;
    rig.sim.setFaults(silent);
    const std::size_t mark = rig.sim.packetCount();
    BlockedCall call{&rig.id, {-7, -7}};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, callSerialNumber, &call) != 0)
        return 1;
    if (!rig.sim.waitForPacket([](const SimPacket& p) { return p.address == kHubAddress; }, Millis(5000), mark))
        return 2;
    pthread_cancel(thread);
    void* ended = nullptr;
    if (pthread_join(thread, &ended) != 0 || ended != PTHREAD_CANCELED)
        return 3;
    rig.sim.setFaults(morvsim::Faults());
    Result after{-7, -7};
    system_getSerialNumber(&rig.id, &after, 0);
    if (result_getError(&after) != aErrNone || static_cast<std::uint32_t>(result_getValue(&after)) != kHubSerial)
        return 4;
    return 0;
}

TEST_F(EndToEnd, CancellingAThreadBlockedInACallLeavesTheProcessRunning)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(cancelBlockedCaller(rig_)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
