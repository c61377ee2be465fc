// aLink_CreateServer over the real libusb on the emulated bus, to the module simulator: the USB
// link served to the network with the caller's own client link through the
// server, the module's address and model told to the server, and failures
// that leave no link behind.
#include "ServerTestRig.h"

#include "SimEntities.h"
#include "SimHandlers.h"
#include "SimSystemEntity.h"
#include "UmockUsbFixture.h"
#include "aLinkNetwork.h"
#include "aServerInternal.h"

using namespace servertest;

namespace {

constexpr std::uint32_t kSerial = 0x5B00B002;
constexpr std::uint8_t kModel = 0x13;

class UsbLinkNetworkTest : public UmockUsbTest {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        UmockUsbTest::SetUp();
        device_ = bed().plug(umockusb::moduleSpec(kSerial, kModel, 64));
        sim_.attachFd(bed().takePeerFd(device_));
        sim_.setHandler(kModule, kEcho, echoHandler);
        sim_.withModule(kModule, [](SimModule& m) { morvsim::installSystemEntity(m); });
    }
    void TearDown() override
    {
        for (int* id : {&other_, &id_})
            if (*id != 0)
                aLink_Destroy(id);
        sim_.stop();
        UmockUsbTest::TearDown();
    }

    // Sync requests after the first `answered` go unanswered, up to `until`.
    // Answers take 150 ms, so all six requests of the handshake reach the
    // module before the first answer completes it (the rest would be dropped),
    // even on a loaded machine.
    void silenceAddressQueries(unsigned answered, unsigned until = ~0u)
    {
        morvsim::Faults slow;
        slow.replyTiming.delay = Millis(150);
        sim_.setFaults(slow);
        auto seen = std::make_shared<unsigned>(0);
        sim_.setLinkHandler(morvsim::kSyncByte, [=](SimModule& m, const SimPacket& p, SimReply& r) {
            ++*seen;
            if (*seen <= answered || *seen > until)
                morvsim::handleSyncRequest(m, p, r);
        });
    }

    static bool echoes(int id, std::uint8_t value)
    {
        const std::uint8_t data[] = {kEcho, value};
        aPacket* packet = aPacket_CreateWithData(kModule, sizeof(data), data);
        aErr err = aLink_PutPacket(id, packet);
        aPacket_Destroy(&packet);
        PacketPtr reply(err == aErrNone ? aLink_AwaitPacket(id, 2000) : nullptr);
        return reply && reply.data() == Bytes(data, data + sizeof(data));
    }

    void expectNothingLeft()
    {
        EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
        EXPECT_EQ(sLookupEntryByIdentifier(kLoopback), nullptr) << "no client link is left";
        EXPECT_EQ(bed().openHandles(device_), 0);
    }

    ModuleSimulator sim_{SimModule(kModule, kSerial, kModel)};
    int device_ = 0;
    int id_ = 0;
    int other_ = 0;
};

TEST_F(UsbLinkNetworkTest, ServesTheModuleAndTalksToItThroughTheServer)
{
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = 0;
    id_ = aLink_CreateServer(kSerial, &port, &interfaceAddress, 0);
    ASSERT_NE(id_, 0);
    EXPECT_NE(port, 0);
    EXPECT_EQ(interfaceAddress, kLoopback);
    aLinkEntry* usb = sLookupEntryByIdentifier(kSerial);
    ASSERT_NE(usb, nullptr);
    ASSERT_NE(usb->server, nullptr);
    EXPECT_EQ(__atomic_load_n(&usb->server->moduleAddress, __ATOMIC_SEQ_CST), kModule);
    EXPECT_EQ(__atomic_load_n(&usb->server->model, __ATOMIC_SEQ_CST), kModel);
    EXPECT_EQ(sLookupEntryByID(id_)->parentId, usb->id);
    EXPECT_TRUE(echoes(id_, 1));

    EXPECT_EQ(aLink_CreateUSB(kSerial), 0) << "a served module is reached through its server";
    std::uint16_t again = 0;
    std::uint32_t againInterface = 0;
    EXPECT_EQ(aLink_CreateServer(kSerial, &again, &againInterface, 0), 0);

    // Other clients, new ones and shared ones.
    other_ = aLink_CreateClient(interfaceAddress, port, 0);
    ASSERT_NE(other_, 0);
    EXPECT_NE(other_, id_);
    EXPECT_EQ(aLink_CreateClient(interfaceAddress, port, other_), other_);
    EXPECT_EQ(aLink_CreateClient(interfaceAddress, port, 99999), 0);
    EXPECT_TRUE(echoes(other_, 2));
    int shared = other_;
    ASSERT_EQ(aLink_Destroy(&shared), aErrNone);
    EXPECT_TRUE(echoes(other_, 3)) << "still held once";

    // The caller's own client link holds the USB link and with it the server.
    ASSERT_EQ(aLink_Destroy(&id_), aErrNone);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
    EXPECT_EQ(bed().openHandles(device_), 0);
    EXPECT_FALSE(echoes(other_, 4));
}

TEST_F(UsbLinkNetworkTest, AModuleHeldDirectlyIsNotServed)
{
    other_ = aLink_CreateUSB(kSerial);
    ASSERT_NE(other_, 0);
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = 0;
    EXPECT_EQ(aLink_CreateServer(kSerial, &port, &interfaceAddress, 0), 0);
    aLinkEntry* usb = sLookupEntryByID(other_);
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->server, nullptr);
    EXPECT_EQ(usb->useCount, 1);
    EXPECT_TRUE(echoes(other_, 5)) << "its user keeps it as it was";
}

TEST_F(UsbLinkNetworkTest, AnAddressQueryAnsweredOnlyLaterSucceedsOnALaterAttempt)
{
    // The handshake's six requests are answered, the first question is not.
    silenceAddressQueries(6, 7);
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = 0;
    id_ = aLink_CreateServer(kSerial, &port, &interfaceAddress, 0);
    ASSERT_NE(id_, 0);
    aLinkEntry* usb = sLookupEntryByIdentifier(kSerial);
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(__atomic_load_n(&usb->server->model, __ATOMIC_SEQ_CST), kModel);
    EXPECT_TRUE(echoes(id_, 6));
}

TEST_F(UsbLinkNetworkTest, AnErrorReplyIsNoModelAndLeavesNoLink)
{
    sim_.withModule(kModule, [](SimModule& m) { m.entities[morvsim::errorKey(3, 8, 0)] = {29}; });
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = 0;
    EXPECT_EQ(aLink_CreateServer(kSerial, &port, &interfaceAddress, 0), 0);
    expectNothingLeft();
}

TEST_F(UsbLinkNetworkTest, AServerThatCannotStartLeavesNoLink)
{
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = ipv4("10.99.0.1");
    EXPECT_EQ(aLink_CreateServer(kSerial, &port, &interfaceAddress, 0), 0);
    EXPECT_EQ(interfaceAddress, ipv4("10.99.0.1"));
    expectNothingLeft();
    std::uint16_t* noPort = nullptr;
    EXPECT_EQ(aLink_CreateServer(kSerial, noPort, &interfaceAddress, 0), 0);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
}

TEST_F(UsbLinkNetworkTest, AModuleThatNeverAnswersTheAddressQueryLeavesNoLink)
{
    silenceAddressQueries(6);
    std::uint16_t port = 0;
    std::uint32_t interfaceAddress = 0;
    auto start = Clock::now();
    EXPECT_EQ(aLink_CreateServer(kSerial, &port, &interfaceAddress, 0), 0);
    // Five attempts, each giving the server time to finish the last one.
    EXPECT_GE(msSince(start), 5000);
    EXPECT_LT(msSince(start), 16000);
    expectNothingLeft();
}

}  // namespace
