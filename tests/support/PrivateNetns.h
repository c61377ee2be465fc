// Private network namespaces for tests that multicast or broadcast: such a
// test first checks that it runs inside a private namespace (the test runner
// provides one) and then works in fresh namespaces of its own, one per
// thread, joined by veth pairs, so nothing it sends can reach a real network.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvtest {

// "" when the calling thread is known to be in a private network namespace
// with no interface but lo (and veths named with kVethPrefix); otherwise why
// not, for GTEST_SKIP.
std::string whyNotPrivateNetns();

// Skips the calling test (GTEST_SKIP returns from the calling function)
// unless it runs inside a private network namespace.
#define MORVTEST_SKIP_UNLESS_PRIVATE_NETNS()                                                                           \
    do {                                                                                                               \
        const std::string morvtestWhy = ::morvtest::whyNotPrivateNetns();                                              \
        if (!morvtestWhy.empty())                                                                                      \
            GTEST_SKIP() << morvtestWhy;                                                                               \
    } while (0)

// Names of the interfaces of the calling thread's network namespace.
std::vector<std::string> interfaceNames();

// Runs the ip tool with the arguments in the calling thread's namespace;
// "" on success, else the failure.
std::string runIp(const std::vector<std::string>& arguments);

// Veths made by these helpers carry this name prefix.
extern const char* const kVethPrefix;

// A thread living in a fresh network namespace of its own, with lo up; jobs
// given to run() execute on it, so sockets they open belong to that
// namespace (and stay there whichever thread later uses them).
class NetnsThread {
public:
    // loopbackMulticast: lo also gets the MULTICAST flag and a 224.0.0.0/4 route.
    explicit NetnsThread(bool loopbackMulticast = false);
    ~NetnsThread();

    NetnsThread(const NetnsThread&) = delete;
    NetnsThread& operator=(const NetnsThread&) = delete;

    // "" when the namespace is ready.
    const std::string& error() const { return error_; }
    pid_t tid() const { return tid_; }

    // Runs job on the thread and waits for it; exceptions are passed back.
    void run(const std::function<void()>& job);

private:
    void main(bool loopbackMulticast);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void()> job_;
    std::exception_ptr failure_;
    bool hasJob_ = false;
    bool ready_ = false;
    bool stop_ = false;
    std::string error_;
    pid_t tid_ = 0;
    std::thread thread_;
};

// Links a (address addressA/prefix) and b (addressB/prefix) with a veth
// pair named kVethPrefix + "0" / "1" and brings both ends up; "" or the
// failure. Afterwards each namespace holds only lo and its veth end.
std::string linkWithVeth(NetnsThread& a, const std::string& addressA, NetnsThread& b, const std::string& addressB,
                         int prefix = 24);

// Starts a and b in fresh namespaces (a with loopback multicast where asked)
// and links them as linkWithVeth does; "" or the failure.
std::string startVethPair(std::unique_ptr<NetnsThread>& a, const std::string& addressA, std::unique_ptr<NetnsThread>& b,
                          const std::string& addressB, bool aLoopbackMulticast = false);

}  // namespace morvtest
