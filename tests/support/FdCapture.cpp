#include "FdCapture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace morvtest {

namespace {
void flush_stream(int fd)
{
    if (fd == 1)
        fflush(stdout);
    else if (fd == 2)
        fflush(stderr);
}
}  // namespace

FdCapture::FdCapture(int fd) : fd_(fd)
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/capture-XXXXXX";
    file_ = mkstemp(&pattern[0]);
    if (file_ < 0)
        throw std::runtime_error("FdCapture: mkstemp failed");
    unlink(pattern.c_str());
    flush_stream(fd_);
    saved_ = dup(fd_);
    if (saved_ < 0 || dup2(file_, fd_) < 0) {
        close(file_);
        if (saved_ >= 0)
            close(saved_);
        throw std::runtime_error("FdCapture: dup failed");
    }
}

FdCapture::~FdCapture()
{
    restore();
    if (file_ >= 0)
        close(file_);
}

void FdCapture::restore()
{
    if (saved_ < 0)
        return;
    flush_stream(fd_);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
}

std::string FdCapture::finish()
{
    restore();
    std::string out;
    if (file_ < 0 || lseek(file_, 0, SEEK_SET) < 0)
        return out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(file_, buffer, sizeof(buffer));
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace morvtest
