#include "PrivateNetns.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sched.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace morvtest {

const char* const kVethPrefix = "mvt";

namespace {

std::string readLink(const char* path)
{
    char buffer[PATH_MAX];
    ssize_t n = readlink(path, buffer, sizeof(buffer) - 1);
    if (n < 0)
        return "";
    return std::string(buffer, size_t(n));
}

const char* ipTool()
{
    static const char* const candidates[] = {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"};
    for (const char* path : candidates)
        if (access(path, X_OK) == 0)
            return path;
    return nullptr;
}

bool onlyLoopbackAndVeths(const std::vector<std::string>& names, std::string* other)
{
    for (const std::string& name : names) {
        if (name == "lo" || name.rfind(kVethPrefix, 0) == 0)
            continue;
        *other = name;
        return false;
    }
    return true;
}

// Waits (bounded) until the interface has carrier, so the first datagram
// sent over a new veth is not lost.
std::string awaitRunning(const std::string& name)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "socket failed";
    std::string error = name + " did not come up";
    for (int i = 0; i < 200; ++i) {
        struct ifreq request;
        std::memset(&request, 0, sizeof(request));
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        if (ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING)) {
            error.clear();
            break;
        }
        usleep(10000);
    }
    close(fd);
    return error;
}

}  // namespace

std::vector<std::string> interfaceNames()
{
    std::vector<std::string> names;
    struct if_nameindex* list = if_nameindex();
    if (!list)
        return names;
    for (struct if_nameindex* entry = list; entry->if_index != 0; ++entry)
        names.emplace_back(entry->if_name);
    if_freenameindex(list);
    return names;
}

std::string whyNotPrivateNetns()
{
    std::string mine = readLink("/proc/thread-self/ns/net");
    std::string init = readLink("/proc/1/ns/net");
    if (mine.empty())
        return "cannot read this thread's network namespace";
    if (!init.empty() && init == mine)
        return "runs in the machine's own network namespace (use tools/run-tests)";
    std::string other;
    if (!onlyLoopbackAndVeths(interfaceNames(), &other))
        return "the network namespace has the interface " + other +
               ": not a private one (use tools/run-tests)";
    return "";
}

std::string runIp(const std::vector<std::string>& arguments)
{
    const char* tool = ipTool();
    if (!tool)
        return "no ip tool";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ip"));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The child runs in the network namespace of the spawning thread.
    pid_t pid = 0;
    int rc = posix_spawn(&pid, tool, nullptr, nullptr, argv.data(), environ);
    if (rc != 0)
        return std::string("posix_spawn: ") + std::strerror(rc);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return "waitpid failed";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line = "ip";
        for (const std::string& a : arguments)
            line += " " + a;
        return line + " failed";
    }
    return "";
}

NetnsThread::NetnsThread(bool loopbackMulticast)
{
    thread_ = std::thread([this, loopbackMulticast] { main(loopbackMulticast); });
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return ready_; });
}

NetnsThread::~NetnsThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void NetnsThread::main(bool loopbackMulticast)
{
    std::string error;
    // Only this thread moves; threads it starts later follow it.
    if (unshare(CLONE_NEWNET) != 0) {
        error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    } else {
        error = runIp({"link", "set", "lo", "up"});
        if (error.empty() && loopbackMulticast)
            error = runIp({"link", "set", "lo", "multicast", "on"});
        if (error.empty() && loopbackMulticast)
            error = runIp({"route", "add", "224.0.0.0/4", "dev", "lo"});
    }
    std::unique_lock<std::mutex> lock(mutex_);
    error_ = error;
    tid_ = pid_t(syscall(SYS_gettid));
    ready_ = true;
    cv_.notify_all();
    for (;;) {
        cv_.wait(lock, [this] { return stop_ || hasJob_; });
        if (hasJob_) {
            std::function<void()> job = std::move(job_);
            lock.unlock();
            std::exception_ptr failure;
            try {
                job();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            failure_ = failure;
            hasJob_ = false;
            cv_.notify_all();
            continue;
        }
        if (stop_)
            return;
    }
}

void NetnsThread::run(const std::function<void()>& job)
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return !hasJob_; });
    job_ = job;
    hasJob_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !hasJob_; });
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    lock.unlock();
    if (failure)
        std::rethrow_exception(failure);
}

std::string linkWithVeth(NetnsThread& a, const std::string& addressA, NetnsThread& b,
                         const std::string& addressB, int prefix)
{
    if (!a.error().empty())
        return a.error();
    if (!b.error().empty())
        return b.error();
    const std::string endA = std::string(kVethPrefix) + "0";
    const std::string endB = std::string(kVethPrefix) + "1";
    std::string error;
    a.run([&] {
        error = runIp({"link", "add", endA, "type", "veth", "peer", "name", endB, "netns",
                       std::to_string(b.tid())});
        if (error.empty())
            error = runIp({"addr", "add", addressA + "/" + std::to_string(prefix), "broadcast", "+",
                           "dev", endA});
        if (error.empty())
            error = runIp({"link", "set", endA, "up"});
    });
    if (!error.empty())
        return error;
    b.run([&] {
        error = runIp({"addr", "add", addressB + "/" + std::to_string(prefix), "broadcast", "+",
                       "dev", endB});
        if (error.empty())
            error = runIp({"link", "set", endB, "up"});
    });
    if (!error.empty())
        return error;
    a.run([&] { error = awaitRunning(endA); });
    if (error.empty())
        b.run([&] { error = awaitRunning(endB); });
    if (!error.empty())
        return error;
    std::string other;
    a.run([&] {
        if (!onlyLoopbackAndVeths(interfaceNames(), &other))
            error = "unexpected interface " + other;
    });
    b.run([&] {
        if (error.empty() && !onlyLoopbackAndVeths(interfaceNames(), &other))
            error = "unexpected interface " + other;
    });
    return error;
}

std::string startVethPair(std::unique_ptr<NetnsThread>& a, const std::string& addressA,
                          std::unique_ptr<NetnsThread>& b, const std::string& addressB,
                          bool aLoopbackMulticast)
{
    a = std::make_unique<NetnsThread>(aLoopbackMulticast);
    b = std::make_unique<NetnsThread>();
    return linkWithVeth(*a, addressA, *b, addressB);
}

}  // namespace morvtest
