// Recording stand-in for USBClass: every method records its call and
// answers as the current script says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FakeEntity.h"

namespace Zorventa {
namespace Morvasset {

class USBClass : public fake::FakeEntity {
public:
    USBClass() : FakeEntity("USBClass") {}

    aErr init(Module* module, std::uint8_t index) { return recordInit(module, index); }

    aErr setPortEnable(std::uint8_t port) { return record("setPortEnable", {arg(port)}); }
    aErr setPortDisable(std::uint8_t port) { return record("setPortDisable", {arg(port)}); }
    aErr setDataEnable(std::uint8_t port) { return record("setDataEnable", {arg(port)}); }
    aErr setDataDisable(std::uint8_t port) { return record("setDataDisable", {arg(port)}); }
    aErr setHiSpeedDataEnable(std::uint8_t port) { return record("setHiSpeedDataEnable", {arg(port)}); }
    aErr setHiSpeedDataDisable(std::uint8_t port) { return record("setHiSpeedDataDisable", {arg(port)}); }
    aErr setSuperSpeedDataEnable(std::uint8_t port) { return record("setSuperSpeedDataEnable", {arg(port)}); }
    aErr setSuperSpeedDataDisable(std::uint8_t port) { return record("setSuperSpeedDataDisable", {arg(port)}); }
    aErr setPowerEnable(std::uint8_t port) { return record("setPowerEnable", {arg(port)}); }
    aErr setPowerDisable(std::uint8_t port) { return record("setPowerDisable", {arg(port)}); }
    aErr clearPortErrorStatus(std::uint8_t port) { return record("clearPortErrorStatus", {arg(port)}); }
    aErr setUpstreamMode(std::uint8_t mode) { return record("setUpstreamMode", {arg(mode)}); }
    aErr setUpstreamBoostMode(std::uint8_t mode) { return record("setUpstreamBoostMode", {arg(mode)}); }
    aErr setDownstreamBoostMode(std::uint8_t mode) { return record("setDownstreamBoostMode", {arg(mode)}); }
    aErr setHubMode(std::uint32_t mode) { return record("setHubMode", {arg(mode)}); }
    aErr setEnumerationDelay(std::uint32_t delay) { return record("setEnumerationDelay", {arg(delay)}); }
    aErr getHubMode(std::uint32_t* value) { return recordGet("getHubMode", {}, value); }
    aErr getEnumerationDelay(std::uint32_t* value) { return recordGet("getEnumerationDelay", {}, value); }
    aErr getUpstreamMode(std::uint8_t* value) { return recordGet("getUpstreamMode", {}, value); }
    aErr getUpstreamState(std::uint8_t* value) { return recordGet("getUpstreamState", {}, value); }
    aErr getUpstreamBoostMode(std::uint8_t* value) { return recordGet("getUpstreamBoostMode", {}, value); }
    aErr getDownstreamBoostMode(std::uint8_t* value) { return recordGet("getDownstreamBoostMode", {}, value); }
    aErr getPortCurrent(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getPortCurrent", {arg(port)}, value);
    }
    aErr getPortVoltage(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getPortVoltage", {arg(port)}, value);
    }
    aErr getCC1Current(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getCC1Current", {arg(port)}, value);
    }
    aErr getCC2Current(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getCC2Current", {arg(port)}, value);
    }
    aErr getCC1Voltage(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getCC1Voltage", {arg(port)}, value);
    }
    aErr getCC2Voltage(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getCC2Voltage", {arg(port)}, value);
    }
    aErr getSBU1Voltage(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getSBU1Voltage", {arg(port)}, value);
    }
    aErr getSBU2Voltage(std::uint8_t port, std::int32_t* value)
    {
        return recordGet("getSBU2Voltage", {arg(port)}, value);
    }
    aErr getPortCurrentLimit(std::uint8_t port, std::uint32_t* value)
    {
        return recordGet("getPortCurrentLimit", {arg(port)}, value);
    }
    aErr getPortMode(std::uint8_t port, std::uint32_t* value) { return recordGet("getPortMode", {arg(port)}, value); }
    aErr getPortState(std::uint8_t port, std::uint32_t* value) { return recordGet("getPortState", {arg(port)}, value); }
    aErr getPortError(std::uint8_t port, std::uint32_t* value) { return recordGet("getPortError", {arg(port)}, value); }
    aErr getAltModeConfig(std::uint8_t port, std::uint32_t* value)
    {
        return recordGet("getAltModeConfig", {arg(port)}, value);
    }
    aErr getDownstreamDataSpeed(std::uint8_t port, std::uint8_t* value)
    {
        return recordGet("getDownstreamDataSpeed", {arg(port)}, value);
    }
    aErr getConnectMode(std::uint8_t port, std::uint8_t* value)
    {
        return recordGet("getConnectMode", {arg(port)}, value);
    }
    aErr getCC1Enable(std::uint8_t port, std::uint8_t* value) { return recordGet("getCC1Enable", {arg(port)}, value); }
    aErr getCC2Enable(std::uint8_t port, std::uint8_t* value) { return recordGet("getCC2Enable", {arg(port)}, value); }
    aErr getSBUEnable(std::uint8_t port, std::uint8_t* value) { return recordGet("getSBUEnable", {arg(port)}, value); }
    aErr getCableFlip(std::uint8_t port, std::uint8_t* value) { return recordGet("getCableFlip", {arg(port)}, value); }
    aErr setPortCurrentLimit(std::uint8_t port, std::uint32_t value)
    {
        return record("setPortCurrentLimit", {arg(port), arg(value)});
    }
    aErr setPortMode(std::uint8_t port, std::uint32_t value) { return record("setPortMode", {arg(port), arg(value)}); }
    aErr setAltModeConfig(std::uint8_t port, std::uint32_t value)
    {
        return record("setAltModeConfig", {arg(port), arg(value)});
    }
    aErr setConnectMode(std::uint8_t port, std::uint8_t value)
    {
        return record("setConnectMode", {arg(port), arg(value)});
    }
    aErr setCC1Enable(std::uint8_t port, std::uint8_t value) { return record("setCC1Enable", {arg(port), arg(value)}); }
    aErr setCC2Enable(std::uint8_t port, std::uint8_t value) { return record("setCC2Enable", {arg(port), arg(value)}); }
    aErr setSBUEnable(std::uint8_t port, std::uint8_t value) { return record("setSBUEnable", {arg(port), arg(value)}); }
    aErr setCableFlip(std::uint8_t port, std::uint8_t value) { return record("setCableFlip", {arg(port), arg(value)}); }
};

}  // namespace Morvasset
}  // namespace Zorventa
