// Shared set-up of the object-layer tests: a simulated module listening on
// TCP 127.0.0.x and Module objects connected to it.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Module.h"
#include "ModuleSimulator.h"
#include "SimEntities.h"
#include "SimI2C.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"

namespace objtest {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;

constexpr std::uint8_t kRouterAddress = 4;
constexpr std::uint32_t kRouterSerial = 0x1234ABCD;
constexpr std::uint8_t kRouterModel = 17;

inline std::uint32_t ipv4(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

inline linkSpec tcpSpec(const char* ip, std::uint16_t port, std::uint32_t serial = 0)
{
    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    spec.type = linkTypeTCPIP;
    spec.serialNumber = serial;
    spec.ipAddress = ipv4(ip);
    spec.port = port;
    return spec;
}

// No local network server and no fallback: a direct link.
inline aEtherConfig directConfig()
{
    aEtherConfig config;
    config.enabled = false;
    config.fallback = false;
    return config;
}

// Data bytes of the packets the host sent to one module address, from index on.
inline std::vector<Bytes> sentTo(const ModuleSimulator& sim, std::uint8_t address, std::size_t from = 0)
{
    std::vector<Bytes> out;
    std::vector<SimPacket> packets = sim.packets();
    for (std::size_t i = from; i < packets.size(); ++i)
        if (packets[i].address == address)
            out.push_back(packets[i].data);
    return out;
}

// A routing module with its system entity, introspection, echo and I2C bus,
// listening on TCP at ip.
class SimRig {
public:
    explicit SimRig(const char* ip = "127.0.0.2", std::uint8_t address = kRouterAddress,
                    std::uint32_t serial = kRouterSerial, std::uint8_t model = kRouterModel)
        : sim(SimModule(address, serial, model)), ip_(ip), address_(address)
    {
        sim.withModule(address, [](SimModule& m) {
            morvsim::installSystemEntity(m);
            morvsim::installEcho(m);
            morvsim::installI2CBus(m);
        });
        port = sim.listenTcp(ip);
        spec = tcpSpec(ip, port, serial);
    }

    // A Module connected over TCP through the linkSpec; gtest failure when it does not connect.
    std::unique_ptr<Module> connect(std::uint8_t address = 0, bool networking = true)
    {
        auto module = std::make_unique<Module>(address, networking, std::uint8_t(0));
        EXPECT_EQ(module->setConfig(directConfig()), aErrNone);
        EXPECT_EQ(module->connectFromSpec(spec), aErrNone);
        return module;
    }

    // Packets sent to the module from now on can be read with sentSince(mark()).
    std::size_t mark() const { return sim.packetCount(); }
    std::vector<Bytes> sentSince(std::size_t from) const { return sentTo(sim, address_, from); }

    ModuleSimulator sim;
    std::uint16_t port = 0;
    linkSpec spec{};

private:
    std::string ip_;
    std::uint8_t address_;
};

}  // namespace objtest
