// Directory-listing callbacks of the local store.
#ifndef MORV_UPDATER_UPDATERSTORELISTING_H
#define MORV_UPDATER_UPDATERSTORELISTING_H

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "UpdaterStoreItem.h"
#include "aDirectory.h"

// A namespace of their own: names beginning with "_" are reserved at global scope.
namespace StoreListing {

// What _find_item looks for and what it found.
struct result_t {
    bool found = false;
    std::string name;                  // the entry's own name, compared exactly
    UpdaterStoreItem* item = nullptr;  // filled when found, when not null
    store_item_t want = STORE_ITEM_DIRECTORY;  // the kind of entry that counts
    std::exception_ptr error;          // an exception kept from crossing the C lister
    std::shared_ptr<StoreRun> run;     // the items' run
};

// What _find_items collects.
struct items_t {
    std::vector<UpdaterStoreItem>* items = nullptr;
    std::exception_ptr error;
    std::shared_ptr<StoreRun> run;  // the items' run
};

// The entry's own name: the part of its full path after the last "/".
std::string EntryName(const char* fullPath);
// Sets path, name, type and run from a listed entry.
void SetItem(UpdaterStoreItem& item, const aDirectoryListData* data, const std::shared_ptr<StoreRun>& run);
// The same, and loads the entry's settings.
void FillItem(UpdaterStoreItem& item, const aDirectoryListData* data, const std::shared_ptr<StoreRun>& run);

// Reference: result_t. Stops at the first entry of the wanted kind and name.
uint8_t _find_item(const aDirectoryListData* data, void* reference);
// Reference: items_t. Appends an item for every entry not beginning with "."
// (a folder's without its settings).
uint8_t _find_items(const aDirectoryListData* data, void* reference);

}  // namespace StoreListing

#endif
