#include "USBSystemClass.h"

#include "EntityValues.h"

namespace Zorventa {
namespace Morvasset {

namespace {

enum Option : std::uint8_t {
    kUpstream = 1,
    kEnumerationDelay = 2,
    kDataRoleList = 3,
    kEnabledList = 4,
    kModeList = 5,
    kStateList = 6,
    kPowerBehavior = 7,
    kPowerBehaviorConfig = 8,
    kDataRoleBehavior = 9,
    kDataRoleBehaviorConfig = 10,
    kSelectorMode = 11,
    kResetEntityToFactoryDefaults = 12,
    kUpstreamHS = 13,
    kUpstreamSS = 14,
    kOverride = 15,
    kDataHSMaxDatarate = 16,
    kDataSSMaxDatarate = 17,
};

}  // namespace

aErr USBSystemClass::init(Module* module, std::uint8_t index)
{
    return EntityClass::init(module, kCommand, index);
}

aErr USBSystemClass::getUpstream(std::uint8_t* value)
{
    return getUEI8(kUpstream, value);
}

aErr USBSystemClass::setUpstream(std::uint8_t port)
{
    return setUEI8(kUpstream, port);
}

aErr USBSystemClass::getEnumerationDelay(std::uint32_t* value)
{
    return getUEI32(kEnumerationDelay, value);
}

aErr USBSystemClass::setEnumerationDelay(std::uint32_t delay)
{
    return setUEI32(kEnumerationDelay, delay);
}

aErr USBSystemClass::getDataRoleList(std::uint32_t* value)
{
    return getUEI32(kDataRoleList, value);
}

aErr USBSystemClass::getEnabledList(std::uint32_t* value)
{
    return getUEI32(kEnabledList, value);
}

aErr USBSystemClass::setEnabledList(std::uint32_t enabled)
{
    return setUEI32(kEnabledList, enabled);
}

aErr USBSystemClass::getModeList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIWords(*this, kModeList, buffer, length, count);
}

aErr USBSystemClass::setModeList(const std::uint32_t* buffer, std::size_t length)
{
    return setUEIWords(*this, kModeList, buffer, length);
}

aErr USBSystemClass::getStateList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIWords(*this, kStateList, buffer, length, count);
}

aErr USBSystemClass::getPowerBehavior(std::uint8_t* value)
{
    return getUEI8(kPowerBehavior, value);
}

aErr USBSystemClass::setPowerBehavior(std::uint8_t behavior)
{
    return setUEI8(kPowerBehavior, behavior);
}

aErr USBSystemClass::getPowerBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIWords(*this, kPowerBehaviorConfig, buffer, length, count);
}

aErr USBSystemClass::setPowerBehaviorConfig(const std::uint32_t* buffer, std::size_t length)
{
    return setUEIWords(*this, kPowerBehaviorConfig, buffer, length);
}

aErr USBSystemClass::getDataRoleBehavior(std::uint8_t* value)
{
    return getUEI8(kDataRoleBehavior, value);
}

aErr USBSystemClass::setDataRoleBehavior(std::uint8_t behavior)
{
    return setUEI8(kDataRoleBehavior, behavior);
}

aErr USBSystemClass::getDataRoleBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count)
{
    return getUEIWords(*this, kDataRoleBehaviorConfig, buffer, length, count);
}

aErr USBSystemClass::setDataRoleBehaviorConfig(const std::uint32_t* buffer, std::size_t length)
{
    return setUEIWords(*this, kDataRoleBehaviorConfig, buffer, length);
}

aErr USBSystemClass::getSelectorMode(std::uint8_t* value)
{
    return getUEI8(kSelectorMode, value);
}

aErr USBSystemClass::setSelectorMode(std::uint8_t mode)
{
    return setUEI8(kSelectorMode, mode);
}

aErr USBSystemClass::resetEntityToFactoryDefaults()
{
    return callUEI(kResetEntityToFactoryDefaults);
}

aErr USBSystemClass::getUpstreamHS(std::uint8_t* value)
{
    return getUEI8(kUpstreamHS, value);
}

aErr USBSystemClass::setUpstreamHS(std::uint8_t port)
{
    return setUEI8(kUpstreamHS, port);
}

aErr USBSystemClass::getUpstreamSS(std::uint8_t* value)
{
    return getUEI8(kUpstreamSS, value);
}

aErr USBSystemClass::setUpstreamSS(std::uint8_t port)
{
    return setUEI8(kUpstreamSS, port);
}

aErr USBSystemClass::getOverride(std::uint32_t* value)
{
    return getUEI32(kOverride, value);
}

aErr USBSystemClass::setOverride(std::uint32_t overrides)
{
    return setUEI32(kOverride, overrides);
}

aErr USBSystemClass::setDataHSMaxDatarate(std::uint32_t datarate)
{
    return setUEI32(kDataHSMaxDatarate, datarate);
}

aErr USBSystemClass::getDataHSMaxDatarate(std::uint32_t* value)
{
    return getUEI32(kDataHSMaxDatarate, value);
}

aErr USBSystemClass::setDataSSMaxDatarate(std::uint32_t datarate)
{
    return setUEI32(kDataSSMaxDatarate, datarate);
}

aErr USBSystemClass::getDataSSMaxDatarate(std::uint32_t* value)
{
    return getUEI32(kDataSSMaxDatarate, value);
}

}  // namespace Morvasset
}  // namespace Zorventa
