// The update engine behind the command line: one object for the whole run and one
// method per command. Every method reports through the display and returns a plain
// result (a boolean, a build number with 0 for failure, a list or a text).
#ifndef MORV_UPDATER_UPDATER_H
#define MORV_UPDATER_UPDATER_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "StoreRun.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterStore.h"
#include "aError.h"
#include "aLinkSpec.h"

namespace Zorventa {
namespace Morvasset {
class Module;
}
}  // namespace Zorventa

class Updater {
public:
    // storeWait: how long the run may wait in all for store directories another run holds.
    Updater(const char* serverUrl, const char* storageDir, UpdaterDisplayInterface& userDisplay,
            std::chrono::milliseconds storeWait = StoreRun::DEFAULT_BOUND)
        : server_url(serverUrl != nullptr ? serverUrl : ""), storage_dir(storageDir != nullptr ? storageDir : ""),
          display(userDisplay), chip_family(0), uei_bytes_load(false), store_run(_newStoreRun(userDisplay, storeWait))
    {
    }
    ~Updater() = default;

    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    void Set_UEIBytes_Load(bool enable) { uei_bytes_load = enable; }

    // --- Update and transfer ---
    bool Update_Firmware(uint32_t serial, uint32_t build, std::string birdPath, uint8_t moduleAddress,
                         uint32_t routerSerial, bool override);
    // verb is "Updating" or "Recovering"; throws std::runtime_error.
    BirdFile load_bird(const char* verb, std::string birdPath, uint32_t serial, uint32_t build, bool download);

    // --- Download, build lists and feature token ---
    // build: decimal text, empty for the server's latest. The build stored, 0 on failure.
    uint32_t Download_Firmware(uint32_t serial, std::string build, bool override, bool noCal);
    uint32_t Download_Firmware(Fingerprint fingerprint, std::string build, bool override);
    // Build text to version text (empty when unknown).
    std::map<std::string, std::string> Get_BuildList(uint32_t serial);
    std::map<std::string, std::string> Get_BuildListLocal(uint32_t serial);
    // The token, empty on failure.
    std::string Get_JWT(uint32_t serial);

    // --- Recovery and fingerprint ---
    bool Get_Fingerprint(Fingerprint& fingerprint, std::string port, uint32_t serial, std::string birdPath,
                         uint32_t baud, bool reset);
    bool Recover_Firmware(std::string port, uint32_t build, uint32_t baud, uint32_t serial, std::string birdPath,
                          bool override);

    // --- Discovery ---
    // Type 0: USB, then TCP/IP; any other type only that one.
    std::vector<DeviceInfo> Discover_Devices(linkType type);
    // The modules behind a routing module, in address order. Type 0: the type the
    // router is found over.
    std::vector<DeviceInfo> Discover_MVNetwork_Devices(uint32_t routerSerial, linkType type);

    // --- Steps shared by the flows ---
    // The store on the directory, its turns the run's; null, after an error
    // message naming the caller, when it cannot be created.
    static std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                             const std::string& directory, const char* caller,
                                                             std::shared_ptr<StoreRun> run = nullptr);
    // What this run holds of the store and may still wait for (one per Updater,
    // whatever commands it runs).
    const std::shared_ptr<StoreRun>& storeRun() const { return store_run; }
    // Switches network serving and fallback off before a module's first connect, so
    // it is reached directly over the transport asked for.
    static aErr _disableEther(Zorventa::Morvasset::Module& module, UpdaterDisplayInterface& display);
    // True, after saying so, when something that is no regular file (a FIFO, a
    // folder, a device) stands where a bundle is expected.
    static bool _isSpecialBundle(UpdaterDisplayInterface& display, const std::string& path);

private:
    // A run that tells the display when it has to wait for another run.
    static std::shared_ptr<StoreRun> _newStoreRun(UpdaterDisplayInterface& display, std::chrono::milliseconds wait);

    // Steps of Update_Firmware. The connect steps return false when they gave
    // up (and said so); otherwise *err tells how the connect went.
    uint32_t storedLatestBuild(const UpdaterStoreItem& item, bool known, uint32_t serial);
    bool chooseBuild(const UpdaterStoreItem& item, bool known, uint32_t serial, uint32_t* build);
    bool loadBundle(const std::string& birdPath, uint32_t serial, uint32_t build, bool override, BirdFile* bundle);
    bool connectTarget(Zorventa::Morvasset::Module& target, uint8_t moduleAddress, uint32_t serial,
                       uint32_t routerSerial, linkType* reachedOver, aErr* err);
    bool connectThroughRouter(Zorventa::Morvasset::Module& target, uint8_t moduleAddress, uint32_t serial,
                              uint32_t routerSerial, aErr* err);
    bool findRoutedAddress(Zorventa::Morvasset::Module& target, uint32_t serial, uint32_t routerSerial);
    aErr transferBundle(Zorventa::Morvasset::Module& target, BirdFile& bundle, linkType reachedOver,
                        uint32_t serial, bool routed);
    bool holdStore(UpdaterStore& store, uint32_t serial, const std::string& bundle, UpdaterStoreItem* device,
                   StoreTurn* hold, bool* created, PreparedSave* record);
    bool recordTransfer(UpdaterStoreItem& device, PreparedSave& record, uint64_t start);

    std::string server_url;
    std::string storage_dir;
    UpdaterDisplayInterface& display;
    // Processor family Get_Fingerprint found: 1 i.MX, 2 NXP LPC.
    uint8_t chip_family;
    bool uei_bytes_load;
    std::shared_ptr<StoreRun> store_run;
};

#endif
