// Replies that come after their caller gave up, against the module
// simulator: a late reply never answers a later request (on a direct link
// and through a network server), and a module that stops answering an option
// costs the next call of it one wait at most.
#include "ObjectTestRig.h"

#include "../common/ServerTestRig.h"

#include <functional>

#include "Elapsed.h"
#include "EntityClass.h"
#include "I2CClass.h"
#include "SimStoreSlots.h"
#include "aReplyWait.h"

namespace {

using namespace objtest;
using morvsim::bufferKey;
using morvsim::entityKey;
using morvsim::Handler;
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

// The module connected as a network client of the server on 127.0.0.1 at port.
aErr connectAsClient(Module& module, std::uint16_t port)
{
    aEtherConfig config;
    config.fallback = false;
    const aErr err = module.setConfig(config);
    if (err != aErrNone)
        return err;
    linkSpec spec = tcpSpec("127.0.0.1", port);
    spec.type = linkTypeAEther;
    return module.connectFromSpec(spec);
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
    ASSERT_EQ(connectAsClient(module, served.port), aErrNone);
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    answerLate(served.sim);
    expectNoSomeoneElsesAnswers(entity, served.sim, subindexGet);
}

// ---------------------------------------------------------------- answers just after the caller gave up

// The module's side of the race: the first request the ordinary handler
// answers is answered `late` after it came, just after its caller gave up;
// every later answer is replaced by a refusal, `soon` after its request. A
// call after the first must get the refusal, never the late answer.
using Refusal = std::function<Bytes(const SimPacket& request)>;

Handler lateThenRefused(Handler ordinary, Millis late, Refusal refusal, Millis soon)
{
    auto answered = std::make_shared<int>(0);
    return [=](SimModule& m, const SimPacket& p, SimReply& r) {
        SimReply own;
        ordinary(m, p, own);
        if (own.empty())
            return;
        if ((*answered)++ == 0) {
            r = own;
            r.delayBy(late);
            return;
        }
        r.packet(m.address, refusal(p));
        r.delayBy(soon);
    };
}

constexpr std::uint8_t kRefusal = 17;
constexpr aErr kRefused = static_cast<aErr>(kRefusal);
constexpr std::uint8_t kSlotRefusal = 9;  // not aErrMedia, what a refused open gives
constexpr std::uint8_t kStore = 1;
constexpr std::uint8_t kSlot = 2;
constexpr std::uint8_t kI2CDevice = 0x50;
constexpr std::size_t kLargeBuffer = 1200;
constexpr Millis kJustAfter{500};
constexpr Millis kSoon{200};

// An entity error reply to the request: [command, reply option, index | 0x80, code].
Bytes entityRefusal(const SimPacket& p)
{
    const bool get = (p.data[1] & 0x40) != 0;
    const auto option = static_cast<std::uint8_t>(get ? (p.data[1] & 0x3F) : ((p.data[1] & 0x3F) | 0xC0));
    return {p.data[0], option, static_cast<std::uint8_t>((p.data[2] & 0x1F) | 0x80), kRefusal};
}

// [4, sub | 0x80, store, slot, code] for sizes and opens, [4, sub | 0x80, handle, code] for the rest.
Bytes slotRefusal(const SimPacket& p)
{
    const std::size_t header = p.data[1] <= morvsim::kSlotOpenWrite ? 4 : 3;
    Bytes d(p.data.begin(), p.data.begin() + static_cast<std::ptrdiff_t>(std::min(header, p.data.size())));
    d[1] = static_cast<std::uint8_t>(d[1] | 0x80);
    d.push_back(kSlotRefusal);
    return d;
}

Bytes i2cRefusal(const SimPacket& p)
{
    return {p.data[0], p.data[1], p.data[2], 0, morvsim::kI2CNack};
}

// One exchange kind: how the module serves it, the caller's own wait, and
// one call of it.
struct RaceKind {
    const char* name;
    std::uint8_t command;
    Millis callersWait;
    std::function<void(SimModule&)> install;
    Refusal refusal;
    std::function<aErr(Module&)> call;
    aErr gaveUp;   // what a call gives that gave up on its reply
    aErr refused;  // and one that got the module's refusal
};

void PrintTo(const RaceKind& kind, std::ostream* out)
{
    *out << kind.name;
}

void installEntityValues(SimModule& m)
{
    morvsim::installEntityHandler(m, kCmd);
    m.entities[entityKey(kCmd, kValueOption, 0)] = morvsim::u32(0x1234);
    m.entities[bufferKey(kCmd, kBufferOption, 0)] = Bytes(kLargeBuffer, 0x5A);
}

aErr entityGet(Module& module)
{
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    std::uint32_t value = 0;
    return entity.getUEI32(kValueOption, &value);
}

aErr smallSet(Module& module)
{
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    return entity.setUEI32(kValueOption, 0x4321);
}

aErr largeSet(Module& module)
{
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    const Bytes buffer(kLargeBuffer, 0xA5);
    return entity.setUEIBytes(kBufferOption, buffer.data(), buffer.size());
}

aErr largeGet(Module& module)
{
    EntityClass entity;
    entity.init(&module, kCmd, 0);
    Bytes buffer(kLargeBuffer + 1, 0);
    std::size_t count = 0;
    return entity.getUEIBytes(kBufferOption, buffer.data(), buffer.size(), &count);
}

aErr slotLoad(Module& module)
{
    const Bytes contents(60, 7);
    return module.getLink()->loadStoreSlot(module.getModuleAddress(), kStore, kSlot, contents.data(), contents.size());
}

aErr i2cRead(Module& module)
{
    I2CClass bus;
    bus.init(&module, 0);
    std::uint8_t data[4] = {};
    return bus.read(kI2CDevice, sizeof data, data);
}

const RaceKind kEntityGet{"entityGet",   kCmd,      Millis(1000), installEntityValues,
                          entityRefusal, entityGet, aErrTimeout,  kRefused};
const RaceKind kLargeSet{"largeSet",    kCmd,     Millis(4000), installEntityValues,
                         entityRefusal, largeSet, aErrTimeout,  kRefused};

const RaceKind kDirectKinds[] = {
    kEntityGet,
    {"smallSet", kCmd, Millis(1000), installEntityValues, entityRefusal, smallSet, aErrTimeout, kRefused},
    kLargeSet,
    {"largeGet", kCmd, Millis(1000), installEntityValues, entityRefusal, largeGet, aErrTimeout, kRefused},
    {"slotOpen", morvsim::kSlotCommand, Millis(3000),
     [](SimModule& m) {
         morvsim::installStoreSlots(m)->slots[{kStore, kSlot}] = morvsim::SimSlot{256, {}};
     },
     slotRefusal, slotLoad, aErrMedia, aErrMedia},
    {"i2cRead", morvsim::kI2CCommand, Millis(1000),
     [](SimModule& m) {
         morvsim::addI2CDevice(m, 0, kI2CDevice, Bytes{1, 2, 3, 4});
     },
     i2cRefusal, i2cRead, aErrTimeout, aErrIO},
};

// The first call gives up on its reply; the module answers it just after
// and refuses the second call: the second call reports the refusal.
void expectTheRefusal(ModuleSimulator& sim, std::uint8_t address, Module& module, const RaceKind& kind)
{
    sim.withModule(address, [&](SimModule& m) {
        kind.install(m);
        m.handlers[kind.command] =
            lateThenRefused(m.handlers[kind.command], kind.callersWait + kJustAfter, kind.refusal, kSoon);
    });
    EXPECT_EQ(kind.call(module), kind.gaveUp) << "the caller gives up before the module answers";
    const auto start = Clock::now();
    EXPECT_EQ(kind.call(module), kind.refused) << "the module's own answer, not the late one";
    EXPECT_LT(msSince(start), static_cast<long long>(aREPLY_LATE_MS) + kind.callersWait.count() + 1500)
        << "at most the late window and the call's own wait";
}

class AnswerJustAfterTheCallerGaveUp : public ::testing::TestWithParam<RaceKind> {};

TEST_P(AnswerJustAfterTheCallerGaveUp, NeverAnswersTheNextCall)
{
    SimRig rig;
    auto module = rig.connect(kRouterAddress, false);
    expectTheRefusal(rig.sim, kRouterAddress, *module, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Exchanges, AnswerJustAfterTheCallerGaveUp, ::testing::ValuesIn(kDirectKinds),
                         [](const ::testing::TestParamInfo<RaceKind>& info) { return std::string(info.param.name); });

// The same through a network server, whose worker waits for the module on
// the client's behalf.
class AnswerJustAfterTheClientGaveUp : public servertest::PrivateNetnsTest,
                                       public ::testing::WithParamInterface<RaceKind> {
protected:
    void SetUp() override
    {
        servertest::PrivateNetnsTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(served.serve(), aErrNone);
        ASSERT_EQ(connectAsClient(module, served.port), aErrNone);
    }

    servertest::ServedModule served{"127.0.0.1"};
    Module module{servertest::kModule, false, 0};
};

TEST_P(AnswerJustAfterTheClientGaveUp, NeverAnswersTheNextCall)
{
    expectTheRefusal(served.sim, servertest::kModule, module, GetParam());
}

// The server waits for a large set's reply at least as long as its client.
TEST_F(AnswerJustAfterTheClientGaveUp, ALargeSetAnsweredWithinTheClientsWaitSucceeds)
{
    served.sim.withModule(servertest::kModule, [](SimModule& m) {
        installEntityValues(m);
        m.handlers[kCmd] =
            lateThenRefused(m.handlers[kCmd], kLargeSet.callersWait - Millis(1000), entityRefusal, kSoon);
    });
    EXPECT_EQ(largeSet(module), aErrNone);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, AnswerJustAfterTheClientGaveUp, ::testing::Values(kEntityGet, kLargeSet),
                         [](const ::testing::TestParamInfo<RaceKind>& info) { return std::string(info.param.name); });

}  // namespace
