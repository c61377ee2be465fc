// Small helpers shared by the settings-file and store tests.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Log.h"
#include "PathChecks.h"

namespace storetest {

// A time stamp of the settings file (ctime's text), as a regular expression.
inline constexpr const char* kStampPattern =
    "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";

// Sends the trace lines of the given packages into memory for one test.
class TraceCapture {
public:
    explicit TraceCapture(unsigned packages) : packages_(packages) {
        stream_ = open_memstream(&buffer_, &size_);
        if (stream_ == nullptr) throw std::runtime_error("open_memstream failed");
        Log::SetOutput(stream_);
        Log::ActivatePackage(packages_);
    }
    ~TraceCapture() {
        Log::DeactivatePackage(packages_);
        Log::SetOutput(nullptr);
        std::fclose(stream_);
        std::free(buffer_);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    unsigned packages_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
};

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// Only a regular file is read: a link to /dev/full left by a broken save must
// fail the test, not hang it.
inline std::string readFile(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        throw std::runtime_error(path + " is no regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}


inline bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Permission bits stop nobody who runs as root (CI does): find out by trying.
inline bool canOpenForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    close(fd);
    return true;
}

inline bool canCreateIn(const std::string& directory) {
    const std::string probe = directory + "/.probe";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

// Leaves a Unix socket file at path (it stays when the socket is closed).
inline bool makeSocketFile(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

// The names in a directory ("." and ".." left out), sorted.
inline std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) throw std::runtime_error("cannot list " + directory);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// While it lives, no file of this process can grow (writes fail with EFBIG):
// a real write error, for root too.
class NoFileGrowth {
public:
    NoFileGrowth() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        const rlimit none = {0, saved_.rlim_max};
        if (setrlimit(RLIMIT_FSIZE, &none) != 0) throw std::runtime_error("setrlimit(RLIMIT_FSIZE) failed");
    }
    ~NoFileGrowth() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    NoFileGrowth(const NoFileGrowth&) = delete;
    NoFileGrowth& operator=(const NoFileGrowth&) = delete;

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

// While it lives, this process can open no further file (EMFILE): the
// descriptor limit is set to the lowest free descriptor number.
class NoFreeDescriptor {
public:
    NoFreeDescriptor() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest = fcntl(0, F_DUPFD, 0);
        if (lowest < 0) throw std::runtime_error("no descriptor to probe with");
        close(lowest);
        const rlimit none = {static_cast<rlim_t>(lowest), saved_.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &none) != 0) throw std::runtime_error("setrlimit(RLIMIT_NOFILE) failed");
    }
    ~NoFreeDescriptor() { setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeDescriptor(const NoFreeDescriptor&) = delete;
    NoFreeDescriptor& operator=(const NoFreeDescriptor&) = delete;

private:
    rlimit saved_{};
};

}  // namespace storetest
