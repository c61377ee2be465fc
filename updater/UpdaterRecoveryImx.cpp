// The i.MX recovery loader once it runs: found as a USB module, it gives the
// processor's fingerprint and takes the firmware through the upgrade entity.
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "Updater.h"
#include "UpdaterFirmwarePass.h"
#include "UpdaterRecoverySteps.h"
#include "aTime.h"

using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;

namespace UpdaterRecovery {

namespace {

using Level = UpdaterDisplayInterface::Level;

bool tryConnect(Module& module, uint32_t serial)
{
    module.discoverAndConnect(linkTypeUSB, serial);
    return module.isConnected();
}

}  // namespace

bool _connect_recovery_module(Module& module, uint32_t serial)
{
    const bool alsoSerial = serial != 0 && serial != DEFAULT_SERIAL_NUMBER;
    for (unsigned attempt = 0; attempt < CONNECT_ATTEMPTS; ++attempt) {
        if (tryConnect(module, DEFAULT_SERIAL_NUMBER))
            return true;
        if (alsoSerial && tryConnect(module, serial))
            return true;
        if (attempt + 1 < CONNECT_ATTEMPTS)
            aTime_MSSleep(CONNECT_DELAY_MS);
    }
    return false;
}

bool _read_unique_id(Module& module, Fingerprint& fingerprint)
{
    SystemClass system;
    system.init(&module, 0);
    Fingerprint read{};
    for (uint8_t i = 0; i < 4; ++i) {
        uint32_t word = 0;
        if (system.getUEI32(UNIQUE_ID_OPTION, i, &word) != aErrNone) {
            Log::log(DEBUG_APP, "Error getting Identifier %d.\n", i);
            return false;
        }
        read.words[3 - i] = word;
    }
    fingerprint = read;
    return true;
}

bool _recover_firmware_imx(UpdaterDisplayInterface& display, BirdFile& bundle, uint32_t serial, bool useByteBuffers)
{
    Module module(0, 0);
    aErr err = Updater::_disableEther(module, display);
    if (err == aErrNone && !_connect_recovery_module(module, serial)) {
        display.message(Level::LEVEL_ERROR, "Could not connect to device");
        return false;
    }
    // The recovery loader is running already: no loader pass.
    if (err == aErrNone)
        err = _transfer_firmware(display, module, bundle, false, useByteBuffers);
    if (err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Failed to transfer firmware");
        return false;
    }
    return true;
}

}  // namespace UpdaterRecovery
