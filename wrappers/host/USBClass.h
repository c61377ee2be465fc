// USBClass: the USB hub entity of a device (entity command 18). A port
// selector travels as the sub-index, while the enable, disable and clear
// methods send their port as the value; option codes are listed in morvwrappers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class Module;

class USBClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 18;

    USBClass() = default;
    ~USBClass() override = default;

    aErr init(Module* module, std::uint8_t index);

    aErr setPortEnable(std::uint8_t port);
    aErr setPortDisable(std::uint8_t port);
    aErr setDataEnable(std::uint8_t port);
    aErr setDataDisable(std::uint8_t port);
    aErr setHiSpeedDataEnable(std::uint8_t port);
    aErr setHiSpeedDataDisable(std::uint8_t port);
    aErr setSuperSpeedDataEnable(std::uint8_t port);
    aErr setSuperSpeedDataDisable(std::uint8_t port);
    aErr setPowerEnable(std::uint8_t port);
    aErr setPowerDisable(std::uint8_t port);
    aErr clearPortErrorStatus(std::uint8_t port);
    aErr setUpstreamMode(std::uint8_t mode);
    aErr setUpstreamBoostMode(std::uint8_t mode);
    aErr setDownstreamBoostMode(std::uint8_t mode);
    aErr setHubMode(std::uint32_t mode);
    aErr setEnumerationDelay(std::uint32_t delay);
    aErr getHubMode(std::uint32_t* value);
    aErr getEnumerationDelay(std::uint32_t* value);
    aErr getUpstreamMode(std::uint8_t* value);
    aErr getUpstreamState(std::uint8_t* value);
    aErr getUpstreamBoostMode(std::uint8_t* value);
    aErr getDownstreamBoostMode(std::uint8_t* value);
    aErr getPortCurrent(std::uint8_t port, std::int32_t* value);
    aErr getPortVoltage(std::uint8_t port, std::int32_t* value);
    aErr getCC1Current(std::uint8_t port, std::int32_t* value);
    aErr getCC2Current(std::uint8_t port, std::int32_t* value);
    aErr getCC1Voltage(std::uint8_t port, std::int32_t* value);
    aErr getCC2Voltage(std::uint8_t port, std::int32_t* value);
    aErr getSBU1Voltage(std::uint8_t port, std::int32_t* value);
    aErr getSBU2Voltage(std::uint8_t port, std::int32_t* value);
    aErr getPortCurrentLimit(std::uint8_t port, std::uint32_t* value);
    aErr getPortMode(std::uint8_t port, std::uint32_t* value);
    aErr getPortState(std::uint8_t port, std::uint32_t* value);
    aErr getPortError(std::uint8_t port, std::uint32_t* value);
    aErr getAltModeConfig(std::uint8_t port, std::uint32_t* value);
    aErr getDownstreamDataSpeed(std::uint8_t port, std::uint8_t* value);
    aErr getConnectMode(std::uint8_t port, std::uint8_t* value);
    aErr getCC1Enable(std::uint8_t port, std::uint8_t* value);
    aErr getCC2Enable(std::uint8_t port, std::uint8_t* value);
    aErr getSBUEnable(std::uint8_t port, std::uint8_t* value);
    aErr getCableFlip(std::uint8_t port, std::uint8_t* value);
    aErr setPortCurrentLimit(std::uint8_t port, std::uint32_t value);
    aErr setPortMode(std::uint8_t port, std::uint32_t value);
    aErr setAltModeConfig(std::uint8_t port, std::uint32_t value);
    aErr setConnectMode(std::uint8_t port, std::uint8_t value);
    aErr setCC1Enable(std::uint8_t port, std::uint8_t value);
    aErr setCC2Enable(std::uint8_t port, std::uint8_t value);
    aErr setSBUEnable(std::uint8_t port, std::uint8_t value);
    aErr setCableFlip(std::uint8_t port, std::uint8_t value);
};

}  // namespace Morvasset
}  // namespace Zorventa
