// Runs the real Updater program for recovery tests, with the fake USB and the
// fake HID libraries preloaded: the HID device is the simulated i.MX boot ROM,
// which writes a marker file when it jumps into the loader; the USB bus holds a
// module running the recovery loader, whose far end (ModuleGate) answers only
// once that marker exists, as a module that appears when its loader starts.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ModuleSimulator.h"

namespace rectest {

// A unix socket the fake USB bus connects a module's pipe to. A connection is
// handed to the simulator once the marker file exists; one before that is
// counted and closed: the host looked for the module before it could be there.
class ModuleGate {
public:
    ModuleGate(morvsim::ModuleSimulator* sim, std::string socketPath, std::string marker)
        : sim_(sim), path_(std::move(socketPath)), marker_(std::move(marker))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path_.size() >= sizeof address.sun_path)
            throw std::runtime_error("ModuleGate: socket path too long");
        std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || pipe2(stop_, O_CLOEXEC) != 0)
            throw std::runtime_error("ModuleGate: socket");
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 4) != 0)
            throw std::runtime_error(std::string("ModuleGate: bind/listen: ") + std::strerror(errno));
        thread_ = std::thread([this] { loop(); });
    }
    ~ModuleGate()
    {
        const char byte = 1;
        if (::write(stop_[1], &byte, 1) != 1)
            std::perror("ModuleGate");
        thread_.join();
        close(fd_);
        close(stop_[0]);
        close(stop_[1]);
        unlink(path_.c_str());
    }
    ModuleGate(const ModuleGate&) = delete;
    ModuleGate& operator=(const ModuleGate&) = delete;

    std::string peer() const { return "unix:" + path_; }
    int accepted() const { return accepted_.load(); }
    int early() const { return early_.load(); }

private:
    void loop()
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
            if (connection < 0)
                continue;
            struct stat st {};
            if (sim_ == nullptr || stat(marker_.c_str(), &st) != 0) {
                ++early_;
                close(connection);
                continue;
            }
            ++accepted_;
            sim_->attachFd(connection);
        }
    }

    morvsim::ModuleSimulator* sim_;
    std::string path_;
    std::string marker_;
    int fd_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<int> accepted_{0};
    std::atomic<int> early_{0};
    std::thread thread_;
};

class RecoveryProgram {
public:
    // base: the store base given with -i (and HOME); url: the update server.
    RecoveryProgram(std::string base, std::string url) : base_(std::move(base)), url_(std::move(url))
    {
        setUsbDevices({});
        setHidConfig({});
    }

    // One config line per USB device ("device serial=... model=... peer=...").
    void setUsbDevices(const std::vector<std::string>& lines) { write(usbConfig(), lines); }
    // The HID device's config lines; the jump marker is always added.
    void setHidConfig(const std::vector<std::string>& lines)
    {
        std::vector<std::string> all = lines;
        all.push_back("jump-marker " + jumpMarker());
        write(hidConfig(), all);
    }

    std::string storage() const { return base_ + "/updater"; }
    std::string jumpMarker() const { return base_ + "/jumped"; }

    morvtest::ChildResult run(const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        std::vector<std::string> argv = {MORV_UPDATER_PROGRAM, "-i", base_, "-u", url_};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        morvtest::ChildOptions options;
        options.timeout = timeout;
        options.environment["LD_PRELOAD"] = std::string(MORV_FAKEUSB_LIBRARY) + ":" + MORV_FAKEHID_LIBRARY;
        options.environment["FAKEUSB_CONFIG"] = usbConfig();
        options.environment["FAKEHID_CONFIG"] = hidConfig();
        options.environment["HOME"] = base_;
        options.environment["ZSYS_SIGHANDLER"] = "false";
        options.environment["NO_PROXY"] = "127.0.0.1,localhost";
        options.environment["no_proxy"] = "127.0.0.1,localhost";
        // A sanitized build must accept the preloaded libraries ahead of its runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options.environment["ASAN_OPTIONS"] =
            std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
        options.unset = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
        options.workingDirectory = base_;
        return morvtest::RunChild(argv, options);
    }

private:
    std::string usbConfig() const { return base_ + "/fakeusb.conf"; }
    std::string hidConfig() const { return base_ + "/fakehid.conf"; }
    static void write(const std::string& path, const std::vector<std::string>& lines)
    {
        std::ofstream out(path, std::ios::trunc);
        for (const std::string& line : lines)
            out << line << "\n";
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }

    std::string base_;
    std::string url_;
};

}  // namespace rectest
