// A whole USB link: aLink_CreateUSB over the real libusb on the emulated bus to the module
// simulator, with its sync handshake and force route.
#include "Eventually.h"
#include "ModuleSimulator.h"
#include "UmockTsanSuppressions.h"
#include "UmockUsbFixture.h"
#include "aLink.h"
#include "aLinkRegistry.h"

#include <thread>

namespace {

using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;

constexpr std::uint32_t kSerial = 0x5B000042;
constexpr std::uint8_t kModule = 4;

bool isSync(const SimPacket& p)
{
    return p.isSyncRequest();
}

using morvtest::eventually;

class UsbLinkTest : public UmockUsbTest {
protected:
    void SetUp() override
    {
        UmockUsbTest::SetUp();
        device_ = bed().plug(umockusb::moduleSpec(kSerial, 0x13, 64));
        sim_.attachFd(bed().takePeerFd(device_));
        sim_.setHandler(kModule, 23, [](SimModule& m, const SimPacket& p, SimReply& r) { r.packet(m.address, p.data); });
    }

    void TearDown() override
    {
        if (id_ != 0)
            aLink_Destroy(&id_);
        sim_.stop();
        UmockUsbTest::TearDown();
    }

    bool echoes(int id)
    {
        const std::uint8_t data[] = {23, 1, 2, 3};
        aPacket* packet = aPacket_CreateWithData(kModule, sizeof(data), data);
        if (packet == nullptr)
            return false;
        aErr err = aLink_PutPacket(id, packet);
        aPacket_Destroy(&packet);
        if (err != aErrNone)
            return false;
        aPacket* reply = aLink_AwaitPacket(id, 2000);
        bool ok = reply != nullptr && reply->address == kModule && reply->dataSize == sizeof(data) &&
                  std::equal(data, data + sizeof(data), reply->data);
        aPacket_Destroy(&reply);
        return ok;
    }

    ModuleSimulator sim_{kModule};
    int device_ = 0;
    int id_ = 0;
};

TEST_F(UsbLinkTest, CreateSyncsForcesRouteAndCarriesPackets)
{
    // The handshake queues six sync requests and drops what is left of them
    // once the answers complete it: a module answering after 150 ms sees all six,
    // even under a sanitizer on a loaded machine (and still answers well inside the
    // 250 ms after which the handshake starts again).
    morvsim::Faults slow;
    slow.replyTiming.delay = Millis(150);
    sim_.setFaults(slow);
    id_ = aLink_CreateUSB(kSerial);
    ASSERT_NE(id_, 0);
    EXPECT_EQ(aLink_GetStatus(id_), linkStatusRunning);
    EXPECT_TRUE(sim_.waitForPacketCount(isSync, aLINK_SYNC_REQUESTS, Millis(2000)));
    // Six per handshake attempt; a slow machine may see the handshake start again.
    std::uint64_t requests = sim_.module(kModule).syncRequests;
    EXPECT_EQ(requests % aLINK_SYNC_REQUESTS, 0u) << requests << " sync requests";
    EXPECT_TRUE(sim_.waitUntil([&] { return sim_.module(kModule).forceRoute == 1; }, Millis(2000)));
    EXPECT_TRUE(echoes(id_));
    EXPECT_EQ(bed().stats(device_).claims, 1);

    ASSERT_EQ(aLink_Destroy(&id_), aErrNone);
    EXPECT_TRUE(sim_.waitUntil([&] { return sim_.module(kModule).forceRoute == 0; }, Millis(2000)))
        << "the link says goodbye before it closes";
    EXPECT_EQ(bed().openHandles(device_), 0);
    EXPECT_EQ(bed().stats(device_).releases, 1);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
}

TEST_F(UsbLinkTest, ModuleThatCannotBeOpenedGivesNoLink)
{
    bed().setClaimError(device_, EBUSY);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0);
    EXPECT_EQ(aLink_CreateUSB(kSerial + 1), 0);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
    EXPECT_EQ(bed().openHandles(), 0);
}

TEST_F(UsbLinkTest, ModuleThatNeverSyncsGivesNoLink)
{
    morvsim::Faults faults;
    faults.ignoreSync = true;
    sim_.setFaults(faults);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0);
    EXPECT_EQ(sLookupEntryByIdentifier(kSerial), nullptr);
    EXPECT_EQ(bed().openHandles(device_), 0);
}

TEST_F(UsbLinkTest, ResetOpensTheModuleAgain)
{
    id_ = aLink_CreateUSB(kSerial);
    ASSERT_NE(id_, 0);
    ASSERT_EQ(aLink_Reset(id_), aErrNone);
    EXPECT_EQ(bed().stats(device_).opens, 2);
    EXPECT_EQ(bed().openHandles(device_), 1);
    EXPECT_TRUE(echoes(id_));
}

TEST_F(UsbLinkTest, UnpluggedModuleEndsInAReadError)
{
    id_ = aLink_CreateUSB(kSerial);
    ASSERT_NE(id_, 0);
    bed().unplug(device_);
    bool failed = eventually([&] { return aLink_GetStatus(id_) == linkStatusIOError; }, Millis(3000));
    EXPECT_TRUE(failed) << "status " << aLink_GetStatus(id_);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aLink_Destroy(&id_), aErrNone);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(bed().openHandles(device_), 0);
}

}  // namespace
