// Streamed values on a simulated module: the stream control entity (command
// 93) and the packets a module sends on its own while it streams.
//
//   sim.withModule(4, [](SimModule& m) { installStreamControl(m); });
//   // [93, 0x81, 0x20, key] enables the key, [93, 0x82, 0x20, key] disables it
//   // (answers [93, 0xC1, 0] and [93, 0xC2, 0]); [93, 0x41, 0x20] answers
//   // [93, 1, 0, 1 when any key streams else 0].
//   sim.sendPacket(4, streamSample(1, 10, 5, 0, 0, 1234, 7));
//
// The enabled keys are kept in SimModule::entities under streamKeysKey() as
// 4-byte big-endian words; a code stored under streamRefusalKey() makes every
// enable answer an error with that code.
#pragma once

#include <cstdint>
#include <vector>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kStreamCommand = 93;

std::uint32_t streamKeysKey();
std::uint32_t streamRefusalKey();

void installStreamControl(SimModule& module);
void handleStreamControl(SimModule& module, const SimPacket& packet, SimReply& reply);

// Keys (module, command, option, index as a big-endian word) enabled now.
std::vector<std::uint32_t> streamingKeys(const SimModule& module);

// Data bytes of a sample of type 1-3 (u8, u16, u32) or 5-7 (the same with a
// sub-index); the sequence byte is 0.
Bytes streamSample(std::uint8_t type, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                   std::uint8_t subindex, std::uint64_t timestamp, std::uint32_t value);

// Data bytes of a streamed byte-buffer packet: [command, option, index | 0x40,
// bytes..., sequence byte].
Bytes streamBytesPacket(std::uint8_t command, std::uint8_t option, std::uint8_t index, const Bytes& bytes,
                        std::uint8_t sequenceByte);

}  // namespace morvsim
