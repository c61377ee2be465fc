// USB hub functions: one per USBClass method.
#include "morvwrappers.h"

#include "USBClass.h"
#include "WrapperPattern.h"

using Zorventa::Morvasset::USBClass;

extern "C" {

void usb_setPortEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setPortEnable, port);
}

void usb_setPortDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setPortDisable, port);
}

void usb_setDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setDataEnable, port);
}

void usb_setDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setDataDisable, port);
}

void usb_setHiSpeedDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setHiSpeedDataEnable, port);
}

void usb_setHiSpeedDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setHiSpeedDataDisable, port);
}

void usb_setSuperSpeedDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setSuperSpeedDataEnable, port);
}

void usb_setSuperSpeedDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setSuperSpeedDataDisable, port);
}

void usb_setPowerEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setPowerEnable, port);
}

void usb_setPowerDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::setPowerDisable, port);
}

void usb_clearPortErrorStatus(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::set(id, result, index, &USBClass::clearPortErrorStatus, port);
}

void usb_setUpstreamMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode)
{
    wrap::set(id, result, index, &USBClass::setUpstreamMode, mode);
}

void usb_setUpstreamBoostMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode)
{
    wrap::set(id, result, index, &USBClass::setUpstreamBoostMode, mode);
}

void usb_setDownstreamBoostMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode)
{
    wrap::set(id, result, index, &USBClass::setDownstreamBoostMode, mode);
}

void usb_setHubMode(const uint32_t* id, Result* result, int32_t index, uint32_t mode)
{
    wrap::set(id, result, index, &USBClass::setHubMode, mode);
}

void usb_setEnumerationDelay(const uint32_t* id, Result* result, int32_t index, uint32_t delay)
{
    wrap::set(id, result, index, &USBClass::setEnumerationDelay, delay);
}

void usb_getHubMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getHubMode);
}

void usb_getEnumerationDelay(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getEnumerationDelay);
}

void usb_getUpstreamMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getUpstreamMode);
}

void usb_getUpstreamState(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getUpstreamState);
}

void usb_getUpstreamBoostMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getUpstreamBoostMode);
}

void usb_getDownstreamBoostMode(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &USBClass::getDownstreamBoostMode);
}

void usb_getPortCurrent(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortCurrent, port);
}

void usb_getPortVoltage(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortVoltage, port);
}

void usb_getCC1Current(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC1Current, port);
}

void usb_getCC2Current(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC2Current, port);
}

void usb_getCC1Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC1Voltage, port);
}

void usb_getCC2Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC2Voltage, port);
}

void usb_getSBU1Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getSBU1Voltage, port);
}

void usb_getSBU2Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getSBU2Voltage, port);
}

void usb_getPortCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortCurrentLimit, port);
}

void usb_getPortMode(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortMode, port);
}

void usb_getPortState(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortState, port);
}

void usb_getPortError(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getPortError, port);
}

void usb_getAltModeConfig(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getAltModeConfig, port);
}

void usb_getDownstreamDataSpeed(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getDownstreamDataSpeed, port);
}

void usb_getConnectMode(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getConnectMode, port);
}

void usb_getCC1Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC1Enable, port);
}

void usb_getCC2Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCC2Enable, port);
}

void usb_getSBUEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getSBUEnable, port);
}

void usb_getCableFlip(const uint32_t* id, Result* result, int32_t index, uint8_t port)
{
    wrap::get(id, result, index, &USBClass::getCableFlip, port);
}

void usb_setPortCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint32_t value)
{
    wrap::set(id, result, index, &USBClass::setPortCurrentLimit, port, value);
}

void usb_setPortMode(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint32_t value)
{
    wrap::set(id, result, index, &USBClass::setPortMode, port, value);
}

void usb_setAltModeConfig(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint32_t value)
{
    wrap::set(id, result, index, &USBClass::setAltModeConfig, port, value);
}

void usb_setConnectMode(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value)
{
    wrap::set(id, result, index, &USBClass::setConnectMode, port, value);
}

void usb_setCC1Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value)
{
    wrap::set(id, result, index, &USBClass::setCC1Enable, port, value);
}

void usb_setCC2Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value)
{
    wrap::set(id, result, index, &USBClass::setCC2Enable, port, value);
}

void usb_setSBUEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value)
{
    wrap::set(id, result, index, &USBClass::setSBUEnable, port, value);
}

void usb_setCableFlip(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value)
{
    wrap::set(id, result, index, &USBClass::setCableFlip, port, value);
}

}  // extern "C"
