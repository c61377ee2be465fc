#include "UpdaterStoreListing.h"

#include <cstring>

#include "BuildPath.h"
#include "Log.h"

namespace StoreListing {

std::string EntryName(const char* fullPath) {
    const char* slash = std::strrchr(fullPath, '/');
    return slash != nullptr ? std::string(slash + 1) : std::string(fullPath);
}

void SetItem(UpdaterStoreItem& item, const aDirectoryListData* data, const std::shared_ptr<StoreRun>& run)
{
    const std::string full = data->path;
    const std::string::size_type slash = full.rfind('/');
    item.path = slash != std::string::npos ? full.substr(0, slash) : std::string();
    item.name = slash != std::string::npos ? full.substr(slash + 1) : full;
    item.type = data->isDirectory != 0 ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE;
    item.run = run;
}

void FillItem(UpdaterStoreItem& item, const aDirectoryListData* data, const std::shared_ptr<StoreRun>& run)
{
    SetItem(item, data, run);
    item.LoadAttributes();
}

uint8_t _find_item(const aDirectoryListData* data, void* reference) {
    result_t* result = static_cast<result_t*>(reference);
    try {
        Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", data->path,
                 static_cast<int>(data->isDirectory), static_cast<int>(data->size), result->name.c_str());
        const std::string name = EntryName(data->path);
        if (name == "." || name == ".." || name != result->name) return 1;
        // A file named like a device is not the device, and a directory is no bundle file.
        const bool isDirectory = data->isDirectory != 0;
        if (isDirectory != (result->want == STORE_ITEM_DIRECTORY)) return 1;
        result->found = true;
        if (result->item != nullptr)
            FillItem(*result->item, data, result->run);
    } catch (...) {
        result->error = std::current_exception();
    }
    return 0;
}

uint8_t _find_items(const aDirectoryListData* data, void* reference) {
    items_t* collected = static_cast<items_t*>(reference);
    try {
        Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", data->path,
                 static_cast<int>(data->isDirectory), static_cast<int>(data->size));
        const std::string name = EntryName(data->path);
        if (name.empty() || name[0] == '.') return 1;
        UpdaterStoreItem item;
        // A folder among the bundles (or a link to one) is the user's, not a
        // device directory: nothing is read or written in it.
        if (data->isDirectory != 0)
            SetItem(item, data, collected->run);
        else
            FillItem(item, data, collected->run);
        collected->items->push_back(item);
        return 1;
    } catch (...) {
        collected->error = std::current_exception();
        return 0;
    }
}

}  // namespace StoreListing
