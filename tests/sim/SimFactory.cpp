#include "SimFactory.h"

#include <algorithm>

namespace morvsim {

namespace {

constexpr std::uint8_t kWriteBit = 0x10;
constexpr std::uint8_t kEndPacket = 0x20;
constexpr std::uint8_t kFirstBit = 0x40;
constexpr std::uint8_t kErrorBit = 0x80;
constexpr std::size_t kChunk = 26;
constexpr std::uint8_t kErrParam = 2;
constexpr std::uint8_t kErrSize = 14;
constexpr std::uint8_t kErrOverrun = 15;

}  // namespace

void SimFactory::handle(SimModule& module, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 2) {
        ++module.unhandledPackets;
        return;
    }
    const std::uint8_t control = d[1];
    const bool end = control == kEndPacket;
    const std::uint8_t block = end ? 0 : static_cast<std::uint8_t>(control & 0x0F);
    const bool first = (control & kFirstBit) != 0;
    const bool write = (control & kWriteBit) != 0;
    const FactoryStep step = end     ? FactoryStep::End
                             : write ? (first ? FactoryStep::WriteFirst : FactoryStep::WriteNext)
                                     : (first ? FactoryStep::ReadFirst : FactoryStep::ReadNext);
    auto error = [&](std::uint8_t code) {
        reply.packet(module.address, {kFactoryCommand, static_cast<std::uint8_t>(block | kErrorBit), code});
    };

    if (end && d.size() >= 4)
        endTotals.push_back(static_cast<std::uint16_t>((d[2] << 8) | d[3]));
    if (faults.silent.count(step))
        return;
    auto replaced = faults.replyOverride.find(step);
    if (replaced != faults.replyOverride.end()) {
        reply.packet(module.address, replaced->second);
        return;
    }
    auto refused = faults.errorCode.find(step);
    if (refused != faults.errorCode.end()) {
        active_ = false;
        error(refused->second);
        return;
    }

    if (end) {
        const bool wasActive = active_;
        active_ = false;
        if (d.size() != 4) {
            error(kErrParam);
            return;
        }
        const std::size_t total = static_cast<std::size_t>((d[2] << 8) | d[3]);
        if (!wasActive) {
            // Only an empty write has no transfer before its end packet.
            if (total == 0)
                reply.packet(module.address, {kFactoryCommand, 0});
            else
                error(kErrParam);
            return;
        }
        if (total != (writing_ ? written_.size() : moved_)) {
            error(kErrSize);
            return;
        }
        if (writing_)
            blocks[block_] = written_;
        reply.packet(module.address, {kFactoryCommand, 0});
        return;
    }
    if (first) {
        active_ = true;
        writing_ = write;
        block_ = block;
        moved_ = 0;
        written_.clear();
    } else if (!active_ || writing_ != write || block_ != block) {
        error(kErrParam);
        return;
    }
    if (write) {
        if (written_.size() + (d.size() - 2) > blockCapacity) {
            active_ = false;
            error(kErrOverrun);
            return;
        }
        for (std::size_t i = 2; i < d.size(); ++i)
            written_.push_back(d[i]);
        reply.packet(module.address, {kFactoryCommand, block});
        return;
    }
    const Bytes& data = blocks[block];
    const std::size_t n = std::min(kChunk, data.size() - std::min(moved_, data.size()));
    Bytes out{kFactoryCommand, block};
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(data[moved_ + i]);
    moved_ += n;
    reply.packet(module.address, out);
}

std::shared_ptr<SimFactory> installFactoryData(SimModule& module)
{
    auto state = std::make_shared<SimFactory>();
    module.handlers[kFactoryCommand] = [state](SimModule& m, const SimPacket& p, SimReply& r) { state->handle(m, p, r); };
    return state;
}

}  // namespace morvsim
