// TCP/IP module discovery against fake modules behind a veth pair, each end
// in a fresh network namespace of its own.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <map>
#include <thread>
#include <cstdlib>
#include <memory>

#include "DiscoveryCollector.h"
#include "FakeDiscoveryPeers.h"
#include "Elapsed.h"
#include "PrivateNetns.h"
#include "aDiscovery.h"

namespace {

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

using Clock = std::chrono::steady_clock;
using morvtest::msSince;
using morvsim::Bytes;
using morvsim::FakeTcpipModule;
using morvsim::tcpipReply;

const char* const kHostAddress = "10.213.0.1";
const char* const kModuleAddress = "10.213.0.2";

std::uint32_t ipv4(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

Bytes truncated(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

class TcpipDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ASSERT_EQ(morvtest::startVethPair(host_, kHostAddress, net_, kModuleAddress), "");
    }
    void TearDown() override
    {
        if (net_)
            net_->run([this] { modules_.clear(); });
    }

    FakeTcpipModule& addModule(Bytes reply, int repeat = 1, int intervalMs = 0)
    {
        net_->run([&] {
            modules_.push_back(
                std::make_unique<FakeTcpipModule>(kModuleAddress, reply, repeat, intervalMs));
        });
        return *modules_.back();
    }
    void onHost(const std::function<void()>& body) { host_->run(body); }

    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::vector<std::unique_ptr<FakeTcpipModule>> modules_;
};

TEST_F(TcpipDiscovery, ReplyBecomesATypeTwoSpec)
{
    FakeTcpipModule& module = addModule(tcpipReply(0x06, 0x1F90, 0x0012ABCD, 0x13));
    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    long long elapsed = 0;
    onHost([&] {
        auto start = Clock::now();
        count = found.run(linkTypeTCPIP, 0);
        elapsed = msSince(start);
    });
    ASSERT_EQ(count, 1);
    ASSERT_EQ(found.specs.size(), 1u);
    const linkSpec& spec = found.specs[0];
    EXPECT_EQ(spec.type, linkTypeTCPIP);
    EXPECT_EQ(spec.serialNumber, 0x0012ABCDu);
    EXPECT_EQ(spec.module, 6);
    EXPECT_EQ(spec.router, 6);
    EXPECT_EQ(spec.routerSerial, 0x0012ABCDu);
    EXPECT_EQ(spec.model, 0x13);
    EXPECT_EQ(spec.ipAddress, ipv4(kModuleAddress)) << "the sender's address";
    EXPECT_EQ(spec.port, 0x1F90u);
    const auto* raw = reinterpret_cast<const unsigned char*>(&spec);
    for (size_t i = 32; i < sizeof(spec); ++i)
        ASSERT_EQ(raw[i], 0) << "byte " << i;

    Bytes request = module.lastRequest();
    ASSERT_EQ(request.size(), 16u);
    EXPECT_EQ(request[0], 1);
    for (size_t i = 1; i < 16; ++i)
        EXPECT_EQ(request[i], 0) << "request byte " << i;
    // Ends two seconds after the last reply.
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 3500);
}

TEST_F(TcpipDiscovery, ShortRepliesAreReadOrIgnoredByWhatTheyHold)
{
    // Twelve bytes hold port and serial number but no model; seven do not
    // even hold the whole serial number.
    addModule(truncated(tcpipReply(2, 4000, 0x11111111, 0x21), 12));
    addModule(truncated(tcpipReply(2, 4001, 0x22222222, 0x22), 7));
    addModule(truncated(tcpipReply(2, 4002, 0x33333333, 0x23), 1));
    addModule(tcpipReply(4, 4003, 0x44444444, 0x24));
    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    onHost([&] { count = found.run(linkTypeTCPIP, 0); });
    ASSERT_EQ(count, 2);
    ASSERT_EQ(found.specs.size(), 2u);
    std::map<std::uint32_t, linkSpec> bySerial;
    for (const linkSpec& s : found.specs)
        bySerial[s.serialNumber] = s;
    ASSERT_EQ(bySerial.count(0x11111111u), 1u);
    ASSERT_EQ(bySerial.count(0x44444444u), 1u);
    EXPECT_EQ(bySerial[0x11111111u].model, 0xFF);
    EXPECT_EQ(bySerial[0x11111111u].port, 4000u);
    EXPECT_EQ(bySerial[0x44444444u].model, 0x24);
}

TEST_F(TcpipDiscovery, FindModuleTakesTheFirstReplyOfItsSerialAndStops)
{
    addModule(tcpipReply(2, 5000, 0x0A0A0A0A, 0x11));
    // This one answers twice, as a module on two interfaces would.
    addModule(tcpipReply(8, 5001, 0x0B0B0B0B, 0x12), 2, 50);
    linkSpec* spec = nullptr;
    long long elapsed = 0;
    onHost([&] {
        auto start = Clock::now();
        spec = aDiscovery_FindModule(linkTypeTCPIP, 0x0B0B0B0B, 0);
        elapsed = msSince(start);
    });
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0B0B0B0Bu);
    EXPECT_EQ(spec->module, 8);
    EXPECT_EQ(spec->port, 5001u);
    EXPECT_LT(elapsed, 1500) << "the search stops at the match";
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);

    linkSpec* none = nullptr;
    onHost([&] { none = aDiscovery_FindModule(linkTypeTCPIP, 0x0C0C0C0C, 0); });
    EXPECT_EQ(none, nullptr);
}

TEST_F(TcpipDiscovery, EveryReplyIsReportedAndTheCallbackCanStop)
{
    // No comparison between replies: a repeated one is reported again.
    addModule(tcpipReply(2, 6000, 0x01020304, 0x11), 3, 20);
    morvtest::DiscoveryCollector all;
    std::uint8_t count = 0;
    onHost([&] { count = all.run(linkTypeTCPIP, 0); });
    EXPECT_EQ(count, 3);

    morvtest::DiscoveryCollector first;
    first.stopAfter = 1;
    long long elapsed = 0;
    onHost([&] {
        auto start = Clock::now();
        count = first.run(linkTypeTCPIP, 0);
        elapsed = msSince(start);
    });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(first.specs.size(), 1u);
    EXPECT_LT(elapsed, 1000);
    // Let the replies the stopped search left unread die away.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    morvtest::DiscoveryCollector declining;
    declining.accept = false;
    onHost([&] { count = declining.run(linkTypeTCPIP, 0); });
    EXPECT_EQ(count, 0) << "only accepted specs count";
    EXPECT_EQ(declining.specs.size(), 3u);
}

TEST_F(TcpipDiscovery, AChattyModuleCannotKeepTheSearchGoing)
{
    // A reply every 300 ms would keep a quiet-time search alive for a minute.
    addModule(tcpipReply(2, 7000, 0x0D0D0D0D, 0x11), 200, 300);
    morvtest::DiscoveryCollector found;
    long long elapsed = 0;
    onHost([&] {
        auto start = Clock::now();
        found.run(linkTypeTCPIP, 0);
        elapsed = msSince(start);
    });
    EXPECT_LT(elapsed, 6500);
    EXPECT_GE(found.specs.size(), 10u);
    EXPECT_LE(found.specs.size(), 20u);
}

TEST_F(TcpipDiscovery, TheCountStopsAt255)
{
    addModule(tcpipReply(2, 7100, 0x0E0E0E0E, 0x11), 300, 1);
    morvtest::DiscoveryCollector found;
    std::uint8_t count = 0;
    onHost([&] { count = found.run(linkTypeTCPIP, 0); });
    ASSERT_GT(found.specs.size(), 255u) << "the module's replies were lost";
    EXPECT_EQ(count, 255);
}

TEST(TcpipDiscoveryLoopbackOnly, SendsNothingAndReturnsAtOnce)
{
    (void)kNoCzmqSignalHandler;
    MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
    morvtest::NetnsThread host;
    ASSERT_EQ(host.error(), "");
    host.run([] {
        morvtest::DiscoveryCollector found;
        auto start = Clock::now();
        EXPECT_EQ(found.run(linkTypeTCPIP, 0), 0);
        EXPECT_LT(msSince(start), 500);
        EXPECT_TRUE(found.specs.empty());
    });
}

}  // namespace
