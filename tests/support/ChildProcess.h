// Runs a program as a child process with its own arguments and environment,
// collects its standard output and standard error and its exit code, and kills
// it when it outlives its time limit. The child inherits the network namespace
// of the calling thread, so a test can run it inside a NetnsThread's namespace.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace morvtest {

struct ChildResult {
    // Exit code; -1 when the child did not exit normally (a signal, or killed).
    int exitCode = -1;
    int signal = 0;  // the signal that ended the child; 0 when it exited
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ChildOptions {
    // Added to (or replacing values of) the test process's environment.
    std::map<std::string, std::string> environment;
    // Variables removed from the child's environment.
    std::vector<std::string> unset;
    std::string workingDirectory;  // empty: the test's own
    std::chrono::milliseconds timeout{30000};
    // When not negative: the child's file size limit in bytes (RLIMIT_FSIZE), a
    // write past it ending the child with SIGXFSZ (no core file).
    long long fileSizeLimit = -1;
    // When set: asked every few milliseconds while the child runs; the first
    // time it returns true the child is sent interruptSignal.
    std::function<bool()> interruptWhen;
    int interruptSignal = SIGTERM;
};

// argv[0] is the program path. Throws std::runtime_error when the child cannot
// be started.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = ChildOptions());

// The lines of a text, without their line ends (a last line without one included).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace morvtest
