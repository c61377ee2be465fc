// Feeds arbitrary bytes to the packet assembler the way a link reader does
// and aborts on any packet that breaks the record's invariants.
#include "aPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// wire points at the packet's last byte in the input.
void takePacket(const aPacket* p, const uint8_t* wire)
{
    check(p->address != 0 && (p->address & 1) == 0);
    check(p->dataSize <= aPACKET_MAX_DATA);
    check(p->curSize == p->dataSize + 2);
    // The packet is the last curSize bytes of the input, as they were sent.
    const uint8_t* start = wire + 1 - p->curSize;
    check(start[0] == p->address && start[1] == p->dataSize);
    check(std::memcmp(start + 2, p->data, p->dataSize) == 0);

    aPacket* copy = aPacket_Copy(p);
    check(copy != nullptr);
    check(aPacket_IsComplete(copy));
    check(copy->address == p->address && copy->dataSize == p->dataSize);
    check(std::memcmp(copy->data, p->data, p->dataSize) == 0);
    check(aPacket_Destroy(&copy) == aErrNone && copy == nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    aPacket* p = aPacket_Create();
    if (p == nullptr)
        return 0;
    for (size_t i = 0; i < size; ++i) {
        aErr err = aPacket_AddByte(p, data[i]);
        check(p->check == aPACKET_CHECK);
        check(p->curSize <= aPACKET_MAX_SIZE);
        if (err != aErrNone) {
            check(err == aErrPacket || err == aErrOverrun);
            check(aPacket_Reset(p) == aErrNone);
        } else if (aPacket_IsComplete(p)) {
            check(i + 1 >= p->curSize);
            takePacket(p, data + i);
            check(aPacket_Reset(p) == aErrNone);
        }
    }
    aPacket_Destroy(&p);
    return 0;
}
