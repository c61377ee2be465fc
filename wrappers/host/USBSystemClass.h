// USBSystemClass: the USB-system entity of a device (entity command 37).
// Option codes are listed in morvwrappers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class Module;

class USBSystemClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 37;

    USBSystemClass() = default;
    ~USBSystemClass() override = default;

    aErr init(Module* module, std::uint8_t index);

    aErr getUpstream(std::uint8_t* value);
    aErr setUpstream(std::uint8_t port);
    aErr getEnumerationDelay(std::uint32_t* value);
    aErr setEnumerationDelay(std::uint32_t delay);
    aErr getDataRoleList(std::uint32_t* value);
    aErr getEnabledList(std::uint32_t* value);
    aErr setEnabledList(std::uint32_t enabled);
    // length and *count in elements.
    aErr getModeList(std::uint32_t* buffer, std::size_t length, std::size_t* count);
    // length in elements.
    aErr setModeList(const std::uint32_t* buffer, std::size_t length);
    // length and *count in elements.
    aErr getStateList(std::uint32_t* buffer, std::size_t length, std::size_t* count);
    aErr getPowerBehavior(std::uint8_t* value);
    aErr setPowerBehavior(std::uint8_t behavior);
    // length and *count in elements.
    aErr getPowerBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count);
    // length in elements.
    aErr setPowerBehaviorConfig(const std::uint32_t* buffer, std::size_t length);
    aErr getDataRoleBehavior(std::uint8_t* value);
    aErr setDataRoleBehavior(std::uint8_t behavior);
    // length and *count in elements.
    aErr getDataRoleBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count);
    // length in elements.
    aErr setDataRoleBehaviorConfig(const std::uint32_t* buffer, std::size_t length);
    aErr getSelectorMode(std::uint8_t* value);
    aErr setSelectorMode(std::uint8_t mode);
    aErr resetEntityToFactoryDefaults();
    aErr getUpstreamHS(std::uint8_t* value);
    aErr setUpstreamHS(std::uint8_t port);
    aErr getUpstreamSS(std::uint8_t* value);
    aErr setUpstreamSS(std::uint8_t port);
    aErr getOverride(std::uint32_t* value);
    aErr setOverride(std::uint32_t overrides);
    aErr setDataHSMaxDatarate(std::uint32_t datarate);
    aErr getDataHSMaxDatarate(std::uint32_t* value);
    aErr setDataSSMaxDatarate(std::uint32_t datarate);
    aErr getDataSSMaxDatarate(std::uint32_t* value);
};

}  // namespace Morvasset
}  // namespace Zorventa
