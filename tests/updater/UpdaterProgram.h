// Runs the real Updater program as a child process for end-to-end tests:
// always with "-i <store base>" and "-u <loopback update server>", with the
// real libusb-1.0 on this process's umockdev-emulated USB bus (plugUsbModule),
// and with HOME pointed at the test's own directory.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ModuleSimulator.h"
#include "SimFirmwareLoader.h"
#include "UsbTestbed.h"

namespace updtest {

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string golden(const std::string& name)
{
    return readText(std::string(MORV_TEST_SOURCE_DIR) + "/updater/golden/" + name);
}

// A child's exit, output and errors, for a failed expectation's message.
inline std::string describe(const morvtest::ChildResult& r)
{
    return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") + "\n--- stdout\n" + r.out +
           "--- stderr\n" + r.err;
}

inline const std::string kVersionLine = "Updater (Version: 2.11.3 Jun  6 2025)";

// Writes a fake library's config file, one line each.
inline void writeLines(const std::string& path, const std::vector<std::string>& lines)
{
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\n";
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Runs the Updater with "-i base -u url" and the arguments, in base (also
// HOME), with preload (the fake libraries) in LD_PRELOAD and their config
// variables set, and no proxy in the way of the loopback server.
inline morvtest::ChildResult runUpdater(const std::string& base, const std::string& url,
                                        const std::vector<std::string>& arguments,
                                        std::chrono::milliseconds timeout, const std::string& preload,
                                        const std::map<std::string, std::string>& configs,
                                        long long fileSizeLimit = -1,
                                        const std::function<bool()>& interruptWhen = {},
                                        int interruptSignal = SIGTERM)
{
    std::vector<std::string> argv = {MORV_UPDATER_PROGRAM, "-i", base, "-u", url};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    morvtest::ChildOptions options;
    options.timeout = timeout;
    options.environment["LD_PRELOAD"] = preload;
    for (const auto& config : configs)
        options.environment[config.first] = config.second;
    options.environment["HOME"] = base;
    options.environment["ZSYS_SIGHANDLER"] = "false";
    options.environment["NO_PROXY"] = "127.0.0.1,localhost";
    options.environment["no_proxy"] = "127.0.0.1,localhost";
    // A sanitized build must accept the preloaded libraries ahead of its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.environment["ASAN_OPTIONS"] =
        std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    options.unset = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    options.workingDirectory = base;
    options.fileSizeLimit = fileSizeLimit;
    options.interruptWhen = interruptWhen;
    options.interruptSignal = interruptSignal;
    return morvtest::RunChild(argv, options);
}

// A module on the emulated USB bus whose bulk endpoints lead to a simulator.
// With wire(), a dropped link (the module rebooting) takes it off the bus and
// the loader's downtime later puts it back with the same serial, as a new
// device. Declare it before the simulator it serves, so that goes first.
class UsbModulePlug {
public:
    UsbModulePlug(std::uint32_t serial, std::uint8_t model) : serial_(serial), model_(model) {}
    ~UsbModulePlug()
    {
        if (id_.load() != 0)
            umockusb::Testbed::instance().unplug(id_.load());
    }
    UsbModulePlug(const UsbModulePlug&) = delete;
    UsbModulePlug& operator=(const UsbModulePlug&) = delete;

    void plugInto(morvsim::ModuleSimulator& sim)
    {
        sim_ = &sim;
        auto& bed = umockusb::Testbed::instance();
        const int id = bed.plug(umockusb::moduleSpec(serial_, model_, 64));
        {
            std::lock_guard<std::mutex> hold(mutex_);
            plugged_.push_back(id);
        }
        id_ = id;
        sim.attachFd(bed.takePeerFd(id));
    }
    void wire(morvsim::LoaderConfig& config)
    {
        config.linkDropped = [this] {
            auto& bed = umockusb::Testbed::instance();
            const int id = id_.load();
            const umockusb::DeviceStats last = bed.stats(id);
            {
                std::lock_guard<std::mutex> hold(mutex_);
                gone_[id] = last;
            }
            bed.unplug(id);
        };
        config.linkBack = [this] {
            if (sim_ != nullptr)
                plugInto(*sim_);
        };
    }
    int id() const { return id_.load(); }
    // How many times the module came onto the bus; the latest is number plugs() - 1.
    std::size_t plugs() const
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return plugged_.size();
    }
    // The device of the module's n-th time on the bus (0: the first): its
    // stats now, or as they were when it left; empty before it came.
    umockusb::DeviceStats statsOf(std::size_t n) const
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (n >= plugged_.size())
            return {};
        const auto gone = gone_.find(plugged_[n]);
        return gone != gone_.end() ? gone->second : umockusb::Testbed::instance().stats(plugged_[n]);
    }

private:
    std::uint32_t serial_;
    std::uint8_t model_;
    morvsim::ModuleSimulator* sim_ = nullptr;
    std::atomic<int> id_{0};
    mutable std::mutex mutex_;
    std::vector<int> plugged_;                   // guarded by mutex_
    std::map<int, umockusb::DeviceStats> gone_;  // guarded by mutex_
};

class UpdaterProgram {
public:
    // base: the store base given with -i (and HOME); url: the update server.
    // The emulated bus starts empty.
    UpdaterProgram(std::string base, std::string url) : base_(std::move(base)), url_(std::move(url))
    {
        umockusb::Testbed::instance().reset();
    }

    const std::string& base() const { return base_; }
    std::string storage() const { return base_ + "/updater"; }

    morvtest::ChildResult run(const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        return runWithFileSizeLimit(arguments, -1, timeout);
    }

    // As run, ended by SIGXFSZ when it writes a file past fileSizeLimit bytes.
    morvtest::ChildResult runWithFileSizeLimit(const std::vector<std::string>& arguments, long long fileSizeLimit,
                                               std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        return launch(arguments, timeout, fileSizeLimit, {}, SIGTERM);
    }

    // As run, sent the signal once `when` holds (asked every few milliseconds).
    morvtest::ChildResult runInterrupted(const std::vector<std::string>& arguments, const std::function<bool()>& when,
                                         int signal,
                                         std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        return launch(arguments, timeout, -1, when, signal);
    }

private:
    morvtest::ChildResult launch(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout,
                                 long long fileSizeLimit, const std::function<bool()>& interruptWhen,
                                 int interruptSignal) const
    {
        auto environment = umockusb::Testbed::instance().childEnvironment();
        const std::string preload = environment["LD_PRELOAD"];
        environment.erase("LD_PRELOAD");
        return runUpdater(base_, url_, arguments, timeout, preload, environment, fileSizeLimit, interruptWhen,
                          interruptSignal);
    }

    std::string base_;
    std::string url_;
};

}  // namespace updtest
