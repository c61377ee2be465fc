// Stream callbacks of Link: keys, masks and sample decoding, then the table,
// the filter and the worker against the module simulator over TCP.
#include "LinkTestSupport.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "LinkImpl.h"
#include "aPacket.h"

using namespace linktest;
using namespace Zorventa::Morvasset;
using morvsim::SimReply;
using morvsim::streamSample;

namespace {

struct PacketHolder {
    explicit PacketHolder(std::uint8_t address, const Bytes& data)
        : p(aPacket_CreateWithData(address, static_cast<std::uint8_t>(data.size()), data.data()))
    {
    }
    ~PacketHolder()
    {
        if (p)
            aPacket_Destroy(&p);
    }
    aPacket* p;
};

// A gate a callback can wait at, bounded.
class Gate {
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(Millis timeout = Millis(5000))
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// What a callback saw.
struct Calls {
    std::mutex m;
    std::vector<std::uint32_t> values;
    std::set<std::thread::id> threads;
    std::atomic<int> count{0};

    static std::uint8_t record(const aPacket* packet, void* ref)
    {
        auto* self = static_cast<Calls*>(ref);
        std::uint32_t value = 0;
        Link::getStreamSample(packet, nullptr, &value, nullptr);
        {
            std::lock_guard<std::mutex> lock(self->m);
            self->values.push_back(value);
            self->threads.insert(std::this_thread::get_id());
        }
        ++self->count;
        return 0;
    }
};

}  // namespace

// ---------------------------------------------------------------- keys, masks, decoding

TEST(StreamKeys, KeyLayoutAndElements)
{
    const std::uint64_t key = Link::createStreamKey(0x04, 0x0A, 0x05, 0x1F, 0x07);
    EXPECT_EQ(key, 0x07040A051Full);
    struct Case {
        int element;
        std::uint8_t value;
    } cases[] = {{0, 0x04}, {1, 0x0A}, {2, 0x05}, {3, 0x1F}, {4, 0x07}, {5, 0}, {-1, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(Link::getStreamKeyElement(key, c.element), c.value) << c.element;
    EXPECT_EQ(Link::createStreamKey(0xFF, 0xFF, 0xFF, 0xFF, 0xFF) >> 40, 0u);
}

TEST(StreamKeys, WildcardMasks)
{
    const std::uint64_t masks[15] = {
        0x00000000FF, 0x000000FF00, 0x000000FFFF, 0x0000FF0000, 0x0000FF00FF, 0x0000FFFF00,
        0x0000FFFFFF, 0xFF00000000, 0xFF000000FF, 0xFF0000FF00, 0xFF0000FFFF, 0xFF00FF0000,
        0xFF00FF00FF, 0xFF00FFFF00, 0xFF00FFFFFF,
    };
    for (int n = 0; n < 15; ++n)
        EXPECT_EQ(_getGenericStreamKeyMask(n), masks[n]) << n;
    EXPECT_EQ(_getGenericStreamKeyMask(15), 0u);
    EXPECT_EQ(_getGenericStreamKeyMask(-1), 0u);
}

TEST(StreamKeys, SampleTypesAndDecoding)
{
    struct Case {
        const char* what;
        Bytes data;
        Link::STREAM_PACKET type;
        bool sample;
        aErr decode;
        std::uint64_t timestamp;
        std::uint32_t value;
        std::uint8_t subindex;
    } cases[] = {
        {"u8", streamSample(1, 10, 5, 3, 0, 0x0102030405060708ull, 0xAB), Link::STREAM_PACKET_U8, true, aErrNone,
         0x0102030405060708ull, 0xAB, 0},
        {"u16", streamSample(2, 10, 5, 3, 0, 7, 0xBEEF), Link::STREAM_PACKET_U16, true, aErrNone, 7, 0xBEEF, 0},
        {"u32", streamSample(3, 10, 5, 3, 0, 1ull << 40, 0xDEADBEEF), Link::STREAM_PACKET_U32, true, aErrNone,
         1ull << 40, 0xDEADBEEF, 0},
        {"u8, sub-index", streamSample(5, 10, 5, 3, 9, 11, 0x7F), Link::STREAM_PACKET_SUBINDEX_U8, true, aErrNone,
         11, 0x7F, 9},
        {"u16, sub-index", streamSample(6, 10, 5, 3, 2, 12, 0x1234), Link::STREAM_PACKET_SUBINDEX_U16, true,
         aErrNone, 12, 0x1234, 2},
        {"u32, sub-index", streamSample(7, 10, 5, 3, 0xFF, 13, 0x89ABCDEF), Link::STREAM_PACKET_SUBINDEX_U32, true,
         aErrNone, 13, 0x89ABCDEF, 0xFF},
        {"byte-buffer packet (continue)", morvsim::streamBytesPacket(10, 5, 3, {1, 2, 3}, 0x80),
         Link::STREAM_PACKET_BYTES, false, aErrSize, 0, 0, 0},
        {"byte-buffer packet (sequence)", morvsim::streamBytesPacket(10, 5, 3, {1, 2, 3}, 0x01),
         Link::STREAM_PACKET_BYTES, false, aErrSize, 0, 0, 0},
        {"u8 one byte too long", [] { Bytes d = streamSample(1, 10, 5, 3, 0, 1, 1); d.insert(d.end() - 1, 0); return d; }(),
         Link::STREAM_PACKET_U8, false, aErrPacket, 0, 0, 0},
        {"u32 one byte short", [] { Bytes d = streamSample(3, 10, 5, 3, 0, 1, 1); d.erase(d.end() - 2); return d; }(),
         Link::STREAM_PACKET_U32, false, aErrPacket, 0, 0, 0},
        {"type byte 0", [] { Bytes d = streamSample(1, 10, 5, 3, 0, 1, 1); d[3] = 0; return d; }(),
         Link::STREAM_PACKET_NONE, false, aErrPacket, 0, 0, 0},
        {"type byte 8", [] { Bytes d = streamSample(1, 10, 5, 3, 0, 1, 1); d[3] = 8; return d; }(),
         Link::STREAM_PACKET_NONE, false, aErrPacket, 0, 0, 0},
        {"a get reply, not streamed", {10, 5, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Link::STREAM_PACKET_NONE, false,
         aErrPacket, 0, 0, 0},
        {"non-entity command", streamSample(1, 8, 5, 3, 0, 1, 1), Link::STREAM_PACKET_NONE, false, aErrPacket, 0, 0,
         0},
    };
    for (const auto& c : cases) {
        PacketHolder h(kModule, c.data);
        ASSERT_NE(h.p, nullptr) << c.what;
        Link::STREAM_PACKET type = Link::STREAM_PACKET_U32;
        EXPECT_EQ(Link::getStreamPacketType(h.p, &type), c.type != Link::STREAM_PACKET_NONE) << c.what;
        EXPECT_EQ(type, c.type) << c.what;
        EXPECT_EQ(Link::isStreamSample(h.p), c.sample) << c.what;
        std::uint64_t ts = 1;
        std::uint32_t value = 1;
        std::uint8_t sub = 1;
        EXPECT_EQ(Link::getStreamSample(h.p, &ts, &value, &sub), c.decode) << c.what;
        if (c.decode == aErrNone) {
            EXPECT_EQ(ts, c.timestamp) << c.what;
            EXPECT_EQ(value, c.value) << c.what;
            EXPECT_EQ(sub, c.subindex) << c.what;
            EXPECT_EQ(Link::getStreamSample(h.p, nullptr, nullptr, nullptr), aErrNone) << c.what;
        }
    }
    EXPECT_FALSE(Link::getStreamPacketType(nullptr, nullptr));
    for (int t = 0; t <= 7; ++t)
        EXPECT_EQ(Link::isSubindexType(static_cast<Link::STREAM_PACKET>(t)), t >= 5) << t;
    std::uint32_t hi = 0, lo = 0;
    Link::getTimestampParts(0x0123456789ABCDEFull, &hi, &lo);
    EXPECT_EQ(hi, 0x01234567u);
    EXPECT_EQ(lo, 0x89ABCDEFu);
    Link::getTimestampParts(5, nullptr, nullptr);
}

TEST(StreamKeys, RegistrationRefusesOddAndWildcardModules)
{
    Link link("Link");
    for (std::uint8_t module : {1, 3, 0xFF})
        EXPECT_EQ(link.registerStreamCallback(module, 10, 5, 0, true, nullptr, nullptr), aErrParam) << int(module);
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
    std::uint32_t value = 0;
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNotFound);
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, nullptr), aErrParam);
}

// ---------------------------------------------------------------- against the simulator

class LinkStreams : public SimTcpFixture {
protected:
    LinkStreams() : SimTcpFixture("127.0.0.4") {}

    void SetUp() override { connectLink(); }

    bool sample(std::uint8_t type, std::uint8_t command, std::uint8_t option, std::uint8_t subindex,
                std::uint32_t value, std::uint8_t index = 0)
    {
        return sim.sendPacket(kModule, streamSample(type, command, option, index, subindex, 100, value));
    }

    // Waits until the reader has taken everything sent so far: an address
    // query behind the samples gets its answer only after them.
    void settle()
    {
        std::uint8_t address = 0;
        ASSERT_EQ(link.getModuleAddress(&address), aErrNone);
    }
    // A callback on 10/5 that counts its calls; the first waits at the gate.
    aErr registerBlockedAtFirstCall(Gate& gate, std::atomic<int>& calls)
    {
        return link.registerStreamCallback(
            kModule, 10, 5, 0, true,
            [&](const aPacket*, void*) -> std::uint8_t {
                if (calls.fetch_add(1) == 0)
                    gate.wait();
                return 0;
            },
            nullptr);
    }
};

TEST_F(LinkStreams, RegisterSendsTheEnableAndCallbacksRunOnTheWorker)
{
    Calls calls;
    const std::size_t from = sim.packetCount();
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, &calls), aErrNone);
    auto enable = requestTo(93, from);
    ASSERT_TRUE(enable);
    EXPECT_EQ(enable->data, (Bytes{93, 0x81, 0x20, kModule, 10, 5, 0}));
    EXPECT_EQ(morvsim::streamingKeys(sim.module(kModule)), (std::vector<std::uint32_t>{0x040A0500}));
    std::uint8_t streaming = 0;
    ASSERT_EQ(link.isLinkStreaming(kModule, &streaming), aErrNone);
    EXPECT_EQ(streaming, 1);

    for (std::uint32_t v = 1; v <= 5; ++v)
        ASSERT_TRUE(sample(1, 10, 5, 0, v));
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 5; }));
    {
        std::lock_guard<std::mutex> lock(calls.m);
        EXPECT_EQ(calls.values, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
        ASSERT_EQ(calls.threads.size(), 1u);
        EXPECT_NE(*calls.threads.begin(), std::this_thread::get_id());
    }
    // Samples never reach the input queue: nothing there for a raw receive.
    std::uint8_t match = 10, length = 1, data[28];
    EXPECT_EQ(link.receivePacket(kModule, &match, &length, data), aErrTimeout);

    const std::size_t before = sim.packetCount();
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr), aErrNone);
    auto disable = requestTo(93, before);
    ASSERT_TRUE(disable);
    EXPECT_EQ(disable->data, (Bytes{93, 0x82, 0x20, kModule, 10, 5, 0}));
    EXPECT_TRUE(morvsim::streamingKeys(sim.module(kModule)).empty());
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
}

TEST_F(LinkStreams, ABlockedCallbackDoesNotHoldUpTheReader)
{
    // Shared with the callback, so the gate outlives this body whatever the worker still does;
    // the guard opens it on every way out, an assertion failure included.
    auto gate = std::make_shared<Gate>();
    auto entered = std::make_shared<std::atomic<int>>(0);
    struct Opener {
        std::shared_ptr<Gate> gate;
        ~Opener() { gate->open(); }
    } opener{gate};
    ASSERT_EQ(link.registerStreamCallback(
                  kModule, 10, 5, 0, true,
                  [gate, entered](const aPacket*, void*) -> std::uint8_t {
                      ++*entered;
                      gate->wait();
                      return 0;
                  },
                  nullptr),
              aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 1));
    ASSERT_TRUE(eventually([&] { return entered->load() == 1; }));
    // The callback is stuck; requests and replies still go through.
    setEntity(morvsim::entityKey(3, 8, 0), morvsim::u8(19));
    ASSERT_EQ(link.sendUEI(request(0x48, 0x20)), aErrNone);
    uei reply = expected(8, 0);
    EXPECT_EQ(link.receiveUEI(kModule, 3, 8, 0, &reply), aErrNone);
}

TEST_F(LinkStreams, WildcardRegistrationCachesEachConcreteKey)
{
    Calls calls;
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 0xFF, 0, true, &Calls::record, &calls), aErrNone);
    std::uint32_t value = 0;
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNotFound);

    ASSERT_TRUE(sample(1, 10, 5, 0, 77));
    ASSERT_TRUE(sample(2, 10, 6, 0, 1000));
    settle();
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 2; }));
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNone);
    EXPECT_EQ(value, 77u);
    value = 0;
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrStreamStale);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(link.getStreamValue(kModule, 10, 6, 0, 0, &value), aErrNone);
    EXPECT_EQ(value, 1000u);

    ASSERT_TRUE(sample(1, 10, 5, 0, 78));
    settle();
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNone);
    EXPECT_EQ(value, 78u);

    // A byte-buffer stream packet is consumed and its job runs, but it caches nothing.
    ASSERT_TRUE(sim.sendPacket(kModule, morvsim::streamBytesPacket(10, 7, 0, {1, 2, 3}, 0x80)));
    settle();
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 4; }));
    EXPECT_EQ(link.getStreamValue(kModule, 10, 7, 0, 0, &value), aErrNotFound);
}

// A packet key whose byte is already 0xFF matches several masks to the same
// entry; the entry's callback still runs once per sample.
TEST_F(LinkStreams, OneSampleRunsEachCallbackOnce)
{
    struct Case {
        const char* what;
        std::uint8_t command, option, index;  // registered
        Bytes sampleData;
    } cases[] = {
        {"sub-index 0xFF", 10, 5, 0, streamSample(5, 10, 5, 0, 0xFF, 1, 1)},
        {"command 0xFF", 0xFF, 5, 0, streamSample(1, 0xFF, 5, 0, 0, 1, 1)},
        {"command 0xFF, every option", 0xFF, 0xFF, 0, streamSample(6, 0xFF, 3, 0, 0xFF, 1, 1)},
    };
    for (const auto& c : cases) {
        Calls calls;
        ASSERT_EQ(link.registerStreamCallback(kModule, c.command, c.option, c.index, true, &Calls::record, &calls),
                  aErrNone)
            << c.what;
        ASSERT_TRUE(sim.sendPacket(kModule, c.sampleData));
        ASSERT_TRUE(sim.sendPacket(kModule, c.sampleData));
        settle();
        ASSERT_TRUE(eventually([&] { return calls.count.load() >= 2; })) << c.what;
        std::this_thread::sleep_for(Millis(50));
        EXPECT_EQ(calls.count.load(), 2) << c.what;
        ASSERT_EQ(link.registerStreamCallback(kModule, c.command, c.option, c.index, false, nullptr, nullptr),
                  aErrNone)
            << c.what;
    }
}

TEST_F(LinkStreams, StatusReportsConcreteKeysUpToTheCapacity)
{
    ASSERT_EQ(link.enableStream(kModule, 10, 0xFF, 0, true), aErrNone);
    ASSERT_TRUE(sample(1, 10, 1, 0, 11));
    ASSERT_TRUE(sample(1, 10, 2, 0, 12));
    ASSERT_TRUE(sample(5, 10, 3, 4, 0));  // sub-index 4
    ASSERT_TRUE(sample(5, 10, 3, 5, 0));  // sub-index 5
    settle();
    ASSERT_EQ(link.filterActiveStreamKeys(kModule, 10, 0xFF, 0, 0xFF, true).size(), 5u);  // with the wildcard

    Link::StreamStatusEntry rows[4];
    std::size_t count = 99;
    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 0xFF, rows, 4, &count), aErrNone);
    ASSERT_EQ(count, 4u);
    std::set<std::uint64_t> keys;
    for (std::size_t i = 0; i < count; ++i) {
        keys.insert(rows[i].key);
        for (int e = 0; e < 5; ++e)
            EXPECT_NE(Link::getStreamKeyElement(rows[i].key, e), 0xFF);
    }
    EXPECT_TRUE(keys.count(Link::createStreamKey(kModule, 10, 1, 0, 0)));
    EXPECT_TRUE(keys.count(Link::createStreamKey(kModule, 10, 3, 0, 5)));

    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 0xFF, rows, 3, &count), aErrSize);
    EXPECT_EQ(count, 3u);

    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 4, rows, 4, &count), aErrNone);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(rows[0].key, Link::createStreamKey(kModule, 10, 3, 0, 4));
    EXPECT_EQ(rows[0].value, 0u);

    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 0xFF, nullptr, 4, &count), aErrParam);
    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 0xFF, rows, 0, &count), aErrParam);
    EXPECT_EQ(link.getStreamStatus(kModule, 10, 0xFF, 0, 0xFF, rows, 4, nullptr), aErrParam);
}

TEST_F(LinkStreams, ARefusedEnableLeavesNoKey)
{
    setEntity(morvsim::streamRefusalKey(), {29});
    EXPECT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, nullptr), aErrInvalidOption);
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
    // A code outside the table is no aErr value.
    setEntity(morvsim::streamRefusalKey(), {210});
    EXPECT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, nullptr), aErrUnknown);
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
    // No reply at all is a time-out, with the same clean-up.
    morvsim::Faults f;
    f.silent = true;
    sim.setFaults(f);
    EXPECT_EQ(link.registerStreamCallback(kModule, 10, 6, 0, true, &Calls::record, nullptr), aErrTimeout);
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
}

TEST_F(LinkStreams, AFullQueueDropsThe500thWaitingJob)
{
    Gate gate;
    std::atomic<int> calls{0};
    ASSERT_EQ(registerBlockedAtFirstCall(gate, calls), aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 0));
    ASSERT_TRUE(eventually([&] { return calls.load() == 1; }));  // the first job runs and blocks
    for (std::uint32_t v = 1; v <= 500; ++v)  // 499 fit in the queue, the 500th does not
        ASSERT_TRUE(sample(3, 10, 5, 0, v));
    settle();
    std::uint32_t last = 0;
    ASSERT_TRUE(eventually([&] {
        return link.getStreamValue(kModule, 10, 5, 0, 0, &last) != aErrNotFound && last == 500;
    }));
    gate.open();
    ASSERT_TRUE(eventually([&] { return calls.load() == 500; }));
    std::this_thread::sleep_for(Millis(50));
    EXPECT_EQ(calls.load(), 500);
}

TEST_F(LinkStreams, StoppingDestroysQueuedJobsInsteadOfRunningThem)
{
    Gate gate;
    std::atomic<int> calls{0};
    ASSERT_EQ(registerBlockedAtFirstCall(gate, calls), aErrNone);
    for (std::uint32_t v = 0; v < 20; ++v)
        ASSERT_TRUE(sample(1, 10, 5, 0, v));
    settle();
    ASSERT_TRUE(eventually([&] { return calls.load() == 1; }));
    std::thread opener([&] {
        std::this_thread::sleep_for(Millis(100));
        gate.open();
    });
    // Unregistering empties the table: the worker is stopped and joined.
    EXPECT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr), aErrNone);
    opener.join();
    std::this_thread::sleep_for(Millis(50));
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(LinkStreams, ACallbackMayUnregisterItself)
{
    std::atomic<int> calls{0};
    std::atomic<int> result{-1};
    ASSERT_EQ(link.registerStreamCallback(
                  kModule, 10, 5, 0, true,
                  [&](const aPacket*, void*) -> std::uint8_t {
                      if (calls.fetch_add(1) == 0)
                          result = link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr);
                      return 0;
                  },
                  nullptr),
              aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 1));
    ASSERT_TRUE(eventually([&] { return result.load() != -1; }));
    EXPECT_EQ(result.load(), aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 2));
    settle();
    std::this_thread::sleep_for(Millis(50));
    EXPECT_EQ(calls.load(), 1);
    // Registering again starts a worker again.
    Calls later;
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, &later), aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 3));
    ASSERT_TRUE(eventually([&] { return later.count.load() == 1; }));
}

TEST_F(LinkStreams, ALinkMayBeDestroyedFromItsOwnCallback)
{
    std::atomic<Link*> doomed{new Link(spec, "Link")};
    std::atomic<bool> destroyed{false};
    ASSERT_EQ(doomed.load()->setConfig(directConfig()), aErrNone);
    ASSERT_EQ(doomed.load()->connectThroughLinkModule(link), aErrNone);
    ASSERT_EQ(doomed.load()->registerStreamCallback(
                  kModule, 10, 5, 0, true,
                  [&](const aPacket*, void*) -> std::uint8_t {
                      delete doomed.exchange(nullptr);
                      destroyed = true;
                      return 0;
                  },
                  nullptr),
              aErrNone);
    for (std::uint32_t v = 0; v < 5; ++v)
        ASSERT_TRUE(sample(1, 10, 5, 0, v));
    ASSERT_TRUE(eventually([&] { return destroyed.load(); }));
    // The shared link lives on without the destroyed Link's filter.
    ASSERT_TRUE(sample(1, 10, 5, 0, 9));
    std::uint8_t match = 10, length = 1, data[28];
    EXPECT_EQ(link.receivePacket(kModule, &match, &length, data), aErrNone);
}

TEST_F(LinkStreams, DisconnectDropsTheStreamStateAndResetKeepsIt)
{
    Calls calls;
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 0xFF, 0, true, &Calls::record, &calls), aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 9));
    settle();
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 1; }));

    // After a reset the filter is still ours and the samples keep coming.
    ASSERT_EQ(link.reset(), aErrNone);
    ASSERT_TRUE(sim.waitUntil([&] { return sim.connectionCount() == 2 && sim.connected(); }, Millis(3000)));
    std::uint32_t value = 0;
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrStreamStale);  // from before the reset
    ASSERT_TRUE(sample(1, 10, 5, 0, 10));
    settle();
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 2; }));
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNone);
    EXPECT_EQ(value, 10u);

    // A new connection starts with an empty table.
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_EQ(link.getStreamValue(kModule, 10, 5, 0, 0, &value), aErrNotFound);
    EXPECT_TRUE(link.filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).empty());
    ASSERT_TRUE(sim.waitUntil([&] { return !sim.connected(); }, Millis(2000)));
    connectLink();
    // The simulator takes the new connection on its own thread.
    ASSERT_TRUE(sim.waitUntil([&] { return sim.connectionCount() == 3 && sim.connected(); }, Millis(3000)));
    ASSERT_TRUE(sample(1, 10, 5, 0, 11));
    std::uint8_t match = 10, length = 1, data[28];
    // No filter now: the sample lands in the input queue like any packet.
    EXPECT_EQ(link.receivePacket(kModule, &match, &length, data), aErrNone);
    EXPECT_EQ(calls.count.load(), 2);
}

// Two Links on one link: destroying the one whose filter is installed takes
// its filter off, and leaves the other's alone.
TEST_F(LinkStreams, ASharedLinkOutlivesTheLinkThatStreamed)
{
    Calls calls;
    auto streaming = std::make_unique<Link>(spec, "Link");
    ASSERT_EQ(streaming->setConfig(directConfig()), aErrNone);
    ASSERT_EQ(streaming->connectThroughLinkModule(link), aErrNone);
    ASSERT_EQ(streaming->registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, &calls), aErrNone);
    ASSERT_TRUE(sample(1, 10, 5, 0, 1));
    ASSERT_TRUE(eventually([&] { return calls.count.load() == 1; }));
    streaming.reset();
    // Samples still arrive on the shared link; nothing calls into the destroyed Link.
    ASSERT_TRUE(sample(1, 10, 5, 0, 2));
    std::uint8_t match = 10, length = 1, data[28];
    EXPECT_EQ(link.receivePacket(kModule, &match, &length, data), aErrNone);
    EXPECT_EQ(calls.count.load(), 1);

    // A second Link streams over the first one's filter; when it goes, the
    // first one's filter is back. And a covered Link that goes leaves the
    // one in the slot alone.
    Calls mine;
    ASSERT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, &mine), aErrNone);
    for (int round = 0; round < 2; ++round) {
        auto other = std::make_unique<Link>(spec, "Link");
        ASSERT_EQ(other->setConfig(directConfig()), aErrNone);
        ASSERT_EQ(other->connectThroughLinkModule(link), aErrNone);
        Calls theirs;
        ASSERT_EQ(other->registerStreamCallback(kModule, 10, 5, 0, true, &Calls::record, &theirs), aErrNone);
        ASSERT_TRUE(sample(1, 10, 5, 0, 3));
        ASSERT_TRUE(eventually([&] { return theirs.count.load() == 1; })) << round;
        EXPECT_EQ(mine.count.load(), round) << round;
        if (round == 0) {
            other.reset();
            ASSERT_TRUE(sample(1, 10, 5, 0, 4));
            ASSERT_TRUE(eventually([&] { return mine.count.load() == 1; }));
        } else {
            ASSERT_EQ(link.disconnect(), aErrNone);
            ASSERT_TRUE(sample(1, 10, 5, 0, 5));
            ASSERT_TRUE(eventually([&] { return theirs.count.load() == 2; }));
            EXPECT_EQ(mine.count.load(), 1);
        }
    }
}

// ---------------------------------------------------------------- the turn stays inside

namespace {

template <typename T, typename = void> struct HasLockExchange : std::false_type {
};
template <typename T>
struct HasLockExchange<T, std::void_t<decltype(std::declval<T&>().lockExchange())>> : std::true_type {
};

}  // namespace

// A caller that could hold the link's turn across its own calls could hold
// it across the join of the callback worker while a callback waits for it.
TEST(LinkTurn, IsNoPartOfTheLinksInterface)
{
    EXPECT_FALSE(HasLockExchange<Link>::value);
}

// A callback waits for its turn (another caller's exchange of the same reply
// holds it, the module never answers) while the last callback goes away:
// disconnect and unregister both return, since a turn is only ever waited
// for within its time-out.
TEST_F(LinkStreams, DisconnectOrUnregisterWhileACallbackWaitsForItsTurnReturns)
{
    for (bool disconnect : {false, true}) {
        SCOPED_TRACE(disconnect ? "disconnect" : "unregister");
        if (!link.isConnected())
            connectLink();
        // The streaming-state query is never answered; the rest of command 93 is.
        sim.setHandler(kModule, morvsim::kStreamCommand, [](SimModule& m, const SimPacket& p, SimReply& r) {
            if (p.data.size() >= 2 && p.data[1] != 0x41)
                morvsim::handleStreamControl(m, p, r);
        });
        // The other caller has a Link of its own on the same link: one
        // thread drives one Link's connection.
        Link other(spec, "Link");
        ASSERT_EQ(other.setConfig(directConfig()), aErrNone);
        ASSERT_EQ(other.connectThroughLinkModule(link), aErrNone);
        std::atomic<bool> stop{false};
        std::thread poller([&] {
            for (int n = 0; n < 100 && !stop; ++n) {
                std::uint8_t state = 0;
                other.isLinkStreaming(kModule, &state);
            }
        });
        // Joined on every way out, a failed assertion included.
        const std::unique_ptr<std::thread, std::function<void(std::thread*)>> joined(&poller, [&](std::thread* t) {
            stop = true;
            t->join();
        });
        auto entered = std::make_shared<std::atomic<int>>(0);
        ASSERT_EQ(link.registerStreamCallback(
                      kModule, 10, 5, 0, true,
                      [this, entered](const aPacket*, void*) -> std::uint8_t {
                          ++*entered;
                          std::uint8_t state = 0;
                          link.isLinkStreaming(kModule, &state);
                          return 0;
                      },
                      nullptr),
                  aErrNone);
        ASSERT_TRUE(sample(1, 10, 5, 0, 1));
        ASSERT_TRUE(eventually([&] { return entered->load() == 1; }));
        const auto start = std::chrono::steady_clock::now();
        if (disconnect)
            EXPECT_EQ(link.disconnect(), aErrNone);
        else
            EXPECT_EQ(link.registerStreamCallback(kModule, 10, 5, 0, false, nullptr, nullptr), aErrNone);
        EXPECT_LT(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count(),
            6000);
    }
}
