// Recording stand-in for SystemClass: every method records its call and
// answers as the current script says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FakeEntity.h"

namespace Zorventa {
namespace Morvasset {

class SystemClass : public fake::FakeEntity {
public:
    SystemClass() : FakeEntity("SystemClass") {}

    aErr init(Module* module, std::uint8_t index) { return recordInit(module, index); }

    aErr getModule(std::uint8_t* value) { return recordGet("getModule", {}, value); }
    aErr getModuleBaseAddress(std::uint8_t* value) { return recordGet("getModuleBaseAddress", {}, value); }
    aErr getRouter(std::uint8_t* value) { return recordGet("getRouter", {}, value); }
    aErr getHBInterval(std::uint8_t* value) { return recordGet("getHBInterval", {}, value); }
    aErr getLED(std::uint8_t* value) { return recordGet("getLED", {}, value); }
    aErr getLEDMaxBrightness(std::uint8_t* value) { return recordGet("getLEDMaxBrightness", {}, value); }
    aErr getBootSlot(std::uint8_t* value) { return recordGet("getBootSlot", {}, value); }
    aErr getModel(std::uint8_t* value) { return recordGet("getModel", {}, value); }
    aErr getModuleHardwareOffset(std::uint8_t* value) { return recordGet("getModuleHardwareOffset", {}, value); }
    aErr getModuleSoftwareOffset(std::uint8_t* value) { return recordGet("getModuleSoftwareOffset", {}, value); }
    aErr getRouterAddressSetting(std::uint8_t* value) { return recordGet("getRouterAddressSetting", {}, value); }
    aErr getInputPowerSource(std::uint8_t* value) { return recordGet("getInputPowerSource", {}, value); }
    aErr getInputPowerBehavior(std::uint8_t* value) { return recordGet("getInputPowerBehavior", {}, value); }
    aErr getLinkInterface(std::uint8_t* value) { return recordGet("getLinkInterface", {}, value); }
    aErr getVersion(std::uint32_t* value) { return recordGet("getVersion", {}, value); }
    aErr getBuild(std::uint32_t* value) { return recordGet("getBuild", {}, value); }
    aErr getHardwareVersion(std::uint32_t* value) { return recordGet("getHardwareVersion", {}, value); }
    aErr getSerialNumber(std::uint32_t* value) { return recordGet("getSerialNumber", {}, value); }
    aErr getUptime(std::uint32_t* value) { return recordGet("getUptime", {}, value); }
    aErr getInputVoltage(std::uint32_t* value) { return recordGet("getInputVoltage", {}, value); }
    aErr getInputCurrent(std::uint32_t* value) { return recordGet("getInputCurrent", {}, value); }
    aErr getPowerLimit(std::uint32_t* value) { return recordGet("getPowerLimit", {}, value); }
    aErr getPowerLimitMax(std::uint32_t* value) { return recordGet("getPowerLimitMax", {}, value); }
    aErr getPowerLimitState(std::uint32_t* value) { return recordGet("getPowerLimitState", {}, value); }
    aErr getErrors(std::uint32_t* value) { return recordGet("getErrors", {}, value); }
    aErr getProtocolFeatures(std::uint32_t* value) { return recordGet("getProtocolFeatures", {}, value); }
    aErr getTemperature(std::int32_t* value) { return recordGet("getTemperature", {}, value); }
    aErr getMinimumTemperature(std::int32_t* value) { return recordGet("getMinimumTemperature", {}, value); }
    aErr getMaximumTemperature(std::int32_t* value) { return recordGet("getMaximumTemperature", {}, value); }
    aErr getUnregulatedVoltage(std::int32_t* value) { return recordGet("getUnregulatedVoltage", {}, value); }
    aErr getUnregulatedCurrent(std::int32_t* value) { return recordGet("getUnregulatedCurrent", {}, value); }
    aErr setRouter(std::uint8_t value) { return record("setRouter", {arg(value)}); }
    aErr setHBInterval(std::uint8_t value) { return record("setHBInterval", {arg(value)}); }
    aErr setLED(std::uint8_t value) { return record("setLED", {arg(value)}); }
    aErr setLEDMaxBrightness(std::uint8_t value) { return record("setLEDMaxBrightness", {arg(value)}); }
    aErr setBootSlot(std::uint8_t value) { return record("setBootSlot", {arg(value)}); }
    aErr setModuleSoftwareOffset(std::uint8_t value) { return record("setModuleSoftwareOffset", {arg(value)}); }
    aErr routeToMe(std::uint8_t value) { return record("routeToMe", {arg(value)}); }
    aErr setInputPowerBehavior(std::uint8_t value) { return record("setInputPowerBehavior", {arg(value)}); }
    aErr setLinkInterface(std::uint8_t value) { return record("setLinkInterface", {arg(value)}); }
    aErr setPowerLimitMax(std::uint32_t value) { return record("setPowerLimitMax", {arg(value)}); }
    aErr save() { return record("save", {}); }
    aErr reset() { return record("reset", {}); }
    aErr logEvents() { return record("logEvents", {}); }
    aErr resetEntityToFactoryDefaults() { return record("resetEntityToFactoryDefaults", {}); }
    aErr resetDeviceToFactoryDefaults() { return record("resetDeviceToFactoryDefaults", {}); }
    aErr getInputPowerBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getInputPowerBehaviorConfig", {arg(buffer), arg(length)}, count);
    }
    aErr getName(std::uint8_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getName", {arg(buffer), arg(length)}, count);
    }
    aErr setInputPowerBehaviorConfig(const std::uint32_t* buffer, std::size_t length)
    {
        return record("setInputPowerBehaviorConfig", {arg(buffer), arg(length)});
    }
    aErr setName(const std::uint8_t* buffer, std::size_t length)
    {
        return record("setName", {arg(buffer), arg(length)});
    }
};

}  // namespace Morvasset
}  // namespace Zorventa
