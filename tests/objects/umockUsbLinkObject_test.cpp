// Link over USB, the real libusb on the emulated bus, to the module
// simulator: connect by spec, discovery by serial number and by model,
// sharing, and the fallback to a network-client link.
#include "LinkTestSupport.h"

#include "../common/UmockUsbFixture.h"
#include "FdCapture.h"
#include "aDebug.h"

using namespace linktest;
using namespace Zorventa::Morvasset;
using morvsim::entityKey;

namespace {

constexpr std::uint32_t kOtherSerial = 0x0BADCAFE;

class LinkUsb : public UmockUsbTest {
protected:
    void SetUp() override
    {
        UmockUsbTest::SetUp();
        // Two modules: model 17 first in libusb's list, then ours, model 19
        // (libusb lists the device it enumerated last first).
        const int ours = bed().plug(umockusb::moduleSpec(kSerial, 19, 64));
        sim.attachFd(bed().takePeerFd(ours));
        const int other = bed().plug(umockusb::moduleSpec(kOtherSerial, 17, 64));
        otherSim.attachFd(bed().takePeerFd(other));
        for (ModuleSimulator* s : {&sim, &otherSim}) {
            s->withModule(kModule, [](SimModule& m) { morvsim::installEntityHandler(m, 3); });
        }
        sim.withModule(kModule, [](SimModule& m) { m.entities[entityKey(3, 4, 0)] = morvsim::u32(kSerial); });
        otherSim.withModule(kModule,
                            [](SimModule& m) { m.entities[entityKey(3, 4, 0)] = morvsim::u32(kOtherSerial); });
        ASSERT_EQ(link.setConfig(directConfig()), aErrNone);
    }

    void TearDown() override
    {
        link.disconnect();
        sim.stop();
        otherSim.stop();
        UmockUsbTest::TearDown();
    }

    // The serial number option of the system entity, through the link.
    std::uint32_t askSerial(Link& l)
    {
        if (l.sendUEI(request(0x44, 0x20)) != aErrNone)
            return 0;
        uei reply = expected(4, 0);
        if (l.receiveUEI(kModule, 3, 4, 0, &reply) != aErrNone || reply.type != ueiTypeInt)
            return 0;
        return reply.v.intVal;
    }

    ModuleSimulator sim{SimModule(kModule, kSerial, 19)};
    ModuleSimulator otherSim{SimModule(kModule, kOtherSerial, 17)};
    Link link{"Link"};
};

TEST_F(LinkUsb, ConnectBySpecSyncsAndCarriesRequests)
{
    // The handshake queues six sync requests and drops what is left of them
    // once the answers complete it: a module answering after 50 ms sees all six.
    morvsim::Faults slow;
    slow.replyTiming.delay = morvsim::Millis(50);
    sim.setFaults(slow);
    ASSERT_EQ(link.setLinkSpecifier(usbSpec(kSerial)), aErrNone);
    ASSERT_EQ(link.connect(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    EXPECT_GE(sim.module(kModule).syncRequests, 6u);
    EXPECT_EQ(askSerial(link), kSerial);
    std::uint8_t address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, kModule);
}

TEST_F(LinkUsb, DiscoverBySerialNumberOrByModel)
{
    struct Case {
        const char* what;
        std::uint32_t serial;
        std::uint8_t model;
        std::uint32_t reached;
    } cases[] = {
        {"serial number", kSerial, 0, kSerial},
        {"model 19", 0, 19, kSerial},
        {"any model: the first on the bus", 0, 0, kOtherSerial},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(link.discoverAndConnect(linkTypeUSB, c.serial, c.model), aErrNone) << c.what;
        linkSpec found;
        ASSERT_EQ(link.getLinkSpecifier(&found), aErrNone);
        EXPECT_EQ(found.type, linkTypeUSB) << c.what;
        EXPECT_EQ(found.serialNumber, c.reached) << c.what;
        EXPECT_EQ(askSerial(link), c.reached) << c.what;
        EXPECT_EQ(link.disconnect(), aErrNone);
    }
}

TEST_F(LinkUsb, TwoLinksOnOneSerialNumberShareOneLink)
{
    ASSERT_EQ(link.setLinkSpecifier(usbSpec(kSerial)), aErrNone);
    ASSERT_EQ(link.connect(), aErrNone);
    Link second(usbSpec(kSerial), "Link");
    ASSERT_EQ(second.setConfig(directConfig()), aErrNone);
    ASSERT_EQ(second.connectThroughLinkModule(link), aErrNone);
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_EQ(askSerial(second), kSerial);
}

TEST_F(LinkUsb, NotFoundFallsBackOnceWhenAllowed)
{
    EXPECT_EQ(link.discoverAndConnect(linkTypeUSB, 0x0000DEAD, 0), aErrNotFound);
    EXPECT_EQ(link.discoverAndConnect(linkTypeUSB, 0, 42), aErrNotFound);
    EXPECT_FALSE(link.isConnected());

    aEtherConfig config = directConfig();
    config.fallback = true;
    ASSERT_EQ(link.setConfig(config), aErrNone);
    const std::uint8_t enable = aMorvassetDebuggingEnable;
    const std::uint32_t level = aMorvassetDebuggingLevel;
    aMorvassetDebuggingEnable = 1;
    aMorvassetDebuggingLevel = aDEBUG_LINK;
    morvtest::FdCapture out(1);
    const aErr result = link.discoverAndConnect(linkTypeUSB, 0x0000DEAD, 0);
    const std::string printed = out.finish();
    aMorvassetDebuggingEnable = enable;
    aMorvassetDebuggingLevel = level;
    EXPECT_EQ(result, aErrNotFound);  // no network server offers it either
    EXPECT_NE(printed.find("Executing Fallback: aEther\n"), std::string::npos) << printed;
}

}  // namespace
