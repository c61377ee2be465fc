// System functions: one per SystemClass method.
#include "morvwrappers.h"

#include "SystemClass.h"
#include "WrapperPattern.h"

using Zorventa::Morvasset::SystemClass;

extern "C" {

void system_getModule(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getModule);
}

void system_getModuleBaseAddress(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getModuleBaseAddress);
}

void system_getRouter(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getRouter);
}

void system_getHBInterval(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getHBInterval);
}

void system_getLED(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getLED);
}

void system_getLEDMaxBrightness(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getLEDMaxBrightness);
}

void system_getBootSlot(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getBootSlot);
}

void system_getModel(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getModel);
}

void system_getModuleHardwareOffset(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getModuleHardwareOffset);
}

void system_getModuleSoftwareOffset(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getModuleSoftwareOffset);
}

void system_getRouterAddressSetting(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getRouterAddressSetting);
}

void system_getInputPowerSource(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getInputPowerSource);
}

void system_getInputPowerBehavior(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getInputPowerBehavior);
}

void system_getLinkInterface(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getLinkInterface);
}

void system_getVersion(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getVersion);
}

void system_getBuild(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getBuild);
}

void system_getHardwareVersion(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getHardwareVersion);
}

void system_getSerialNumber(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getSerialNumber);
}

void system_getUptime(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getUptime);
}

void system_getInputVoltage(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getInputVoltage);
}

void system_getInputCurrent(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getInputCurrent);
}

void system_getPowerLimit(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getPowerLimit);
}

void system_getPowerLimitMax(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getPowerLimitMax);
}

void system_getPowerLimitState(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getPowerLimitState);
}

void system_getErrors(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getErrors);
}

void system_getProtocolFeatures(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getProtocolFeatures);
}

void system_getTemperature(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getTemperature);
}

void system_getMinimumTemperature(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getMinimumTemperature);
}

void system_getMaximumTemperature(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getMaximumTemperature);
}

void system_getUnregulatedVoltage(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getUnregulatedVoltage);
}

void system_getUnregulatedCurrent(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &SystemClass::getUnregulatedCurrent);
}

void system_setRouter(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setRouter, value);
}

void system_setHBInterval(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setHBInterval, value);
}

void system_setLED(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setLED, value);
}

void system_setLEDMaxBrightness(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setLEDMaxBrightness, value);
}

void system_setBootSlot(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setBootSlot, value);
}

void system_setModuleSoftwareOffset(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setModuleSoftwareOffset, value);
}

void system_routeToMe(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::routeToMe, value);
}

void system_setInputPowerBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setInputPowerBehavior, value);
}

void system_setLinkInterface(const uint32_t* id, Result* result, int32_t index, uint8_t value)
{
    wrap::set(id, result, index, &SystemClass::setLinkInterface, value);
}

void system_setPowerLimitMax(const uint32_t* id, Result* result, int32_t index, uint32_t value)
{
    wrap::set(id, result, index, &SystemClass::setPowerLimitMax, value);
}

void system_save(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &SystemClass::save);
}

void system_reset(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &SystemClass::reset);
}

void system_logEvents(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &SystemClass::logEvents);
}

void system_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &SystemClass::resetEntityToFactoryDefaults);
}

void system_resetDeviceToFactoryDefaults(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &SystemClass::resetDeviceToFactoryDefaults);
}

void system_getInputPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                        uint32_t length)
{
    wrap::getList(id, result, index, &SystemClass::getInputPowerBehaviorConfig, buffer, length);
}

void system_getName(const uint32_t* id, Result* result, int32_t index, uint8_t* buffer, uint32_t length)
{
    wrap::getList(id, result, index, &SystemClass::getName, buffer, length);
}

void system_setInputPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index, const uint32_t* buffer,
                                        uint32_t length)
{
    wrap::setList(id, result, index, &SystemClass::setInputPowerBehaviorConfig, buffer, length);
}

void system_setName(const uint32_t* id, Result* result, int32_t index, const uint8_t* buffer, uint32_t length)
{
    wrap::setList(id, result, index, &SystemClass::setName, buffer, length);
}

}  // extern "C"
