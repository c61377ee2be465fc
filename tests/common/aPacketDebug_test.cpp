// A link's packet log by link id (over a TCP link to the simulated module on
// loopback) and the logger thread.
#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Eventually.h"
#include "ModuleSimulator.h"
#include "TempDir.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aLogger.h"
#include "aPacketDebug.h"

using morvsim::Bytes;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimPacket;

namespace {

constexpr std::uint8_t kModule = 4;
constexpr int kUnregistered = 0x7FFFFFF0;

using morvtest::eventually;

struct Record {
    std::int32_t direction;
    Bytes data;
    bool operator==(const Record& o) const { return direction == o.direction && data == o.data; }
};

void PrintTo(const Record& r, std::ostream* os)
{
    *os << r.direction << ":";
    for (std::uint8_t b : r.data)
        *os << " " << static_cast<int>(b);
}

// Reads and writes of a link's log by id.
class LogById : public ::testing::Test {
protected:
    ~LogById() override
    {
        if (id != 0)
            aLink_Destroy(&id);
    }

    aPacketLog* log() const { return sGetLink(id)->log.load(std::memory_order_acquire); }

    aErr write(std::uint8_t direction, const Bytes& data)
    {
        return aLink_PacketDebug_Write(id, direction, static_cast<std::uint32_t>(data.size()), data.data());
    }

    // Every record in the log, oldest first.
    std::vector<Record> drain()
    {
        std::vector<Record> out;
        for (int i = 0; i < 10000; ++i) {
            std::uint8_t buffer[aPACKETLOG_MAX_RECORD];
            std::uint32_t length = sizeof buffer;
            std::int32_t direction = 0;
            if (aLink_PacketDebug_Read(id, &direction, &length, buffer) != aErrNone)
                break;
            out.push_back({direction, Bytes(buffer, buffer + length)});
        }
        return out;
    }

    int id = 0;
};

// A registered link with no stream and no pipe threads, so that nothing but
// the test writes into its log.
class PacketDebug : public LogById {
protected:
    void SetUp() override
    {
        id = sCreate(0x0A0B0C0Du, 1, aLINK_TYPE_TCPIP);
        ASSERT_NE(id, 0);
        ASSERT_EQ(aLink_Init(id, nullptr), id);
        sChangeUseCount(sLookupEntryByID(id), 1);
    }
};

// A running TCP link to a simulated module on 127.0.0.6.
class PacketDebugTcp : public LogById {
protected:
    PacketDebugTcp() : sim(kModule) {}
    ~PacketDebugTcp() override
    {
        if (id != 0)
            aLink_Destroy(&id);
    }
    void SetUp() override
    {
        const std::uint16_t port = sim.listenTcp("127.0.0.6");
        id = aLink_CreateTCPIP(inet_addr("127.0.0.6"), port);
        ASSERT_NE(id, 0);
        ASSERT_TRUE(eventually([&] { return aLink_GetStatus(id) == linkStatusRunning; }));
    }

    ModuleSimulator sim;
};

TEST_F(PacketDebug, OperationsNeedARegisteredLink)
{
    std::uint8_t buffer[8] = {};
    std::uint32_t length = sizeof buffer;
    std::int32_t direction = 0;
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(kUnregistered, 64), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Enable(kUnregistered), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Disable(kUnregistered), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Read(kUnregistered, &direction, &length, buffer), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Write(kUnregistered, 3, 1, buffer), aErrParam);
}

TEST_F(PacketDebug, WithoutALogNothingIsReady)
{
    std::uint8_t buffer[8] = {};
    std::uint32_t length = sizeof buffer;
    std::int32_t direction = 0;
    EXPECT_EQ(aLink_PacketDebug_Disable(id), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_Read(id, &direction, &length, buffer), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_Write(id, 3, 1, buffer), aErrNotReady);
    EXPECT_EQ(log(), nullptr);
}

TEST_F(PacketDebug, LogSizeIsSetBeforeTheLogExists)
{
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, aPACKETLOG_MAX_SIZE + 1), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 16), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, -5), aErrNone);  // the default
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    ASSERT_NE(log(), nullptr);
    EXPECT_EQ(log()->size, aPACKETLOG_DEFAULT_SIZE);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 16), aErrBusy);
}

TEST_F(PacketDebug, EnableKeepsOneLogAndDisableOnlyClearsTheFlag)
{
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    aPacketLog* first = log();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->enabled, 1);
    ASSERT_EQ(write(3, {'a'}), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_Disable(id), aErrNone);
    EXPECT_EQ(first->enabled, 0);
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    EXPECT_EQ(log(), first);
    EXPECT_EQ(first->enabled, 1);
    EXPECT_EQ(drain(), (std::vector<Record>{{3, {'a'}}}));
}

TEST_F(PacketDebug, SmallRingDropsOldestRecords)
{
    ASSERT_EQ(aLink_PacketDebug_SetLogSize(id, 16), aErrNone);
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    // Records of 5 and 6 ring bytes; a third of 5 bytes finds 5 free (one must stay free).
    ASSERT_EQ(write(3, {1, 1, 1}), aErrNone);
    ASSERT_EQ(write(3, {2, 2, 2, 2}), aErrNone);
    ASSERT_EQ(write(3, {3, 3, 3}), aErrNone);
    EXPECT_EQ(drain(), (std::vector<Record>{{3, {2, 2, 2, 2}}, {3, {3, 3, 3}}}));
    // 13 data bytes take 15 of the 16; 14 cannot fit at all and leave the ring alone.
    ASSERT_EQ(write(3, Bytes(13, 7)), aErrNone);
    EXPECT_EQ(write(3, Bytes(14, 8)), aErrOverrun);
    EXPECT_EQ(drain(), (std::vector<Record>{{3, Bytes(13, 7)}}));
}

TEST_F(PacketDebug, RecordsUpTo255BytesRoundTripAndLongerAreRefused)
{
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    Bytes text(255);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(write(3, Bytes(65, 'x')), aErrNone);
    ASSERT_EQ(write(3, text), aErrNone);
    EXPECT_EQ(write(3, Bytes(256, 'y')), aErrSize);

    // A buffer too short keeps the record and says what it needs.
    std::uint8_t small[64];
    std::uint32_t length = sizeof small;
    std::int32_t direction = 0;
    EXPECT_EQ(aLink_PacketDebug_Read(id, &direction, &length, small), aErrOverrun);
    EXPECT_EQ(length, 65u);
    EXPECT_EQ(drain(), (std::vector<Record>{{3, Bytes(65, 'x')}, {3, text}}));
}

TEST_F(PacketDebugTcp, PipesRecordPacketsBothWays)
{
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    ASSERT_TRUE(sim.sendPacket(kModule, {0x05, 0x01, 0x02}));
    aPacket* out = aPacket_CreateWithData(kModule, 2, reinterpret_cast<const std::uint8_t*>("\x07\x08"));
    ASSERT_EQ(aLink_PutPacket(id, out), aErrNone);
    aPacket_Destroy(&out);
    ASSERT_TRUE(sim.waitForPacket([](const SimPacket& p) { return p.is(kModule, {7, 8}); }, Millis(2000)));

    std::vector<Record> records;
    ASSERT_TRUE(eventually([&] {
        for (const Record& r : drain())
            if (r.data.empty() || r.data[0] == kModule)  // not the start's force route, recorded late
                records.push_back(r);
        return records.size() >= 2 && std::any_of(records.begin(), records.end(),
                                                  [](const Record& r) { return r.direction == 2; });
    }));
    // Two pipe threads: either may record first.
    std::sort(records.begin(), records.end(),
              [](const Record& a, const Record& b) { return a.direction < b.direction; });
    EXPECT_EQ(records, (std::vector<Record>{{1, {4, 2, 7, 8}}, {2, {4, 3, 5, 1, 2}}}));
}

// Readers and writers of the log by id while the link goes away: they find
// the record or they find nothing, and the link is torn down after them.
TEST_F(PacketDebugTcp, LinkTornDownUnderReadersAndWriters)
{
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    const int target = id;
    std::atomic<int> sawGone{0};
    std::vector<std::thread> threads;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            while (std::chrono::steady_clock::now() < deadline) {
                std::uint8_t buffer[aPACKETLOG_MAX_RECORD] = {1, 2, 3};
                std::uint32_t length = sizeof buffer;
                std::int32_t direction = 0;
                const aErr r = t == 0 ? aLink_PacketDebug_Read(target, &direction, &length, buffer)
                                      : aLink_PacketDebug_Write(target, 3, 3, buffer);
                if (r == aErrParam) {
                    ++sawGone;
                    return;
                }
            }
        });
    }
    ASSERT_TRUE(sim.sendPacket(kModule, {0x05, 0x01}));
    std::this_thread::sleep_for(Millis(20));
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(sawGone.load(), 3);
    EXPECT_TRUE(eventually([&] { return sGetLink(target) == nullptr; }));
}

// ---------------------------------------------------------------- logger

struct WriterCalls {
    std::atomic<int> calls{0};
    std::atomic<int> lastId{0};
    std::atomic<int> result{aErrNone};
    std::atomic<aLogger*> self{nullptr};
    std::atomic<int> selfDisable{-1};
    std::atomic<int> selfDestroy{-1};
};
WriterCalls gCalls;

aErr countingWriter(aFile* file, std::int32_t id)
{
    gCalls.lastId = id;
    if (++gCalls.calls == 1)
        aFile_Printf(file, "first call for %d\n", id);
    aLogger* self = gCalls.self.load();
    if (self && gCalls.selfDisable < 0) {
        aLogger* copy = self;
        gCalls.selfDisable = aLogger_Disable(self);
        gCalls.selfDestroy = aLogger_Destroy(&copy);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return static_cast<aErr>(gCalls.result.load());
}

class Logger : public ::testing::Test {
protected:
    void SetUp() override
    {
        gCalls.calls = 0;
        gCalls.lastId = 0;
        gCalls.result = aErrNone;
        gCalls.self = nullptr;
        gCalls.selfDisable = -1;
        gCalls.selfDestroy = -1;
    }
    std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    morvtest::TempDir dir;
};

TEST_F(Logger, CreateNeedsAWriterAndAFileItCanOpen)
{
    EXPECT_EQ(aLogger_Create(1, nullptr, dir.sub("log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(1, countingWriter, nullptr), nullptr);
    EXPECT_EQ(aLogger_Create(1, countingWriter, dir.sub("missing/log").c_str()), nullptr);
    EXPECT_FALSE(aVALIDLOGGER(static_cast<aLogger*>(nullptr)));
    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_SetId(nullptr, 3), aErrParam);
    aLogger* none = nullptr;
    EXPECT_EQ(aLogger_Destroy(&none), aErrNone);
    EXPECT_EQ(aLogger_Destroy(nullptr), aErrNone);
}

TEST_F(Logger, RunsTheWriterUntilStoppedAndAppends)
{
    const std::string path = dir.sub("log");
    {
        std::ofstream(path) << "before\n";
    }
    aLogger* logger = aLogger_Create(7, countingWriter, path.c_str());
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);  // not running
    EXPECT_EQ(gCalls.calls.load(), 0);
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);  // runs already
    ASSERT_TRUE(eventually([] { return gCalls.calls > 3; }));
    EXPECT_EQ(gCalls.lastId.load(), 7);
    ASSERT_EQ(aLogger_SetId(logger, 9), aErrNone);
    ASSERT_TRUE(eventually([] { return gCalls.lastId == 9; }));
    ASSERT_EQ(aLogger_Disable(logger), aErrNone);
    const int calls = gCalls.calls;
    std::this_thread::sleep_for(Millis(20));
    EXPECT_EQ(gCalls.calls.load(), calls);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    // Started again, and destroyed while it runs.
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    ASSERT_TRUE(eventually([&] { return gCalls.calls > calls + 3; }));
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_EQ(logger, nullptr);
    EXPECT_EQ(read(path), "before\nfirst call for 7\n");
}

TEST_F(Logger, OnItsOwnThreadItNeitherStopsNorFreesItself)
{
    aLogger* logger = aLogger_Create(1, countingWriter, dir.sub("log").c_str());
    ASSERT_NE(logger, nullptr);
    gCalls.self = logger;
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    ASSERT_TRUE(eventually([] { return gCalls.selfDestroy >= 0; }));
    EXPECT_EQ(gCalls.selfDisable.load(), aErrNone);
    EXPECT_EQ(gCalls.selfDestroy.load(), aErrBusy);
    const int calls = gCalls.calls;
    ASSERT_TRUE(eventually([&] { return gCalls.calls > calls + 3; })) << "still running";
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
}

TEST_F(Logger, RemembersFailedWritesUntilStartedAgain)
{
    aLogger* logger = aLogger_Create(1, countingWriter, dir.sub("log").c_str());
    ASSERT_NE(logger, nullptr);
    gCalls.result = aErrNotFound;  // nothing to write is no failure
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    ASSERT_TRUE(eventually([] { return gCalls.calls > 3; }));
    EXPECT_FALSE(aLogger_WriteFailed(logger));
    gCalls.result = aErrIO;
    ASSERT_TRUE(eventually([&] { return aLogger_WriteFailed(logger); }));
    ASSERT_EQ(aLogger_Disable(logger), aErrNone);
    EXPECT_TRUE(aLogger_WriteFailed(logger));
    gCalls.result = aErrNone;
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_FALSE(aLogger_WriteFailed(logger));
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
}

}  // namespace
