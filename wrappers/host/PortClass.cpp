#include "PortClass.h"

#include "EntityValues.h"

namespace Zorventa {
namespace Morvasset {

namespace {

enum Option : std::uint8_t {
    kVbusVoltage = 1,
    kVbusCurrent = 2,
    kVconnVoltage = 3,
    kVconnCurrent = 4,
    kAllocatedPower = 5,
    kVbusAccumulatedPower = 6,
    kVconnAccumulatedPower = 7,
    kVoltageSetpoint = 8,
    kState = 9,
    kMode = 10,
    kErrors = 11,
    kCurrentLimit = 12,
    kAvailablePower = 13,
    kPowerLimit = 14,
    kCC1State = 15,
    kCC2State = 16,
    kPowerMode = 17,
    kEnabled = 18,
    kDataEnabled = 19,
    kDataHSEnabled = 20,
    kDataHS1Enabled = 21,
    kDataHS2Enabled = 22,
    kDataSSEnabled = 23,
    kDataSS1Enabled = 24,
    kDataSS2Enabled = 25,
    kPowerEnabled = 26,
    kDataRole = 27,
    kVconnEnabled = 28,
    kVconn1Enabled = 29,
    kVconn2Enabled = 30,
    kCCEnabled = 31,
    kCC1Enabled = 32,
    kCC2Enabled = 33,
    kDataSpeed = 34,
    kCurrentLimitMode = 35,
    kPowerLimitMode = 36,
    kCCCurrentLimit = 37,
    kDataHSRoutingBehavior = 38,
    kDataSSRoutingBehavior = 39,
    kHSBoost = 40,
    kResetVbusAccumulatedPower = 41,
    kResetVconnAccumulatedPower = 42,
    kResetEntityToFactoryDefaults = 43,
    kName = 44,
};

}  // namespace

aErr PortClass::init(Module* module, std::uint8_t index)
{
    return EntityClass::init(module, kCommand, index);
}

aErr PortClass::getVbusVoltage(std::int32_t* value)
{
    return getSignedUEI32(*this, kVbusVoltage, value);
}

aErr PortClass::getVbusCurrent(std::int32_t* value)
{
    return getSignedUEI32(*this, kVbusCurrent, value);
}

aErr PortClass::getVconnVoltage(std::int32_t* value)
{
    return getSignedUEI32(*this, kVconnVoltage, value);
}

aErr PortClass::getVconnCurrent(std::int32_t* value)
{
    return getSignedUEI32(*this, kVconnCurrent, value);
}

aErr PortClass::getAllocatedPower(std::int32_t* value)
{
    return getSignedUEI32(*this, kAllocatedPower, value);
}

aErr PortClass::getVbusAccumulatedPower(std::int32_t* value)
{
    return getSignedUEI32(*this, kVbusAccumulatedPower, value);
}

aErr PortClass::getVconnAccumulatedPower(std::int32_t* value)
{
    return getSignedUEI32(*this, kVconnAccumulatedPower, value);
}

aErr PortClass::getVoltageSetpoint(std::uint32_t* value)
{
    return getUEI32(kVoltageSetpoint, value);
}

aErr PortClass::getState(std::uint32_t* value)
{
    return getUEI32(kState, value);
}

aErr PortClass::getMode(std::uint32_t* value)
{
    return getUEI32(kMode, value);
}

aErr PortClass::getErrors(std::uint32_t* value)
{
    return getUEI32(kErrors, value);
}

aErr PortClass::getCurrentLimit(std::uint32_t* value)
{
    return getUEI32(kCurrentLimit, value);
}

aErr PortClass::getAvailablePower(std::uint32_t* value)
{
    return getUEI32(kAvailablePower, value);
}

aErr PortClass::getPowerLimit(std::uint32_t* value)
{
    return getUEI32(kPowerLimit, value);
}

aErr PortClass::getCC1State(std::uint16_t* value)
{
    return getUEI16(kCC1State, value);
}

aErr PortClass::getCC2State(std::uint16_t* value)
{
    return getUEI16(kCC2State, value);
}

aErr PortClass::getPowerMode(std::uint8_t* value)
{
    return getUEI8(kPowerMode, value);
}

aErr PortClass::getEnabled(std::uint8_t* value)
{
    return getUEI8(kEnabled, value);
}

aErr PortClass::getDataEnabled(std::uint8_t* value)
{
    return getUEI8(kDataEnabled, value);
}

aErr PortClass::getDataHSEnabled(std::uint8_t* value)
{
    return getUEI8(kDataHSEnabled, value);
}

aErr PortClass::getDataHS1Enabled(std::uint8_t* value)
{
    return getUEI8(kDataHS1Enabled, value);
}

aErr PortClass::getDataHS2Enabled(std::uint8_t* value)
{
    return getUEI8(kDataHS2Enabled, value);
}

aErr PortClass::getDataSSEnabled(std::uint8_t* value)
{
    return getUEI8(kDataSSEnabled, value);
}

aErr PortClass::getDataSS1Enabled(std::uint8_t* value)
{
    return getUEI8(kDataSS1Enabled, value);
}

aErr PortClass::getDataSS2Enabled(std::uint8_t* value)
{
    return getUEI8(kDataSS2Enabled, value);
}

aErr PortClass::getPowerEnabled(std::uint8_t* value)
{
    return getUEI8(kPowerEnabled, value);
}

aErr PortClass::getDataRole(std::uint8_t* value)
{
    return getUEI8(kDataRole, value);
}

aErr PortClass::getVconnEnabled(std::uint8_t* value)
{
    return getUEI8(kVconnEnabled, value);
}

aErr PortClass::getVconn1Enabled(std::uint8_t* value)
{
    return getUEI8(kVconn1Enabled, value);
}

aErr PortClass::getVconn2Enabled(std::uint8_t* value)
{
    return getUEI8(kVconn2Enabled, value);
}

aErr PortClass::getCCEnabled(std::uint8_t* value)
{
    return getUEI8(kCCEnabled, value);
}

aErr PortClass::getCC1Enabled(std::uint8_t* value)
{
    return getUEI8(kCC1Enabled, value);
}

aErr PortClass::getCC2Enabled(std::uint8_t* value)
{
    return getUEI8(kCC2Enabled, value);
}

aErr PortClass::getDataSpeed(std::uint8_t* value)
{
    return getUEI8(kDataSpeed, value);
}

aErr PortClass::getCurrentLimitMode(std::uint8_t* value)
{
    return getUEI8(kCurrentLimitMode, value);
}

aErr PortClass::getPowerLimitMode(std::uint8_t* value)
{
    return getUEI8(kPowerLimitMode, value);
}

aErr PortClass::getCCCurrentLimit(std::uint8_t* value)
{
    return getUEI8(kCCCurrentLimit, value);
}

aErr PortClass::getDataHSRoutingBehavior(std::uint8_t* value)
{
    return getUEI8(kDataHSRoutingBehavior, value);
}

aErr PortClass::getDataSSRoutingBehavior(std::uint8_t* value)
{
    return getUEI8(kDataSSRoutingBehavior, value);
}

aErr PortClass::getHSBoost(std::uint8_t* value)
{
    return getUEI8(kHSBoost, value);
}

aErr PortClass::setPowerMode(std::uint8_t value)
{
    return setUEI8(kPowerMode, value);
}

aErr PortClass::setEnabled(std::uint8_t value)
{
    return setUEI8(kEnabled, value);
}

aErr PortClass::setDataEnabled(std::uint8_t value)
{
    return setUEI8(kDataEnabled, value);
}

aErr PortClass::setDataHSEnabled(std::uint8_t value)
{
    return setUEI8(kDataHSEnabled, value);
}

aErr PortClass::setDataHS1Enabled(std::uint8_t value)
{
    return setUEI8(kDataHS1Enabled, value);
}

aErr PortClass::setDataHS2Enabled(std::uint8_t value)
{
    return setUEI8(kDataHS2Enabled, value);
}

aErr PortClass::setDataSSEnabled(std::uint8_t value)
{
    return setUEI8(kDataSSEnabled, value);
}

aErr PortClass::setDataSS1Enabled(std::uint8_t value)
{
    return setUEI8(kDataSS1Enabled, value);
}

aErr PortClass::setDataSS2Enabled(std::uint8_t value)
{
    return setUEI8(kDataSS2Enabled, value);
}

aErr PortClass::setPowerEnabled(std::uint8_t value)
{
    return setUEI8(kPowerEnabled, value);
}

aErr PortClass::setVconnEnabled(std::uint8_t value)
{
    return setUEI8(kVconnEnabled, value);
}

aErr PortClass::setVconn1Enabled(std::uint8_t value)
{
    return setUEI8(kVconn1Enabled, value);
}

aErr PortClass::setVconn2Enabled(std::uint8_t value)
{
    return setUEI8(kVconn2Enabled, value);
}

aErr PortClass::setCCEnabled(std::uint8_t value)
{
    return setUEI8(kCCEnabled, value);
}

aErr PortClass::setCC1Enabled(std::uint8_t value)
{
    return setUEI8(kCC1Enabled, value);
}

aErr PortClass::setCC2Enabled(std::uint8_t value)
{
    return setUEI8(kCC2Enabled, value);
}

aErr PortClass::setCurrentLimitMode(std::uint8_t value)
{
    return setUEI8(kCurrentLimitMode, value);
}

aErr PortClass::setPowerLimitMode(std::uint8_t value)
{
    return setUEI8(kPowerLimitMode, value);
}

aErr PortClass::setCCCurrentLimit(std::uint8_t value)
{
    return setUEI8(kCCCurrentLimit, value);
}

aErr PortClass::setDataHSRoutingBehavior(std::uint8_t value)
{
    return setUEI8(kDataHSRoutingBehavior, value);
}

aErr PortClass::setDataSSRoutingBehavior(std::uint8_t value)
{
    return setUEI8(kDataSSRoutingBehavior, value);
}

aErr PortClass::setHSBoost(std::uint8_t value)
{
    return setUEI8(kHSBoost, value);
}

aErr PortClass::setVoltageSetpoint(std::uint32_t value)
{
    return setUEI32(kVoltageSetpoint, value);
}

aErr PortClass::setMode(std::uint32_t value)
{
    return setUEI32(kMode, value);
}

aErr PortClass::setCurrentLimit(std::uint32_t value)
{
    return setUEI32(kCurrentLimit, value);
}

aErr PortClass::setPowerLimit(std::uint32_t value)
{
    return setUEI32(kPowerLimit, value);
}

aErr PortClass::resetVbusAccumulatedPower()
{
    return callUEI(kResetVbusAccumulatedPower);
}

aErr PortClass::resetVconnAccumulatedPower()
{
    return callUEI(kResetVconnAccumulatedPower);
}

aErr PortClass::resetEntityToFactoryDefaults()
{
    return callUEI(kResetEntityToFactoryDefaults);
}

aErr PortClass::getName(std::uint8_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIBytes(kName, buffer, length, count);
}

aErr PortClass::setName(const std::uint8_t* buffer, std::size_t length)
{
    return setUEIBytes(kName, buffer, length);
}

}  // namespace Morvasset
}  // namespace Zorventa
