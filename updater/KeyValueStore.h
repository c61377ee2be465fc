// A small persistent dictionary of text keys and values, kept in key order and
// saved as "key=value" lines.
#ifndef MORV_UPDATER_KEYVALUESTORE_H
#define MORV_UPDATER_KEYVALUESTORE_H

#include <cstddef>
#include <map>
#include <memory>
#include <string>

class PreparedSave;
class ReplaceFile;

class KeyValueStore {
public:
    static const char* const DEFAULT_FILENAME;  // ".settings"
    static const char* const KEY_CREATED_TIME;  // "CREATED_TIME"
    static const char* const KEY_UPDATED_TIME;  // "UPDATED_TIME"

    // Loads the file when a path is given.
    explicit KeyValueStore(const char* path = nullptr);
    KeyValueStore(const KeyValueStore&) = default;
    KeyValueStore& operator=(const KeyValueStore&) = default;
    // Saves nothing.
    ~KeyValueStore() = default;

    // The value, or null when the key is absent; never inserts. The pointer
    // is valid until the store changes.
    const char* operator[](const char* key) const;

    // The numeric getters add an absent key with an empty value (without
    // making the store dirty) and return the default for an absent or empty value.
    int GetInt(const char* key, int defaultValue);
    unsigned GetHex(const char* key, unsigned defaultValue);
    bool GetBOOL(const char* key, bool defaultValue);
    double GetDouble(const char* key, double defaultValue);
    // A copy of the value when present (also when empty), else the default
    // (the empty text for a null default).
    std::string GetString(const char* key, const char* defaultValue) const;

    // The setters mark the store dirty only when the stored text changes.
    bool Add(const char* key, int value);
    bool Add(const char* key, double value);
    bool Add(const char* key, const char* value);
    bool Add(const char* key, const std::string& value);
    bool AddHex(const char* key, unsigned value);
    // Copies every pair of the other store, overwriting equal keys.
    bool Add(const KeyValueStore& other);
    // Removes all pairs; the path stays.
    bool Clear();

    // Merges the lines of the file into the pairs. A missing file is created
    // holding the two time stamps; a file that exists but cannot be read, or
    // is no regular file (a FIFO, a device), is left alone, and Save refuses
    // to replace it.
    void Load(const char* path);
    // Writes every pair to the path (the loaded one when null, else
    // ".settings"); a path that is a link is written where it points, and
    // stays a link. Returns false, keeping the store dirty and the old file,
    // when the file could not be written completely or the link leads nowhere.
    bool Save(const char* path);

    // Save ahead of a step that cannot be undone: writes what Save would
    // write (to the same file) into a temporary file beside it and syncs it,
    // leaving only PreparedSave::Commit to put it in place. False, with
    // *cause the system's error (0 when there is none), when Save would fail
    // now; nothing is left then.
    bool Prepare(const char* path, PreparedSave* prepared, int* cause);

    const std::string& Path() const { return _path; }
    bool IsDirty() const { return _dirty; }
    // True when the last Load found a file it could not read.
    bool LoadFailed() const { return !_unreadable.empty(); }
    const std::map<std::string, std::string>& Pairs() const { return _pairs; }

    // ctime's text of the current local time without its newline.
    static std::string TimeStamp();

private:
    friend class PreparedSave;

    bool set(const char* key, const std::string& text);
    // The file's text: every pair as a line, in key order.
    std::string text() const;
    // The file a save with the path writes (Save's choice of path, a link
    // followed), the store stamped when dirty; false, after a trace, when it
    // must not be written.
    bool saveTarget(const char* path, std::string* target);
    // The text into a new temporary file of out; false, after a trace and
    // with *cause the system's error, when that failed.
    bool writeTemporary(ReplaceFile& out, const std::string& text, int* cause) const;

    std::string _path;
    std::map<std::string, std::string> _pairs;
    bool _dirty = false;
    // A file that exists but the last Load could not read: never overwritten.
    std::string _unreadable;
};

// A settings file written ahead of a step that cannot be undone (see
// KeyValueStore::Prepare): the whole new file stands synced beside the old
// one, so that after the step only a rename is left. Dropped without a
// Commit, it removes its temporary file and leaves the old file as it was.
class PreparedSave {
public:
    PreparedSave();
    ~PreparedSave();
    PreparedSave(const PreparedSave&) = delete;
    PreparedSave& operator=(const PreparedSave&) = delete;

    // True from a successful Prepare until Commit.
    bool Ready() const { return _file != nullptr; }
    // Puts the prepared file in place of the old one. The pairs of `renewed`
    // (time stamps of the step just done) and a new "UPDATED_TIME" are
    // written into it first when the file does not grow by them (ctime's
    // texts keep their length); else it goes as prepared. False, with
    // *cause the system's error (0 when there is none), when it could not be
    // put in place: the old file stays, the temporary one goes.
    bool Commit(const KeyValueStore& renewed, int* cause);
    // What the file holds: as prepared, or as committed.
    const KeyValueStore& Store() const { return _store; }

private:
    friend class KeyValueStore;

    KeyValueStore _store;
    std::unique_ptr<ReplaceFile> _file;
    size_t _length = 0;  // of the text written
};

#endif
