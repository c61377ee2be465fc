// The link engine driven for real: links over a socketpair stream, over TCP to
// the module simulator and over a pseudo-terminal, against the simulator's
// side of the wire.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Elapsed.h"
#include "Eventually.h"
#include "FdCapture.h"
#include "FdStream.h"
#include "ModuleSimulator.h"
#include "PacketPtr.h"
#include "PtyPair.h"
#include "aDebug.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aMutex.h"
#include "aPacketLog.h"

using morvsim::Bytes;
using morvsim::ConnectionEvent;
using morvsim::Faults;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;
using morvtest::FdStreamControl;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kModule = 4;

using morvtest::eventually;
using morvtest::msSince;
using morvtest::PacketPtr;

aErr put(int id, std::uint8_t address, const Bytes& data)
{
    aPacket* packet = aPacket_CreateWithData(address, static_cast<std::uint8_t>(data.size()), data.data());
    if (packet == nullptr)
        return aErrMemory;
    aErr err = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    return err;
}

int acceptAll(const aPacket*, void*)
{
    return 1;
}

// Accepts packets whose command byte equals *(uint8_t*)ref.
int hasCommand(const aPacket* packet, void* ref)
{
    return packet->dataSize > 0 && packet->data[0] == *static_cast<std::uint8_t*>(ref);
}

std::uint32_t loopback(const char* ip)
{
    return inet_addr(ip);
}

// Packets the simulator got that were addressed to the module (not link-level).
std::size_t toModule(const ModuleSimulator& sim)
{
    std::size_t count = 0;
    for (const auto& p : sim.packets())
        if (p.address == kModule)
            count++;
    return count;
}

aLink* record(int id)
{
    return sGetLink(id);
}

aPacketFifoId outFifo(int id)
{
    return record(id)->outFifo.load();
}

// A link over a caller's stream (one end of a socketpair) with the simulator
// on the other end.
class StreamLink {
public:
    explicit StreamLink(int getWaitMs = 5, std::function<void(ModuleSimulator&)> prepare = {})
        : control(std::make_shared<FdStreamControl>()), sim(kModule)
    {
        control->getWaitMs = getWaitMs;
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            return;
        sim.attachFd(sv[1]);
        if (prepare)
            prepare(sim);
        aStream* stream = morvtest::createFdStream(sv[0], control);
        id = aLink_Create(stream);
    }
    ~StreamLink()
    {
        if (id != 0)
            aLink_Destroy(&id);
    }

    // Waits until the simulator has the packet; false after 2 s.
    bool simGot(std::uint8_t address, const Bytes& data)
    {
        return sim.waitForPacket([&](const SimPacket& p) { return p.is(address, data); }, Millis(2000))
            .has_value();
    }
    bool startedAndRouted()
    {
        return id != 0 && simGot(0xAF, {1});
    }

    std::shared_ptr<FdStreamControl> control;
    ModuleSimulator sim;
    int id = 0;
};

// ---------------------------------------------------------------- sync

// Answers every full round of six sync requests with the next scripted bytes.
struct SyncScript {
    std::vector<Bytes> rounds;
    std::atomic<int> requests{0};
};

void installScript(ModuleSimulator& sim, std::shared_ptr<SyncScript> script)
{
    sim.setLinkHandler(morvsim::kSyncByte, [script](SimModule&, const SimPacket& packet, SimReply& reply) {
        if (!packet.data.empty())
            return;
        int n = ++script->requests;
        if (n % aLINK_SYNC_REQUESTS == 0) {
            std::size_t round = static_cast<std::size_t>(n / aLINK_SYNC_REQUESTS - 1);
            if (round < script->rounds.size())
                reply.raw(script->rounds[round]);
        }
    });
}

struct SyncCase {
    const char* name;
    std::vector<Bytes> rounds;
    int expectedRequests;
    bool splitAnswers;
};

TEST(EngineSync, HandshakeByAnswerBytes)
{
    const std::vector<SyncCase> cases = {
        {"answered at once", {{4, 0, 4, 0}}, 6, false},
        {"other address on the third byte", {{4, 0, 6, 0}, {4, 0, 4, 0}}, 12, false},
        {"odd first byte", {{3}, {4, 0, 4, 0}}, 12, false},
        {"zero first byte", {{0}, {4, 0, 4, 0}}, 12, false},
        {"non-zero length byte, then nothing", {{4, 1}, {4, 0, 4, 0}}, 12, false},
        {"answer byte by byte with gaps below the quiet interval", {{4, 0, 4, 0}}, 6, true},
        {"more answers than needed", {{4, 0, 4, 0, 4, 0, 4, 0}}, 6, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<SyncScript>();
        script->rounds = c.rounds;
        StreamLink link(5, [&](ModuleSimulator& sim) {
            installScript(sim, script);
            if (c.splitAnswers) {
                Faults f;
                f.replyTiming.split = true;
                f.replyTiming.gap = Millis(60);
                sim.setFaults(f);
            }
        });
        ASSERT_TRUE(link.startedAndRouted());
        EXPECT_EQ(aErrNone, aLink_Sync(link.id));
        EXPECT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
        EXPECT_TRUE(eventually([&] { return script->requests.load() >= c.expectedRequests; }));
        EXPECT_EQ(c.expectedRequests, script->requests.load());
        PacketPtr left(aLink_GetPacket(link.id));
        EXPECT_FALSE(left) << "input queue not emptied";
        EXPECT_EQ(0u, aPacketFifo_GetLength(outFifo(link.id)));
    }
}

TEST(EngineSync, SilentModuleIsAskedAgainOnlyAfterQuietIntervals)
{
    // The stream answers "not ready" at once: restarting on every empty read
    // would send thousands of requests.
    auto script = std::make_shared<SyncScript>();
    StreamLink link(0, [&](ModuleSimulator& sim) { installScript(sim, script); });
    ASSERT_TRUE(link.startedAndRouted());
    auto start = Clock::now();
    EXPECT_EQ(aErrNotReady, aLink_Sync(link.id));
    long elapsed = msSince(start);
    int requests = script->requests.load();
    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 3000);
    EXPECT_GE(requests, 2 * aLINK_SYNC_REQUESTS) << "never asked again";
    EXPECT_LE(requests, 11 * aLINK_SYNC_REQUESTS);
    EXPECT_EQ(linkStatusSyncing, aLink_GetStatus(link.id));
}

TEST(EngineSync, RefusedByteOnRunningLinkRestartsHandshake)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    Faults silentSync;
    silentSync.ignoreSync = true;
    link.sim.setFaults(silentSync);
    ASSERT_TRUE(link.sim.sendRaw({0x03}));
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(link.id) == linkStatusSyncing; }));
    ASSERT_TRUE(link.sim.waitForPacketCount([](const SimPacket& p) { return p.isSyncRequest(); },
                                            aLINK_SYNC_REQUESTS, Millis(2000)));

    auto start = Clock::now();
    PacketPtr none(aLink_AwaitFirst(link.id, acceptAll, nullptr, 1000));
    EXPECT_FALSE(none);
    EXPECT_LT(msSince(start), 200) << "a syncing link must not be waited on";

    link.sim.setFaults(Faults{});
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(link.id) == linkStatusRunning; }));
    ASSERT_TRUE(link.sim.sendPacket(kModule, {0x05, 0x01}));
    std::uint8_t command = 0x05;
    PacketPtr got(aLink_AwaitFirst(link.id, hasCommand, &command, 2000));
    ASSERT_TRUE(got);
    EXPECT_EQ((Bytes{0x05, 0x01}), got.data());
}

TEST(EngineSync, StoppedLinkIsNotMarkedSyncing)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    EXPECT_EQ(aErrNone, aLink_Stop(record(link.id)));
    EXPECT_EQ(aErrNotReady, aLink_Sync(link.id));
    EXPECT_EQ(linkStatusStopped, aLink_GetStatus(link.id));
    EXPECT_EQ(aErrParam, aLink_Sync(0));
}

// ---------------------------------------------------------------- start and stream state

TEST(EngineStart, ReadinessSeesPipeThatMovedOnAtOnce)
{
    // A read error or a refused first byte moves the in-pipe past "running"
    // before the start looks.
    std::vector<std::pair<const char*, bool>> cases = {{"reads fail", true}, {"garbage first byte", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        auto control = std::make_shared<FdStreamControl>();
        control->failReads = c.second;
        int sv[2];
        ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
        if (!c.second) {
            ASSERT_EQ(1, ::write(sv[1], "\x03", 1));
        }
        auto start = Clock::now();
        int id = aLink_Create(morvtest::createFdStream(sv[0], control));
        EXPECT_LT(msSince(start), 1000);
        ASSERT_NE(0, id);
        EXPECT_EQ(c.second ? linkStatusIOError : linkStatusSyncing, aLink_GetStatus(id));
        EXPECT_EQ(aErrNone, aLink_Destroy(&id));
        ::close(sv[1]);
    }
}

TEST(EngineStart, SecondStartSendsNoSecondForceRoute)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    EXPECT_EQ(aErrNone, aLink_Start(link.id));
    ASSERT_EQ(aErrNone, put(link.id, kModule, {0x17}));
    ASSERT_TRUE(link.simGot(kModule, {0x17}));
    EXPECT_EQ(1u, link.sim.module(kModule).forceRouteCount);
    const auto packets = link.sim.packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets.front().is(0xAF, {1})) << "force route is the first packet";
}

TEST(EngineStart, ReadErrorIsKeptUntilHandshake)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    link.control->failReads = true;
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(link.id) == linkStatusIOError; }));
    link.control->failReads = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(linkStatusIOError, aLink_GetStatus(link.id));
    EXPECT_EQ(aErrNone, aLink_Sync(link.id));
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
}

TEST(EngineStart, IdleReaderDoesNotSpin)
{
    StreamLink link(0);
    ASSERT_TRUE(link.startedAndRouted());
    std::uint64_t before = link.control->gets.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::uint64_t reads = link.control->gets.load() - before;
    EXPECT_GT(reads, 10u);
    EXPECT_LT(reads, 1500u) << "the reader spins on a stream that answers at once";
}

// ---------------------------------------------------------------- heartbeats

TEST(EngineHeartbeat, AnsweredAndNotQueued)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    const std::vector<std::uint8_t> values = {0x00, 0x01, 0xFF};
    for (std::size_t i = 0; i < values.size(); i++) {
        SCOPED_TRACE(static_cast<int>(values[i]));
        ASSERT_TRUE(link.sim.sendHeartbeat(kModule, values[i]));
        ASSERT_TRUE(link.simGot(kModule, {0x00, static_cast<std::uint8_t>(values[i] + 2)}));
        EXPECT_EQ(i + 1, link.sim.heartbeatStats(kModule).answered);
    }
    EXPECT_EQ(0u, link.sim.heartbeatStats(kModule).wrong);
    PacketPtr queued(aLink_GetPacket(link.id));
    EXPECT_FALSE(queued);
}

TEST(EngineHeartbeat, NearMissesAreQueuedUnanswered)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    const std::vector<Bytes> nearMisses = {{0x01, 0x00}, {0x00}, {0x00, 0x00, 0x00}, {0x00, 0x01, 0x02, 0x03}};
    for (const auto& data : nearMisses) {
        ASSERT_TRUE(link.sim.sendPacket(kModule, data));
        PacketPtr got(aLink_AwaitPacket(link.id, 2000));
        ASSERT_TRUE(got);
        EXPECT_EQ(kModule, got->address);
        EXPECT_EQ(data, got.data());
    }
    ASSERT_EQ(aErrNone, put(link.id, kModule, {0x17}));
    ASSERT_TRUE(link.simGot(kModule, {0x17}));
    EXPECT_EQ(1u, toModule(link.sim)) << "something was answered";
}

TEST(EngineHeartbeat, FilterThatConsumesEverythingSwallowsHeartbeats)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    static std::atomic<int> seen;
    seen = 0;
    ASSERT_EQ(aErrNone, aLink_InstallUserPacketFilter(
                            link.id,
                            [](const aPacket*, void*) -> std::uint8_t {
                                ++seen;
                                return 1;
                            },
                            nullptr));
    ASSERT_TRUE(link.sim.sendHeartbeat(kModule, 0));
    ASSERT_TRUE(link.sim.sendPacket(kModule, {0x05}));
    ASSERT_TRUE(eventually([] { return seen.load() == 2; }));
    ASSERT_EQ(aErrNone, put(link.id, kModule, {0x17}));
    ASSERT_TRUE(link.simGot(kModule, {0x17}));
    EXPECT_EQ(0u, link.sim.heartbeatStats(kModule).answered);
    EXPECT_EQ(1u, toModule(link.sim));
    PacketPtr queued(aLink_GetPacket(link.id));
    EXPECT_FALSE(queued);
}

// ---------------------------------------------------------------- writing

TEST(EngineWrite, PooledAndSinglePacketWrites)
{
    struct Case {
        std::uint8_t pooled;
        std::vector<std::size_t> sizes;
    };
    const std::vector<Case> cases = {{1, {16, 255 * 16, 45 * 16}}, {0, std::vector<std::size_t>(301, 16)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pooled ? "pooled" : "not pooled");
        StreamLink link;
        ASSERT_TRUE(link.startedAndRouted());
        ASSERT_EQ(aErrNone, aLink_EnablePooledPackets(link.id, c.pooled));
        // The force-route write is logged once its send returned.
        ASSERT_TRUE(eventually([&] { return link.control->bytesWritten() == 3; }));
        link.control->clearWriteSizes();
        link.control->closeGate();
        Bytes data(14, 0x30);
        ASSERT_EQ(aErrNone, put(link.id, kModule, data));
        ASSERT_TRUE(eventually([&] { return link.control->blockedWrites() == 1; }));
        for (int i = 0; i < 300; i++) {
            data[1] = static_cast<std::uint8_t>(i >> 8);
            data[2] = static_cast<std::uint8_t>(i);
            ASSERT_EQ(aErrNone, put(link.id, kModule, data));
        }
        link.control->openGate();
        ASSERT_TRUE(eventually([&] { return link.control->bytesWritten() == 301 * 16; }));
        EXPECT_EQ(c.sizes, link.control->writeSizes());
        ASSERT_TRUE(link.sim.waitUntil([&] { return toModule(link.sim) == 301; }, Millis(2000)));
        std::vector<SimPacket> received;
        for (const auto& p : link.sim.packets())
            if (p.address == kModule)
                received.push_back(p);
        for (int i = 0; i < 300; i++) {
            const Bytes& d = received[static_cast<std::size_t>(i + 1)].data;
            ASSERT_EQ(14u, d.size());
            EXPECT_EQ(i, d[1] << 8 | d[2]);
        }
    }
}

TEST(EngineWrite, ConcurrentWritersLoseNothing)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 200; i++)
                put(link.id, kModule, {0x30, static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(i)});
        });
    }
    for (auto& w : writers)
        w.join();
    EXPECT_TRUE(link.sim.waitUntil([&] { return toModule(link.sim) == 800; }, Millis(3000)));
}

// Stop with a backlog: the writer is held in a write while packets queue and
// the link is destroyed.
class EngineStopWithBacklog : public ::testing::Test {
protected:
    void backlog(int count)
    {
        ASSERT_TRUE(link.startedAndRouted());
        link.control->closeGate();
        ASSERT_EQ(aErrNone, put(link.id, kModule, {0x41}));
        ASSERT_TRUE(eventually([&] { return link.control->blockedWrites() == 1; }));
        for (int i = 0; i < count; i++)
            ASSERT_EQ(aErrNone, put(link.id, kModule, {0x42, static_cast<std::uint8_t>(i)}));
    }
    // Destroys on another thread and opens the gate once the pipes were told to stop.
    long destroyAndRelease()
    {
        aLink* rec = record(link.id);
        int id = link.id;
        link.id = 0;
        auto start = Clock::now();
        std::thread destroyer([&] { destroyResult = aLink_Destroy(&id); });
        EXPECT_TRUE(eventually([&] { return rec->running.load() == 0; }));
        link.control->openGate();
        destroyer.join();
        return msSince(start);
    }
    // Packets the simulator got after the first force route, as (address, first data byte).
    std::vector<std::pair<int, int>> afterStart()
    {
        EXPECT_TRUE(link.sim.waitUntil([&] { return link.control->deleted(); }, Millis(2000)));
        EXPECT_TRUE(link.sim.waitUntil(
            [&] {
                for (const auto& e : link.sim.connectionEvents())
                    if (e.kind == ConnectionEvent::Kind::PeerClosed)
                        return true;
                return false;
            },
            Millis(2000)));
        std::vector<std::pair<int, int>> seen;
        for (const auto& p : link.sim.packets())
            seen.emplace_back(p.address, p.data.empty() ? -1 : p.data[0]);
        if (!seen.empty())
            seen.erase(seen.begin());
        return seen;
    }

    StreamLink link;
    aErr destroyResult = aErrUnknown;
};

TEST_F(EngineStopWithBacklog, ForceRouteGoesFirstInFinalFlush)
{
    backlog(50);
    destroyAndRelease();
    EXPECT_EQ(aErrNone, destroyResult);
    auto seen = afterStart();
    ASSERT_EQ(52u, seen.size());
    EXPECT_EQ(std::make_pair(int(kModule), 0x41), seen[0]);
    EXPECT_EQ(std::make_pair(0xAF, 0), seen[1]);
    for (std::size_t i = 2; i < seen.size(); i++)
        EXPECT_EQ(std::make_pair(int(kModule), 0x42), seen[i]);
}

TEST_F(EngineStopWithBacklog, FinalFlushIsBounded)
{
    link.control->writeDelayMs = 100;
    backlog(50);
    long elapsed = destroyAndRelease();
    // Unbounded, the 51 writes left would take over 5 s.
    EXPECT_LT(elapsed, 2000);
    auto seen = afterStart();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(std::make_pair(0xAF, 0), seen[1]);
    EXPECT_LT(seen.size(), 40u);
}

TEST(EngineDestroy, StopDoesNotWaitOutTheWritersIdleWait)
{
    // The writer waits up to a second for packets; a stop must wake it for good.
    for (int i = 0; i < 15; i++) {
        StreamLink link;
        ASSERT_TRUE(link.startedAndRouted());
        auto start = Clock::now();
        ASSERT_EQ(aErrNone, aLink_Destroy(&link.id));
        EXPECT_LT(msSince(start), 500) << "round " << i;
    }
}

TEST(EngineDestroy, ForceRouteOffIsTheLastPacket)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    ASSERT_EQ(aErrNone, put(link.id, kModule, {0x17}));
    ASSERT_TRUE(link.simGot(kModule, {0x17}));
    ASSERT_EQ(aErrNone, aLink_Destroy(&link.id));
    EXPECT_EQ(0, link.id);
    EXPECT_TRUE(link.control->deleted());
    ASSERT_TRUE(link.sim.waitUntil([&] { return link.sim.module(kModule).forceRoute == 0; }, Millis(2000)));
    const auto packets = link.sim.packets();
    ASSERT_EQ(3u, packets.size());
    EXPECT_TRUE(packets[1].is(kModule, {0x17}));
    EXPECT_TRUE(packets[2].is(0xAF, {0}));
    EXPECT_EQ(aErrParam, aLink_Destroy(&link.id));
}

// ---------------------------------------------------------------- destroy racing operations

// Operations by id on other threads while the link's last use is destroyed:
// the record must outlive each of them (ASan sees it freed under them), and a
// waiter must be woken, not left to its time-out.
TEST(EngineDestroyRace, WaitersReturnPromptlyWhenTheLastUseGoes)
{
    constexpr std::uint64_t kLongWait = 10000;
    struct Case {
        const char* name;
        std::function<aPacket*(int)> wait;
    };
    const std::vector<Case> cases = {
        {"AwaitFirst", [](int id) { return aLink_AwaitFirst(id, acceptAll, nullptr, kLongWait); }},
        {"AwaitPacket", [](int id) { return aLink_AwaitPacket(id, kLongWait); }},
    };
    for (const auto& c : cases) {
        // Round 0 destroys while the waiter surely waits; the others at once
        // or soon after, to land between the lookup and the wait.
        for (int round = 0; round < 8; round++) {
            SCOPED_TRACE(std::string(c.name) + " round " + std::to_string(round));
            StreamLink link;
            ASSERT_TRUE(link.startedAndRouted());
            const int id = link.id;
            std::atomic<bool> returned{false};
            aPacket* got = nullptr;
            Clock::time_point returnedAt;
            std::thread waiter([&] {
                got = c.wait(id);
                returnedAt = Clock::now();
                returned = true;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(round == 0 ? 150 : round - 1));
            if (round == 0) {
                EXPECT_FALSE(returned.load()) << "not waiting";
            }
            auto destroyedAt = Clock::now();
            EXPECT_EQ(aErrNone, aLink_Destroy(&link.id));
            waiter.join();
            PacketPtr packet(got);
            EXPECT_FALSE(packet);
            EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - destroyedAt).count(), 1000);
            EXPECT_TRUE(link.control->deleted());
        }
    }
}

// Every operation by id hammered from its own thread while the last use is
// destroyed: each sees the link or the unregistered answer, never anything
// else, and no filter installed in the race runs after the destroy.
TEST(EngineDestroyRace, OperationsFindTheLinkOrNothing)
{
    static std::atomic<bool> destroyed;
    static std::atomic<int> lateFilterCalls;
    destroyed = false;
    lateFilterCalls = 0;
    auto filter = [](const aPacket*, void*) -> std::uint8_t {
        if (destroyed.load())
            ++lateFilterCalls;
        return 0;
    };
    using Op = std::function<bool(int)>;  // true: the unregistered answer
    const std::vector<std::pair<const char*, Op>> ops = {
        {"PutPacket",
         [](int id) {
             aErr e = put(id, kModule, {0x30});
             // A queue filled faster than it is written is emptied and reported.
             EXPECT_TRUE(e == aErrNone || e == aErrOverrun || e == aErrParam) << e;
             return e == aErrParam;
         }},
        {"GetStatus", [](int id) { return aLink_GetStatus(id) == linkStatusNoStream; }},
        {"GetPacket and DrainPackets",
         [](int id) {
             PacketPtr p(aLink_GetPacket(id));
             PacketPtr q(aLink_GetFirst(id, acceptAll, nullptr));
             aLink_DrainPackets(id, acceptAll, nullptr);
             return aLink_GetStatus(id) == linkStatusNoStream;
         }},
        {"GetOutputLength and AwaitOutputRoom",
         [](int id) {
             aLink_GetOutputLength(id);
             aErr e = aLink_AwaitOutputRoom(id, 0, 20);
             EXPECT_TRUE(e == aErrNone || e == aErrTimeout || e == aErrConnection || e == aErrParam) << e;
             return e == aErrParam;
         }},
        {"EnablePooledPackets",
         [](int id) {
             aErr e = aLink_EnablePooledPackets(id, 1);
             EXPECT_TRUE(e == aErrNone || e == aErrParam) << e;
             return e == aErrParam;
         }},
        {"InstallUserPacketFilter",
         [filter](int id) {
             aErr e = aLink_InstallUserPacketFilter(id, filter, nullptr);
             EXPECT_TRUE(e == aErrNone || e == aErrParam) << e;
             return e == aErrParam;
         }},
        {"ForceRoute",
         [](int id) {
             aErr e = aLink_ForceRoute(id, 1);
             EXPECT_TRUE(e == aErrNone || e == aErrOverrun || e == aErrParam || e == aErrNotFound) << e;
             return e == aErrNotFound;
         }},
    };
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        destroyed = false;
        StreamLink link;
        ASSERT_TRUE(link.startedAndRouted());
        const int id = link.id;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::atomic<bool> stopSending{false};
        std::thread sender([&] {
            while (!stopSending.load() && Clock::now() < deadline) {
                link.sim.sendPacket(kModule, {0x05});
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        std::vector<std::thread> threads;
        std::vector<int> sawGone(ops.size(), 0);
        for (std::size_t i = 0; i < ops.size(); i++) {
            threads.emplace_back([&, i] {
                while (Clock::now() < deadline) {
                    if (ops[i].second(id)) {
                        sawGone[i] = 1;
                        return;
                    }
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 20 * round));
        EXPECT_EQ(aErrNone, aLink_Destroy(&link.id));
        destroyed = true;
        for (auto& t : threads)
            t.join();
        stopSending = true;
        sender.join();
        for (std::size_t i = 0; i < ops.size(); i++)
            EXPECT_EQ(1, sawGone[i]) << ops[i].first;
    }
    EXPECT_EQ(0, lateFilterCalls.load());
}

// A filter that answers on its own link from the in-pipe thread while the
// link goes: the teardown neither waits on it nor runs on that thread.
TEST(EngineDestroyRace, FilterPuttingOnItsOwnLinkDuringTeardown)
{
    static std::atomic<int> answered;
    answered = 0;
    for (int round = 0; round < 5; round++) {
        SCOPED_TRACE(round);
        StreamLink link;
        ASSERT_TRUE(link.startedAndRouted());
        static int target;
        target = link.id;
        ASSERT_EQ(aErrNone, aLink_InstallUserPacketFilter(
                                link.id,
                                [](const aPacket*, void*) -> std::uint8_t {
                                    if (put(target, kModule, {0x06}) == aErrNone)
                                        ++answered;
                                    return 1;
                                },
                                nullptr));
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        std::atomic<bool> stop{false};
        std::thread sender([&] {
            while (!stop.load() && Clock::now() < deadline) {
                link.sim.sendPacket(kModule, {0x05});
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        ASSERT_TRUE(link.simGot(kModule, {0x06}));
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        auto start = Clock::now();
        EXPECT_EQ(aErrNone, aLink_Destroy(&link.id));
        EXPECT_LT(msSince(start), 1000);
        stop = true;
        sender.join();
        EXPECT_TRUE(link.control->deleted());
    }
    EXPECT_GT(answered.load(), 0);
}

// ---------------------------------------------------------------- taking packets

TEST(EngineReceive, AwaitFirstPicksAndWaitsWithoutDeadlineWrap)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    ASSERT_TRUE(link.sim.sendPacket(kModule, {0x01}));
    ASSERT_TRUE(link.sim.sendPacket(kModule, {0x02}));
    std::uint8_t command = 0x03;
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        link.sim.sendPacket(kModule, {0x03, 0x09});
    });
    // A time-out that does not fit beside the clock must wait, not expire.
    PacketPtr got(aLink_AwaitFirst(link.id, hasCommand, &command, UINT64_MAX));
    late.join();
    ASSERT_TRUE(got);
    EXPECT_EQ((Bytes{0x03, 0x09}), got.data());
    command = 0x01;
    EXPECT_EQ(1u, aLink_DrainPackets(link.id, hasCommand, &command));
    PacketPtr rest(aLink_GetPacket(link.id));
    ASSERT_TRUE(rest);
    EXPECT_EQ((Bytes{0x02}), rest.data());
    EXPECT_EQ(nullptr, aLink_AwaitPacket(link.id, 0));
}

Bytes numberedPackets(int count)
{
    Bytes bytes;
    for (int i = 0; i < count; i++) {
        Bytes p = {kModule, 3, 0x30, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return bytes;
}

TEST(EngineReceive, SlowReaderLosesNothing)
{
    // The module sends far more than the input queue holds while the reader
    // keeps pausing; the reader must still get every packet, in order.
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    const int count = 4000;
    ASSERT_TRUE(link.sim.sendRaw(numberedPackets(count)));
    for (int i = 0; i < count; i++) {
        if (i % 500 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PacketPtr got(aLink_AwaitPacket(link.id, 2000));
        ASSERT_TRUE(got) << "packet " << i;
        ASSERT_EQ(i, got->data[1] << 8 | got->data[2]);
    }
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
}

TEST(EngineReceive, UnreadQueueOverflowLosesTheQueueAndKeepsTheLaterPackets)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    ASSERT_TRUE(link.sim.sendRaw(numberedPackets(1100)));
    // The 1001st packet empties the queue; the 99 after it are queued.
    EXPECT_TRUE(eventually([&] { return aPacketFifo_GetLength(record(link.id)->inFifo) == 99; }, 5000));
    PacketPtr first(aLink_GetPacket(link.id));
    ASSERT_TRUE(first);
    EXPECT_EQ(1001, first->data[1] << 8 | first->data[2]);
    EXPECT_EQ(98u, aLink_DrainPackets(link.id, acceptAll, nullptr));
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
}

// The link threads read the debug switches while a test flips them.
void setTracing(std::uint8_t enable, std::uint32_t level)
{
    __atomic_store_n(&aMorvassetDebuggingLevel, level, __ATOMIC_RELAXED);
    __atomic_store_n(&aMorvassetDebuggingEnable, enable, __ATOMIC_RELAXED);
}

// An overflowed input queue is reported, and the link goes on: the packets
// after the loss are delivered and a wait works, on every kind of link.
enum class Transport { CallersStream, Tcp, Serial };

class EngineOverflow : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override
    {
        switch (GetParam()) {
        case Transport::CallersStream:
            streamLink_ = std::make_unique<StreamLink>();
            id_ = streamLink_->id;
            sim_ = &streamLink_->sim;
            break;
        case Transport::Tcp:
            own_ = std::make_unique<ModuleSimulator>(kModule);
            sim_ = own_.get();
            id_ = aLink_CreateTCPIP(loopback("127.0.0.4"), sim_->listenTcp("127.0.0.4"));
            break;
        case Transport::Serial:
            own_ = std::make_unique<ModuleSimulator>(kModule);
            sim_ = own_.get();
            sim_->attachPty(pty_);
            id_ = aLink_CreateSerial(0x00C0FFEEu, pty_.slavePath().c_str(), 115200);
            break;
        }
        ASSERT_NE(0, id_);
        ASSERT_TRUE(sim_->waitForPacket([](const SimPacket& p) { return p.is(0xAF, {1}); }, Millis(3000)));
    }
    void TearDown() override
    {
        setTracing(0, 0);
        if (streamLink_ == nullptr && id_ != 0)
            aLink_Destroy(&id_);
    }

    morvtest::PtyPair pty_;
    std::unique_ptr<ModuleSimulator> own_;
    std::unique_ptr<StreamLink> streamLink_;
    ModuleSimulator* sim_ = nullptr;
    int id_ = 0;
};

TEST_P(EngineOverflow, LossIsReportedAndTheLinkKeepsRunning)
{
    setTracing(1, aDEBUG_LINK);
    std::string trace;
    {
        morvtest::FdCapture out(1);
        // Nobody reads: the 1001st packet overflows the queue.
        ASSERT_TRUE(sim_->sendRaw(numberedPackets(1001)));
        EXPECT_TRUE(eventually([&] { return aLink_GetStatus(id_) == linkStatusPacketError; }, 5000));
        trace = out.finish();
    }
    setTracing(0, 0);
    EXPECT_NE(std::string::npos, trace.find("input queue overflowed")) << trace;
    EXPECT_EQ(nullptr, aLink_GetPacket(id_));

    // A wait begun while the loss is current gets the next packet.
    std::uint8_t fresh = 0x77;
    const auto start = Clock::now();
    ASSERT_TRUE(sim_->sendPacket(kModule, {fresh, 1}, morvsim::SendTiming{Millis(150)}));
    PacketPtr got(aLink_AwaitFirst(id_, hasCommand, &fresh, 3000));
    ASSERT_TRUE(got) << "after " << msSince(start) << " ms, status " << aLink_GetStatus(id_);
    EXPECT_EQ((Bytes{fresh, 1}), got.data());
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(id_));

    // And so does every later one.
    for (std::uint8_t i = 2; i < 5; i++) {
        ASSERT_TRUE(sim_->sendPacket(kModule, {fresh, i}));
        PacketPtr next(aLink_AwaitFirst(id_, hasCommand, &fresh, 3000));
        ASSERT_TRUE(next);
        EXPECT_EQ((Bytes{fresh, i}), next.data());
    }
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(id_));
}

INSTANTIATE_TEST_SUITE_P(Transports, EngineOverflow,
                         ::testing::Values(Transport::CallersStream, Transport::Tcp, Transport::Serial),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                             switch (info.param) {
                             case Transport::CallersStream: return std::string("CallersStream");
                             case Transport::Tcp: return std::string("Tcp");
                             default: return std::string("Serial");
                             }
                         });

// A packet whose write fails is lost like one the input queue could not take:
// reported by status 8 besides the debug line, and the link goes on.
TEST(EngineWrite, FailedWriteIsReportedAndTheLinkKeepsRunning)
{
    for (std::uint8_t pooled : {0, 1}) {
        SCOPED_TRACE(pooled ? "pooled" : "not pooled");
        StreamLink link;
        ASSERT_TRUE(link.startedAndRouted());
        ASSERT_EQ(aErrNone, aLink_EnablePooledPackets(link.id, pooled));
        ASSERT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
        setTracing(1, aDEBUG_LINK);
        std::string trace;
        {
            morvtest::FdCapture out(1);
            link.control->failWrites = true;
            ASSERT_EQ(aErrNone, put(link.id, kModule, {0x51}));
            EXPECT_TRUE(eventually([&] { return aLink_GetStatus(link.id) == linkStatusPacketError; }));
            trace = out.finish();
        }
        setTracing(0, 0);
        EXPECT_NE(std::string::npos, trace.find(pooled ? "error writing pooled: 6" : "error writing: 6")) << trace;

        // Both ways work on; a packet delivered brings back 2.
        link.control->failWrites = false;
        ASSERT_EQ(aErrNone, put(link.id, kModule, {0x52}));
        EXPECT_TRUE(link.simGot(kModule, {0x52}));
        std::uint8_t fresh = 0x53;
        ASSERT_TRUE(link.sim.sendPacket(kModule, {fresh, 1}));
        PacketPtr got(aLink_AwaitFirst(link.id, hasCommand, &fresh, 3000));
        EXPECT_TRUE(got);
        EXPECT_EQ(linkStatusRunning, aLink_GetStatus(link.id));
    }
}

TEST(EngineReceive, UnregisteredIds)
{
    EXPECT_EQ(linkStatusNoStream, aLink_GetStatus(0));
    EXPECT_EQ(linkStatusNoStream, aLink_GetStatus(999999));
    aPacket* packet = aPacket_Create();
    EXPECT_EQ(aErrParam, aLink_PutPacket(999999, packet));
    aPacket_Destroy(&packet);
    EXPECT_EQ(nullptr, aLink_GetPacket(999999));
    EXPECT_EQ(nullptr, aLink_AwaitPacket(999999, 10));
    EXPECT_EQ(nullptr, aLink_AwaitFirst(999999, acceptAll, nullptr, 10));
    EXPECT_EQ(0u, aLink_DrainPackets(999999, acceptAll, nullptr));
    EXPECT_EQ(aErrParam, aLink_InstallUserPacketFilter(999999, nullptr, nullptr));
    EXPECT_EQ(aErrParam, aLink_EnablePooledPackets(999999, 1));
    EXPECT_EQ(aErrParam, aLink_Start(999999));
    EXPECT_EQ(aErrParam, aLink_Stop(nullptr));
    EXPECT_EQ(aErrNotFound, aLink_ForceRoute(999999, 1));
    EXPECT_EQ(aErrParam, aLink_Reset(999999));
    int id = 999999;
    EXPECT_EQ(aErrParam, aLink_Destroy(&id));
    EXPECT_EQ(0, id);
    EXPECT_EQ(aErrParam, aLink_Destroy(nullptr));
}

TEST(EngineReceive, ReplacedFilterIsNeverCalledAgain)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    static std::atomic<bool> removed;
    static std::atomic<int> lateCalls;
    static std::atomic<int> calls;
    removed = false;
    lateCalls = 0;
    calls = 0;
    auto first = [](const aPacket*, void*) -> std::uint8_t {
        if (removed.load())
            ++lateCalls;
        ++calls;
        return 1;
    };
    auto second = [](const aPacket*, void*) -> std::uint8_t { return 1; };
    ASSERT_EQ(aErrNone, aLink_InstallUserPacketFilter(link.id, first, nullptr));
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load()) {
            link.sim.sendPacket(kModule, {0x05});
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    ASSERT_TRUE(eventually([] { return calls.load() > 20; }));
    ASSERT_EQ(aErrNone, aLink_InstallUserPacketFilter(link.id, second, nullptr));
    removed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    sender.join();
    EXPECT_EQ(0, lateCalls.load());
}

TEST(EngineLog, PipesRecordIntoPublishedLog)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    aLink* rec = record(link.id);
    aPacketLog* log = aPacketLog_Create(aPACKETLOG_DEFAULT_SIZE);
    aMutex* mutex = aMutex_Create("LOG_SEMA_test");
    ASSERT_EQ(aErrNone, aLink_PublishPacketLog(rec, log, mutex));
    aPacketLog* other = aPacketLog_Create(64);
    aMutex* otherMutex = aMutex_Create(nullptr);
    EXPECT_EQ(aErrBusy, aLink_PublishPacketLog(rec, other, otherMutex));
    aPacketLog_Destroy(&other);
    aMutex_Destroy(&otherMutex);

    ASSERT_TRUE(link.sim.sendPacket(kModule, {0x05, 0x01, 0x02}));
    PacketPtr got(aLink_AwaitPacket(link.id, 2000));
    ASSERT_TRUE(got);
    ASSERT_EQ(aErrNone, put(link.id, kModule, {0x07}));
    ASSERT_TRUE(link.simGot(kModule, {0x07}));

    std::vector<std::pair<int, Bytes>> records;
    ASSERT_TRUE(eventually([&] {
        aMutex_Lock(mutex);
        for (;;) {
            std::int32_t direction = 0;
            std::uint8_t buffer[64];
            std::uint32_t length = sizeof(buffer);
            if (aPacketLog_Get(log, &direction, &length, buffer) != aErrNone)
                break;
            // The start's force-route write may be recorded just after publishing.
            if (length > 0 && buffer[0] == 0xAF)
                continue;
            records.emplace_back(direction, Bytes(buffer, buffer + length));
        }
        aMutex_Unlock(mutex);
        return records.size() >= 2;
    }));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(std::make_pair(2, Bytes{4, 3, 5, 1, 2}), records[0]);
    EXPECT_EQ(std::make_pair(1, Bytes{4, 1, 7}), records[1]);
    // The link frees its log and mutex.
}

// ---------------------------------------------------------------- transports and reset

// A TCP/IP link to the simulator listening on 127.0.0.x.
class EngineTcp : public ::testing::Test {
protected:
    void open(const char* ip)
    {
        address = loopback(ip);
        port = sim.listenTcp(ip);
        id = aLink_CreateTCPIP(address, port);
        ASSERT_NE(0, id);
        ASSERT_TRUE(forceRouteOn(1, 1));
    }
    void TearDown() override
    {
        if (id != 0) {
            EXPECT_EQ(aErrNone, aLink_Destroy(&id));
        }
    }
    bool forceRouteOn(std::uint64_t connection, std::uint8_t value)
    {
        return sim
            .waitForPacket([&](const SimPacket& p) { return p.connection == connection && p.is(0xAF, {value}); },
                           Millis(3000))
            .has_value();
    }
    bool ended(std::uint64_t connection)
    {
        for (const auto& e : sim.connectionEvents())
            if (e.connection == connection &&
                (e.kind == ConnectionEvent::Kind::PeerClosed || e.kind == ConnectionEvent::Kind::PeerReset))
                return true;
        return false;
    }

    ModuleSimulator sim{kModule};
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    int id = 0;
};

TEST_F(EngineTcp, HeartbeatsAndPacketsOverTcp)
{
    open("127.0.0.2");
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(id));
    ASSERT_TRUE(sim.sendHeartbeat(kModule, 1));
    ASSERT_TRUE(sim.waitUntil([&] { return sim.heartbeatStats(kModule).answered == 1; }, Millis(2000)));
    ASSERT_TRUE(sim.sendPacket(kModule, {0x05, 0x01}));
    PacketPtr got(aLink_AwaitPacket(id, 2000));
    ASSERT_TRUE(got);
    EXPECT_EQ((Bytes{0x05, 0x01}), got.data());
    EXPECT_EQ(aErrNone, aLink_Sync(id));
    ASSERT_EQ(aErrNone, aLink_Destroy(&id));
    EXPECT_TRUE(forceRouteOn(1, 0));
    EXPECT_TRUE(sim.waitUntil([&] { return ended(1); }, Millis(2000)));
}

TEST_F(EngineTcp, ResetReconnectsKeepingFilterAndPooledFlag)
{
    open("127.0.0.3");
    static std::atomic<int> filtered;
    filtered = 0;
    ASSERT_EQ(aErrNone, aLink_InstallUserPacketFilter(
                            id,
                            [](const aPacket* p, void*) -> std::uint8_t {
                                if (p->dataSize > 0 && p->data[0] == 0x55) {
                                    ++filtered;
                                    return 1;
                                }
                                return 0;
                            },
                            nullptr));
    ASSERT_EQ(aErrNone, aLink_EnablePooledPackets(id, 1));
    aLink* before = record(id);
    aPacket* inPacketBefore = before->inPacket;

    ASSERT_EQ(aErrNone, aLink_Reset(id));
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(id));
    EXPECT_TRUE(forceRouteOn(1, 0));
    EXPECT_TRUE(forceRouteOn(2, 1));
    EXPECT_TRUE(sim.waitUntil([&] { return ended(1); }, Millis(2000)));
    EXPECT_EQ(2u, sim.connectionCount());

    aLink* after = record(id);
    EXPECT_EQ(before, after);
    EXPECT_EQ(inPacketBefore, after->inPacket) << "the in-packet was replaced";
    EXPECT_EQ(1, after->pooled.load());
    ASSERT_TRUE(sim.sendPacket(kModule, {0x55}));
    ASSERT_TRUE(sim.sendPacket(kModule, {0x56}));
    PacketPtr got(aLink_AwaitPacket(id, 2000));
    ASSERT_TRUE(got);
    EXPECT_EQ((Bytes{0x56}), got.data());
    EXPECT_EQ(1, filtered.load());
}

TEST_F(EngineTcp, ResetWithoutModuleLeavesLinkStopped)
{
    open("127.0.0.4");
    sim.stopListening();
    auto start = Clock::now();
    aErr err = aLink_Reset(id);
    EXPECT_NE(aErrNone, err);
    EXPECT_GE(msSince(start), 1800);
    EXPECT_EQ(linkStatusNoStream, aLink_GetStatus(id));
    EXPECT_EQ(aErrParam, put(id, kModule, {0x17}));
    EXPECT_EQ(nullptr, aLink_AwaitPacket(id, 10));
    EXPECT_EQ(aErrConnection, aLink_Start(id));
    EXPECT_EQ(linkStatusNoStream, aLink_GetStatus(id));
    EXPECT_EQ(aErrNone, aLink_Destroy(&id));
}

TEST(EngineReset, LinkOverCallersStreamCannotBeReset)
{
    StreamLink link;
    ASSERT_TRUE(link.startedAndRouted());
    EXPECT_EQ(aErrParam, aLink_Reset(link.id));
    EXPECT_EQ(linkStatusNoStream, aLink_GetStatus(link.id));
    EXPECT_TRUE(link.control->deleted());
    EXPECT_EQ(aErrNone, aLink_Destroy(&link.id));
}

TEST(EngineSerial, PtyLinkSyncsAnswersAndRoutes)
{
    morvtest::PtyPair pty;
    ModuleSimulator sim(kModule);
    sim.attachPty(pty);
    int id = aLink_CreateSerial(0x00C0FFEEu, pty.slavePath().c_str(), 115200);
    ASSERT_NE(0, id);
    EXPECT_TRUE(sim.waitForPacket([](const SimPacket& p) { return p.is(0xAF, {1}); }, Millis(2000)).has_value());
    EXPECT_EQ(aErrNone, aLink_Sync(id));
    ASSERT_TRUE(sim.sendHeartbeat(kModule, 0));
    EXPECT_TRUE(sim.waitUntil([&] { return sim.heartbeatStats(kModule).answered == 1; }, Millis(2000)));
    ASSERT_EQ(aErrNone, aLink_Destroy(&id));
    EXPECT_TRUE(sim.waitUntil([&] { return sim.module(kModule).forceRoute == 0; }, Millis(2000)));
}

}  // namespace
