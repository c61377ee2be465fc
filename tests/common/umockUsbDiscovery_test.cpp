// Discovery by USB enumeration with the real libusb-1.0 on the emulated bus.
// "Bus order" is libusb's list order, which holds the device it enumerated
// last first: the devices are plugged in reverse.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "DiscoveryCollector.h"
#include "UsbTestbed.h"
#include "aDiscovery.h"
#include "aUSBDriver.h"

namespace {

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

class UmockUsbDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)kNoCzmqSignalHandler;
        bed().reset();
        Morvasset_libusb_exit();
    }
    void TearDown() override
    {
        Morvasset_libusb_exit();
        bed().reset();
    }
    static umockusb::Testbed& bed() { return umockusb::Testbed::instance(); }

    static int plugWithSerial(const std::string& serial)
    {
        umockusb::DeviceSpec spec = umockusb::moduleSpec(1, 0x11);
        spec.serial = serial;
        return bed().plug(spec);
    }
};

TEST_F(UmockUsbDiscovery, ModulesBecomeTypeOneSpecsInBusOrder)
{
    bed().plug(umockusb::moduleSpec(0x00000004, 0x04));
    umockusb::DeviceSpec hub = umockusb::moduleSpec(0xCAFE0013, 0x13);
    hub.product = 0x0213;  // the model is the low byte
    bed().plug(hub);
    bed().plug(umockusb::moduleSpec(0x0012ABCD, 0x11, 512));

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
    EXPECT_EQ(bed().openHandles(), 0);
}

TEST_F(UmockUsbDiscovery, OtherDevicesAreNeitherOpenedNorReported)
{
    int module = bed().plug(umockusb::moduleSpec(0x44444444));
    umockusb::DeviceSpec otherVendor = umockusb::moduleSpec(0x11111111);
    otherVendor.vendor = 0x1234;
    umockusb::DeviceSpec highProduct = umockusb::moduleSpec(0x22222222);
    highProduct.product = 0x8011;
    int a = bed().plug(otherVendor);
    int b = bed().plug(highProduct);

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
    ASSERT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(found.specs[0].serialNumber, 0x44444444u);
    for (int id : {a, b})
        EXPECT_EQ(bed().stats(id).opens, 0) << "device " << id;
    EXPECT_EQ(bed().stats(module).opens, 1);
    EXPECT_EQ(bed().openHandles(), 0);
}

TEST_F(UmockUsbDiscovery, OnlyEightHexDigitsAreASerialNumber)
{
    plugWithSerial("deadbeef");
    plugWithSerial("00C0FFEE");
    const char* bad[] = {"",         "12ABCD",   "0012ABCDE", "0012ABCG", " 012ABCD", "-012ABCD",
                         "0x12ABCD", "0012AB D", "ZZZZZZZZ",  "00000000000000000000000000000000"};
    std::vector<int> ids;
    for (const char* serial : bad)
        ids.push_back(plugWithSerial(serial));
    umockusb::DeviceSpec noSerial = umockusb::moduleSpec(0x55555555);
    noSerial.hasSerial = false;
    ids.push_back(bed().plug(noSerial));
    umockusb::DeviceSpec stringFails = umockusb::moduleSpec(0x66666666);
    stringFails.serialReadFails = true;
    ids.push_back(bed().plug(stringFails));

    morvtest::DiscoveryCollector found;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 2);
    ASSERT_EQ(found.specs.size(), 2u);
    EXPECT_EQ(found.specs[0].serialNumber, 0x00C0FFEEu);
    EXPECT_EQ(found.specs[1].serialNumber, 0xDEADBEEFu);
    for (int id : ids)
        EXPECT_EQ(bed().stats(id).opens, 1) << "device " << id << " was looked at";
    EXPECT_EQ(bed().openHandles(), 0) << "and closed again";
}

TEST_F(UmockUsbDiscovery, AStopLeavesTheRemainingDevicesUnopened)
{
    int third = bed().plug(umockusb::moduleSpec(0x00000003));
    int second = bed().plug(umockusb::moduleSpec(0x00000002));
    int first = bed().plug(umockusb::moduleSpec(0x00000001));
    morvtest::DiscoveryCollector found;
    found.stopAfter = 1;
    EXPECT_EQ(found.run(linkTypeUSB, 0), 1);
    ASSERT_EQ(found.specs.size(), 1u);
    EXPECT_EQ(found.specs[0].serialNumber, 1u);
    EXPECT_EQ(bed().stats(first).opens, 1);
    EXPECT_EQ(bed().stats(second).opens, 0);
    EXPECT_EQ(bed().stats(third).opens, 0);

    morvtest::DiscoveryCollector declining;
    declining.accept = false;
    EXPECT_EQ(declining.run(linkTypeUSB, 0), 0) << "only accepted specs count";
    EXPECT_EQ(declining.specs.size(), 3u);
    EXPECT_EQ(bed().openHandles(), 0);
}

TEST_F(UmockUsbDiscovery, FindModuleBySerialAndTheFirstNonZeroOne)
{
    int last = bed().plug(umockusb::moduleSpec(0x0000BEEF, 0x13));
    bed().plug(umockusb::moduleSpec(0x0BADF00D, 0x11));
    bed().plug(umockusb::moduleSpec(0x00000000, 0x04));

    linkSpec* spec = aDiscovery_FindModule(linkTypeUSB, 0x0000BEEF, 0);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0000BEEFu);
    EXPECT_EQ(spec->model, 0x13);
    EXPECT_EQ(bed().stats(last).opens, 1);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);

    EXPECT_EQ(aDiscovery_FindModule(linkTypeUSB, 0x12345678, 0), nullptr);

    spec = aDiscovery_FindFirstModule(linkTypeUSB, 0);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, 0x0BADF00Du) << "serial number 0 is passed over";
    aLinkSpec_Destroy(&spec);
    EXPECT_EQ(bed().openHandles(), 0);
}

}  // namespace
