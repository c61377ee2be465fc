// Offers arbitrary packets, one after another, to the reply filter of a
// byte-buffer get the way the get takes its reply packets, and aborts when a
// packet's bytes land anywhere but at the write position of the caller's
// buffer, when more is stored than the buffer holds, when a packet out of
// sequence is taken as data, or when a refused packet changes the record.
#include "EntityClass.h"
#include "FuzzCheck.h"
#include "FuzzPacket.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace Zorventa::Morvasset;

namespace {

constexpr std::uint8_t kModule = 4;

}  // namespace

// Input: command, option, index, capacity (1-256), then packets, each as a
// kind byte, a data length and that many data bytes. Kind bit 0 gives the
// packet the get's own address, command, option and index (the upper three
// bits of the kind then set the stream, error and request bits of its
// specifier); otherwise its address is the kind and its data is taken as is.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint8_t command = data[0];
    const std::uint8_t option = data[1];
    const std::uint8_t index = static_cast<std::uint8_t>(data[2] & ueiSpecifierIndexMask);
    const std::size_t capacity = static_cast<std::size_t>(data[3]) + 1;
    // Exactly the capacity, so that a byte past it is an overflow the sanitizer sees.
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[capacity]);
    std::memset(buffer.get(), 0, capacity);
    std::vector<std::uint8_t> stored;

    std::size_t count = 0;
    uei record;
    record.module = kModule;
    record.command = command;
    record.option = option;
    record.specifier = index;
    record.v.bufPtr = buffer.get();
    record.count = capacity;
    record.received = &count;
    bool cut = false;

    std::size_t at = 4;
    while (at + 2 <= size) {
        const std::uint8_t kind = data[at];
        const std::size_t length = data[at + 1] % (aPACKET_MAX_DATA + 1);
        at += 2;
        const std::size_t available = size - at < length ? size - at : length;
        std::uint8_t bytes[aPACKET_MAX_DATA] = {};
        std::memcpy(bytes, data + at, available);
        at += available;
        std::uint8_t address = kind;
        if (kind & 1) {
            address = kModule;
            if (available >= 3) {
                bytes[0] = command;
                bytes[1] = option;
                bytes[2] = static_cast<std::uint8_t>(index | (kind & 0xE0));
            }
        }
        const fuzzpacket::Packet packet(address, bytes, available);
        const std::uint8_t* d = packet.data();
        const std::size_t n = packet.size();

        record.error = 0;
        const uei before = record;
        const std::size_t countBefore = count;
        const bool taken = EntityClass::sUEIBytesFilter(packet.get(), &record) != 0;
        const bool mine = address == kModule && n > 2 && d[0] == command && d[1] == option &&
                          (d[2] & ueiSpecifierIndexMask) == index && (d[2] & ueiSpecifierStream) == 0;
        check(taken == mine);
        check(count <= capacity);
        check(record.v.bufPtr == buffer.get() + count);
        if (!taken) {
            check(count == countBefore && record.sequence == before.sequence && record.error == 0 &&
                  record.specifier == before.specifier);
            continue;
        }
        if (d[2] & ueiSpecifierError) {
            check(count == countBefore);
            break;  // the get ends with the device's code
        }
        if (n < 4 || (d[n - 1] & ueiBytesSequenceMask) != before.sequence) {
            // Too short, a gap or another transfer: an error, and no data.
            check(record.error == aErrPacket && count == countBefore);
            break;
        }
        const std::size_t values = n - 4;
        if (record.error == aErrMemory) {
            check(count == countBefore && (cut || countBefore + values > capacity));
            cut = true;
            record.count = count;  // what the get does: nothing more is stored
        } else {
            // After a cut only a packet without value bytes fits (and stores nothing).
            check(record.error == 0 && (!cut || values == 0) && count == countBefore + values);
            stored.insert(stored.end(), d + 3, d + 3 + values);
        }
        check(stored.size() == count && std::equal(stored.begin(), stored.end(), buffer.get()));
        check(record.sequence == (d[n - 1] & ueiBytesSequenceMask));
        check(record.continued == ((d[n - 1] & ueiBytesContinue) ? 1 : 0));
        if (!record.continued)
            break;
        record.sequence = static_cast<std::uint8_t>((record.sequence + 1) & ueiBytesSequenceMask);
    }
    return 0;
}
