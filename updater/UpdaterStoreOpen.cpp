#include <stdexcept>
#include <string>
#include <utility>

#include "Updater.h"

std::shared_ptr<StoreRun> Updater::_newStoreRun(UpdaterDisplayInterface& display, std::chrono::milliseconds wait)
{
    UpdaterDisplayInterface* shown = &display;
    return std::make_shared<StoreRun>(
        wait,
        [shown](const std::string& directory, unsigned seconds) {
            shown->message(UpdaterDisplayInterface::LEVEL_INFO, "Another run holds %s: waiting up to %u sec for it",
                           directory.c_str(), seconds);
        },
        [shown](const std::string& directory, unsigned) {
            shown->message(UpdaterDisplayInterface::LEVEL_ERROR, "Another run still holds %s: gave up waiting for it",
                           directory.c_str());
        });
}

std::unique_ptr<UpdaterStore> Updater::_createUpdaterStore(UpdaterDisplayInterface& display,
                                                           const std::string& directory, const char* caller,
                                                           std::shared_ptr<StoreRun> run)
{
    try {
        return std::make_unique<UpdaterStore>(directory.c_str(), std::move(run));
    } catch (const std::exception& e) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to Create UpdaterStore in: %s - Exception: %s",
                        caller != nullptr ? caller : "", e.what());
    }
    return nullptr;
}
