// Module against the module simulator: connection variants, address
// adoption, sharing a routing module's link, introspection and echo.
#include "ObjectTestRig.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "Elapsed.h"
#include "EntityClass.h"
#include "FakeDiscoveryPeers.h"
#include "PrivateNetns.h"
#include "TcpipModuleRig.h"
#include "PtyPair.h"
#include "SystemClass.h"

namespace {

using namespace objtest;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kBehindAddress = 6;
constexpr std::uint32_t kBehindSerial = 0x00C0FFEE;
constexpr std::uint8_t kBehindModel = 19;

using morvtest::msSince;

std::uint32_t serialOf(Module& module)
{
    SystemClass system;
    system.init(&module, 0);
    std::uint32_t serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
    return serial;
}

std::size_t addressQueries(const ModuleSimulator& sim, std::size_t from)
{
    std::size_t count = 0;
    std::vector<SimPacket> packets = sim.packets();
    for (std::size_t i = from; i < packets.size(); ++i)
        if (packets[i].isSyncRequest())
            ++count;
    return count;
}

// ---------------------------------------------------------------- connecting

TEST(ModuleConnect, ConnectFromSpecAdoptsTheModulesAddressWhenNetworking)
{
    struct Case {
        std::uint8_t initial;
        bool networking;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {0, true, kRouterAddress},
        {8, true, kRouterAddress},
        {kRouterAddress, true, kRouterAddress},
        {0, false, 0},
        {8, false, 8},
    };
    SimRig rig;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "initial " << int(c.initial) << " networking " << c.networking);
        auto module = rig.connect(c.initial, c.networking);
        EXPECT_TRUE(module->isConnected());
        EXPECT_EQ(module->getStatus(), 2);
        EXPECT_EQ(module->getModuleAddress(), c.expected);
        EXPECT_EQ(module->disconnect(), aErrNone);
        EXPECT_FALSE(module->isConnected());
    }
}

TEST(ModuleConnect, ASecondConnectFromSpecIsBusyAndLeavesTheLinkAlone)
{
    SimRig rig;
    auto module = rig.connect();
    const std::uint64_t connections = rig.sim.connectionCount();
    EXPECT_EQ(module->connectFromSpec(rig.spec), aErrBusy);
    EXPECT_TRUE(module->isConnected());
    EXPECT_EQ(rig.sim.connectionCount(), connections);
    EXPECT_EQ(serialOf(*module), kRouterSerial);
}

TEST(ModuleConnect, SerialNumberZeroIsRefusedBeforeAnySearch)
{
    Module module(0, std::uint8_t(0));
    module.setConfig(directConfig());
    for (linkType type : {linkTypeUSB, linkTypeTCPIP, linkTypeAEther})
        EXPECT_EQ(module.connect(type, 0), aErrParam) << type;
    EXPECT_FALSE(module.isConnected());
}

TEST(ModuleConnect, FailuresWithoutASpecOrAPeer)
{
    Module fresh(0, std::uint8_t(0));
    EXPECT_EQ(fresh.setConfig(directConfig()), aErrNone);
    EXPECT_EQ(fresh.reconnect(), aErrConfiguration) << "nothing to reconnect to";
    EXPECT_EQ(fresh.getStatus(), 8);

    // A port on which nobody listens any more.
    std::uint16_t port = 0;
    {
        ModuleSimulator gone(4);
        port = gone.listenTcp("127.0.0.3");
    }
    Module module(0, std::uint8_t(0));
    module.setConfig(directConfig());
    EXPECT_EQ(module.connectFromSpec(tcpSpec("127.0.0.3", port)), aErrConnection);
    EXPECT_FALSE(module.isConnected());
}

TEST(ModuleConnect, ReconnectAfterDisconnectAdoptsTheAddressAgain)
{
    SimRig rig;
    auto module = rig.connect();
    ASSERT_EQ(module->disconnect(), aErrNone);
    EXPECT_FALSE(module->isConnected());
    EXPECT_EQ(module->getStatus(), 8);

    module->setModuleAddress(0);
    const std::size_t mark = rig.mark();
    ASSERT_EQ(module->reconnect(), aErrNone);
    EXPECT_TRUE(module->isConnected());
    EXPECT_EQ(module->getModuleAddress(), kRouterAddress);
    EXPECT_GE(addressQueries(rig.sim, mark), 1u);
    EXPECT_EQ(serialOf(*module), kRouterSerial);

    EXPECT_EQ(module->reconnect(), aErrConnection) << "a link is still held";
    EXPECT_TRUE(module->isConnected());
}

TEST(ModuleConnect, AnUnansweredAddressQueryGives11AfterFourTriesWithTheLinkUp)
{
    SimRig rig;
    // Answer the handshake, then nothing: the force route comes after the
    // handshake and before the address queries.
    auto routed = std::make_shared<bool>(false);
    rig.sim.setLinkHandler(morvsim::kForceRouteByte, [routed](SimModule& m, const SimPacket& p, SimReply& r) {
        *routed = true;
        morvsim::handleForceRoute(m, p, r);
    });
    rig.sim.setLinkHandler(morvsim::kSyncByte, [routed](SimModule& m, const SimPacket& p, SimReply& r) {
        if (!*routed)
            morvsim::handleSyncRequest(m, p, r);
    });
    const std::size_t mark = rig.mark();
    Module module(0, true, 0);
    module.setConfig(directConfig());
    const auto start = Clock::now();
    EXPECT_EQ(module.connectFromSpec(rig.spec), aErrNotReady);
    const long long elapsed = msSince(start);
    EXPECT_TRUE(module.isConnected()) << "the link stays up";
    EXPECT_EQ(module.getModuleAddress(), 0) << "nothing adopted";
    EXPECT_GE(elapsed, 3900);
    EXPECT_LT(elapsed, 6500);
    std::vector<SimPacket> packets = rig.sim.packets();
    std::size_t queries = 0;
    bool afterRoute = false;
    for (std::size_t i = mark; i < packets.size(); ++i) {
        afterRoute = afterRoute || packets[i].isForceRoute();
        if (afterRoute && packets[i].isSyncRequest())
            ++queries;
    }
    EXPECT_EQ(queries, 4u) << "four tries";
}

TEST(ModuleConnect, SerialLineOverAPty)
{
    ModuleSimulator sim(SimModule(kRouterAddress, 0x5E41A1, kRouterModel));
    sim.withModule(kRouterAddress, [](SimModule& m) { morvsim::installSystemEntity(m); });
    morvtest::PtyPair pty;
    const std::string path = pty.slavePath();
    sim.attachPty(pty);

    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    spec.type = linkTypeSerial;
    spec.serialNumber = 0x5E41A1;
    spec.baudRate = 115200;
    ASSERT_LT(path.size(), sizeof(spec.path));
    std::memcpy(spec.path, path.c_str(), path.size() + 1);

    Module module(0, std::uint8_t(0));
    module.setConfig(directConfig());
    ASSERT_EQ(module.connectFromSpec(spec), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), kRouterAddress);
    EXPECT_EQ(serialOf(module), 0x5E41A1u);
    EXPECT_EQ(module.disconnect(), aErrNone);
}

// By transport and serial number: TCP/IP discovery finds the module behind
// a veth pair (each end in a private namespace of its own), and the link
// connects to the address and port it replied with.
class ModuleDiscovery : public ::testing::Test {
protected:
    static constexpr const char* kHost = "10.213.7.1";
    static constexpr const char* kModule = "10.213.7.2";
    static constexpr std::uint32_t kSerial = 0x0BADCAFE;

    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        rig_.start(kHost, kModule, kRouterAddress, kSerial, kRouterModel);
    }

    morvtest::NetnsThread& host() { return rig_.host(); }

    morvsim::TcpipModuleRig rig_;
};

TEST_F(ModuleDiscovery, ConnectByTransportAndSerialNumber)
{
    Module unknown(0, std::uint8_t(0));
    unknown.setConfig(directConfig());
    aErr missing = aErrNone;
    host().run([&] { missing = unknown.connect(linkTypeTCPIP, kSerial + 1); });
    EXPECT_EQ(missing, aErrNotFound) << "no module has that serial number";

    Module module(0, std::uint8_t(0));
    module.setConfig(directConfig());
    aErr err = aErrUnknown;
    host().run([&] { err = module.connect(linkTypeTCPIP, kSerial); });
    ASSERT_EQ(err, aErrNone);
    EXPECT_TRUE(module.isConnected());
    EXPECT_EQ(module.getModuleAddress(), kRouterAddress);
    linkSpec found;
    ASSERT_EQ(module.getLinkSpecifier(&found), aErrNone);
    EXPECT_EQ(found.type, linkTypeTCPIP);
    EXPECT_EQ(found.serialNumber, kSerial);
    EXPECT_EQ(found.ipAddress, ipv4(kModule));
    EXPECT_EQ(serialOf(module), kSerial);
    EXPECT_EQ(module.disconnect(), aErrNone);
}

// ---------------------------------------------------------------- through a routing module

TEST(ModuleRouting, ConnectThroughLinkModuleSharesTheRoutersLink)
{
    SimRig rig;
    morvsim::addModuleBehindRouter(rig.sim, kRouterAddress, SimModule(kBehindAddress, kBehindSerial, kBehindModel));
    auto router = rig.connect(2);
    ASSERT_EQ(router->getModuleAddress(), kRouterAddress);
    const std::uint64_t connections = rig.sim.connectionCount();
    const std::size_t mark = rig.mark();

    Module device(kBehindAddress, false, 0);
    ASSERT_EQ(device.connectThroughLinkModule(router.get()), aErrNone);
    EXPECT_TRUE(device.isConnected());
    EXPECT_EQ(device.getModuleAddress(), kBehindAddress) << "keeps the address it was given";
    EXPECT_EQ(addressQueries(rig.sim, mark), 0u) << "no address adoption through a router";
    EXPECT_EQ(rig.sim.connectionCount(), connections) << "one shared connection";
    linkSpec spec;
    ASSERT_EQ(device.getLinkSpecifier(&spec), aErrNone);
    EXPECT_EQ(spec.type, linkTypeTCPIP) << "a direct router link stays direct";

    EXPECT_EQ(serialOf(device), kBehindSerial);
    EXPECT_EQ(serialOf(*router), kRouterSerial);

    // Already connected: nothing is done.
    EXPECT_EQ(device.connectThroughLinkModule(router.get()), aErrNone);
    EXPECT_EQ(rig.sim.connectionCount(), connections);

    // Releasing the device's use leaves the router's link standing.
    EXPECT_EQ(device.disconnect(), aErrNone);
    EXPECT_FALSE(device.isConnected());
    EXPECT_TRUE(router->isConnected());
    EXPECT_EQ(serialOf(*router), kRouterSerial);
}

TEST(ModuleRouting, ConnectThroughLinkModuleFailures)
{
    Module device(kBehindAddress, false, 0);
    EXPECT_EQ(device.connectThroughLinkModule(nullptr), aErrParam);
    EXPECT_EQ(device.connectThroughLinkModule(&device), aErrParam);

    Module unconnected(0, std::uint8_t(0));
    EXPECT_EQ(device.connectThroughLinkModule(&unconnected), aErrNotFound) << "no linkSpec to copy";

    // A spec but no link held: the link cannot be shared.
    SimRig rig;
    auto router = rig.connect();
    ASSERT_EQ(router->disconnect(), aErrNone);
    EXPECT_EQ(device.connectThroughLinkModule(router.get()), aErrInitialization);
    EXPECT_FALSE(device.isConnected());
}

// ---------------------------------------------------------------- introspection and echo

TEST(ModuleIntrospection, RequestsRepliesAndResults)
{
    SimRig rig;
    morvsim::IntrospectionTable table;
    table.build = 0x01020304;
    table.classQuantities[3] = 1;
    table.subClassQuantities[{8, 2}] = 5;
    table.entityGroups[{3, 1}] = 7;
    table.answers[{95, 10, 0, 0x80}] = 0;
    table.answers[{95, 11, 0, 0x40}] = 29;
    table.answers[{95, 12, 0, 0x40}] = 210;
    rig.sim.withModule(kRouterAddress, [&](SimModule& m) { morvsim::installIntrospection(m, table); });
    auto module = rig.connect();

    struct Case {
        const char* name;
        std::function<aErr(Module&, std::uint32_t*)> call;
        Bytes request;  // empty: nothing may be sent
        aErr result;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"hasUEI set implemented",
         [](Module& m, std::uint32_t*) { return m.hasUEI(95, 10, 0, 0x80); },
         {73, 1, 95, 10, 0, 0x80},
         aErrNone,
         0},
        {"hasUEI get refused",
         [](Module& m, std::uint32_t*) { return m.hasUEI(95, 11, 0, 0x40); },
         {73, 1, 95, 11, 0, 0x40},
         aErrInvalidOption,
         0},
        {"hasUEI answer outside the table",
         [](Module& m, std::uint32_t*) { return m.hasUEI(95, 12, 0, 0x40); },
         {73, 1, 95, 12, 0, 0x40},
         aErrUnknown,
         0},
        {"hasUEI from the entity table",
         [](Module& m, std::uint32_t*) { return m.hasUEI(3, 9, 0, 0x40); },
         {73, 1, 3, 9, 0, 0x40},
         aErrNone,
         0},
        {"hasUEI get and set", [](Module& m, std::uint32_t*) { return m.hasUEI(3, 9, 0, 0xC0); }, {}, aErrParam, 0},
        {"hasUEI low flag bits", [](Module& m, std::uint32_t*) { return m.hasUEI(3, 9, 0, 0x41); }, {}, aErrParam, 0},
        {"classQuantity",
         [](Module& m, std::uint32_t* v) {
             std::uint8_t n = 0xEE;
             aErr e = m.classQuantity(3, &n);
             *v = n;
             return e;
         },
         {73, 4, 3},
         aErrNone,
         1},
        {"subClassQuantity",
         [](Module& m, std::uint32_t* v) {
             std::uint8_t n = 0xEE;
             aErr e = m.subClassQuantity(8, 2, &n);
             *v = n;
             return e;
         },
         {73, 5, 8, 2},
         aErrNone,
         5},
        {"entityGroup",
         [](Module& m, std::uint32_t* v) {
             std::uint8_t g = 0xEE;
             aErr e = m.entityGroup(3, 1, &g);
             *v = g;
             return e;
         },
         {73, 6, 3, 1},
         aErrNone,
         7},
        {"getBuild", [](Module& m, std::uint32_t* v) { return m.getBuild(v); }, {73, 0xFF}, aErrNone, 0x01020304},
        {"getBuild null", [](Module& m, std::uint32_t*) { return m.getBuild(nullptr); }, {}, aErrParam, 0},
        {"classQuantity null", [](Module& m, std::uint32_t*) { return m.classQuantity(3, nullptr); }, {}, aErrParam, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t mark = rig.mark();
        std::uint32_t value = 0;
        EXPECT_EQ(c.call(*module, &value), c.result);
        EXPECT_EQ(value, c.value);
        std::vector<Bytes> sent = rig.sentSince(mark);
        if (c.request.empty()) {
            EXPECT_TRUE(sent.empty());
        } else {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0], c.request);
        }
    }
}

TEST(ModuleIntrospection, RepliesOfTheWrongShape)
{
    SimRig rig;
    // Echoes the request's leading bytes with a chosen ending.
    Bytes tail;
    auto setReply = [&](Bytes reply) {
        rig.sim.setHandler(kRouterAddress, 73, [reply](SimModule& m, const SimPacket&, SimReply& r) {
            r.packet(m.address, reply);
        });
    };
    auto module = rig.connect();
    std::uint8_t n = 0;
    std::uint32_t build = 0;

    setReply({73, 0xFF, 1, 2, 3});
    EXPECT_EQ(module->getBuild(&build), aErrSize) << "five bytes";
    setReply({73, 0xFF, 1, 2, 3, 4, 5});
    EXPECT_EQ(module->getBuild(&build), aErrSize) << "seven bytes";
    setReply({73, 4, 9, 1});
    EXPECT_EQ(module->classQuantity(3, &n), aErrUnknown) << "another class";
    EXPECT_EQ(n, 0);
    setReply({73, 4, 3});
    EXPECT_EQ(module->classQuantity(3, &n), aErrUnknown) << "no count";
    setReply({73, 1, 3, 9, 1, 0});
    EXPECT_EQ(module->hasUEI(3, 9, 0, 0x40), aErrUnknown) << "another index";
    setReply({73, 6, 3, 2, 4});
    EXPECT_EQ(module->entityGroup(3, 1, &n), aErrUnknown);

    // No answer at all.
    rig.sim.setHandler(kRouterAddress, 73, {});
    EXPECT_EQ(module->subClassQuantity(3, 0, &n), aErrTimeout);
    EXPECT_EQ(module->getBuild(&build), aErrTimeout);
}

TEST(ModuleIntrospection, NotConnectedIs25AndSendsNothing)
{
    Module module(4, false, 0);
    std::uint8_t n = 0xEE;
    std::uint32_t build = 0;
    const std::uint8_t data[2] = {1, 2};
    EXPECT_EQ(module.hasUEI(3, 9, 0, 0x40), aErrConnection);
    EXPECT_EQ(module.classQuantity(3, &n), aErrConnection);
    EXPECT_EQ(n, 0) << "cleared before the check";
    EXPECT_EQ(module.subClassQuantity(3, 0, &n), aErrConnection);
    EXPECT_EQ(module.entityGroup(3, 0, &n), aErrConnection);
    EXPECT_EQ(module.getBuild(&build), aErrConnection);
    EXPECT_EQ(module.debug(data, 2), aErrConnection);
}

TEST(ModuleEcho, EchoesUpToAFullPacket)
{
    SimRig rig;
    auto module = rig.connect();
    Bytes data(28);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0xA0 + i);

    for (std::uint8_t length : {0, 1, 27}) {
        SCOPED_TRACE(int(length));
        const std::size_t mark = rig.mark();
        EXPECT_EQ(module->debug(data.data(), length), aErrNone);
        std::vector<Bytes> sent = rig.sentSince(mark);
        ASSERT_EQ(sent.size(), 1u);
        Bytes expected{23};
        expected.insert(expected.end(), data.begin(), data.begin() + length);
        EXPECT_EQ(sent[0], expected);
    }
    const std::size_t mark = rig.mark();
    EXPECT_EQ(module->debug(data.data(), 28), aErrParam);
    EXPECT_EQ(module->debug(nullptr, 3), aErrParam);
    EXPECT_TRUE(rig.sentSince(mark).empty());
}

TEST(ModuleEcho, AWrongOrMissingEchoFails)
{
    SimRig rig;
    auto module = rig.connect();
    const std::uint8_t data[4] = {1, 2, 3, 4};

    rig.sim.setHandler(kRouterAddress, 23, [](SimModule& m, const SimPacket& p, SimReply& r) {
        Bytes echo = p.data;
        echo.back() ^= 0xFF;
        r.packet(m.address, echo);
    });
    EXPECT_EQ(module->debug(data, 4), aErrIO) << "a changed byte";
    rig.sim.setHandler(kRouterAddress, 23, [](SimModule& m, const SimPacket& p, SimReply& r) {
        Bytes echo = p.data;
        echo.pop_back();
        r.packet(m.address, echo);
    });
    EXPECT_EQ(module->debug(data, 4), aErrIO) << "a byte short";
    rig.sim.setHandler(kRouterAddress, 23, {});
    EXPECT_EQ(module->debug(data, 4), aErrTimeout);
}


// ---------------------------------------------------------------- one link, several callers

namespace sharing {

constexpr std::uint8_t kCmd = 10;
constexpr std::uint32_t valueOf(std::uint8_t subindex)
{
    return 0x5000u + subindex;
}

// Several Modules opened on one module share its link (the registry hands
// out the same link id). Used from one thread each, every caller gets the
// reply to its own request: a reply carries no sub-index, so two requests in
// flight at once could not be told apart.
TEST(ModuleSharedLink, EachThreadGetsItsOwnReply)
{
    constexpr int kThreads = 8;
    constexpr int kReads = 15;
    SimRig rig;
    rig.sim.withModule(kRouterAddress, [](SimModule& m) {
        morvsim::installEntityHandler(m, kCmd);
        for (std::uint8_t i = 0; i < kThreads; ++i)
            m.entities[morvsim::entityKey(kCmd, 7, 0, i)] = morvsim::u32(valueOf(i));
    });
    std::vector<std::unique_ptr<Module>> modules;
    for (int i = 0; i < kThreads; ++i)
        modules.push_back(rig.connect(kRouterAddress, false));
    const std::uint64_t connections = rig.sim.connectionCount();
    ASSERT_EQ(connections, 1u) << "one shared link";

    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            EntityClass entity;
            entity.init(modules[static_cast<std::size_t>(t)].get(), kCmd, 0);
            while (!go.load())
                std::this_thread::yield();
            const auto subindex = static_cast<std::uint8_t>(t);
            for (int r = 0; r < kReads; ++r) {
                std::uint32_t value = 0;
                const aErr err = entity.getUEI32(7, subindex, &value);
                if (err != aErrNone)
                    ++failed;
                else if (value != valueOf(subindex))
                    ++wrong;
            }
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0) << "values that answered another thread's request";
    EXPECT_EQ(failed.load(), 0);
}

// The turns are per link: a caller waiting for a silent module does not hold
// up a caller on another link.
TEST(ModuleSharedLink, DifferentLinksDoNotWaitForEachOther)
{
    SimRig silent("127.0.0.2");
    SimRig lively("127.0.0.3");
    silent.sim.setHandler(kRouterAddress, kCmd, {});
    lively.sim.withModule(kRouterAddress, [](SimModule& m) {
        morvsim::installEntityHandler(m, kCmd);
        m.entities[morvsim::entityKey(kCmd, 7, 0)] = morvsim::u32(valueOf(0));
    });
    auto slow = silent.connect(kRouterAddress, false);
    auto fast = lively.connect(kRouterAddress, false);
    const std::size_t mark = silent.mark();
    std::thread waiting([&] {
        EntityClass entity;
        entity.init(slow.get(), kCmd, 0);
        std::uint32_t value = 0;
        EXPECT_EQ(entity.getUEI32(7, &value), aErrTimeout);
    });
    // The first caller has sent its request and now waits for the reply.
    ASSERT_TRUE(silent.sim.waitForPacket([](const SimPacket& p) { return p.address == kRouterAddress; },
                                         Millis(2000), mark));
    EntityClass entity;
    entity.init(fast.get(), kCmd, 0);
    std::uint32_t value = 0;
    const auto start = Clock::now();
    EXPECT_EQ(entity.getUEI32(7, &value), aErrNone);
    EXPECT_LT(msSince(start), 700) << "waited for the other link";
    EXPECT_EQ(value, valueOf(0));
    waiting.join();
}

// Callers that loop on an option the module never answers, on one link.
class SilentPollers {
public:
    SilentPollers(std::vector<std::unique_ptr<Module>>& modules, std::uint8_t option) : option_(option)
    {
        for (auto& module : modules)
            threads_.emplace_back([this, m = module.get()] { poll(m); });
    }
    ~SilentPollers() { stop(); }
    void stop()
    {
        stop_ = true;
        for (auto& thread : threads_)
            if (thread.joinable())
                thread.join();
    }
    long long longestMs() const { return longest_.load(); }
    int calls() const { return calls_.load(); }
    int successes() const { return successes_.load(); }

private:
    void poll(Module* module)
    {
        EntityClass entity;
        entity.init(module, kCmd, 0);
        while (!stop_) {
            const auto start = Clock::now();
            std::uint32_t value = 0;
            if (entity.getUEI32(option_, &value) == aErrNone)
                ++successes_;
            const long long ms = msSince(start);
            for (long long seen = longest_.load(); ms > seen && !longest_.compare_exchange_weak(seen, ms);) {
            }
            ++calls_;
        }
    }

    std::uint8_t option_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> longest_{0};
    std::atomic<int> calls_{0};
    std::atomic<int> successes_{0};
    std::vector<std::thread> threads_;
};

constexpr std::uint8_t kSilentOption = 9;

std::vector<std::unique_ptr<Module>> modulesOnOneLink(SimRig& rig, int count)
{
    rig.sim.withModule(kRouterAddress, [](SimModule& m) {
        morvsim::installEntityHandler(m, kCmd);
        m.entities[morvsim::entityKey(kCmd, 7, 0)] = morvsim::u32(valueOf(0));
        m.entities[morvsim::silentKey(kCmd, kSilentOption, 0)] = {};
    });
    std::vector<std::unique_ptr<Module>> modules;
    for (int i = 0; i < count; ++i)
        modules.push_back(rig.connect(kRouterAddress, false));
    return modules;
}

// Only exchanges whose replies could be confused wait for each other: a
// caller of an answered option never waits for callers of a silent one.
TEST(ModuleSharedLink, CallersOfAnotherOptionDoNotWaitForASilentOne)
{
    SimRig rig;
    auto modules = modulesOnOneLink(rig, 5);
    std::vector<std::unique_ptr<Module>> pollerModules;
    for (int i = 1; i < 5; ++i)
        pollerModules.push_back(std::move(modules[static_cast<std::size_t>(i)]));
    SilentPollers pollers(pollerModules, kSilentOption);
    // The pollers have their requests out.
    ASSERT_TRUE(rig.sim.waitForPacketCount(
        [](const SimPacket& p) { return p.data.size() >= 2 && p.data[1] == (0x40 | kSilentOption); }, 1, Millis(3000)));
    EntityClass entity;
    entity.init(modules[0].get(), kCmd, 0);
    long long longest = 0;
    for (int n = 0; n < 20; ++n) {
        const auto start = Clock::now();
        std::uint32_t value = 0;
        EXPECT_EQ(entity.getUEI32(7, &value), aErrNone);
        EXPECT_EQ(value, valueOf(0));
        longest = std::max(longest, msSince(start));
    }
    EXPECT_LT(longest, 700) << "waited for the callers of the silent option";
    pollers.stop();
    EXPECT_EQ(pollers.successes(), 0);
}

// Callers of one silent option take turns, first come first served, and
// each call returns within its own time-out (1000 ms, its wait for the turn
// included) plus, after another's time-out, what is left of the window in
// which that late reply may come (3000 ms from when that call gave up):
// 4000 ms at most.
TEST(ModuleSharedLink, CallsOfOneSilentOptionReturnWithinTheirBound)
{
    SimRig rig;
    auto modules = modulesOnOneLink(rig, 4);
    SilentPollers pollers(modules, kSilentOption);
    std::this_thread::sleep_for(std::chrono::seconds(6));
    pollers.stop();
    EXPECT_GT(pollers.calls(), 0);
    EXPECT_LT(pollers.longestMs(), 1000 + 3000 + 1500);
}

}  // namespace sharing

}  // namespace
