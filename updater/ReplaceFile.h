// Replaces a file through a temporary file of its own beside it, synced before
// it is renamed into place, so that neither a failed write nor a power cut ever
// leaves a truncated file in place of a good one, and two writers of one target
// never share a temporary.
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

    // Ahead of a step that cannot be undone: syncs what was written and gives
    // the file its unique name beside the target now, so that Commit needs no
    // new space but for the rename. A run that ends before Commit leaves it
    // to RemoveLeftovers. False on failure (errno tells why), the temporary
    // removed.
    bool Stage();
    // Puts data of at most the length written in place of what was written,
    // in the blocks the file holds already; false when it is longer or the
    // write fails (errno tells why).
    bool Rewrite(const void* data, size_t length);

    // Syncs the written (or staged) file to the disk and puts it in place of the target,
    // then syncs the directory. On a failure before the rename the temporary
    // file is removed, the target is left as it was, and the code is returned:
    // aErrNotFound when nothing was opened, else aErrIO (errno tells why). A
    // failed sync of the directory gives aErrIO too: the new file is in place
    // then, but may not outlive a power cut. A directory that may not be read
    // cannot be synced and is not.
    aErr Commit();

    // Tells whether a file name is one of the targets a caller writes.
    using TargetNames = bool (*)(const std::string& name);
    // True for the name of a temporary file of this class for a target that
    // `isTarget` accepts: ".<target>.XXXXXX.tmp" (six letters or digits), or
    // ".<target>.tmp" as older versions named it; no second dot for a target
    // that begins with one.
    static bool IsTempName(const std::string& name, TargetNames isTarget);
    // Removes those temporary files that are regular files standing in the
    // open directory itself (no link, nothing below it); only for a caller
    // that knows no writer is using the directory.
    static void RemoveLeftovers(int directoryFd, TargetNames isTarget);

private:
    bool openNamed();
    bool linkUnnamed(std::string* name);
    bool syncDirectory() const;
    void discard();

    std::string _target;
    std::string _directory;
    std::string _temp;  // empty while the file has no name
    int _fd = -1;
    size_t _written = 0;
    bool _committed = false;
};

#endif
