#include <stdexcept>

#include "Updater.h"

std::unique_ptr<UpdaterStore> Updater::_createUpdaterStore(UpdaterDisplayInterface& display,
                                                           const std::string& directory, const char* caller)
{
    try {
        return std::make_unique<UpdaterStore>(directory.c_str());
    } catch (const std::exception& e) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to Create UpdaterStore in: %s - Exception: %s",
                        caller != nullptr ? caller : "", e.what());
    }
    return nullptr;
}
