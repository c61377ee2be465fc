// Factory data (command 94) on a simulated module: sixteen blocks read or
// written in packets of up to 26 bytes and closed by an end packet with the
// byte count.
//
//   std::shared_ptr<SimFactory> factory;
//   sim.withModule(4, [&](SimModule& m) {
//       factory = installFactoryData(m);
//       factory->blocks[3] = Bytes(60, 1);
//       factory->faults.errorCode[FactoryStep::End] = 14;
//   });
//
// The state is shared with the handler on the simulator thread: read or
// change it only inside ModuleSimulator::withModule.
//
//   [94, block | 0x40]           -> [94, block, first 26 bytes]   (starts a read)
//   [94, block]                  -> [94, block, next 26 bytes]    (fewer than 26: the last)
//   [94, block | 0x50, bytes]    -> [94, block]                   (starts a write)
//   [94, block | 0x10, bytes]    -> [94, block]
//   [94, 0x20, total u16]        -> [94, 0]; a write's bytes are stored now. A total that
//                                   differs from the bytes moved answers code 14; with no
//                                   transfer in progress only a total of 0 (an empty write) is taken.
//   Errors: [94, block | 0x80, code] ([94, 0x80, code] for the end packet); a packet of no
//   transfer in progress answers code 2, a write past blockCapacity code 15.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "SimTypes.h"

namespace morvsim {

constexpr std::uint8_t kFactoryCommand = 94;

enum class FactoryStep { ReadFirst, ReadNext, WriteFirst, WriteNext, End };

struct FactoryFaults {
    std::map<FactoryStep, std::uint8_t> errorCode;  // answered with an error of this code
    std::set<FactoryStep> silent;                   // never answered
    std::map<FactoryStep, Bytes> replyOverride;     // answered with exactly these data bytes
};

class SimFactory {
public:
    std::array<Bytes, 16> blocks;
    std::size_t blockCapacity = 8192;
    FactoryFaults faults;
    std::vector<std::uint16_t> endTotals;  // the count of every end packet received

    void handle(SimModule& module, const SimPacket& packet, SimReply& reply);

private:
    bool active_ = false;
    bool writing_ = false;
    std::uint8_t block_ = 0;
    std::size_t moved_ = 0;  // reading: bytes sent
    Bytes written_;
};

std::shared_ptr<SimFactory> installFactoryData(SimModule& module);

}  // namespace morvsim
