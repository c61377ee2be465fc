#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int OpenRegularFile(const char* path, bool* notRegular, uint64_t* size)
{
    *notRegular = false;
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return -1;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *notRegular = true;
        close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads of a regular file never wait anyway; only the open had to not.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (size != nullptr)
        *size = static_cast<uint64_t>(info.st_size);
    return fd;
}

bool IsSpecialFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}
