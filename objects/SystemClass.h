// SystemClass: the module's system entity (command 3): identity, version,
// routing, power and housekeeping options, one method per option access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class SystemClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 3;

    SystemClass() = default;
    ~SystemClass() override = default;

    aErr init(Module* module, std::uint8_t index);

    aErr getModule(std::uint8_t* address);
    aErr getRouter(std::uint8_t* address);
    aErr setRouter(std::uint8_t address);
    aErr getHBInterval(std::uint8_t* interval);
    aErr setHBInterval(std::uint8_t interval);
    aErr getLED(std::uint8_t* state);
    // Any non-zero state switches the LED on (sent as 1).
    aErr setLED(std::uint8_t state);
    aErr getBootSlot(std::uint8_t* slot);
    aErr setBootSlot(std::uint8_t slot);
    aErr getVersion(std::uint32_t* version);
    aErr getModel(std::uint8_t* model);
    aErr getSerialNumber(std::uint32_t* serialNumber);
    aErr save();
    aErr reset();
    aErr getInputVoltage(std::uint32_t* microvolts);
    aErr getModuleHardwareOffset(std::uint8_t* offset);
    aErr getModuleBaseAddress(std::uint8_t* address);
    aErr getModuleSoftwareOffset(std::uint8_t* offset);
    aErr setModuleSoftwareOffset(std::uint8_t offset);
    aErr getRouterAddressSetting(std::uint8_t* address);
    aErr routeToMe(std::uint8_t enable);
    aErr getInputCurrent(std::uint32_t* microamps);
    aErr getUptime(std::uint32_t* uptime);
    aErr getMaximumTemperature(std::int32_t* temperature);
    aErr logEvents();
    aErr getUnregulatedVoltage(std::int32_t* microvolts);
    aErr getUnregulatedCurrent(std::int32_t* microamps);
    aErr getTemperature(std::int32_t* temperature);
    aErr getMinimumTemperature(std::int32_t* temperature);
    aErr getInputPowerSource(std::uint8_t* source);
    aErr getInputPowerBehavior(std::uint8_t* behavior);
    aErr setInputPowerBehavior(std::uint8_t behavior);
    // The elements travel as the bytes of the u32 values in host memory order.
    aErr getInputPowerBehaviorConfig(std::uint32_t* values, std::size_t capacity, std::size_t* count);
    aErr setInputPowerBehaviorConfig(const std::uint32_t* values, std::size_t count);
    aErr getName(std::uint8_t* buffer, std::size_t capacity, std::size_t* count);
    aErr setName(const std::uint8_t* data, std::size_t length);
    aErr getPowerLimit(std::uint32_t* limit);
    aErr getPowerLimitMax(std::uint32_t* limit);
    aErr setPowerLimitMax(std::uint32_t limit);
    aErr getPowerLimitState(std::uint32_t* state);
    aErr resetEntityToFactoryDefaults();
    aErr resetDeviceToFactoryDefaults();
    aErr getLinkInterface(std::uint8_t* linkInterface);
    aErr setLinkInterface(std::uint8_t linkInterface);
    aErr getHardwareVersion(std::uint32_t* version);
    aErr getErrors(std::uint32_t* errors);
    aErr getLEDMaxBrightness(std::uint8_t* brightness);
    aErr setLEDMaxBrightness(std::uint8_t brightness);
    aErr getBuild(std::uint32_t* build);
    aErr getProtocolFeatures(std::uint32_t* features);

private:
    aErr getSigned(std::uint8_t option, std::int32_t* value);
};

}  // namespace Morvasset
}  // namespace Zorventa
