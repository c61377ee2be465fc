// The module simulator, driven by the test acting as the host over plain
// descriptors: socketpairs, TCP on 127.0.0.x and pty pairs.
#include "FdIo.h"
#include "ModuleSimulator.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace morvsim;
using namespace std::chrono_literals;

constexpr Millis kWait{2000};
// How long a "nothing more comes" check listens.
constexpr Millis kQuiet{150};

Millis since(Clock::time_point start)
{
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

// The host's end of a stream.
class HostEnd {
public:
    explicit HostEnd(int fd = -1) : fd_(fd) {}
    ~HostEnd() { close(); }
    HostEnd(const HostEnd&) = delete;
    HostEnd& operator=(const HostEnd&) = delete;

    int fd() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool write(const Bytes& bytes) { return morvtest::writeAll(fd_, bytes.data(), bytes.size()); }

    // Bytes until count arrived, the stream ended or the time-out passed.
    Bytes read(std::size_t count, Millis timeout)
    {
        Bytes out;
        Clock::time_point deadline = Clock::now() + timeout;
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            std::uint8_t buffer[4096];
            ssize_t n = ::read(fd_, buffer, std::min(sizeof(buffer), count - out.size()));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                lastError_ = n < 0 ? errno : 0;
                ended_ = true;
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    bool ended() const { return ended_; }
    int lastError() const { return lastError_; }

private:
    int fd_;
    bool ended_ = false;
    int lastError_ = 0;
};

Bytes repeat(const Bytes& unit, std::size_t times)
{
    Bytes out;
    for (std::size_t i = 0; i < times; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

const Bytes kSyncRequest{0xAD, 0x00};

// A simulated module at address 4, attached to one end of a socketpair.
class SimOverSocketpair : public ::testing::Test {
protected:
    void SetUp() override
    {
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        sim.attachFd(sv[1]);
        host = std::make_unique<HostEnd>(sv[0]);
    }

    ModuleSimulator sim{4};
    std::unique_ptr<HostEnd> host;
};

int connectTcp(const char* ip, std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, ip, &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<ConnectionEvent::Kind> kinds(const std::vector<ConnectionEvent>& events)
{
    std::vector<ConnectionEvent::Kind> out;
    for (const auto& e : events)
        out.push_back(e.kind);
    return out;
}

bool hasEvent(const ModuleSimulator& sim, ConnectionEvent::Kind kind)
{
    for (const auto& e : sim.connectionEvents())
        if (e.kind == kind)
            return true;
    return false;
}

// ---------------------------------------------------------------- framing

TEST(SimFraming, HostFramerTable)
{
    using R = HostFramer::Result;
    struct Case {
        const char* name;
        Bytes input;
        std::vector<SimPacket> frames;  // address and data only
        std::uint64_t errors;
    };
    auto frame = [](std::uint8_t a, Bytes d) {
        SimPacket p;
        p.address = a;
        p.data = std::move(d);
        return p;
    };
    Bytes full(28);
    for (std::size_t i = 0; i < full.size(); ++i)
        full[i] = static_cast<std::uint8_t>(i + 1);
    Bytes fullWire{0x02, 28};
    fullWire.insert(fullWire.end(), full.begin(), full.end());

    const Case cases[] = {
        {"empty packet", {0x04, 0x00}, {frame(4, {})}, 0},
        {"two data bytes", {0x04, 0x02, 0x10, 0x20}, {frame(4, {0x10, 0x20})}, 0},
        {"sync request", {0xAD, 0x00}, {frame(0xAD, {})}, 0},
        {"force route", {0xAF, 0x01, 0x01}, {frame(0xAF, {0x01})}, 0},
        {"28 data bytes", fullWire, {frame(2, full)}, 0},
        {"odd address dropped", {0x03, 0x04, 0x00}, {frame(4, {})}, 1},
        {"zero address dropped", {0x00, 0x04, 0x00}, {frame(4, {})}, 1},
        {"length 29 drops address and length", {0x04, 0x1D, 0x06, 0x00}, {frame(6, {})}, 1},
        {"back to back", {0xAD, 0x00, 0xAD, 0x00, 0x08, 0x01, 0x17}, {frame(0xAD, {}), frame(0xAD, {}), frame(8, {0x17})}, 0},
        {"zero data byte is data", {0x04, 0x01, 0x00}, {frame(4, {0x00})}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostFramer framer;
        HostFramer::Frame out;
        std::vector<SimPacket> got;
        std::uint64_t errors = 0;
        for (std::uint8_t b : c.input) {
            R r = framer.feed(b, out);
            if (r == R::Complete)
                got.push_back(frame(out.address, out.data));
            else if (r != R::NeedMore)
                ++errors;
        }
        EXPECT_TRUE(framer.idle());
        EXPECT_EQ(errors, c.errors);
        ASSERT_EQ(got.size(), c.frames.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i].is(c.frames[i].address, c.frames[i].data)) << "frame " << i;
    }
}

TEST(SimFraming, EncodeRefusesMoreThan28Bytes)
{
    EXPECT_EQ(encodePacket(4, {}), (Bytes{0x04, 0x00}));
    EXPECT_EQ(encodePacket(4, {0x00, 0x03}), (Bytes{0x04, 0x02, 0x00, 0x03}));
    EXPECT_EQ(encodePacket(4, Bytes(28, 0x11)).size(), 30u);
    EXPECT_TRUE(encodePacket(4, Bytes(29, 0x11)).empty());
}

TEST(SimModuleRecord, RejectsBadAddresses)
{
    EXPECT_THROW(ModuleSimulator(3), std::invalid_argument);
    EXPECT_THROW(ModuleSimulator(0), std::invalid_argument);
    ModuleSimulator sim(4);
    EXPECT_THROW(sim.addModule(SimModule(4)), std::invalid_argument);
    EXPECT_THROW(sim.addModule(SimModule(7)), std::invalid_argument);
    EXPECT_THROW(sim.module(6), std::out_of_range);
    EXPECT_THROW(sim.setLinkModule(6), std::out_of_range);
}

// ---------------------------------------------------------------- sync and address query

TEST_F(SimOverSocketpair, SyncRequestsAreAnsweredPerRequest)
{
    struct Case {
        std::size_t requests;
        unsigned answersPerRequest;
    };
    // Six requests are a handshake; one alone is the address query.
    const Case cases[] = {{6, 1}, {1, 1}, {6, 2}, {3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requests << " requests, " << c.answersPerRequest << " answers each");
        sim.clearRecords();
        sim.withModule(4, [&](SimModule& m) {
            m.syncAnswersPerRequest = c.answersPerRequest;
            m.syncRequests = 0;
        });
        ASSERT_TRUE(host->write(repeat(kSyncRequest, c.requests)));
        ASSERT_TRUE(sim.waitForPacketCount([](const SimPacket& p) { return p.isSyncRequest(); }, c.requests, kWait));
        EXPECT_EQ(sim.rawReceived(), repeat(kSyncRequest, c.requests));
        std::size_t answers = c.requests * c.answersPerRequest;
        EXPECT_EQ(host->read(answers * 2, kWait), repeat({0x04, 0x00}, answers));
        // No extra answer: a sentinel request's answer is the very next thing.
        sim.withModule(4, [](SimModule& m) { m.syncAnswersPerRequest = 1; });
        ASSERT_TRUE(host->write(kSyncRequest));
        EXPECT_EQ(host->read(4, kQuiet), (Bytes{0x04, 0x00}));
        EXPECT_EQ(sim.module(4).syncRequests, c.requests + 1);
    }
    EXPECT_EQ(sim.framingErrors(), 0u);
}

TEST_F(SimOverSocketpair, ForceRouteIsRecordedAndNeverAnswered)
{
    ASSERT_TRUE(host->write({0xAF, 0x01, 0x01}));
    ASSERT_TRUE(host->write(kSyncRequest));
    EXPECT_EQ(host->read(4, kQuiet), (Bytes{0x04, 0x00}));
    SimModule m = sim.module(4);
    EXPECT_EQ(m.forceRoute, 1);
    EXPECT_EQ(m.forceRouteCount, 1u);

    // A malformed one (no value byte) changes nothing.
    ASSERT_TRUE(host->write({0xAF, 0x00, 0xAF, 0x01, 0x00}));
    ASSERT_TRUE(sim.waitUntil([&] { return sim.module(4).forceRouteCount == 2; }, kWait));
    m = sim.module(4);
    EXPECT_EQ(m.forceRoute, 0);
    EXPECT_EQ(m.malformedLinkPackets, 1u);
    auto packets = sim.packets();
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_TRUE(packets[0].isForceRoute());
    EXPECT_FALSE(packets[2].isForceRoute());
    EXPECT_TRUE(packets[3].is(0xAF, {0x00}));
}

// ---------------------------------------------------------------- heartbeats

TEST_F(SimOverSocketpair, HeartbeatAnswersAreChecked)
{
    struct Case {
        const char* name;
        bool send;
        std::uint8_t value;
        Bytes answer;  // empty: none
        HeartbeatStats expected;
    };
    auto stats = [](std::uint64_t answered, std::uint64_t wrong, std::uint64_t unanswered, std::uint64_t stray) {
        HeartbeatStats s;
        s.answered = answered;
        s.wrong = wrong;
        s.unanswered = unanswered;
        s.stray = stray;
        return s;
    };
    const Case cases[] = {
        {"value 0 answered with 2", true, 0, {0x04, 0x02, 0x00, 0x02}, stats(1, 0, 0, 0)},
        {"value 1 answered with 3", true, 1, {0x04, 0x02, 0x00, 0x03}, stats(1, 0, 0, 0)},
        {"value wraps", true, 0xFF, {0x04, 0x02, 0x00, 0x01}, stats(1, 0, 0, 0)},
        {"answer echoes the value", true, 0, {0x04, 0x02, 0x00, 0x00}, stats(0, 1, 0, 0)},
        {"answer of the wrong length", true, 0, {0x04, 0x01, 0x00}, stats(0, 1, 0, 0)},
        {"no answer", true, 1, {}, stats(0, 0, 1, 0)},
        {"answer without heartbeat", false, 0, {0x04, 0x02, 0x00, 0x02}, stats(0, 0, 0, 1)},
    };
    sim.withModule(4, [](SimModule& m) { m.heartbeatAnswerTimeout = Millis(60); });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.withModule(4, [](SimModule& m) { m.heartbeats = HeartbeatStats{}; });
        if (c.send) {
            ASSERT_TRUE(sim.sendHeartbeat(4, c.value));
            EXPECT_EQ(host->read(4, kWait), (Bytes{0x04, 0x02, 0x00, c.value}));
        }
        if (!c.answer.empty()) {
            ASSERT_TRUE(host->write(c.answer));
        }
        HeartbeatStats e = c.expected;
        ASSERT_TRUE(sim.waitUntil(
            [&] {
                HeartbeatStats s = sim.heartbeatStats(4);
                return s.answered == e.answered && s.wrong == e.wrong && s.unanswered == e.unanswered &&
                       s.stray == e.stray;
            },
            kWait));
        EXPECT_EQ(sim.heartbeatStats(4).sent, c.send ? 1u : 0u);
    }
}

TEST_F(SimOverSocketpair, TimedHeartbeatsAlternateAndStop)
{
    sim.startHeartbeats(4, Millis(20));
    for (std::uint8_t expected : {0, 1, 0, 1}) {
        Bytes hb = host->read(4, kWait);
        ASSERT_EQ(hb, (Bytes{0x04, 0x02, 0x00, expected}));
        ASSERT_TRUE(host->write({0x04, 0x02, 0x00, static_cast<std::uint8_t>(expected + 2)}));
    }
    ASSERT_TRUE(sim.waitUntil([&] { return sim.heartbeatStats(4).answered >= 4; }, kWait));
    sim.stopHeartbeats(4);
    std::uint64_t sent = sim.heartbeatStats(4).sent;
    EXPECT_FALSE(sim.waitUntil([&] { return sim.heartbeatStats(4).sent > sent; }, Millis(100)));
    EXPECT_EQ(sim.heartbeatStats(4).wrong, 0u);
}

// ---------------------------------------------------------------- handlers and modules

TEST_F(SimOverSocketpair, HandlersRouteByAddressAndCommand)
{
    Handler echo = [](SimModule& m, const SimPacket& p, SimReply& r) { r.packet(m.address, p.data); };
    sim.addModule(SimModule(6, 0x1234ABCD, 19));
    sim.setHandler(6, 23, echo);

    ASSERT_TRUE(host->write({0x06, 0x03, 0x17, 0x01, 0x02}));
    EXPECT_EQ(host->read(5, kWait), (Bytes{0x06, 0x03, 0x17, 0x01, 0x02}));

    // No handler at 4 for command 23, no module at 8.
    ASSERT_TRUE(host->write({0x04, 0x02, 0x17, 0x09, 0x08, 0x01, 0x17}));
    ASSERT_TRUE(sim.waitUntil([&] { return sim.unroutedPackets() == 1; }, kWait));
    EXPECT_EQ(sim.module(4).unhandledPackets, 1u);
    ASSERT_EQ(sim.module(6).received.size(), 1u);
    EXPECT_EQ(sim.module(6).serialNumber, 0x1234ABCDu);

    // Only the link module answers the link-level bytes.
    ASSERT_TRUE(host->write(kSyncRequest));
    EXPECT_EQ(host->read(4, kQuiet), (Bytes{0x04, 0x00}));
    sim.setLinkModule(6);
    ASSERT_TRUE(host->write(kSyncRequest));
    EXPECT_EQ(host->read(4, kQuiet), (Bytes{0x06, 0x00}));
    EXPECT_EQ(sim.module(6).syncRequests, 1u);
    EXPECT_EQ(sim.module(4).syncRequests, 1u);

    // A handler that throws is counted and the simulator goes on.
    sim.setHandler(6, 23, [](SimModule&, const SimPacket&, SimReply&) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(host->write({0x06, 0x01, 0x17}));
    ASSERT_TRUE(sim.waitUntil([&] { return sim.handlerFailures() == 1; }, kWait));
}

TEST_F(SimOverSocketpair, ScriptedSyncAnswersThenTheDefault)
{
    // A handshake of six requests answered by a mismatch, then by exactly two answers.
    sim.setLinkHandler(kSyncByte, scriptedSyncAnswers({{0x04, 0x00, 0x06, 0x00}, {}, {}, {}, {}, {},
                                                       {0x04, 0x00, 0x04, 0x00}, {}, {}, {}, {}, {}}));
    ASSERT_TRUE(host->write(repeat(kSyncRequest, 6)));
    EXPECT_EQ(host->read(4, kWait), (Bytes{0x04, 0x00, 0x06, 0x00}));
    ASSERT_TRUE(host->write(repeat(kSyncRequest, 6)));
    EXPECT_EQ(host->read(4, kWait), (Bytes{0x04, 0x00, 0x04, 0x00}));
    // Used up: one answer per request again.
    ASSERT_TRUE(host->write(kSyncRequest));
    EXPECT_EQ(host->read(4, kQuiet), (Bytes{0x04, 0x00}));
    EXPECT_EQ(sim.module(4).syncRequests, 13u);
}

TEST_F(SimOverSocketpair, RecordsBytesPacketsAndFramingErrors)
{
    ASSERT_TRUE(host->write({0x03, 0xFF, 0xAD, 0x00, 0x04, 0x1E, 0x04, 0x01, 0x55}));
    ASSERT_TRUE(sim.waitForPacket([](const SimPacket& p) { return p.is(4, {0x55}); }, kWait).has_value());
    EXPECT_EQ(sim.rawReceived(), (Bytes{0x03, 0xFF, 0xAD, 0x00, 0x04, 0x1E, 0x04, 0x01, 0x55}));
    EXPECT_EQ(sim.framingErrors(), 3u);
    EXPECT_EQ(host->read(2, kWait), (Bytes{0x04, 0x00}));
    auto packets = sim.packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].wire(), kSyncRequest);
    EXPECT_EQ(packets[1].connection, 1u);

    // fromIndex skips what came before.
    std::size_t mark = sim.packetCount();
    ASSERT_TRUE(host->write({0x04, 0x01, 0x55}));
    auto second = sim.waitForPacket([](const SimPacket& p) { return p.is(4, {0x55}); }, kWait, mark);
    ASSERT_TRUE(second.has_value());
    EXPECT_GE(second->when, packets[1].when);

    sim.clearRecords();
    EXPECT_TRUE(sim.packets().empty());
    EXPECT_TRUE(sim.rawReceived().empty());
    EXPECT_TRUE(sim.module(4).received.empty());
}

// ---------------------------------------------------------------- faults

TEST_F(SimOverSocketpair, SplitRepliesArriveByteByByteWithGaps)
{
    Faults f;
    f.replyTiming.split = true;
    f.replyTiming.gap = Millis(80);
    sim.setFaults(f);
    ASSERT_TRUE(host->write(kSyncRequest));
    Bytes first = host->read(1, kWait);
    Clock::time_point firstAt = Clock::now();
    // What is there right after the first byte: nothing yet.
    EXPECT_TRUE(host->read(1, Millis(20)).empty());
    Bytes second = host->read(1, kWait);
    EXPECT_EQ(first, Bytes{0x04});
    EXPECT_EQ(second, Bytes{0x00});
    EXPECT_GE(since(firstAt), Millis(60));
}

TEST_F(SimOverSocketpair, DelayedRepliesKeepTheirOrder)
{
    Faults f;
    f.replyTiming.delay = Millis(200);
    sim.setFaults(f);
    sim.addModule(SimModule(6));
    sim.setHandler(6, 23, [](SimModule& m, const SimPacket& p, SimReply& r) { r.packet(m.address, p.data); });
    Clock::time_point start = Clock::now();
    ASSERT_TRUE(host->write({0xAD, 0x00, 0x06, 0x01, 0x17}));
    ASSERT_TRUE(sim.waitForRawBytes(5, kWait));
    // Bytes sent meanwhile queue up behind the delayed answers: one stream, one order.
    ASSERT_TRUE(sim.sendRaw({0x02, 0x00}));
    EXPECT_TRUE(host->read(1, Millis(100)).empty());
    EXPECT_EQ(host->read(7, kWait), (Bytes{0x04, 0x00, 0x06, 0x01, 0x17, 0x02, 0x00}));
    EXPECT_GE(since(start), Millis(190));
}

TEST_F(SimOverSocketpair, IgnoreSyncAndSilence)
{
    Faults f;
    f.ignoreSync = true;
    sim.setFaults(f);
    sim.setHandler(4, 23, [](SimModule& m, const SimPacket& p, SimReply& r) { r.packet(m.address, p.data); });
    ASSERT_TRUE(host->write(repeat(kSyncRequest, 6)));
    ASSERT_TRUE(host->write({0x04, 0x01, 0x17}));
    // Other commands are still answered.
    EXPECT_EQ(host->read(3, kWait), (Bytes{0x04, 0x01, 0x17}));
    EXPECT_EQ(sim.module(4).syncRequests, 6u);

    f.ignoreSync = false;
    f.silent = true;
    sim.setFaults(f);
    sim.startHeartbeats(4, Millis(10));
    ASSERT_TRUE(host->write({0x04, 0x01, 0x17, 0xAD, 0x00}));
    ASSERT_TRUE(sim.waitForRawBytes(6 * 2 + 3 + 5, kWait));
    EXPECT_TRUE(host->read(1, kQuiet).empty());
    EXPECT_EQ(sim.heartbeatStats(4).sent, 0u);

    sim.setFaults(Faults{});
    Bytes hb = host->read(4, kWait);
    EXPECT_EQ(hb, (Bytes{0x04, 0x02, 0x00, 0x00}));
}

TEST_F(SimOverSocketpair, PausedReadingLeavesBytesInTheKernel)
{
    Faults f;
    f.pauseReading = true;
    sim.setFaults(f);
    ASSERT_TRUE(host->write(kSyncRequest));
    EXPECT_FALSE(sim.waitForRawBytes(1, kQuiet));
    // The host going away while nobody reads must not make the thread spin.
    host->close();
    std::uint64_t before = sim.wakeups();
    EXPECT_FALSE(sim.waitUntil([&] { return sim.wakeups() > before + 20; }, Millis(200)));

    sim.setFaults(Faults{});
    ASSERT_TRUE(sim.waitForRawBytes(2, kWait));
    ASSERT_TRUE(sim.waitUntil([&] { return hasEvent(sim, ConnectionEvent::Kind::PeerClosed); }, kWait));
    EXPECT_EQ(sim.module(4).syncRequests, 1u);
    EXPECT_FALSE(sim.connected());
}

TEST_F(SimOverSocketpair, RawSendsAndClosing)
{
    ASSERT_TRUE(sim.sendRaw({0x03, 0xFF, 0x00}));
    ASSERT_TRUE(sim.sendPacket(4, {0x05, 0x01}, SendTiming{Millis(0), true, Millis(1)}));
    EXPECT_FALSE(sim.sendPacket(4, Bytes(29, 0)));
    EXPECT_EQ(host->read(7, kWait), (Bytes{0x03, 0xFF, 0x00, 0x04, 0x02, 0x05, 0x01}));

    // Outstanding heartbeats count as unanswered once the connection is gone.
    ASSERT_TRUE(sim.sendHeartbeat(4, 0));
    EXPECT_EQ(host->read(4, kWait).size(), 4u);
    ASSERT_TRUE(sim.closeConnection());
    EXPECT_TRUE(host->read(1, kWait).empty());
    EXPECT_TRUE(host->ended());
    EXPECT_FALSE(sim.connected());
    EXPECT_FALSE(sim.sendRaw({0x02, 0x00}));
    EXPECT_FALSE(sim.sendHeartbeat(4, 0));
    EXPECT_FALSE(sim.closeConnection());
    EXPECT_EQ(sim.heartbeatStats(4).unanswered, 1u);
    EXPECT_EQ(kinds(sim.connectionEvents()),
              (std::vector<ConnectionEvent::Kind>{ConnectionEvent::Kind::Attached, ConnectionEvent::Kind::LocalClosed}));
}

TEST_F(SimOverSocketpair, PeerCloseIsSeen)
{
    ASSERT_TRUE(host->write({0x04, 0x01}));  // half a packet
    host->close();
    ASSERT_TRUE(sim.waitUntil([&] { return !sim.connected(); }, kWait));
    EXPECT_TRUE(hasEvent(sim, ConnectionEvent::Kind::PeerClosed));
    EXPECT_EQ(sim.packetCount(), 0u);
}

// ---------------------------------------------------------------- TCP

TEST(SimTcp, AcceptsOneConnectionAtATimeAndAgainAfterReconnect)
{
    ModuleSimulator sim(4);
    std::uint16_t port = sim.listenTcp("127.0.0.2");
    ASSERT_NE(port, 0);
    EXPECT_EQ(sim.listenPort(), port);

    HostEnd first(connectTcp("127.0.0.2", port));
    ASSERT_GE(first.fd(), 0);
    ASSERT_TRUE(first.write(kSyncRequest));
    EXPECT_EQ(first.read(2, kWait), (Bytes{0x04, 0x00}));

    // A second host waits in the backlog while the first is connected.
    HostEnd second(connectTcp("127.0.0.2", port));
    ASSERT_GE(second.fd(), 0);
    ASSERT_TRUE(second.write({0xAF, 0x01, 0x01}));
    EXPECT_FALSE(sim.waitUntil([&] { return sim.connectionCount() > 1; }, kQuiet));

    first.close();
    ASSERT_TRUE(sim.waitUntil([&] { return sim.connectionCount() == 2; }, kWait));
    auto route = sim.waitForPacket([](const SimPacket& p) { return p.isForceRoute(); }, kWait);
    ASSERT_TRUE(route.has_value());
    EXPECT_EQ(route->connection, 2u);
    ASSERT_TRUE(second.write(kSyncRequest));
    EXPECT_EQ(second.read(2, kWait), (Bytes{0x04, 0x00}));

    // The host resets its connection; the simulator sees it and takes a fresh connect.
    linger lg{1, 0};
    ASSERT_EQ(::setsockopt(second.fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof(lg)), 0);
    second.close();
    ASSERT_TRUE(sim.waitUntil([&] { return hasEvent(sim, ConnectionEvent::Kind::PeerReset); }, kWait));
    HostEnd third(connectTcp("127.0.0.2", port));
    ASSERT_GE(third.fd(), 0);
    ASSERT_TRUE(sim.waitUntil([&] { return sim.connected(); }, kWait));
    EXPECT_EQ(kinds(sim.connectionEvents()),
              (std::vector<ConnectionEvent::Kind>{ConnectionEvent::Kind::Accepted, ConnectionEvent::Kind::PeerClosed,
                                                  ConnectionEvent::Kind::Accepted, ConnectionEvent::Kind::PeerReset,
                                                  ConnectionEvent::Kind::Accepted}));

    // The simulator resets: the host's read fails with ECONNRESET.
    ASSERT_TRUE(third.write(kSyncRequest));
    EXPECT_EQ(third.read(2, kWait), (Bytes{0x04, 0x00}));
    ASSERT_TRUE(sim.resetConnection());
    EXPECT_TRUE(third.read(1, kWait).empty());
    EXPECT_TRUE(third.ended());
    EXPECT_EQ(third.lastError(), ECONNRESET);

    // Without the listener, connects are refused.
    sim.stopListening();
    EXPECT_LT(connectTcp("127.0.0.2", port), 0);
}

TEST(SimTcp, ListensOnLoopbackOnly)
{
    ModuleSimulator sim(4);
    EXPECT_THROW(sim.listenTcp("10.0.0.1"), std::invalid_argument);
    EXPECT_THROW(sim.listenTcp("not an address"), std::invalid_argument);
    std::uint16_t port = sim.listenTcp("127.0.0.3");
    // The same port twice cannot be bound.
    ModuleSimulator other(4);
    EXPECT_THROW(other.listenTcp("127.0.0.3", port), std::runtime_error);
}

// ---------------------------------------------------------------- pty

void makeRaw(int fd)
{
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
}

TEST(SimPty, AnswersOverAPtyAndWaitsOutAHangUp)
{
    morvtest::PtyPair pty;
    makeRaw(pty.slaveFd());
    ModuleSimulator sim(4);
    sim.attachPty(pty);
    EXPECT_LT(pty.masterFd(), 0);

    HostEnd slave(::dup(pty.slaveFd()));
    pty.closeSlave();
    ASSERT_TRUE(slave.write(kSyncRequest));
    EXPECT_EQ(slave.read(2, kWait), (Bytes{0x04, 0x00}));

    slave.close();
    ASSERT_TRUE(sim.waitUntil([&] { return !sim.connected(); }, kWait));
    EXPECT_TRUE(hasEvent(sim, ConnectionEvent::Kind::PeerClosed));
    // Hung up, the thread looks for the slave at a slow pace only.
    std::uint64_t before = sim.wakeups();
    EXPECT_FALSE(sim.waitUntil([&] { return sim.wakeups() > before + 40; }, Millis(300)));

    HostEnd reopened(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(reopened.fd(), 0);
    makeRaw(reopened.fd());
    ASSERT_TRUE(sim.waitUntil([&] { return sim.connected(); }, kWait));
    ASSERT_TRUE(reopened.write(kSyncRequest));
    EXPECT_EQ(reopened.read(2, kWait), (Bytes{0x04, 0x00}));
    auto packets = sim.packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].connection, 2u);
    EXPECT_TRUE(hasEvent(sim, ConnectionEvent::Kind::Reopened));

    // Closing the master hangs the slave up.
    ASSERT_TRUE(sim.closeConnection());
    Bytes rest = reopened.read(1, kWait);
    EXPECT_TRUE(rest.empty());
    EXPECT_TRUE(reopened.ended());
}

// ---------------------------------------------------------------- waiting and shutdown

TEST(SimWait, TimeOutsAreBoundedAndSaturate)
{
    ModuleSimulator sim(4);
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(sim.waitForPacket([](const SimPacket&) { return true; }, Millis(100)).has_value());
    EXPECT_FALSE(sim.waitUntil([] { return false; }, Millis(100)));
    EXPECT_FALSE(sim.waitForRawBytes(1, Millis(0)));
    Millis spent = since(start);
    EXPECT_GE(spent, Millis(200));
    EXPECT_LT(spent, Millis(2000));
    // The largest time-out neither wraps nor waits when the condition holds.
    EXPECT_TRUE(sim.waitUntil([] { return true; }, Millis::max()));
    EXPECT_TRUE(sim.waitForPacketCount([](const SimPacket&) { return true; }, 0, Millis::max()));
    // An idle simulator sleeps in poll.
    std::uint64_t before = sim.wakeups();
    EXPECT_FALSE(sim.waitUntil([&] { return sim.wakeups() > before + 5; }, Millis(200)));
}

TEST(SimShutdown, StopIsBoundedWithWorkPending)
{
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    HostEnd host(sv[0]);
    auto sim = std::make_unique<ModuleSimulator>(4);
    sim->attachFd(sv[1]);
    Faults f;
    f.replyTiming.delay = Millis(10000);
    sim->setFaults(f);
    sim->startHeartbeats(4, Millis(5));
    ASSERT_TRUE(host.write(kSyncRequest));
    ASSERT_TRUE(sim->waitForRawBytes(2, kWait));

    Clock::time_point start = Clock::now();
    sim->stop();
    EXPECT_LT(since(start), Millis(1000));
    EXPECT_GE(sim->droppedBytes(), 2u);
    EXPECT_FALSE(sim->connected());
    EXPECT_FALSE(sim->sendRaw({0x02, 0x00}));
    sim->stop();
    int sv2[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv2), 0);
    HostEnd unused(sv2[0]);
    EXPECT_THROW(sim->attachFd(sv2[1]), std::logic_error);
    EXPECT_THROW(sim->listenTcp("127.0.0.1"), std::logic_error);
    // The refused descriptor was closed, not leaked.
    EXPECT_TRUE(unused.read(1, kWait).empty());
    EXPECT_TRUE(unused.ended());
    // The delayed answer never comes; the stream ends.
    Bytes rest = host.read(64, kWait);
    for (std::size_t i = 0; i + 4 <= rest.size(); i += 4)
        EXPECT_EQ(rest[i + 1], 0x02) << "only heartbeats were due";
    EXPECT_TRUE(host.ended());

    start = Clock::now();
    sim.reset();
    EXPECT_LT(since(start), Millis(1000));
}

// Accessors from several threads while the simulator is busy (for ThreadSanitizer).
TEST_F(SimOverSocketpair, AccessorsWhileBusy)
{
    constexpr std::size_t kPackets = 2000;
    sim.setHandler(4, 23, [](SimModule& m, const SimPacket& p, SimReply& r) { r.packet(m.address, p.data); });
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            (void)sim.packets().size();
            (void)sim.module(4).received.size();
            (void)sim.rawReceived().size();
            (void)sim.heartbeatStats(4);
            std::this_thread::sleep_for(Millis(1));
        }
    });
    std::thread beater([&] {
        for (int i = 0; i < 50; ++i)
            sim.sendHeartbeat(4, static_cast<std::uint8_t>(i & 1));
    });
    Bytes burst;
    for (std::size_t i = 0; i < kPackets; ++i) {
        Bytes one{0x04, 0x02, 0x17, static_cast<std::uint8_t>(i)};
        burst.insert(burst.end(), one.begin(), one.end());
    }
    std::thread writer([&] { host->write(burst); });
    Bytes answers = host->read(kPackets * 4 + 50 * 4, Millis(5000));
    writer.join();
    beater.join();
    done = true;
    reader.join();
    EXPECT_EQ(answers.size(), kPackets * 4 + 50 * 4);
    ASSERT_TRUE(sim.waitForPacketCount([](const SimPacket& p) { return p.address == 4; }, kPackets, kWait));
    EXPECT_EQ(sim.packetCount(), kPackets);
    EXPECT_EQ(sim.framingErrors(), 0u);
}

}  // namespace
