// Link's default configuration over the emulated USB bus (real libusb) to the module
// simulator: a USB connection served through a local network server, other
// Links and another process reaching the module as network clients of it,
// and the direct connection with serving off.
#include "LinkTestSupport.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cstdlib>
#include <string>

#include "../common/UmockUsbFixture.h"
#include "ChildProcess.h"
#include "PrivateNetns.h"
#include "SimSystemEntity.h"
#include "aLinkRegistry.h"

#if defined(__SANITIZE_THREAD__)
// libzmq and CZMQ are not instrumented: frames their lock-free pipes hand
// from thread to thread look like unsynchronised memory.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libzmq.so\nrace:libczmq.so\n";
}
#endif

using namespace linktest;
using namespace Zorventa::Morvasset;

namespace {

// The test runner handles signals, not CZMQ.
const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

constexpr std::uint8_t kModel = 19;
// Set in the environment of the child process: the port it reaches the server on.
constexpr const char* kChildPortVariable = "MORV_SERVING_CHILD_PORT";

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

linkSpec clientSpec(std::uint16_t port)
{
    linkSpec s;
    std::memset(&s, 0, sizeof s);
    s.type = linkTypeAEther;
    s.ipAddress = kLoopback;
    s.port = port;
    return s;
}

// The serial number option of the system entity, through the link.
std::uint32_t askSerial(Link& l)
{
    if (l.sendUEI(request(0x49, 0x20)) != aErrNone)
        return 0;
    uei reply = expected(9, 0);
    if (l.receiveUEI(kModule, 3, 9, 0, &reply) != aErrNone || reply.type != ueiTypeInt)
        return 0;
    return reply.v.intVal;
}

class LinkServing : public UmockUsbTest {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        // The server's discovery responders join a multicast group.
        std::string why = morvtest::whyNotPrivateNetns();
        if (!why.empty())
            GTEST_SKIP() << why;
        UmockUsbTest::SetUp();
        device_ = bed().plug(umockusb::moduleSpec(kSerial, kModel, 64));
        sim_.attachFd(bed().takePeerFd(device_));
        sim_.withModule(kModule, [](SimModule& m) { morvsim::installSystemEntity(m); });
    }

    void TearDown() override
    {
        if (device_ == 0)
            return;
        link_.disconnect();
        sim_.stop();
        UmockUsbTest::TearDown();
    }

    void expectNothingLeft()
    {
        EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr) << "no USB link is left";
        EXPECT_EQ(sLookupEntryByIdentifier(kLoopback), nullptr) << "no client link is left";
        EXPECT_EQ(bed().openHandles(device_), 0);
    }

    ModuleSimulator sim_{SimModule(kModule, kSerial, kModel)};
    int device_ = 0;
    Link link_{usbSpec(kSerial), "Link"};
};

TEST_F(LinkServing, ServingOnConnectsThroughALocalServer)
{
    ASSERT_EQ(link_.connect(), aErrNone);
    EXPECT_TRUE(link_.isConnected());
    aEtherConfig config;
    ASSERT_EQ(link_.getConfig(&config), aErrNone);
    EXPECT_NE(config.port, 0) << "the server reports its port";
    EXPECT_EQ(config.networkInterface, kLoopback);
    aLinkEntry* usb = sLookupEntryByIdentifier(kSerial);
    ASSERT_NE(usb, nullptr);
    EXPECT_NE(usb->server, nullptr) << "the USB link is served";
    EXPECT_EQ(askSerial(link_), kSerial);
    std::uint8_t address = 0;
    EXPECT_EQ(link_.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);

    // The module is reached through its server, not over USB directly.
    Link direct(usbSpec(kSerial), "Link");
    ASSERT_EQ(direct.setConfig(directConfig()), aErrNone);
    EXPECT_EQ(direct.connect(), aErrConnection);

    EXPECT_EQ(link_.disconnect(), aErrNone);
    expectNothingLeft();
}

TEST_F(LinkServing, ServingOffConnectsDirectly)
{
    ASSERT_EQ(link_.setConfig(directConfig()), aErrNone);
    ASSERT_EQ(link_.connect(), aErrNone);
    aLinkEntry* usb = sLookupEntryByIdentifier(kSerial);
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->server, nullptr);
    aEtherConfig config;
    ASSERT_EQ(link_.getConfig(&config), aErrNone);
    EXPECT_EQ(config.port, 0);
    EXPECT_EQ(askSerial(link_), kSerial);

    // A USB link held directly is not served to a second Link.
    Link served(usbSpec(kSerial), "Link");
    EXPECT_EQ(served.connect(), aErrConnection);
    EXPECT_FALSE(served.isConnected());
    EXPECT_EQ(askSerial(link_), kSerial) << "its user keeps it as it was";
    EXPECT_EQ(link_.disconnect(), aErrNone);
    expectNothingLeft();
}

TEST_F(LinkServing, ASecondLinkReachesTheModuleThroughTheServer)
{
    ASSERT_EQ(link_.connect(), aErrNone);
    aEtherConfig config;
    ASSERT_EQ(link_.getConfig(&config), aErrNone);

    Link client(clientSpec(config.port), "Link");
    ASSERT_EQ(client.connect(), aErrNone);
    EXPECT_EQ(askSerial(client), kSerial);
    EXPECT_EQ(askSerial(link_), kSerial);

    // A third shares the client's link; releasing one leaves the other.
    Link sharing(clientSpec(config.port), "Link");
    ASSERT_EQ(sharing.connectThroughLinkModule(client), aErrNone);
    EXPECT_EQ(client.disconnect(), aErrNone);
    EXPECT_EQ(askSerial(sharing), kSerial);
    EXPECT_EQ(sharing.disconnect(), aErrNone);

    // Releasing the serving Link takes the server and the USB link with it.
    EXPECT_EQ(link_.disconnect(), aErrNone);
    expectNothingLeft();
}

// Run by the test below in a process of its own: a network client of the
// server whose port the environment names.
TEST(LinkServingChild, ReachesTheModuleThroughTheServer)
{
    const char* port = std::getenv(kChildPortVariable);
    if (port == nullptr)
        GTEST_SKIP() << "runs only as the child of ASecondProcessReachesTheModule";
    Link client(clientSpec(static_cast<std::uint16_t>(std::atoi(port))), "Link");
    ASSERT_EQ(client.connect(), aErrNone);
    EXPECT_EQ(askSerial(client), kSerial);
    std::uint8_t address = 0;
    EXPECT_EQ(client.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
    EXPECT_EQ(client.disconnect(), aErrNone);
}

TEST_F(LinkServing, ASecondProcessReachesTheModule)
{
    ASSERT_EQ(link_.connect(), aErrNone);
    aEtherConfig config;
    ASSERT_EQ(link_.getConfig(&config), aErrNone);

    morvtest::ChildOptions options;
    options.environment[kChildPortVariable] = std::to_string(config.port);
    options.environment["ZSYS_SIGHANDLER"] = "false";
    options.timeout = std::chrono::milliseconds(20000);
    const morvtest::ChildResult child =
        morvtest::RunChild({"/proc/self/exe", "--gtest_filter=LinkServingChild.ReachesTheModuleThroughTheServer"},
                           options);
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    EXPECT_EQ(child.out.find("SKIPPED"), std::string::npos) << child.out;

    EXPECT_EQ(askSerial(link_), kSerial) << "the serving process still reaches it too";
    EXPECT_EQ(link_.disconnect(), aErrNone);
    expectNothingLeft();
}

}  // namespace
