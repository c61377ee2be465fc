#include "SimHostEntities.h"

#include "SimEntities.h"

namespace morvsim {

namespace {

void put(SimModule& m, std::uint8_t command, std::uint8_t option, std::uint8_t index, Bytes value,
         std::uint8_t subindex = 0)
{
    m.entities[entityKey(command, option, index, subindex)] = std::move(value);
}

Bytes i32(std::int32_t value)
{
    return u32(static_cast<std::uint32_t>(value));
}

}  // namespace

std::uint8_t pdAttributes(std::uint8_t partner, std::uint8_t powerRole, std::uint8_t ruleIndex)
{
    return static_cast<std::uint8_t>(((partner & 0x03) << 6) | ((powerRole & 0x03) << 4) | (ruleIndex & 0x0F));
}

Bytes words(const std::vector<std::uint32_t>& values)
{
    Bytes out;
    for (std::uint32_t v : values) {
        Bytes word = u32(v);
        out.insert(out.end(), word.begin(), word.end());
    }
    return out;
}

void installHostEntities(SimModule& m, const HostEntityValues& v)
{
    for (std::uint8_t i = 0; i < v.ports; ++i) {
        put(m, kPortCommand, kPortVbusVoltage, i, i32(v.vbusVoltage + i));
        put(m, kPortCommand, kPortVbusCurrent, i, i32(v.vbusCurrent));
        put(m, kPortCommand, kPortState, i, u32(v.portState));
        put(m, kPortCommand, kPortMode, i, u32(v.portMode));
        put(m, kPortCommand, kPortCC1State, i, u16(v.cc1State));
        put(m, kPortCommand, kPortEnabled, i, u8(v.portEnabled));
        put(m, kPortCommand, kPortDataRole, i, u8(v.dataRole));
        const std::string name = v.portNamePrefix + std::to_string(i);
        m.entities[bufferKey(kPortCommand, kPortName, i)] = Bytes(name.begin(), name.end());

        put(m, kUsbCommand, kUsbPortVoltage, 0, i32(v.usbPortVoltage - i), i);
        put(m, kUsbCommand, kUsbPortCurrentLimit, 0, u32(v.usbPortCurrentLimit), i);
        put(m, kUsbCommand, kUsbPortError, 0, u32(v.usbPortError), i);
        put(m, kUsbCommand, kUsbConnectMode, 0, u8(v.connectMode), i);

        put(m, kPowerDeliveryCommand, kPdConnectionState, i, u8(v.connectionState));
        put(m, kPowerDeliveryCommand, kPdPowerRole, i, u8(v.powerRole));
        put(m, kPowerDeliveryCommand, kPdNumberOfPowerDataObjects, i,
            u8(static_cast<std::uint8_t>(v.sourceObjects.size())), pdAttributes(0, 1, 0));
        for (std::size_t n = 0; n < v.sourceObjects.size(); ++n)
            put(m, kPowerDeliveryCommand, kPdPowerDataObject, i, u32(v.sourceObjects[n]),
                pdAttributes(0, 1, static_cast<std::uint8_t>(n + 1)));
        m.entities[bufferKey(kPowerDeliveryCommand, kPdPowerDataObjectList, i)] = words(v.sourceObjects);
        for (std::uint8_t f = 0; f < v.flagModes; ++f)
            put(m, kPowerDeliveryCommand, kPdFlagMode, i, u8(0), f);
    }
    put(m, kUsbCommand, kUsbHubMode, 0, u32(v.hubMode));
    put(m, kUsbCommand, kUsbUpstreamState, 0, u8(v.upstreamState));

    put(m, kUsbSystemCommand, kUsbSysUpstream, 0, u8(v.upstream));
    put(m, kUsbSystemCommand, kUsbSysEnumerationDelay, 0, u32(v.enumerationDelay));
    put(m, kUsbSystemCommand, kUsbSysEnabledList, 0, u32(v.enabledList));
    m.entities[bufferKey(kUsbSystemCommand, kUsbSysModeList, 0)] = words(v.modeList);
    m.entities[bufferKey(kUsbSystemCommand, kUsbSysStateList, 0)] = words(v.stateList);
    m.entities[bufferKey(kUsbSystemCommand, kUsbSysPowerBehaviorConfig, 0)] = words(v.powerBehaviorConfig);

    for (std::uint8_t command : {kPortCommand, kUsbCommand, kPowerDeliveryCommand, kUsbSystemCommand})
        installEntityHandler(m, command);
}

}  // namespace morvsim
