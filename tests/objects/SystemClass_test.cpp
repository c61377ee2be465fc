// SystemClass against the simulated system entity: one table covers every
// method (its request bytes and what it decodes or makes the module store).
#include "ObjectTestRig.h"

#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "SystemClass.h"

namespace {

using namespace objtest;
using morvsim::bufferKey;
using morvsim::entityKey;

constexpr std::uint8_t kSys = 3;

std::string hex(const std::uint8_t* bytes, std::size_t n)
{
    std::string out;
    char part[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(part, sizeof(part), "%02X", bytes[i]);
        out += part;
    }
    return out;
}

// Values that differ from option to option, so a method reading the wrong
// option cannot pass.
morvsim::SystemValues distinctValues()
{
    morvsim::SystemValues v;
    v.router = 0x0C;
    v.heartbeatInterval = 0x21;
    v.led = 1;
    v.bootSlot = 2;
    v.version = 0x02050007;
    v.inputVoltage = 5123456;
    v.hardwareOffset = 3;
    v.baseAddress = 0x10;
    v.softwareOffset = 5;
    v.routerAddressSetting = 0x0E;
    v.inputCurrent = 654321;
    v.uptime = 86400;
    v.maximumTemperature = 61000000;
    v.unregulatedVoltage = -12000;
    v.unregulatedCurrent = 1500001;
    v.temperature = -10;  // FF FF FF F6
    v.minimumTemperature = -20000000;
    v.inputPowerSource = 6;
    v.inputPowerBehavior = 7;
    v.inputPowerBehaviorConfig = {1, 0, 0, 0, 2, 0, 0, 0};
    v.name = "Bench hub";
    v.powerLimit = 45000000;
    v.powerLimitMax = 90000000;
    v.powerLimitState = 0x101;
    v.linkInterface = 9;
    v.hardwareVersion = 0x00030002;
    v.errors = 0x44;
    v.ledMaxBrightness = 0xB0;
    v.build = 0x00ABCDEF;
    v.protocolFeatures = 0x1F;
    return v;
}

class SystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig_.sim.withModule(kRouterAddress, [](SimModule& m) { morvsim::installSystemEntity(m, distinctValues()); });
        module_ = rig_.connect();
        ASSERT_EQ(system_.init(module_.get(), 0), aErrNone);
    }

    SimModule simModule() const { return rig_.sim.module(kRouterAddress); }
    std::string stored(std::uint8_t option) const
    {
        SimModule m = simModule();
        auto it = m.entities.find(entityKey(kSys, option, 0));
        if (it == m.entities.end())
            it = m.entities.find(bufferKey(kSys, option, 0));
        return it == m.entities.end() ? "absent" : hex(it->second.data(), it->second.size());
    }

    SimRig rig_;
    std::unique_ptr<Module> module_;
    SystemClass system_;
};

template <typename T>
std::function<aErr(SystemClass&, std::string*)> getter(aErr (SystemClass::*method)(T*))
{
    return [method](SystemClass& s, std::string* out) {
        T value{};
        aErr err = (s.*method)(&value);
        *out = std::to_string(static_cast<long long>(value));
        return err;
    };
}

TEST_F(SystemTest, EveryMethodSendsItsRequestAndDecodesItsValue)
{
    struct Case {
        const char* name;
        std::function<aErr(SystemClass&, std::string*)> call;
        Bytes request;
        // A get: the decoded value. A set or call: the module's value afterwards
        // (its bytes in hex), or the number of calls it counted.
        std::string expected;
        std::function<std::string()> observe = {};
    };
    const auto storedOf = [this](std::uint8_t option) { return [this, option] { return stored(option); }; };
    const auto callsOf = [this](std::uint8_t option) {
        return [this, option] { return std::to_string(morvsim::systemCalls(simModule(), option)); };
    };
    auto set8 = [](aErr (SystemClass::*method)(std::uint8_t), std::uint8_t value) {
        return [method, value](SystemClass& s, std::string*) { return (s.*method)(value); };
    };
    auto call = [](aErr (SystemClass::*method)()) {
        return [method](SystemClass& s, std::string*) { return (s.*method)(); };
    };
    const std::uint32_t config[3] = {0x01020304, 0x0A0B0C0D, 7};
    const std::uint8_t* configBytes = reinterpret_cast<const std::uint8_t*>(config);
    Bytes configRequest{kSys, 0x9F, 0x20};
    configRequest.insert(configRequest.end(), configBytes, configBytes + sizeof(config));
    configRequest.push_back(0x00);

    const Case cases[] = {
        {"getModule", getter(&SystemClass::getModule), {kSys, 0x41, 0x20}, "4"},
        {"getRouter", getter(&SystemClass::getRouter), {kSys, 0x42, 0x20}, "12"},
        {"setRouter", set8(&SystemClass::setRouter, 0x22), {kSys, 0x82, 0x20, 0x22}, "22", storedOf(2)},
        {"getHBInterval", getter(&SystemClass::getHBInterval), {kSys, 0x43, 0x20}, "33"},
        {"setHBInterval", set8(&SystemClass::setHBInterval, 50), {kSys, 0x83, 0x20, 50}, "32", storedOf(3)},
        {"getLED", getter(&SystemClass::getLED), {kSys, 0x44, 0x20}, "1"},
        {"setLED", set8(&SystemClass::setLED, 5), {kSys, 0x84, 0x20, 1}, "01", storedOf(4)},
        {"getBootSlot", getter(&SystemClass::getBootSlot), {kSys, 0x46, 0x20}, "2"},
        {"setBootSlot", set8(&SystemClass::setBootSlot, 1), {kSys, 0x86, 0x20, 1}, "01", storedOf(6)},
        {"getVersion", getter(&SystemClass::getVersion), {kSys, 0x47, 0x20}, std::to_string(0x02050007)},
        {"getModel", getter(&SystemClass::getModel), {kSys, 0x48, 0x20}, std::to_string(kRouterModel)},
        {"getSerialNumber", getter(&SystemClass::getSerialNumber), {kSys, 0x49, 0x20}, std::to_string(kRouterSerial)},
        {"save", call(&SystemClass::save), {kSys, 0x8A, 0x20}, "1", callsOf(10)},
        {"reset", call(&SystemClass::reset), {kSys, 0x8B, 0x20}, "1", callsOf(11)},
        {"getInputVoltage", getter(&SystemClass::getInputVoltage), {kSys, 0x4C, 0x20}, "5123456"},
        {"getModuleHardwareOffset", getter(&SystemClass::getModuleHardwareOffset), {kSys, 0x4D, 0x20}, "3"},
        {"getModuleBaseAddress", getter(&SystemClass::getModuleBaseAddress), {kSys, 0x4E, 0x20}, "16"},
        {"getModuleSoftwareOffset", getter(&SystemClass::getModuleSoftwareOffset), {kSys, 0x4F, 0x20}, "5"},
        {"setModuleSoftwareOffset", set8(&SystemClass::setModuleSoftwareOffset, 8), {kSys, 0x8F, 0x20, 8}, "08",
         storedOf(15)},
        {"getRouterAddressSetting", getter(&SystemClass::getRouterAddressSetting), {kSys, 0x50, 0x20}, "14"},
        {"routeToMe", set8(&SystemClass::routeToMe, 1), {kSys, 0x94, 0x20, 1}, "04", storedOf(2)},
        {"getInputCurrent", getter(&SystemClass::getInputCurrent), {kSys, 0x55, 0x20}, "654321"},
        {"getUptime", getter(&SystemClass::getUptime), {kSys, 0x56, 0x20}, "86400"},
        {"getMaximumTemperature", getter(&SystemClass::getMaximumTemperature), {kSys, 0x57, 0x20}, "61000000"},
        {"logEvents", call(&SystemClass::logEvents), {kSys, 0x98, 0x20}, "1", callsOf(24)},
        {"getUnregulatedVoltage", getter(&SystemClass::getUnregulatedVoltage), {kSys, 0x59, 0x20}, "-12000"},
        {"getUnregulatedCurrent", getter(&SystemClass::getUnregulatedCurrent), {kSys, 0x5A, 0x20}, "1500001"},
        {"getTemperature", getter(&SystemClass::getTemperature), {kSys, 0x5B, 0x20}, "-10"},
        {"getMinimumTemperature", getter(&SystemClass::getMinimumTemperature), {kSys, 0x5C, 0x20}, "-20000000"},
        {"getInputPowerSource", getter(&SystemClass::getInputPowerSource), {kSys, 0x5D, 0x20}, "6"},
        {"getInputPowerBehavior", getter(&SystemClass::getInputPowerBehavior), {kSys, 0x5E, 0x20}, "7"},
        {"setInputPowerBehavior", set8(&SystemClass::setInputPowerBehavior, 3), {kSys, 0x9E, 0x20, 3}, "03",
         storedOf(30)},
        {"getInputPowerBehaviorConfig",
         [](SystemClass& s, std::string* out) {
             std::uint32_t values[4] = {};
             std::size_t count = 0;
             aErr err = s.getInputPowerBehaviorConfig(values, 4, &count);
             *out = std::to_string(count) + ":" + std::to_string(values[0]) + "," + std::to_string(values[1]);
             return err;
         },
         {kSys, 0x5F, 0x20}, "2:1,2"},
        {"setInputPowerBehaviorConfig",
         [&config](SystemClass& s, std::string*) { return s.setInputPowerBehaviorConfig(config, 3); }, configRequest,
         hex(configBytes, sizeof(config)), storedOf(31)},
        {"getName",
         [](SystemClass& s, std::string* out) {
             std::uint8_t name[64] = {};
             std::size_t count = 0;
             aErr err = s.getName(name, sizeof(name), &count);
             *out = std::string(reinterpret_cast<const char*>(name), count);
             return err;
         },
         {kSys, 0x60, 0x20}, "Bench hub"},
        {"setName",
         [](SystemClass& s, std::string*) {
             const char* name = "hub-7";
             return s.setName(reinterpret_cast<const std::uint8_t*>(name), 5);
         },
         {kSys, 0xA0, 0x20, 'h', 'u', 'b', '-', '7', 0x00}, hex(reinterpret_cast<const std::uint8_t*>("hub-7"), 5),
         storedOf(32)},
        {"getPowerLimit", getter(&SystemClass::getPowerLimit), {kSys, 0x61, 0x20}, "45000000"},
        {"getPowerLimitMax", getter(&SystemClass::getPowerLimitMax), {kSys, 0x62, 0x20}, "90000000"},
        {"setPowerLimitMax", [](SystemClass& s, std::string*) { return s.setPowerLimitMax(0x05F5E100); },
         {kSys, 0xA2, 0x20, 0x05, 0xF5, 0xE1, 0x00}, "05F5E100", storedOf(34)},
        {"getPowerLimitState", getter(&SystemClass::getPowerLimitState), {kSys, 0x63, 0x20}, "257"},
        {"resetEntityToFactoryDefaults", call(&SystemClass::resetEntityToFactoryDefaults), {kSys, 0xA4, 0x20}, "1",
         callsOf(36)},
        {"resetDeviceToFactoryDefaults", call(&SystemClass::resetDeviceToFactoryDefaults), {kSys, 0xA5, 0x20}, "1",
         callsOf(37)},
        {"getLinkInterface", getter(&SystemClass::getLinkInterface), {kSys, 0x66, 0x20}, "9"},
        {"setLinkInterface", set8(&SystemClass::setLinkInterface, 2), {kSys, 0xA6, 0x20, 2}, "02", storedOf(38)},
        {"getHardwareVersion", getter(&SystemClass::getHardwareVersion), {kSys, 0x68, 0x20}, std::to_string(0x00030002)},
        {"getErrors", getter(&SystemClass::getErrors), {kSys, 0x69, 0x20}, "68"},
        {"getLEDMaxBrightness", getter(&SystemClass::getLEDMaxBrightness), {kSys, 0x6A, 0x20}, "176"},
        {"setLEDMaxBrightness", set8(&SystemClass::setLEDMaxBrightness, 0x40), {kSys, 0xAA, 0x20, 0x40}, "40",
         storedOf(42)},
        {"getBuild", getter(&SystemClass::getBuild), {kSys, 0x6B, 0x20}, std::to_string(0x00ABCDEF)},
        {"getProtocolFeatures", getter(&SystemClass::getProtocolFeatures), {kSys, 0x6D, 0x20}, "31"},
    };
    std::set<std::string> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        names.insert(c.name);
        const std::size_t mark = rig_.mark();
        std::string decoded;
        ASSERT_EQ(c.call(system_, &decoded), aErrNone);
        std::vector<Bytes> sent = rig_.sentSince(mark);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.request);
        EXPECT_EQ(c.observe ? c.observe() : decoded, c.expected);
    }
    EXPECT_EQ(names.size(), 50u) << "one row for each method";
}

TEST_F(SystemTest, RouteToMeOffRestoresTheRouterSetting)
{
    ASSERT_EQ(system_.routeToMe(1), aErrNone);
    std::uint8_t router = 0;
    ASSERT_EQ(system_.getRouter(&router), aErrNone);
    EXPECT_EQ(router, kRouterAddress);
    ASSERT_EQ(system_.routeToMe(0), aErrNone);
    ASSERT_EQ(system_.getRouter(&router), aErrNone);
    EXPECT_EQ(router, 0x0E);
}

TEST_F(SystemTest, PowerBehaviourConfigCounts)
{
    std::uint32_t values[4] = {};
    std::size_t count = 0;
    // Ten bytes are no whole number of words.
    rig_.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities[bufferKey(kSys, 31, 0)] = Bytes(10, 1); });
    EXPECT_EQ(system_.getInputPowerBehaviorConfig(values, 4, &count), aErrMemory);
    EXPECT_EQ(count, 10u) << "left in bytes";
    // More words than the caller has room for.
    rig_.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities[bufferKey(kSys, 31, 0)] = Bytes(20, 1); });
    EXPECT_EQ(system_.getInputPowerBehaviorConfig(values, 4, &count), aErrMemory);
    EXPECT_EQ(system_.getInputPowerBehaviorConfig(nullptr, 4, &count), aErrParam);
    EXPECT_EQ(system_.getInputPowerBehaviorConfig(values, 0, &count), aErrParam);
    EXPECT_EQ(system_.setInputPowerBehaviorConfig(nullptr, 2), aErrParam);
}

TEST_F(SystemTest, RefusedAccessAndUnboundEntity)
{
    // The module refuses a set of a read-only option and a get of a set-only one.
    const std::size_t mark = rig_.mark();
    std::uint8_t byte = 0;
    EntityClass& base = system_;
    EXPECT_EQ(base.setUEI32(9, 1), aErrInvalidOption);
    EXPECT_EQ(base.getUEI8(20, &byte), aErrInvalidOption);
    EXPECT_EQ(rig_.sentSince(mark).size(), 2u);

    SystemClass unbound;
    std::uint32_t serial = 0;
    EXPECT_EQ(unbound.getSerialNumber(&serial), aErrResource);
    EXPECT_EQ(unbound.save(), aErrResource);
    EXPECT_EQ(system_.getSerialNumber(nullptr), aErrParam);
    std::int32_t temperature = 0;
    EXPECT_EQ(system_.getTemperature(nullptr), aErrParam);
    EXPECT_EQ(unbound.getTemperature(&temperature), aErrResource);
}

}  // namespace
