#include "SystemClass.h"

#include <limits>

namespace Zorventa {
namespace Morvasset {

namespace {

// Options of the system entity.
enum SystemOption : std::uint8_t {
    kModule = 1,
    kRouter = 2,
    kHBInterval = 3,
    kLED = 4,
    kBootSlot = 6,
    kVersion = 7,
    kModel = 8,
    kSerialNumber = 9,
    kSave = 10,
    kReset = 11,
    kInputVoltage = 12,
    kModuleHardwareOffset = 13,
    kModuleBaseAddress = 14,
    kModuleSoftwareOffset = 15,
    kRouterAddressSetting = 16,
    kRouteToMe = 20,
    kInputCurrent = 21,
    kUptime = 22,
    kMaximumTemperature = 23,
    kLogEvents = 24,
    kUnregulatedVoltage = 25,
    kUnregulatedCurrent = 26,
    kTemperature = 27,
    kMinimumTemperature = 28,
    kInputPowerSource = 29,
    kInputPowerBehavior = 30,
    kInputPowerBehaviorConfig = 31,
    kName = 32,
    kPowerLimit = 33,
    kPowerLimitMax = 34,
    kPowerLimitState = 35,
    kResetEntityToFactoryDefaults = 36,
    kResetDeviceToFactoryDefaults = 37,
    kLinkInterface = 38,
    kHardwareVersion = 40,
    kErrors = 41,
    kLEDMaxBrightness = 42,
    kBuild = 43,
    kProtocolFeatures = 45,
};

constexpr std::size_t kWordBytes = sizeof(std::uint32_t);

}  // namespace

aErr SystemClass::init(Module* module, std::uint8_t index)
{
    return EntityClass::init(module, kCommand, index);
}

aErr SystemClass::getSigned(std::uint8_t option, std::int32_t* value)
{
    if (value == nullptr)
        return aErrParam;
    std::uint32_t word = 0;
    aErr err = getUEI32(option, &word);
    if (err == aErrNone || err == aErrStreamStale)
        *value = static_cast<std::int32_t>(word);
    return err;
}

aErr SystemClass::getModule(std::uint8_t* address) { return getUEI8(kModule, address); }
aErr SystemClass::getRouter(std::uint8_t* address) { return getUEI8(kRouter, address); }
aErr SystemClass::setRouter(std::uint8_t address) { return setUEI8(kRouter, address); }
aErr SystemClass::getHBInterval(std::uint8_t* interval) { return getUEI8(kHBInterval, interval); }
aErr SystemClass::setHBInterval(std::uint8_t interval) { return setUEI8(kHBInterval, interval); }
aErr SystemClass::getLED(std::uint8_t* state) { return getUEI8(kLED, state); }
aErr SystemClass::setLED(std::uint8_t state) { return setUEI8(kLED, state != 0 ? 1 : 0); }
aErr SystemClass::getBootSlot(std::uint8_t* slot) { return getUEI8(kBootSlot, slot); }
aErr SystemClass::setBootSlot(std::uint8_t slot) { return setUEI8(kBootSlot, slot); }
aErr SystemClass::getVersion(std::uint32_t* version) { return getUEI32(kVersion, version); }
aErr SystemClass::getModel(std::uint8_t* model) { return getUEI8(kModel, model); }
aErr SystemClass::getSerialNumber(std::uint32_t* serialNumber) { return getUEI32(kSerialNumber, serialNumber); }
aErr SystemClass::save() { return callUEI(kSave); }
aErr SystemClass::reset() { return callUEI(kReset); }
aErr SystemClass::getInputVoltage(std::uint32_t* microvolts) { return getUEI32(kInputVoltage, microvolts); }
aErr SystemClass::getModuleHardwareOffset(std::uint8_t* offset) { return getUEI8(kModuleHardwareOffset, offset); }
aErr SystemClass::getModuleBaseAddress(std::uint8_t* address) { return getUEI8(kModuleBaseAddress, address); }
aErr SystemClass::getModuleSoftwareOffset(std::uint8_t* offset) { return getUEI8(kModuleSoftwareOffset, offset); }
aErr SystemClass::setModuleSoftwareOffset(std::uint8_t offset) { return setUEI8(kModuleSoftwareOffset, offset); }
aErr SystemClass::getRouterAddressSetting(std::uint8_t* address) { return getUEI8(kRouterAddressSetting, address); }
aErr SystemClass::routeToMe(std::uint8_t enable) { return setUEI8(kRouteToMe, enable); }
aErr SystemClass::getInputCurrent(std::uint32_t* microamps) { return getUEI32(kInputCurrent, microamps); }
aErr SystemClass::getUptime(std::uint32_t* uptime) { return getUEI32(kUptime, uptime); }
aErr SystemClass::getMaximumTemperature(std::int32_t* temperature) { return getSigned(kMaximumTemperature, temperature); }
aErr SystemClass::logEvents() { return callUEI(kLogEvents); }
aErr SystemClass::getUnregulatedVoltage(std::int32_t* microvolts) { return getSigned(kUnregulatedVoltage, microvolts); }
aErr SystemClass::getUnregulatedCurrent(std::int32_t* microamps) { return getSigned(kUnregulatedCurrent, microamps); }
aErr SystemClass::getTemperature(std::int32_t* temperature) { return getSigned(kTemperature, temperature); }
aErr SystemClass::getMinimumTemperature(std::int32_t* temperature) { return getSigned(kMinimumTemperature, temperature); }
aErr SystemClass::getInputPowerSource(std::uint8_t* source) { return getUEI8(kInputPowerSource, source); }
aErr SystemClass::getInputPowerBehavior(std::uint8_t* behavior) { return getUEI8(kInputPowerBehavior, behavior); }
aErr SystemClass::setInputPowerBehavior(std::uint8_t behavior) { return setUEI8(kInputPowerBehavior, behavior); }

aErr SystemClass::getInputPowerBehaviorConfig(std::uint32_t* values, std::size_t capacity, std::size_t* count)
{
    if (values == nullptr || count == nullptr || capacity == 0)
        return aErrParam;
    const std::size_t byteCapacity =
        capacity > std::numeric_limits<std::size_t>::max() / kWordBytes ? std::numeric_limits<std::size_t>::max()
                                                                         : capacity * kWordBytes;
    aErr err = getUEIBytes(kInputPowerBehaviorConfig, reinterpret_cast<std::uint8_t*>(values), byteCapacity, count);
    if (err != aErrNone)
        return err;
    return getUEIBytesCheck(count, kWordBytes);
}

aErr SystemClass::setInputPowerBehaviorConfig(const std::uint32_t* values, std::size_t count)
{
    if ((values == nullptr && count != 0) || count > std::numeric_limits<std::size_t>::max() / kWordBytes)
        return aErrParam;
    return setUEIBytes(kInputPowerBehaviorConfig, reinterpret_cast<const std::uint8_t*>(values), count * kWordBytes);
}

aErr SystemClass::getName(std::uint8_t* buffer, std::size_t capacity, std::size_t* count)
{
    return getUEIBytes(kName, buffer, capacity, count);
}

aErr SystemClass::setName(const std::uint8_t* data, std::size_t length) { return setUEIBytes(kName, data, length); }
aErr SystemClass::getPowerLimit(std::uint32_t* limit) { return getUEI32(kPowerLimit, limit); }
aErr SystemClass::getPowerLimitMax(std::uint32_t* limit) { return getUEI32(kPowerLimitMax, limit); }
aErr SystemClass::setPowerLimitMax(std::uint32_t limit) { return setUEI32(kPowerLimitMax, limit); }
aErr SystemClass::getPowerLimitState(std::uint32_t* state) { return getUEI32(kPowerLimitState, state); }
aErr SystemClass::resetEntityToFactoryDefaults() { return callUEI(kResetEntityToFactoryDefaults); }
aErr SystemClass::resetDeviceToFactoryDefaults() { return callUEI(kResetDeviceToFactoryDefaults); }
aErr SystemClass::getLinkInterface(std::uint8_t* linkInterface) { return getUEI8(kLinkInterface, linkInterface); }
aErr SystemClass::setLinkInterface(std::uint8_t linkInterface) { return setUEI8(kLinkInterface, linkInterface); }
aErr SystemClass::getHardwareVersion(std::uint32_t* version) { return getUEI32(kHardwareVersion, version); }
aErr SystemClass::getErrors(std::uint32_t* errors) { return getUEI32(kErrors, errors); }
aErr SystemClass::getLEDMaxBrightness(std::uint8_t* brightness) { return getUEI8(kLEDMaxBrightness, brightness); }
aErr SystemClass::setLEDMaxBrightness(std::uint8_t brightness) { return setUEI8(kLEDMaxBrightness, brightness); }
aErr SystemClass::getBuild(std::uint32_t* build) { return getUEI32(kBuild, build); }
aErr SystemClass::getProtocolFeatures(std::uint32_t* features) { return getUEI32(kProtocolFeatures, features); }

}  // namespace Morvasset
}  // namespace Zorventa
