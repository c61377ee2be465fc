// Build lists: the builds the update server offers for a module, and the
// bundles stored locally for it, each with its version text.
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "BuildPath.h"
#include "Log.h"
#include "PrintableText.h"
#include "UpdateServerRequest.h"
#include "Updater.h"

namespace {

// The version a stored bundle carries; empty when it has none or does not load.
std::string storedVersion(const UpdaterStoreItem& entry)
{
    if (!entry.IsValid())
        return std::string();
    const std::string path = BuildPath(entry.path.c_str(), entry.name.c_str(), nullptr);
    // VerifyFile opens only a regular file: a FIFO left here never blocks the listing.
    if (!BirdFile::VerifyFile(path.c_str())) {
        Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", PrintableText(path).c_str());
        return std::string();
    }
    try {
        BirdFile bundle(path.c_str());
        return bundle.GetVersion();
    } catch (const std::exception& e) {
        // One broken bundle must not end the listing of the others.
        Log::log(DEBUG_Updater, "Could not load birdfile %s: %s\n", PrintableText(path).c_str(), e.what());
    }
    return std::string();
}

}  // namespace

std::map<std::string, std::string> Updater::Get_BuildList(uint32_t serial)
{
    std::map<std::string, std::string> builds;
    if (!UpdateServerRequest::ping(server_url.c_str())) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Server request failed for %s", server_url.c_str());
        return builds;
    }
    if (!UpdateServerRequest::GetBuildList(serial, builds, server_url.c_str()))
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to retrieve builds for %08X", serial);
    return builds;
}

std::map<std::string, std::string> Updater::Get_BuildListLocal(uint32_t serial)
{
    std::map<std::string, std::string> builds;
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storage_dir, "Get_BuildListLocal", store_run);
    if (!store)
        return builds;
    std::vector<UpdaterStoreItem> entries;
    try {
        // One turn in the device's directory: the listing needs no other.
        UpdaterStoreItem device;
        if (store->FindDevice(serial, &device)) {
            if (device.attributes.LoadFailed())
                display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to read the settings in %s",
                                device.attributes.Path().c_str());
            store->FindLocalBuilds(device, entries);
        }
    } catch (const std::exception& e) {
        // What the listing gathered before the failure is still shown.
        Log::log(DEBUG_Updater, "Get_BuildListLocal: listing stopped: %s\n", e.what());
    }
    for (const UpdaterStoreItem& entry : entries) {
        const std::string::size_type bird = entry.name.find(".bird");
        const std::string key = bird == std::string::npos ? entry.name : entry.name.substr(0, bird);
        builds.emplace(key, storedVersion(entry));
    }
    return builds;
}
