#include "aReplyWait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

aPacket packetWith(const Bytes& data)
{
    aPacket p = PACK;
    std::memcpy(p.data, data.data(), data.size());
    p.address = 4;
    p.dataSize = static_cast<uint8_t>(data.size());
    p.curSize = static_cast<uint8_t>(data.size() + 2);
    return p;
}

// The packets of a byte-buffer set of count bytes: [10, 0x80 | 30, 0x20, up to 24 bytes, sequence].
std::vector<aPacket> bufferSet(std::size_t count)
{
    std::vector<aPacket> packets;
    std::size_t sent = 0;
    do {
        const std::size_t n = std::min<std::size_t>(24, count - sent);
        Bytes data{10, 0x80 | 30, 0x20};
        data.insert(data.end(), n, 0x55);
        data.push_back(static_cast<uint8_t>((sent + n < count ? 0x80 : 0) | (packets.size() & 0x7F)));
        packets.push_back(packetWith(data));
        sent += n;
    } while (sent < count);
    return packets;
}

uint32_t waitFor(const std::vector<aPacket>& packets)
{
    std::vector<const aPacket*> pointers;
    for (const aPacket& p : packets)
        pointers.push_back(&p);
    return aReply_WaitForRequest(pointers.data(), pointers.size());
}

TEST(ReplyWait, ByTheRequest)
{
    struct Case {
        std::string name;
        std::vector<aPacket> request;
        uint32_t ms;
    };
    const Case cases[] = {
        {"entity get", {packetWith({10, 0x40 | 7, 0x20})}, aREPLY_WAIT_MS},
        {"slot open for reading", {packetWith({4, 3, 1, 2})}, aREPLY_WAIT_SLOT_OPEN_MS},
        {"slot open for writing", {packetWith({4, 4, 1, 2})}, aREPLY_WAIT_SLOT_OPEN_MS},
        {"slot size", {packetWith({4, 2, 1, 2})}, aREPLY_WAIT_MS},
        {"slot read", {packetWith({4, 6, 5})}, aREPLY_WAIT_MS},
        {"empty buffer", bufferSet(0), aREPLY_WAIT_MS},
        {"buffer of 1000 bytes", bufferSet(aREPLY_LARGE_PAYLOAD), aREPLY_WAIT_MS},
        {"buffer of 1001 bytes", bufferSet(aREPLY_LARGE_PAYLOAD + 1), aREPLY_WAIT_LARGE_MS},
        {"buffer of 5000 bytes", bufferSet(5000), aREPLY_WAIT_LARGE_MS},
        {"nothing", {}, aREPLY_WAIT_MS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(waitFor(c.request), c.ms);
    }
    std::vector<aPacket> broken = bufferSet(5000);
    broken[3].check = 0;
    EXPECT_EQ(waitFor(broken), aREPLY_WAIT_MS) << "a packet that is none counts nothing";
}

TEST(ReplyWait, ByTheBuffersLength)
{
    EXPECT_EQ(aReply_WaitForBytes(0), aREPLY_WAIT_MS);
    EXPECT_EQ(aReply_WaitForBytes(aREPLY_LARGE_PAYLOAD), aREPLY_WAIT_MS);
    EXPECT_EQ(aReply_WaitForBytes(aREPLY_LARGE_PAYLOAD + 1), aREPLY_WAIT_LARGE_MS);
}

}  // namespace
