// Accepts connections on a listening socket on a thread of its own and hands
// each to a callback; destroying it stops the thread and closes the socket.
#pragma once

#include <functional>
#include <thread>

namespace morvtest {

class AcceptLoop {
public:
    // listenFd: a listening socket, owned from here on (closed also when this
    // throws std::runtime_error for want of a stop pipe).
    AcceptLoop(int listenFd, std::function<void(int connection)> onConnection);
    ~AcceptLoop();

    AcceptLoop(const AcceptLoop&) = delete;
    AcceptLoop& operator=(const AcceptLoop&) = delete;

private:
    void loop();

    int fd_;
    int stop_[2] = {-1, -1};
    std::function<void(int)> onConnection_;
    std::thread thread_;
};

}  // namespace morvtest
