// Entity requests on a simulated module: get, set and call of u8, u16 and u32
// values by command, option, index and sub-index, byte-buffer values in both
// directions with the sequence and continue rules, and error replies. The
// values live in SimModule::entities under the keys below.
//
//   sim.withModule(4, [](SimModule& m) {
//       installEntityHandler(m, 3);
//       m.entities[entityKey(3, 8, 0)] = u8(19);          // get of option 8 answers 19
//       m.entities[entityKey(3, 7, 0, 2)] = u32(0x1234);  // option 7, sub-index 2
//       m.entities[bufferKey(3, 30, 0)] = Bytes(100, 7);  // a byte-buffer entity
//       m.entities[errorKey(3, 9, 0)] = {29};             // option 9 answers an error
//       m.entities[silentKey(3, 11, 0)] = {};             // option 11 is never answered
//   });
//
// A get of a value answers [command, option, index, value]; of a buffer, the
// buffer in packets of at most 24 bytes, each ended by its sequence byte (bit 7:
// more follow; bits 0-6: the packet counter from 0, wrapping after 127). A set
// stores the value (of a buffer entity: once its last packet came in sequence)
// and answers [command, option | 0xC0, index]; a call (a set without a value)
// just answers. A buffer packet out of sequence answers an error with code 24.
// A get of something absent answers an error with code 29.
#pragma once

#include <cstdint>

#include "SimTypes.h"

namespace morvsim {

std::uint32_t entityKey(std::uint8_t command, std::uint8_t option, std::uint8_t index, std::uint8_t subindex = 0);
std::uint32_t bufferKey(std::uint8_t command, std::uint8_t option, std::uint8_t index);
// Its value is one byte: the error code the option answers with.
std::uint32_t errorKey(std::uint8_t command, std::uint8_t option, std::uint8_t index);
// Present: no request of the option (get or set) is answered.
std::uint32_t silentKey(std::uint8_t command, std::uint8_t option, std::uint8_t index);

// Values as the module stores and sends them (big-endian).
Bytes u8(std::uint8_t value);
Bytes u16(std::uint16_t value);
Bytes u32(std::uint32_t value);

// Serves the entity requests of one command on the module.
void installEntityHandler(SimModule& module, std::uint8_t command);

// The handler itself, for a test that wraps it.
void handleEntityRequest(SimModule& module, const SimPacket& packet, SimReply& reply);

}  // namespace morvsim
