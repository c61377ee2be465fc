// The network server and the client stream inside a host program, each case
// in a child process of its own (signal handlers and CZMQ's start are the
// process's): the host's signal handlers stay its own and its signals do
// what it asked for, and every stop returns within its bound, whether a
// thread of the server ended early or is stuck.
#include "ServerTestRig.h"

#include "ChildProcess.h"
#include "aDebug.h"
#include "aServerInternal.h"
#include "zBeaconInterface.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <ostream>

using namespace servertest;

namespace {

const char* const kRoleVariable = "MORV_HOST_CHILD_ROLE";

// A waiting margin on a loaded machine, beyond the stated bounds.
constexpr long long kSlackMs = 2000;

morvtest::ChildResult runRole(const std::string& role)
{
    morvtest::ChildOptions options;
    options.environment[kRoleVariable] = role;
    // The child starts CZMQ as a host program would: nothing turns CZMQ's
    // handlers off for it.
    options.environment["MORV_CHILD_KEEP_CZMQ_HANDLERS"] = "1";
    options.unset = {"ZSYS_SIGHANDLER"};
    options.timeout = std::chrono::milliseconds(30000);
    return morvtest::RunChild({"/proc/self/exe", "--gtest_filter=HostChild.PlaysItsRole"}, options);
}

// A test name for a role: its words run together.
std::string nameOf(std::string role)
{
    role.erase(std::remove(role.begin(), role.end(), '-'), role.end());
    return role;
}

void expectPassed(const morvtest::ChildResult& child)
{
    EXPECT_FALSE(child.timedOut) << child.out << child.err;
    EXPECT_EQ(child.exitCode, 0) << "signal " << child.signal << "\n" << child.out << child.err;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
}

// ---- Signals ----

struct SignalCase {
    const char* role;
    int endedBy;  // the signal that ends the child; 0: the child goes on and passes
};

void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.role;
}

class HostSignals : public PrivateNetnsTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(HostSignals, DoWhatTheHostAskedForAndTheServerGoesOn)
{
    const SignalCase& c = GetParam();
    morvtest::ChildResult child = runRole(c.role);
    if (c.endedBy == 0) {
        expectPassed(child);
    } else {
        EXPECT_FALSE(child.timedOut);
        EXPECT_EQ(child.signal, c.endedBy) << "exit code " << child.exitCode << "\n" << child.out << child.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostSignals,
                         ::testing::Values(
                             // The host's own handlers run, the server serves on.
                             SignalCase{"own-sigint", 0}, SignalCase{"own-sigterm", 0},
                             // The default dispositions end the process.
                             SignalCase{"default-sigint", SIGINT}, SignalCase{"default-sigterm", SIGTERM},
                             // A host that started CZMQ with its handlers keeps them; the interrupt
                             // flag they raise stops none of the server's threads.
                             SignalCase{"czmq-sigint", 0},
                             // A host that started CZMQ and then put in its own keeps its own.
                             SignalCase{"czmq-then-own", 0},
                             // The library's other ways into CZMQ leave the handlers alone too.
                             SignalCase{"first-use-client", 0}, SignalCase{"first-use-beacon", 0}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) { return nameOf(info.param.role); });

// ---- Stops ----

class HostStops : public PrivateNetnsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HostStops, ReturnWithinTheirBound)
{
    expectPassed(runRole(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostStops,
                         ::testing::Values("ended-sync", "ended-broker", "ended-discovery", "stuck-broker",
                                           "stuck-client-broker"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return nameOf(info.param); });

// ---- The child's side ----

std::atomic<int> gCaught{0};

void countSignal(int)
{
    gCaught.fetch_add(1);
}

void catchWithCounter(int signal)
{
    struct sigaction action {};
    action.sa_handler = countSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(signal, &action, nullptr), 0);
}

struct Handlers {
    void (*interrupt)(int);
    void (*terminate)(int);
    bool operator==(const Handlers& o) const { return interrupt == o.interrupt && terminate == o.terminate; }
};

Handlers currentHandlers()
{
    struct sigaction interrupt {};
    struct sigaction terminate {};
    sigaction(SIGINT, nullptr, &interrupt);
    sigaction(SIGTERM, nullptr, &terminate);
    return {interrupt.sa_handler, terminate.sa_handler};
}

int threadCount()
{
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)task;
        ++n;
    }
    return n;
}

// A new client's echo comes back.
bool serves(std::uint16_t port)
{
    BareClient client(port);
    const std::uint8_t tag = 0x5E;
    if (!client.sendPacket(kModule, {kEcho, tag}))
        return false;
    auto reply = client.receive(3000);
    return reply && *reply == wire(kModule, {kEcho, tag});
}

// Takes the server off its link and destroys it; its result and how long it took.
aErr destroyTimed(ServedModule& module, long long* ms)
{
    sLookupEntryByID(module.linkId)->server = nullptr;
    auto start = Clock::now();
    aErr err = aServer_Destroy(&module.server);
    *ms = msSince(start);
    return err;
}

void signalRole(const std::string& role)
{
    const bool czmqFirst = role.rfind("czmq", 0) == 0;
    const int raised = role == "own-sigterm" || role == "default-sigterm" ? SIGTERM : SIGINT;
    const bool ownHandler = role.rfind("own", 0) == 0 || role == "czmq-then-own";
    // An ignored signal (a background job's) would be no test of anything.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (czmqFirst) {
        zsys_init();
        ASSERT_NE(currentHandlers().interrupt, SIG_DFL) << "CZMQ's handlers are in place";
    }
    if (role == "czmq-then-own") {
        catchWithCounter(SIGINT);
        catchWithCounter(SIGTERM);
    } else if (ownHandler) {
        catchWithCounter(raised);
    }
    ServedModule module;
    ASSERT_NE(module.linkId, 0);
    const Handlers before = currentHandlers();
    ASSERT_EQ(module.serve(), aErrNone);
    EXPECT_TRUE(currentHandlers() == before) << "the server changed a signal handler";
    ASSERT_TRUE(serves(module.port));
    const int threads = threadCount();

    ASSERT_EQ(raise(raised), 0);
    if (!ownHandler && !czmqFirst) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5000));
        FAIL() << "still alive";
    }
    if (ownHandler) {
        EXPECT_EQ(gCaught.load(), 1) << "the host's own handler ran";
    }
    // Past every actor's next wake-up: one that ends on the signal has ended.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(serves(module.port)) << "the server still serves";
    EXPECT_EQ(threadCount(), threads) << "no thread of the server ended";
    long long ms = 0;
    EXPECT_EQ(destroyTimed(module, &ms), aErrNone);
    EXPECT_LT(ms, aSERVER_STOP_MS);
}

// CZMQ started by the client stream or by the beacon interface setting.
void firstUseRole(const std::string& role)
{
    std::signal(SIGTERM, SIG_DFL);
    catchWithCounter(SIGINT);
    const Handlers before = currentHandlers();
    if (role == "first-use-client") {
        aStream* stream = nullptr;
        ASSERT_EQ(aStream_CreateClient(kLoopback, 1, &stream), aErrNone);
        EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    } else {
        ASSERT_EQ(zBeaconInterface_setAndLock("127.0.0.1"), 1);
        zBeaconInterface_unlock();
    }
    EXPECT_TRUE(currentHandlers() == before) << "a signal handler changed";
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(gCaught.load(), 1) << "the host's own handler ran";
}

// An actor ends before the server is destroyed (as an interrupt once made
// them): the destroy does not wait for it.
void endedRole(const std::string& role)
{
    ServedModule module;
    ASSERT_NE(module.linkId, 0);
    ASSERT_EQ(module.serve(), aErrNone);
    ASSERT_TRUE(serves(module.port));
    zactor_t* actor = role == "ended-sync"     ? module.server->sync
                      : role == "ended-broker" ? module.server->broker
                                               : module.server->discovery;
    ASSERT_NE(actor, nullptr);
    const int threads = threadCount();
    ASSERT_EQ(zstr_send(actor, "$TERM"), 0);
    ASSERT_TRUE(eventually([&] { return threadCount() == threads - 1; }, 5000)) << "the actor ended";
    long long ms = 0;
    EXPECT_EQ(destroyTimed(module, &ms), aErrNone);
    EXPECT_LT(ms, aSERVER_STOP_MS);
}

// Standard output through a pipe of one page that nobody reads, so that a
// thread tracing to it blocks inside the write. Nothing of the test may
// print meanwhile: its results are looked at once output flows again.
class StalledOutput {
public:
    StalledOutput()
    {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        int fds[2] = {-1, -1};
        if (saved_ < 0 || pipe2(fds, O_CLOEXEC) != 0)
            return;
        read_ = fds[0];
        capacity_ = fcntl(fds[1], F_SETPIPE_SZ, 4096);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
    }
    ~StalledOutput() { restore(); }
    StalledOutput(const StalledOutput&) = delete;
    StalledOutput& operator=(const StalledOutput&) = delete;

    bool ok() const { return read_ >= 0 && capacity_ > 0; }
    // True once the pipe holds so much that a further trace line cannot go.
    bool full(int ms) const
    {
        return eventually(
            [&] {
                int held = 0;
                return ioctl(read_, FIONREAD, &held) == 0 && held > capacity_ - 64;
            },
            ms);
    }
    // Reads everything from now on, so blocked writers go on; the old
    // standard output comes back at the end.
    void flow()
    {
        if (drain_.joinable() || read_ < 0)
            return;
        drain_ = std::thread([fd = read_] {
            char buffer[4096];
            while (read(fd, buffer, sizeof(buffer)) > 0) {
            }
        });
    }
    void restore()
    {
        flow();
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, STDOUT_FILENO);  // the pipe's last writer goes: the drain ends
            close(saved_);
            saved_ = -1;
        }
        if (drain_.joinable())
            drain_.join();
        if (read_ >= 0)
            close(read_);
        read_ = -1;
    }

private:
    int saved_ = -1;
    int read_ = -1;
    int capacity_ = -1;
    std::thread drain_;
};

void traceOn(std::uint32_t bits)
{
    __atomic_store_n(&aMorvassetDebuggingLevel, bits, __ATOMIC_RELAXED);
    __atomic_store_n(&aMorvassetDebuggingEnable, std::uint8_t(bits != 0), __ATOMIC_RELAXED);
}

// The broker blocks writing a trace line, as on a host whose output is piped
// to a reader that paused; the destroy itself traces nothing.
void stuckBrokerRole()
{
    ServedModule module;
    ASSERT_NE(module.linkId, 0);
    ASSERT_EQ(module.serve(), aErrNone);
    ASSERT_TRUE(serves(module.port));
    const std::uint16_t port = module.port;
    BareClient client(port);
    StalledOutput output;
    ASSERT_TRUE(output.ok());
    traceOn(aDEBUG_SERVER);
    // Each bad frame is a trace line of the broker.
    for (int i = 0; i < 400; ++i)
        client.send({kModule});
    const bool full = output.full(10000);
    // Frames are still waiting: the broker's next line finds no room.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    traceOn(0);
    long long ms = 0;
    const aErr err = full ? destroyTimed(module, &ms) : aErrUnknown;
    output.restore();

    ASSERT_TRUE(full) << "the broker's trace lines filled the output";
    EXPECT_EQ(err, aErrTimeout) << "the broker had not ended";
    EXPECT_LT(ms, aSERVER_STOP_MS + kSlackMs);
    // Once it could go on, the broker ended and released the rest.
    zsock_t* again = zsock_new(ZMQ_ROUTER);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(eventually([&] { return zsock_bind(again, "tcp://127.0.0.1:%d", int(port)) == int(port); }, 10000))
        << "the frontend's port is free again";
    zsock_destroy(&again);
}

// The client stream's broker blocks writing a trace line of a send that
// found no server; the stream's delete still returns.
void stuckClientBrokerRole()
{
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateClient(kLoopback, 1, &stream), aErrNone);
    const int threads = threadCount();
    StalledOutput output;
    ASSERT_TRUE(output.ok());
    traceOn(aDEBUG_CLIENT);
    const Bytes request = wire(kModule, {kEcho, 1});
    bool full = false;
    for (int i = 0; i < 50 && !full; ++i) {
        aStream_Write(stream, reinterpret_cast<const char*>(request.data()), request.size());
        full = output.full(200);
    }
    // Lines for which there is no room: the broker blocks on the first.
    for (int i = 0; i < 3; ++i)
        aStream_Write(stream, reinterpret_cast<const char*>(request.data()), request.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    traceOn(0);
    long long ms = 0;
    aErr err = aErrUnknown;
    if (full) {
        auto start = Clock::now();
        err = aStream_Destroy(&stream);
        ms = msSince(start);
    }
    output.restore();
    if (stream != nullptr)
        aStream_Destroy(&stream);

    ASSERT_TRUE(full) << "the broker's trace lines filled the output";
    EXPECT_EQ(err, aErrTimeout) << "the broker had not ended";
    EXPECT_LT(ms, aSTREAM_CLIENT_STOP_MS + kSlackMs);
    EXPECT_TRUE(eventually([&] { return threadCount() == threads - 1; }, 10000)) << "the broker ended afterwards";
}

// Runs only as the child of the tests above.
TEST(HostChild, PlaysItsRole)
{
    const char* roleText = std::getenv(kRoleVariable);
    if (roleText == nullptr)
        GTEST_SKIP() << "runs as the child of another test";
    const std::string role = roleText;
    if (role.rfind("ended", 0) == 0)
        endedRole(role);
    else if (role.rfind("first-use", 0) == 0)
        firstUseRole(role);
    else if (role == "stuck-broker")
        stuckBrokerRole();
    else if (role == "stuck-client-broker")
        stuckClientBrokerRole();
    else
        signalRole(role);
}

}  // namespace
