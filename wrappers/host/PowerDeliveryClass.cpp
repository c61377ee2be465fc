#include "PowerDeliveryClass.h"

#include "EntityValues.h"

namespace Zorventa {
namespace Morvasset {

namespace {

enum Option : std::uint8_t {
    kConnectionState = 1,
    kNumberOfPowerDataObjects = 2,
    kPowerDataObject = 3,
    kResetPowerDataObjectToDefault = 4,
    kPowerDataObjectList = 5,
    kPowerDataObjectEnabled = 6,
    kPowerDataObjectEnabledList = 7,
    kRequestDataObject = 8,
    kPowerRole = 9,
    kPowerRolePreferred = 10,
    kCableVoltageMax = 11,
    kCableCurrentMax = 12,
    kCableSpeedMax = 13,
    kCableType = 14,
    kCableOrientation = 15,
    kRequest = 16,
    kRequestStatus = 17,
    kOverride = 18,
    kResetEntityToFactoryDefaults = 19,
    kFlagMode = 20,
    kPeakCurrentConfiguration = 21,
    kFastRoleSwapCurrent = 22,
};

}  // namespace

aErr PowerDeliveryClass::init(Module* module, std::uint8_t index)
{
    return EntityClass::init(module, kCommand, index);
}

aErr PowerDeliveryClass::packDataObjectAttributes(std::uint8_t* attributes, std::uint8_t partner,
                                                  std::uint8_t powerRole, std::uint8_t ruleIndex)
{
    if (attributes == nullptr || partner > kMaxPartner || powerRole > kMaxPowerRole || ruleIndex > kMaxRuleIndex)
        return aErrParam;
    *attributes = static_cast<std::uint8_t>((partner << 6) | (powerRole << 4) | ruleIndex);
    return aErrNone;
}

aErr PowerDeliveryClass::unpackDataObjectAttributes(std::uint8_t attributes, std::uint8_t* partner,
                                                    std::uint8_t* powerRole, std::uint8_t* ruleIndex)
{
    if (partner == nullptr || powerRole == nullptr || ruleIndex == nullptr)
        return aErrParam;
    *partner = static_cast<std::uint8_t>(attributes >> 6);
    *powerRole = static_cast<std::uint8_t>((attributes >> 4) & 0x03);
    *ruleIndex = static_cast<std::uint8_t>(attributes & 0x0F);
    return aErrNone;
}

aErr PowerDeliveryClass::getConnectionState(std::uint8_t* value)
{
    return getUEI8(kConnectionState, value);
}

aErr PowerDeliveryClass::getNumberOfPowerDataObjects(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t* value)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, partner, powerRole, 0);
    if (err != aErrNone)
        return err;
    return getUEI8(kNumberOfPowerDataObjects, attributes, value);
}

aErr PowerDeliveryClass::getPowerDataObject(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t ruleIndex,
                                            std::uint32_t* value)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, partner, powerRole, ruleIndex);
    if (err != aErrNone)
        return err;
    return getUEI32(kPowerDataObject, attributes, value);
}

aErr PowerDeliveryClass::setPowerDataObject(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint32_t pdo)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, kLocalPartner, powerRole, ruleIndex);
    if (err != aErrNone)
        return err;
    return setUEI32(kPowerDataObject, attributes, pdo);
}

aErr PowerDeliveryClass::resetPowerDataObjectToDefault(std::uint8_t powerRole, std::uint8_t ruleIndex)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, kLocalPartner, powerRole, ruleIndex);
    if (err != aErrNone)
        return err;
    return setUEI8(kResetPowerDataObjectToDefault, attributes);
}

aErr PowerDeliveryClass::getPowerDataObjectList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIWords(*this, kPowerDataObjectList, buffer, length, count);
}

aErr PowerDeliveryClass::getPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t* value)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, kLocalPartner, powerRole, ruleIndex);
    if (err != aErrNone)
        return err;
    return getUEI8(kPowerDataObjectEnabled, attributes, value);
}

aErr PowerDeliveryClass::setPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t enabled)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, kLocalPartner, powerRole, ruleIndex);
    if (err != aErrNone)
        return err;
    return setUEI8(kPowerDataObjectEnabled, attributes, enabled);
}

aErr PowerDeliveryClass::getPowerDataObjectEnabledList(std::uint8_t powerRole, std::uint8_t* value)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, kLocalPartner, powerRole, 0);
    if (err != aErrNone)
        return err;
    return getUEI8(kPowerDataObjectEnabledList, attributes, value);
}

aErr PowerDeliveryClass::getRequestDataObject(std::uint8_t partner, std::uint32_t* value)
{
    std::uint8_t attributes = 0;
    const aErr err = packDataObjectAttributes(&attributes, partner, 0, 0);
    if (err != aErrNone)
        return err;
    return getUEI32(kRequestDataObject, attributes, value);
}

aErr PowerDeliveryClass::setRequestDataObject(std::uint32_t rdo)
{
    return setUEI32(kRequestDataObject, rdo);
}

aErr PowerDeliveryClass::getPowerRole(std::uint8_t* value)
{
    return getUEI8(kPowerRole, value);
}

aErr PowerDeliveryClass::setPowerRole(std::uint8_t powerRole)
{
    return setUEI8(kPowerRole, powerRole);
}

aErr PowerDeliveryClass::getPowerRolePreferred(std::uint8_t* value)
{
    return getUEI8(kPowerRolePreferred, value);
}

aErr PowerDeliveryClass::setPowerRolePreferred(std::uint8_t powerRole)
{
    return setUEI8(kPowerRolePreferred, powerRole);
}

aErr PowerDeliveryClass::getCableVoltageMax(std::uint8_t* value)
{
    return getUEI8(kCableVoltageMax, value);
}

aErr PowerDeliveryClass::getCableCurrentMax(std::uint8_t* value)
{
    return getUEI8(kCableCurrentMax, value);
}

aErr PowerDeliveryClass::getCableSpeedMax(std::uint8_t* value)
{
    return getUEI8(kCableSpeedMax, value);
}

aErr PowerDeliveryClass::getCableType(std::uint8_t* value)
{
    return getUEI8(kCableType, value);
}

aErr PowerDeliveryClass::getCableOrientation(std::uint8_t* value)
{
    return getUEI8(kCableOrientation, value);
}

aErr PowerDeliveryClass::request(std::uint8_t request)
{
    return setUEI8(kRequest, request);
}

aErr PowerDeliveryClass::requestStatus(std::uint32_t* value)
{
    return getUEI32(kRequestStatus, value);
}

aErr PowerDeliveryClass::getOverride(std::uint32_t* value)
{
    return getUEI32(kOverride, value);
}

aErr PowerDeliveryClass::setOverride(std::uint32_t overrides)
{
    return setUEI32(kOverride, overrides);
}

aErr PowerDeliveryClass::resetEntityToFactoryDefaults()
{
    return callUEI(kResetEntityToFactoryDefaults);
}

aErr PowerDeliveryClass::getFlagMode(std::uint8_t flag, std::uint8_t* value)
{
    return getUEI8(kFlagMode, flag, value);
}

aErr PowerDeliveryClass::setFlagMode(std::uint8_t flag, std::uint8_t mode)
{
    return setUEI8(kFlagMode, flag, mode);
}

aErr PowerDeliveryClass::getPeakCurrentConfiguration(std::uint8_t* value)
{
    return getUEI8(kPeakCurrentConfiguration, value);
}

aErr PowerDeliveryClass::setPeakCurrentConfiguration(std::uint8_t configuration)
{
    return setUEI8(kPeakCurrentConfiguration, configuration);
}

aErr PowerDeliveryClass::getFastRoleSwapCurrent(std::uint8_t* value)
{
    return getUEI8(kFastRoleSwapCurrent, value);
}

aErr PowerDeliveryClass::setFastRoleSwapCurrent(std::uint8_t current)
{
    return setUEI8(kFastRoleSwapCurrent, current);
}

}  // namespace Morvasset
}  // namespace Zorventa
