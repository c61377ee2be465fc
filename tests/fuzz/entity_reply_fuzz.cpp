// Decodes arbitrary reply packets against arbitrary expected replies the way
// an entity get, set or call takes its reply, and aborts when the decoder
// reads past the received data, takes a packet that is not the reply, or
// decodes a value that is not the one the packet carries.
#include "FuzzCheck.h"
#include "FuzzPacket.h"
#include "LinkReplyFilter.h"
#include "aUEI.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using Zorventa::Morvasset::uei;
using namespace Zorventa::Morvasset;

namespace {

bool sameRecord(const uei& a, const uei& b)
{
    return a.module == b.module && a.command == b.command && a.option == b.option &&
           a.specifier == b.specifier && a.v.intVal == b.v.intVal && a.type == b.type && a.error == b.error;
}

}  // namespace

// Input: module, command, option, index, type selector, packet address, then
// the packet's data bytes (at most 28 are used).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    static const int kTypes[] = {ueiTypeVoid, ueiTypeByte, ueiTypeShort, ueiTypeInt};
    uei expected;
    expected.module = data[0];
    expected.command = data[1];
    expected.option = data[2];
    expected.specifier = static_cast<std::uint8_t>(data[3] & ueiSpecifierIndexMask);
    expected.type = kTypes[data[4] % 4];
    expected.v.intVal = 0xA5A5A5A5u;
    const fuzzpacket::Packet packet(data[5], data + 6, size - 6);
    const std::uint8_t* d = packet.data();
    const std::size_t n = packet.size();

    const uei before = expected;
    const bool taken = ueiReplyFilter(packet.get(), &expected) != 0;
    const bool matches = packet.get()->address == before.module && n > 2 && d[0] == before.command &&
                         d[1] == before.option && (d[2] & ueiSpecifierStream) == 0 &&
                         (d[2] & ueiSpecifierIndexMask) == before.specifier;
    check(taken == matches);
    if (!taken) {
        check(sameRecord(expected, before));
        return 0;
    }
    if (d[2] & ueiSpecifierError) {
        check(expected.specifier == d[2]);
        check(expected.error == (n >= 4 ? d[3] : static_cast<std::uint8_t>(aErrPacket)));
        return 0;
    }
    switch (n) {
    case 3: check(expected.type == ueiTypeVoid && expected.error == 0); break;
    case 4: check(expected.type == ueiTypeByte && expected.v.intVal == d[3] && expected.error == 0); break;
    case 5:
        check(expected.type == ueiTypeShort && expected.v.intVal == (static_cast<std::uint32_t>(d[3]) << 8 | d[4]) &&
              expected.error == 0);
        break;
    case 7: check(expected.type == ueiTypeInt && expected.v.intVal == aUEI_RetrieveInt(d + 3) && expected.error == 0); break;
    default:
        // No value form: an error, and nothing that looks like a value.
        check(expected.error == aErrPacket && expected.type == before.type && expected.v.intVal == before.v.intVal);
        break;
    }
    return 0;
}
