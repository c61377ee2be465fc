// A temporary directory for one test, removed with everything in it.
#pragma once

#include <string>

namespace morvtest {

class TempDir {
public:
    // mkdtemp under $TMPDIR (or /tmp); throws std::runtime_error on failure.
    TempDir();
    // Removes the tree without following symbolic links.
    ~TempDir();

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative (no file is created).
    std::string sub(const std::string& relative) const;
    // Creates path()/relative and its missing parents (mode 0755) and returns
    // its path; throws std::runtime_error on failure.
    std::string makeDir(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace morvtest
