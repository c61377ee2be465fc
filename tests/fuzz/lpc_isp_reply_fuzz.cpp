// LPC boot-ROM replies from arbitrary bytes. The first byte picks two ISP
// operations and the echo setting; the rest is what the boot ROM "sends", from
// a stream that reports its end when the bytes run out (never "no byte yet", so
// no reply wait is taken). Every line of the input is also uudecoded, and the
// input taken as data must come back whole through uuencode and uudecode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NXPSerialClass.h"
#include "aStream.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Source {
    const uint8_t* data;
    size_t size;
    size_t position;
};

aErr getByte(char* byte, void* ref)
{
    Source* source = static_cast<Source*>(ref);
    if (source->position >= source->size)
        return aErrEOF;
    *byte = static_cast<char>(source->data[source->position++]);
    return aErrNone;
}

aErr putByte(const char*, void*)
{
    return aErrNone;
}

aErr writeBytes(const char*, size_t, void*)
{
    return aErrNone;
}

// A reply where the client expects nothing is the same as no reply: both
// must leave what the client holds as it was or as the bytes say.
void runOperation(NXPSerialClass& isp, unsigned which, uint8_t seed)
{
    std::vector<uint8_t> memory(4 * 1024, seed);
    switch (which % 10) {
    case 0: {
        uint32_t before[4];
        for (int i = 0; i < 4; ++i)
            before[i] = isp.GetDeviceSerial(i);
        if (isp.GetDeviceID() != aErrNone)
            for (int i = 0; i < 4; ++i)
                check(isp.GetDeviceSerial(i) == before[i]);
        break;
    }
    case 1: {
        uint8_t major = 0, minor = 0;
        isp.GetBootLoaderVersion(major, minor);
        break;
    }
    case 2: {
        int64_t number = -1;
        if (isp.GetPartNumber(number) == aErrNone)
            check(number >= 0);
        break;
    }
    case 3:
        isp.Unlock();
        break;
    case 4:
        isp.SetEcho(seed & 1);
        break;
    case 5:
        isp.Prepare(0, 29);
        break;
    case 6:
        isp.CopyToFlash(0x1000, NXPSerialClass::WRITE_ADDRESS, 4096);
        break;
    case 7: {
        // Never more than the count asked for is stored.
        const uint32_t count = 4u * (1u + seed % 64u);
        std::vector<uint8_t> buffer(count + 16, 0xA5);
        isp.Read(0x0, count, buffer.data());
        for (size_t i = count; i < buffer.size(); ++i)
            check(buffer[i] == 0xA5);
        break;
    }
    case 8:
        isp.Write(NXPSerialClass::WRITE_ADDRESS, 4u * (1u + seed % 256u), memory.data());
        break;
    default:
        isp.ExecuteFrom(0);
        break;
    }
}

void uuLines(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        for (size_t room : {size_t(0), size_t(3), NXPSerialClass::MAX_BYTES_PER_LINE, size_t(64)}) {
            std::vector<uint8_t> buffer(room + 8, 0xA5);
            const size_t n = NXPSerialClass::uudecode(buffer.data(), room, line.c_str());
            check(n <= room);
            for (size_t i = room; i < buffer.size(); ++i)
                check(buffer[i] == 0xA5);
        }
        start = end + 1;
    }

    // Round trip of the input as data, one line at a time.
    for (size_t done = 0; done < size;) {
        char line[64];
        const size_t taken = NXPSerialClass::uuencode(line, sizeof line, data + done, size - done);
        check(taken > 0 && taken <= NXPSerialClass::MAX_BYTES_PER_LINE);
        uint8_t back[NXPSerialClass::MAX_BYTES_PER_LINE];
        check(NXPSerialClass::uudecode(back, sizeof back, line) == taken);
        check(std::memcmp(back, data + done, taken) == 0);
        done += taken;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // A line feed at the start of a reply line costs the reader a millisecond's
    // pause; keep the runs short.
    if (std::count(data, data + size, '\n') > 64)
        return 0;
    uuLines(data, size);

    Source source{data + 2, size - 2, 0};
    aStream* stream = aStream_Create(getByte, putByte, writeBytes, nullptr, &source);
    check(stream != nullptr);
    NXPSerialClass isp;
    check(isp.UseStream(stream, 115200) == aErrNone);
    if (data[0] & 0x80)
        isp.SetEcho(false);
    runOperation(isp, data[0] & 0x7F, data[1]);
    runOperation(isp, (data[0] & 0x7F) / 10, data[1]);
    return 0;
}
