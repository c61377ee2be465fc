// The system entity (command 3, index 0) of a simulated module, built on the
// generic entity handler of SimEntities.h: every option a module's system
// entity has, with the access a module allows (a get of a set-only option,
// a set of a read-only one, or an option that does not exist answers an
// error with code 29).
//
//   SystemValues values;
//   values.version = 0x02030004; values.name = "hub";
//   sim.withModule(4, [&](SimModule& m) { installSystemEntity(m, values); });
//   // options 1 (address), 8 (model) and 9 (serial number) come from the
//   // SimModule record; every other option from values.
//   sim.module(4).entities.at(entityKey(3, 2, 0))   -> the router address now
//   systemCalls(sim.module(4), 11)                  -> resets asked for
//
// routeToMe (option 20) with a non-zero value makes the module its own
// router (option 2 = its address); with 0 the router goes back to the
// router address setting (option 16).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kSystemCommand = 3;

// What a module's system entity answers, besides the SimModule's address,
// model and serial number.
struct SystemValues {
    std::uint8_t router = 0;
    std::uint8_t heartbeatInterval = 25;
    std::uint8_t led = 0;
    std::uint8_t bootSlot = 0;
    std::uint32_t version = 0x01020003;
    std::uint32_t inputVoltage = 5000000;
    std::uint8_t hardwareOffset = 0;
    std::uint8_t baseAddress = 2;
    std::uint8_t softwareOffset = 0;
    std::uint8_t routerAddressSetting = 0;
    std::uint8_t routeToMe = 0;
    std::uint32_t inputCurrent = 250000;
    std::uint32_t uptime = 3600;
    std::int32_t maximumTemperature = 45000000;
    std::int32_t unregulatedVoltage = 12000000;
    std::int32_t unregulatedCurrent = -1500;
    std::int32_t temperature = 31500000;
    std::int32_t minimumTemperature = -10;
    std::uint8_t inputPowerSource = 1;
    std::uint8_t inputPowerBehavior = 0;
    std::vector<std::uint8_t> inputPowerBehaviorConfig = std::vector<std::uint8_t>(8, 0);
    std::string name = "Simulated module";
    std::uint32_t powerLimit = 60000000;
    std::uint32_t powerLimitMax = 100000000;
    std::uint32_t powerLimitState = 0;
    std::uint8_t linkInterface = 0;
    std::uint32_t hardwareVersion = 0x00010000;
    std::uint32_t errors = 0;
    std::uint8_t ledMaxBrightness = 255;
    std::uint32_t build = 12345;
    std::uint32_t protocolFeatures = 0x3;
};

// Fills the module's system entity values and installs its handler.
void installSystemEntity(SimModule& module, const SystemValues& values = SystemValues());

// The handler itself, for a test that wraps it.
void handleSystemRequest(SimModule& module, const SimPacket& packet, SimReply& reply);

// How many times the option was called (a set without a value: save, reset,
// log events, factory resets).
unsigned systemCalls(const SimModule& module, std::uint8_t option);

}  // namespace morvsim
