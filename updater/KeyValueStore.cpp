#include "KeyValueStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "Log.h"
#include "RegularFile.h"
#include "ReplaceFile.h"
#include "aError.h"

const char* const KeyValueStore::DEFAULT_FILENAME = ".settings";
const char* const KeyValueStore::KEY_CREATED_TIME = "CREATED_TIME";
const char* const KeyValueStore::KEY_UPDATED_TIME = "UPDATED_TIME";

namespace {

// The reader's line buffer: a line longer than 2047 characters (newline included) is skipped.
constexpr size_t kLineBuffer = 2048;

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// atoi without its undefined behaviour on values that do not fit an int.
int toInt(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// One line of a settings file (newline included) into a key and a value; false
// when the line carries no pair.
bool parseLine(const char* line, size_t length, std::string& key, std::string& value) {
    if (length < 3 || line[0] == '#') return false;
    size_t begin = 0;
    while (begin < length && isSpace(line[begin])) ++begin;
    const void* equals = std::memchr(line + begin, '=', length - begin);
    const size_t keyEnd = equals != nullptr ? static_cast<const char*>(equals) - line : length;
    size_t end = keyEnd;
    while (end > begin && isSpace(line[end - 1])) --end;
    key.assign(line + begin, end - begin);
    value.clear();
    if (equals != nullptr) {
        size_t valueBegin = keyEnd + 1;
        while (valueBegin < length && isSpace(line[valueBegin])) ++valueBegin;
        size_t valueEnd = length;
        while (valueEnd > valueBegin && isSpace(line[valueEnd - 1])) --valueEnd;
        value.assign(line + valueBegin, valueEnd - valueBegin);
    }
    return true;
}

// Opens the path for reading only when it is a regular file.
FILE* openRegular(const char* path, bool* notRegular) {
    const int fd = OpenRegularFile(path, notRegular);
    if (fd < 0)
        return nullptr;
    FILE* in = fdopen(fd, "rb");
    if (in == nullptr) close(fd);
    return in;
}

// The file a save replaces: the path itself, or for a link the file at its
// end, so that the link stays and its file takes the change. False for a link
// that leads nowhere.
bool fileToReplace(const std::string& path, std::string* target)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        *target = path;
        return true;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return false;
    *target = resolved;
    std::free(resolved);
    return true;
}

// One line (newline kept) into buffer; aErrOverrun when it does not fit (the
// rest stays for the next call), aErrEOF at the end, aErrIO on a read error.
aErr readLine(FILE* in, char* buffer, size_t size, size_t* length) {
    *length = 0;
    buffer[0] = '\0';
    clearerr(in);
    if (std::fgets(buffer, static_cast<int>(size), in) == nullptr)
        return std::feof(in) && !std::ferror(in) ? aErrEOF : aErrIO;
    *length = std::strlen(buffer);
    if (*length == size - 1 && buffer[*length - 1] != '\n') return aErrOverrun;
    return aErrNone;
}

}  // namespace

KeyValueStore::KeyValueStore(const char* path) {
    if (path != nullptr) Load(path);
}

const char* KeyValueStore::operator[](const char* key) const {
    if (key == nullptr) return nullptr;
    const auto found = _pairs.find(key);
    return found == _pairs.end() ? nullptr : found->second.c_str();
}

int KeyValueStore::GetInt(const char* key, int defaultValue) {
    if (key == nullptr) return defaultValue;
    const std::string& value = _pairs[key];
    return value.empty() ? defaultValue : toInt(value);
}

unsigned KeyValueStore::GetHex(const char* key, unsigned defaultValue) {
    if (key == nullptr) return defaultValue;
    const std::string& value = _pairs[key];
    if (value.empty()) return defaultValue;
    // Kept to the low 32 bits, as a hexadecimal word is.
    return static_cast<unsigned>(static_cast<unsigned long>(std::strtol(value.c_str(), nullptr, 16)));
}

bool KeyValueStore::GetBOOL(const char* key, bool defaultValue) {
    if (key == nullptr) return defaultValue;
    const std::string& value = _pairs[key];
    return value.empty() ? defaultValue : toInt(value) != 0;
}

double KeyValueStore::GetDouble(const char* key, double defaultValue) {
    if (key == nullptr) return defaultValue;
    const std::string& value = _pairs[key];
    return value.empty() ? defaultValue : std::strtod(value.c_str(), nullptr);
}

std::string KeyValueStore::GetString(const char* key, const char* defaultValue) const {
    const char* value = (*this)[key];
    if (value != nullptr) return value;
    return defaultValue != nullptr ? defaultValue : "";
}

bool KeyValueStore::set(const char* key, const std::string& text) {
    if (key == nullptr) return false;
    std::string& current = _pairs[key];
    if (current != text) {
        _dirty = true;
        current = text;
    }
    return true;
}

bool KeyValueStore::Add(const char* key, int value) { return set(key, std::to_string(value)); }

bool KeyValueStore::Add(const char* key, double value) {
    char text[512];  // "%f" of the largest double needs 317 characters
    std::snprintf(text, sizeof text, "%f", value);
    return set(key, text);
}

bool KeyValueStore::Add(const char* key, const char* value) {
    return set(key, value != nullptr ? value : "");
}

bool KeyValueStore::Add(const char* key, const std::string& value) { return set(key, value); }

bool KeyValueStore::AddHex(const char* key, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return set(key, text);
}

bool KeyValueStore::Add(const KeyValueStore& other) {
    for (const auto& pair : other._pairs) {
        _pairs[pair.first] = pair.second;
        _dirty = true;
    }
    return true;
}

bool KeyValueStore::Clear() {
    _pairs.clear();
    _dirty = true;
    return true;
}

std::string KeyValueStore::TimeStamp() {
    const std::time_t now = std::time(nullptr);
    char text[64];
    if (ctime_r(&now, text) == nullptr) return std::string();
    std::string stamp = text;
    if (!stamp.empty() && stamp.back() == '\n') stamp.pop_back();
    return stamp;
}

void KeyValueStore::Load(const char* path) {
    if (path == nullptr) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - no attributes file given\n");
        return;
    }
    const std::string file = path;
    bool readable = true;
    bool notRegular = false;
    FILE* in = openRegular(path, &notRegular);
    if (notRegular) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - '%s' is not a regular file, left as it is\n", path);
        readable = false;
    } else if (in == nullptr) {
        const int openError = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n", path,
                 openError);
        struct stat info;
        const bool missing = lstat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
        if (missing) {
            _unreadable.clear();
            Add(KEY_CREATED_TIME, TimeStamp());
            Save(path);
        } else if (S_ISLNK(info.st_mode)) {
            Log::log(DEBUG_Attributes, "Attibutes: Error - '%s' is a link to nothing, left as it is\n", path);
            readable = false;
        } else {
            // Creating it would destroy settings we merely could not read.
            Log::log(DEBUG_Attributes, "Attibutes: Error - '%s' exists but cannot be read, left as it is\n",
                     path);
            readable = false;
        }
    }
    _path = file;
    _dirty = false;

    if (in != nullptr) {
        char line[kLineBuffer];
        size_t length = 0;
        bool skipping = false;  // inside a line that did not fit the buffer
        std::string key, value;
        for (;;) {
            const aErr err = readLine(in, line, sizeof line, &length);
            if (err == aErrOverrun) {
                if (!skipping)
                    Log::log(DEBUG_Attributes, "Attibutes: Error - line too long in '%s', skipped\n", path);
                skipping = true;
                continue;
            }
            if (err != aErrNone) {
                if (err != aErrEOF) {
                    Log::log(DEBUG_Attributes, "Attibutes: Error - cannot read attributes file: '%s' (%d)\n",
                             path, static_cast<int>(err));
                    readable = false;
                }
                break;
            }
            if (skipping) {
                // The last piece of the long line ends with its newline.
                if (length > 0 && line[length - 1] == '\n') skipping = false;
                continue;
            }
            // Only what stands before a stray NUL byte is text.
            if (parseLine(line, strnlen(line, length), key, value)) _pairs[key] = value;
        }
        std::fclose(in);
    }
    _unreadable = readable ? std::string() : file;
}

std::string KeyValueStore::text() const
{
    std::string text;
    // As C strings, as the lines were always written: nothing after a NUL byte.
    for (const auto& pair : _pairs) {
        text += pair.first.c_str();
        text += '=';
        text += pair.second.c_str();
        text += '\n';
    }
    return text;
}

bool KeyValueStore::saveTarget(const char* path, std::string* target)
{
    if (path != nullptr) {
        _path = path;
    } else if (_path.empty()) {
        _path = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                 _path.c_str());
    }
    if (!_unreadable.empty() && _path == _unreadable) {
        Log::log(DEBUG_Attributes,
                 "Attibutes: Error - '%s' could not be read, not overwriting it\n", _path.c_str());
        return false;
    }
    if (_dirty) Add(KEY_UPDATED_TIME, TimeStamp());
    if (!fileToReplace(_path, target)) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - '%s' is a link to nothing, not writing it\n", _path.c_str());
        return false;
    }
    return true;
}

bool KeyValueStore::writeTemporary(ReplaceFile& out, const std::string& text, int* cause) const
{
    if (!out.Open()) {
        *cause = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 _path.c_str(), *cause);
        return false;
    }
    if (!out.Write(text.data(), text.size())) {
        *cause = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n", _path.c_str(),
                 *cause);
        return false;
    }
    return true;
}

bool KeyValueStore::Save(const char* path) {
    std::string target;
    if (!saveTarget(path, &target))
        return false;
    ReplaceFile out(target);
    int cause = 0;
    if (!writeTemporary(out, text(), &cause))
        return false;
    const aErr err = out.Commit();
    if (err != aErrNone) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                 _path.c_str(), static_cast<int>(err));
        return false;
    }
    _dirty = false;
    return true;
}

bool KeyValueStore::Prepare(const char* path, PreparedSave* prepared, int* cause)
{
    *cause = 0;
    std::string target;
    if (!saveTarget(path, &target))
        return false;
    auto out = std::make_unique<ReplaceFile>(target);
    const std::string written = text();
    if (!writeTemporary(*out, written, cause))
        return false;
    if (!out->Stage()) {
        *cause = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n", _path.c_str(),
                 *cause);
        return false;
    }
    prepared->_store = *this;
    prepared->_file = std::move(out);
    prepared->_length = written.size();
    return true;
}

PreparedSave::PreparedSave() = default;
PreparedSave::~PreparedSave() = default;

bool PreparedSave::Commit(const KeyValueStore& renewed, int* cause)
{
    *cause = 0;
    // Gone on every way out: put in place, or removed.
    const std::unique_ptr<ReplaceFile> file = std::move(_file);
    if (!file)
        return false;
    KeyValueStore store = _store;
    store.Add(renewed);
    if (store._dirty) store.Add(KeyValueStore::KEY_UPDATED_TIME, KeyValueStore::TimeStamp());
    const std::string text = store.text();
    // A file that grew could need space there may not be: the stamps of the preparation stay then.
    if (text.size() <= _length) {
        if (!file->Rewrite(text.data(), text.size())) {
            *cause = errno;
            Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                     _store.Path().c_str(), *cause);
            return false;
        }
        _store = store;
    }
    const aErr err = file->Commit();
    if (err != aErrNone) {
        *cause = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                 _store.Path().c_str(), static_cast<int>(err));
        return false;
    }
    _store._dirty = false;
    return true;
}
