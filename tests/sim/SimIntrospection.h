// Introspection (command 73) and the echo test (command 23) of a simulated
// module.
//
//   IntrospectionTable table;
//   table.build = 4711;
//   table.classQuantities[3] = 1;                  // [73, 4, 3] -> count 1
//   table.subClassQuantities[{3, 0}] = 1;          // [73, 5, 3, 0] -> 1
//   table.entityGroups[{8, 0}] = 2;                // [73, 6, 8, 0] -> 2
//   table.answers[{95, 10, 0, 0x80}] = 0;          // [73, 1, 95, 10, 0, 0x80] -> 0
//   sim.withModule(4, [&](SimModule& m) { installIntrospection(m, table); installEcho(m); });
//
// A hasUEI question with no entry in answers is answered from the module's
// entity values (SimEntities.h): 0 when the module holds a value or buffer
// for that command, option and index, else 29. Unknown introspection codes,
// and requests of the wrong length, get no answer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kIntrospectionCommand = 73;
constexpr std::uint8_t kEchoCommand = 23;

struct IntrospectionTable {
    std::uint32_t build = 0;
    std::map<std::uint8_t, std::uint8_t> classQuantities;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> subClassQuantities;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> entityGroups;
    // By command, option, index and flags.
    std::map<std::array<std::uint8_t, 4>, std::uint8_t> answers;
};

void installIntrospection(SimModule& module, const IntrospectionTable& table);
Handler introspectionHandler(const IntrospectionTable& table);

// Answers [23, data...] with the same bytes.
void installEcho(SimModule& module);
void handleEcho(SimModule& module, const SimPacket& packet, SimReply& reply);

}  // namespace morvsim
