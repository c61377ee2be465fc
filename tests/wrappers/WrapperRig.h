// A simulated hub with its system, port, USB, power-delivery and USB-system
// entities, listening on TCP 127.0.0.x, and a Module connected to it and
// registered in the wrapper library's registry.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CCAMap.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "SimEntities.h"
#include "SimHostEntities.h"
#include "SimSystemEntity.h"
#include "morvwrappers.h"

namespace wraptest {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;

constexpr std::uint8_t kHubAddress = 6;
constexpr std::uint32_t kHubSerial = 0x8BADF00D;
constexpr std::uint8_t kHubModel = 200;

inline linkSpec tcpSpec(const char* ip, std::uint16_t port, std::uint32_t serial)
{
    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    spec.type = linkTypeTCPIP;
    spec.serialNumber = serial;
    in_addr address{};
    inet_pton(AF_INET, ip, &address);
    spec.ipAddress = address.s_addr;
    spec.port = port;
    return spec;
}

class HubRig {
public:
    explicit HubRig(const char* ip = "127.0.0.2", std::uint32_t serial = kHubSerial)
        : sim(SimModule(kHubAddress, serial, kHubModel))
    {
        sim.withModule(kHubAddress, [](SimModule& m) {
            morvsim::SystemValues values;
            values.temperature = -10;
            values.name = "Wrapped hub";
            values.inputPowerBehaviorConfig = {1, 0, 0, 0, 2, 0, 0, 0};
            morvsim::installSystemEntity(m, values);
            morvsim::installHostEntities(m);
        });
        const std::uint16_t port = sim.listenTcp(ip);
        spec_ = tcpSpec(ip, port, serial);
    }

    ~HubRig()
    {
        if (id != 0)
            removeDevice(id);
    }

    // Connects a Module over TCP (no local server, no fallback) and registers it.
    void connectAndRegister()
    {
        auto owned = std::make_unique<Module>(std::uint8_t(0), true, std::uint8_t(0));
        aEtherConfig config;
        config.enabled = false;
        config.fallback = false;
        ASSERT_EQ(owned->setConfig(config), aErrNone);
        ASSERT_EQ(owned->connectFromSpec(spec_), aErrNone);
        ASSERT_EQ(owned->getModuleAddress(), kHubAddress);
        module = owned.get();
        ASSERT_EQ(registerDevice(std::move(owned), &id), aErrNone);
    }

    SimModule hub() const { return sim.module(kHubAddress); }
    void change(const std::function<void(SimModule&)>& fn) { sim.withModule(kHubAddress, fn); }

    // Data bytes of the packets sent to the hub from packet index from on.
    std::vector<Bytes> sentSince(std::size_t from) const
    {
        std::vector<Bytes> out;
        std::vector<SimPacket> packets = sim.packets();
        for (std::size_t i = from; i < packets.size(); ++i)
            if (packets[i].address == kHubAddress)
                out.push_back(packets[i].data);
        return out;
    }

    ModuleSimulator sim;
    std::uint32_t id = 0;
    Module* module = nullptr;

private:
    linkSpec spec_{};
};

}  // namespace wraptest
