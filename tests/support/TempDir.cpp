#include "TempDir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace morvtest {

namespace {

int removeEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    // FTW_PHYS reports links as FTW_SL, so they are unlinked, never followed.
    int rc = (type == FTW_DP) ? rmdir(path) : unlink(path);
    if (rc != 0 && errno != ENOENT)
        std::fprintf(stderr, "TempDir: cannot remove %s: %s\n", path, std::strerror(errno));
    return 0;  // go on with the rest of the tree
}

}  // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || *base == '\0')
        base = "/tmp";
    std::string pattern = std::string(base) + "/morvtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern + ": " + std::strerror(errno));
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    // A test may have removed write permission below; restoring it is its job.
    nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::sub(const std::string& relative) const
{
    return path_ + "/" + relative;
}

std::string TempDir::makeDir(const std::string& relative) const
{
    std::string full = sub(relative);
    for (size_t at = path_.size() + 1; at <= full.size(); ++at) {
        if (at != full.size() && full[at] != '/')
            continue;
        std::string level = full.substr(0, at);
        if (mkdir(level.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("mkdir failed for " + level + ": " + std::strerror(errno));
    }
    return full;
}

}  // namespace morvtest
