// Runs the real Updater program for recovery tests, with the real libusb and
// hidapi under umockdev's preload, against whatever this process's testbed
// holds (the i.MX boot ROM on hidraw, the recovery loader's module on USB).
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

class RecoveryProgram {
public:
    // base: the store base given with -i (and HOME); url: the update server.
    RecoveryProgram(std::string base, std::string url) : base_(std::move(base)), url_(std::move(url)) {}

    std::string storage() const { return base_ + "/updater"; }
    std::string jumpMarker() const { return base_ + "/jumped"; }

    morvtest::ChildResult run(const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(60000)) const
    {
        auto environment = umockusb::Testbed::instance().childEnvironment();
        const std::string preload = environment["LD_PRELOAD"];
        environment.erase("LD_PRELOAD");
        return updtest::runUpdater(base_, url_, arguments, timeout, preload, environment);
    }

private:
    std::string base_;
    std::string url_;
};

}  // namespace rectest
