// Whether a path names something, for tests that look at files an operation leaves.
#pragma once

#include <sys/stat.h>

#include <string>

namespace morvtest {

// Follows symbolic links: a dangling link does not exist.
inline bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The name itself, a dangling symbolic link included.
inline bool entryExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace morvtest
