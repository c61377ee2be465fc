// Opening a path that should name a regular file (a bundle, a settings file)
// without ever blocking: a FIFO's open waits for a writer that may never come,
// and a device may never end. Links are followed.
#ifndef MORV_UPDATER_REGULARFILE_H
#define MORV_UPDATER_REGULARFILE_H

#include <cstdint>
#include <string>

// A descriptor (read-only, close-on-exec) of the regular file at path, with
// its size; -1 when it cannot be opened (errno tells why) or, with
// *notRegular set, when it is something else than a regular file.
int OpenRegularFile(const char* path, bool* notRegular, uint64_t* size = nullptr);

// True when something stands at the path that is no regular file.
bool IsSpecialFile(const std::string& path);

#endif
