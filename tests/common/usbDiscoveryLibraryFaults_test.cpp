// Discovery by USB enumeration where libusb's own calls fail: its start, a
// device descriptor read, a device open. The real libusb over the emulated
// kernel cannot be made to fail so (its start does not fail, its descriptors
// are cached from sysfs, and as root no node's mode refuses an open), so
// these run on the fake bus; the rest of discovery runs on the real libusb
// (umockUsbDiscovery_test).
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "DiscoveryCollector.h"
#include "FakeUsbBus.h"
#include "PrivateNetns.h"
#include "aDiscovery.h"
#include "aUSBDriver.h"

namespace {

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

class UsbDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        fakeusb::reset();
    }
    void TearDown() override
    {
        fakeusb::setInitError(0);
        fakeusb::reset();
    }

    // Every list freed and every handle closed again.
    static void expectNothingLeftOpen()
    {
        fakeusb::BusStats bus = fakeusb::busStats();
        EXPECT_EQ(bus.openHandles, 0);
        EXPECT_EQ(bus.deviceLists, bus.deviceListsFreed);
    }
};

TEST_F(UsbDiscovery, DevicesLibusbCannotReadAreSkippedAndClosed)
{
    fakeusb::DeviceSpec unreadable = fakeusb::moduleSpec(0x33333333);
    unreadable.descriptorError = LIBUSB_ERROR_IO;
    int noDescriptor = fakeusb::plug(unreadable);
    fakeusb::DeviceSpec cannotOpen = fakeusb::moduleSpec(0x77777777);
    cannotOpen.openError = LIBUSB_ERROR_ACCESS;
    int closed = fakeusb::plug(cannotOpen);
    int module = fakeusb::plug(fakeusb::moduleSpec(0x44444444));

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
    ASSERT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(found.specs[0].serialNumber, 0x44444444u);
    EXPECT_EQ(fakeusb::stats(noDescriptor).openAttempts, 0);
    EXPECT_EQ(fakeusb::stats(closed).openAttempts, 1);
    EXPECT_EQ(fakeusb::stats(closed).opens, 0);
    EXPECT_EQ(fakeusb::stats(module).closes, 1);
    expectNothingLeftOpen();
}

TEST_F(UsbDiscovery, WithoutUsbEverySearchFindsNothing)
{
    fakeusb::plug(fakeusb::moduleSpec(0x0012ABCD));
    Morvasset_libusb_exit();
    fakeusb::setInitError(LIBUSB_ERROR_OTHER);

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 0);
    EXPECT_TRUE(found.specs.empty());
    EXPECT_EQ(aDiscovery_FindModule(linkTypeUSB, 0x0012ABCD, 0), nullptr);
    EXPECT_EQ(aDiscovery_FindFirstModule(linkTypeUSB, 0), nullptr);
    EXPECT_EQ(fakeusb::busStats().deviceLists, 0);

    // The network searches do not depend on USB; they run in a namespace
    // of their own, where nobody answers.
    if (morvtest::whyNotPrivateNetns().empty()) {
        morvtest::NetnsThread ns(true);
        ASSERT_EQ(ns.error(), "");
        ns.run([] {
            morvtest::DiscoveryCollector net;
            EXPECT_EQ(net.run(linkTypeTCPIP, 0), 0);
            EXPECT_EQ(net.run(linkTypeAEther, htonl(INADDR_LOOPBACK)), 0);
            EXPECT_TRUE(net.specs.empty());
        });
    }

    // A later search starts libusb again once it can.
    fakeusb::setInitError(0);
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
}

}  // namespace
