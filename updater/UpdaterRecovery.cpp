// Recovery of a module whose firmware no longer starts: the processor's
// fingerprint through its boot ROM, the module's serial number and build from
// the update server, then the firmware straight into LPC flash or through the
// i.MX recovery loader.
#include <stdexcept>
#include <string>

#include "BirdFile.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterRecoverySteps.h"
#include "aTime.h"

using namespace UpdaterRecovery;

namespace {

using Level = UpdaterDisplayInterface::Level;

enum ChipFamily : uint8_t {
    kChipImx = 1,
    kChipLpc = 2,
};

}  // namespace

bool Updater::Recover_Firmware(std::string port, uint32_t build, uint32_t baud, uint32_t serial, std::string birdPath,
                               bool override)
{
    (void)override;
    const uint64_t start = aTime_GetMSTicks();
    Fingerprint fingerprint{};
    // The boot ROM is always identified at the fingerprint's own rate.
    if (!Get_Fingerprint(fingerprint, port, serial, birdPath, FINGERPRINT_BAUD, false)) {
        display.message(Level::LEVEL_ERROR, "Could not get Device Identifier");
        return false;
    }

    if (birdPath.empty()) {
        unsigned serverSerial = 0;
        unsigned serverBuild = 0;
        // A reply without a serial number names no module to recover.
        if (!UpdateServerRequest::GetRecoveryInfo(fingerprint.words, &serverSerial, &serverBuild,
                                                  server_url.c_str()) ||
            serverSerial == 0) {
            display.message(Level::LEVEL_ERROR, "Failed to retrieve recovery information from Zorventa server");
            return false;
        }
        serial = serverSerial;
        if (build == 0)
            build = serverBuild;
    }

    BirdFile bundle;
    try {
        // Build 0 loads the build the download stores (the server's latest).
        bundle = load_bird("Recovering", birdPath, serial, build, true);
    } catch (const std::runtime_error&) {
        display.message(Level::LEVEL_ERROR, "Failed to load bird file");
        return false;
    }
    if (bundle.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty()) {
        display.message(Level::LEVEL_ERROR, "Birdfile holds no firmware blocks");
        return false;
    }
    if (bundle.hasOffsets) {
        display.message(Level::LEVEL_ERROR, "Updater does not support offline recovery");
        return false;
    }

    bool ok = false;
    switch (chip_family) {
    case kChipImx:
        ok = _recover_firmware_imx(display, bundle, serial, uei_bytes_load);
        break;
    case kChipLpc:
        bundle.DecodeFirmwareBlocks(fingerprint.words);
        ok = _recover_firmware_lpc(display, bundle, port, baud, fingerprint);
        break;
    default:
        display.message(Level::LEVEL_ERROR, "Unknown device");
        break;
    }
    display.message(Level::LEVEL_INFO, "Update time: %.4f sec",
                    static_cast<double>(aTime_GetMSTicks() - start) / 1000.0);
    return ok;
}
