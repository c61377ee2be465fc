// Replaces a file through a temporary file of its own beside it, so that a
// failed write never leaves a truncated file in place of a good one and two
// writers of one target never share a temporary.
#ifndef MORV_UPDATER_REPLACEFILE_H
#define MORV_UPDATER_REPLACEFILE_H

#include <cstddef>
#include <string>

#include "aError.h"

class ReplaceFile {
public:
    explicit ReplaceFile(const std::string& target);
    // Removes the temporary file unless Commit succeeded.
    ~ReplaceFile();

    ReplaceFile(const ReplaceFile&) = delete;
    ReplaceFile& operator=(const ReplaceFile&) = delete;

    // Opens a new temporary file in the target's directory: an unnamed one
    // (nothing is left when the process dies) where the file system offers
    // them, else one with a unique name (see IsTempName). False on failure
    // (errno tells why).
    bool Open();
    // Writes every byte; false on failure (errno tells why).
    bool Write(const void* data, size_t length);
    const std::string& Target() const { return _target; }

    // Puts the written file in place of the target. On any failure the
    // temporary file is removed, the target is left as it was, and the code is
    // returned: aErrNotFound when nothing was opened, else aErrIO (errno tells why).
    aErr Commit();

    // True for the name of a temporary file of this class: a leading ".", the
    // target's name, and ".tmp" at the end (as older versions named it too).
    static bool IsTempName(const std::string& name);
    // Removes every temporary file (regular file or link) in the directory;
    // only for a caller that knows no writer is using the directory.
    static void RemoveLeftovers(const std::string& directory);

private:
    bool openNamed();
    bool linkUnnamed(std::string* name);
    void discard();

    std::string _target;
    std::string _directory;
    std::string _temp;  // empty while the file has no name
    int _fd = -1;
    bool _committed = false;
};

#endif
