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

// Each command runs with the run's updater. The fingerprint and download
// steps leave a pending exit code and return false when the run must end
// with 1 at once; the commands after them end the run with their code.

bool fingerprintCommand(CLI_Display& display, Updater& updater, const Parameters& params, int* pending)
{
    if (params.serialPort.empty()) {
        display.message(Level::LEVEL_ERROR, "Must specify the serial port used for connecting");
        return false;
    }
    Fingerprint fingerprint{};
    if (updater.Get_Fingerprint(fingerprint, params.serialPort, DEFAULT_SERIAL_NUMBER, params.birdFile,
                                params.baudRate, true)) {
        _display_fingerprint(display, fingerprint);
    } else {
        display.message(Level::LEVEL_ERROR, "Got no response from chip");
        *pending = 1;
    }
    return true;
}

bool getBuildCommand(CLI_Display& display, Updater& updater, Parameters& params, int* pending)
{
    if (params.serialNumber == 0) {
        display.message(Level::LEVEL_ERROR, "-G must specify a specific device via -d");
        display.message(Level::LEVEL_ERROR, "--help for usage information");
        return false;
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
        *pending = 0;
    } else {
        *pending = 1;
    }
    return true;
}

int discoverCommand(CLI_Display& display, Updater& updater, const Parameters& params)
{
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

int updateCommand(CLI_Display& display, Updater& updater, const Parameters& params)
{
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

// The listing commands name one device; false (after saying so) when none is given.
bool namesDevice(CLI_Display& display, const Parameters& params, const char* command)
{
    if (params.serialNumber != 0)
        return true;
    display.message(Level::LEVEL_ERROR, "Error must supply a serial number for the %s command", command);
    _display_usage(false, false);
    return false;
}

int listBuildsCommand(CLI_Display& display, Updater& updater, const Parameters& params)
{
    if (!namesDevice(display, params, "List Builds"))
        return 1;
    _display_builds(display, updater.Get_BuildList(params.serialNumber), params.serialNumber);
    return 0;
}

int listLocalBuildsCommand(CLI_Display& display, Updater& updater, const Parameters& params)
{
    if (!namesDevice(display, params, "List Local Builds"))
        return 1;
    _display_builds(display, updater.Get_BuildListLocal(params.serialNumber), params.serialNumber);
    return 0;
}

int jwtCommand(CLI_Display& display, Updater& updater, const Parameters& params)
{
    if (!namesDevice(display, params, "Get JWT"))
        return 1;
    _display_jwt(display, updater.Get_JWT(params.serialNumber));
    return 0;
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
    if (params.commands.IsSet(CMD_FINGERPRINT) && !fingerprintCommand(display, updater, params, &pending))
        return 1;
    if (params.commands.IsSet(CMD_GET_BUILD) && !getBuildCommand(display, updater, params, &pending))
        return 1;

    // In this order; the first one asked for ends the run.
    using Command = int (*)(CLI_Display&, Updater&, const Parameters&);
    static const struct {
        uint32_t bit;
        Command run;
    } kFinalCommands[] = {
        {CMD_DISCOVER, discoverCommand},          {CMD_UPDATE, updateCommand},
        {CMD_LIST_BUILDS, listBuildsCommand},     {CMD_LIST_LOCAL_BUILDS, listLocalBuildsCommand},
        {CMD_GET_JWT, jwtCommand},
    };
    for (const auto& command : kFinalCommands)
        if (params.commands.IsSet(command.bit))
            return command.run(display, updater, params);
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
