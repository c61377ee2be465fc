// Opening a USB stream, for what only a fake libusb shows: every path gives
// back libusb's device lists, references and configuration descriptors;
// libusb's own calls failing (its start, descriptor and configuration reads,
// a device open); claim results the Linux libusb never returns
// (ACCESS, TIMEOUT); one context until exit. The rest of opening a USB
// stream runs on the real libusb over the emulated kernel
// (umockUsbStream_test).
#include "UsbTestFixture.h"

#include <functional>

namespace {

constexpr std::uint32_t kSerial = 0x0012ABCD;

TEST_F(UsbTest, AnOpenModuleHoldsOneReferenceUntilClosed)
{
    int id = plugModule(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_NE(stream_, nullptr);

    ASSERT_EQ(aStream_Write(stream_, "\xAD\x00", 2), aErrNone);
    EXPECT_EQ(readPeer(2), std::string("\xAD\x00", 2));
    char one = 'x';
    ASSERT_EQ(aStream_Write(stream_, &one, 1), aErrNone);
    EXPECT_EQ(readPeer(1), "x");

    ASSERT_TRUE(writePeer("\x04\x01\x07"));
    char in[3] = {};
    ASSERT_EQ(aStream_Read(stream_, in, 3), aErrNone);
    EXPECT_EQ(std::string(in, 3), "\x04\x01\x07");

    auto s = fakeusb::stats(id);
    EXPECT_EQ(s.claims, 1);
    EXPECT_EQ(s.openHandles, 1);
    EXPECT_EQ(s.refs, 1);  // the handle's; the list's are given back
    EXPECT_EQ(fakeusb::busStats().configsOutstanding, 0);

    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
    s = fakeusb::stats(id);
    EXPECT_EQ(s.releases, 1);
    EXPECT_EQ(s.openHandles, 0);
    EXPECT_EQ(s.refs, 0);
}

struct MatchCase {
    const char* name;
    std::function<void(fakeusb::DeviceSpec&)> change;
    aErr expected;
};

void PrintTo(const MatchCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsbMatchTest : public UsbTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(UsbMatchTest, OpenResult)
{
    fakeusb::DeviceSpec spec = fakeusb::moduleSpec(kSerial);
    GetParam().change(spec);
    int id = plugSpec(spec);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), GetParam().expected);
    EXPECT_EQ(stream_ == nullptr, GetParam().expected != aErrNone);
    auto bus = fakeusb::busStats();
    EXPECT_EQ(bus.deviceLists, bus.deviceListsFreed);
    EXPECT_EQ(bus.configsOutstanding, 0);
    if (GetParam().expected != aErrNone) {
        EXPECT_EQ(bus.openHandles, 0) << "a device that was not taken is closed again";
        EXPECT_EQ(fakeusb::stats(id).refs, 0);
    }
}

auto endpoints(std::vector<fakeusb::Endpoint> list)
{
    return [list](fakeusb::DeviceSpec& s) { s.interfaces[0].endpoints = list; };
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UsbMatchTest,
    ::testing::Values(
        MatchCase{"Module", [](fakeusb::DeviceSpec&) {}, aErrNone},
        MatchCase{"HighestProductId", [](fakeusb::DeviceSpec& s) { s.product = 0x7FFF; }, aErrNone},
        MatchCase{"ProductIdBit15", [](fakeusb::DeviceSpec& s) { s.product = 0x8011; }, aErrNotFound},
        MatchCase{"OtherVendor", [](fakeusb::DeviceSpec& s) { s.vendor = MORVASSET_USB_VENDOR_ID + 1; }, aErrNotFound},
        MatchCase{"LowerCaseSerial", [](fakeusb::DeviceSpec& s) { s.serial = "0012abcd"; }, aErrNotFound},
        MatchCase{"SerialWithoutLeadingZeros", [](fakeusb::DeviceSpec& s) { s.serial = "12ABCD"; }, aErrNotFound},
        MatchCase{"SerialWithMore", [](fakeusb::DeviceSpec& s) { s.serial = "0012ABCD "; }, aErrNotFound},
        MatchCase{"NoSerialString", [](fakeusb::DeviceSpec& s) { s.hasSerial = false; }, aErrNotFound},
        MatchCase{"SerialUnreadable", [](fakeusb::DeviceSpec& s) { s.stringError = LIBUSB_ERROR_PIPE; }, aErrNotFound},
        MatchCase{"DescriptorUnreadable", [](fakeusb::DeviceSpec& s) { s.descriptorError = LIBUSB_ERROR_IO; },
                  aErrNotFound},
        MatchCase{"CannotOpen", [](fakeusb::DeviceSpec& s) { s.openError = LIBUSB_ERROR_ACCESS; }, aErrNotFound},
        MatchCase{"OtherClass", [](fakeusb::DeviceSpec& s) { s.interfaces[0].interfaceClass = 0xFE; },
                  aErrConfiguration},
        MatchCase{"OtherSubclass", [](fakeusb::DeviceSpec& s) { s.interfaces[0].subclass = 0x89; },
                  aErrConfiguration},
        MatchCase{"OtherProtocol", [](fakeusb::DeviceSpec& s) { s.interfaces[0].protocol = 0x11; },
                  aErrConfiguration},
        MatchCase{"NoInterface", [](fakeusb::DeviceSpec& s) { s.interfaces.clear(); }, aErrConfiguration},
        MatchCase{"ConfigUnreadable", [](fakeusb::DeviceSpec& s) { s.configError = LIBUSB_ERROR_IO; },
                  aErrConfiguration},
        MatchCase{"NoInEndpoint", endpoints({{0x02, 2, 64}}), aErrConfiguration},
        MatchCase{"NoOutEndpoint", endpoints({{0x81, 2, 64}}), aErrConfiguration},
        MatchCase{"ControlAndIsochronousOnly", endpoints({{0x81, 1, 64}, {0x02, 0, 64}}), aErrConfiguration},
        MatchCase{"InterruptEndpoints", endpoints({{0x81, 3, 64}, {0x02, 3, 64}}), aErrNone}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST_F(UsbTest, OpensOnlyModulesAndClosesTheOthersAgain)
{
    fakeusb::DeviceSpec printer = fakeusb::moduleSpec(kSerial);
    printer.vendor = 0x04B8;
    int other = fakeusb::plug(printer);
    int wrongSerial = fakeusb::plug(fakeusb::moduleSpec(kSerial + 1));
    int target = plugModule(kSerial);
    int after = fakeusb::plug(fakeusb::moduleSpec(kSerial + 2));

    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    EXPECT_EQ(fakeusb::stats(other).openAttempts, 0);
    EXPECT_EQ(fakeusb::stats(wrongSerial).opens, 1);
    EXPECT_EQ(fakeusb::stats(wrongSerial).openHandles, 0);
    EXPECT_EQ(fakeusb::stats(target).openHandles, 1);
    EXPECT_EQ(fakeusb::stats(after).openAttempts, 0) << "the search ends at the match";
    for (int id : {other, wrongSerial, after})
        EXPECT_EQ(fakeusb::stats(id).refs, 0);
}

struct ClaimCase {
    const char* name;
    int libusbError;
    aErr expected;
};

void PrintTo(const ClaimCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsbClaimTest : public UsbTest, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(UsbClaimTest, ClaimFailureEndsTheSearch)
{
    fakeusb::DeviceSpec spec = fakeusb::moduleSpec(kSerial);
    spec.claimError = GetParam().libusbError;
    int first = plugSpec(spec);
    int twin = fakeusb::plug(fakeusb::moduleSpec(kSerial));  // same serial, would open

    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), GetParam().expected);
    EXPECT_EQ(stream_, nullptr);
    EXPECT_EQ(fakeusb::stats(first).openHandles, 0) << "the handle is closed again";
    EXPECT_EQ(fakeusb::stats(twin).openAttempts, 0) << "no further device is tried";
    EXPECT_EQ(fakeusb::busStats().openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(Errors, UsbClaimTest,
                         ::testing::Values(ClaimCase{"Busy", LIBUSB_ERROR_BUSY, aErrBusy},
                                           ClaimCase{"NoDevice", LIBUSB_ERROR_NO_DEVICE, aErrBusy},
                                           ClaimCase{"Access", LIBUSB_ERROR_ACCESS, aErrPermission},
                                           ClaimCase{"Other", LIBUSB_ERROR_OTHER, aErrUnknown},
                                           ClaimCase{"Timeout", LIBUSB_ERROR_TIMEOUT, aErrUnknown}),
                         [](const ::testing::TestParamInfo<ClaimCase>& info) { return std::string(info.param.name); });

TEST_F(UsbTest, FailedLibusbStartIsResourceAndIsRetried)
{
    Morvasset_libusb_exit();
    fakeusb::setInitError(LIBUSB_ERROR_NO_MEM);
    plugModule(kSerial);
    EXPECT_EQ(Morvasset_libusb_context(), nullptr);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrResource);
    EXPECT_EQ(stream_, nullptr);
    EXPECT_EQ(fakeusb::busStats().deviceLists, 0) << "no device list from a missing context";

    fakeusb::setInitError(0);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    EXPECT_EQ(fakeusb::busStats().inits, 1);
}

TEST_F(UsbTest, OneContextLivesUntilExit)
{
    libusb_context* context = Morvasset_libusb_context();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(Morvasset_libusb_init(), context);
    plugModule(kSerial);
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_EQ(aStream_Destroy(&stream_), aErrNone);
    EXPECT_EQ(Morvasset_libusb_context(), context) << "closing the last device keeps the context";
    int live = fakeusb::busStats().liveContexts;

    Morvasset_libusb_exit();
    EXPECT_EQ(fakeusb::busStats().liveContexts, live - 1);
    EXPECT_EQ(fakeusb::busStats().exits, 1);
    ASSERT_NE(Morvasset_libusb_context(), nullptr);
    EXPECT_EQ(fakeusb::busStats().liveContexts, live);
}

TEST_F(UsbTest, IsMorvassetDeviceByVendorAndProduct)
{
    fakeusb::DeviceSpec other = fakeusb::moduleSpec(1);
    other.vendor = 0x1234;
    fakeusb::DeviceSpec high = fakeusb::moduleSpec(2);
    high.product = 0x8000;
    fakeusb::DeviceSpec unreadable = fakeusb::moduleSpec(3);
    unreadable.descriptorError = LIBUSB_ERROR_IO;
    fakeusb::DeviceSpec noInterface = fakeusb::moduleSpec(4);
    noInterface.interfaces.clear();  // identification looks at the ids only
    fakeusb::plug(fakeusb::moduleSpec(5));
    for (const auto& spec : {other, high, unreadable, noInterface})
        fakeusb::plug(spec);

    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(Morvasset_libusb_context(), &list);
    ASSERT_EQ(n, 5);
    std::vector<bool> seen;
    for (ssize_t i = 0; i < n; i++)
        seen.push_back(is_morvasset_device(list[i]));
    libusb_free_device_list(list, 1);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false, false, true}));
    EXPECT_FALSE(is_morvasset_device(nullptr));
}

}  // namespace
