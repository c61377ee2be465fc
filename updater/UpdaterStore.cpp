#include "UpdaterStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "BuildPath.h"
#include "Log.h"
#include "UpdaterStoreListing.h"
#include "aDirectory.h"

using StoreListing::_find_item;
using StoreListing::_find_items;
using StoreListing::items_t;
using StoreListing::result_t;

namespace {

std::string serialName(unsigned serialNumber) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X", serialNumber);
    return name;
}

// True when the directory can be read and holds no entry but `name`.
bool holdsOnly(const std::string& directory, const std::string& name)
{
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return false;
    bool only = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != ".." && entryName != name)
            only = false;
    }
    closedir(dir);
    return only;
}

}  // namespace

UpdaterStore::UpdaterStore(const char* basePath, std::shared_ptr<StoreRun> run)
    : _run(run ? std::move(run) : std::make_shared<StoreRun>())
{
    if (basePath == nullptr || *basePath == '\0')
        throw std::runtime_error("UpdaterStore: Could not create directory  error " + std::to_string(aErrParam));
    _basePath = basePath;
    _ensure_directory(_basePath);
}

bool UpdaterStore::_ensure_directory(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        aErr err = aDirectory_Ensure(path.c_str(), 0755);
        // Ensure tolerates a name that exists as something else (a dangling link,
        // say): only a directory that is really there counts.
        if (err == aErrNone && !aDirectory_Exists(path.c_str())) err = aErrPermission;
        if (err != aErrNone)
            throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                     std::to_string(static_cast<int>(err)));
        Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
        return true;
    }
    if (!S_ISDIR(info.st_mode))
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
    return false;
}

UpdaterStoreItem UpdaterStore::AddDevice(unsigned serialNumber, bool* created)
{
    return AddDevice(serialName(serialNumber).c_str(), created);
}

UpdaterStoreItem UpdaterStore::AddDevice(const char* name, bool* created)
{
    const std::string device = name != nullptr ? name : "";
    // The name is one directory level below the base, never a path out of it.
    if (device.empty() || device == "." || device == ".." || device.find('/') != std::string::npos)
        throw std::runtime_error("UpdaterStore: invalid device name [" + device + "]");
    const bool made = _ensure_directory(BuildPath(_basePath.c_str(), device.c_str(), nullptr));
    if (created != nullptr)
        *created = made;
    return UpdaterStoreItem(_basePath.c_str(), device.c_str(), STORE_ITEM_DIRECTORY, _run);
}

bool UpdaterStore::RemoveNewDevice(const UpdaterStoreItem& device)
{
    if (!device.IsValid() || device.path != _basePath)
        return false;
    const std::string directory = BuildPath(_basePath.c_str(), device.name.c_str(), nullptr);
    const std::string settings = BuildPath(directory.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr);
    // Only what a new directory holds: the settings file with its two stamps.
    struct stat info;
    if (!holdsOnly(directory, KeyValueStore::DEFAULT_FILENAME) || lstat(settings.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return false;
    const KeyValueStore saved(settings.c_str());
    for (const auto& pair : saved.Pairs())
        if (pair.first != KeyValueStore::KEY_CREATED_TIME && pair.first != KeyValueStore::KEY_UPDATED_TIME)
            return false;
    if (saved.LoadFailed() || unlink(settings.c_str()) != 0)
        return false;
    return rmdir(directory.c_str()) == 0;
}

bool UpdaterStore::FindDevice(unsigned serialNumber, UpdaterStoreItem* item) {
    return FindDevice(serialName(serialNumber).c_str(), item);
}

bool UpdaterStore::FindDevice(const char* name, UpdaterStoreItem* item) {
    result_t result;
    result.name = name != nullptr ? name : "";
    result.item = item;
    result.want = STORE_ITEM_DIRECTORY;
    result.run = _run;
    // A base that cannot be listed simply holds no device.
    if (!result.name.empty()) aDirectory_List(_basePath.c_str(), _find_item, &result);
    if (result.error) std::rethrow_exception(result.error);
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", result.found ? "Found" : "Not Found",
             result.name.c_str());
    return result.found;
}

bool UpdaterStore::FindLocalBuilds(unsigned serialNumber, std::vector<UpdaterStoreItem>& items) {
    UpdaterStoreItem device;
    if (!FindDevice(serialNumber, &device)) return true;
    return FindLocalBuilds(device, items);
}

bool UpdaterStore::FindLocalBuilds(const UpdaterStoreItem& device, std::vector<UpdaterStoreItem>& items)
{
    if (!device.IsValid())
        return true;
    items_t collected;
    collected.items = &items;
    collected.run = _run;
    aDirectory_List(BuildPath(device.path.c_str(), device.name.c_str(), nullptr).c_str(), _find_items,
                    &collected);
    if (collected.error) std::rethrow_exception(collected.error);
    return true;
}
