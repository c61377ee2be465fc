#include "USBClass.h"

#include "EntityValues.h"

namespace Zorventa {
namespace Morvasset {

namespace {

enum Option : std::uint8_t {
    kPortEnable = 1,
    kPortDisable = 2,
    kDataEnable = 3,
    kDataDisable = 4,
    kHiSpeedDataEnable = 5,
    kHiSpeedDataDisable = 6,
    kSuperSpeedDataEnable = 7,
    kSuperSpeedDataDisable = 8,
    kPowerEnable = 9,
    kPowerDisable = 10,
    kClearPortErrorStatus = 11,
    kUpstreamMode = 12,
    kUpstreamBoostMode = 13,
    kDownstreamBoostMode = 14,
    kHubMode = 15,
    kEnumerationDelay = 16,
    kUpstreamState = 17,
    kPortCurrent = 18,
    kPortVoltage = 19,
    kCC1Current = 20,
    kCC2Current = 21,
    kCC1Voltage = 22,
    kCC2Voltage = 23,
    kSBU1Voltage = 24,
    kSBU2Voltage = 25,
    kPortCurrentLimit = 26,
    kPortMode = 27,
    kPortState = 28,
    kPortError = 29,
    kAltModeConfig = 30,
    kDownstreamDataSpeed = 31,
    kConnectMode = 32,
    kCC1Enable = 33,
    kCC2Enable = 34,
    kSBUEnable = 35,
    kCableFlip = 36,
};

}  // namespace

aErr USBClass::init(Module* module, std::uint8_t index)
{
    return EntityClass::init(module, kCommand, index);
}

aErr USBClass::setPortEnable(std::uint8_t port)
{
    return setUEI8(kPortEnable, port);
}

aErr USBClass::setPortDisable(std::uint8_t port)
{
    return setUEI8(kPortDisable, port);
}

aErr USBClass::setDataEnable(std::uint8_t port)
{
    return setUEI8(kDataEnable, port);
}

aErr USBClass::setDataDisable(std::uint8_t port)
{
    return setUEI8(kDataDisable, port);
}

aErr USBClass::setHiSpeedDataEnable(std::uint8_t port)
{
    return setUEI8(kHiSpeedDataEnable, port);
}

aErr USBClass::setHiSpeedDataDisable(std::uint8_t port)
{
    return setUEI8(kHiSpeedDataDisable, port);
}

aErr USBClass::setSuperSpeedDataEnable(std::uint8_t port)
{
    return setUEI8(kSuperSpeedDataEnable, port);
}

aErr USBClass::setSuperSpeedDataDisable(std::uint8_t port)
{
    return setUEI8(kSuperSpeedDataDisable, port);
}

aErr USBClass::setPowerEnable(std::uint8_t port)
{
    return setUEI8(kPowerEnable, port);
}

aErr USBClass::setPowerDisable(std::uint8_t port)
{
    return setUEI8(kPowerDisable, port);
}

aErr USBClass::clearPortErrorStatus(std::uint8_t port)
{
    return setUEI8(kClearPortErrorStatus, port);
}

aErr USBClass::setUpstreamMode(std::uint8_t mode)
{
    return setUEI8(kUpstreamMode, mode);
}

aErr USBClass::setUpstreamBoostMode(std::uint8_t mode)
{
    return setUEI8(kUpstreamBoostMode, mode);
}

aErr USBClass::setDownstreamBoostMode(std::uint8_t mode)
{
    return setUEI8(kDownstreamBoostMode, mode);
}

aErr USBClass::setHubMode(std::uint32_t mode)
{
    return setUEI32(kHubMode, mode);
}

aErr USBClass::setEnumerationDelay(std::uint32_t delay)
{
    return setUEI32(kEnumerationDelay, delay);
}

aErr USBClass::getHubMode(std::uint32_t* value)
{
    return getUEI32(kHubMode, value);
}

aErr USBClass::getEnumerationDelay(std::uint32_t* value)
{
    return getUEI32(kEnumerationDelay, value);
}

aErr USBClass::getUpstreamMode(std::uint8_t* value)
{
    return getUEI8(kUpstreamMode, value);
}

aErr USBClass::getUpstreamState(std::uint8_t* value)
{
    return getUEI8(kUpstreamState, value);
}

aErr USBClass::getUpstreamBoostMode(std::uint8_t* value)
{
    return getUEI8(kUpstreamBoostMode, value);
}

aErr USBClass::getDownstreamBoostMode(std::uint8_t* value)
{
    return getUEI8(kDownstreamBoostMode, value);
}

aErr USBClass::getPortCurrent(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kPortCurrent, port, value);
}

aErr USBClass::getPortVoltage(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kPortVoltage, port, value);
}

aErr USBClass::getCC1Current(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kCC1Current, port, value);
}

aErr USBClass::getCC2Current(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kCC2Current, port, value);
}

aErr USBClass::getCC1Voltage(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kCC1Voltage, port, value);
}

aErr USBClass::getCC2Voltage(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kCC2Voltage, port, value);
}

aErr USBClass::getSBU1Voltage(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kSBU1Voltage, port, value);
}

aErr USBClass::getSBU2Voltage(std::uint8_t port, std::int32_t* value)
{
    return getSignedUEI32(*this, kSBU2Voltage, port, value);
}

aErr USBClass::getPortCurrentLimit(std::uint8_t port, std::uint32_t* value)
{
    return getUEI32(kPortCurrentLimit, port, value);
}

aErr USBClass::getPortMode(std::uint8_t port, std::uint32_t* value)
{
    return getUEI32(kPortMode, port, value);
}

aErr USBClass::getPortState(std::uint8_t port, std::uint32_t* value)
{
    return getUEI32(kPortState, port, value);
}

aErr USBClass::getPortError(std::uint8_t port, std::uint32_t* value)
{
    return getUEI32(kPortError, port, value);
}

aErr USBClass::getAltModeConfig(std::uint8_t port, std::uint32_t* value)
{
    return getUEI32(kAltModeConfig, port, value);
}

aErr USBClass::getDownstreamDataSpeed(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kDownstreamDataSpeed, port, value);
}

aErr USBClass::getConnectMode(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kConnectMode, port, value);
}

aErr USBClass::getCC1Enable(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kCC1Enable, port, value);
}

aErr USBClass::getCC2Enable(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kCC2Enable, port, value);
}

aErr USBClass::getSBUEnable(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kSBUEnable, port, value);
}

aErr USBClass::getCableFlip(std::uint8_t port, std::uint8_t* value)
{
    return getUEI8(kCableFlip, port, value);
}

aErr USBClass::setPortCurrentLimit(std::uint8_t port, std::uint32_t value)
{
    return setUEI32(kPortCurrentLimit, port, value);
}

aErr USBClass::setPortMode(std::uint8_t port, std::uint32_t value)
{
    return setUEI32(kPortMode, port, value);
}

aErr USBClass::setAltModeConfig(std::uint8_t port, std::uint32_t value)
{
    return setUEI32(kAltModeConfig, port, value);
}

aErr USBClass::setConnectMode(std::uint8_t port, std::uint8_t value)
{
    return setUEI8(kConnectMode, port, value);
}

aErr USBClass::setCC1Enable(std::uint8_t port, std::uint8_t value)
{
    return setUEI8(kCC1Enable, port, value);
}

aErr USBClass::setCC2Enable(std::uint8_t port, std::uint8_t value)
{
    return setUEI8(kCC2Enable, port, value);
}

aErr USBClass::setSBUEnable(std::uint8_t port, std::uint8_t value)
{
    return setUEI8(kSBUEnable, port, value);
}

aErr USBClass::setCableFlip(std::uint8_t port, std::uint8_t value)
{
    return setUEI8(kCableFlip, port, value);
}

}  // namespace Morvasset
}  // namespace Zorventa
