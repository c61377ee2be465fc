// Runs the real Updater program for recovery tests. On the emulated kernel
// (useEmulatedKernel) it runs with the real libusb and hidapi under
// umockdev's preload, against whatever this process's testbed holds. Else the
// fake USB and fake HID libraries are preloaded: the HID device is the
// simulated i.MX boot ROM, which writes a marker file when it jumps into the
// loader; the USB bus holds a module running the recovery loader, whose far
// end (ModuleGate) answers only once that marker exists.
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
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AcceptLoop.h"
#include "ChildProcess.h"
#include "ModuleSimulator.h"
#include "UpdaterProgram.h"

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
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw std::runtime_error("ModuleGate: socket");
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
            const std::string why = std::strerror(errno);
            close(fd);
            throw std::runtime_error("ModuleGate: bind/listen: " + why);
        }
        loop_ = std::make_unique<morvtest::AcceptLoop>(fd, [this](int connection) { accept(connection); });
    }
    ~ModuleGate()
    {
        loop_.reset();
        unlink(path_.c_str());
    }
    ModuleGate(const ModuleGate&) = delete;
    ModuleGate& operator=(const ModuleGate&) = delete;

    std::string peer() const { return "unix:" + path_; }
    int accepted() const { return accepted_.load(); }
    int early() const { return early_.load(); }

private:
    void accept(int connection)
    {
        struct stat st {};
        if (sim_ == nullptr || stat(marker_.c_str(), &st) != 0) {
            ++early_;
            close(connection);
            return;
        }
        ++accepted_;
        sim_->attachFd(connection);
    }

    morvsim::ModuleSimulator* sim_;
    std::string path_;
    std::string marker_;
    std::atomic<int> accepted_{0};
    std::atomic<int> early_{0};
    std::unique_ptr<morvtest::AcceptLoop> loop_;
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
    void setUsbDevices(const std::vector<std::string>& lines) { updtest::writeLines(usbConfig(), lines); }
    // The HID device's config lines; the jump marker is always added.
    void setHidConfig(const std::vector<std::string>& lines)
    {
        std::vector<std::string> all = lines;
        all.push_back("jump-marker " + jumpMarker());
        updtest::writeLines(hidConfig(), all);
    }

    std::string storage() const { return base_ + "/updater"; }
    std::string jumpMarker() const { return base_ + "/jumped"; }
    void useEmulatedKernel() { emulated_ = true; }

    morvtest::ChildResult run(const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        if (emulated_) {
            auto environment = umockusb::Testbed::instance().childEnvironment();
            const std::string preload = environment["LD_PRELOAD"];
            environment.erase("LD_PRELOAD");
            return updtest::runUpdater(base_, url_, arguments, timeout, preload, environment);
        }
        return updtest::runUpdater(base_, url_, arguments, timeout,
                                   std::string(MORV_FAKEUSB_LIBRARY) + ":" + MORV_FAKEHID_LIBRARY,
                                   {{"FAKEUSB_CONFIG", usbConfig()}, {"FAKEHID_CONFIG", hidConfig()}});
    }

private:
    std::string usbConfig() const { return base_ + "/fakeusb.conf"; }
    std::string hidConfig() const { return base_ + "/fakehid.conf"; }
    std::string base_;
    std::string url_;
    bool emulated_ = false;
};

}  // namespace rectest
