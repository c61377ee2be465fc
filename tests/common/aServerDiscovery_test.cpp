// The network server's discovery responders, each in fresh network
// namespaces: the loopback multicast responder on lo, the beacon over a veth
// pair; and a second process that finds the server and reaches the module
// through it.
#include "ServerTestRig.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "ChildProcess.h"
#include "DiscoveryCollector.h"
#include "aDiscovery.h"
#include "aMulticast.h"
#include "zBeaconInterface.h"

using namespace servertest;

namespace {

const char* const kChildSerialVariable = "MORV_SERVER_CHILD_SERIAL";

std::string selfPath()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

std::map<std::uint32_t, linkSpec> bySerial(const std::vector<linkSpec>& specs)
{
    std::map<std::uint32_t, linkSpec> out;
    for (const linkSpec& s : specs)
        out[s.serialNumber] = s;
    return out;
}

bool portTaken(unsigned port)
{
    aMulticast* probe = aMulticast_Create(kLoopback, htonl(aMULTICAST_GROUP), std::uint16_t(port), 0);
    bool taken = probe == nullptr;
    aMulticast_Destroy(&probe);
    return taken;
}

class ServerOnThisHost : public PrivateNetnsTest {
protected:
    void SetUp() override
    {
        PrivateNetnsTest::SetUp();
        if (IsSkipped())
            return;
        host_ = std::make_unique<morvtest::NetnsThread>(true);
        ASSERT_EQ(host_->error(), "");
    }
    void TearDown() override
    {
        // Responders live in the host's namespace: stop them there.
        if (host_)
            host_->run([this] { modules_.clear(); });
    }

    ServedModule& serve(const char* ip, std::uint8_t localOnly = 0)
    {
        modules_.push_back(std::make_unique<ServedModule>(ip));
        ServedModule& m = *modules_.back();
        aErr err = aErrUnknown;
        host_->run([&] { err = m.serve(0, localOnly); });
        EXPECT_EQ(err, aErrNone);
        return m;
    }

    std::vector<linkSpec> search()
    {
        morvtest::DiscoveryCollector found;
        host_->run([&] { found.run(linkTypeAEther, kLoopback); });
        return found.specs;
    }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::vector<std::unique_ptr<ServedModule>> modules_;
};

TEST_F(ServerOnThisHost, AnswersOnceItsModelIsSetWithItsOwnSpec)
{
    ServedModule& first = serve("127.0.0.1");
    host_->run([] { EXPECT_TRUE(portTaken(aMULTICAST_REQUEST_PORT)); });
    EXPECT_TRUE(search().empty()) << "a server without a model stays silent";

    ASSERT_EQ(aServer_SetModuleAddress(first.server, kModule), aErrNone);
    ASSERT_EQ(aServer_SetModel(first.server, 0x13), aErrNone);
    auto specs = search();
    ASSERT_EQ(specs.size(), 1u);
    const linkSpec& spec = specs[0];
    EXPECT_EQ(spec.type, linkTypeAEther);
    EXPECT_EQ(spec.serialNumber, ipv4("127.0.0.1")) << "the identifier of the served link";
    EXPECT_EQ(spec.model, 0x13);
    EXPECT_EQ(spec.module, 0) << "the module address is not advertised";
    EXPECT_EQ(spec.router, 0);
    EXPECT_EQ(spec.routerSerial, 0u);
    EXPECT_EQ(spec.ipAddress, kLoopback);
    EXPECT_EQ(spec.port, first.port);

    // A second server takes the next slot; a local-only one answers the same way.
    ServedModule& second = serve("127.0.0.2", 1);
    host_->run([] { EXPECT_TRUE(portTaken(aMULTICAST_REQUEST_PORT + 1)); });
    aServer_SetModel(second.server, 0x11);
    std::uint32_t served = 0;
    aServer_GetInterface(second.server, &served);
    EXPECT_EQ(served, kLoopback);
    auto both = bySerial(search());
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[ipv4("127.0.0.2")].port, second.port);
    EXPECT_EQ(both[ipv4("127.0.0.2")].ipAddress, kLoopback);

    // Stopped, a server gives its slot back at once.
    auto start = Clock::now();
    host_->run([&] { first.stopServing(); });
    EXPECT_LT(msSince(start), 900);
    host_->run([] { EXPECT_FALSE(portTaken(aMULTICAST_REQUEST_PORT)); });
}

TEST_F(ServerOnThisHost, AnotherProcessFindsTheServerAndReachesTheModuleThroughIt)
{
    ServedModule& m = serve("127.0.0.1");
    aServer_SetModel(m.server, 0x13);
    morvtest::ChildOptions options;
    char serial[16];
    std::snprintf(serial, sizeof(serial), "%08X", ipv4("127.0.0.1"));
    options.environment[kChildSerialVariable] = serial;
    options.timeout = std::chrono::milliseconds(20000);
    morvtest::ChildResult result;
    // The child is started from the host's namespace, so it lives there.
    host_->run([&] {
        result = morvtest::RunChild({selfPath(), "--gtest_filter=ServerChild.ReachesTheModuleThroughTheServer"},
                                    options);
    });
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
    EXPECT_TRUE(m.sim.waitForPacketCount([](const SimPacket& p) { return p.is(kModule, {kEcho, 0xC1}); }, 3,
                                         Millis(100)))
        << "the child's requests reached this process's module";
}

// Runs only in the child process of the test above.
TEST(ServerChild, ReachesTheModuleThroughTheServer)
{
    const char* serialText = std::getenv(kChildSerialVariable);
    if (serialText == nullptr)
        GTEST_SKIP() << "runs as the child of another test";
    std::uint32_t serial = std::uint32_t(std::strtoul(serialText, nullptr, 16));
    linkSpec* spec = aDiscovery_FindModule(linkTypeAEther, serial, kLoopback);
    ASSERT_NE(spec, nullptr);
    ClientLink client(std::uint16_t(spec->port), spec->ipAddress);
    aLinkSpec_Destroy(&spec);
    ASSERT_TRUE(client.ok());
    for (int i = 0; i < 3; ++i) {
        PacketPtr reply = client.ask(kModule, {kEcho, 0xC1});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply.data(), (Bytes{kEcho, 0xC1}));
    }
}

const char* const kHostAddress = "10.214.0.1";
const char* const kSearcherAddress = "10.214.0.2";

// Datagrams on the beacon port within ms.
int beaconsHeard(int ms)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof(on));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(DISCOVERY_BEACON_PORT);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        close(fd);
        return -1;
    }
    int count = 0;
    auto start = Clock::now();
    while (msSince(start) < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(ms - msSince(start))) <= 0)
            break;
        char buffer[256];
        if (recv(fd, buffer, sizeof(buffer), 0) > 0)
            ++count;
    }
    close(fd);
    return count;
}

class ServerByBeacon : public PrivateNetnsTest {
protected:
    void SetUp() override
    {
        PrivateNetnsTest::SetUp();
        if (IsSkipped())
            return;
        host_ = std::make_unique<morvtest::NetnsThread>();
        net_ = std::make_unique<morvtest::NetnsThread>();
        ASSERT_EQ(morvtest::linkWithVeth(*host_, kHostAddress, *net_, kSearcherAddress), "");
    }
    void TearDown() override
    {
        if (host_)
            host_->run([this] { modules_.clear(); });
    }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::vector<std::unique_ptr<ServedModule>> modules_;
};

TEST_F(ServerByBeacon, AdvertisesTheInterfaceItServesThenFallsSilent)
{
    modules_.push_back(std::make_unique<ServedModule>("127.0.0.1"));
    ServedModule& m = *modules_.back();
    aErr err = aErrUnknown;
    host_->run([&] { err = m.serve(0, 0); });
    ASSERT_EQ(err, aErrNone);
    std::uint32_t served = 0;
    aServer_GetInterface(m.server, &served);
    EXPECT_EQ(served, ipv4(kHostAddress)) << "a host with an interface serves its first one";
    aServer_SetModel(m.server, 0x13);

    morvtest::DiscoveryCollector found;
    net_->run([&] { found.run(linkTypeAEther, ipv4(kSearcherAddress)); });
    ASSERT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(found.specs[0].ipAddress, ipv4(kHostAddress));
    EXPECT_EQ(found.specs[0].port, m.port);
    EXPECT_EQ(found.specs[0].model, 0x13);
    EXPECT_EQ(found.specs[0].type, linkTypeAEther);

    // Each tag heard starts a span of about two seconds of publishing; the
    // last tag came as the search ended.
    int heard = -1;
    net_->run([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        heard = beaconsHeard(800);
    });
    EXPECT_EQ(heard, 0) << "the server silenced its beacon";

    // A local-only server on the same host keeps to the loopback responder.
    modules_.push_back(std::make_unique<ServedModule>("127.0.0.2"));
    ServedModule& local = *modules_.back();
    host_->run([&] { err = local.serve(0, 1); });
    ASSERT_EQ(err, aErrNone);
    aServer_GetInterface(local.server, &served);
    EXPECT_EQ(served, kLoopback);
}

}  // namespace
