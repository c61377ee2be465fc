// The fingerprint of a module's processor: through the LPC boot ROM when one
// answers on the port, else from the i.MX recovery loader placed through the
// boot ROM and reached as a USB module.
#include <memory>
#include <stdexcept>
#include <string>

#include "BirdFile.h"
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "Updater.h"
#include "UpdaterRecoverySteps.h"
#include "UpdaterStore.h"

using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;
using namespace UpdaterRecovery;

namespace {

using Level = UpdaterDisplayInterface::Level;

const char* const kLatestDownload = "LATEST_DOWNLOAD";

// Unmutes the display on every way out of a download.
class MutedDisplay {
public:
    explicit MutedDisplay(UpdaterDisplayInterface& display) : display_(display) { display_.mute_messages(true); }
    ~MutedDisplay() { display_.mute_messages(false); }
    MutedDisplay(const MutedDisplay&) = delete;
    MutedDisplay& operator=(const MutedDisplay&) = delete;

private:
    UpdaterDisplayInterface& display_;
};

// A name from a settings file that stays inside the device's directory.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The stored default recovery image named by the device's last download; false
// when there is none or it does not load.
bool readStoredImage(const UpdaterStoreItem& item, BirdFile& bundle)
{
    const std::string name = item.attributes.GetString(kLatestDownload, "");
    if (!isPlainName(name))
        return false;
    try {
        bundle = item.ReadBirdFile(name.c_str());
        return true;
    } catch (const std::runtime_error& e) {
        Log::log(DEBUG_APP, "%s\n", e.what());
        return false;
    }
}

namespace {

// Downloads the module's image into the store and reads it from there; false
// (logged) when either fails. Throws what reading the bundle throws.
bool downloadRecoveryImage(UpdaterDisplayInterface& display, Updater& updater, UpdaterStore& store, uint32_t serial,
                           UpdaterStoreItem& item, BirdFile& bundle)
{
    uint32_t build = 0;
    {
        MutedDisplay muted(display);
        Log::log(DEBUG_APP, "Existing loader device not found. Downloading.\n");
        build = updater.Download_Firmware(serial, "", false, false);
    }
    if (build == 0) {
        Log::log(DEBUG_APP, "Could not download the recovery image for %08X.\n", serial);
        return false;
    }
    if (!store.FindDevice(serial, &item)) {
        Log::log(DEBUG_APP, "No directory for %08X after the download.\n", serial);
        return false;
    }
    bundle = item.ReadBirdFile((std::to_string(build) + ".bird").c_str());
    return true;
}

}  // namespace

bool _get_fingerprint_imx(UpdaterDisplayInterface& display, Updater& updater, const std::string& storageDir,
                          const std::string& port, uint32_t serial, const std::string& birdPath,
                          Fingerprint& fingerprint, bool reset)
{
    std::unique_ptr<UpdaterStore> store =
        Updater::_createUpdaterStore(display, storageDir, "_get_fingerprint_imx", updater.storeRun());
    if (!store)
        return false;
    if (serial == 0)
        serial = DEFAULT_SERIAL_NUMBER;

    BirdFile bundle;
    try {
        UpdaterStoreItem item;
        const bool known = store->FindDevice(serial, &item);
        if (!birdPath.empty()) {
            if (serial == DEFAULT_SERIAL_NUMBER) {
                display.message(Level::LEVEL_ERROR,
                                "Add serial number or remove the bird filename to use a default recovery image.");
                return false;
            }
            if (Updater::_isSpecialBundle(display, birdPath))
                return false;
            bundle = BirdFile(birdPath.c_str());
        } else if ((!known || !readStoredImage(item, bundle)) &&
                   // Missing, or stored but unreadable: fetched again rather
                   // than failing on every later run.
                   !downloadRecoveryImage(display, updater, *store, serial, item, bundle)) {
            return false;
        }
    } catch (const std::runtime_error& e) {
        Log::log(DEBUG_APP, "%s\n", e.what());
        return false;
    }

    if (_transfer_recovery_loader(display, bundle, port) != aErrNone) {
        Log::log(DEBUG_APP, "Error loading liveloader.\n");
        return false;
    }

    Module module(0, 0);
    if (Updater::_disableEther(module, display) != aErrNone)
        return false;
    if (!_connect_recovery_module(module, serial)) {
        Log::log(DEBUG_APP, "Could not connect to device.\n");
        return false;
    }
    if (!_read_unique_id(module, fingerprint))
        return false;
    if (reset) {
        SystemClass system;
        system.init(&module, 0);
        (void)system.reset();  // the module restarts; there is no answer to wait for
    }
    return true;
}

}  // namespace

bool Updater::Get_Fingerprint(Fingerprint& fingerprint, std::string port, uint32_t serial, std::string birdPath,
                              uint32_t baud, bool reset)
{
    if (_get_fingerprint_lpc(port, baud, fingerprint)) {
        chip_family = 2;
        return true;
    }
    chip_family = 1;
    return _get_fingerprint_imx(display, *this, storage_dir, port, serial, birdPath, fingerprint, reset);
}
