#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace morvtest {

namespace {

constexpr std::chrono::milliseconds kInterruptCheck(10);

struct FdCloser {
    explicit FdCloser(int descriptor) : fd(descriptor) {}
    ~FdCloser()
    {
        if (fd >= 0)
            close(fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    const int fd;
};

class Pipe {
public:
    Pipe()
    {
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    void closeRead()
    {
        if (fds[0] >= 0)
            close(fds[0]);
        fds[0] = -1;
    }
    void closeWrite()
    {
        if (fds[1] >= 0)
            close(fds[1]);
        fds[1] = -1;
    }
    int fds[2] = {-1, -1};
};

std::vector<std::string> childEnvironment(const ChildOptions& options)
{
    std::map<std::string, std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const std::string& name : options.unset)
        merged.erase(name);
    for (const auto& pair : options.environment)
        merged[pair.first] = pair.second;
    std::vector<std::string> out;
    for (const auto& pair : merged)
        out.push_back(pair.first + "=" + pair.second);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (std::string& text : texts)
        out.push_back(&text[0]);
    out.push_back(nullptr);
    return out;
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options)
{
    if (argv.empty())
        throw std::runtime_error("RunChild: no program");
    std::vector<std::string> args = argv;
    std::vector<std::string> env = childEnvironment(options);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    const std::string cwd = options.workingDirectory;
    const long long fileSizeLimit = options.fileSizeLimit;

    Pipe out;
    Pipe err;
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls run, and none that a preloaded library (umockdev
    // wraps open and chdir under a lock another thread may hold) can intercept.
    const FdCloser devnull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const FdCloser workDir(cwd.empty() ? -1 : open(cwd.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!cwd.empty() && workDir.fd < 0)
        throw std::runtime_error("RunChild: no working directory " + cwd);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        if (devnull.fd >= 0)
            dup2(devnull.fd, 0);
        dup2(out.fds[1], 1);
        dup2(err.fds[1], 2);
        if (workDir.fd >= 0 && fchdir(workDir.fd) != 0)
            _exit(126);
        if (fileSizeLimit >= 0) {
            const rlimit noCore = {0, 0};
            const rlimit size = {static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            struct sigaction fatal = {};
            fatal.sa_handler = SIG_DFL;
            if (setrlimit(RLIMIT_CORE, &noCore) != 0 || setrlimit(RLIMIT_FSIZE, &size) != 0 ||
                sigaction(SIGXFSZ, &fatal, nullptr) != 0)
                _exit(126);
        }
        // The program starts as from a shell: no signal blocked (the forking
        // thread may block some, and a blocked SIGXFSZ turns the size limit
        // into a plain write error).
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    out.closeWrite();
    err.closeWrite();

    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    bool outOpen = true;
    bool errOpen = true;
    // The child is not reaped before the loop ends: its pid is still its own.
    bool interrupted = !options.interruptWhen;
    while (outOpen || errOpen) {
        if (!interrupted && options.interruptWhen()) {
            kill(pid, options.interruptSignal);
            interrupted = true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (!interrupted)
            left = std::min(left, kInterruptCheck);
        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen)
            fds[count++] = {out.fds[0], POLLIN, 0};
        if (errOpen)
            fds[count++] = {err.fds[0], POLLIN, 0};
        const int ready = poll(fds, count, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            kill(pid, SIGKILL);
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            const bool isOut = fds[i].fd == out.fds[0];
            if (got > 0) {
                (isOut ? result.out : result.err).append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                (isOut ? outOpen : errOpen) = false;
            }
        }
    }

    int status = 0;
    // The pipes are closed (or the child was killed): it ends promptly. A
    // child that closed both pipes but goes on is killed at the deadline.
    for (;;) {
        const pid_t done = waitpid(pid, &status, result.timedOut ? 0 : WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return result;
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            continue;
        }
        usleep(5000);
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace morvtest
