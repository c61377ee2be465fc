// PowerDeliveryClass: a power-delivery entity of a device (entity command 36).
// Data-object selectors travel as one attribute byte in the sub-index (see
// packDataObjectAttributes); option codes are listed in morvwrappers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class Module;

class PowerDeliveryClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 36;
    // Attribute fields: partner (0 local, 1 remote), power role, rule index.
    static constexpr std::uint8_t kLocalPartner = 0;
    static constexpr std::uint8_t kRemotePartner = 1;
    static constexpr std::uint8_t kMaxPartner = 3;
    static constexpr std::uint8_t kMaxPowerRole = 3;
    static constexpr std::uint8_t kMaxRuleIndex = 15;

    PowerDeliveryClass() = default;
    ~PowerDeliveryClass() override = default;

    aErr init(Module* module, std::uint8_t index);

    aErr getConnectionState(std::uint8_t* value);
    aErr getNumberOfPowerDataObjects(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t* value);
    aErr getPowerDataObject(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint32_t* value);
    aErr setPowerDataObject(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint32_t pdo);
    aErr resetPowerDataObjectToDefault(std::uint8_t powerRole, std::uint8_t ruleIndex);
    // length and *count in elements.
    aErr getPowerDataObjectList(std::uint32_t* buffer, std::size_t length, std::size_t* count);
    aErr getPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t* value);
    aErr setPowerDataObjectEnabled(std::uint8_t powerRole, std::uint8_t ruleIndex, std::uint8_t enabled);
    aErr getPowerDataObjectEnabledList(std::uint8_t powerRole, std::uint8_t* value);
    aErr getRequestDataObject(std::uint8_t partner, std::uint32_t* value);
    aErr setRequestDataObject(std::uint32_t rdo);
    aErr getPowerRole(std::uint8_t* value);
    aErr setPowerRole(std::uint8_t powerRole);
    aErr getPowerRolePreferred(std::uint8_t* value);
    aErr setPowerRolePreferred(std::uint8_t powerRole);
    aErr getCableVoltageMax(std::uint8_t* value);
    aErr getCableCurrentMax(std::uint8_t* value);
    aErr getCableSpeedMax(std::uint8_t* value);
    aErr getCableType(std::uint8_t* value);
    aErr getCableOrientation(std::uint8_t* value);
    aErr request(std::uint8_t request);
    aErr requestStatus(std::uint32_t* value);
    aErr getOverride(std::uint32_t* value);
    aErr setOverride(std::uint32_t overrides);
    aErr resetEntityToFactoryDefaults();
    aErr getFlagMode(std::uint8_t flag, std::uint8_t* value);
    aErr setFlagMode(std::uint8_t flag, std::uint8_t mode);
    aErr getPeakCurrentConfiguration(std::uint8_t* value);
    aErr setPeakCurrentConfiguration(std::uint8_t configuration);
    aErr getFastRoleSwapCurrent(std::uint8_t* value);
    aErr setFastRoleSwapCurrent(std::uint8_t current);
    // aErrParam for a null pointer or a field beyond its bits (nothing written).
    static aErr packDataObjectAttributes(std::uint8_t* attributes, std::uint8_t partner, std::uint8_t powerRole,
                                         std::uint8_t ruleIndex);
    // aErrParam for a null pointer (nothing written).
    static aErr unpackDataObjectAttributes(std::uint8_t attributes, std::uint8_t* partner, std::uint8_t* powerRole,
                                           std::uint8_t* ruleIndex);
};

}  // namespace Morvasset
}  // namespace Zorventa
