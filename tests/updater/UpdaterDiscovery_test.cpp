// Direct and routed discovery end to end: TCP/IP discovery multicasts, so every
// test runs in fresh network namespaces joined by a veth pair, the simulated
// modules on the far end, reached over TCP.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FakeDiscoveryPeers.h"
#include "ModuleSimulator.h"
#include "PrivateNetns.h"
#include "SimEntities.h"
#include "SimI2C.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"
#include "TempDir.h"
#include "Updater.h"
#include "UpdaterListings.h"
#include "UpdaterTestDisplay.h"
#include "aVersion.h"

namespace {

using morvsim::Bytes;
using morvsim::FakeTcpipModule;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;
using morvsim::tcpipReply;
using updtest::RecordingDisplay;

const char* const kHostAddress = "10.214.0.1";
const char* const kModuleAddress = "10.214.0.2";

constexpr uint8_t kRouterAddress = 4;
constexpr uint32_t kRouterSerial = 0xD272031D;
constexpr uint8_t kRouterModel = 17;

uint32_t ipv4(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

// Accepts TCP connections on an address of its namespace and hands each to the
// simulator (whose own listener serves loopback only).
class SimAcceptor {
public:
    SimAcceptor(const char* ip, ModuleSimulator& sim) : sim_(sim)
    {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = ipv4(ip);
        socklen_t length = sizeof local;
        if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            listen(listen_, 4) != 0 || getsockname(listen_, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
            pipe2(stop_, O_CLOEXEC) != 0)
            throw std::runtime_error("acceptor set-up failed");
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { loop(); });
    }
    ~SimAcceptor()
    {
        const char byte = 1;
        (void)!write(stop_[1], &byte, 1);
        thread_.join();
        close(listen_);
        close(stop_[0]);
        close(stop_[1]);
    }
    uint16_t port() const { return port_; }
    int accepted() const { return accepted_.load(); }

private:
    void loop()
    {
        for (;;) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents != 0)
                return;
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ++accepted_;
                sim_.attachFd(fd);
            }
        }
    }

    ModuleSimulator& sim_;
    int listen_ = -1;
    int stop_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// Answers one option of the system entity with an error, the rest as usual.
morvsim::Handler refusing(uint8_t refused)
{
    return [refused](SimModule& m, const SimPacket& p, SimReply& r) {
        if (p.data.size() >= 3 && (p.data[1] & 0x3F) == refused) {
            const bool get = (p.data[1] & 0x40) != 0;
            r.packet(m.address, {3, static_cast<uint8_t>(get ? refused : refused | 0xC0),
                                 static_cast<uint8_t>(p.data[2] | 0x80), 29});
            return;
        }
        morvsim::handleSystemRequest(m, p, r);
    };
}

class NetworkDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ASSERT_EQ(morvtest::startVethPair(host_, kHostAddress, net_, kModuleAddress), "");
        updater_ = std::make_unique<Updater>("http://127.0.0.1:1/cgi/u", store_.path().c_str(), display_);
    }
    void TearDown() override
    {
        if (net_)
            net_->run([this] {
                answers_.clear();
                acceptors_.clear();
                sims_.clear();
            });
    }

    // A simulated module (or routing module) reachable over TCP at the far end,
    // announcing itself to TCP/IP discovery.
    ModuleSimulator& addModule(SimModule module, const morvsim::SystemValues& values, uint32_t build,
                               bool listening = true)
    {
        net_->run([&] {
            const uint8_t address = module.address;
            const uint32_t serial = module.serialNumber;
            const uint8_t model = module.model;
            auto sim = std::make_unique<ModuleSimulator>(module);
            morvsim::IntrospectionTable table;
            table.build = build;
            sim->withModule(address, [&](SimModule& m) {
                morvsim::installSystemEntity(m, values);
                morvsim::installIntrospection(m, table);
                morvsim::installI2CBus(m);
            });
            auto acceptor = std::make_unique<SimAcceptor>(kModuleAddress, *sim);
            // A module that stopped listening still answers discovery with its old port.
            const uint16_t port = acceptor->port();
            if (!listening)
                acceptor.reset();
            answers_.push_back(std::make_unique<FakeTcpipModule>(kModuleAddress,
                                                                 tcpipReply(address, port, serial, model)));
            ports_.push_back(port);
            acceptors_.push_back(std::move(acceptor));
            sims_.push_back(std::move(sim));
        });
        return *sims_.back();
    }

    ModuleSimulator& addRouter(morvsim::SystemValues values = morvsim::SystemValues())
    {
        return addModule(SimModule(kRouterAddress, kRouterSerial, kRouterModel), values, 100);
    }

    void behindRouter(ModuleSimulator& router, uint8_t address, uint32_t serial, uint8_t model, uint32_t build,
                      const std::string& name)
    {
        morvsim::SystemValues values;
        values.version = aVersion_Pack(1, 4, static_cast<uint8_t>(address));
        values.name = name;
        morvsim::addModuleBehindRouter(router, kRouterAddress, SimModule(address, serial, model), values);
        morvsim::IntrospectionTable table;
        table.build = build;
        router.withModule(address, [&](SimModule& m) { morvsim::installIntrospection(m, table); });
    }

    std::vector<DeviceInfo> onHost(const std::function<std::vector<DeviceInfo>()>& search)
    {
        std::vector<DeviceInfo> found;
        host_->run([&] { found = search(); });
        return found;
    }

    // Packets the host sent to the routing module with the given leading bytes.
    static std::vector<Bytes> sentTo(const ModuleSimulator& sim, uint8_t address, const Bytes& prefix)
    {
        std::vector<Bytes> out;
        for (const SimPacket& p : sim.packets())
            if (p.address == address && p.data.size() >= prefix.size() &&
                std::equal(prefix.begin(), prefix.end(), p.data.begin()))
                out.push_back(p.data);
        return out;
    }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::vector<std::unique_ptr<FakeTcpipModule>> answers_;
    std::vector<std::unique_ptr<SimAcceptor>> acceptors_;
    std::vector<std::unique_ptr<ModuleSimulator>> sims_;
    std::vector<uint16_t> ports_;
    morvtest::TempDir store_;
    RecordingDisplay display_;
    std::unique_ptr<Updater> updater_;
};

TEST_F(NetworkDiscoveryTest, DirectSearchQueriesEveryModuleAndListsItEscaped)
{
    morvsim::SystemValues healthy;
    healthy.version = aVersion_Pack(1, 2, 3);
    healthy.name = "Sim\x1b[2Jhub";
    addModule(SimModule(4, 0x0012ABCD, 19), healthy, 4711);
    addModule(SimModule(6, 0x00C0FFEE, 21), morvsim::SystemValues(), 9, false);

    // Type 0: USB (nothing attached here), then TCP/IP.
    std::vector<DeviceInfo> found = onHost([&] { return updater_->Discover_Devices(0); });
    ASSERT_EQ(found.size(), 2u);
    std::sort(found.begin(), found.end(),
              [](const DeviceInfo& a, const DeviceInfo& b) { return a.spec.serialNumber < b.spec.serialNumber; });

    const DeviceInfo& hub = found[0];
    EXPECT_EQ(hub.spec.type, linkTypeTCPIP);
    EXPECT_EQ(hub.spec.serialNumber, 0x0012ABCDu);
    EXPECT_EQ(hub.spec.ipAddress, ipv4(kModuleAddress));
    EXPECT_EQ(hub.spec.port, ports_[0]);
    EXPECT_EQ(hub.error, 0u);
    EXPECT_EQ(hub.build, 4711u);
    EXPECT_EQ(hub.modelName, "MTMDAQ1");
    EXPECT_EQ(hub.deviceName, "Sim\x1b[2Jhub");

    const DeviceInfo& gone = found[1];
    EXPECT_EQ(gone.spec.serialNumber, 0x00C0FFEEu);
    EXPECT_NE(gone.error, 0u) << "a module that cannot be connected keeps its error";
    EXPECT_EQ(gone.build, 0u);
    EXPECT_EQ(gone.modelName, "MTMLoad1");

    RecordingDisplay listing;
    UpdaterListings::_display_device_list(listing, {hub}, linkTypeTCPIP);
    ASSERT_EQ(listing.infos().size(), 3u);
    EXPECT_EQ(listing.infos()[2],
              "    0012ABCD  04       00      MTMDAQ1        1.2.3 (      4711)        [10.214.0.2]       "
              "Sim\\x1B[2Jhub");
    EXPECT_TRUE(display_.errors().empty());
}

TEST_F(NetworkDiscoveryTest, RoutedSearchFindsTheModulesBehindTheRouterThroughItsLink)
{
    ModuleSimulator& router = addRouter();
    behindRouter(router, 2, 0x2181F0EE, 19, 200, "two");
    behindRouter(router, 6, 0x21816666, 21, 600, "six");

    // Type 0: the search finds out over which link type the router is reached.
    const std::vector<DeviceInfo> found =
        onHost([&] { return updater_->Discover_MVNetwork_Devices(kRouterSerial, 0); });
    ASSERT_EQ(found.size(), 2u);
    const uint32_t serials[] = {0x2181F0EE, 0x21816666};
    const uint8_t addresses[] = {2, 6};
    const uint32_t builds[] = {200, 600};
    const char* const models[] = {"MTMDAQ1", "MTMLoad1"};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const DeviceInfo& info = found[i];
        EXPECT_EQ(info.i2cAddress, addresses[i]);
        EXPECT_EQ(info.spec.serialNumber, serials[i]);
        EXPECT_EQ(info.spec.type, linkTypeTCPIP);
        EXPECT_EQ(info.spec.ipAddress, ipv4(kModuleAddress)) << "the router's address word";
        EXPECT_EQ(info.spec.port, ports_[0]) << "the router's port word";
        EXPECT_EQ(info.spec.module, addresses[i]);
        EXPECT_EQ(info.spec.router, kRouterAddress);
        EXPECT_EQ(info.spec.routerSerial, kRouterSerial);
        EXPECT_EQ(info.build, builds[i]);
        EXPECT_EQ(info.major, 1);
        EXPECT_EQ(info.minor, 4);
        EXPECT_EQ(info.patch, addresses[i]);
        EXPECT_EQ(info.modelName, models[i]);
        EXPECT_EQ(info.error, 0u);
    }

    // Every even address from 2 to 252 but the router's own was probed, and nothing else.
    std::vector<uint8_t> probed;
    for (const Bytes& write : sentTo(router, kRouterAddress, {8, 0}))
        if (write.size() >= 4 && write[3] == 2)
            probed.push_back(write[2]);
    ASSERT_EQ(probed.size(), 125u);
    EXPECT_EQ(probed.front(), 2);
    EXPECT_EQ(probed.back(), 252);
    EXPECT_EQ(std::count(probed.begin(), probed.end(), kRouterAddress), 0);
    int speed = -2;
    router.withModule(kRouterAddress, [&](SimModule& m) { speed = morvsim::i2cLastSpeed(m, 0); });
    EXPECT_EQ(speed, 3);

    // Routing on for the scan, off at its end; one connection, shared by all.
    const std::vector<Bytes> routing = sentTo(router, kRouterAddress, {3, 0x80 | 20});
    ASSERT_EQ(routing.size(), 2u);
    EXPECT_EQ(routing[0].back(), 1);
    EXPECT_EQ(routing[1].back(), 0);
    EXPECT_EQ(acceptors_[0]->accepted(), 1);
    EXPECT_TRUE(display_.lines.empty());
}

TEST_F(NetworkDiscoveryTest, AnEmptyBusGivesAnEmptyListAndRoutingEndsSwitchedOff)
{
    ModuleSimulator& router = addRouter();
    const std::vector<DeviceInfo> found =
        onHost([&] { return updater_->Discover_MVNetwork_Devices(kRouterSerial, linkTypeTCPIP); });
    EXPECT_TRUE(found.empty());
    const std::vector<Bytes> routing = sentTo(router, kRouterAddress, {3, 0x80 | 20});
    ASSERT_EQ(routing.size(), 2u);
    EXPECT_EQ(routing[1].back(), 0);
    EXPECT_EQ(router.module(kRouterAddress).entities.at(morvsim::entityKey(3, 2, 0)), Bytes{0})
        << "the router routes to its own router again";
    EXPECT_TRUE(display_.lines.empty());
}

TEST_F(NetworkDiscoveryTest, RoutersThatCannotBeUsedGiveAnEmptyList)
{
    // Not found anywhere: no message.
    EXPECT_TRUE(onHost([&] { return updater_->Discover_MVNetwork_Devices(0x0BADF00D, 0); }).empty());
    EXPECT_TRUE(display_.lines.empty());

    // Refuses to route to us.
    ModuleSimulator& router = addRouter();
    behindRouter(router, 2, 0x2181F0EE, 19, 200, "two");
    router.setHandler(kRouterAddress, 3, refusing(20));
    EXPECT_TRUE(onHost([&] { return updater_->Discover_MVNetwork_Devices(kRouterSerial, linkTypeTCPIP); }).empty());
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Error 29 on route to me"});
    EXPECT_TRUE(sentTo(router, kRouterAddress, {8}).empty()) << "no probe without routing";
}

TEST_F(NetworkDiscoveryTest, ARouterThatCannotBeConnectedIsReported)
{
    addModule(SimModule(kRouterAddress, kRouterSerial, kRouterModel), morvsim::SystemValues(), 100, false);
    EXPECT_TRUE(onHost([&] { return updater_->Discover_MVNetwork_Devices(kRouterSerial, linkTypeTCPIP); }).empty());
    ASSERT_EQ(display_.errors().size(), 1u);
    EXPECT_EQ(display_.errors()[0].rfind("Error ", 0), 0u);
    EXPECT_NE(display_.errors()[0].find(" on connectFromSpec"), std::string::npos) << display_.errors()[0];
}

TEST_F(NetworkDiscoveryTest, ModulesThatAnswerTheProbeButCannotBeNamedAreLeftOut)
{
    ModuleSimulator& router = addRouter();
    behindRouter(router, 2, 0x2181F0EE, 19, 200, "two");
    behindRouter(router, 8, 0x21818888, 19, 800, "eight");
    behindRouter(router, 10, 0x21810A0A, 19, 1000, "ten");
    // Module 2 does not tell its serial number; module 8 its version; module 10 its model.
    router.setHandler(2, 3, refusing(9));
    router.setHandler(8, 3, refusing(7));
    router.setHandler(10, 3, refusing(8));
    const std::vector<DeviceInfo> found =
        onHost([&] { return updater_->Discover_MVNetwork_Devices(kRouterSerial, linkTypeTCPIP); });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].i2cAddress, 8);
    EXPECT_EQ(found[0].error, static_cast<uint32_t>(aErrInvalidOption));
    EXPECT_EQ(found[0].build, 800u);
    EXPECT_EQ(found[0].modelName, "MTMDAQ1");
    EXPECT_EQ(found[1].i2cAddress, 10);
    EXPECT_EQ(found[1].error, static_cast<uint32_t>(aErrInvalidOption));
    EXPECT_EQ(found[1].major, 1);
    EXPECT_EQ(found[1].modelName, "");
}

}  // namespace
