// A simulated module with its firmware loader for end-to-end updates by the
// real Updater program, reached over TCP/IP (found by TCP/IP discovery across a
// veth pair between two fresh network namespaces) or over USB (the preloaded
// fake bus whose pipe leads to the simulator on loopback).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AcceptLoop.h"
#include "BundleBuilder.h"
#include "FakeDiscoveryPeers.h"
#include "FakeUpdateServer.h"
#include "ModuleSimulator.h"
#include "Patterns.h"
#include "PrivateNetns.h"
#include "SimEntities.h"
#include "SimFirmwareLoader.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"
#include "TempDir.h"
#include "UpdaterProgram.h"

namespace updtest {

using morvsim::Bytes;

constexpr std::uint8_t kModuleAddress = 4;
constexpr std::uint8_t kModel = 5;  // "USBHub3p"
constexpr const char* kModelName = "USBHub3p";
// Firmware 2.11.3 (major in bits 28-31, minor in 24-27, patch below), build 12345.
constexpr std::uint32_t kVersionWord = 0x2B000003;
constexpr std::uint32_t kBuild = 12345;

// Accepts TCP connections on a non-loopback address of the namespace it was
// made in and hands each to the simulator; once the module rebooted it
// refuses (resets) every new connection, as a module that is gone would.
class ModuleAcceptor {
public:
    ModuleAcceptor(morvsim::ModuleSimulator& sim, const morvsim::SimFirmwareLoader& loader, const std::string& ip)
        : sim_(sim), loader_(loader)
    {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw std::runtime_error("ModuleAcceptor: socket");
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
            const std::string why = std::strerror(errno);
            close(fd);
            throw std::runtime_error("ModuleAcceptor: bind/listen: " + why);
        }
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        loop_ = std::make_unique<morvtest::AcceptLoop>(fd, [this](int connection) { accept(connection); });
    }
    ~ModuleAcceptor() { loop_.reset(); }
    ModuleAcceptor(const ModuleAcceptor&) = delete;
    ModuleAcceptor& operator=(const ModuleAcceptor&) = delete;

    std::uint16_t port() const { return port_; }
    int accepted() const { return accepted_.load(); }
    int refused() const { return refused_.load(); }

private:
    void accept(int connection)
    {
        if (loader_.record().stage == morvsim::LoaderStage::Rebooted) {
            ++refused_;
            linger reset{1, 0};
            setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            close(connection);
            return;
        }
        ++accepted_;
        sim_.attachFd(connection);
    }

    morvsim::ModuleSimulator& sim_;
    const morvsim::SimFirmwareLoader& loader_;
    std::uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> refused_{0};
    std::unique_ptr<morvtest::AcceptLoop> loop_;
};

// One simulated module: system entity, introspection and firmware loader.
struct SimulatedModule {
    explicit SimulatedModule(std::uint32_t serial, morvsim::LoaderConfig config = morvsim::LoaderConfig(),
                             std::uint8_t model = kModel)
        : sim(morvsim::SimModule(kModuleAddress, serial, model))
    {
        morvsim::SystemValues values;
        values.version = kVersionWord;
        morvsim::IntrospectionTable table;
        table.build = kBuild;
        sim.withModule(kModuleAddress, [&](morvsim::SimModule& m) {
            morvsim::installSystemEntity(m, values);
            morvsim::installIntrospection(m, table);
        });
        loader = std::make_unique<morvsim::SimFirmwareLoader>(sim, kModuleAddress, config);
    }
    ~SimulatedModule() { loader.reset(); }

    morvsim::ModuleSimulator sim;
    std::unique_ptr<morvsim::SimFirmwareLoader> loader;
};

// The firmware images of a bundle and what the flash must hold afterwards.
struct Image {
    std::uint32_t address;
    Bytes bytes;
};

using morvtest::pattern;

// The image with the serial written where the offsets ask for it.
inline Bytes patched(Bytes image, std::uint32_t address, std::uint32_t serialOffset, std::uint32_t descriptorOffset,
                     std::uint32_t serial)
{
    if (serialOffset >= address && serialOffset + 4 <= address + image.size())
        for (int i = 0; i < 4; ++i)
            image[serialOffset - address + i] = static_cast<std::uint8_t>(serial >> (8 * i));
    if (descriptorOffset >= address && descriptorOffset + 16 <= address + image.size()) {
        char text[9];
        std::snprintf(text, sizeof text, "%08X", serial);
        for (int i = 0; i < 8; ++i)
            image[descriptorOffset - address + 2 * i] = static_cast<std::uint8_t>(text[i]);
    }
    return image;
}

inline std::string serialText(std::uint32_t serial)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", serial);
    return text;
}

}  // namespace updtest
