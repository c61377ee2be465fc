// The packet log's byte ring: dropping the oldest records, records that do
// not fit, short reader buffers and the limits of sizes and lengths.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "aPacketLog.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Record {
    std::int32_t direction;
    Bytes data;
};

class Ring {
public:
    explicit Ring(std::uint32_t size) : log_(aPacketLog_Create(size)) {}
    ~Ring() { aPacketLog_Destroy(&log_); }
    aPacketLog* get() { return log_; }

    aErr put(std::uint8_t direction, const Bytes& data)
    {
        return aPacketLog_Put(log_, direction, static_cast<std::uint32_t>(data.size()), data.data());
    }
    // Every record, oldest first, emptying the ring.
    std::vector<Record> drain()
    {
        std::vector<Record> records;
        for (;;) {
            Record r{0, Bytes(255)};
            std::uint32_t length = 255;
            aErr err = aPacketLog_Get(log_, &r.direction, &length, r.data.data());
            if (err != aErrNone) {
                EXPECT_EQ(aErrNotFound, err);
                return records;
            }
            r.data.resize(length);
            records.push_back(r);
        }
    }

private:
    aPacketLog* log_;
};

Bytes bytes(std::size_t count, std::uint8_t first)
{
    Bytes b(count);
    for (std::size_t i = 0; i < count; i++)
        b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

TEST(PacketLogRing, DropsOldestRecordWhenFull)
{
    Ring ring(16);
    ASSERT_NE(nullptr, ring.get());
    ASSERT_EQ(aErrNone, ring.put(1, bytes(3, 0x10)));  // 5 ring bytes
    ASSERT_EQ(aErrNone, ring.put(2, bytes(4, 0x20)));  // 6 ring bytes, 5 left free
    ASSERT_EQ(aErrNone, ring.put(3, bytes(3, 0x30)));  // needs 5 with 5 free: first dropped
    auto records = ring.drain();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(2, records[0].direction);
    EXPECT_EQ(bytes(4, 0x20), records[0].data);
    EXPECT_EQ(3, records[1].direction);
    EXPECT_EQ(bytes(3, 0x30), records[1].data);
}

TEST(PacketLogRing, LargestRecordLeavesOneByteFree)
{
    Ring ring(16);
    ASSERT_EQ(aErrNone, ring.put(1, bytes(2, 0)));
    EXPECT_EQ(aErrOverrun, ring.put(2, bytes(14, 0x40)));
    // The ring was left as it was.
    auto before = ring.drain();
    ASSERT_EQ(1u, before.size());
    EXPECT_EQ(bytes(2, 0), before[0].data);

    ASSERT_EQ(aErrNone, ring.put(2, bytes(13, 0x40)));
    auto records = ring.drain();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(bytes(13, 0x40), records[0].data);
}

TEST(PacketLogRing, ShortBufferKeepsRecordAndTellsLength)
{
    Ring ring(64);
    ASSERT_EQ(aErrNone, ring.put(2, bytes(5, 1)));
    std::int32_t direction = 0;
    std::uint8_t buffer[64] = {};
    std::uint32_t length = 2;
    EXPECT_EQ(aErrOverrun, aPacketLog_Get(ring.get(), &direction, &length, buffer));
    EXPECT_EQ(5u, length);
    length = 64;
    ASSERT_EQ(aErrNone, aPacketLog_Get(ring.get(), &direction, &length, buffer));
    EXPECT_EQ(2, direction);
    EXPECT_EQ(bytes(5, 1), Bytes(buffer, buffer + length));
    length = 64;
    EXPECT_EQ(aErrNotFound, aPacketLog_Get(ring.get(), &direction, &length, buffer));
}

TEST(PacketLogRing, RecordLengthMustFitItsLengthByte)
{
    Ring ring(1024);
    EXPECT_EQ(aErrSize, ring.put(3, bytes(256, 0)));
    EXPECT_TRUE(ring.drain().empty());
    ASSERT_EQ(aErrNone, ring.put(3, bytes(255, 7)));
    auto records = ring.drain();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(bytes(255, 7), records[0].data);
}

TEST(PacketLogRing, SizeLimits)
{
    EXPECT_EQ(nullptr, aPacketLog_Create(0));
    EXPECT_EQ(nullptr, aPacketLog_Create(2));
    EXPECT_EQ(nullptr, aPacketLog_Create(aPACKETLOG_MAX_SIZE + 1));
    Ring smallest(3);
    ASSERT_NE(nullptr, smallest.get());
    // Three bytes hold exactly one empty record.
    EXPECT_EQ(aErrNone, smallest.put(3, {}));
    EXPECT_EQ(aErrOverrun, smallest.put(3, bytes(1, 0)));
    auto records = smallest.drain();
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(records[0].data.empty());
}

TEST(PacketLogRing, KeepsNewestRecordsAcrossManyWraps)
{
    // 7 ring bytes per record; 100 bytes hold 14 of them with the free byte.
    Ring ring(100);
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(aErrNone, ring.put(1 + i % 2, bytes(5, static_cast<std::uint8_t>(i))));
    auto records = ring.drain();
    ASSERT_EQ(14u, records.size());
    for (std::size_t k = 0; k < records.size(); k++) {
        int i = 1000 - 14 + static_cast<int>(k);
        EXPECT_EQ(bytes(5, static_cast<std::uint8_t>(i)), records[k].data) << k;
        EXPECT_EQ(1 + i % 2, records[k].direction);
    }
}

TEST(PacketLogRing, BadArguments)
{
    Ring ring(32);
    std::int32_t direction;
    std::uint32_t length = 8;
    std::uint8_t buffer[8];
    EXPECT_EQ(aErrParam, aPacketLog_Put(nullptr, 1, 1, buffer));
    EXPECT_EQ(aErrParam, aPacketLog_Put(ring.get(), 1, 1, nullptr));
    EXPECT_EQ(aErrParam, aPacketLog_Get(nullptr, &direction, &length, buffer));
    EXPECT_EQ(aErrParam, aPacketLog_Get(ring.get(), nullptr, &length, buffer));
    EXPECT_EQ(aErrParam, aPacketLog_Get(ring.get(), &direction, nullptr, buffer));

    aPacketLog* log = aPacketLog_Create(8);
    ASSERT_EQ(aErrNone, aPacketLog_Destroy(&log));
    EXPECT_EQ(nullptr, log);
    EXPECT_EQ(aErrNone, aPacketLog_Destroy(&log));
    EXPECT_EQ(aErrParam, aPacketLog_Destroy(nullptr));
}

}  // namespace
