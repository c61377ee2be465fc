// One entry of the local store (a device directory or a file) and its settings.
#ifndef MORV_UPDATER_UPDATERSTOREITEM_H
#define MORV_UPDATER_UPDATERSTOREITEM_H

#include <cstddef>
#include <memory>
#include <string>

#include "KeyValueStore.h"
#include "StoreRun.h"
#include "aError.h"

class BirdFile;

enum store_item_t {
    STORE_ITEM_FILE = 0,       // an entry that is not a directory
    STORE_ITEM_DIRECTORY = 1,  // a directory
    STORE_ITEM_NONE = 2,       // not set
};

class UpdaterStoreItem {
public:
    UpdaterStoreItem() = default;
    // Loads path/name/.settings into the attributes, creating the file when
    // missing; its turns in the directory are the run's (none: a run of their own each).
    UpdaterStoreItem(const char* path, const char* name, store_item_t type, std::shared_ptr<StoreRun> run = nullptr);
    UpdaterStoreItem(const UpdaterStoreItem&) = default;
    UpdaterStoreItem& operator=(const UpdaterStoreItem&) = default;

    bool IsValid() const { return !path.empty() && !name.empty(); }

    // Merges path/name/.settings into the attributes, creating the file when
    // missing; a directory's under its lock (see RecordAttributes).
    void LoadAttributes();
    // Records the pairs of `changes` in the directory's settings file: under the
    // directory's lock, the file is read afresh, the pairs added and the file
    // saved, so that no other run's record is lost. The attributes then hold
    // the file as saved. False when the lock, the reading or the saving failed.
    bool RecordAttributes(const KeyValueStore& changes);
    // The record of `changes` made ready ahead of a step that cannot be
    // undone: under the directory's lock (which the caller holds until it
    // commits), the settings file is read afresh, the pairs added and the
    // whole new file written and synced beside it (PreparedSave). False, with
    // *cause the system's error (0 when there is none), when the lock, the
    // reading or the writing failed; nothing is left then.
    bool PrepareRecord(const KeyValueStore& changes, PreparedSave* prepared, int* cause) const;
    // Puts a prepared record in place with the pairs of `renewed` (see
    // PreparedSave::Commit); the attributes then hold the file as saved.
    bool CommitRecord(PreparedSave& prepared, const KeyValueStore& renewed, int* cause);
    // A turn in the item's directory, taken now: while it lives, the run's
    // other turns there are its own at once, and no other run gets one.
    StoreTurn Hold() const;

    // True when the item's directory holds a file (not a directory) of exactly this name.
    bool FileExists(const char* fileName) const;

    // Replaces path/name/fileName with the data, under the directory's lock.
    // aErrNotFound without data or when the file cannot be created; aErrBusy
    // when the lock cannot be had; the write or close error otherwise; *cause
    // (when given) the system's error behind it, 0 when there is none. A
    // failed write leaves any earlier file of that name as it was.
    aErr WriteFile(const char* fileName, const unsigned char* data, size_t length, int* cause = nullptr) const;

    // The bundle path/name/fileName; throws std::runtime_error "Invalid bird <path>"
    // when it is not a bundle, or the loader's error when it does not load.
    BirdFile ReadBirdFile(const char* fileName) const;

    std::string path;  // the directory that holds the entry
    std::string name;  // the entry's own name
    store_item_t type = STORE_ITEM_NONE;
    KeyValueStore attributes;
    std::shared_ptr<StoreRun> run;  // whose turns the item takes

private:
    // path/name/.settings
    std::string settingsPath() const;
};

#endif
