#include "UpdaterStoreItem.h"

#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "BirdFile.h"
#include "BuildPath.h"
#include "Log.h"
#include "ReplaceFile.h"
#include "UpdaterStoreListing.h"
#include "aDirectory.h"

using StoreListing::_find_item;
using StoreListing::result_t;

namespace {

// The files the store writes in a device directory: its settings and the
// bundles named after their builds. Their temporaries alone are its own.
bool isStoreFileName(const std::string& name)
{
    if (name == KeyValueStore::DEFAULT_FILENAME)
        return true;
    const std::string suffix = ".bird";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    return name.find_first_not_of("0123456789") == name.size() - suffix.size();
}

// A file name that stays inside the item's directory.
bool isPlainName(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    const std::string text = name;
    return text != "." && text != ".." && text.find('/') == std::string::npos;
}

}  // namespace

UpdaterStoreItem::UpdaterStoreItem(const char* path, const char* name, store_item_t type, std::shared_ptr<StoreRun> run)
    : path(path != nullptr ? path : ""), name(name != nullptr ? name : ""), type(type), run(std::move(run))
{
    LoadAttributes();
}

// A turn in the item's directory: the lock on it, held while this run reads
// and writes there. Every writer there holds it, so the temporary files a
// run finds when it takes the lock are leftovers of runs that died, and are
// removed. Where the file system has no such lock, writes go on without it
// (their temporaries are unique all the same) and nothing is removed.
StoreTurn UpdaterStoreItem::Hold() const
{
    const std::string directory = BuildPath(path.c_str(), name.c_str(), nullptr);
    StoreTurn turn = run ? run->Take(directory) : StoreRun().Take(directory);
    if (turn.Fresh())
        ReplaceFile::RemoveLeftovers(turn.Fd(), isStoreFileName);
    else if (!turn.Held())
        Log::log(DEBUG_Updater, "UpdaterStore: cannot lock %s (%d).\n", directory.c_str(), turn.Error());
    return turn;
}

void UpdaterStoreItem::LoadAttributes() {
    // An item without a directory has no settings file; never touch "//.settings".
    if (!IsValid()) return;
    const std::string settings = settingsPath();
    if (type != STORE_ITEM_DIRECTORY) {
        attributes.Load(settings.c_str());
        return;
    }
    // Read (or created) whole, never while another run replaces it. Without
    // the lock it is read all the same, but not created: another run may be
    // recording there.
    const StoreTurn turn = Hold();
    struct stat info;
    if (!turn.MayWrite() && lstat(settings.c_str(), &info) != 0)
        return;
    attributes.Load(settings.c_str());
}

std::string UpdaterStoreItem::settingsPath() const
{
    return BuildPath(path.c_str(), name.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr);
}

bool UpdaterStoreItem::PrepareRecord(const KeyValueStore& changes, PreparedSave* prepared, int* cause) const
{
    *cause = 0;
    if (!IsValid())
        return false;
    const StoreTurn turn = Hold();
    if (!turn.MayWrite())
        return false;
    KeyValueStore fresh(settingsPath().c_str());
    fresh.Add(changes);
    return fresh.Prepare(nullptr, prepared, cause);
}

bool UpdaterStoreItem::CommitRecord(PreparedSave& prepared, const KeyValueStore& renewed, int* cause)
{
    if (!prepared.Commit(renewed, cause))
        return false;
    attributes = prepared.Store();
    return true;
}

bool UpdaterStoreItem::RecordAttributes(const KeyValueStore& changes) {
    if (!IsValid()) return false;
    const StoreTurn turn = Hold();
    if (!turn.MayWrite()) return false;
    KeyValueStore fresh(settingsPath().c_str());
    fresh.Add(changes);
    if (!fresh.Save(nullptr)) return false;
    attributes = fresh;
    return true;
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

aErr UpdaterStoreItem::WriteFile(const char* fileName, const unsigned char* data, size_t length, int* cause) const {
    int unused = 0;
    int& why = cause != nullptr ? *cause : unused;
    why = 0;
    if (data == nullptr) return aErrNotFound;
    if (!IsValid()) return aErrNotFound;
    if (!isPlainName(fileName)) return aErrParam;
    const std::string full = BuildPath(path.c_str(), name.c_str(), fileName, nullptr);

    const StoreTurn turn = Hold();
    if (!turn.MayWrite()) {
        // Another run keeping the directory is no error of the system's.
        if (turn.TimedOut()) return aErrBusy;
        why = turn.Error();
        return aErrNotFound;
    }
    ReplaceFile out(full);
    if (!out.Open()) {
        why = errno;
        Log::log(DEBUG_Updater, "UpdaterStore: cannot create a temporary file for %s (%d).\n", full.c_str(), why);
        return aErrNotFound;
    }
    aErr err = out.Write(data, length) ? aErrNone : aErrIO;
    if (err == aErrNone) err = out.Commit();
    if (err != aErrNone) {
        why = errno;
        Log::log(DEBUG_Updater, "UpdaterStore: writing %s failed with %d.\n", full.c_str(), static_cast<int>(err));
    }
    // A failure leaves the old file; the temporary one goes with `out`.
    return err;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) const {
    const std::string full = BuildPath(path.c_str(), name.c_str(), fileName != nullptr ? fileName : "", nullptr);
    if (!BirdFile::VerifyFile(full.c_str())) throw std::runtime_error("Invalid bird " + full);
    return BirdFile(full.c_str());
}
