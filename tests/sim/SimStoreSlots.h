// Store slots (command 4) on a simulated module: numbered storage areas that
// the host sizes, opens for reading or writing, reads or writes in chunks and
// closes.
//
//   std::shared_ptr<SimStoreSlots> slots;
//   sim.withModule(4, [&](SimModule& m) {
//       slots = installStoreSlots(m);
//       slots->slots[{1, 2}] = SimSlot{256, Bytes(40, 7)};   // store 1, slot 2
//       slots->faults.errorCode[kSlotOpenWrite] = 31;        // refuse writing
//   });
//   ... later, again inside withModule: slots->slots[{1, 2}].contents
//
// The state is shared with the handler, which runs on the simulator thread:
// read or change it only inside ModuleSimulator::withModule.
//
// Requests and answers (an error answer repeats the sub-command with 0x80):
//   [4, 1, store, slot]  -> [4, 1, store, slot, capacity u16 big-endian]
//   [4, 2, store, slot]  -> [4, 2, store, slot, size u16 big-endian]
//   [4, 3 or 4, store, slot] -> [4, 3 or 4, store, slot, handle]  (opens for reading or writing)
//   [4, 6, handle]       -> [4, 6, handle, next 1..readChunk bytes]   (code 10 at the end)
//   [4, 7, handle, bytes] -> [4, 7, handle, 8-bit sum of the bytes]  (code 15 past the capacity)
//   [4, 8, handle]       -> [4, 8, handle, 0]  (a slot open for writing takes the bytes written)
//   An unknown slot answers code 3, an unknown handle code 2.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kSlotCommand = 4;
constexpr std::uint8_t kSlotCapacity = 1;
constexpr std::uint8_t kSlotSize = 2;
constexpr std::uint8_t kSlotOpenRead = 3;
constexpr std::uint8_t kSlotOpenWrite = 4;
constexpr std::uint8_t kSlotRead = 6;
constexpr std::uint8_t kSlotWrite = 7;
constexpr std::uint8_t kSlotClose = 8;

struct SimSlot {
    std::uint16_t capacity = 0;
    Bytes contents;
};

struct SlotFaults {
    std::map<std::uint8_t, std::uint8_t> errorCode;  // sub-command -> answered with an error of this code
    std::set<std::uint8_t> silent;                   // sub-commands never answered
    std::map<std::uint8_t, Bytes> replyOverride;     // sub-command -> answered with exactly these data bytes
    int failAfter = -1;            // reads or writes of one handle answered normally before the rest fail
    std::uint8_t failCode = 6;     // their error code
    bool wrongSum = false;         // write acknowledgements carry the sum plus one
    std::size_t readChunk = 25;    // data bytes per read answer (1 to 25)
};

class SimStoreSlots {
public:
    struct OpenSlot {
        std::pair<std::uint8_t, std::uint8_t> slot;
        bool writing = false;
        std::size_t cursor = 0;  // reading: next byte
        Bytes written;           // writing: bytes so far
        int transfers = 0;       // reads or writes answered
    };

    std::map<std::pair<std::uint8_t, std::uint8_t>, SimSlot> slots;  // by store and slot
    SlotFaults faults;
    std::map<std::uint8_t, OpenSlot> open;  // by handle; a new one gets the lowest free handle
    std::uint64_t opens = 0;
    std::uint64_t closes = 0;  // closes answered without error

    void handle(SimModule& module, const SimPacket& packet, SimReply& reply);

private:
    void answer(SimModule& module, std::uint8_t sub, std::uint8_t handleOrStore, const Bytes& rest, SimReply& reply);
    void fail(SimModule& module, std::uint8_t sub, const Bytes& head, std::uint8_t code, SimReply& reply);
};

// Installs the handler of command 4 on the module; the state it serves.
std::shared_ptr<SimStoreSlots> installStoreSlots(SimModule& module);

}  // namespace morvsim
