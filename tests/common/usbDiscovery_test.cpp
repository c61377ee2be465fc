// Discovery by USB enumeration, on the fake bus in place of libusb.
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

    static int plugWithSerial(const std::string& serial)
    {
        fakeusb::DeviceSpec spec = fakeusb::moduleSpec(1, 0x11);
        spec.serial = serial;
        return fakeusb::plug(spec);
    }

    // Every list freed and every handle closed again.
    static void expectNothingLeftOpen()
    {
        fakeusb::BusStats bus = fakeusb::busStats();
        EXPECT_EQ(bus.openHandles, 0);
        EXPECT_EQ(bus.deviceLists, bus.deviceListsFreed);
    }
};

TEST_F(UsbDiscovery, ModulesBecomeTypeOneSpecsInBusOrder)
{
    fakeusb::plug(fakeusb::moduleSpec(0x0012ABCD, 0x11));
    fakeusb::DeviceSpec hub = fakeusb::moduleSpec(0xCAFE0013, 0x13);
    hub.product = 0x0213; // the model is the low byte
    fakeusb::plug(hub);
    fakeusb::plug(fakeusb::moduleSpec(0x00000004, 0x04));

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, htonl(INADDR_LOOPBACK)), 3);
    ASSERT_EQ(found.specs.size(), 3u);
    const std::uint32_t serials[] = {0x0012ABCD, 0xCAFE0013, 0x00000004};
    const std::int32_t models[] = {0x11, 0x13, 0x04};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const linkSpec& spec = found.specs[i];
        EXPECT_EQ(spec.type, linkTypeUSB);
        EXPECT_EQ(spec.serialNumber, serials[i]);
        EXPECT_EQ(spec.model, models[i]);
        EXPECT_EQ(spec.usbId, serials[i]);
        EXPECT_EQ(spec.module, 0);
        EXPECT_EQ(spec.router, 0);
        EXPECT_EQ(spec.routerSerial, 0u);
        const auto* raw = reinterpret_cast<const unsigned char*>(&spec);
        for (size_t b = 28; b < sizeof(spec); ++b)
            ASSERT_EQ(raw[b], 0) << "byte " << b;
    }
    expectNothingLeftOpen();
}

TEST_F(UsbDiscovery, OtherDevicesAreNeitherOpenedNorReported)
{
    fakeusb::DeviceSpec otherVendor = fakeusb::moduleSpec(0x11111111);
    otherVendor.vendor = 0x1234;
    fakeusb::DeviceSpec highProduct = fakeusb::moduleSpec(0x22222222);
    highProduct.product = 0x8011;
    fakeusb::DeviceSpec unreadable = fakeusb::moduleSpec(0x33333333);
    unreadable.descriptorError = LIBUSB_ERROR_IO;
    int a = fakeusb::plug(otherVendor);
    int b = fakeusb::plug(highProduct);
    int c = fakeusb::plug(unreadable);
    int module = fakeusb::plug(fakeusb::moduleSpec(0x44444444));

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
    ASSERT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(found.specs[0].serialNumber, 0x44444444u);
    for (int id : {a, b, c})
        EXPECT_EQ(fakeusb::stats(id).openAttempts, 0) << "device " << id;
    EXPECT_EQ(fakeusb::stats(module).closes, 1);
    expectNothingLeftOpen();
}

TEST_F(UsbDiscovery, OnlyEightHexDigitsAreASerialNumber)
{
    const char* bad[] = {"",          "12ABCD",   "0012ABCDE", "0012ABCG", " 012ABCD", "-012ABCD",
                         "0x12ABCD",  "0012AB D", "ZZZZZZZZ",  "00000000000000000000000000000000"};
    std::vector<int> ids;
    for (const char* serial : bad)
        ids.push_back(plugWithSerial(serial));
    fakeusb::DeviceSpec noSerial = fakeusb::moduleSpec(0x55555555);
    noSerial.hasSerial = false;
    ids.push_back(fakeusb::plug(noSerial));
    fakeusb::DeviceSpec stringFails = fakeusb::moduleSpec(0x66666666);
    stringFails.stringError = LIBUSB_ERROR_PIPE;
    ids.push_back(fakeusb::plug(stringFails));
    fakeusb::DeviceSpec cannotOpen = fakeusb::moduleSpec(0x77777777);
    cannotOpen.openError = LIBUSB_ERROR_ACCESS;
    ids.push_back(fakeusb::plug(cannotOpen));
    plugWithSerial("00C0FFEE");
    plugWithSerial("deadbeef");

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 2);
    ASSERT_EQ(found.specs.size(), 2u);
    EXPECT_EQ(found.specs[0].serialNumber, 0x00C0FFEEu);
    EXPECT_EQ(found.specs[1].serialNumber, 0xDEADBEEFu);
    // The skipped ones were looked at and closed again.
    for (size_t i = 0; i + 1 < ids.size(); ++i)
        EXPECT_EQ(fakeusb::stats(ids[i]).opens, fakeusb::stats(ids[i]).closes) << "device " << ids[i];
    expectNothingLeftOpen();
}

TEST_F(UsbDiscovery, AStopLeavesTheRemainingDevicesUnopened)
{
    int first = fakeusb::plug(fakeusb::moduleSpec(0x00000001));
    int second = fakeusb::plug(fakeusb::moduleSpec(0x00000002));
    int third = fakeusb::plug(fakeusb::moduleSpec(0x00000003));
    morvtest::DiscoveryCollector found;
    found.stopAfter = 1;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
    EXPECT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(fakeusb::stats(first).opens, 1);
    EXPECT_EQ(fakeusb::stats(second).openAttempts, 0);
    EXPECT_EQ(fakeusb::stats(third).openAttempts, 0);

    morvtest::DiscoveryCollector declining;
    declining.accept = false;
    EXPECT_EQ(declining.run(linkTypeUSB, 0), 0) << "only accepted specs count";
    EXPECT_EQ(declining.specs.size(), 3u);
    expectNothingLeftOpen();
}

TEST_F(UsbDiscovery, FindModuleBySerialAndTheFirstNonZeroOne)
{
    fakeusb::plug(fakeusb::moduleSpec(0x00000000, 0x04));
    fakeusb::plug(fakeusb::moduleSpec(0x0BADF00D, 0x11));
    int last = fakeusb::plug(fakeusb::moduleSpec(0x0000BEEF, 0x13));

    linkSpec* spec = aDiscovery_FindModule(linkTypeUSB, 0x0000BEEF, 0);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0000BEEFu);
    EXPECT_EQ(spec->model, 0x13);
    EXPECT_EQ(fakeusb::stats(last).opens, 1);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);

    EXPECT_EQ(aDiscovery_FindModule(linkTypeUSB, 0x12345678, 0), nullptr);

    spec = aDiscovery_FindFirstModule(linkTypeUSB, 0);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0BADF00Du) << "serial number 0 is passed over";
    aLinkSpec_Destroy(&spec);
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
