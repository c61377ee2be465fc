#include "ReplaceFile.h"

#include <cerrno>
#include <cstdio>

ReplaceFile::ReplaceFile(const std::string& target) : _target(target), _temp(TempPath(target)) {}

ReplaceFile::~ReplaceFile() {
    if (!_committed) discard();
}

std::string ReplaceFile::TempPath(const std::string& target) {
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // Hidden, so that directory listings that skip dot files never pick it up.
    return dir + (name.compare(0, 1, ".") == 0 ? "" : ".") + name + ".tmp";
}

aFile* ReplaceFile::Open() {
    if (_file == nullptr && !_committed) {
        _file = aFile_Open(_temp.c_str(), aFILE_MODE_WRITE);
        if (_file != nullptr) _opened = true;
    }
    return _file;
}

aErr ReplaceFile::Commit() {
    if (_file == nullptr) return aErrNotFound;
    // Buffered data reaches the file only here, so a full disk shows up as a failed close.
    aErr err = aFile_Close(&_file);
    if (err != aErrNone) {
        discard();
        return err;
    }
    if (std::rename(_temp.c_str(), _target.c_str()) != 0) {
        const int saved = errno;
        discard();
        errno = saved;
        return aErrIO;
    }
    _committed = true;
    return aErrNone;
}

void ReplaceFile::discard() {
    const int saved = errno;
    if (_file != nullptr) aFile_Close(&_file);
    // Only a file we opened ourselves is removed; a directory squatting on the name stays.
    if (_opened) aFile_Delete(_temp.c_str());
    errno = saved;
}
