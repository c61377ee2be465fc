// USB-system functions: one per USBSystemClass method.
#include "morvwrappers.h"

#include "USBSystemClass.h"
#include "WrapperPattern.h"

using Zorventa::Morvasset::USBSystemClass;

extern "C" {

void usbsystem_getUpstream(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getUpstream);
}

void usbsystem_setUpstream(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBSystemClass::setUpstream, port);
}

void usbsystem_getEnumerationDelay(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getEnumerationDelay);
}

void usbsystem_setEnumerationDelay(const uint32_t* id, Result* result, int32_t index, uint32_t delay)
{
    wrap::set(id, result, index, &USBSystemClass::setEnumerationDelay, delay);
}

void usbsystem_getDataRoleList(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getDataRoleList);
}

void usbsystem_getEnabledList(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getEnabledList);
}

void usbsystem_setEnabledList(const uint32_t* id, Result* result, int32_t index, uint32_t enabled)
{
    wrap::set(id, result, index, &USBSystemClass::setEnabledList, enabled);
}

void usbsystem_getModeList(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer, uint32_t length)
{
    wrap::getList(id, result, index, &USBSystemClass::getModeList, buffer, length);
}

void usbsystem_setModeList(const uint32_t* id, Result* result, int32_t index, const uint32_t* buffer, uint32_t length)
{
    wrap::setList(id, result, index, &USBSystemClass::setModeList, buffer, length);
}

void usbsystem_getStateList(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer, uint32_t length)
{
    wrap::getList(id, result, index, &USBSystemClass::getStateList, buffer, length);
}

void usbsystem_getPowerBehavior(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getPowerBehavior);
}

void usbsystem_setPowerBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t behavior)
{
    wrap::set(id, result, index, &USBSystemClass::setPowerBehavior, behavior);
}

void usbsystem_getPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                      uint32_t length)
{
    wrap::getList(id, result, index, &USBSystemClass::getPowerBehaviorConfig, buffer, length);
}

void usbsystem_setPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index, const uint32_t* buffer,
                                      uint32_t length)
{
    wrap::setList(id, result, index, &USBSystemClass::setPowerBehaviorConfig, buffer, length);
}

void usbsystem_getDataRoleBehavior(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getDataRoleBehavior);
}

void usbsystem_setDataRoleBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t behavior)
{
    wrap::set(id, result, index, &USBSystemClass::setDataRoleBehavior, behavior);
}

void usbsystem_getDataRoleBehaviorConfig(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                         uint32_t length)
{
    wrap::getList(id, result, index, &USBSystemClass::getDataRoleBehaviorConfig, buffer, length);
}

void usbsystem_setDataRoleBehaviorConfig(const uint32_t* id, Result* result, int32_t index, const uint32_t* buffer,
                                         uint32_t length)
{
    wrap::setList(id, result, index, &USBSystemClass::setDataRoleBehaviorConfig, buffer, length);
}

void usbsystem_getSelectorMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getSelectorMode);
}

void usbsystem_setSelectorMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode)
{
    wrap::set(id, result, index, &USBSystemClass::setSelectorMode, mode);
}

void usbsystem_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &USBSystemClass::resetEntityToFactoryDefaults);
}

void usbsystem_getUpstreamHS(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getUpstreamHS);
}

void usbsystem_setUpstreamHS(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBSystemClass::setUpstreamHS, port);
}

void usbsystem_getUpstreamSS(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getUpstreamSS);
}

void usbsystem_setUpstreamSS(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBSystemClass::setUpstreamSS, port);
}

void usbsystem_getOverride(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getOverride);
}

void usbsystem_setOverride(const uint32_t* id, Result* result, int32_t index, uint32_t overrides)
{
    wrap::set(id, result, index, &USBSystemClass::setOverride, overrides);
}

void usbsystem_setDataHSMaxDatarate(const uint32_t* id, Result* result, int32_t index, uint32_t datarate)
{
    wrap::set(id, result, index, &USBSystemClass::setDataHSMaxDatarate, datarate);
}

void usbsystem_getDataHSMaxDatarate(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getDataHSMaxDatarate);
}

void usbsystem_setDataSSMaxDatarate(const uint32_t* id, Result* result, int32_t index, uint32_t datarate)
{
    wrap::set(id, result, index, &USBSystemClass::setDataSSMaxDatarate, datarate);
}

void usbsystem_getDataSSMaxDatarate(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBSystemClass::getDataSSMaxDatarate);
}

}  // extern "C"
