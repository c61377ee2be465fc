// Replaces a file through a temporary file beside it, so that a failed write
// never leaves a truncated file in place of a good one.
#ifndef MORV_UPDATER_REPLACEFILE_H
#define MORV_UPDATER_REPLACEFILE_H

#include <string>

#include "aError.h"
#include "aFile.h"

class ReplaceFile {
public:
    explicit ReplaceFile(const std::string& target);
    // Removes the temporary file unless Commit succeeded.
    ~ReplaceFile();

    ReplaceFile(const ReplaceFile&) = delete;
    ReplaceFile& operator=(const ReplaceFile&) = delete;

    // The temporary name for a target: a hidden file in the same directory
    // ("dir/.name.tmp", or "dir/name.tmp" for a name that already begins with ".").
    static std::string TempPath(const std::string& target);

    // Opens the temporary file for writing; null on failure (errno tells why).
    aFile* Open();
    aFile* File() const { return _file; }
    const std::string& Target() const { return _target; }
    const std::string& Temp() const { return _temp; }

    // Closes the temporary file and renames it over the target. On any failure
    // the temporary file is removed, the target is left as it was, and the code
    // is returned (errno tells why for a failed rename).
    aErr Commit();

private:
    void discard();

    std::string _target;
    std::string _temp;
    aFile* _file = nullptr;
    bool _opened = false;
    bool _committed = false;
};

#endif
