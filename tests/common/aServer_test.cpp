// The network server on a link to a simulated module, with real ZeroMQ
// clients: routing of requests and replies, pooled byte transfers, stream
// fan-out, flushing, teardown and failed starts.
#include "ServerTestRig.h"

#include "SimEntities.h"
#include "SimStreams.h"
#include "aMulticast.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

using namespace servertest;
using morvsim::bufferKey;
using morvsim::installEntityHandler;
using morvsim::installStreamControl;
using morvsim::streamSample;

namespace {

constexpr std::uint8_t kBufferCommand = 10;
constexpr std::uint8_t kBufferOption = 5;

class ServerTest : public PrivateNetnsTest {
protected:
    void SetUp() override
    {
        PrivateNetnsTest::SetUp();
        if (IsSkipped())
            return;
        module_ = std::make_unique<ServedModule>();
        ASSERT_NE(module_->linkId, 0);
        ASSERT_EQ(module_->serve(), aErrNone);
        ASSERT_NE(module_->port, 0);
    }
    void TearDown() override { module_.reset(); }

    ModuleSimulator& sim() { return module_->sim; }
    std::uint16_t port() const { return module_->port; }

    std::size_t simPacketsWithCommand(std::uint8_t command)
    {
        std::size_t n = 0;
        for (const SimPacket& p : sim().packets())
            n += p.address == kModule && !p.data.empty() && p.data[0] == command;
        return n;
    }

    std::unique_ptr<ServedModule> module_;
};

TEST(ServerArguments, NullAndUnknownAreRefused)
{
    (void)kNoCzmqSignalHandler;
    EXPECT_EQ(aServer_Create(987654, 0, 0), nullptr);
    aServer* none = nullptr;
    EXPECT_EQ(aServer_Destroy(&none), aErrParam);
    EXPECT_EQ(aServer_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aServer_Start(nullptr), aErrParam);
    std::uint16_t port = 1;
    std::uint32_t address = 1;
    EXPECT_EQ(aServer_GetPort(nullptr, &port), aErrParam);
    EXPECT_EQ(aServer_GetInterface(nullptr, &address), aErrParam);
    EXPECT_EQ(aServer_SetModel(nullptr, 1), aErrParam);
    EXPECT_EQ(aServer_SetModuleAddress(nullptr, 4), aErrParam);
    EXPECT_EQ(aServer_FlushFIFO(nullptr), aErrParam);
}

TEST_F(ServerTest, ServesLoopbackAndAnswersTheLinkQueries)
{
    std::uint32_t served = 0;
    ASSERT_EQ(aServer_GetInterface(module_->server, &served), aErrNone);
    EXPECT_EQ(served, kLoopback) << "a host with only lo serves it";
    std::uint16_t* noPort = nullptr;
    EXPECT_EQ(aServer_GetPort(module_->server, noPort), aErrParam);

    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    PacketPtr echo = client.ask(kModule, {kEcho, 1, 2, 3});
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->address, kModule);
    EXPECT_EQ(echo.data(), (Bytes{kEcho, 1, 2, 3}));

    // The address query is answered by a packet without data.
    PacketPtr address = client.ask(0xAD, {});
    ASSERT_TRUE(address);
    EXPECT_EQ(address->address, kModule);
    EXPECT_EQ(address->dataSize, 0);

    // A reply of one data byte is three bytes long, like a server command.
    sim().setHandler(kModule, 40, [](SimModule& m, const SimPacket&, SimReply& r) { r.packet(m.address, {40}); });
    PacketPtr shortReply = client.ask(kModule, {40});
    ASSERT_TRUE(shortReply);
    EXPECT_EQ(shortReply.data(), (Bytes{40}));
    sim().setHandler(kModule, 0, nullptr);
    sim().setHandler(kModule, 1, [](SimModule& m, const SimPacket&, SimReply& r) { r.packet(m.address, {1}); });
    PacketPtr commandLike = client.ask(kModule, {1});
    ASSERT_TRUE(commandLike) << "a reply [4, 1, 1] is not a server command";
    EXPECT_EQ(commandLike.data(), (Bytes{1}));
}

class ManyClients : public ServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(ManyClients, EachGetsOnlyItsOwnReplies)
{
    const int clients = GetParam();
    const int rounds = 25;
    // Answers take a little while, so the clients' requests queue up behind
    // each other at the server.
    sim().setHandler(kModule, kEcho, [](SimModule& m, const SimPacket& p, SimReply& r) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        r.packet(m.address, p.data);
    });
    std::vector<std::unique_ptr<ClientLink>> links;
    for (int c = 0; c < clients; ++c) {
        links.push_back(std::make_unique<ClientLink>(port()));
        ASSERT_TRUE(links.back()->ok());
    }
    std::atomic<int> wrong{0};
    std::atomic<int> missing{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < rounds; ++i) {
                Bytes request{kEcho, std::uint8_t(c), std::uint8_t(i), std::uint8_t(c * 31 + i)};
                PacketPtr reply = links[c]->ask(kModule, request);
                if (!reply)
                    ++missing;
                else if (reply.data() != request)
                    ++wrong;
            }
            if (links[c]->next(100))
                ++wrong;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(missing.load(), 0);
    EXPECT_EQ(simPacketsWithCommand(kEcho), std::size_t(clients * rounds));
}

INSTANTIATE_TEST_SUITE_P(TwoAndFour, ManyClients, ::testing::Values(2, 4));

TEST_F(ServerTest, FramesThatAreNotOnePacketAreDroppedUnanswered)
{
    BareClient bare(port());
    const std::vector<Bytes> bad = {
        {},                                   // empty
        {kModule},                            // one byte
        Bytes(31, 2),                         // longer than any packet
        {kModule, 5, kEcho, 1},               // length byte beyond the frame
        {kModule, 1, kEcho, 9},               // frame beyond the length byte
        {kModule, 29, kEcho},                 // more than 28 data bytes
        {5, 2, kEcho, 1},                     // odd address
        {0, 2, kEcho, 1},                     // no address
        wire(kModule, {kEcho, 1}),            // the good one
    };
    for (const Bytes& frame : bad)
        ASSERT_TRUE(bare.send(frame));
    auto answers = bare.receiveAll(500);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], wire(kModule, {kEcho, 1}));
    EXPECT_EQ(simPacketsWithCommand(kEcho), 1u);
    // Pooled bytes of two packets in one frame are no packet either.
    ASSERT_TRUE(bare.send(concat(wire(kModule, {kEcho, 2}), wire(kModule, {kEcho, 3}))));
    EXPECT_FALSE(bare.receive(500));
    EXPECT_EQ(simPacketsWithCommand(kEcho), 1u);
}

// Far more than any packet: the frontend cuts the sender off at the frame's
// header instead of holding it all in memory, and goes on serving.
TEST_F(ServerTest, AClientSendingAnOversizedFrameIsCutOffAndOthersAreServed)
{
    ClientLink other(port());
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(other.ask(kModule, {kEcho, 1}));
    BareClient big(port());
    DisconnectWatch watch(big.socket());
    ASSERT_TRUE(big.sendPacket(kModule, {kEcho, 2}));
    ASSERT_TRUE(big.receive(3000)) << "connected and served first";
    ASSERT_TRUE(big.send(Bytes(std::size_t(1) << 20, 0x04)));
    EXPECT_TRUE(watch.seen(5000)) << "the oversized frame's sender is cut off";
    PacketPtr reply = other.ask(kModule, {kEcho, 3});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.data(), (Bytes{kEcho, 3}));
    // A client with the longest identity ZeroMQ allows still gets through.
    BareClient named(port(), "127.0.0.1", std::string(255, 'n'));
    ASSERT_TRUE(named.sendPacket(kModule, {kEcho, 4}));
    auto answer = named.receive(3000);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, wire(kModule, {kEcho, 4}));
}

TEST_F(ServerTest, ForceRouteOfAClientIsBlockedAndOtherLinkCommandsPass)
{
    ASSERT_TRUE(sim().waitUntil([&] { return sim().module(kModule).forceRouteCount >= 1; }, Millis(2000)));
    const std::uint64_t before = sim().module(kModule).forceRouteCount;
    BareClient bare(port());
    ASSERT_TRUE(bare.sendPacket(0xAF, {0}));
    ASSERT_TRUE(bare.sendPacket(0xAF, {9, 9}));
    auto start = Clock::now();
    ASSERT_TRUE(bare.sendPacket(kModule, {kEcho, 7}));
    auto reply = bare.receive(1500);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, wire(kModule, {kEcho, 7})) << "the link command got no reply of its own";
    EXPECT_LT(msSince(start), 1000) << "nothing waited for an answer to the link command";
    auto other = sim().waitForPacket([](const SimPacket& p) { return p.is(0xAF, {9, 9}); }, Millis(1000));
    EXPECT_TRUE(other.has_value()) << "another link command reaches the module";
    EXPECT_EQ(sim().module(kModule).forceRouteCount, before);
}

TEST_F(ServerTest, LateUnsolicitedAndUnrelatedPacketsNeverReachAnotherClient)
{
    // Command 30 is answered only for the second client; command 31 answers
    // an unrelated packet first.
    sim().setHandler(kModule, 30, [](SimModule& m, const SimPacket& p, SimReply& r) {
        if (p.data.size() > 1 && p.data[1] == 0xB)
            r.packet(m.address, p.data);
    });
    sim().setHandler(kModule, 31, [](SimModule& m, const SimPacket& p, SimReply& r) {
        r.packet(m.address, {30, 0xEE});
        r.packet(m.address, p.data);
    });
    BareClient a(port());
    BareClient b(port());
    ASSERT_TRUE(a.sendPacket(kModule, {30, 0xA}));
    // The server gives up on it 2 s after it went out; the module answers it late.
    ASSERT_TRUE(sim().waitForPacket([](const SimPacket& p) { return p.is(kModule, {30, 0xA}); }, Millis(2000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    ASSERT_TRUE(sim().sendPacket(kModule, {30, 0xA}));
    ASSERT_TRUE(sim().sendPacket(kModule, {kEcho, 0x55}));  // and says something unasked
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(b.sendPacket(kModule, {30, 0xB}));
    ASSERT_TRUE(b.sendPacket(kModule, {kEcho, 0x66}));
    ASSERT_TRUE(b.sendPacket(kModule, {31, 0xC}));
    auto got = b.receiveAll(500);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], wire(kModule, {30, 0xB}));
    EXPECT_EQ(got[1], wire(kModule, {kEcho, 0x66}));
    EXPECT_EQ(got[2], wire(kModule, {31, 0xC}));
    EXPECT_TRUE(a.receiveAll(200).empty()) << "the first client's request was dropped";
}

// The module answers later than the server waits (2000 ms), after the next
// request of the same key went out: the server never forwards that late reply
// as the next request's answer (its client would take it as its own).
TEST_F(ServerTest, AReplyTheServerGaveUpOnNeverAnswersALaterRequest)
{
    sim().withModule(kModule, [](SimModule& m) { installEntityHandler(m, kBufferCommand); });
    sim().withModule(kModule, [](SimModule& m) {
        m.entities[morvsim::entityKey(kBufferCommand, 7, 0, 1)] = morvsim::u32(0x1111);
        m.entities[morvsim::entityKey(kBufferCommand, 7, 0, 2)] = morvsim::u32(0x2222);
    });
    morvsim::Faults late;
    late.replyTiming.delay = Millis(2300);
    sim().setFaults(late);
    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    const Bytes first{kBufferCommand, 0x47, 0x20, 1};
    const Bytes second{kBufferCommand, 0x47, 0x20, 2};
    ASSERT_EQ(client.put(kModule, first), aErrNone);
    // The server has given up on the first request, whose reply is on its way.
    ASSERT_TRUE(sim().waitForPacket([&](const SimPacket& p) { return p.is(kModule, first); }, Millis(2000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(2050));
    ASSERT_EQ(client.put(kModule, second), aErrNone);
    for (const Bytes& reply : client.drain(3000, 3500))
        EXPECT_NE(reply, Bytes({kBufferCommand, 7, 0, 0, 0, 0x11, 0x11})) << "the first request's reply";
}

TEST_F(ServerTest, MultiPacketRepliesArriveWholeAndInOrder)
{
    Bytes buffer(3200);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = std::uint8_t(i * 7 + 1);
    sim().withModule(kModule, [&](SimModule& m) {
        installEntityHandler(m, kBufferCommand);
        m.entities[bufferKey(kBufferCommand, kBufferOption, 0)] = buffer;
    });
    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    ASSERT_EQ(client.put(kModule, {kBufferCommand, 0x40 | kBufferOption, 0x20}), aErrNone);
    Bytes received;
    std::size_t packets = 0;
    for (;;) {
        PacketPtr p = client.next(3000);
        ASSERT_TRUE(p) << "after " << packets << " packets";
        ASSERT_GE(p->dataSize, 4);
        EXPECT_EQ(aUEI_getBytesSequence(p.p), packets % 128) << "packet " << packets;
        received.insert(received.end(), p->data + 3, p->data + p->dataSize - 1);
        ++packets;
        if (!aUEI_getBytesContinue(p.p))
            break;
    }
    EXPECT_EQ(packets, 134u);
    EXPECT_EQ(received, buffer);
}

TEST_F(ServerTest, ByteTransfersReachTheModuleWholeAndOneAfterTheOther)
{
    sim().withModule(kModule, [](SimModule& m) {
        installEntityHandler(m, kBufferCommand);
        m.entities[bufferKey(kBufferCommand, kBufferOption, 0)] = Bytes();
    });
    // 134 packets each, sequence numbers wrapping after 127, both on the
    // same entity: interleaved, the module would see them out of sequence.
    const Bytes bytesA(3200, 0xAA);
    const Bytes bytesB(3216, 0xBB);
    ClientLink a(port());
    ClientLink b(port());
    ClientLink c(port());
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    auto transfer = [](ClientLink& link, const Bytes& bytes, std::vector<Bytes>* replies) {
        for (const Bytes& packet : bufferSetPackets(kBufferCommand, kBufferOption, 0, bytes))
            link.put(kModule, packet);
        *replies = link.drain(1000, 6000);
    };
    std::vector<Bytes> repliesA;
    std::vector<Bytes> repliesB;
    std::atomic<int> echoes{0};
    std::thread ta(transfer, std::ref(a), std::cref(bytesA), &repliesA);
    std::thread tb(transfer, std::ref(b), std::cref(bytesB), &repliesB);
    std::thread tc([&] {
        for (int i = 0; i < 20; ++i)
            echoes += c.ask(kModule, {kEcho, std::uint8_t(i)}).p != nullptr;
    });
    ta.join();
    tb.join();
    tc.join();
    const Bytes ack{kBufferCommand, 0xC0 | kBufferOption, 0};
    ASSERT_EQ(repliesA.size(), 1u) << "one reply for the whole transfer";
    EXPECT_EQ(repliesA[0], ack);
    ASSERT_EQ(repliesB.size(), 1u);
    EXPECT_EQ(repliesB[0], ack);
    EXPECT_EQ(echoes.load(), 20);

    // At the module each transfer is one run of packets.
    std::vector<int> runs;  // the owner (0xAA, 0xBB or the echo) of each run
    for (const SimPacket& p : sim().packets()) {
        if (p.address != kModule || p.data.empty())
            continue;
        int owner = p.data[0] == kBufferCommand ? p.data[3] : kEcho;
        if (runs.empty() || runs.back() != owner)
            runs.push_back(owner);
    }
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 0xAA), 1);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 0xBB), 1);
    EXPECT_EQ(simPacketsWithCommand(kBufferCommand), 268u);
}

TEST_F(ServerTest, PoolsPassOtherPacketsRestartAndAgeOut)
{
    sim().withModule(kModule, [](SimModule& m) {
        installEntityHandler(m, kBufferCommand);
        m.entities[bufferKey(kBufferCommand, kBufferOption, 0)] = Bytes();
    });
    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    const Bytes ack{kBufferCommand, 0xC0 | kBufferOption, 0};
    auto packets = bufferSetPackets(kBufferCommand, kBufferOption, 0, Bytes(100, 0x11));  // 5 packets

    // A gap: the transfer is dropped, the module sees none of it.
    for (std::size_t i : {0, 1, 3, 4})
        client.put(kModule, packets[i]);
    EXPECT_FALSE(client.next(800)) << "a broken transfer gets no reply";
    EXPECT_EQ(simPacketsWithCommand(kBufferCommand), 0u);

    // Another packet of the same client passes an open transfer.
    client.put(kModule, packets[0]);
    client.put(kModule, packets[1]);
    PacketPtr echo = client.ask(kModule, {kEcho, 9});
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo.data(), (Bytes{kEcho, 9}));
    // A new transfer replaces the open one.
    auto second = bufferSetPackets(kBufferCommand, kBufferOption, 0, Bytes(100, 0x22));
    for (const Bytes& p : second)
        client.put(kModule, p);
    PacketPtr done = client.next(2000);
    ASSERT_TRUE(done);
    EXPECT_EQ(done.data(), ack);
    EXPECT_EQ(sim().module(kModule).entities[bufferKey(kBufferCommand, kBufferOption, 0)], Bytes(100, 0x22));
    EXPECT_EQ(simPacketsWithCommand(kBufferCommand), second.size());

    // An abandoned transfer ages out: its rest then goes to the module on
    // its own, which finds it out of sequence.
    client.put(kModule, packets[0]);
    client.put(kModule, packets[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    for (std::size_t i = 2; i < packets.size(); ++i)
        client.put(kModule, packets[i]);
    PacketPtr late = client.next(2000);
    ASSERT_TRUE(late);
    ASSERT_GE(late->dataSize, 3);
    EXPECT_NE(late->data[2] & 0x80, 0) << "error reply of the module";
}

TEST_F(ServerTest, StreamSamplesGoToSubscribersUntilTheyDisable)
{
    sim().withModule(kModule, [](SimModule& m) { installStreamControl(m); });
    ClientLink a(port());
    ClientLink b(port());
    ASSERT_TRUE(a.ok() && b.ok());
    const Bytes enable{93, 0x81, 0x20, kModule, 10, 5, 0};
    const Bytes disable{93, 0x82, 0x20, kModule, 10, 5, 0};
    for (int i = 0; i < 2; ++i) {
        PacketPtr ok = a.ask(kModule, enable);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok.data(), (Bytes{93, 0xC1, 0}));
    }
    auto sampleRound = [&](std::uint32_t value) {
        sim().sendPacket(kModule, streamSample(3, 10, 5, 0, 0, 1000 + value, value));
        sim().sendPacket(kModule, streamSample(1, 10, 5, 0, 0, 2000 + value, 7));
        sim().sendHeartbeat(kModule, 0);
    };
    sampleRound(41);
    auto gotA = a.drain(400);
    ASSERT_EQ(gotA.size(), 2u) << "both samples once, however often streaming was enabled";
    EXPECT_EQ(gotA[0], streamSample(3, 10, 5, 0, 0, 1041, 41));
    EXPECT_TRUE(b.drain(200).empty()) << "b never enabled streaming";

    PacketPtr off = a.ask(kModule, disable);
    ASSERT_TRUE(off);
    EXPECT_EQ(off.data(), (Bytes{93, 0xC2, 0}));
    sampleRound(42);
    EXPECT_TRUE(a.drain(400).empty()) << "a disabled streaming";
    EXPECT_TRUE(sim().waitUntil([&] { return sim().heartbeatStats(kModule).answered == 2; }, Millis(2000)))
        << "the server's link answers the heartbeats";
}

TEST_F(ServerTest, FlushForgetsTheClientsWaitingForReplies)
{
    morvsim::Faults slow;
    slow.replyTiming.delay = Millis(600);
    sim().setFaults(slow);
    BareClient bare(port());
    ASSERT_TRUE(bare.sendPacket(kModule, {kEcho, 1}));
    ASSERT_TRUE(sim().waitForPacket([](const SimPacket& p) { return p.is(kModule, {kEcho, 1}); }, Millis(1000)));
    ASSERT_EQ(aServer_FlushFIFO(module_->server), aErrNone);
    EXPECT_FALSE(bare.receive(1200)) << "the answer to a forgotten request is dropped";
    sim().setFaults(morvsim::Faults());
    ASSERT_TRUE(bare.sendPacket(kModule, {kEcho, 2}));
    auto reply = bare.receive(1500);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, wire(kModule, {kEcho, 2}));
}

void ignoreSignal(int) {}

TEST_F(ServerTest, SignalsThatCutWaitsShortChangeNothing)
{
    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.ask(kModule, {kEcho, 0}));
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    // To every other thread: the server's actors, the client stream's broker
    // and the links' pipes among them.
    for (int round = 0; round < 20; ++round) {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            pid_t tid = pid_t(std::stol(task.path().filename().string()));
            if (tid != pid_t(syscall(SYS_gettid)))
                syscall(SYS_tgkill, getpid(), tid, SIGUSR1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::uint8_t i = 1; i <= 3; ++i) {
        PacketPtr reply = client.ask(kModule, {kEcho, i});
        ASSERT_TRUE(reply) << "round " << int(i);
        EXPECT_EQ(reply.data(), (Bytes{kEcho, i}));
    }
    EXPECT_EQ(aLink_GetStatus(client.id), linkStatusRunning);
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(ServerTest, DestroyingTheLinkTakesTheServerDown)
{
    ClientLink client(port());
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.ask(kModule, {kEcho, 1}));
    const int id = module_->linkId;
    ASSERT_EQ(aLink_Destroy(&module_->linkId), aErrNone);
    module_->server = nullptr;
    EXPECT_EQ(sLookupEntryByID(id), nullptr);
    EXPECT_FALSE(client.ask(kModule, {kEcho, 2}, 500));
    // Its frontend port is free again.
    zsock_t* again = zsock_new(ZMQ_ROUTER);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(eventually([&] { return zsock_bind(again, "tcp://127.0.0.1:%d", int(port())) == int(port()); }));
    zsock_destroy(&again);
}

TEST_F(ServerTest, AFailedStartIsReportedAndCleanedUp)
{
    EXPECT_EQ(aServer_Start(module_->server), aErrResource) << "started already";
    module_->stopServing();
    auto slotFree = [] {
        aMulticast* slot = aMulticast_Create(kLoopback, htonl(aMULTICAST_GROUP), aMULTICAST_REQUEST_PORT, 0);
        bool free = slot != nullptr;
        aMulticast_Destroy(&slot);
        return free;
    };
    // A namespace of its own, so no other test's server holds the slot.
    morvtest::NetnsThread own(true);
    ASSERT_EQ(own.error(), "");
    own.run([&] {
        ASSERT_TRUE(slotFree());
        // An interface this host does not have cannot be bound.
        aServer* server = aServer_Create(module_->linkId, ipv4("10.99.0.1"), 0);
        ASSERT_NE(server, nullptr);
        EXPECT_EQ(aServer_Start(server), aErrResource);
        std::uint16_t port = 1;
        EXPECT_EQ(aServer_GetPort(server, &port), aErrNone);
        EXPECT_EQ(port, 0);
        EXPECT_FALSE(slotFree()) << "its responder had started";
        EXPECT_EQ(aServer_Destroy(&server), aErrNone);
        EXPECT_EQ(server, nullptr);
        EXPECT_TRUE(slotFree()) << "the responder gave its slot back";
    });
    const int id = module_->linkId;
    ASSERT_EQ(aLink_Destroy(&module_->linkId), aErrNone);
    EXPECT_EQ(sLookupEntryByID(id), nullptr);
}

}  // namespace
