// Recording stand-in for PowerDeliveryClass: every method records its call and
// answers as the current script says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FakeEntity.h"

namespace Zorventa {
namespace Morvasset {

class PowerDeliveryClass : public fake::FakeEntity {
public:
    PowerDeliveryClass() : FakeEntity("PowerDeliveryClass") {}

    aErr init(Module* module, std::uint8_t index) { return recordInit(module, index); }

    aErr getConnectionState(std::uint8_t* value) { return recordGet("getConnectionState", {}, value); }
    aErr getNumberOfPowerDataObjects(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t* value)
    {
        return recordGet("getNumberOfPowerDataObjects", {arg(partner), arg(powerRole)}, value);
    }
    aErr getPowerDataObject(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint32_t* value)
    {
        return recordGet("getPowerDataObject", {arg(partner), arg(powerRole), arg(ruleIndex)}, value);
    }
    aErr setPowerDataObject(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint32_t pdo)
    {
        return record("setPowerDataObject", {arg(powerRole), arg(ruleIndex), arg(pdo)});
    }
    aErr resetPowerDataObjectToDefault(std::uint8_t powerRole, std::uint8_t ruleIndex)
    {
        return record("resetPowerDataObjectToDefault", {arg(powerRole), arg(ruleIndex)});
    }
    aErr getPowerDataObjectList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getPowerDataObjectList", {arg(buffer), arg(length)}, count);
    }
    aErr getPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t* value)
    {
        return recordGet("getPowerDataObjectEnabled", {arg(powerRole), arg(ruleIndex)}, value);
    }
    aErr setPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t enabled)
    {
        return record("setPowerDataObjectEnabled", {arg(powerRole), arg(ruleIndex), arg(enabled)});
    }
    aErr getPowerDataObjectEnabledList(std::uint8_t powerRole, std::uint8_t* value)
    {
        return recordGet("getPowerDataObjectEnabledList", {arg(powerRole)}, value);
    }
    aErr getRequestDataObject(std::uint8_t partner, std::uint32_t* value)
    {
        return recordGet("getRequestDataObject", {arg(partner)}, value);
    }
    aErr setRequestDataObject(std::uint32_t rdo) { return record("setRequestDataObject", {arg(rdo)}); }
    aErr getPowerRole(std::uint8_t* value) { return recordGet("getPowerRole", {}, value); }
    aErr setPowerRole(std::uint8_t powerRole) { return record("setPowerRole", {arg(powerRole)}); }
    aErr getPowerRolePreferred(std::uint8_t* value) { return recordGet("getPowerRolePreferred", {}, value); }
    aErr setPowerRolePreferred(std::uint8_t powerRole) { return record("setPowerRolePreferred", {arg(powerRole)}); }
    aErr getCableVoltageMax(std::uint8_t* value) { return recordGet("getCableVoltageMax", {}, value); }
    aErr getCableCurrentMax(std::uint8_t* value) { return recordGet("getCableCurrentMax", {}, value); }
    aErr getCableSpeedMax(std::uint8_t* value) { return recordGet("getCableSpeedMax", {}, value); }
    aErr getCableType(std::uint8_t* value) { return recordGet("getCableType", {}, value); }
    aErr getCableOrientation(std::uint8_t* value) { return recordGet("getCableOrientation", {}, value); }
    aErr request(std::uint8_t request) { return record("request", {arg(request)}); }
    aErr requestStatus(std::uint32_t* value) { return recordGet("requestStatus", {}, value); }
    aErr getOverride(std::uint32_t* value) { return recordGet("getOverride", {}, value); }
    aErr setOverride(std::uint32_t overrides) { return record("setOverride", {arg(overrides)}); }
    aErr resetEntityToFactoryDefaults() { return record("resetEntityToFactoryDefaults", {}); }
    aErr getFlagMode(std::uint8_t flag, std::uint8_t* value) { return recordGet("getFlagMode", {arg(flag)}, value); }
    aErr setFlagMode(std::uint8_t flag, std::uint8_t mode) { return record("setFlagMode", {arg(flag), arg(mode)}); }
    aErr getPeakCurrentConfiguration(std::uint8_t* value)
    {
        return recordGet("getPeakCurrentConfiguration", {}, value);
    }
    aErr setPeakCurrentConfiguration(std::uint8_t configuration)
    {
        return record("setPeakCurrentConfiguration", {arg(configuration)});
    }
    aErr getFastRoleSwapCurrent(std::uint8_t* value) { return recordGet("getFastRoleSwapCurrent", {}, value); }
    aErr setFastRoleSwapCurrent(std::uint8_t current) { return record("setFastRoleSwapCurrent", {arg(current)}); }
    static aErr packDataObjectAttributes(std::uint8_t* attributes, std::uint8_t partner, std::uint8_t powerRole,
                                         std::uint8_t ruleIndex)
    {
        return recordPack({arg(attributes), arg(partner), arg(powerRole), arg(ruleIndex)}, attributes);
    }
    static aErr unpackDataObjectAttributes(std::uint8_t attributes, std::uint8_t* partner, std::uint8_t* powerRole,
                                           std::uint8_t* ruleIndex)
    {
        return recordUnpack({arg(attributes), arg(partner), arg(powerRole)}, partner, powerRole, ruleIndex);
    }
};

}  // namespace Morvasset
}  // namespace Zorventa
