// Captures what a process writes to one of its descriptors (standard output or
// standard error) into an unlinked temporary file, and restores the descriptor.
#pragma once

#include <string>

namespace morvtest {

class FdCapture {
public:
    // Flushes the stdio stream of fd (1 or 2) and points fd at a temporary file;
    // throws std::runtime_error on failure.
    explicit FdCapture(int fd);
    // Restores the descriptor if finish() was not called.
    ~FdCapture();

    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;

    // Restores the descriptor and returns every byte written meanwhile.
    std::string finish();

private:
    void restore();

    int fd_;
    int saved_ = -1;
    int file_ = -1;
};

}  // namespace morvtest
