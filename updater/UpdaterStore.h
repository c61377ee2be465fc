// The local store: one directory per device below the storage directory,
// holding the device's bundle files and its settings file.
#ifndef MORV_UPDATER_UPDATERSTORE_H
#define MORV_UPDATER_UPDATERSTORE_H

#include <memory>
#include <string>
#include <vector>

#include "StoreRun.h"
#include "UpdaterStoreItem.h"

class UpdaterStore {
public:
    // Creates the base directory (0755) when missing; throws std::runtime_error
    // when it cannot be created or a file stands in its place. The items' turns
    // in device directories are the run's (none: the store is a run of its own).
    explicit UpdaterStore(const char* basePath, std::shared_ptr<StoreRun> run = nullptr);

    const char* BasePath() const { return _basePath.c_str(); }

    // The device's directory, created when missing (*created, when given, tells
    // whether it was); throws as the constructor does, and for a name that is
    // not a plain directory name.
    UpdaterStoreItem AddDevice(unsigned serialNumber, bool* created = nullptr);
    UpdaterStoreItem AddDevice(const char* name, bool* created = nullptr);
    // Removes a device directory AddDevice created while it holds nothing but
    // the settings file made with it (its two time stamps, no record); true
    // when it is gone. For a run that made it and then recorded nothing.
    bool RemoveNewDevice(const UpdaterStoreItem& device);

    // True when the base directory holds a directory of exactly this name
    // ("%08X" of the serial number); fills the item, when given, with it.
    bool FindDevice(unsigned serialNumber, UpdaterStoreItem* item);
    bool FindDevice(const char* name, UpdaterStoreItem* item);

    // Appends an item for every entry of the device's directory whose name does
    // not begin with "."; nothing when the device has no directory. Always true.
    bool FindLocalBuilds(unsigned serialNumber, std::vector<UpdaterStoreItem>& items);
    // The same for a device FindDevice found already.
    bool FindLocalBuilds(const UpdaterStoreItem& device, std::vector<UpdaterStoreItem>& items);

private:
    // True when it made the directory.
    static bool _ensure_directory(const std::string& path);

    std::string _basePath;
    std::shared_ptr<StoreRun> _run;
};

#endif
