// The network client stream against a bare ROUTER socket on 127.0.0.1 (the
// server's frontend side of the wire), under a link, across a link reset, and
// the pass-through of an interrupt caught by CZMQ, in child processes.
#include "ServerTestRig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <thread>

extern char** environ;

using namespace servertest;

namespace {

const char* const kChildRoleVariable = "MORV_CLIENT_CHILD_ROLE";

// A ROUTER socket standing in for a server's frontend.
class FakeFrontend {
public:
    // receiveBuffer: the TCP receive buffer (bytes) and queue (frames) of a
    // server that is to fill up soon once it stops reading; 0 for the defaults.
    explicit FakeFrontend(int port = 0, int receiveBuffer = 0)
    {
        socket_ = zsock_new(ZMQ_ROUTER);
        zsock_set_linger(socket_, 0);
        if (receiveBuffer > 0) {
            zsock_set_rcvbuf(socket_, receiveBuffer);
            zsock_set_rcvhwm(socket_, receiveBuffer);
        }
        if (port == 0)
            port_ = zsock_bind(socket_, "tcp://127.0.0.1:*");
        else
            port_ = zsock_bind(socket_, "tcp://127.0.0.1:%d", port);
    }
    ~FakeFrontend() { close(); }
    void close() { zsock_destroy(&socket_); }
    FakeFrontend(const FakeFrontend&) = delete;
    FakeFrontend& operator=(const FakeFrontend&) = delete;

    std::uint16_t port() const { return port_ > 0 ? std::uint16_t(port_) : 0; }

    // The next message's content frame; identity_ is its sender.
    std::optional<Bytes> receive(int ms)
    {
        zsock_set_rcvtimeo(socket_, ms);
        zmsg_t* message = zmsg_recv(socket_);
        if (message == nullptr)
            return std::nullopt;
        zframe_t* identity = zmsg_pop(message);
        zframe_t* content = zmsg_first(message);
        std::optional<Bytes> out;
        if (identity != nullptr && content != nullptr) {
            identity_.assign(zframe_data(identity), zframe_data(identity) + zframe_size(identity));
            out = Bytes(zframe_data(content), zframe_data(content) + zframe_size(content));
        }
        zframe_destroy(&identity);
        zmsg_destroy(&message);
        return out;
    }
    std::vector<Bytes> receiveAll(int quietMs)
    {
        std::vector<Bytes> out;
        for (int i = 0; i < 1000; ++i) {
            auto frame = receive(quietMs);
            if (!frame)
                break;
            out.push_back(*frame);
        }
        return out;
    }
    // A frame to the client that sent last.
    bool send(const Bytes& bytes)
    {
        zmsg_t* message = zmsg_new();
        zmsg_addmem(message, identity_.data(), identity_.size());
        zmsg_addmem(message, bytes.data(), bytes.size());
        return zmsg_send(&message, socket_) == 0;
    }
    const Bytes& identity() const { return identity_; }
    zsock_t* socket() const { return socket_; }

private:
    zsock_t* socket_ = nullptr;
    int port_ = -1;
    Bytes identity_;
};

struct StreamPtr {
    aStream* s = nullptr;
    ~StreamPtr()
    {
        if (s != nullptr)
            aStream_Destroy(&s);
    }
};

aErr getByte(aStream* stream, std::uint8_t* byte)
{
    char c = 0;
    aErr err = aStream_Read(stream, &c, 1);
    *byte = std::uint8_t(c);
    return err;
}

// Sends probes until the frontend hears one, so the client is connected;
// heard gets every frame the frontend had by then but the probes.
bool connectedTo(aStream* stream, FakeFrontend& frontend, std::vector<Bytes>* heard = nullptr)
{
    const Bytes probe = wire(kModule, {kEcho, 0x77});
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
        aStream_Write(stream, reinterpret_cast<const char*>(probe.data()), probe.size());
        for (auto got = frontend.receive(50); got; got = frontend.receive(50)) {
            connected = connected || *got == probe;
            if (*got != probe && heard != nullptr)
                heard->push_back(*got);
        }
    }
    return connected;
}

// A port outside both the kernel's ephemeral range and the one CZMQ's "*" binds count up
// from (49152), so no other test's server takes it while no one listens there; never the
// same twice in one process (a closed listener goes a moment later); 0 if none.
std::uint16_t portNoOtherServerTakes()
{
    static int next = 0;
    for (int i = 0; i < 200; ++i) {
        FakeFrontend probe(20000 + (int(getpid()) * 37 + next++ * 101) % 10000);
        if (probe.port() != 0)
            return probe.port();
    }
    return 0;
}

// A frontend on the port once the last one there has closed its listener
// (a moment after it was destroyed); false after 2 s.
bool bindOnceFree(std::optional<FakeFrontend>& frontend, std::uint16_t port, int receiveBuffer = 0)
{
    for (int i = 0; i < 100; ++i) {
        frontend.emplace(port, receiveBuffer);
        if (frontend->port() == port)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class ClientStreamTo : public ::testing::Test {
protected:
    explicit ClientStreamTo(int receiveBuffer) : frontend_(0, receiveBuffer) {}
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        ASSERT_NE(frontend_.port(), 0);
        ASSERT_EQ(aStream_CreateClient(kLoopback, frontend_.port(), &stream_.s), aErrNone);
        ASSERT_NE(stream_.s, nullptr);
        ASSERT_TRUE(connectedTo(stream_.s, frontend_));
    }

    FakeFrontend frontend_;
    StreamPtr stream_;
};

class ClientStream : public ClientStreamTo {
protected:
    ClientStream() : ClientStreamTo(0) {}
};

// A server whose buffers fill soon once it stops reading.
constexpr int kSmallServerBuffer = 4096;
class ClientStreamToASmallServer : public ClientStreamTo {
protected:
    ClientStreamToASmallServer() : ClientStreamTo(kSmallServerBuffer) {}
};

TEST(ClientStreamCreate, NeedsAnOutPointer)
{
    (void)kNoCzmqSignalHandler;
    EXPECT_EQ(aStream_CreateClient(kLoopback, 1, nullptr), aErrParam);
}

TEST_F(ClientStream, HandsOutFramesByteByByteAndWaitsASecondForMore)
{
    Bytes frame(30);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = std::uint8_t(0xA0 + i);
    ASSERT_TRUE(frontend_.send({}));  // an empty frame is skipped, not an error
    ASSERT_TRUE(frontend_.send(frame));
    ASSERT_TRUE(frontend_.send({0x42}));
    Bytes got;
    for (int i = 0; i < 40 && got.size() < 31; ++i) {
        std::uint8_t byte = 0;
        aErr err = getByte(stream_.s, &byte);
        if (err == aErrNone)
            got.push_back(byte);
        else
            ASSERT_EQ(err, aErrNotReady);
    }
    Bytes expected = frame;
    expected.push_back(0x42);
    EXPECT_EQ(got, expected);

    auto start = Clock::now();
    std::uint8_t byte = 0;
    EXPECT_EQ(getByte(stream_.s, &byte), aErrNotReady);
    EXPECT_GE(msSince(start), 900);
    EXPECT_LT(msSince(start), 1800);
}

// The largest frame a server sends (a batch of stream samples) comes through
// whole; a far larger one ends the connection before any of it is kept.
TEST_F(ClientStream, AnOversizedFrameEndsTheConnectionUnread)
{
    DisconnectWatch watch(frontend_.socket());
    Bytes batch(4095);
    for (std::size_t i = 0; i < batch.size(); ++i)
        batch[i] = std::uint8_t(i);
    ASSERT_TRUE(frontend_.send(batch));
    Bytes got;
    for (int i = 0; i < 5000 && got.size() < batch.size(); ++i) {
        std::uint8_t byte = 0;
        if (getByte(stream_.s, &byte) == aErrNone)
            got.push_back(byte);
    }
    EXPECT_EQ(got, batch);

    ASSERT_TRUE(frontend_.send(Bytes(std::size_t(1) << 20, 0x04)));
    EXPECT_TRUE(watch.seen(5000)) << "the client cut the connection";
    std::uint8_t byte = 0;
    EXPECT_EQ(getByte(stream_.s, &byte), aErrNotReady) << "nothing of the oversized frame";
}

TEST_F(ClientStream, WritesWholePacketsOneFrameEachAndNothingElse)
{
    const char one = 4;
    EXPECT_EQ(aStream_Write(stream_.s, &one, 1), aErrUnimplemented) << "single bytes are not sent";
    EXPECT_EQ(stream_.s->put(&one, stream_.s->ref), aErrUnimplemented);

    // Several packets in one write (the link's pooled mode) go as one frame each.
    Bytes pooled = concat(concat(wire(kModule, {kEcho, 1}), wire(kModule, {})), wire(0xAD, {}));
    pooled = concat(pooled, wire(kModule, Bytes(28, 9)));
    ASSERT_EQ(aStream_Write(stream_.s, reinterpret_cast<const char*>(pooled.data()), pooled.size()), aErrNone);
    auto frames = frontend_.receiveAll(300);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], wire(kModule, {kEcho, 1}));
    EXPECT_EQ(frames[1], wire(kModule, {}));
    EXPECT_EQ(frames[2], wire(0xAD, {}));
    EXPECT_EQ(frames[3], wire(kModule, Bytes(28, 9)));

    const std::vector<Bytes> notPackets = {
        {kModule, 3, kEcho},                                       // cut short
        concat(wire(kModule, {kEcho, 2}), Bytes{kModule}),          // a whole one, then a piece
        {kModule, 29, 0},                                          // too long a packet
    };
    for (const Bytes& bytes : notPackets)
        EXPECT_EQ(aStream_Write(stream_.s, reinterpret_cast<const char*>(bytes.data()), bytes.size()), aErrParam);
    EXPECT_TRUE(frontend_.receiveAll(300).empty()) << "nothing of a write that is not whole packets";
}

// A long run of packets to a server that reads them all as they come: every
// packet whose write reported success arrives, in order. The relay to the
// server must not drop a frame over a send that could not go out at that
// instant while the connection is up. (A write may report a failure when the
// relay falls far behind, as under a sanitizer; none is lost silently.)
TEST_F(ClientStream, EveryPacketOfALongRunArrives)
{
    constexpr int kPackets = 200000;
    std::atomic<bool> writing{true};
    std::vector<std::uint16_t> written;
    written.reserve(kPackets);
    std::thread writer([&] {
        for (int i = 0; i < kPackets; ++i) {
            const Bytes packet = wire(kModule, {kEcho, std::uint8_t(i), std::uint8_t(i >> 8)});
            if (aStream_Write(stream_.s, reinterpret_cast<const char*>(packet.data()), packet.size()) == aErrNone)
                written.push_back(std::uint16_t(i));
        }
        writing = false;
    });
    std::vector<std::uint16_t> received;
    received.reserve(kPackets);
    // Until the writer is done and the server has heard nothing for 1 s.
    for (int i = 0; i < 2 * kPackets; ++i) {
        auto frame = frontend_.receive(writing ? 5000 : 1000);
        if (!frame)
            break;
        received.push_back(frame->size() == 5 ? std::uint16_t((*frame)[3] | (*frame)[4] << 8) : 0xFFFF);
    }
    writer.join();
    EXPECT_GT(written.size(), std::size_t(kPackets) * 9 / 10);
    EXPECT_EQ(received.size(), written.size()) << "packets lost between the stream and the server";
    EXPECT_TRUE(received == written) << "packets out of order or changed";
}

// A server that stops reading for a while in the middle of a run: the relay
// holds the requests back for it instead of dropping them. Once everything on
// the way is full the writes report failures; every packet whose write
// reported success still arrives, in order, once the server reads again.
TEST_F(ClientStreamToASmallServer, StopsReadingForAWhileAndLosesNoPacketReportedWritten)
{
    constexpr int kBeforePause = 2000;
    // On the way: the relay's sockets, both TCP buffers, the server's queue.
    constexpr int kPauseWritesAtMost = 600000;
    constexpr int kAfterPause = 2000;
    std::atomic<int> attempts{0};
    std::atomic<int> failures{0};
    std::atomic<int> stopAt{INT_MAX};
    std::vector<std::uint32_t> written;
    std::thread writer([&] {
        for (int i = 0; i < stopAt.load() && i < (1 << 24); ++i) {
            const Bytes packet = wire(kModule, {kEcho, std::uint8_t(i), std::uint8_t(i >> 8), std::uint8_t(i >> 16)});
            if (aStream_Write(stream_.s, reinterpret_cast<const char*>(packet.data()), packet.size()) == aErrNone)
                written.push_back(std::uint32_t(i));
            else
                failures.fetch_add(1);
            attempts.store(i + 1);
        }
    });
    struct StopAndJoin {
        std::atomic<int>& stopAt;
        std::thread& writer;
        ~StopAndJoin()
        {
            stopAt.store(0);
            writer.join();
        }
    } stopAndJoin{stopAt, writer};
    std::vector<std::uint32_t> received;
    auto take = [&](const Bytes& frame) {
        received.push_back(frame.size() == 6 ? std::uint32_t(frame[3] | frame[4] << 8 | frame[5] << 16) : 0xFFFFFFFFu);
    };
    for (int i = 0; i < kBeforePause; ++i) {
        auto frame = frontend_.receive(5000);
        if (!frame)
            break;
        take(*frame);
    }
    ASSERT_EQ(received.size(), std::size_t(kBeforePause));

    // Nothing read until the writer is held back, or surely would have been.
    const int pausedAt = attempts.load();
    const auto pauseStart = Clock::now();
    while (failures.load() == 0 && attempts.load() - pausedAt < kPauseWritesAtMost && msSince(pauseStart) < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stopAt.store(attempts.load() + kAfterPause);

    for (int i = 0; i < 4 * kPauseWritesAtMost; ++i) {
        auto frame = frontend_.receive(attempts.load() < stopAt.load() ? 5000 : 1000);
        if (!frame)
            break;
        take(*frame);
    }
    ASSERT_EQ(attempts.load(), stopAt.load()) << "the writer is done";
    EXPECT_EQ(received.size(), written.size()) << "packets lost between the stream and the server";
    EXPECT_TRUE(received == written) << "packets out of order or changed";
}

// Requests held back for a slow server go with it when it goes away: a
// server that comes later on the same port gets none of them.
TEST(ClientStreamServerGoes, RequestsHeldForItAreNotKeptForTheNext)
{
    (void)kNoCzmqSignalHandler;
    const std::uint16_t port = portNoOtherServerTakes();
    ASSERT_NE(port, 0);
    std::optional<FakeFrontend> slow;
    ASSERT_TRUE(bindOnceFree(slow, port, kSmallServerBuffer));
    StreamPtr stream;
    ASSERT_EQ(aStream_CreateClient(kLoopback, port, &stream.s), aErrNone);
    ASSERT_TRUE(connectedTo(stream.s, *slow));
    constexpr int kWritesAtMost = 2000000;
    int count = 0;
    for (; count < kWritesAtMost; ++count) {
        const Bytes packet =
            wire(kModule, {kEcho, std::uint8_t(count), std::uint8_t(count >> 8), std::uint8_t(count >> 16)});
        if (aStream_Write(stream.s, reinterpret_cast<const char*>(packet.data()), packet.size()) != aErrNone)
            break;
    }
    ASSERT_LT(count, kWritesAtMost) << "a server that reads nothing holds the writer back";
    slow.reset();

    std::optional<FakeFrontend> next;
    ASSERT_TRUE(bindOnceFree(next, port));
    std::vector<Bytes> heard;
    ASSERT_TRUE(connectedTo(stream.s, *next, &heard));
    EXPECT_TRUE(heard.empty()) << heard.size() << " requests kept for the next server";
    const Bytes now = wire(kModule, {kEcho, 0x01});
    ASSERT_EQ(aStream_Write(stream.s, reinterpret_cast<const char*>(now.data()), now.size()), aErrNone);
    auto got = next->receiveAll(300);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], now);
}

TEST(ClientStreamDelete, RefusesANullReference)
{
    (void)kNoCzmqSignalHandler;
    StreamPtr stream;
    ASSERT_EQ(aStream_CreateClient(kLoopback, 1, &stream.s), aErrNone);
    EXPECT_EQ(stream.s->destroy(nullptr), aErrIO);
}

TEST(ClientStreamNoServer, RequestsAreNotKeptForAServerThatComesLater)
{
    (void)kNoCzmqSignalHandler;
    const std::uint16_t port = portNoOtherServerTakes();
    ASSERT_NE(port, 0);
    StreamPtr stream;
    ASSERT_EQ(aStream_CreateClient(kLoopback, port, &stream.s), aErrNone);
    const Bytes early = wire(kModule, {kEcho, 0xEA});
    EXPECT_EQ(aStream_Write(stream.s, reinterpret_cast<const char*>(early.data()), early.size()), aErrNone);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    FakeFrontend late(port);
    ASSERT_EQ(late.port(), port);
    std::vector<Bytes> heard;
    ASSERT_TRUE(connectedTo(stream.s, late, &heard));
    EXPECT_TRUE(heard.empty());
    EXPECT_TRUE(late.receiveAll(200).empty());
    // The probes came; the early request was never delivered.
    const Bytes now = wire(kModule, {kEcho, 0x01});
    ASSERT_EQ(aStream_Write(stream.s, reinterpret_cast<const char*>(now.data()), now.size()), aErrNone);
    auto got = late.receiveAll(300);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], now);
}

class ClientLinkOverStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        ASSERT_NE(frontend_.port(), 0);
    }
    FakeFrontend frontend_;
};

TEST_F(ClientLinkOverStream, CarriesPacketsBothWaysAndPooledWritesOnePerFrame)
{
    ClientLink link(frontend_.port());
    ASSERT_TRUE(link.ok());
    auto first = frontend_.receive(2000);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, wire(0xAF, {1})) << "the link's force route at start";

    ASSERT_TRUE(frontend_.send(wire(kModule, {kEcho, 5, 6})));
    PacketPtr in = link.next(2000);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->address, kModule);
    EXPECT_EQ(in.data(), (Bytes{kEcho, 5, 6}));

    ASSERT_EQ(aLink_EnablePooledPackets(link.id, 1), aErrNone);
    for (std::uint8_t i = 0; i < 50; ++i)
        ASSERT_EQ(link.put(kModule, {kEcho, i}), aErrNone);
    auto frames = frontend_.receiveAll(300);
    ASSERT_EQ(frames.size(), 50u) << "no packet of a pooled write is lost";
    for (std::uint8_t i = 0; i < 50; ++i)
        EXPECT_EQ(frames[i], wire(kModule, {kEcho, i}));
}

TEST_F(ClientLinkOverStream, AResetOpensANewClientStreamToTheSameServer)
{
    int id = sCreate2(kLoopback, frontend_.port(), 0, aLINK_TYPE_CLIENT);
    ASSERT_NE(id, 0);
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateClient(kLoopback, frontend_.port(), &stream), aErrNone);
    ASSERT_EQ(aLink_Init(id, stream), id);
    sChangeUseCount(sLookupEntryByID(id), 1);
    ASSERT_EQ(aLink_Start(id), aErrNone);
    ASSERT_TRUE(frontend_.receive(2000));
    const Bytes before = frontend_.identity();

    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), linkStatusRunning);
    // The old stream's goodbye (force route 0), then the new one's hello.
    std::optional<Bytes> again;
    for (int i = 0; i < 5 && !(again && *again == wire(0xAF, {1})); ++i)
        again = frontend_.receive(2000);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, wire(0xAF, {1}));
    EXPECT_NE(frontend_.identity(), before) << "a new connection";
    ASSERT_TRUE(frontend_.send(wire(kModule, {kEcho, 1})));
    PacketPtr reply(aLink_AwaitPacket(id, 2000));
    EXPECT_TRUE(reply);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

// ---- Interrupts caught by CZMQ, in child processes ----

struct ChildStatus {
    std::string output;
    bool started = false;
    bool timedOut = false;
    int status = 0;
    long long ms = 0;
};

ChildStatus runChild(const std::string& role)
{
    ChildStatus result;
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return result;
    self[n] = '\0';
    std::string filter = "--gtest_filter=ClientStreamChild.PassesAnInterruptOn";
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("ZSYS_SIGHANDLER=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back(std::string(kChildRoleVariable) + "=" + role);
    env.push_back("MORV_CHILD_KEEP_CZMQ_HANDLERS=1");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {self, filter.data(), nullptr};
    pid_t pid = 0;
    auto start = Clock::now();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    char outputPath[] = "/tmp/morv-client-child-XXXXXX";
    int outputFd = mkstemp(outputPath);
    if (outputFd < 0)
        return result;
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        close(outputFd);
        unlink(outputPath);
        return result;
    }
    result.started = true;
    for (;;) {
        pid_t done = waitpid(pid, &result.status, WNOHANG);
        if (done == pid)
            break;
        if (msSince(start) > 20000) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &result.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.ms = msSince(start);
    close(outputFd);
    std::FILE* output = std::fopen(outputPath, "r");
    if (output != nullptr) {
        char buffer[512];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof(buffer), output)) > 0)
            result.output.append(buffer, n);
        std::fclose(output);
    }
    unlink(outputPath);
    return result;
}

TEST(ClientStreamInterrupt, ReachesTheDefaultHandlerAndEndsTheProcess)
{
    ChildStatus child = runChild("default");
    ASSERT_TRUE(child.started);
    EXPECT_FALSE(child.timedOut);
    ASSERT_TRUE(WIFSIGNALED(child.status)) << "exit status " << WEXITSTATUS(child.status) << "\n" << child.output;
    EXPECT_EQ(WTERMSIG(child.status), SIGINT);
}

TEST(ClientStreamInterrupt, ReachesTheProgramsOwnHandlerOnceAndTheStreamGoesOn)
{
    ChildStatus child = runChild("own");
    ASSERT_TRUE(child.started);
    EXPECT_FALSE(child.timedOut);
    ASSERT_TRUE(WIFEXITED(child.status)) << "ended by signal " << WTERMSIG(child.status) << "\n" << child.output;
    EXPECT_EQ(WEXITSTATUS(child.status), 0) << child.output;
}

std::atomic<int> gInterrupts{0};

void countInterrupt(int)
{
    gInterrupts.fetch_add(1);
}

// Runs only in the child processes of the tests above, with CZMQ's own
// signal handlers in place: the child's first CZMQ call, the fake frontend's
// socket, starts CZMQ with them (the library would not).
TEST(ClientStreamChild, PassesAnInterruptOn)
{
    const char* role = std::getenv(kChildRoleVariable);
    if (role == nullptr)
        GTEST_SKIP() << "runs as the child of another test";
    const bool own = std::string(role) == "own";
    // An ignored SIGINT (a background job's) would be what CZMQ puts back.
    std::signal(SIGINT, SIG_DFL);
    if (own) {
        // In place before CZMQ's handlers, which keep it to put it back.
        struct sigaction action {};
        action.sa_handler = countInterrupt;
        sigemptyset(&action.sa_mask);
        ASSERT_EQ(sigaction(SIGINT, &action, nullptr), 0);
    }
    FakeFrontend frontend;
    StreamPtr stream;
    ASSERT_EQ(aStream_CreateClient(kLoopback, frontend.port(), &stream.s), aErrNone);
    ASSERT_TRUE(connectedTo(stream.s, frontend));
    auto start = Clock::now();
    ASSERT_EQ(raise(SIGINT), 0);
    if (!own) {
        // The default handler ends the process within about a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(5000));
        FAIL() << "still alive";
    }
    ASSERT_TRUE(eventually([] { return gInterrupts.load() > 0; }, 4000));
    EXPECT_LT(msSince(start), 3000) << "within about a second";
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(gInterrupts.load(), 1) << "passed on once";
    // The relay still works both ways.
    const Bytes request = wire(kModule, {kEcho, 3});
    ASSERT_EQ(aStream_Write(stream.s, reinterpret_cast<const char*>(request.data()), request.size()), aErrNone);
    auto got = frontend.receive(2000);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, request);
    ASSERT_TRUE(frontend.send({0x5A}));
    std::uint8_t byte = 0;
    aErr err = aErrNotReady;
    for (int i = 0; i < 3 && err == aErrNotReady; ++i)
        err = getByte(stream.s, &byte);
    EXPECT_EQ(err, aErrNone);
    EXPECT_EQ(byte, 0x5A);
}

}  // namespace
