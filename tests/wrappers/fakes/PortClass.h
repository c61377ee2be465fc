// Recording stand-in for PortClass: every method records its call and
// answers as the current script says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FakeEntity.h"

namespace Zorventa {
namespace Morvasset {

class PortClass : public fake::FakeEntity {
public:
    PortClass() : FakeEntity("PortClass") {}

    aErr init(Module* module, std::uint8_t index) { return recordInit(module, index); }

    aErr getVbusVoltage(std::int32_t* value) { return recordGet("getVbusVoltage", {}, value); }
    aErr getVbusCurrent(std::int32_t* value) { return recordGet("getVbusCurrent", {}, value); }
    aErr getVconnVoltage(std::int32_t* value) { return recordGet("getVconnVoltage", {}, value); }
    aErr getVconnCurrent(std::int32_t* value) { return recordGet("getVconnCurrent", {}, value); }
    aErr getAllocatedPower(std::int32_t* value) { return recordGet("getAllocatedPower", {}, value); }
    aErr getVbusAccumulatedPower(std::int32_t* value) { return recordGet("getVbusAccumulatedPower", {}, value); }
    aErr getVconnAccumulatedPower(std::int32_t* value) { return recordGet("getVconnAccumulatedPower", {}, value); }
    aErr getVoltageSetpoint(std::uint32_t* value) { return recordGet("getVoltageSetpoint", {}, value); }
    aErr getState(std::uint32_t* value) { return recordGet("getState", {}, value); }
    aErr getMode(std::uint32_t* value) { return recordGet("getMode", {}, value); }
    aErr getErrors(std::uint32_t* value) { return recordGet("getErrors", {}, value); }
    aErr getCurrentLimit(std::uint32_t* value) { return recordGet("getCurrentLimit", {}, value); }
    aErr getAvailablePower(std::uint32_t* value) { return recordGet("getAvailablePower", {}, value); }
    aErr getPowerLimit(std::uint32_t* value) { return recordGet("getPowerLimit", {}, value); }
    aErr getCC1State(std::uint16_t* value) { return recordGet("getCC1State", {}, value); }
    aErr getCC2State(std::uint16_t* value) { return recordGet("getCC2State", {}, value); }
    aErr getPowerMode(std::uint8_t* value) { return recordGet("getPowerMode", {}, value); }
    aErr getEnabled(std::uint8_t* value) { return recordGet("getEnabled", {}, value); }
    aErr getDataEnabled(std::uint8_t* value) { return recordGet("getDataEnabled", {}, value); }
    aErr getDataHSEnabled(std::uint8_t* value) { return recordGet("getDataHSEnabled", {}, value); }
    aErr getDataHS1Enabled(std::uint8_t* value) { return recordGet("getDataHS1Enabled", {}, value); }
    aErr getDataHS2Enabled(std::uint8_t* value) { return recordGet("getDataHS2Enabled", {}, value); }
    aErr getDataSSEnabled(std::uint8_t* value) { return recordGet("getDataSSEnabled", {}, value); }
    aErr getDataSS1Enabled(std::uint8_t* value) { return recordGet("getDataSS1Enabled", {}, value); }
    aErr getDataSS2Enabled(std::uint8_t* value) { return recordGet("getDataSS2Enabled", {}, value); }
    aErr getPowerEnabled(std::uint8_t* value) { return recordGet("getPowerEnabled", {}, value); }
    aErr getDataRole(std::uint8_t* value) { return recordGet("getDataRole", {}, value); }
    aErr getVconnEnabled(std::uint8_t* value) { return recordGet("getVconnEnabled", {}, value); }
    aErr getVconn1Enabled(std::uint8_t* value) { return recordGet("getVconn1Enabled", {}, value); }
    aErr getVconn2Enabled(std::uint8_t* value) { return recordGet("getVconn2Enabled", {}, value); }
    aErr getCCEnabled(std::uint8_t* value) { return recordGet("getCCEnabled", {}, value); }
    aErr getCC1Enabled(std::uint8_t* value) { return recordGet("getCC1Enabled", {}, value); }
    aErr getCC2Enabled(std::uint8_t* value) { return recordGet("getCC2Enabled", {}, value); }
    aErr getDataSpeed(std::uint8_t* value) { return recordGet("getDataSpeed", {}, value); }
    aErr getCurrentLimitMode(std::uint8_t* value) { return recordGet("getCurrentLimitMode", {}, value); }
    aErr getPowerLimitMode(std::uint8_t* value) { return recordGet("getPowerLimitMode", {}, value); }
    aErr getCCCurrentLimit(std::uint8_t* value) { return recordGet("getCCCurrentLimit", {}, value); }
    aErr getDataHSRoutingBehavior(std::uint8_t* value) { return recordGet("getDataHSRoutingBehavior", {}, value); }
    aErr getDataSSRoutingBehavior(std::uint8_t* value) { return recordGet("getDataSSRoutingBehavior", {}, value); }
    aErr getHSBoost(std::uint8_t* value) { return recordGet("getHSBoost", {}, value); }
    aErr setPowerMode(std::uint8_t value) { return record("setPowerMode", {arg(value)}); }
    aErr setEnabled(std::uint8_t value) { return record("setEnabled", {arg(value)}); }
    aErr setDataEnabled(std::uint8_t value) { return record("setDataEnabled", {arg(value)}); }
    aErr setDataHSEnabled(std::uint8_t value) { return record("setDataHSEnabled", {arg(value)}); }
    aErr setDataHS1Enabled(std::uint8_t value) { return record("setDataHS1Enabled", {arg(value)}); }
    aErr setDataHS2Enabled(std::uint8_t value) { return record("setDataHS2Enabled", {arg(value)}); }
    aErr setDataSSEnabled(std::uint8_t value) { return record("setDataSSEnabled", {arg(value)}); }
    aErr setDataSS1Enabled(std::uint8_t value) { return record("setDataSS1Enabled", {arg(value)}); }
    aErr setDataSS2Enabled(std::uint8_t value) { return record("setDataSS2Enabled", {arg(value)}); }
    aErr setPowerEnabled(std::uint8_t value) { return record("setPowerEnabled", {arg(value)}); }
    aErr setVconnEnabled(std::uint8_t value) { return record("setVconnEnabled", {arg(value)}); }
    aErr setVconn1Enabled(std::uint8_t value) { return record("setVconn1Enabled", {arg(value)}); }
    aErr setVconn2Enabled(std::uint8_t value) { return record("setVconn2Enabled", {arg(value)}); }
    aErr setCCEnabled(std::uint8_t value) { return record("setCCEnabled", {arg(value)}); }
    aErr setCC1Enabled(std::uint8_t value) { return record("setCC1Enabled", {arg(value)}); }
    aErr setCC2Enabled(std::uint8_t value) { return record("setCC2Enabled", {arg(value)}); }
    aErr setCurrentLimitMode(std::uint8_t value) { return record("setCurrentLimitMode", {arg(value)}); }
    aErr setPowerLimitMode(std::uint8_t value) { return record("setPowerLimitMode", {arg(value)}); }
    aErr setCCCurrentLimit(std::uint8_t value) { return record("setCCCurrentLimit", {arg(value)}); }
    aErr setDataHSRoutingBehavior(std::uint8_t value) { return record("setDataHSRoutingBehavior", {arg(value)}); }
    aErr setDataSSRoutingBehavior(std::uint8_t value) { return record("setDataSSRoutingBehavior", {arg(value)}); }
    aErr setHSBoost(std::uint8_t value) { return record("setHSBoost", {arg(value)}); }
    aErr setVoltageSetpoint(std::uint32_t value) { return record("setVoltageSetpoint", {arg(value)}); }
    aErr setMode(std::uint32_t value) { return record("setMode", {arg(value)}); }
    aErr setCurrentLimit(std::uint32_t value) { return record("setCurrentLimit", {arg(value)}); }
    aErr setPowerLimit(std::uint32_t value) { return record("setPowerLimit", {arg(value)}); }
    aErr resetVbusAccumulatedPower() { return record("resetVbusAccumulatedPower", {}); }
    aErr resetVconnAccumulatedPower() { return record("resetVconnAccumulatedPower", {}); }
    aErr resetEntityToFactoryDefaults() { return record("resetEntityToFactoryDefaults", {}); }
    aErr getName(std::uint8_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getName", {arg(buffer), arg(length)}, count);
    }
    aErr setName(const std::uint8_t* buffer, std::size_t length)
    {
        return record("setName", {arg(buffer), arg(length)});
    }
};

}  // namespace Morvasset
}  // namespace Zorventa
