#include "ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kNameAttempts = 64;
const char kSuffix[] = ".tmp";
// What makes each temporary's name unique: this many of these characters.
constexpr size_t kTagLength = 6;
const char kTagChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string directoryOf(const std::string& target) {
    const std::string::size_type slash = target.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : target.substr(0, slash);
}

// ".name.XXXXXX.tmp" beside the target (no second dot for a name that begins with one).
std::string uniqueTempPath(const std::string& target)
{
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    unsigned char bytes[kTagLength];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet: the time, the process and a counter still differ between writers.
        static std::atomic<unsigned> counter{0};
        const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
        const unsigned long long mix = now ^ (static_cast<unsigned long long>(getpid()) << 20) ^ counter++;
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
    }
    std::string tag;
    for (unsigned char byte : bytes)
        tag += kTagChars[byte % (sizeof kTagChars - 1)];
    return dir + (name.compare(0, 1, ".") == 0 ? "" : ".") + name + "." + tag + kSuffix;
}

// Flushes what was written to the disk; a file system that cannot sync
// (EINVAL) has nothing to flush.
bool synced(int fd)
{
    for (;;) {
        if (fdatasync(fd) == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno == EINVAL;
    }
}

bool closeChecked(int* fd) {
    const int result = close(*fd);
    *fd = -1;
    // After EINTR the descriptor is gone on Linux; the data may not be.
    return result == 0;
}

}  // namespace

ReplaceFile::ReplaceFile(const std::string& target) : _target(target), _directory(directoryOf(target)) {}

ReplaceFile::~ReplaceFile() {
    if (!_committed) discard();
}

bool ReplaceFile::IsTempName(const std::string& name, TargetNames isTarget)
{
    const size_t suffix = sizeof kSuffix - 1;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return false;
    const std::string stem = name.substr(0, name.size() - suffix);
    // The stem is the target itself when that begins with ".", else "." and the target.
    const auto namesTarget = [isTarget](const std::string& text) {
        if (text.size() < 2 || text[0] != '.')
            return false;
        return isTarget(text) || (text[1] != '.' && isTarget(text.substr(1)));
    };
    if (namesTarget(stem))
        return true;
    if (stem.size() <= kTagLength + 1 || stem[stem.size() - kTagLength - 1] != '.')
        return false;
    for (size_t i = stem.size() - kTagLength; i < stem.size(); ++i)
        if (std::strchr(kTagChars, stem[i]) == nullptr || stem[i] == '\0')
            return false;
    return namesTarget(stem.substr(0, stem.size() - kTagLength - 1));
}

void ReplaceFile::RemoveLeftovers(int directoryFd, TargetNames isTarget)
{
    const int saved = errno;
    const int fd = fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        errno = saved;
        return;
    }
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTempName(name, isTarget))
            continue;
        struct stat info;
        if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(info.st_mode))
            unlinkat(dirfd(dir), name.c_str(), 0);
    }
    closedir(dir);
    errno = saved;
}

bool ReplaceFile::Open() {
    if (_fd >= 0 || _committed) return _fd >= 0;
#ifdef O_TMPFILE
    _fd = open(_directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (_fd >= 0) {
        // It is linked in through /proc at the end: without /proc it never could be.
        const std::string self = "/proc/self/fd/" + std::to_string(_fd);
        if (access(self.c_str(), F_OK) == 0) return true;
        close(_fd);
        _fd = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
#endif
    return openNamed();
}

bool ReplaceFile::openNamed() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temp = uniqueTempPath(_target);
        _fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (_fd >= 0) {
            _temp = temp;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool ReplaceFile::Write(const void* data, size_t length) {
    if (_fd < 0) {
        errno = EBADF;
        return false;
    }
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(_fd, next, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += n;
        length -= static_cast<size_t>(n);
        _written += static_cast<size_t>(n);
    }
    return true;
}

bool ReplaceFile::Stage()
{
    if (_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (!synced(_fd) || (_temp.empty() && !linkUnnamed(&_temp))) {
        discard();
        return false;
    }
    return true;
}

bool ReplaceFile::Rewrite(const void* data, size_t length)
{
    if (_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (length > _written) {
        errno = EFBIG;
        return false;
    }
    const char* next = static_cast<const char*>(data);
    off_t at = 0;
    for (size_t left = length; left > 0;) {
        const ssize_t n = pwrite(_fd, next, left, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += n;
        at += n;
        left -= static_cast<size_t>(n);
    }
    // Shrinking frees blocks and needs none.
    if (length < _written && ftruncate(_fd, static_cast<off_t>(length)) != 0)
        return false;
    _written = length;
    return true;
}

// Gives the unnamed file a unique name beside the target.
bool ReplaceFile::linkUnnamed(std::string* name) {
    const std::string self = "/proc/self/fd/" + std::to_string(_fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temp = uniqueTempPath(_target);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            *name = temp;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

aErr ReplaceFile::Commit() {
    if (_fd < 0) return aErrNotFound;
    // The data reaches the disk before the name does: after a power cut the
    // old file or the new one stands, never an empty one.
    if (!synced(_fd) || (_temp.empty() && !linkUnnamed(&_temp))) {
        discard();
        return aErrIO;
    }
    // A failed close can mean lost data (NFS): the file must not replace a good one.
    if (!closeChecked(&_fd) || std::rename(_temp.c_str(), _target.c_str()) != 0) {
        discard();
        return aErrIO;
    }
    _committed = true;
    return syncDirectory() ? aErrNone : aErrIO;
}

// The rename itself reaches the disk with the directory.
bool ReplaceFile::syncDirectory() const
{
    const int fd = open(_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A directory we may write in but not read cannot be opened to be synced.
    if (fd < 0)
        return errno == EACCES;
    const bool ok = synced(fd);
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

void ReplaceFile::discard() {
    const int saved = errno;
    if (_fd >= 0) close(_fd);
    _fd = -1;
    // Only a name we created ourselves is removed.
    if (!_temp.empty()) unlink(_temp.c_str());
    _temp.clear();
    errno = saved;
}
