// Power-delivery functions: one per PowerDeliveryClass method.
#include "morvwrappers.h"

#include "PowerDeliveryClass.h"
#include "WrapperPattern.h"

using Zorventa::Morvasset::PowerDeliveryClass;

extern "C" {

void powerdelivery_getConnectionState(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getConnectionState);
}

void powerdelivery_getNumberOfPowerDataObjects(const uint32_t* id, Result* result, int32_t index, uint8_t partner,
                                               uint8_t powerRole)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getNumberOfPowerDataObjects, partner, powerRole);
}

void powerdelivery_getPowerDataObject(const uint32_t* id, Result* result, int32_t index, uint8_t partner,
                                      uint8_t powerRole, uint8_t ruleIndex)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPowerDataObject, partner, powerRole, ruleIndex);
}

void powerdelivery_setPowerDataObject(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole,
                                      uint8_t ruleIndex, uint32_t pdo)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setPowerDataObject, powerRole, ruleIndex, pdo);
}

void powerdelivery_resetPowerDataObjectToDefault(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole,
                                                 uint8_t ruleIndex)
{
    wrap::set(id, result, index, &PowerDeliveryClass::resetPowerDataObjectToDefault, powerRole, ruleIndex);
}

void powerdelivery_getPowerDataObjectList(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                          uint32_t length)
{
    wrap::getList(id, result, index, &PowerDeliveryClass::getPowerDataObjectList, buffer, length);
}

void powerdelivery_getPowerDataObjectEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole,
                                             uint8_t ruleIndex)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPowerDataObjectEnabled, powerRole, ruleIndex);
}

void powerdelivery_setPowerDataObjectEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole,
                                             uint8_t ruleIndex, uint8_t enabled)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setPowerDataObjectEnabled, powerRole, ruleIndex, enabled);
}

void powerdelivery_getPowerDataObjectEnabledList(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPowerDataObjectEnabledList, powerRole);
}

void powerdelivery_getRequestDataObject(const uint32_t* id, Result* result, int32_t index, uint8_t partner)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getRequestDataObject, partner);
}

void powerdelivery_setRequestDataObject(const uint32_t* id, Result* result, int32_t index, uint32_t rdo)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setRequestDataObject, rdo);
}

void powerdelivery_getPowerRole(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPowerRole);
}

void powerdelivery_setPowerRole(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setPowerRole, powerRole);
}

void powerdelivery_getPowerRolePreferred(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPowerRolePreferred);
}

void powerdelivery_setPowerRolePreferred(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setPowerRolePreferred, powerRole);
}

void powerdelivery_getCableVoltageMax(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getCableVoltageMax);
}

void powerdelivery_getCableCurrentMax(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getCableCurrentMax);
}

void powerdelivery_getCableSpeedMax(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getCableSpeedMax);
}

void powerdelivery_getCableType(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getCableType);
}

void powerdelivery_getCableOrientation(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getCableOrientation);
}

void powerdelivery_request(const uint32_t* id, Result* result, int32_t index, uint8_t request)
{
    wrap::set(id, result, index, &PowerDeliveryClass::request, request);
}

void powerdelivery_requestStatus(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::requestStatus);
}

void powerdelivery_getOverride(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getOverride);
}

void powerdelivery_setOverride(const uint32_t* id, Result* result, int32_t index, uint32_t overrides)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setOverride, overrides);
}

void powerdelivery_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index)
{
    wrap::set(id, result, index, &PowerDeliveryClass::resetEntityToFactoryDefaults);
}

void powerdelivery_getFlagMode(const uint32_t* id, Result* result, int32_t index, uint8_t flag)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getFlagMode, flag);
}

void powerdelivery_setFlagMode(const uint32_t* id, Result* result, int32_t index, uint8_t flag, uint8_t mode)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setFlagMode, flag, mode);
}

void powerdelivery_getPeakCurrentConfiguration(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getPeakCurrentConfiguration);
}

void powerdelivery_setPeakCurrentConfiguration(const uint32_t* id, Result* result, int32_t index, uint8_t configuration)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setPeakCurrentConfiguration, configuration);
}

void powerdelivery_getFastRoleSwapCurrent(const uint32_t* id, Result* result, int32_t index)
{
    wrap::get(id, result, index, &PowerDeliveryClass::getFastRoleSwapCurrent);
}

void powerdelivery_setFastRoleSwapCurrent(const uint32_t* id, Result* result, int32_t index, uint8_t current)
{
    wrap::set(id, result, index, &PowerDeliveryClass::setFastRoleSwapCurrent, current);
}

void powerdelivery_packDataObjectAttributes(const uint32_t* id, Result* result, int32_t index, uint8_t* attributes,
                                            uint8_t partner, uint8_t powerRole, uint8_t ruleIndex)
{
    wrap::run<PowerDeliveryClass>(id, result, index, [&](PowerDeliveryClass&, std::int32_t&) {
        return PowerDeliveryClass::packDataObjectAttributes(attributes, partner, powerRole, ruleIndex);
    });
}

void powerdelivery_unpackDataObjectAttributes(const uint32_t* id, Result* result, int32_t index, uint8_t attributes,
                                              uint8_t* partner, uint8_t* powerRole)
{
    wrap::run<PowerDeliveryClass>(id, result, index, [&](PowerDeliveryClass&, std::int32_t& value) {
        std::uint8_t ruleIndex = 0;
        const aErr err = PowerDeliveryClass::unpackDataObjectAttributes(attributes, partner, powerRole, &ruleIndex);
        value = wrap::reported(ruleIndex);
        return err;
    });
}

}  // extern "C"
