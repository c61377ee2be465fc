#include "SimSystemEntity.h"

#include "SimEntities.h"

namespace morvsim {

namespace {

enum Access : std::uint8_t {
    kNone = 0,
    kGet = 1,
    kSet = 2,
    kCall = 4,
};

constexpr std::uint8_t kOptionCount = 64;
constexpr std::uint8_t kErrInvalidOption = 29;
// Command byte of the bookkeeping keys in SimModule::entities; no entity uses it.
constexpr std::uint8_t kBookkeeping = 0xF3;

std::uint8_t accessOf(std::uint8_t option)
{
    switch (option) {
    case 1: case 7: case 8: case 9: case 12: case 13: case 14: case 16:
    case 21: case 22: case 23: case 25: case 26: case 27: case 28: case 29:
    case 33: case 35: case 40: case 41: case 43: case 45:
        return kGet;
    case 2: case 3: case 4: case 6: case 15: case 30: case 31: case 32:
    case 34: case 38: case 42:
        return kGet | kSet;
    case 20:
        return kSet;
    case 10: case 11: case 24: case 36: case 37:
        return kCall;
    default:
        return kNone;
    }
}

std::uint32_t callKey(std::uint8_t option)
{
    return (static_cast<std::uint32_t>(kBookkeeping) << 24) | (static_cast<std::uint32_t>(option) << 16);
}

Bytes i32(std::int32_t value)
{
    return u32(static_cast<std::uint32_t>(value));
}

void put(SimModule& m, std::uint8_t option, Bytes value)
{
    m.entities[entityKey(kSystemCommand, option, 0)] = std::move(value);
}

void errorReply(SimModule& m, SimReply& reply, std::uint8_t option, std::uint8_t index)
{
    reply.packet(m.address, {kSystemCommand, option, static_cast<std::uint8_t>(index | 0x80), kErrInvalidOption});
}

}  // namespace

void installSystemEntity(SimModule& m, const SystemValues& v)
{
    put(m, 1, u8(m.address));
    put(m, 2, u8(v.router));
    put(m, 3, u8(v.heartbeatInterval));
    put(m, 4, u8(v.led));
    put(m, 6, u8(v.bootSlot));
    put(m, 7, u32(v.version));
    put(m, 8, u8(m.model));
    put(m, 9, u32(m.serialNumber));
    put(m, 12, u32(v.inputVoltage));
    put(m, 13, u8(v.hardwareOffset));
    put(m, 14, u8(v.baseAddress));
    put(m, 15, u8(v.softwareOffset));
    put(m, 16, u8(v.routerAddressSetting));
    put(m, 20, u8(v.routeToMe));
    put(m, 21, u32(v.inputCurrent));
    put(m, 22, u32(v.uptime));
    put(m, 23, i32(v.maximumTemperature));
    put(m, 25, i32(v.unregulatedVoltage));
    put(m, 26, i32(v.unregulatedCurrent));
    put(m, 27, i32(v.temperature));
    put(m, 28, i32(v.minimumTemperature));
    put(m, 29, u8(v.inputPowerSource));
    put(m, 30, u8(v.inputPowerBehavior));
    m.entities[bufferKey(kSystemCommand, 31, 0)] = v.inputPowerBehaviorConfig;
    m.entities[bufferKey(kSystemCommand, 32, 0)] = Bytes(v.name.begin(), v.name.end());
    put(m, 33, u32(v.powerLimit));
    put(m, 34, u32(v.powerLimitMax));
    put(m, 35, u32(v.powerLimitState));
    put(m, 38, u8(v.linkInterface));
    put(m, 40, u32(v.hardwareVersion));
    put(m, 41, u32(v.errors));
    put(m, 42, u8(v.ledMaxBrightness));
    put(m, 43, u32(v.build));
    put(m, 45, u32(v.protocolFeatures));
    m.handlers[kSystemCommand] = handleSystemRequest;
}

void handleSystemRequest(SimModule& m, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 3) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t option = d[1] & 0x3F;
    const std::uint8_t index = d[2] & 0x1F;
    const bool get = (d[1] & 0x40) != 0;
    const bool set = !get && (d[1] & 0x80) != 0;
    if (!get && !set) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t access = option < kOptionCount ? accessOf(option) : static_cast<std::uint8_t>(kNone);
    const bool call = set && d.size() == 3 && (access & kCall) != 0;
    const bool allowed = index == 0 && ((get && (access & kGet)) || (set && (access & kSet)) || call);
    if (!allowed) {
        errorReply(m, reply, get ? option : static_cast<std::uint8_t>(option | 0xC0), index);
        return;
    }
    if (call) {
        Bytes& count = m.entities[callKey(option)];
        if (count.empty())
            count = u32(0);
        std::uint32_t calls = (static_cast<std::uint32_t>(count[0]) << 24) | (static_cast<std::uint32_t>(count[1]) << 16) |
                              (static_cast<std::uint32_t>(count[2]) << 8) | count[3];
        count = u32(calls + 1);
        reply.packet(m.address, {kSystemCommand, static_cast<std::uint8_t>(option | 0xC0), index});
        return;
    }
    handleEntityRequest(m, packet, reply);
    if (set && option == 20 && d.size() >= 4) {
        std::uint8_t router = m.address;
        if (d[3] == 0) {
            auto setting = m.entities.find(entityKey(kSystemCommand, 16, 0));
            router = setting != m.entities.end() && !setting->second.empty() ? setting->second[0] : 0;
        }
        put(m, 2, u8(router));
    }
}

unsigned systemCalls(const SimModule& m, std::uint8_t option)
{
    auto it = m.entities.find(callKey(option));
    if (it == m.entities.end() || it->second.size() != 4)
        return 0;
    const Bytes& c = it->second;
    return (static_cast<unsigned>(c[0]) << 24) | (static_cast<unsigned>(c[1]) << 16) | (static_cast<unsigned>(c[2]) << 8) | c[3];
}

}  // namespace morvsim
