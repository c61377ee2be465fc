#include "UpdaterListings.h"

#include <cstdio>
#include <cstring>

#include "Parameters.h"
#include "PrintableText.h"
#include "UpdateServerRequest.h"
#include "aDefs.h"

namespace {

using Level = UpdaterDisplayInterface::Level;

const char kUsageShort[] =
    "Application Usage:\n"
    "Updater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
    "    [-d serial_num]\n"
    "    [-t transport] [-r router_serial]\n"
    "    [-s serial_port] [-o baud_rate]\n"
    "\n"
    "  Morvasset Update and Maintenance Application\n"
    "    -H -h or --help for full usage information.\n";

const char kUsageParameters[] =
    "  Parameters to commands:\n"
    "     -i <zorventa_directory>  - The Zorventa directory used for storage of \n"
    "                                firmware files. [Default: ~/.zorventa ].\n"
    "     -b <build number>        - Build version of the firmware to transfer.\n"
    "                                [Default: latest version available].\n"
    "     -d <device>              - Device serial number of the device to access.\n"
    "     -t <transport type>      - communications method [USB,TCP,RECOVER].\n"
    "     -f <bird file>           - Firmware file to be transferred to device.\n"
    "     -r <router serial>       - indirect connection through router device\n"
    "     -s <serial port>         - name of serial port to use for recovery\n"
    "     -o <baud rate>           - baud rate for serial port (2400, 4800, 9600,\n"
    "                                19200, 38400, 57600, 115200, 230400)\n"
    "  Commands:\n"
    "     -B                       - list the Builds available for given device.\n"
    "\n"
    "     -L                       - list the local Builds available for given device.\n"
    "\n"
    "     -D                       - Discover devices that are currently connected.\n"
    "\n"
    "     -G                       - Get build file from the Zorventa server and\n"
    "                                store on local machine for download to device.\n"
    "                                Must specify a specific device [\"-d\" option].\n"
    "                                Default is to obtain the latest build for the\n"
    "                                given device, override with \"-b\" option.\n"
    "\n"
    "     -U                       - Update the firmware on device specified.\n"
    "                                Must specify a specific device [\"-d\" option].\n"
    "                                Default is to download the latest build for the\n"
    "                                given device, override with \"-b\" option or\n"
    "                                specify specific BIRD file using \"-f\" option.\n"
    "     -J                       - Get a JWT containing the devices software features\n"
    "     -H or -h                 - Display extended usage information.\n";

const char kUsageExtended[] =
    "  Extended Parameters:\n"
    "     -e                       - echoing of bytes enabled during recovery.\n"
    "\n"
    "     -m                       - Attemps to use UEIBytes for faster loading\n"
    "     -l 'log message'         - message to place in device history log\n"
    "     -k <filename>            - log messages written into given filename\n"
    "                                Default:[APP.log]\n"
    "     -u <host:port>           - The hostname and port of the update server\n"
    "                                Default: " UPDATER_DEFAULT_HOST ":80\n"
    "  Extended Commands:\n"
    "     -I                       - View stored device information.\n"
    "                                Must either use DISCOVER command [\"-D\"] or\n"
    "                                specify a specific device [\"-d\" option].\n"
    "\n"
    "     -OVERRIDE                - Override the model checks for BIRD firmware files.\n"
    "                                This option should only be used when authorized by\n"
    "                                Zorventa development engineers.\n"
    "\n"
    "     -N                       - Get fingerprint from a device, requires -s\n"
    "\n"
    "     -X <BIT_MASK>            - Bitmask for Logging\n"
    "                                DEBUG_Updater       0x00000001\n"
    "                                DEBUG_History       0x00000002\n"
    "                                DEBUG_Attributes    0x00000004\n"
    "                                DEBUG_BirdFile      0x00000008\n"
    "                                DEBUG_Network       0x00000010\n"
    "                                DEBUG_ServerComm    0x00000020\n"
    "\n"
    "                                DEBUG_Network       0x00000100\n"
    "                                DEBUG_Network_SR    0x00000200\n"
    "                                DEBUG_Network_FIRM  0x00000400\n"
    "\n"
    "                                DEBUG_NXPSerial     0x00001000\n"
    "                                DEBUG_NXPSerial_E   0x00002000\n"
    "                                DEBUG_NXPSerial_SR  0x00004000\n"
    "\n"
    "                                DEBUG_APP           0x00010000\n"
    "\n"
    "                                DEBUG_iMXSerial     0x10000000\n"
    "\n"
    "     -C                       - Check the given BIRDFILE\n";

const char kUsageSamples[] =
    " Sample usage:\n"
    "\n"
    "-D                             Discover all devices connected by either USB or TCPIP.\n"
    "                               Records the device information into the settings for that device.\n"
    "\n"
    "-D -t USB                      Discover all the devices connected by USB. Records the\n"
    "                               device information into the settings for that device.\n"
    "\n"
    "-D -t USB -d 0F5849A           Discover settings of the specific device (serial number 0x40F5849A)\n"
    "\n"
    "-G -d 40F5849A                 Get the latest firmware for the given device.\n"
    "                               Downloads the firmware file into the updater specific device directory.\n"
    "\n"
    "-U -d 40F5849A                 Update the firmware on the specific device.\n"
    "                               Without other options, this command will try to locate\n"
    "                               the latest firmware version to be used for updating the device.\n"
    "\n"
    "-G -d 40F5849A -b 99528558     Get the specified build's firmware for the given device.\n"
    "                               Downloads the firmware file into the updater's specific\n"
    "                               device directory with the build number as the filename.\n"
    "\n"
    "-G -U -d 40F5849A              Get the latest firmware for the given device.\n"
    "                               Downloads the firmware file into the updater specific\n"
    "                               device directory. After download, update the firmware\n"
    "                               using the latest release.\n"
    "\n"
    "-U -t RECOVER -s /dev/serial   Update the firmware as described above, but uses the serial interface\n"
    "                               in communicating with the device to install the latest firmware.\n"
    "\n"
    " Sample usage for network discovery and updates:\n"
    "\n"
    "-D -r D272031D                 Discover all devices connected to the I2C Morvasset network\n"
    "                               of the given routing device D272031D.\n"
    "\n"
    "-G -U -d 2181F0EE -r D272031D\n"
    "                               Get and Update to the latest firmware for device 2181F0EE\n"
    "                               indirectly through routing device D272031D.\n";

const char* linkTypeTitle(linkType type)
{
    switch (type) {
    case linkTypeUSB:
        return "USB";
    case linkTypeTCPIP:
        return "TCPIP";
    default:
        return "Unknown";
    }
}

// Module names reach the terminal escaped, whatever the module sent.
std::string printable(const std::string& text)
{
    return PrintableText(text);
}

}  // namespace

namespace UpdaterListings {

void _display_app_version(UpdaterDisplayInterface& display)
{
    display.message(Level::LEVEL_INFO, "%s (%s)", UPDATER_PROGRAM_NAME, UPDATER_VERSION_TEXT);
}

void _display_usage(bool logMaskGiven, bool helpRequested)
{
    // The sections go out whole, straight to standard error.
    std::fputs("\n", stderr);
    std::fputs(kUsageShort, stderr);
    std::fputs("\n", stderr);
    if (!helpRequested)
        return;
    std::fputs(kUsageParameters, stderr);
    std::fputs("\n", stderr);
    if (logMaskGiven) {
        std::fputs(kUsageExtended, stderr);
        std::fputs("\n", stderr);
    }
    std::fputs(kUsageSamples, stderr);
    std::fputs("\n", stderr);
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint)
{
    display.message(Level::LEVEL_INFO, "[ %08X %08X %08X %08X ]", fingerprint.words[0], fingerprint.words[1],
                    fingerprint.words[2], fingerprint.words[3]);
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token)
{
    display.message(Level::LEVEL_INFO, "%s", PrintableText(token).c_str());
}

void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds, uint32_t serial)
{
    if (builds.empty()) {
        display.message(Level::LEVEL_INFO, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(Level::LEVEL_INFO, "Build List for device [%08X]:\n", serial);
    display.message(Level::LEVEL_INFO, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& entry : UpdateServerRequest::SortBuildsByVersion(builds))
        display.message(Level::LEVEL_INFO, "%-15.15s\t%-15.15s", PrintableText(entry.first).c_str(),
                        PrintableText(entry.second).c_str());
}

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices, linkType type)
{
    display.message(Level::LEVEL_INFO, "Discovered Devices: (%s)", linkTypeTitle(type));
    if (devices.empty()) {
        display.message(Level::LEVEL_INFO, "    No devices found.");
        return;
    }
    if (type == linkTypeUSB)
        display.message(Level::LEVEL_INFO,
                        "    Device    Module   Router  Model          Firmware Version (Build)    Device Name");
    else
        display.message(Level::LEVEL_INFO, "    Device    Module   Router  Model          Firmware Version (Build)   "
                                           "[IP address]       Device Name");

    for (const DeviceInfo& device : devices) {
        const linkSpec& spec = device.spec;
        const std::string model = printable(aDefs_GetModelName(static_cast<uint32_t>(spec.model)));
        const std::string name = printable(device.deviceName);
        if (spec.type == linkTypeTCPIP) {
            // The address word is in network byte order: its first byte is the first octet.
            unsigned char octets[4];
            std::memcpy(octets, &spec.ipAddress, sizeof octets);
            char address[32];
            std::snprintf(address, sizeof address, "[%d.%d.%d.%d]", octets[0], octets[1], octets[2], octets[3]);
            display.message(Level::LEVEL_INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%u (%10u)        %-17s  %s",
                            spec.serialNumber, static_cast<unsigned>(spec.module) & 0xFFu,
                            static_cast<unsigned>(spec.router) & 0xFFu, model.c_str(), device.major, device.minor,
                            device.patch, device.build, address, name.c_str());
        } else if (device.error != 0) {
            display.message(Level::LEVEL_INFO, "    %08X  [Error (%d): Is someone else connected to this device?]",
                            spec.serialNumber, static_cast<int>(device.error));
        } else {
            display.message(Level::LEVEL_INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%u (%10u)         %s",
                            spec.serialNumber, static_cast<unsigned>(spec.module) & 0xFFu,
                            static_cast<unsigned>(spec.router) & 0xFFu, model.c_str(), device.major, device.minor,
                            device.patch, device.build, name.c_str());
        }
    }
}

}  // namespace UpdaterListings
