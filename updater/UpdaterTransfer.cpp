// Update of one module from a firmware bundle: choose and load the bundle,
// connect (directly or through a routing module), check that the bundle is
// meant for the module, send the loader and the firmware, record the transfer.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "BuildNumber.h"
#include "BuildPath.h"
#include "ErrorCause.h"
#include "KeyValueStore.h"
#include "Log.h"
#include "Module.h"
#include "PrintableText.h"
#include "RegularFile.h"
#include "SystemClass.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterEntity.h"
#include "UpdaterFirmwarePass.h"
#include "UpdaterStore.h"
#include "aDefs.h"
#include "aError.h"
#include "aTime.h"

using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;

namespace {

using Level = UpdaterDisplayInterface::Level;

const char* const kLatestDownload = "LATEST_DOWNLOAD";
const char* const kLatestTransfer = "LATEST_TRANSFER";
const char* const kLastTransferDate = "LAST_TRANSFER_DATE";

// A module that dropped its link after the loader pass is searched for this often.
constexpr unsigned kRediscoverAttempts = 15;
constexpr uint32_t kRediscoverDelayMs = 1000;
constexpr unsigned kFirmwareBlockAttempts = 5;

std::string bundleName(uint32_t build)
{
    return std::to_string(build) + ".bird";
}

std::string storedBundlePath(const UpdaterStoreItem& item, uint32_t build)
{
    return BuildPath(item.path.c_str(), item.name.c_str(), bundleName(build).c_str(), nullptr);
}

// The build a settings value names: a plain number or "<number>.bird" as the
// store names its bundles. Anything else (a bundle path given on the command
// line, say) names no build: 0.
uint32_t recordedBuild(const UpdaterStoreItem& item, const char* key)
{
    std::string text = item.attributes.GetString(key, "");
    const std::string suffix = ".bird";
    if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.resize(text.size() - suffix.size());
    uint32_t build = 0;
    if (!ParseBuildNumber(text, &build))
        return 0;
    return build;
}

const char* errorText(aErr err)
{
    const char* text = aError_GetErrorText(err);
    return text != nullptr ? text : "";
}

bool _validate_birdfile(UpdaterDisplayInterface& display, BirdFile& bundle, Module& module, uint32_t serial)
{
    // A bundle without firmware would reboot the module unchanged and count as updated.
    if (bundle.blockCount == 0 || bundle.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty())
        return false;
    if (!bundle.hasOffsets && !bundle.ValidateSerialNumber(serial))
        return false;

    Log::log(DEBUG_Updater, "UpdateFirmware() Connecting to device\n");
    SystemClass system;
    system.init(&module, 0);
    uint32_t moduleSerial = 0;
    aErr err = system.getSerialNumber(&moduleSerial);
    if (err != aErrNone)
        moduleSerial = 0;
    if (moduleSerial != serial) {
        Log::log(DEBUG_Updater, "Bird serial number and connected device don't match (%d).\n", static_cast<int>(err));
        return false;
    }

    uint8_t model = 0;
    err = system.getModel(&model);
    const char* name = aDefs_GetModelName(model);
    // A model that could not be read matches nothing.
    if (err != aErrNone || !bundle.ValidateModel(name)) {
        display.message(Level::LEVEL_ERROR, "Connected device model and Bird file model do not match [%s] (%d)", name,
                        static_cast<int>(err));
        return false;
    }
    return true;
}

aErr _transfer_loader(UpdaterDisplayInterface& display, Module& module, BirdFile& bundle)
{
    UpdaterEntity entity;
    entity.init(&module, 0, true, false);
    aErr err = entity.LoaderInit();
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "Error starting loader [%d, %s].\n", static_cast<int>(err), errorText(err));
        return err;
    }

    display.message(Level::LEVEL_INFO, "Transferring loader to device");
    const std::vector<BirdBlock> blocks = bundle.FindBlocks(BirdFile::BLOCK_LOADER);
    const int count = static_cast<int>(blocks.size());
    display.display_progress(true);
    int done = 0;
    uint64_t total = 0;
    for (const BirdBlock& block : blocks) {
        display.message(Level::LEVEL_INFO, "Transferring loader block %d of %d, %u bytes", done + 1, count,
                        block.length);
        uint16_t size = 0;
        err = entity.TransferPrepare(block.data, block.length, block.flags, size);
        if (err == aErrTimeout) {
            // Some loaders never answer PREPARE for their own image.
            err = aErrNone;
        } else if (err != aErrNone) {
            Log::log(DEBUG_Updater, "Error Preparing transfer [%d, %s].\n", static_cast<int>(err), errorText(err));
            break;
        }
        err = entity.LoaderTransfer(block.data, block.length);
        if (err != aErrNone) {
            Log::log(DEBUG_Updater, "Error loader transfer [%d, %s].\n", static_cast<int>(err), errorText(err));
            break;
        }
        total += block.length;
        ++done;
    }
    display.message(Level::LEVEL_INFO, "Transferred %d blocks, %llu total bytes", done,
                    static_cast<unsigned long long>(total));
    display.display_progress(false);
    if (err != aErrNone)
        return err;

    display.message(Level::LEVEL_INFO, "Starting Load on Device");
    err = entity.LoaderStart();
    if (err == aErrTimeout) {
        Log::log(DEBUG_Updater, "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n");
        err = aErrNone;
    } else if (err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Error starting loader [%d, %s]", static_cast<int>(err), errorText(err));
    }
    return err;
}

}  // namespace

// Shared with the i.MX recovery, whose recovery loader needs no loader pass.
aErr _transfer_firmware(UpdaterDisplayInterface& display, Module& module, BirdFile& bundle, bool routed,
                        bool useByteBuffers)
{
    UpdaterEntity entity;
    // Through a routing module the link stays up while the module reboots.
    entity.init(&module, 0, true, routed);
    if (useByteBuffers && entity.CheckUEIDataSupport() == aErrNone)
        (void)entity.CheckPooledPacketsSupport();

    Log::log(DEBUG_Updater, "Transferring firmware to device %s\n", bundle.path.c_str());
    const std::vector<BirdBlock> blocks = bundle.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    const unsigned count = static_cast<unsigned>(blocks.size());
    aErr err = aErrNone;
    unsigned done = 0;
    uint64_t total = 0;
    for (const BirdBlock& block : blocks) {
        for (unsigned attempt = 0; attempt < kFirmwareBlockAttempts; ++attempt) {
            display.message(Level::LEVEL_INFO, "Transferring firmware block %u of %u, %u bytes", done + 1, count,
                            block.length);
            if (attempt > 0)
                display.message(Level::LEVEL_INFO, "  Retry %u", attempt);
            uint16_t size = 0;
            err = entity.TransferPrepare(block.data, block.length, block.flags, size);
            if (err != aErrNone) {
                Log::log(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", static_cast<int>(err),
                         errorText(err));
                break;
            }
            err = entity.FirmwareTransfer(block.data, block.length, size, display);
            if (err == aErrNone)
                break;
            Log::log(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", static_cast<int>(err), errorText(err));
        }
        if (err != aErrNone) {
            Log::log(DEBUG_Updater, "Error firmware transfer block failed.\n");
            break;
        }
        total += block.length;
        ++done;
    }
    display.message(Level::LEVEL_INFO, "Transferred %u blocks, %llu total bytes", done,
                    static_cast<unsigned long long>(total));
    if (err != aErrNone)
        return err;
    return entity.LoaderReboot(display);
}

namespace {

// The I2C address of the last entry with the serial number; 0 when none.
uint8_t routedAddress(const std::vector<DeviceInfo>& devices, uint32_t serial)
{
    uint16_t address = 0;
    for (const DeviceInfo& device : devices)
        if (device.spec.serialNumber == serial)
            address = device.i2cAddress;
    // A bus address is one even byte.
    if (address > 0xFF || (address & 1u) != 0)
        return 0;
    return static_cast<uint8_t>(address);
}

// Connects the module by USB, else over TCP/IP when USB does not find it.
aErr connectDirect(Module& module, uint32_t serial, linkType* reachedOver)
{
    *reachedOver = linkTypeUSB;
    aErr err = module.connect(linkTypeUSB, serial);
    if (err == aErrNotFound) {
        *reachedOver = linkTypeTCPIP;
        err = module.connect(linkTypeTCPIP, serial);
    }
    return err;
}

// Looks for a module that dropped its link again, over the transport it was
// reached by.
void rediscover(Module& target, linkType reachedOver, uint32_t serial)
{
    target.disconnect();
    for (unsigned attempt = 0; attempt < kRediscoverAttempts; ++attempt) {
        target.discoverAndConnect(reachedOver, serial);
        if (target.isConnected())
            break;
        aTime_MSSleep(kRediscoverDelayMs);
    }
}

}  // namespace

bool Updater::_isSpecialBundle(UpdaterDisplayInterface& display, const std::string& path)
{
    if (!IsSpecialFile(path))
        return false;
    display.message(Level::LEVEL_ERROR, "Birdfile %s is not a regular file", PrintableText(path).c_str());
    return true;
}

BirdFile Updater::load_bird(const char* verb, std::string birdPath, uint32_t serial, uint32_t build, bool download)
{
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storage_dir, "load_bird", store_run);
    if (!store)
        return BirdFile();
    if (verb == nullptr)
        verb = "";

    if (!birdPath.empty()) {
        display.message(Level::LEVEL_INFO, "%s from Birdfile: %s", verb, PrintableText(birdPath).c_str());
        if (_isSpecialBundle(display, birdPath))
            throw std::runtime_error("Error reading birdfile");
        return BirdFile(birdPath.c_str());
    }

    const UpdaterStoreItem item = store->AddDevice(serial);
    display.message(Level::LEVEL_INFO, "%s firmware with build: %u", verb, build);
    try {
        return item.ReadBirdFile(bundleName(build).c_str());
    } catch (const std::runtime_error&) {
        _isSpecialBundle(display, storedBundlePath(item, build));
        if (!download)
            throw std::runtime_error("Error reading birdfile");
    }

    display.message(Level::LEVEL_INFO, "Downloading firmware build %u", build);
    const uint32_t stored = Download_Firmware(serial, std::to_string(build), false, false);
    // The download names the bundle after the build it stored, which is the
    // server's latest when no build was asked for.
    if (stored == 0)
        throw std::runtime_error("Error reading birdfile");
    return item.ReadBirdFile(bundleName(stored).c_str());
}

// The server's latest build when its bundle is stored here already, else 0.
uint32_t Updater::storedLatestBuild(const UpdaterStoreItem& item, bool known, uint32_t serial)
{
    std::string buildText;
    std::string versionText;
    if (!UpdateServerRequest::QueryBuild(serial, buildText, versionText, server_url.c_str()))
        buildText.clear();
    uint32_t build = 0;
    if (!ParseBuildNumber(buildText, &build) && !buildText.empty())
        Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", PrintableText(buildText).c_str());
    if (build == 0)
        return 0;
    // Only to learn whether the server's latest build is stored here; without
    // a device directory nothing is.
    if (known) {
        try {
            item.ReadBirdFile(bundleName(build).c_str());
            return build;
        } catch (const std::runtime_error&) {
            _isSpecialBundle(display, storedBundlePath(item, build));
        }
    }
    display.message(Level::LEVEL_INFO, "New firmware is available.  Updater will proceed if valid firmware is found locally.");
    return 0;
}

bool Updater::chooseBuild(const UpdaterStoreItem& item, bool known, uint32_t serial, uint32_t* build)
{
    if (*build == 0)
        *build = storedLatestBuild(item, known, serial);
    // Else the build last downloaded, else the one last transferred.
    static const struct {
        const char* key;
        const char* message;
    } kRecorded[] = {
        {kLatestDownload, "Updating with the Latest Download"},
        {kLatestTransfer, "Updating with the Latest Transfer"},
    };
    for (const auto& recorded : kRecorded) {
        if (*build != 0)
            break;
        *build = recordedBuild(item, recorded.key);
        if (*build != 0)
            display.message(Level::LEVEL_INFO, "%s", recorded.message);
    }
    if (*build == 0) {
        display.message(Level::LEVEL_ERROR, "Could not find valid build for this device.");
        return false;
    }
    return true;
}

bool Updater::loadBundle(const std::string& birdPath, uint32_t serial, uint32_t build, bool override,
                         BirdFile* bundle)
{
    try {
        *bundle = load_bird("Updating", birdPath, serial, build, false);
    } catch (const std::runtime_error&) {
        display.message(Level::LEVEL_ERROR, "Failed to load bird file");
        return false;
    }

    // Not even an override makes a bundle without firmware an update.
    if (override && bundle->FindBlocks(BirdFile::BLOCK_FIRMWARE).empty()) {
        display.message(Level::LEVEL_ERROR, "Birdfile holds no firmware blocks");
        return false;
    }

    if (bundle->hasOffsets) {
        Log::log(DEBUG_Updater, "Setting serial number into firmware... ");
        if (!bundle->ReplaceSerialNumber(serial)) {
            Log::log(DEBUG_Updater, "Error: Unable to modify serial number in bird.\n");
            return false;
        }
        Log::log(DEBUG_Updater, " Serial Number inserted into firmware.\n");
    }
    return true;
}

bool Updater::findRoutedAddress(Module& target, uint32_t serial, uint32_t routerSerial)
{
    const std::vector<DeviceInfo> devices = Discover_MVNetwork_Devices(routerSerial, 0);
    if (devices.empty()) {
        display.message(Level::LEVEL_ERROR, "Unable to find modules on Network");
        return false;
    }
    const uint8_t address = routedAddress(devices, serial);
    if (address == 0) {
        display.message(Level::LEVEL_ERROR,
                        "Module address required for indirect firmware update, could not find serial "
                        "number [0x%08X] on network",
                        serial);
        return false;
    }
    target.setModuleAddress(address);
    return true;
}

bool Updater::connectThroughRouter(Module& target, uint8_t moduleAddress, uint32_t serial, uint32_t routerSerial,
                                   aErr* err)
{
    if (moduleAddress == 0 && !findRoutedAddress(target, serial, routerSerial))
        return false;
    // The routing module's object goes when this function ends; the link it
    // opened lives on with the target.
    Module link(0, 0);
    *err = _disableEther(link, display);
    if (*err != aErrNone)
        return true;
    linkType routerOver = linkTypeUSB;
    *err = connectDirect(link, routerSerial, &routerOver);
    if (*err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Failed to connect to link module [%08X]", routerSerial);
        return false;
    }
    *err = target.connectThroughLinkModule(&link);
    if (*err != aErrNone)
        display.message(Level::LEVEL_ERROR, "Failed to connect to module [%08X]", serial);
    return true;
}

bool Updater::connectTarget(Module& target, uint8_t moduleAddress, uint32_t serial, uint32_t routerSerial,
                            linkType* reachedOver, aErr* err)
{
    *reachedOver = linkTypeUSB;
    *err = _disableEther(target, display);
    if (*err != aErrNone)
        return true;
    if (routerSerial != 0)
        return connectThroughRouter(target, moduleAddress, serial, routerSerial, err);
    *err = connectDirect(target, serial, reachedOver);
    if (*err != aErrNone)
        display.message(Level::LEVEL_ERROR, "Failed to connect to module [%08X]", serial);
    return true;
}

aErr Updater::transferBundle(Module& target, BirdFile& bundle, linkType reachedOver, uint32_t serial, bool routed)
{
    aErr err = _transfer_loader(display, target, bundle);
    if (err == aErrNone && !target.isConnected())
        rediscover(target, reachedOver, serial);
    if (err == aErrNone)
        err = _transfer_firmware(display, target, bundle, routed, uei_bytes_load);
    return err;
}

namespace {

// " (<why>)" for a system error, nothing when there is none.
std::string because(int cause)
{
    return cause != 0 ? " (" + ErrorCause(cause, aErrNone) + ")" : std::string();
}

// The record of a transfer of the bundle (a build's file name, or the path
// given), dated now.
KeyValueStore transferRecord(const std::string& bundle)
{
    KeyValueStore record;
    // A value must stay on its own settings line.
    record.Add(kLatestTransfer, PrintableText(bundle));
    record.Add(kLastTransferDate, KeyValueStore::TimeStamp());
    return record;
}

}  // namespace

// The store is made sure of before the module is touched: the device's
// directory (made now if the update came from a bundle path for a module
// never seen before) is held until the transfer is recorded, and the record
// is written there ahead, so that after the flash only its date and a rename
// are left (nothing that needs space). False, after saying so, when it cannot.
bool Updater::holdStore(UpdaterStore& store, uint32_t serial, const std::string& bundle, UpdaterStoreItem* device,
                        StoreTurn* hold, bool* created, PreparedSave* record)
{
    try {
        *device = store.AddDevice(serial, created);
    } catch (const std::runtime_error& e) {
        display.message(Level::LEVEL_ERROR, "Cannot record the transfer: %s; not updating the module", e.what());
        return false;
    }
    *hold = device->Hold();
    int cause = 0;
    if (!hold->MayWrite() || !device->PrepareRecord(transferRecord(bundle), record, &cause)) {
        display.message(Level::LEVEL_ERROR, "Cannot record the transfer in %s%s; not updating the module",
                        device->attributes.Path().c_str(), because(cause).c_str());
        return false;
    }
    return true;
}

// A device directory made for an update that then recorded nothing goes again
// (while the update still holds it), so a failed update leaves no trace.
class NewDeviceUndo {
public:
    NewDeviceUndo(UpdaterStore& store, const UpdaterStoreItem& device, const bool& created)
        : store_(store), device_(device), created_(created)
    {
    }
    ~NewDeviceUndo()
    {
        if (created_ && !kept_)
            store_.RemoveNewDevice(device_);
    }
    NewDeviceUndo(const NewDeviceUndo&) = delete;
    NewDeviceUndo& operator=(const NewDeviceUndo&) = delete;
    void Keep() { kept_ = true; }

private:
    UpdaterStore& store_;
    const UpdaterStoreItem& device_;
    const bool& created_;
    bool kept_ = false;
};

bool Updater::recordTransfer(UpdaterStoreItem& device, PreparedSave& record, uint64_t start)
{
    KeyValueStore done;
    done.Add(kLastTransferDate, KeyValueStore::TimeStamp());
    int cause = 0;
    if (!device.CommitRecord(record, done, &cause)) {
        display.message(Level::LEVEL_ERROR, "Failed to record the transfer in %s%s", device.attributes.Path().c_str(),
                        because(cause).c_str());
        return false;
    }
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    display.message(Level::LEVEL_INFO, "Update time: %.4f sec",
                    static_cast<double>(aTime_GetMSTicks() - start) / 1000.0);
    return true;
}

bool Updater::Update_Firmware(uint32_t serial, uint32_t build, std::string birdPath, uint8_t moduleAddress,
                              uint32_t routerSerial, bool override)
{
    if (serial == 0) {
        display.message(Level::LEVEL_ERROR, "Update command must specify the specific device");
        return false;
    }
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storage_dir, "Update_Firmware", store_run);
    if (!store)
        return false;
    UpdaterStoreItem item;
    const bool known = store->FindDevice(serial, &item);
    const uint64_t start = aTime_GetMSTicks();

    BirdFile bundle;
    if ((birdPath.empty() && !chooseBuild(item, known, serial, &build)) ||
        !loadBundle(birdPath, serial, build, override, &bundle))
        return false;

    const std::string recorded = birdPath.empty() ? bundleName(build) : birdPath;
    UpdaterStoreItem device;
    StoreTurn hold;  // outlives the module, the record and the undo
    bool created = false;
    NewDeviceUndo undo(*store, device, created);
    PreparedSave record;  // its temporary goes before the undo looks at the directory
    if (!holdStore(*store, serial, recorded, &device, &hold, &created, &record))
        return false;

    // Giving up after a failed connect has been reported already.
    Module target(moduleAddress, 0);
    linkType reachedOver = linkTypeUSB;
    aErr err = aErrNone;
    if (!connectTarget(target, moduleAddress, serial, routerSerial, &reachedOver, &err))
        return false;
    if (err == aErrNone && !override && !_validate_birdfile(display, bundle, target, serial)) {
        display.message(Level::LEVEL_ERROR, "Birdfile failed validation");
        return false;
    }
    if (err == aErrNone)
        err = transferBundle(target, bundle, reachedOver, serial, routerSerial != 0);
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", static_cast<int>(err));
        return false;
    }
    undo.Keep();
    return recordTransfer(device, record, start);
}
