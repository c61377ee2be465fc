// Replies that come after their caller gave up, against the module
// simulator: a late reply never answers a later request (on a direct link
// and through a network server), and a module that stops answering an option
// costs the next call of it one wait at most.
#include "ObjectTestRig.h"

#include "../common/ServerTestRig.h"

#include <functional>

#include "Elapsed.h"
#include "EntityClass.h"

namespace {

using namespace objtest;
using morvsim::bufferKey;
using morvsim::entityKey;
using morvsim::silentKey;
using morvtest::msSince;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kCmd = 10;
constexpr std::uint8_t kValueOption = 7;
constexpr std::uint8_t kBufferOption = 30;
// Later than a caller waits (1000 ms), sooner than a network server (2000 ms).
constexpr Millis kLate{1100};
constexpr int kCalls = 3;

std::uint32_t valueOf(int call)
{
    return 0x1000u + static_cast<std::uint32_t>(call);
}

void installValues(SimModule& m)
{
    morvsim::installEntityHandler(m, kCmd);
    for (int call = 0; call < kCalls; ++call)
        m.entities[entityKey(kCmd, kValueOption, 0, static_cast<std::uint8_t>(call))] = morvsim::u32(valueOf(call));
}

void answerLate(ModuleSimulator& sim)
{
    morvsim::Faults late;
    late.replyTiming.delay = kLate;
    sim.setFaults(late);
}

// One call of a request kind: its result and whether a success carried
// another request's answer.
struct Outcome {
    aErr result;
    bool someoneElses;
};
using Call = std::function<Outcome(EntityClass&, ModuleSimulator&, int)>;

Outcome subindexGet(EntityClass& entity, ModuleSimulator&, int call)
{
    std::uint32_t value = 0;
    const aErr err = entity.getUEI32(kValueOption, static_cast<std::uint8_t>(call), &value);
    return {err, err == aErrNone && value != valueOf(call)};
}

// The module's buffer changes before each get: a get that takes the
// previous get's reply sees the previous contents.
Outcome bufferGet(EntityClass& entity, ModuleSimulator& sim, int call)
{
    const Bytes contents(30, static_cast<std::uint8_t>(call + 1));
    sim.withModule(kRouterAddress, [&](SimModule& m) { m.entities[bufferKey(kCmd, kBufferOption, 0)] = contents; });
    Bytes buffer(64, 0);
    std::size_t count = 0;
    const aErr err = entity.getUEIBytes(kBufferOption, buffer.data(), buffer.size(), &count);
    return {err, err == aErrNone && Bytes(buffer.begin(), buffer.begin() + count) != contents};
}

// Every call either fails or gets its own answer: none takes the late reply
// of the call before it.
void expectNoSomeoneElsesAnswers(EntityClass& entity, ModuleSimulator& sim, const Call& call)
{
    int someoneElses = 0;
    for (int n = 0; n < kCalls; ++n) {
        const Outcome outcome = call(entity, sim, n);
        EXPECT_TRUE(outcome.result == aErrNone || outcome.result == aErrTimeout) << outcome.result;
        someoneElses += outcome.someoneElses ? 1 : 0;
    }
    EXPECT_EQ(someoneElses, 0) << "answers of an earlier request reported as success";
}

struct Kind {
    const char* name;
    Call call;
};

void PrintTo(const Kind& kind, std::ostream* out)
{
    *out << kind.name;
}

class LateReplies : public ::testing::TestWithParam<Kind> {};

TEST_P(LateReplies, NeverAnswerALaterRequest)
{
    SimRig rig;
    rig.sim.withModule(kRouterAddress, installValues);
    auto module = rig.connect(kRouterAddress, false);
    EntityClass entity;
    entity.init(module.get(), kCmd, 0);
    answerLate(rig.sim);
    expectNoSomeoneElsesAnswers(entity, rig.sim, GetParam().call);
}

INSTANTIATE_TEST_SUITE_P(Requests, LateReplies,
                         ::testing::Values(Kind{"subindexGet", subindexGet}, Kind{"bufferGet", bufferGet}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

// A module that leaves an option unanswered: after its time-out the next call
// of that option waits out the late reply at most once, and then all is as
// before; other options never wait.
TEST(LateReply, ASilentOptionCostsTheNextCallOneWaitAtMost)
{
    SimRig rig;
    rig.sim.withModule(kRouterAddress, [](SimModule& m) {
        installValues(m);
        m.entities[silentKey(kCmd, kValueOption, 0)] = {};
    });
    auto module = rig.connect(kRouterAddress, false);
    EntityClass entity;
    entity.init(module.get(), kCmd, 0);
    std::uint32_t value = 0;
    EXPECT_EQ(entity.getUEI32(kValueOption, 0, &value), aErrTimeout);

    // Another option answers at once.
    rig.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities[entityKey(kCmd, 8, 0)] = morvsim::u32(8); });
    auto start = Clock::now();
    EXPECT_EQ(entity.getUEI32(8, &value), aErrNone);
    EXPECT_LT(msSince(start), 700);

    rig.sim.withModule(kRouterAddress, [](SimModule& m) { m.entities.erase(silentKey(kCmd, kValueOption, 0)); });
    start = Clock::now();
    EXPECT_EQ(entity.getUEI32(kValueOption, 1, &value), aErrNone);
    EXPECT_EQ(value, valueOf(1));
    EXPECT_LT(msSince(start), 3000 + 1500) << "the late reply's window, and the call itself";
    for (int n = 0; n < 3; ++n) {
        start = Clock::now();
        EXPECT_EQ(entity.getUEI32(kValueOption, 2, &value), aErrNone);
        EXPECT_EQ(value, valueOf(2));
        EXPECT_LT(msSince(start), 700) << "no wait once the module answers again";
    }
}

// Through a network server the module's reply may come after the client
// gave up (1000 ms) but before the server does (2000 ms); it reaches the
// client all the same and must not answer the client's next request.
class LateRepliesThroughAServer : public servertest::PrivateNetnsTest {};

TEST_F(LateRepliesThroughAServer, NeverAnswerALaterRequest)
{
    servertest::ServedModule served("127.0.0.1");
    served.sim.withModule(servertest::kModule, installValues);
    ASSERT_EQ(served.serve(), aErrNone);

    Module module(servertest::kModule, false, 0);
    aEtherConfig config;
    config.fallback = false;
    ASSERT_EQ(module.setConfig(config), aErrNone);
    linkSpec spec = tcpSpec("127.0.0.1", served.port);
    spec.type = linkTypeAEther;
    ASSERT_EQ(module.connectFromSpec(spec), aErrNone);
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    answerLate(served.sim);
    expectNoSomeoneElsesAnswers(entity, served.sim, subindexGet);
}

}  // namespace
