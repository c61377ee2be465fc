// Every C-callable function with inputs that tell their order apart: the
// uint8_t inputs count up from 0xC1, uint32_t values have the top bit set,
// and buffer lengths are 2^32 - 1 (a sign-extended widening shows).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "morvwrappers.h"

namespace wraptable {

// What the function reports as its value.
enum class Out { None, U8, U16, U32, I32, Count };

// Buffers and fields the inputs point at.
struct Inputs {
    std::uint8_t bytes[16];
    std::uint32_t words[8];
    std::uint8_t attributes;
    std::uint8_t field1;
    std::uint8_t field2;
};

using Invoke = std::function<void(const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in)>;

struct Row {
    std::string function;  // C name
    std::string entityClass;
    std::string method;
    Out out;
    Invoke invoke;
    // The inputs as the method should receive them (pointers as addresses).
    std::function<std::vector<std::uint64_t>(Inputs& in)> expected;
};

inline std::uint64_t address(const void* p)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

inline std::vector<Row> rows()
{
    std::vector<Row> all;
    all.push_back({"port_getVbusVoltage", "PortClass", "getVbusVoltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVbusVoltage(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVbusCurrent", "PortClass", "getVbusCurrent", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVbusCurrent(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconnVoltage", "PortClass", "getVconnVoltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconnVoltage(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconnCurrent", "PortClass", "getVconnCurrent", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconnCurrent(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getAllocatedPower", "PortClass", "getAllocatedPower", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getAllocatedPower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVbusAccumulatedPower", "PortClass", "getVbusAccumulatedPower", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVbusAccumulatedPower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconnAccumulatedPower", "PortClass", "getVconnAccumulatedPower", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconnAccumulatedPower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVoltageSetpoint", "PortClass", "getVoltageSetpoint", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVoltageSetpoint(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getState", "PortClass", "getState", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getState(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getMode", "PortClass", "getMode", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getErrors", "PortClass", "getErrors", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getErrors(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCurrentLimit", "PortClass", "getCurrentLimit", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCurrentLimit(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getAvailablePower", "PortClass", "getAvailablePower", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getAvailablePower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getPowerLimit", "PortClass", "getPowerLimit", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getPowerLimit(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCC1State", "PortClass", "getCC1State", Out::U16,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCC1State(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCC2State", "PortClass", "getCC2State", Out::U16,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCC2State(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getPowerMode", "PortClass", "getPowerMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getPowerMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getEnabled", "PortClass", "getEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataEnabled", "PortClass", "getDataEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataHSEnabled", "PortClass", "getDataHSEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataHSEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataHS1Enabled", "PortClass", "getDataHS1Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataHS1Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataHS2Enabled", "PortClass", "getDataHS2Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataHS2Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataSSEnabled", "PortClass", "getDataSSEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataSSEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataSS1Enabled", "PortClass", "getDataSS1Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataSS1Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataSS2Enabled", "PortClass", "getDataSS2Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataSS2Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getPowerEnabled", "PortClass", "getPowerEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getPowerEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataRole", "PortClass", "getDataRole", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataRole(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconnEnabled", "PortClass", "getVconnEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconnEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconn1Enabled", "PortClass", "getVconn1Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconn1Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getVconn2Enabled", "PortClass", "getVconn2Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getVconn2Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCCEnabled", "PortClass", "getCCEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCCEnabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCC1Enabled", "PortClass", "getCC1Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCC1Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCC2Enabled", "PortClass", "getCC2Enabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCC2Enabled(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataSpeed", "PortClass", "getDataSpeed", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataSpeed(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCurrentLimitMode", "PortClass", "getCurrentLimitMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCurrentLimitMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getPowerLimitMode", "PortClass", "getPowerLimitMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getPowerLimitMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getCCCurrentLimit", "PortClass", "getCCCurrentLimit", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getCCCurrentLimit(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataHSRoutingBehavior", "PortClass", "getDataHSRoutingBehavior", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataHSRoutingBehavior(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getDataSSRoutingBehavior", "PortClass", "getDataSSRoutingBehavior", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getDataSSRoutingBehavior(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getHSBoost", "PortClass", "getHSBoost", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_getHSBoost(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_setPowerMode", "PortClass", "setPowerMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setPowerMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setEnabled", "PortClass", "setEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataEnabled", "PortClass", "setDataEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataHSEnabled", "PortClass", "setDataHSEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataHSEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataHS1Enabled", "PortClass", "setDataHS1Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataHS1Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataHS2Enabled", "PortClass", "setDataHS2Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataHS2Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataSSEnabled", "PortClass", "setDataSSEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataSSEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataSS1Enabled", "PortClass", "setDataSS1Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataSS1Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataSS2Enabled", "PortClass", "setDataSS2Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataSS2Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setPowerEnabled", "PortClass", "setPowerEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setPowerEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setVconnEnabled", "PortClass", "setVconnEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setVconnEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setVconn1Enabled", "PortClass", "setVconn1Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setVconn1Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setVconn2Enabled", "PortClass", "setVconn2Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setVconn2Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setCCEnabled", "PortClass", "setCCEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCCEnabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setCC1Enabled", "PortClass", "setCC1Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCC1Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setCC2Enabled", "PortClass", "setCC2Enabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCC2Enabled(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setCurrentLimitMode", "PortClass", "setCurrentLimitMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCurrentLimitMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setPowerLimitMode", "PortClass", "setPowerLimitMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setPowerLimitMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setCCCurrentLimit", "PortClass", "setCCCurrentLimit", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCCCurrentLimit(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataHSRoutingBehavior", "PortClass", "setDataHSRoutingBehavior", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataHSRoutingBehavior(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setDataSSRoutingBehavior", "PortClass", "setDataSSRoutingBehavior", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setDataSSRoutingBehavior(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setHSBoost", "PortClass", "setHSBoost", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setHSBoost(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"port_setVoltageSetpoint", "PortClass", "setVoltageSetpoint", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setVoltageSetpoint(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"port_setMode", "PortClass", "setMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setMode(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"port_setCurrentLimit", "PortClass", "setCurrentLimit", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setCurrentLimit(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"port_setPowerLimit", "PortClass", "setPowerLimit", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_setPowerLimit(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"port_resetVbusAccumulatedPower", "PortClass", "resetVbusAccumulatedPower", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_resetVbusAccumulatedPower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_resetVconnAccumulatedPower", "PortClass", "resetVconnAccumulatedPower", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_resetVconnAccumulatedPower(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_resetEntityToFactoryDefaults", "PortClass", "resetEntityToFactoryDefaults", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       port_resetEntityToFactoryDefaults(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"port_getName", "PortClass", "getName", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       port_getName(id, result, index, in.bytes, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.bytes), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"port_setName", "PortClass", "setName", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       port_setName(id, result, index, in.bytes, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.bytes), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usb_setPortEnable", "USBClass", "setPortEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPortEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setPortDisable", "USBClass", "setPortDisable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPortDisable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setDataEnable", "USBClass", "setDataEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setDataEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setDataDisable", "USBClass", "setDataDisable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setDataDisable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setHiSpeedDataEnable", "USBClass", "setHiSpeedDataEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setHiSpeedDataEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setHiSpeedDataDisable", "USBClass", "setHiSpeedDataDisable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setHiSpeedDataDisable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setSuperSpeedDataEnable", "USBClass", "setSuperSpeedDataEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setSuperSpeedDataEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setSuperSpeedDataDisable", "USBClass", "setSuperSpeedDataDisable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setSuperSpeedDataDisable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setPowerEnable", "USBClass", "setPowerEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPowerEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setPowerDisable", "USBClass", "setPowerDisable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPowerDisable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_clearPortErrorStatus", "USBClass", "clearPortErrorStatus", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_clearPortErrorStatus(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setUpstreamMode", "USBClass", "setUpstreamMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setUpstreamMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setUpstreamBoostMode", "USBClass", "setUpstreamBoostMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setUpstreamBoostMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setDownstreamBoostMode", "USBClass", "setDownstreamBoostMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setDownstreamBoostMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setHubMode", "USBClass", "setHubMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setHubMode(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usb_setEnumerationDelay", "USBClass", "setEnumerationDelay", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setEnumerationDelay(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usb_getHubMode", "USBClass", "getHubMode", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getHubMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getEnumerationDelay", "USBClass", "getEnumerationDelay", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getEnumerationDelay(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getUpstreamMode", "USBClass", "getUpstreamMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getUpstreamMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getUpstreamState", "USBClass", "getUpstreamState", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getUpstreamState(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getUpstreamBoostMode", "USBClass", "getUpstreamBoostMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getUpstreamBoostMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getDownstreamBoostMode", "USBClass", "getDownstreamBoostMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getDownstreamBoostMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usb_getPortCurrent", "USBClass", "getPortCurrent", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortCurrent(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getPortVoltage", "USBClass", "getPortVoltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortVoltage(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC1Current", "USBClass", "getCC1Current", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC1Current(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC2Current", "USBClass", "getCC2Current", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC2Current(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC1Voltage", "USBClass", "getCC1Voltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC1Voltage(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC2Voltage", "USBClass", "getCC2Voltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC2Voltage(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getSBU1Voltage", "USBClass", "getSBU1Voltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getSBU1Voltage(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getSBU2Voltage", "USBClass", "getSBU2Voltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getSBU2Voltage(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getPortCurrentLimit", "USBClass", "getPortCurrentLimit", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortCurrentLimit(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getPortMode", "USBClass", "getPortMode", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getPortState", "USBClass", "getPortState", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortState(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getPortError", "USBClass", "getPortError", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getPortError(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getAltModeConfig", "USBClass", "getAltModeConfig", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getAltModeConfig(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getDownstreamDataSpeed", "USBClass", "getDownstreamDataSpeed", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getDownstreamDataSpeed(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getConnectMode", "USBClass", "getConnectMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getConnectMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC1Enable", "USBClass", "getCC1Enable", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC1Enable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCC2Enable", "USBClass", "getCC2Enable", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCC2Enable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getSBUEnable", "USBClass", "getSBUEnable", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getSBUEnable(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_getCableFlip", "USBClass", "getCableFlip", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_getCableFlip(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usb_setPortCurrentLimit", "USBClass", "setPortCurrentLimit", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPortCurrentLimit(id, result, index, 0xC1u, 0x80000002u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0x80000002u)};
                   }});
    all.push_back({"usb_setPortMode", "USBClass", "setPortMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setPortMode(id, result, index, 0xC1u, 0x80000002u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0x80000002u)};
                   }});
    all.push_back({"usb_setAltModeConfig", "USBClass", "setAltModeConfig", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setAltModeConfig(id, result, index, 0xC1u, 0x80000002u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0x80000002u)};
                   }});
    all.push_back({"usb_setConnectMode", "USBClass", "setConnectMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setConnectMode(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"usb_setCC1Enable", "USBClass", "setCC1Enable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setCC1Enable(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"usb_setCC2Enable", "USBClass", "setCC2Enable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setCC2Enable(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"usb_setSBUEnable", "USBClass", "setSBUEnable", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setSBUEnable(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"usb_setCableFlip", "USBClass", "setCableFlip", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usb_setCableFlip(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"system_getModule", "SystemClass", "getModule", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getModule(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getModuleBaseAddress", "SystemClass", "getModuleBaseAddress", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getModuleBaseAddress(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getRouter", "SystemClass", "getRouter", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getRouter(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getHBInterval", "SystemClass", "getHBInterval", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getHBInterval(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getLED", "SystemClass", "getLED", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getLED(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getLEDMaxBrightness", "SystemClass", "getLEDMaxBrightness", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getLEDMaxBrightness(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getBootSlot", "SystemClass", "getBootSlot", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getBootSlot(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getModel", "SystemClass", "getModel", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getModel(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getModuleHardwareOffset", "SystemClass", "getModuleHardwareOffset", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getModuleHardwareOffset(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getModuleSoftwareOffset", "SystemClass", "getModuleSoftwareOffset", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getModuleSoftwareOffset(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getRouterAddressSetting", "SystemClass", "getRouterAddressSetting", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getRouterAddressSetting(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getInputPowerSource", "SystemClass", "getInputPowerSource", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getInputPowerSource(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getInputPowerBehavior", "SystemClass", "getInputPowerBehavior", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getInputPowerBehavior(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getLinkInterface", "SystemClass", "getLinkInterface", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getLinkInterface(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getVersion", "SystemClass", "getVersion", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getVersion(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getBuild", "SystemClass", "getBuild", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getBuild(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getHardwareVersion", "SystemClass", "getHardwareVersion", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getHardwareVersion(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getSerialNumber", "SystemClass", "getSerialNumber", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getSerialNumber(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getUptime", "SystemClass", "getUptime", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getUptime(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getInputVoltage", "SystemClass", "getInputVoltage", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getInputVoltage(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getInputCurrent", "SystemClass", "getInputCurrent", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getInputCurrent(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getPowerLimit", "SystemClass", "getPowerLimit", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getPowerLimit(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getPowerLimitMax", "SystemClass", "getPowerLimitMax", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getPowerLimitMax(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getPowerLimitState", "SystemClass", "getPowerLimitState", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getPowerLimitState(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getErrors", "SystemClass", "getErrors", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getErrors(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getProtocolFeatures", "SystemClass", "getProtocolFeatures", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getProtocolFeatures(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getTemperature", "SystemClass", "getTemperature", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getTemperature(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getMinimumTemperature", "SystemClass", "getMinimumTemperature", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getMinimumTemperature(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getMaximumTemperature", "SystemClass", "getMaximumTemperature", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getMaximumTemperature(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getUnregulatedVoltage", "SystemClass", "getUnregulatedVoltage", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getUnregulatedVoltage(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getUnregulatedCurrent", "SystemClass", "getUnregulatedCurrent", Out::I32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_getUnregulatedCurrent(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_setRouter", "SystemClass", "setRouter", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setRouter(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setHBInterval", "SystemClass", "setHBInterval", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setHBInterval(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setLED", "SystemClass", "setLED", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setLED(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setLEDMaxBrightness", "SystemClass", "setLEDMaxBrightness", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setLEDMaxBrightness(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setBootSlot", "SystemClass", "setBootSlot", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setBootSlot(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setModuleSoftwareOffset", "SystemClass", "setModuleSoftwareOffset", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setModuleSoftwareOffset(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_routeToMe", "SystemClass", "routeToMe", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_routeToMe(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setInputPowerBehavior", "SystemClass", "setInputPowerBehavior", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setInputPowerBehavior(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setLinkInterface", "SystemClass", "setLinkInterface", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setLinkInterface(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"system_setPowerLimitMax", "SystemClass", "setPowerLimitMax", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_setPowerLimitMax(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"system_save", "SystemClass", "save", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_save(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_reset", "SystemClass", "reset", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_reset(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_logEvents", "SystemClass", "logEvents", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_logEvents(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_resetEntityToFactoryDefaults", "SystemClass", "resetEntityToFactoryDefaults", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_resetEntityToFactoryDefaults(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_resetDeviceToFactoryDefaults", "SystemClass", "resetDeviceToFactoryDefaults", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       system_resetDeviceToFactoryDefaults(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"system_getInputPowerBehaviorConfig", "SystemClass", "getInputPowerBehaviorConfig", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       system_getInputPowerBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"system_getName", "SystemClass", "getName", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       system_getName(id, result, index, in.bytes, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.bytes), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"system_setInputPowerBehaviorConfig", "SystemClass", "setInputPowerBehaviorConfig", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       system_setInputPowerBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"system_setName", "SystemClass", "setName", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       system_setName(id, result, index, in.bytes, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.bytes), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"powerdelivery_getConnectionState", "PowerDeliveryClass", "getConnectionState", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getConnectionState(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getNumberOfPowerDataObjects", "PowerDeliveryClass", "getNumberOfPowerDataObjects", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getNumberOfPowerDataObjects(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"powerdelivery_getPowerDataObject", "PowerDeliveryClass", "getPowerDataObject", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPowerDataObject(id, result, index, 0xC1u, 0xC2u, 0xC3u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u), std::uint64_t(0xC3u)};
                   }});
    all.push_back({"powerdelivery_setPowerDataObject", "PowerDeliveryClass", "setPowerDataObject", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setPowerDataObject(id, result, index, 0xC1u, 0xC2u, 0x80000003u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u), std::uint64_t(0x80000003u)};
                   }});
    all.push_back({"powerdelivery_resetPowerDataObjectToDefault", "PowerDeliveryClass", "resetPowerDataObjectToDefault", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_resetPowerDataObjectToDefault(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"powerdelivery_getPowerDataObjectList", "PowerDeliveryClass", "getPowerDataObjectList", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       powerdelivery_getPowerDataObjectList(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"powerdelivery_getPowerDataObjectEnabled", "PowerDeliveryClass", "getPowerDataObjectEnabled", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPowerDataObjectEnabled(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"powerdelivery_setPowerDataObjectEnabled", "PowerDeliveryClass", "setPowerDataObjectEnabled", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setPowerDataObjectEnabled(id, result, index, 0xC1u, 0xC2u, 0xC3u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u), std::uint64_t(0xC3u)};
                   }});
    all.push_back({"powerdelivery_getPowerDataObjectEnabledList", "PowerDeliveryClass", "getPowerDataObjectEnabledList", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPowerDataObjectEnabledList(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_getRequestDataObject", "PowerDeliveryClass", "getRequestDataObject", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getRequestDataObject(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_setRequestDataObject", "PowerDeliveryClass", "setRequestDataObject", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setRequestDataObject(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"powerdelivery_getPowerRole", "PowerDeliveryClass", "getPowerRole", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPowerRole(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_setPowerRole", "PowerDeliveryClass", "setPowerRole", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setPowerRole(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_getPowerRolePreferred", "PowerDeliveryClass", "getPowerRolePreferred", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPowerRolePreferred(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_setPowerRolePreferred", "PowerDeliveryClass", "setPowerRolePreferred", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setPowerRolePreferred(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_getCableVoltageMax", "PowerDeliveryClass", "getCableVoltageMax", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getCableVoltageMax(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getCableCurrentMax", "PowerDeliveryClass", "getCableCurrentMax", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getCableCurrentMax(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getCableSpeedMax", "PowerDeliveryClass", "getCableSpeedMax", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getCableSpeedMax(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getCableType", "PowerDeliveryClass", "getCableType", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getCableType(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getCableOrientation", "PowerDeliveryClass", "getCableOrientation", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getCableOrientation(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_request", "PowerDeliveryClass", "request", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_request(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_requestStatus", "PowerDeliveryClass", "requestStatus", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_requestStatus(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getOverride", "PowerDeliveryClass", "getOverride", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getOverride(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_setOverride", "PowerDeliveryClass", "setOverride", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setOverride(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"powerdelivery_resetEntityToFactoryDefaults", "PowerDeliveryClass", "resetEntityToFactoryDefaults", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_resetEntityToFactoryDefaults(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_getFlagMode", "PowerDeliveryClass", "getFlagMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getFlagMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_setFlagMode", "PowerDeliveryClass", "setFlagMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setFlagMode(id, result, index, 0xC1u, 0xC2u);
                   },
                   [](Inputs& /*in*/) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), std::uint64_t(0xC2u)};
                   }});
    all.push_back({"powerdelivery_getPeakCurrentConfiguration", "PowerDeliveryClass", "getPeakCurrentConfiguration", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getPeakCurrentConfiguration(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_setPeakCurrentConfiguration", "PowerDeliveryClass", "setPeakCurrentConfiguration", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setPeakCurrentConfiguration(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_getFastRoleSwapCurrent", "PowerDeliveryClass", "getFastRoleSwapCurrent", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_getFastRoleSwapCurrent(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"powerdelivery_setFastRoleSwapCurrent", "PowerDeliveryClass", "setFastRoleSwapCurrent", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       powerdelivery_setFastRoleSwapCurrent(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"powerdelivery_packDataObjectAttributes", "PowerDeliveryClass", "packDataObjectAttributes", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       powerdelivery_packDataObjectAttributes(id, result, index, &in.attributes, 0xC2u, 0xC3u, 0xC4u);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(&in.attributes), std::uint64_t(0xC2u), std::uint64_t(0xC3u), std::uint64_t(0xC4u)};
                   }});
    all.push_back({"powerdelivery_unpackDataObjectAttributes", "PowerDeliveryClass", "unpackDataObjectAttributes", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       powerdelivery_unpackDataObjectAttributes(id, result, index, 0xC1u, &in.field1, &in.field2);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{std::uint64_t(0xC1u), address(&in.field1), address(&in.field2)};
                   }});
    all.push_back({"usbsystem_getUpstream", "USBSystemClass", "getUpstream", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getUpstream(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setUpstream", "USBSystemClass", "setUpstream", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setUpstream(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_getEnumerationDelay", "USBSystemClass", "getEnumerationDelay", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getEnumerationDelay(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setEnumerationDelay", "USBSystemClass", "setEnumerationDelay", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setEnumerationDelay(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usbsystem_getDataRoleList", "USBSystemClass", "getDataRoleList", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getDataRoleList(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_getEnabledList", "USBSystemClass", "getEnabledList", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getEnabledList(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setEnabledList", "USBSystemClass", "setEnabledList", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setEnabledList(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usbsystem_getModeList", "USBSystemClass", "getModeList", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_getModeList(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_setModeList", "USBSystemClass", "setModeList", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_setModeList(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_getStateList", "USBSystemClass", "getStateList", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_getStateList(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_getPowerBehavior", "USBSystemClass", "getPowerBehavior", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getPowerBehavior(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setPowerBehavior", "USBSystemClass", "setPowerBehavior", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setPowerBehavior(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_getPowerBehaviorConfig", "USBSystemClass", "getPowerBehaviorConfig", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_getPowerBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_setPowerBehaviorConfig", "USBSystemClass", "setPowerBehaviorConfig", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_setPowerBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_getDataRoleBehavior", "USBSystemClass", "getDataRoleBehavior", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getDataRoleBehavior(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setDataRoleBehavior", "USBSystemClass", "setDataRoleBehavior", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setDataRoleBehavior(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_getDataRoleBehaviorConfig", "USBSystemClass", "getDataRoleBehaviorConfig", Out::Count,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_getDataRoleBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_setDataRoleBehaviorConfig", "USBSystemClass", "setDataRoleBehaviorConfig", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& in) {
                       usbsystem_setDataRoleBehaviorConfig(id, result, index, in.words, 0xFFFFFFFFu);
                   },
                   [](Inputs& in) {
                       return std::vector<std::uint64_t>{address(in.words), std::uint64_t(0xFFFFFFFFu)};
                   }});
    all.push_back({"usbsystem_getSelectorMode", "USBSystemClass", "getSelectorMode", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getSelectorMode(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setSelectorMode", "USBSystemClass", "setSelectorMode", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setSelectorMode(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_resetEntityToFactoryDefaults", "USBSystemClass", "resetEntityToFactoryDefaults", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_resetEntityToFactoryDefaults(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_getUpstreamHS", "USBSystemClass", "getUpstreamHS", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getUpstreamHS(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setUpstreamHS", "USBSystemClass", "setUpstreamHS", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setUpstreamHS(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_getUpstreamSS", "USBSystemClass", "getUpstreamSS", Out::U8,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getUpstreamSS(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setUpstreamSS", "USBSystemClass", "setUpstreamSS", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setUpstreamSS(id, result, index, 0xC1u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0xC1u)}; }});
    all.push_back({"usbsystem_getOverride", "USBSystemClass", "getOverride", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getOverride(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setOverride", "USBSystemClass", "setOverride", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setOverride(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usbsystem_setDataHSMaxDatarate", "USBSystemClass", "setDataHSMaxDatarate", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setDataHSMaxDatarate(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usbsystem_getDataHSMaxDatarate", "USBSystemClass", "getDataHSMaxDatarate", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getDataHSMaxDatarate(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    all.push_back({"usbsystem_setDataSSMaxDatarate", "USBSystemClass", "setDataSSMaxDatarate", Out::None,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_setDataSSMaxDatarate(id, result, index, 0x80000001u);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{std::uint64_t(0x80000001u)}; }});
    all.push_back({"usbsystem_getDataSSMaxDatarate", "USBSystemClass", "getDataSSMaxDatarate", Out::U32,
                   [](const std::uint32_t* id, Result* result, std::int32_t index, Inputs& /*in*/) {
                       usbsystem_getDataSSMaxDatarate(id, result, index);
                   },
                   [](Inputs& /*in*/) { return std::vector<std::uint64_t>{}; }});
    return all;
}

}  // namespace wraptable
