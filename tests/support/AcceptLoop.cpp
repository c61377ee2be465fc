#include "AcceptLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace morvtest {

AcceptLoop::AcceptLoop(int listenFd, std::function<void(int connection)> onConnection)
    : fd_(listenFd), onConnection_(std::move(onConnection))
{
    if (pipe2(stop_, O_CLOEXEC) != 0) {
        close(fd_);
        throw std::runtime_error("AcceptLoop: pipe");
    }
    thread_ = std::thread([this] { loop(); });
}

AcceptLoop::~AcceptLoop()
{
    const char byte = 1;
    if (write(stop_[1], &byte, 1) != 1)
        std::perror("AcceptLoop");
    thread_.join();
    close(fd_);
    close(stop_[0]);
    close(stop_[1]);
}

void AcceptLoop::loop()
{
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            onConnection_(connection);
    }
}

}  // namespace morvtest
