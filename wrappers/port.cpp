// Port functions: one per PortClass method.
#include "morvwrappers.h"

#include "PortClass.h"
#include "WrapperPattern.h"

using Zorventa::Morvasset::PortClass;

extern "C" {

void port_getVbusVoltage(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVbusVoltage);
}

void port_getVbusCurrent(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVbusCurrent);
}

void port_getVconnVoltage(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconnVoltage);
}

void port_getVconnCurrent(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconnCurrent);
}

void port_getAllocatedPower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getAllocatedPower);
}

void port_getVbusAccumulatedPower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVbusAccumulatedPower);
}

void port_getVconnAccumulatedPower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconnAccumulatedPower);
}

void port_getVoltageSetpoint(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVoltageSetpoint);
}

void port_getState(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getState);
}

void port_getMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getMode);
}

void port_getErrors(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getErrors);
}

void port_getCurrentLimit(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCurrentLimit);
}

void port_getAvailablePower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getAvailablePower);
}

void port_getPowerLimit(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getPowerLimit);
}

void port_getCC1State(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCC1State);
}

void port_getCC2State(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCC2State);
}

void port_getPowerMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getPowerMode);
}

void port_getEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getEnabled);
}

void port_getDataEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataEnabled);
}

void port_getDataHSEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataHSEnabled);
}

void port_getDataHS1Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataHS1Enabled);
}

void port_getDataHS2Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataHS2Enabled);
}

void port_getDataSSEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataSSEnabled);
}

void port_getDataSS1Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataSS1Enabled);
}

void port_getDataSS2Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataSS2Enabled);
}

void port_getPowerEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getPowerEnabled);
}

void port_getDataRole(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataRole);
}

void port_getVconnEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconnEnabled);
}

void port_getVconn1Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconn1Enabled);
}

void port_getVconn2Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getVconn2Enabled);
}

void port_getCCEnabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCCEnabled);
}

void port_getCC1Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCC1Enabled);
}

void port_getCC2Enabled(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCC2Enabled);
}

void port_getDataSpeed(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataSpeed);
}

void port_getCurrentLimitMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCurrentLimitMode);
}

void port_getPowerLimitMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getPowerLimitMode);
}

void port_getCCCurrentLimit(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getCCCurrentLimit);
}

void port_getDataHSRoutingBehavior(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataHSRoutingBehavior);
}

void port_getDataSSRoutingBehavior(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getDataSSRoutingBehavior);
}

void port_getHSBoost(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PortClass::getHSBoost);
}

void port_setPowerMode(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setPowerMode, value);
}

void port_setEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setEnabled, value);
}

void port_setDataEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataEnabled, value);
}

void port_setDataHSEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataHSEnabled, value);
}

void port_setDataHS1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataHS1Enabled, value);
}

void port_setDataHS2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataHS2Enabled, value);
}

void port_setDataSSEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataSSEnabled, value);
}

void port_setDataSS1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataSS1Enabled, value);
}

void port_setDataSS2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataSS2Enabled, value);
}

void port_setPowerEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setPowerEnabled, value);
}

void port_setVconnEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setVconnEnabled, value);
}

void port_setVconn1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setVconn1Enabled, value);
}

void port_setVconn2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setVconn2Enabled, value);
}

void port_setCCEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setCCEnabled, value);
}

void port_setCC1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setCC1Enabled, value);
}

void port_setCC2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setCC2Enabled, value);
}

void port_setCurrentLimitMode(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setCurrentLimitMode, value);
}

void port_setPowerLimitMode(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setPowerLimitMode, value);
}

void port_setCCCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setCCCurrentLimit, value);
}

void port_setDataHSRoutingBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataHSRoutingBehavior, value);
}

void port_setDataSSRoutingBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setDataSSRoutingBehavior, value);
}

void port_setHSBoost(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &PortClass::setHSBoost, value);
}

void port_setVoltageSetpoint(const uint32_t* id, Result* result, int32_t index, uint32_t value)
{
    wrap::set(id, result, index, &PortClass::setVoltageSetpoint, value);
}

void port_setMode(const uint32_t* id, Result* result, int32_t index, uint32_t value)
{
    wrap::set(id, result, index, &PortClass::setMode, value);
}

void port_setCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint32_t value)
{
    wrap::set(id, result, index, &PortClass::setCurrentLimit, value);
}

void port_setPowerLimit(const uint32_t* id, Result* result, int32_t index, uint32_t value)
{
    wrap::set(id, result, index, &PortClass::setPowerLimit, value);
}

void port_resetVbusAccumulatedPower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &PortClass::resetVbusAccumulatedPower);
}

void port_resetVconnAccumulatedPower(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &PortClass::resetVconnAccumulatedPower);
}

void port_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &PortClass::resetEntityToFactoryDefaults);
}

void port_getName(const uint32_t* id, Result* result, int32_t index, uint8_t* buffer, uint32_t length)
{
    wrap::getList(id, result, index, &PortClass::getName, buffer, length);
}

void port_setName(const uint32_t* id, Result* result, int32_t index, const uint8_t* buffer, uint32_t length)
{
    wrap::setList(id, result, index, &PortClass::setName, buffer, length);
}

}  // extern "C"
