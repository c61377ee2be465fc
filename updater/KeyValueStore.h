// A small persistent dictionary of text keys and values, kept in key order and
// saved as "key=value" lines.
#ifndef MORV_UPDATER_KEYVALUESTORE_H
#define MORV_UPDATER_KEYVALUESTORE_H

#include <map>
#include <string>

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

    // True when Save with the path (as for Save) would find its file writable:
    // readable when it is there, a link that leads somewhere, and a file can
    // be made beside it. Nothing is written.
    bool CanSave(const char* path = nullptr) const;

    const std::string& Path() const { return _path; }
    bool IsDirty() const { return _dirty; }
    // True when the last Load found a file it could not read.
    bool LoadFailed() const { return !_unreadable.empty(); }
    const std::map<std::string, std::string>& Pairs() const { return _pairs; }

    // ctime's text of the current local time without its newline.
    static std::string TimeStamp();

private:
    bool set(const char* key, const std::string& text);

    std::string _path;
    std::map<std::string, std::string> _pairs;
    bool _dirty = false;
    // A file that exists but the last Load could not read: never overwritten.
    std::string _unreadable;
};

#endif
