// Opening and closing devices through the C calls, seen from the registry:
// a failed connection leaves it as it was and gives the code the header
// names for its cause, and morv_connect finds a module
// by TCP/IP discovery (behind a veth pair, each end in a private namespace).
#include "WrapperRig.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "FakeDiscoveryPeers.h"
#include "LoopbackListener.h"
#include "PrivateNetns.h"
#include "TcpipModuleRig.h"

namespace {

using namespace wraptest;

struct Refusal {
    const char* name;
    std::function<std::int32_t(std::uint32_t* id)> connect;
    std::int32_t error;
    long minimumMs = 0;  // the connect takes at least this long
};

std::ostream& operator<<(std::ostream& os, const Refusal& r)
{
    return os << r.name;
}

std::uint16_t closedPort()
{
    ModuleSimulator gone(4);
    return gone.listenTcp("127.0.0.3");
}

// morv_connectAddress to a peer on 127.0.0.1 that, once it has taken the
// connection, does what act says and then reads until the library closes.
std::int32_t connectToPeer(std::uint32_t* id, const std::function<void(morvtest::LoopbackPeer&)>& act)
{
    morvtest::LoopbackListener listener;
    std::thread peer([&] {
        std::unique_ptr<morvtest::LoopbackPeer> accepted = listener.accept(10000);
        if (!accepted)
            return;
        act(*accepted);
        if (accepted->isOpen())
            accepted->read(1 << 20, 10000);
    });
    const std::int32_t result = morv_connectAddress(0x7F000001, listener.port(), id);
    peer.join();
    return result;
}

class RefusedConnections : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedConnections, RegisterNothingAndLeaveIdZero)
{
    const std::size_t before = CCAMap.size();
    std::uint32_t id = 77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetParam().connect(&id), GetParam().error);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), GetParam().minimumMs);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(CCAMap.size(), before);
}

INSTANTIATE_TEST_SUITE_P(
    MorvConnect, RefusedConnections,
    ::testing::Values(
        Refusal{"closed_port", [](std::uint32_t* id) { return morv_connectAddress(0x7F000003, closedPort(), id); },
                aErrConnection},
        // Four address requests of 1 s each go unanswered.
        Refusal{"peer_never_answers",
                [](std::uint32_t* id) { return connectToPeer(id, [](morvtest::LoopbackPeer&) {}); }, aErrNotReady,
                3500},
        Refusal{"peer_closes_at_once",
                [](std::uint32_t* id) { return connectToPeer(id, [](morvtest::LoopbackPeer& p) { p.close(); }); },
                aErrNotReady},
        // The link does not come up within its 2 s.
        Refusal{"peer_sends_no_packets",
                [](std::uint32_t* id) {
                    return connectToPeer(id, [](morvtest::LoopbackPeer& p) { p.write(std::string(1000, '\xFF')); });
                },
                aErrConnection, 1500},
        Refusal{"port_zero", [](std::uint32_t* id) { return morv_connectAddress(0x7F000001, 0, id); }, aErrParam},
        Refusal{"serial_line_type", [](std::uint32_t* id) { return morv_connect(linkTypeSerial, 5, id); },
                aErrParam},
        Refusal{"network_client_type", [](std::uint32_t* id) { return morv_connect(linkTypeAEther, 5, id); },
                aErrParam},
        Refusal{"serial_zero", [](std::uint32_t* id) { return morv_connect(linkTypeTCPIP, 0, id); }, aErrParam}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(MorvConnect, NullIdPointersAreRefused)
{
    const std::size_t before = CCAMap.size();
    EXPECT_EQ(morv_connect(linkTypeTCPIP, 5, nullptr), aErrParam);
    EXPECT_EQ(morv_connectAddress(0x7F000001, 9, nullptr), aErrParam);
    EXPECT_EQ(CCAMap.size(), before);
}

// The registry holds exactly what morv_connectAddress added until
// morv_disconnect takes it out again.
TEST(MorvConnect, ConnectAddressRegistersAndDisconnectRemoves)
{
    HubRig rig;
    const std::size_t before = CCAMap.size();
    std::uint32_t id = 0;
    ASSERT_EQ(morv_connectAddress(0x7F000002, rig.sim.listenPort(), &id), aErrNone);
    EXPECT_EQ(CCAMap.size(), before + 1);
    std::shared_ptr<deviceInfo> record = CCAMap.findDevice(id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->module->getModuleAddress(), kHubAddress) << "the module's own address was adopted";

    EXPECT_EQ(morv_disconnect(id), aErrNone);
    EXPECT_EQ(CCAMap.size(), before);
    EXPECT_FALSE(CCAMap.findDevice(id));
    // Our reference keeps the record and its module alive and connected.
    EXPECT_TRUE(record->module->isConnected());
    EXPECT_EQ(morv_disconnect(id), aErrNotFound);
    record.reset();
    EXPECT_TRUE(rig.sim.waitUntil([&] { return !rig.sim.connected(); }, Millis(5000)))
        << "the link goes with the last reference";
}

class ConnectBySerial : public ::testing::Test {
protected:
    static constexpr const char* kHost = "10.213.9.1";
    static constexpr const char* kModule = "10.213.9.2";
    static constexpr std::uint32_t kSerial = 0x0BADF17E;

    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        rig_.start(kHost, kModule, kHubAddress, kSerial, kHubModel);
    }

    morvtest::NetnsThread& host() { return rig_.host(); }

    morvsim::TcpipModuleRig rig_;
};

TEST_F(ConnectBySerial, FindsTheModuleOverTcpipAndRegistersIt)
{
    const std::size_t before = CCAMap.size();
    std::uint32_t id = 77;
    std::int32_t err = -1;
    host().run([&] { err = morv_connect(linkTypeTCPIP, kSerial + 1, &id); });
    EXPECT_EQ(err, aErrNotFound) << "no module has that serial number";
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(CCAMap.size(), before);

    host().run([&] { err = morv_connect(linkTypeTCPIP, kSerial, &id); });
    ASSERT_EQ(err, aErrNone);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(CCAMap.size(), before + 1);
    Result r{-1, -1};
    system_getSerialNumber(&id, &r, 0);
    EXPECT_EQ(result_getError(&r), aErrNone);
    EXPECT_EQ(static_cast<std::uint32_t>(result_getValue(&r)), kSerial);

    EXPECT_EQ(morv_disconnect(id), aErrNone);
    EXPECT_EQ(CCAMap.size(), before);
    system_getSerialNumber(&id, &r, 0);
    EXPECT_EQ(result_getError(&r), aErrNotFound);
}

}  // namespace
