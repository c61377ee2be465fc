#include "SmallFileSystem.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <thread>
#include <vector>

namespace morvtest {

namespace {

// More than a small tmpfs has: a file system that takes this many is no small one.
constexpr int kMaxSteps = 100000;

std::string failed(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

struct statvfs freeOn(const std::string& directory)
{
    struct statvfs info {};
    if (statvfs(directory.c_str(), &info) != 0)
        throw std::runtime_error("FillFileSystem: " + failed(("statvfs " + directory).c_str()));
    return info;
}

}  // namespace

std::string MountSmallTmpfs(const std::string& directory, std::size_t bytes, std::size_t inodes)
{
    if (unshare(CLONE_NEWNS) != 0)
        return failed("unshare(CLONE_NEWNS)");
    // Nothing mounted here may reach the namespace this thread came from.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("making / private");
    const std::string options =
        "size=" + std::to_string(bytes) + ",nr_inodes=" + std::to_string(inodes) + ",mode=0755";
    if (mount("morvtest", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return failed(("mounting a tmpfs on " + directory).c_str());
    return std::string();
}

std::string OnSmallTmpfs(const std::string& directory, std::size_t bytes, std::size_t inodes,
                         const std::function<void()>& job)
{
    std::string why;
    std::exception_ptr failure;
    std::thread own([&] {
        why = MountSmallTmpfs(directory, bytes, inodes);
        if (!why.empty())
            return;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    own.join();
    if (failure)
        std::rethrow_exception(failure);
    return why;
}

void FillFileSystem(const std::string& directory, bool blocks, bool inodes)
{
    if (blocks) {
        const std::string path = directory + "/filler";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error("FillFileSystem: " + failed(("creating " + path).c_str()));
        const std::vector<char> chunk(4096, 'f');
        int steps = 0;
        while (steps++ < kMaxSteps && write(fd, chunk.data(), chunk.size()) > 0) {
        }
        // The last pieces of a page.
        while (steps++ < kMaxSteps && write(fd, chunk.data(), 1) > 0) {
        }
        close(fd);
        if (freeOn(directory).f_bavail != 0)
            throw std::runtime_error("FillFileSystem: blocks left on " + directory);
    }
    if (inodes) {
        for (int n = 0; n < kMaxSteps; ++n) {
            const std::string path = directory + "/filler." + std::to_string(n);
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                break;
            close(fd);
        }
        if (freeOn(directory).f_favail != 0)
            throw std::runtime_error("FillFileSystem: inodes left on " + directory);
    }
}

}  // namespace morvtest
