// Shared pieces of the Link tests: link specs for the simulator's transports
// and a fixture of one simulated module reached over TCP on loopback.
#pragma once

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Eventually.h"
#include "Link.h"
#include "ModuleSimulator.h"
#include "SimEntities.h"
#include "SimStreams.h"

namespace linktest {

using Zorventa::Morvasset::aEtherConfig;
using Zorventa::Morvasset::Link;
using Zorventa::Morvasset::uei;
using morvsim::Bytes;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;

constexpr std::uint8_t kModule = 4;
constexpr std::uint32_t kSerial = 0x1234ABCD;

inline linkSpec tcpSpec(const std::string& ip, std::uint16_t port)
{
    linkSpec s;
    std::memset(&s, 0, sizeof s);
    s.type = linkTypeTCPIP;
    s.ipAddress = inet_addr(ip.c_str());
    s.port = port;
    return s;
}

inline linkSpec serialSpec(std::uint32_t serial, const std::string& path, std::uint32_t baud = 115200)
{
    linkSpec s;
    std::memset(&s, 0, sizeof s);
    s.type = linkTypeSerial;
    s.serialNumber = serial;
    s.baudRate = baud;
    std::strncpy(s.path, path.c_str(), sizeof s.path - 1);
    return s;
}

// Direct links only: no network server, no fallback.
inline aEtherConfig directConfig()
{
    aEtherConfig c;
    c.enabled = false;
    c.fallback = false;
    return c;
}

inline uei request(std::uint8_t option, std::uint8_t specifier, int type = Zorventa::Morvasset::ueiTypeVoid,
                   std::uint32_t value = 0, std::uint8_t command = 3)
{
    uei r;
    r.module = kModule;
    r.command = command;
    r.option = option;
    r.specifier = specifier;
    r.type = type;
    switch (type) {
    case Zorventa::Morvasset::ueiTypeByte: r.v.byteVal = static_cast<std::uint8_t>(value); break;
    case Zorventa::Morvasset::ueiTypeShort: r.v.shortVal = static_cast<std::uint16_t>(value); break;
    default: r.v.intVal = value; break;
    }
    return r;
}

// The reply a request is matched against.
inline uei expected(std::uint8_t option, std::uint8_t index, std::uint8_t command = 3)
{
    uei r;
    r.module = kModule;
    r.command = command;
    r.option = option;
    r.specifier = index;
    return r;
}

using morvtest::eventually;

// One simulated module (address 4) listening on its own loopback address,
// with an entity table on command 3 and the stream control entity.
class SimTcpFixture : public ::testing::Test {
protected:
    explicit SimTcpFixture(const char* ip = "127.0.0.2") : ip_(ip), sim(SimModule(kModule, kSerial, 19))
    {
        sim.withModule(kModule, [](SimModule& m) {
            morvsim::installEntityHandler(m, 3);
            morvsim::installStreamControl(m);
        });
        port = sim.listenTcp(ip_);
        spec = tcpSpec(ip_, port);
        EXPECT_EQ(link.setConfig(directConfig()), aErrNone);
        EXPECT_EQ(link.setLinkSpecifier(spec), aErrNone);
    }

    void connectLink()
    {
        ASSERT_EQ(link.connect(), aErrNone);
        ASSERT_TRUE(link.isConnected());
    }

    // The first packet from index from on that went to the module with this command.
    std::optional<SimPacket> requestTo(std::uint8_t command, std::size_t from = 0, Millis timeout = Millis(2000))
    {
        return sim.waitForPacket(
            [command](const SimPacket& p) { return p.address == kModule && !p.data.empty() && p.data[0] == command; },
            timeout, from);
    }

    void setEntity(std::uint32_t key, const Bytes& value)
    {
        sim.withModule(kModule, [&](SimModule& m) { m.entities[key] = value; });
    }

    std::string ip_;
    ModuleSimulator sim;
    std::uint16_t port = 0;
    linkSpec spec{};
    Link link{"Link"};
};

}  // namespace linktest
