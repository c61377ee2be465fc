// A small file system of one thread's own, for what a full disk does to a
// run: the calling thread moves into a mount namespace of its own (what it
// mounts there is seen by it and by the threads and processes it starts,
// nowhere else, and goes when they have all ended) and mounts a tmpfs of a
// few pages and inodes on a directory. Root only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace morvtest {

// "" when the tmpfs is mounted on the directory (which must exist), else why
// not, for the caller to skip with.
std::string MountSmallTmpfs(const std::string& directory, std::size_t bytes, std::size_t inodes);

// Runs the job on a thread of its own that has mounted such a tmpfs on the
// directory first; what the job throws comes back. "" when it ran, else why
// the tmpfs could not be mounted (the job did not run).
std::string OnSmallTmpfs(const std::string& directory, std::size_t bytes, std::size_t inodes,
                         const std::function<void()>& job);

// Uses up the file system the directory lies on, with files named "filler"
// and "filler.N" in it: with blocks, one file grows until no block is left;
// with inodes, empty files take every inode left. Throws std::runtime_error
// when it is not full after a bounded number of steps.
void FillFileSystem(const std::string& directory, bool blocks, bool inodes);

}  // namespace morvtest
