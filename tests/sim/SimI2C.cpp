#include "SimI2C.h"

#include "ModuleSimulator.h"

namespace morvsim {

namespace {

// Command byte of the bus's keys in SimModule::entities; no entity uses it.
constexpr std::uint8_t kBusKeys = 0xF8;
enum KeyKind : std::uint8_t { kMemory = 1, kPointer = 2, kPullup = 3, kSpeed = 4 };
constexpr std::uint8_t kMaxTransfer = 23;
constexpr std::uint8_t kPullupAddress = 1;

std::uint32_t busKey(KeyKind kind, std::uint8_t bus, std::uint8_t address)
{
    return (static_cast<std::uint32_t>(kBusKeys) << 24) | (static_cast<std::uint32_t>(kind) << 16) |
           (static_cast<std::uint32_t>(bus) << 8) | (address & 0xFE);
}

void answer(SimModule& m, SimReply& reply, std::uint8_t bus, std::uint8_t address, std::uint8_t count,
            std::uint8_t status, const Bytes& data = {})
{
    Bytes out;
    out.reserve(5 + data.size());
    for (std::uint8_t b : {kI2CCommand, bus, address, count, status})
        out.push_back(b);
    for (std::uint8_t b : data)
        out.push_back(b);
    reply.packet(m.address, out);
}

}  // namespace

void installI2CBus(SimModule& router)
{
    router.handlers[kI2CCommand] = handleI2CRequest;
}

void handleI2CRequest(SimModule& m, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 4) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t bus = d[1];
    const std::uint8_t address = d[2];
    if (d.size() == 4 && address == kPullupAddress) {
        m.entities[busKey(kPullup, bus, 0)] = Bytes{static_cast<std::uint8_t>(d[3] ? 1 : 0)};
        answer(m, reply, bus, address, 0, 0);
        return;
    }
    if (d.size() < 5) {
        ++m.unhandledPackets;
        return;
    }
    const std::uint8_t length = d[3];
    m.entities[busKey(kSpeed, bus, 0)] = Bytes{d[4]};
    const bool read = (address & 1) != 0;
    const std::uint8_t replyCountByte = 0;
    if (length > kMaxTransfer || (!read && d.size() != 5u + length)) {
        answer(m, reply, bus, address, replyCountByte, kI2CBadRequest);
        return;
    }
    auto memory = m.entities.find(busKey(kMemory, bus, address));
    if (memory == m.entities.end() || memory->second.empty()) {
        answer(m, reply, bus, address, replyCountByte, kI2CNack);
        return;
    }
    Bytes& mem = memory->second;
    Bytes& pointerBytes = m.entities[busKey(kPointer, bus, address)];
    if (pointerBytes.empty())
        pointerBytes = Bytes{0};
    std::size_t pointer = pointerBytes[0] % mem.size();
    if (read) {
        Bytes data;
        for (std::uint8_t i = 0; i < length; ++i) {
            data.push_back(mem[pointer]);
            pointer = (pointer + 1) % mem.size();
        }
        pointerBytes[0] = static_cast<std::uint8_t>(pointer);
        answer(m, reply, bus, address, length, 0, data);
        return;
    }
    if (length > 0) {
        pointer = d[5] % mem.size();
        for (std::size_t i = 6; i < d.size(); ++i) {
            mem[pointer] = d[i];
            pointer = (pointer + 1) % mem.size();
        }
        pointerBytes[0] = static_cast<std::uint8_t>(d[5] % mem.size());
    }
    answer(m, reply, bus, address, 0, 0);
}

void addI2CDevice(SimModule& router, std::uint8_t bus, std::uint8_t address, Bytes memory)
{
    if (memory.empty())
        memory = Bytes(1, 0);
    router.entities[busKey(kMemory, bus, address)] = std::move(memory);
    router.entities[busKey(kPointer, bus, address)] = Bytes{0};
}

void removeI2CDevice(SimModule& router, std::uint8_t bus, std::uint8_t address)
{
    router.entities.erase(busKey(kMemory, bus, address));
    router.entities.erase(busKey(kPointer, bus, address));
}

Bytes i2cDeviceMemory(const SimModule& router, std::uint8_t bus, std::uint8_t address)
{
    auto it = router.entities.find(busKey(kMemory, bus, address));
    return it == router.entities.end() ? Bytes() : it->second;
}

int i2cPullup(const SimModule& router, std::uint8_t bus)
{
    auto it = router.entities.find(busKey(kPullup, bus, 0));
    return it == router.entities.end() || it->second.empty() ? -1 : it->second[0];
}

int i2cLastSpeed(const SimModule& router, std::uint8_t bus)
{
    auto it = router.entities.find(busKey(kSpeed, bus, 0));
    return it == router.entities.end() || it->second.empty() ? -1 : it->second[0];
}

void addModuleBehindRouter(ModuleSimulator& sim, std::uint8_t routerAddress, SimModule module,
                           const SystemValues& values)
{
    const std::uint8_t address = module.address;
    SystemValues behind = values;
    behind.router = routerAddress;
    behind.routerAddressSetting = routerAddress;
    installSystemEntity(module, behind);
    sim.addModule(std::move(module));
    sim.withModule(routerAddress, [&](SimModule& router) { addI2CDevice(router, 0, address); });
}

}  // namespace morvsim
