// The network server on a USB link over the real libusb on the emulated bus, to the module
// simulator: clients reach the USB-attached module through it, and the USB
// link's teardown takes the server down and releases the device.
#include "ServerTestRig.h"

#include "SimStreams.h"
#include "UmockUsbFixture.h"

using namespace servertest;

namespace {

constexpr std::uint32_t kSerial = 0x5B00A001;

class UsbServerTest : public UmockUsbTest {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        std::string why = morvtest::whyNotPrivateNetns();
        if (!why.empty())
            GTEST_SKIP() << why;
        UmockUsbTest::SetUp();
        device_ = bed().plug(umockusb::moduleSpec(kSerial, 0x13, 64));
        sim_.attachFd(bed().takePeerFd(device_));
        sim_.setHandler(kModule, kEcho, echoHandler);
        id_ = aLink_CreateUSB(kSerial);
        ASSERT_NE(id_, 0);
    }
    void TearDown() override
    {
        if (id_ != 0)
            aLink_Destroy(&id_);
        sim_.stop();
        UmockUsbTest::TearDown();
    }

    aServer* serve(std::uint32_t interfaceAddress, aErr* result)
    {
        aServer* server = aServer_Create(id_, interfaceAddress, 0);
        if (server == nullptr)
            return nullptr;
        sLookupEntryByID(id_)->server = server;
        *result = aServer_Start(server);
        return server;
    }

    ModuleSimulator sim_{SimModule(kModule, kSerial, 0x13)};
    int device_ = 0;
    int id_ = 0;
};

TEST_F(UsbServerTest, ClientsReachTheModuleAndTheLinksTeardownEndsTheServer)
{
    aErr started = aErrUnknown;
    aServer* server = serve(0, &started);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(started, aErrNone);
    std::uint16_t port = 0;
    ASSERT_EQ(aServer_GetPort(server, &port), aErrNone);

    sim_.withModule(kModule, [](SimModule& m) { morvsim::installStreamControl(m); });
    ClientLink a(port);
    ClientLink b(port);
    ASSERT_TRUE(a.ok() && b.ok());
    PacketPtr echo = a.ask(kModule, {kEcho, 0xA});
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo.data(), (Bytes{kEcho, 0xA}));
    PacketPtr enabled = b.ask(kModule, {93, 0x81, 0x20, kModule, 10, 5, 0});
    ASSERT_TRUE(enabled);
    EXPECT_EQ(enabled.data(), (Bytes{93, 0xC1, 0}));
    const Bytes sample = morvsim::streamSample(2, 10, 5, 0, 0, 77, 0x1234);
    sim_.sendPacket(kModule, sample);
    sim_.sendHeartbeat(kModule, 1);
    auto streamed = b.drain(400);
    ASSERT_EQ(streamed.size(), 1u);
    EXPECT_EQ(streamed[0], sample);
    EXPECT_TRUE(a.drain(200).empty());

    const int id = id_;
    ASSERT_EQ(aLink_Destroy(&id_), aErrNone);
    EXPECT_EQ(sLookupEntryByID(id), nullptr);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
    EXPECT_EQ(bed().openHandles(device_), 0);
    EXPECT_FALSE(a.ask(kModule, {kEcho, 0xB}, 500)) << "nobody serves any more";
}

TEST_F(UsbServerTest, AFailedStartLeavesNothingOnceTheLinkIsGone)
{
    aErr started = aErrNone;
    aServer* server = serve(ipv4("10.99.0.1"), &started);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(started, aErrResource);
    // The link still carries packets: no filter of the server is left on it.
    const std::uint8_t data[] = {kEcho, 1};
    aPacket* packet = aPacket_CreateWithData(kModule, sizeof(data), data);
    ASSERT_EQ(aLink_PutPacket(id_, packet), aErrNone);
    aPacket_Destroy(&packet);
    PacketPtr reply(aLink_AwaitPacket(id_, 2000));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.data(), (Bytes{kEcho, 1}));

    ASSERT_EQ(aLink_Destroy(&id_), aErrNone);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
    EXPECT_EQ(bed().openHandles(device_), 0);
}

}  // namespace
