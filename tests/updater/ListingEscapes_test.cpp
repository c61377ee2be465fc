// The printed listings, line by line: texts from modules and the server reach the terminal escaped.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <map>
#include <string>
#include <vector>

#include "PrintableText.h"
#include "UpdaterListings.h"
#include "UpdaterTestDisplay.h"

namespace {

using updtest::RecordingDisplay;
using namespace UpdaterListings;

DeviceInfo entry(linkType type, uint32_t serial, int module, int router, int model, uint32_t build,
                 const std::string& name)
{
    DeviceInfo info;
    info.spec.type = type;
    info.spec.serialNumber = serial;
    info.spec.module = module;
    info.spec.router = router;
    info.spec.model = model;
    info.build = build;
    info.deviceName = name;
    return info;
}

const char* const kUsbHeader = "    Device    Module   Router  Model          Firmware Version (Build)    Device Name";
const char* const kNetHeader =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       Device Name";

TEST(PrintableText, EscapesEveryByteOutsidePrintableAscii)
{
    EXPECT_EQ(PrintableText("plain text ~!"), "plain text ~!");
    EXPECT_EQ(PrintableText(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(PrintableText("\x1b[2J\r\n\x7f\xc3\xa9"), "\\x1B[2J\\x0D\\x0A\\x7F\\xC3\\xA9");
    const std::string once = PrintableText("x\x01y");
    EXPECT_EQ(PrintableText(once), once) << "escaping twice changes nothing";
    EXPECT_EQ(PrintableText(nullptr, 4), "");
}

TEST(DeviceListing, UsbListing)
{
    DeviceInfo hub = entry(linkTypeUSB, 0x0012ABCD, 6, 6, 5, 123456, std::string("Hub\x1b[31m\0x", 10));
    hub.major = 2;
    hub.minor = 11;
    hub.patch = 3;
    DeviceInfo busy = entry(linkTypeUSB, 0x00C0FFEE, 0, 0, 4, 0, "");
    busy.error = 25;
    RecordingDisplay display;
    _display_device_list(display, {hub, busy}, linkTypeUSB);
    EXPECT_EQ(display.infos(), (std::vector<std::string>{
                                   "Discovered Devices: (USB)",
                                   kUsbHeader,
                                   "    0012ABCD  06       06      USBHub3p       2.11.3 (    123456)         "
                                   "Hub\\x1B[31m\\x00x",
                                   "    00C0FFEE  [Error (25): Is someone else connected to this device?]",
                               }));
    EXPECT_TRUE(display.errors().empty());
}

TEST(DeviceListing, NetworkListingPrintsAddressesAndErrorsOfTcpEntriesInFull)
{
    DeviceInfo tcp = entry(linkTypeTCPIP, 0x0B0B0B0B, 8, 4, 19, 77, "Sim\tname");
    in_addr address{};
    inet_pton(AF_INET, "10.213.0.2", &address);
    tcp.spec.ipAddress = address.s_addr;
    tcp.major = 1;
    tcp.minor = 2;
    tcp.patch = 3;
    tcp.error = 18;
    DeviceInfo routed = entry(linkTypeUSB, 0x2181F0EE, 6, 4, 99, 5, "behind");
    RecordingDisplay display;
    _display_device_list(display, {tcp, routed}, linkTypeTCPIP);
    EXPECT_EQ(display.infos(),
              (std::vector<std::string>{
                  "Discovered Devices: (TCPIP)",
                  kNetHeader,
                  "    0B0B0B0B  08       04      MTMDAQ1        1.2.3 (        77)        [10.213.0.2]       Sim\\x09name",
                  "    2181F0EE  06       04      Unknown        0.0.0 (         5)         behind",
              }));

    display.clear();
    _display_device_list(display, {}, 0);
    EXPECT_EQ(display.infos(), (std::vector<std::string>{"Discovered Devices: (Unknown)", "    No devices found."}));
}

TEST(BuildListing, NewestFirstCutToFifteenAndEscaped)
{
    const std::map<std::string, std::string> builds = {
        {"10", "1.2.3"},
        {"11", "1.10.0"},
        {"12345678901234567890", "2.0.0"},
        {"bad\x07", "9.9.9\r"},
    };
    RecordingDisplay display;
    _display_builds(display, builds, 0x0012ABCD);
    EXPECT_EQ(display.infos(), (std::vector<std::string>{
                                   "Build List for device [0012ABCD]:\n",
                                   "Build          \tVersion        ",
                                   "bad\\x07        \t9.9.9\\x0D      ",
                                   "123456789012345\t2.0.0          ",
                                   "11             \t1.10.0         ",
                                   "10             \t1.2.3          ",
                               }));

    display.clear();
    _display_builds(display, {}, 0x0012ABCD);
    EXPECT_EQ(display.infos(), std::vector<std::string>{"No builds found for device [0012ABCD]"});
}

TEST(TokenListing, TokenIsPrintedEscapedAndAlsoWhenEmpty)
{
    RecordingDisplay display;
    _display_jwt(display, "aa.bb.cc");
    _display_jwt(display, "aa\x1b]0;pwned\x07.bb");
    _display_jwt(display, "");
    EXPECT_EQ(display.infos(), (std::vector<std::string>{"aa.bb.cc", "aa\\x1B]0;pwned\\x07.bb", ""}));
}

}  // namespace
