#include "SimStoreSlots.h"

#include <algorithm>

namespace morvsim {

namespace {

constexpr std::uint8_t kErrorBit = 0x80;
constexpr std::uint8_t kErrParam = 2;
constexpr std::uint8_t kErrNotFound = 3;
constexpr std::uint8_t kErrEOF = 10;
constexpr std::uint8_t kErrOverrun = 15;
constexpr std::uint8_t kErrResource = 30;
constexpr std::uint8_t kNoHandle = 255;

}  // namespace

void SimStoreSlots::fail(SimModule& module, std::uint8_t sub, const Bytes& head, std::uint8_t code, SimReply& reply)
{
    Bytes data{kSlotCommand, static_cast<std::uint8_t>(sub | kErrorBit)};
    for (std::uint8_t b : head)
        data.push_back(b);
    data.push_back(code);
    reply.packet(module.address, data);
}

void SimStoreSlots::answer(SimModule& module, std::uint8_t sub, std::uint8_t first, const Bytes& rest,
                           SimReply& reply)
{
    Bytes data{kSlotCommand, sub, first};
    for (std::uint8_t b : rest)
        data.push_back(b);
    reply.packet(module.address, data);
}

void SimStoreSlots::handle(SimModule& module, const SimPacket& packet, SimReply& reply)
{
    const Bytes& d = packet.data;
    if (d.size() < 3) {
        ++module.unhandledPackets;
        return;
    }
    const std::uint8_t sub = d[1];
    const bool bySlot = sub >= kSlotCapacity && sub <= kSlotOpenWrite;
    if ((bySlot && d.size() < 4) || (!bySlot && sub != kSlotRead && sub != kSlotWrite && sub != kSlotClose)) {
        ++module.unhandledPackets;
        return;
    }
    const Bytes head = bySlot ? Bytes{d[2], d[3]} : Bytes{d[2]};
    if (faults.silent.count(sub))
        return;
    auto replaced = faults.replyOverride.find(sub);
    if (replaced != faults.replyOverride.end()) {
        reply.packet(module.address, replaced->second);
        return;
    }
    auto refused = faults.errorCode.find(sub);
    if (refused != faults.errorCode.end()) {
        fail(module, sub, head, refused->second, reply);
        return;
    }

    if (bySlot) {
        const auto key = std::make_pair(d[2], d[3]);
        auto found = slots.find(key);
        if (found == slots.end()) {
            fail(module, sub, head, kErrNotFound, reply);
            return;
        }
        const SimSlot& slot = found->second;
        std::uint16_t value = 0;
        switch (sub) {
        case kSlotCapacity: value = slot.capacity; break;
        case kSlotSize: value = static_cast<std::uint16_t>(slot.contents.size()); break;
        default: {
            if (open.size() >= kNoHandle) {
                fail(module, sub, head, kErrResource, reply);
                return;
            }
            // The lowest free handle, as a module reuses them.
            std::uint8_t handle = 0;
            while (open.count(handle))
                ++handle;
            OpenSlot entry;
            entry.slot = key;
            entry.writing = sub == kSlotOpenWrite;
            open[handle] = entry;
            ++opens;
            answer(module, sub, d[2], {d[3], handle}, reply);
            return;
        }
        }
        answer(module, sub, d[2], {d[3], static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)},
               reply);
        return;
    }

    const std::uint8_t handle = d[2];
    auto it = open.find(handle);
    if (it == open.end() || (sub == kSlotRead && it->second.writing) || (sub == kSlotWrite && !it->second.writing)) {
        fail(module, sub, head, kErrParam, reply);
        return;
    }
    OpenSlot& entry = it->second;
    if (sub == kSlotClose) {
        if (entry.writing)
            slots[entry.slot].contents = entry.written;
        open.erase(it);
        ++closes;
        answer(module, sub, handle, {0}, reply);
        return;
    }
    if (faults.failAfter >= 0 && entry.transfers >= faults.failAfter) {
        fail(module, sub, head, faults.failCode, reply);
        return;
    }
    ++entry.transfers;
    if (sub == kSlotRead) {
        const Bytes& contents = slots[entry.slot].contents;
        if (entry.cursor >= contents.size()) {
            fail(module, sub, head, kErrEOF, reply);
            return;
        }
        const std::size_t chunk = std::max<std::size_t>(1, std::min<std::size_t>(faults.readChunk, 25));
        const std::size_t n = std::min(chunk, contents.size() - entry.cursor);
        Bytes bytes(contents.begin() + static_cast<std::ptrdiff_t>(entry.cursor),
                    contents.begin() + static_cast<std::ptrdiff_t>(entry.cursor + n));
        entry.cursor += n;
        answer(module, sub, handle, bytes, reply);
        return;
    }
    // A write.
    const std::size_t n = d.size() - 3;
    if (entry.written.size() + n > slots[entry.slot].capacity) {
        fail(module, sub, head, kErrOverrun, reply);
        return;
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 3; i < d.size(); ++i) {
        entry.written.push_back(d[i]);
        sum = static_cast<std::uint8_t>(sum + d[i]);
    }
    if (faults.wrongSum)
        ++sum;
    answer(module, sub, handle, {sum}, reply);
}

std::shared_ptr<SimStoreSlots> installStoreSlots(SimModule& module)
{
    auto state = std::make_shared<SimStoreSlots>();
    module.handlers[kSlotCommand] = [state](SimModule& m, const SimPacket& p, SimReply& r) { state->handle(m, p, r); };
    return state;
}

}  // namespace morvsim
