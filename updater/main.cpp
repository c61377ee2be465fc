// The Updater program: parse the command line, prepare the store directory and
// run the requested commands in their fixed order, one after the other.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "BuildNumber.h"
#include "BuildPath.h"
#include "CLI_Display.h"
#include "CommandLine.h"
#include "Log.h"
#include "Parameters.h"
#include "PrintableText.h"
#include "Updater.h"
#include "UpdaterListings.h"
#include "aDirectory.h"

namespace {

using Level = UpdaterDisplayInterface::Level;
using namespace UpdaterListings;

constexpr size_t kHomeBufferSize = 2048;
constexpr unsigned kStorageMode = 0755;

// Empty when no home directory is known: the store must never land at the root.
std::string storageDirectory(const Parameters& params)
{
    std::string base = params.storageDirectory;
    if (base.empty()) {
        char home[kHomeBufferSize];
        home[0] = '\0';
        if (aDirectory_GetHomeDirectory(home, sizeof home) != aErrNone || home[0] == '\0')
            return std::string();
        base = BuildPath(home, ".zorventa", nullptr);
    }
    return BuildPath(base.c_str(), "updater", nullptr);
}

uint32_t buildNumber(const std::string& text)
{
    uint32_t build = 0;
    if (!text.empty())
        ParseBuildNumber(text, &build);
    return build;
}

// The first listing or update command decides the exit code; without one the
// pending result of the fingerprint and download steps does.
int runCommands(CLI_Display& display, Parameters& params)
{
    const std::string storage = storageDirectory(params);
    if (storage.empty() || aDirectory_Ensure(storage.c_str(), kStorageMode) != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Could not find updater directory at %s", storage.c_str());
        return 1;
    }

    Updater updater(params.serverUrl.c_str(), storage.c_str(), display);
    int pending = 0;

    if (params.commands.IsSet(CMD_FINGERPRINT)) {
        if (params.serialPort.empty()) {
            display.message(Level::LEVEL_ERROR, "Must specify the serial port used for connecting");
            return 1;
        }
        Fingerprint fingerprint{};
        if (updater.Get_Fingerprint(fingerprint, params.serialPort, DEFAULT_SERIAL_NUMBER, params.birdFile,
                                    params.baudRate, true)) {
            _display_fingerprint(display, fingerprint);
        } else {
            display.message(Level::LEVEL_ERROR, "Got no response from chip");
            pending = 1;
        }
    }

    if (params.commands.IsSet(CMD_GET_BUILD)) {
        if (params.serialNumber == 0) {
            display.message(Level::LEVEL_ERROR, "-G must specify a specific device via -d");
            display.message(Level::LEVEL_ERROR, "--help for usage information");
            return 1;
        }
        display.message(Level::LEVEL_INFO, "Retrieving firmware for device with serial number %08X",
                        params.serialNumber);
        if (params.build.empty()) {
            display.message(Level::LEVEL_INFO, "No build specified");
            display.message(Level::LEVEL_INFO, "Using Latest build");
        } else {
            display.message(Level::LEVEL_INFO, "Retrieving firmware build %s", params.build.c_str());
        }
        const uint32_t downloaded = updater.Download_Firmware(params.serialNumber, params.build, params.override, false);
        if (downloaded != 0) {
            // A later update in this run takes the build just stored.
            params.build = std::to_string(downloaded);
            pending = 0;
        } else {
            pending = 1;
        }
    }

    if (params.commands.IsSet(CMD_DISCOVER)) {
        const linkType listingType =
            params.transportGiven && params.transport != TRANSPORT_RECOVER ? static_cast<linkType>(params.transport) : 0;
        if (params.routerSerialNumber != 0) {
            display.message(Level::LEVEL_INFO, "Searching for Morvasset Network devices connected to %08X",
                            params.routerSerialNumber);
            const std::vector<DeviceInfo> devices =
                updater.Discover_MVNetwork_Devices(params.routerSerialNumber, listingType);
            _display_device_list(display, devices, listingType);
        } else {
            display.message(Level::LEVEL_INFO, "Searching for Morvasset devices");
            const linkType searchType = listingType == 0 ? linkTypeUSB : listingType;
            const std::vector<DeviceInfo> devices = updater.Discover_Devices(searchType);
            _display_device_list(display, devices, searchType);
        }
        return 0;
    }

    if (params.commands.IsSet(CMD_UPDATE)) {
        const uint32_t build = buildNumber(params.build);
        updater.Set_UEIBytes_Load(params.useUEI);
        if (params.transport == TRANSPORT_RECOVER) {
            const bool ok = updater.Recover_Firmware(params.serialPort, build, params.baudRate, params.serialNumber,
                                                     params.birdFile, params.override);
            return ok ? 0 : 1;
        }
        if (params.serialNumber == 0) {
            display.message(Level::LEVEL_ERROR, "Must specify the specific device to be updated");
            return 1;
        }
        const bool ok = updater.Update_Firmware(params.serialNumber, build, params.birdFile, 0,
                                                params.routerSerialNumber, params.override);
        return ok ? 0 : 1;
    }

    if (params.commands.IsSet(CMD_LIST_BUILDS)) {
        if (params.serialNumber == 0) {
            display.message(Level::LEVEL_ERROR, "Error must supply a serial number for the List Builds command");
            _display_usage(false, false);
            return 1;
        }
        _display_builds(display, updater.Get_BuildList(params.serialNumber), params.serialNumber);
        return 0;
    }

    if (params.commands.IsSet(CMD_LIST_LOCAL_BUILDS)) {
        if (params.serialNumber == 0) {
            display.message(Level::LEVEL_ERROR, "Error must supply a serial number for the List Local Builds command");
            _display_usage(false, false);
            return 1;
        }
        _display_builds(display, updater.Get_BuildListLocal(params.serialNumber), params.serialNumber);
        return 0;
    }

    if (params.commands.IsSet(CMD_GET_JWT)) {
        if (params.serialNumber == 0) {
            display.message(Level::LEVEL_ERROR, "Error must supply a serial number for the Get JWT command");
            _display_usage(false, false);
            return 1;
        }
        _display_jwt(display, updater.Get_JWT(params.serialNumber));
        return 0;
    }

    return pending;
}

int run(CLI_Display& display, Parameters& params, int argc, char** argv)
{
    if (_get_params(display, argc, argv, &params) != 0) {
        _display_app_version(display);
        _display_usage(false, false);
        return 1;
    }
    _display_app_version(display);
    if (params.commands.IsSet(CMD_HELP) || !params.commands.IsSet(CMD_ANY)) {
        _display_usage(params.logMaskGiven, params.helpRequested);
        return 0;
    }
    return runCommands(display, params);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        Parameters params;
        CLI_Display display;
        Log::SetOutput(stderr);
        int result = 1;
        try {
            result = run(display, params, argc, argv);
        } catch (const std::exception& e) {
            display.message(Level::LEVEL_ERROR, "Error: %s", PrintableText(e.what()).c_str());
            result = 1;
        } catch (...) {
            display.message(Level::LEVEL_ERROR, "Error: unexpected failure");
            result = 1;
        }
        _release_params(&params);
        return result;
    } catch (...) {
        // Nothing may escape main, not even a failure to report a failure.
        std::fputs("Error: unexpected failure\n", stderr);
        return 1;
    }
}
