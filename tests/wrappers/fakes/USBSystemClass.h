// Recording stand-in for USBSystemClass: every method records its call and
// answers as the current script says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FakeEntity.h"

namespace Zorventa {
namespace Morvasset {

class USBSystemClass : public fake::FakeEntity {
public:
    USBSystemClass() : FakeEntity("USBSystemClass") {}

    aErr init(Module* module, std::uint8_t index) { return recordInit(module, index); }

    aErr getUpstream(std::uint8_t* value) { return recordGet("getUpstream", {}, value); }
    aErr setUpstream(std::uint8_t port) { return record("setUpstream", {arg(port)}); }
    aErr getEnumerationDelay(std::uint32_t* value) { return recordGet("getEnumerationDelay", {}, value); }
    aErr setEnumerationDelay(std::uint32_t delay) { return record("setEnumerationDelay", {arg(delay)}); }
    aErr getDataRoleList(std::uint32_t* value) { return recordGet("getDataRoleList", {}, value); }
    aErr getEnabledList(std::uint32_t* value) { return recordGet("getEnabledList", {}, value); }
    aErr setEnabledList(std::uint32_t enabled) { return record("setEnabledList", {arg(enabled)}); }
    aErr getModeList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getModeList", {arg(buffer), arg(length)}, count);
    }
    aErr setModeList(const std::uint32_t* buffer, std::size_t length)
    {
        return record("setModeList", {arg(buffer), arg(length)});
    }
    aErr getStateList(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getStateList", {arg(buffer), arg(length)}, count);
    }
    aErr getPowerBehavior(std::uint8_t* value) { return recordGet("getPowerBehavior", {}, value); }
    aErr setPowerBehavior(std::uint8_t behavior) { return record("setPowerBehavior", {arg(behavior)}); }
    aErr getPowerBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getPowerBehaviorConfig", {arg(buffer), arg(length)}, count);
    }
    aErr setPowerBehaviorConfig(const std::uint32_t* buffer, std::size_t length)
    {
        return record("setPowerBehaviorConfig", {arg(buffer), arg(length)});
    }
    aErr getDataRoleBehavior(std::uint8_t* value) { return recordGet("getDataRoleBehavior", {}, value); }
    aErr setDataRoleBehavior(std::uint8_t behavior) { return record("setDataRoleBehavior", {arg(behavior)}); }
    aErr getDataRoleBehaviorConfig(std::uint32_t* buffer, std::size_t length, std::size_t* count)
    {
        return recordList("getDataRoleBehaviorConfig", {arg(buffer), arg(length)}, count);
    }
    aErr setDataRoleBehaviorConfig(const std::uint32_t* buffer, std::size_t length)
    {
        return record("setDataRoleBehaviorConfig", {arg(buffer), arg(length)});
    }
    aErr getSelectorMode(std::uint8_t* value) { return recordGet("getSelectorMode", {}, value); }
    aErr setSelectorMode(std::uint8_t mode) { return record("setSelectorMode", {arg(mode)}); }
    aErr resetEntityToFactoryDefaults() { return record("resetEntityToFactoryDefaults", {}); }
    aErr getUpstreamHS(std::uint8_t* value) { return recordGet("getUpstreamHS", {}, value); }
    aErr setUpstreamHS(std::uint8_t port) { return record("setUpstreamHS", {arg(port)}); }
    aErr getUpstreamSS(std::uint8_t* value) { return recordGet("getUpstreamSS", {}, value); }
    aErr setUpstreamSS(std::uint8_t port) { return record("setUpstreamSS", {arg(port)}); }
    aErr getOverride(std::uint32_t* value) { return recordGet("getOverride", {}, value); }
    aErr setOverride(std::uint32_t overrides) { return record("setOverride", {arg(overrides)}); }
    aErr setDataHSMaxDatarate(std::uint32_t datarate) { return record("setDataHSMaxDatarate", {arg(datarate)}); }
    aErr getDataHSMaxDatarate(std::uint32_t* value) { return recordGet("getDataHSMaxDatarate", {}, value); }
    aErr setDataSSMaxDatarate(std::uint32_t datarate) { return record("setDataSSMaxDatarate", {arg(datarate)}); }
    aErr getDataSSMaxDatarate(std::uint32_t* value) { return recordGet("getDataSSMaxDatarate", {}, value); }
};

}  // namespace Morvasset
}  // namespace Zorventa
