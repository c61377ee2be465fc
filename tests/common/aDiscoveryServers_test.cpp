// The search for network servers: the loopback multicast exchange on lo and
// the beacon over a veth pair, each in fresh network namespaces.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "DiscoveryCollector.h"
#include "FakeDiscoveryPeers.h"
#include "Elapsed.h"
#include "PrivateNetns.h"
#include "aDiscovery.h"
#include "aMulticast.h"
#include "zBeaconInterface.h"

#if defined(__SANITIZE_THREAD__)
// libzmq is not instrumented: messages its lock-free pipes hand from the
// beacon actor to the searching thread look like unsynchronised memory.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libzmq.so\n";
}
#endif

namespace {

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

using Clock = std::chrono::steady_clock;
using morvtest::msSince;
using morvsim::Bytes;
using morvsim::FakeBeaconServer;
using morvsim::FakeMulticastServer;
using morvsim::serverSpec;
using morvsim::specBytes;

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

std::uint32_t ipv4(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

std::string takeText(char* copy)
{
    std::string text = copy ? copy : "<null>";
    std::free(copy);
    return text;
}

std::map<std::uint32_t, linkSpec> bySerial(const std::vector<linkSpec>& specs)
{
    std::map<std::uint32_t, linkSpec> out;
    for (const linkSpec& s : specs)
        out[s.serialNumber] = s;
    return out;
}

class ServersOnThisHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        host_ = std::make_unique<morvtest::NetnsThread>(true);
        ASSERT_EQ(host_->error(), "");
    }
    void TearDown() override
    {
        if (host_)
            host_->run([this] { servers_.clear(); });
    }

    FakeMulticastServer& addServer(unsigned slot, Bytes reply, bool answers = true)
    {
        host_->run([&] {
            servers_.push_back(std::make_unique<FakeMulticastServer>(slot, reply, answers));
        });
        return *servers_.back();
    }
    void onHost(const std::function<void()>& body) { host_->run(body); }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::vector<std::unique_ptr<FakeMulticastServer>> servers_;
};

TEST_F(ServersOnThisHost, NoServerAnswersNothingAtOnceAndLeavesNoPortBound)
{
    onHost([] {
        morvtest::DiscoveryCollector found;
        auto start = Clock::now();
        EXPECT_EQ(found.run(linkTypeAEther, kLoopback), 0);
        EXPECT_LT(msSince(start), 500);
        EXPECT_TRUE(found.specs.empty());
        for (unsigned slot = 0; slot < aMULTICAST_SLOTS; ++slot) {
            for (unsigned base : {aMULTICAST_REQUEST_PORT, aMULTICAST_REPLY_PORT}) {
                aMulticast* again =
                    aMulticast_Create(kLoopback, htonl(aMULTICAST_GROUP), std::uint16_t(base + slot), 0);
                ASSERT_NE(again, nullptr) << "port " << base + slot << " left bound";
                aMulticast_Destroy(&again);
            }
        }
    });
}

TEST_F(ServersOnThisHost, EachServerIsAskedOnItsSlotAndReportedOnce)
{
    linkSpec a = serverSpec(0xA0000001, "127.0.0.1", 9001, 0x13);
    linkSpec b = serverSpec(0xB0000002, "127.0.0.1", 9002, 0x11);
    linkSpec c = serverSpec(0xC0000003, "127.0.0.1", 9003, 0x04);
    FakeMulticastServer& s0 = addServer(0, specBytes(a));
    // One server holding two slots is one server.
    addServer(1, specBytes(b));
    addServer(2, specBytes(b));
    FakeMulticastServer& s49 = addServer(49, specBytes(c));

    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    onHost([&] { count = found.run(linkTypeAEther, kLoopback); });
    EXPECT_EQ(count, 3);
    ASSERT_EQ(found.specs.size(), 3u);
    EXPECT_EQ(std::memcmp(&found.specs[0], &a, sizeof(a)), 0) << "the server's 128 bytes as sent";
    EXPECT_EQ(found.specs[1].serialNumber, b.serialNumber);
    EXPECT_EQ(std::memcmp(&found.specs[2], &c, sizeof(c)), 0);
    EXPECT_EQ(s0.requests(), 1);
    EXPECT_EQ(s49.requests(), 1);

    // Interface 0 searches this host too.
    morvtest::DiscoveryCollector again;
    onHost([&] { count = again.run(linkTypeAEther, 0); });
    EXPECT_EQ(count, 3);
}

TEST_F(ServersOnThisHost, OnlySaneLocalServerSpecsAreTaken)
{
    linkSpec good = serverSpec(0x00000010, "127.0.0.1", 9010);
    linkSpec serial = serverSpec(0x00000011, "127.0.0.1", 9011);
    serial.type = linkTypeSerial;
    std::strcpy(serial.path, "/dev/ttyS0");
    linkSpec usb = serverSpec(0x00000012, "127.0.0.1", 9012);
    usb.type = linkTypeUSB;
    linkSpec tcpip = serverSpec(0x00000013, "127.0.0.1", 9013);
    tcpip.type = linkTypeTCPIP;
    linkSpec noPort = serverSpec(0x00000014, "127.0.0.1", 0);
    linkSpec widePort = serverSpec(0x00000015, "127.0.0.1", 0);
    widePort.port = 0x00012710u;
    linkSpec noAddress = serverSpec(0x00000016, "0.0.0.0", 9016);
    linkSpec remote = serverSpec(0x00000017, "10.1.2.3", 9017);
    linkSpec unterminated = serverSpec(0x00000018, "127.0.0.1", 9018);
    std::memset(reinterpret_cast<char*>(&unterminated) + 32, 'x', 96);
    linkSpec longer = serverSpec(0x00000019, "127.0.0.1", 9019);
    Bytes longReply = specBytes(longer);
    longReply.resize(200, 0x55);

    unsigned slot = 0;
    addServer(slot++, specBytes(good));
    addServer(slot++, specBytes(serial));
    addServer(slot++, specBytes(usb));
    addServer(slot++, specBytes(tcpip));
    addServer(slot++, specBytes(noPort));
    addServer(slot++, specBytes(widePort));
    addServer(slot++, specBytes(noAddress));
    addServer(slot++, specBytes(remote));
    Bytes shortReply = specBytes(good);
    shortReply.resize(100);
    addServer(slot++, shortReply);
    addServer(slot++, specBytes(unterminated));
    addServer(slot++, longReply);
    FakeMulticastServer& silent = addServer(slot++, specBytes(serverSpec(0x1A, "127.0.0.1", 9020)), false);
    linkSpec last = serverSpec(0x0000001B, "127.0.0.1", 9021);
    addServer(slot++, specBytes(last));

    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    long long elapsed = 0;
    onHost([&] {
        auto start = Clock::now();
        count = found.run(linkTypeAEther, kLoopback);
        elapsed = msSince(start);
    });
    auto taken = bySerial(found.specs);
    EXPECT_EQ(count, 4);
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken.count(good.serialNumber), 1u);
    EXPECT_EQ(taken.count(last.serialNumber), 1u);
    // A reply longer than a spec is cut to one.
    ASSERT_EQ(taken.count(longer.serialNumber), 1u);
    EXPECT_EQ(std::memcmp(&taken[longer.serialNumber], &longer, sizeof(longer)), 0);
    // A record whose tail runs on is taken with its path bytes terminated.
    ASSERT_EQ(taken.count(unterminated.serialNumber), 1u);
    EXPECT_EQ(taken[unterminated.serialNumber].path[aLINKSPEC_PATH_SIZE - 1], '\0');
    for (const linkSpec& s : found.specs)
        EXPECT_EQ(s.type, linkTypeAEther);
    EXPECT_EQ(silent.requests(), 1);
    // The silent server costs its one second; nothing else waits.
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
}

TEST_F(ServersOnThisHost, TheCallbackEndsTheSearchAndFindModulePicksBySerial)
{
    FakeMulticastServer& first = addServer(0, specBytes(serverSpec(0x0101, "127.0.0.1", 9100)));
    FakeMulticastServer& second = addServer(1, specBytes(serverSpec(0x0202, "127.0.0.1", 9200)));
    morvtest::DiscoveryCollector found;
    found.stopAfter = 1;
    std::uint8_t count = 0;
    onHost([&] { count = found.run(linkTypeAEther, kLoopback); });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(first.requests(), 1);
    EXPECT_EQ(second.requests(), 0) << "no slot is asked after the stop";

    linkSpec* spec = nullptr;
    onHost([&] { spec = aDiscovery_FindModule(linkTypeAEther, 0x0202, kLoopback); });
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->port, 9200u);
    aLinkSpec_Destroy(&spec);
    onHost([&] { spec = aDiscovery_FindModule(linkTypeAEther, 0x0303, kLoopback); });
    EXPECT_EQ(spec, nullptr);
    onHost([&] { spec = aDiscovery_FindFirstModule(linkTypeAEther, kLoopback); });
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0101u);
    aLinkSpec_Destroy(&spec);
}

const char* const kHostAddress = "10.213.0.1";
const char* const kServerAddress = "10.213.0.2";
const char* const kBroadcast = "10.213.0.255";

class ServersByBeacon : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ASSERT_EQ(morvtest::startVethPair(host_, kHostAddress, net_, kServerAddress, true), "");
    }
    void TearDown() override
    {
        if (net_)
            net_->run([this] { servers_.clear(); });
    }

    FakeBeaconServer& addServer(std::vector<Bytes> payloads)
    {
        net_->run([&] { servers_.push_back(std::make_unique<FakeBeaconServer>(kBroadcast, payloads)); });
        return *servers_.back();
    }
    void onHost(const std::function<void()>& body) { host_->run(body); }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::vector<std::unique_ptr<FakeBeaconServer>> servers_;
};

TEST_F(ServersByBeacon, ServersAnsweringTheTagAreFoundOnceEach)
{
    linkSpec one = serverSpec(0x5E000001, kServerAddress, 9300, 0x13);
    linkSpec two = serverSpec(0x5E000002, kServerAddress, 9301, 0x11);
    linkSpec serial = serverSpec(0x5E000003, kServerAddress, 9302);
    serial.type = linkTypeSerial;
    std::strcpy(serial.path, "/dev/ttyUSB0");
    linkSpec noAddress = serverSpec(0x5E000004, "0.0.0.0", 9303);
    Bytes shortOne = specBytes(serverSpec(0x5E000005, kServerAddress, 9304));
    shortOne.resize(127);
    FakeBeaconServer& server =
        addServer({specBytes(one), specBytes(serial), specBytes(noAddress), shortOne, specBytes(two)});

    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    long long elapsed = 0;
    std::string before;
    std::string after;
    onHost([&] {
        ASSERT_EQ(zBeaconInterface_setAndLock("192.0.2.44"), 1);
        zBeaconInterface_unlock();
        before = takeText(zBeaconInterface_get());
        auto start = Clock::now();
        count = found.run(linkTypeAEther, ipv4(kHostAddress));
        elapsed = msSince(start);
        after = takeText(zBeaconInterface_get());
    });
    EXPECT_GE(server.tagsHeard(), 1) << "the search published the discovery tag";
    EXPECT_EQ(count, 2);
    ASSERT_EQ(found.specs.size(), 2u) << "each heard about twenty times, reported once";
    auto taken = bySerial(found.specs);
    ASSERT_EQ(taken.count(one.serialNumber), 1u);
    EXPECT_EQ(std::memcmp(&taken[one.serialNumber], &one, sizeof(one)), 0);
    EXPECT_EQ(taken.count(two.serialNumber), 1u);
    EXPECT_LT(elapsed, 3500);
    EXPECT_EQ(after, before) << "the interface setting is restored";
}

TEST_F(ServersByBeacon, ASilentNetworkTakesAboutTwoSecondsAndFindsNothing)
{
    morvtest::DiscoveryCollector found;
    long long elapsed = 0;
    std::uint8_t count = 0;
    onHost([&] {
        auto start = Clock::now();
        count = found.run(linkTypeAEther, ipv4(kHostAddress));
        elapsed = msSince(start);
    });
    EXPECT_EQ(count, 0);
    EXPECT_GE(elapsed, 1800);
    EXPECT_LT(elapsed, 4000);
}

TEST_F(ServersByBeacon, TheCallbackCanStopAndFindModuleCopiesTheSpec)
{
    linkSpec one = serverSpec(0x6E000001, kServerAddress, 9400);
    linkSpec two = serverSpec(0x6E000002, kServerAddress, 9401);
    addServer({specBytes(one), specBytes(two)});
    morvtest::DiscoveryCollector found;
    found.stopAfter = 1;
    std::uint8_t count = 0;
    onHost([&] { count = found.run(linkTypeAEther, ipv4(kHostAddress)); });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(found.specs.size(), 1u);

    linkSpec* spec = nullptr;
    onHost([&] { spec = aDiscovery_FindModule(linkTypeAEther, two.serialNumber, ipv4(kHostAddress)); });
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(std::memcmp(spec, &two, sizeof(two)), 0);
    aLinkSpec_Destroy(&spec);

    // 127.0.0.1 means this host: the loopback exchange, where no server is.
    onHost([&] { spec = aDiscovery_FindModule(linkTypeAEther, two.serialNumber, kLoopback); });
    EXPECT_EQ(spec, nullptr);
}

TEST_F(ServersByBeacon, AnInterfaceAddressTheHostHasNotFindsNothing)
{
    addServer({specBytes(serverSpec(0x7E000001, kServerAddress, 9500))});
    morvtest::DiscoveryCollector found;
    std::uint8_t count = 1;
    long long elapsed = 0;
    std::string before;
    std::string after;
    onHost([&] {
        before = takeText(zBeaconInterface_get());
        auto start = Clock::now();
        count = found.run(linkTypeAEther, ipv4("10.99.0.1"));
        elapsed = msSince(start);
        after = takeText(zBeaconInterface_get());
    });
    EXPECT_EQ(count, 0);
    EXPECT_LT(elapsed, 4000);
    EXPECT_EQ(after, before);
}

}  // namespace
