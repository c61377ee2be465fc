// PortClass: a port entity of a device (entity command 35). Option codes
// and value types are listed in morvwrappers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class Module;

class PortClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 35;

    PortClass() = default;
    ~PortClass() override = default;

    aErr init(Module* module, std::uint8_t index);

    aErr getVbusVoltage(std::int32_t* value);
    aErr getVbusCurrent(std::int32_t* value);
    aErr getVconnVoltage(std::int32_t* value);
    aErr getVconnCurrent(std::int32_t* value);
    aErr getAllocatedPower(std::int32_t* value);
    aErr getVbusAccumulatedPower(std::int32_t* value);
    aErr getVconnAccumulatedPower(std::int32_t* value);
    aErr getVoltageSetpoint(std::uint32_t* value);
    aErr getState(std::uint32_t* value);
    aErr getMode(std::uint32_t* value);
    aErr getErrors(std::uint32_t* value);
    aErr getCurrentLimit(std::uint32_t* value);
    aErr getAvailablePower(std::uint32_t* value);
    aErr getPowerLimit(std::uint32_t* value);
    aErr getCC1State(std::uint16_t* value);
    aErr getCC2State(std::uint16_t* value);
    aErr getPowerMode(std::uint8_t* value);
    aErr getEnabled(std::uint8_t* value);
    aErr getDataEnabled(std::uint8_t* value);
    aErr getDataHSEnabled(std::uint8_t* value);
    aErr getDataHS1Enabled(std::uint8_t* value);
    aErr getDataHS2Enabled(std::uint8_t* value);
    aErr getDataSSEnabled(std::uint8_t* value);
    aErr getDataSS1Enabled(std::uint8_t* value);
    aErr getDataSS2Enabled(std::uint8_t* value);
    aErr getPowerEnabled(std::uint8_t* value);
    aErr getDataRole(std::uint8_t* value);
    aErr getVconnEnabled(std::uint8_t* value);
    aErr getVconn1Enabled(std::uint8_t* value);
    aErr getVconn2Enabled(std::uint8_t* value);
    aErr getCCEnabled(std::uint8_t* value);
    aErr getCC1Enabled(std::uint8_t* value);
    aErr getCC2Enabled(std::uint8_t* value);
    aErr getDataSpeed(std::uint8_t* value);
    aErr getCurrentLimitMode(std::uint8_t* value);
    aErr getPowerLimitMode(std::uint8_t* value);
    aErr getCCCurrentLimit(std::uint8_t* value);
    aErr getDataHSRoutingBehavior(std::uint8_t* value);
    aErr getDataSSRoutingBehavior(std::uint8_t* value);
    aErr getHSBoost(std::uint8_t* value);
    aErr setPowerMode(std::uint8_t value);
    aErr setEnabled(std::uint8_t value);
    aErr setDataEnabled(std::uint8_t value);
    aErr setDataHSEnabled(std::uint8_t value);
    aErr setDataHS1Enabled(std::uint8_t value);
    aErr setDataHS2Enabled(std::uint8_t value);
    aErr setDataSSEnabled(std::uint8_t value);
    aErr setDataSS1Enabled(std::uint8_t value);
    aErr setDataSS2Enabled(std::uint8_t value);
    aErr setPowerEnabled(std::uint8_t value);
    aErr setVconnEnabled(std::uint8_t value);
    aErr setVconn1Enabled(std::uint8_t value);
    aErr setVconn2Enabled(std::uint8_t value);
    aErr setCCEnabled(std::uint8_t value);
    aErr setCC1Enabled(std::uint8_t value);
    aErr setCC2Enabled(std::uint8_t value);
    aErr setCurrentLimitMode(std::uint8_t value);
    aErr setPowerLimitMode(std::uint8_t value);
    aErr setCCCurrentLimit(std::uint8_t value);
    aErr setDataHSRoutingBehavior(std::uint8_t value);
    aErr setDataSSRoutingBehavior(std::uint8_t value);
    aErr setHSBoost(std::uint8_t value);
    aErr setVoltageSetpoint(std::uint32_t value);
    aErr setMode(std::uint32_t value);
    aErr setCurrentLimit(std::uint32_t value);
    aErr setPowerLimit(std::uint32_t value);
    aErr resetVbusAccumulatedPower();
    aErr resetVconnAccumulatedPower();
    aErr resetEntityToFactoryDefaults();
    aErr getName(std::uint8_t* buffer, std::size_t length, std::size_t* count);
    aErr setName(const std::uint8_t* buffer, std::size_t length);
};

}  // namespace Morvasset
}  // namespace Zorventa
