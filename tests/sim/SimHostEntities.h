// The port, USB hub, power-delivery and USB-system entities of a simulated
// hub, served by the generic entity handler (SimEntities.h) under the entity
// commands and option codes the host's wrapper library uses.
//
//   HostEntityValues values;              // or change the defaults first
//   sim.withModule(4, [&](SimModule& m) { installHostEntities(m, values); });
//   // port entities 0..ports-1, power-delivery entities 0..ports-1, the USB hub
//   // and the USB system at index 0; every value below is stored in
//   // m.entities and can be read back or replaced there:
//   sim.module(4).entities.at(entityKey(kPortCommand, kPortEnabled, 1))
//
// The hub answers per-port values of the USB hub under the port number as
// sub-index, and power-data objects under their attribute byte (partner in
// bits 6-7, power role in bits 4-5, rule index in bits 0-3). Word lists are
// big-endian, four bytes per element.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kPortCommand = 35;
constexpr std::uint8_t kUsbCommand = 18;
constexpr std::uint8_t kPowerDeliveryCommand = 36;
constexpr std::uint8_t kUsbSystemCommand = 37;

// Port options.
constexpr std::uint8_t kPortVbusVoltage = 1;
constexpr std::uint8_t kPortVbusCurrent = 2;
constexpr std::uint8_t kPortState = 9;
constexpr std::uint8_t kPortMode = 10;
constexpr std::uint8_t kPortCC1State = 15;
constexpr std::uint8_t kPortEnabled = 18;
constexpr std::uint8_t kPortDataRole = 27;
constexpr std::uint8_t kPortResetVbusAccumulatedPower = 41;
constexpr std::uint8_t kPortName = 44;

// USB hub options.
constexpr std::uint8_t kUsbPortEnable = 1;
constexpr std::uint8_t kUsbPortDisable = 2;
constexpr std::uint8_t kUsbHubMode = 15;
constexpr std::uint8_t kUsbUpstreamState = 17;
constexpr std::uint8_t kUsbPortVoltage = 19;
constexpr std::uint8_t kUsbPortCurrentLimit = 26;
constexpr std::uint8_t kUsbPortError = 29;
constexpr std::uint8_t kUsbConnectMode = 32;

// Power-delivery options.
constexpr std::uint8_t kPdConnectionState = 1;
constexpr std::uint8_t kPdNumberOfPowerDataObjects = 2;
constexpr std::uint8_t kPdPowerDataObject = 3;
constexpr std::uint8_t kPdPowerDataObjectList = 5;
constexpr std::uint8_t kPdPowerRole = 9;
constexpr std::uint8_t kPdFlagMode = 20;

// USB-system options.
constexpr std::uint8_t kUsbSysUpstream = 1;
constexpr std::uint8_t kUsbSysEnumerationDelay = 2;
constexpr std::uint8_t kUsbSysEnabledList = 4;
constexpr std::uint8_t kUsbSysModeList = 5;
constexpr std::uint8_t kUsbSysStateList = 6;
constexpr std::uint8_t kUsbSysPowerBehaviorConfig = 8;

// The attribute byte of a power-data object.
std::uint8_t pdAttributes(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t ruleIndex);
// Words as the hub stores and sends them.
Bytes words(const std::vector<std::uint32_t>& values);

struct HostEntityValues {
    std::uint8_t ports = 4;
    // Port entity i answers vbusVoltage + i; every port the same current.
    std::int32_t vbusVoltage = 5000000;
    std::int32_t vbusCurrent = -1500;
    std::uint32_t portState = 0xFFFFFFFF;
    std::uint32_t portMode = 2;
    std::uint16_t cc1State = 0xFFFF;
    std::uint8_t portEnabled = 1;
    std::uint8_t dataRole = 200;
    std::string portNamePrefix = "Port ";  // port i is named prefix + i
    // USB hub; port p's voltage is usbPortVoltage - p.
    std::uint32_t hubMode = 0x80000001;
    std::uint8_t upstreamState = 2;
    std::int32_t usbPortVoltage = -20;
    std::uint32_t usbPortCurrentLimit = 900000;
    std::uint32_t usbPortError = 0;
    std::uint8_t connectMode = 1;
    // Power delivery: local source objects 1..n of every port.
    std::uint8_t connectionState = 3;
    std::vector<std::uint32_t> sourceObjects = {0x0801912C, 0x0002D12C, 0x8004B12C};
    std::uint8_t powerRole = 1;
    std::uint8_t flagModes = 2;  // flags 0..flagModes-1, all mode 0
    // USB system.
    std::uint8_t upstream = 0;
    std::uint32_t enumerationDelay = 250;
    std::uint32_t enabledList = 0x8000000F;
    std::vector<std::uint32_t> modeList = {1, 2, 0x80000003, 4};
    std::vector<std::uint32_t> stateList = {0x10, 0x20, 0x30, 0x40};
    std::vector<std::uint32_t> powerBehaviorConfig = {7, 8};
};

// Fills the values and serves the four entity commands.
void installHostEntities(SimModule& module, const HostEntityValues& values = HostEntityValues());

}  // namespace morvsim
