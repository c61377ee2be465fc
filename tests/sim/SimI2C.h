// The I2C bus (command 8) of a simulated routing module, with devices at
// chosen bus addresses; modules behind the router sit on the bus at their
// module address, where the host's probe (a write) finds them.
//
//   ModuleSimulator sim(SimModule(4, 0x1000, 17));        // the routing module
//   sim.withModule(4, [](SimModule& m) {
//       installI2CBus(m);
//       addI2CDevice(m, 0, 0x50, Bytes{1, 2, 3, 4});      // a memory at 0x50 on bus 0
//   });
//   addModuleBehindRouter(sim, 4, SimModule(6, 0x2000, 19));  // module 6 with its system entity
//
// Requests and replies ([8, bus, address, ...]):
//   read     [8, bus, addr | 1, n, speed]           -> [8, bus, addr | 1, n, 0, n bytes]
//   write    [8, bus, addr, n, speed, n bytes]      -> [8, bus, addr, 0, 0]
//   pull-up  [8, bus, 1, on]                        -> [8, bus, 1, 0, 0]
// A device reads from its register pointer onwards (wrapping); a write sets
// the pointer to its first byte and stores the rest from there. No device at
// the address answers status kI2CNack; a length above 23, or a write whose
// data do not match its length, answers kI2CBadRequest.
#pragma once

#include <cstdint>

#include "SimSystemEntity.h"
#include "SimTypes.h"

namespace morvsim {

class ModuleSimulator;

constexpr std::uint8_t kI2CCommand = 8;
constexpr std::uint8_t kI2CNack = 0x80 | 6;
constexpr std::uint8_t kI2CBadRequest = 0x80 | 14;

void installI2CBus(SimModule& router);
void handleI2CRequest(SimModule& router, const SimPacket& packet, SimReply& reply);

// address is the 8-bit bus address; its bit 0 is ignored.
void addI2CDevice(SimModule& router, std::uint8_t bus, std::uint8_t address, Bytes memory = Bytes(256, 0));
void removeI2CDevice(SimModule& router, std::uint8_t bus, std::uint8_t address);
// The device's memory; empty when there is none.
Bytes i2cDeviceMemory(const SimModule& router, std::uint8_t bus, std::uint8_t address);
// -1 before the first pull-up request, else 0 or 1.
int i2cPullup(const SimModule& router, std::uint8_t bus);
// Speed code of the last transfer on the bus; -1 before the first.
int i2cLastSpeed(const SimModule& router, std::uint8_t bus);

// Adds the module to the simulator with its system entity and puts it on bus
// 0 of the routing module at its module address.
void addModuleBehindRouter(ModuleSimulator& sim, std::uint8_t routerAddress, SimModule module,
                           const SystemValues& values = SystemValues());

}  // namespace morvsim
