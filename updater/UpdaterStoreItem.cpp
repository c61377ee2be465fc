#include "UpdaterStoreItem.h"

#include <stdexcept>

#include "BirdFile.h"
#include "BuildPath.h"
#include "Log.h"
#include "ReplaceFile.h"
#include "UpdaterStoreListing.h"
#include "aDirectory.h"

using StoreListing::_find_item;
using StoreListing::result_t;
#include "aFile.h"

namespace {

// A file name that stays inside the item's directory.
bool isPlainName(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    const std::string text = name;
    return text != "." && text != ".." && text.find('/') == std::string::npos;
}

}  // namespace

UpdaterStoreItem::UpdaterStoreItem(const char* path, const char* name, store_item_t type)
    : path(path != nullptr ? path : ""), name(name != nullptr ? name : ""), type(type) {
    // An item without a directory has no settings file; never touch "//.settings".
    if (IsValid())
        attributes.Load(
            BuildPath(this->path.c_str(), this->name.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr).c_str());
}

bool UpdaterStoreItem::FileExists(const char* fileName) const {
    bool found = false;
    if (IsValid() && fileName != nullptr) {
        result_t result;
        result.name = fileName;
        result.want = STORE_ITEM_FILE;
        aDirectory_List(BuildPath(path.c_str(), name.c_str(), nullptr).c_str(), _find_item, &result);
        if (result.error) std::rethrow_exception(result.error);
        found = result.found;
    }
    Log::log(DEBUG_Updater, "UpdaterStore: FileExists %s %s.\n", found ? "Found" : "Not Found",
             fileName != nullptr ? fileName : "(null)");
    return found;
}

aErr UpdaterStoreItem::WriteFile(const char* fileName, const unsigned char* data, size_t length) const {
    if (data == nullptr) return aErrNotFound;
    if (!IsValid()) return aErrNotFound;
    if (!isPlainName(fileName)) return aErrParam;
    const std::string full = BuildPath(path.c_str(), name.c_str(), fileName, nullptr);

    ReplaceFile out(full);
    aFile* file = out.Open();
    if (file == nullptr) {
        Log::log(DEBUG_Updater, "UpdaterStore: cannot create %s.\n", out.Temp().c_str());
        return aErrNotFound;
    }
    size_t written = 0;
    aErr err = aFile_Write(file, data, length, &written);
    if (err == aErrNone && written != length) err = aErrIO;
    if (err == aErrNone) err = out.Commit();
    if (err != aErrNone)
        Log::log(DEBUG_Updater, "UpdaterStore: writing %s failed with %d.\n", full.c_str(), static_cast<int>(err));
    // A failure leaves the old file; the temporary one goes with `out`.
    return err;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) const {
    const std::string full = BuildPath(path.c_str(), name.c_str(), fileName != nullptr ? fileName : "", nullptr);
    if (!BirdFile::VerifyFile(full.c_str())) throw std::runtime_error("Invalid bird " + full);
    return BirdFile(full.c_str());
}
