// The questions discovery asks one module, against a simulated module on TCP loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <string>

#include "DeviceQuery.h"
#include "ModuleSimulator.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"
#include "Updater.h"
#include "UpdaterTestDisplay.h"
#include "aVersion.h"

namespace {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::ModuleSimulator;
using morvsim::SimModule;
using morvsim::SimPacket;
using morvsim::SimReply;
using updtest::RecordingDisplay;

constexpr uint8_t kAddress = 4;
constexpr uint32_t kSerial = 0x0012ABCD;
constexpr uint8_t kModel = 5;
const std::string kName("Hub\x01\0x", 6);

linkSpec loopbackSpec(uint16_t port)
{
    linkSpec spec;
    std::memset(&spec, 0, sizeof spec);
    spec.type = linkTypeTCPIP;
    spec.serialNumber = kSerial;
    spec.module = kAddress;
    spec.router = kAddress;
    spec.model = kModel;
    spec.ipAddress = htonl(INADDR_LOOPBACK);
    spec.port = port;
    return spec;
}

// Requests of the system entity (command 3) for one option that the host sent.
size_t systemRequests(const ModuleSimulator& sim, uint8_t option)
{
    size_t count = 0;
    for (const SimPacket& p : sim.packets())
        if (p.address == kAddress && p.data.size() >= 2 && p.data[0] == 3 && (p.data[1] & 0x3F) == option)
            ++count;
    return count;
}

class DeviceQueryTest : public ::testing::Test {
protected:
    DeviceQueryTest() : sim_(SimModule(kAddress, kSerial, kModel))
    {
        morvsim::SystemValues values;
        values.version = aVersion_Pack(2, 11, 3);
        values.router = 10;
        values.name = kName;
        morvsim::IntrospectionTable table;
        table.build = 4711;
        sim_.withModule(kAddress, [&](SimModule& m) {
            morvsim::installSystemEntity(m, values);
            morvsim::installIntrospection(m, table);
        });
        port_ = sim_.listenTcp("127.0.0.1");
        info_.spec = loopbackSpec(port_);
    }

    // Answers gets of one system option with an error, everything else as before.
    void refuseOption(uint8_t refused)
    {
        sim_.setHandler(kAddress, 3, [refused](SimModule& m, const SimPacket& p, SimReply& r) {
            if (p.data.size() >= 3 && (p.data[1] & 0x3F) == refused && (p.data[1] & 0x40) != 0) {
                r.packet(m.address, {3, refused, static_cast<uint8_t>(p.data[2] | 0x80), 29});
                return;
            }
            morvsim::handleSystemRequest(m, p, r);
        });
    }

    ModuleSimulator sim_;
    uint16_t port_ = 0;
    DeviceInfo info_;
    RecordingDisplay display_;
};

TEST_F(DeviceQueryTest, AHealthyModuleTellsBuildVersionAddressesAndName)
{
    Module module(2, true, 0);
    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_EQ(info_.error, 0u);
    EXPECT_EQ(info_.build, 4711u);
    EXPECT_EQ(info_.major, 2);
    EXPECT_EQ(info_.minor, 11);
    EXPECT_EQ(info_.patch, 3u);
    EXPECT_EQ(info_.spec.module, kAddress);
    EXPECT_EQ(info_.spec.router, 10) << "the module's own answer";
    EXPECT_EQ(info_.deviceName, kName) << "every byte the module sent, the zero byte too";
    EXPECT_FALSE(module.isConnected());
    EXPECT_TRUE(display_.lines.empty());
    // Build query as raw introspection [73, 0xFF].
    bool asked = false;
    for (const SimPacket& p : sim_.packets())
        asked = asked || p.is(kAddress, {73, 0xFF});
    EXPECT_TRUE(asked);
}

TEST_F(DeviceQueryTest, AFailedVersionQueryIsRecordedAndSkipsTheName)
{
    refuseOption(7);
    Module module(2, true, 0);
    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_EQ(info_.error, static_cast<uint32_t>(aErrInvalidOption));
    EXPECT_EQ(info_.build, 4711u);
    EXPECT_TRUE(info_.deviceName.empty());
    EXPECT_EQ(systemRequests(sim_, 32), 0u) << "no name query after a failed version query";
    EXPECT_FALSE(module.isConnected());
}

TEST_F(DeviceQueryTest, AFailedNameQueryIsRecorded)
{
    refuseOption(32);
    Module module(2, true, 0);
    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_EQ(info_.error, static_cast<uint32_t>(aErrInvalidOption));
    EXPECT_EQ(info_.major, 2);
    EXPECT_TRUE(info_.deviceName.empty());
}

TEST_F(DeviceQueryTest, ABuildReplyOfTheWrongLengthGivesBuildZero)
{
    sim_.setHandler(kAddress, 73, [](SimModule& m, const SimPacket&, SimReply& r) {
        r.packet(m.address, {73, 0xFF, 0x12, 0x34});
    });
    Module module(2, true, 0);
    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_EQ(info_.build, 0u);
    EXPECT_EQ(info_.error, 0u);
}

TEST_F(DeviceQueryTest, AModuleThatCannotBeReachedIsListedWithTheError)
{
    sim_.stopListening();
    Module module(2, true, 0);
    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_NE(info_.error, 0u);
    EXPECT_EQ(info_.build, 0u);
    EXPECT_EQ(info_.major, 0);
}

TEST_F(DeviceQueryTest, ANetworkConfigurationThatCannotBeSetIsAnErrorNotAHealthyModule)
{
    // A module object that is already connected refuses a new configuration.
    Module module(2, true, 0);
    ASSERT_EQ(Updater::_disableEther(module, display_), aErrNone);
    const linkSpec spec = info_.spec;
    ASSERT_EQ(module.connectFromSpec(spec), aErrNone);
    const size_t before = sim_.packetCount();

    DeviceQuery::QueryDirect(module, info_, display_);
    EXPECT_EQ(info_.error, static_cast<uint32_t>(aErrMode));
    EXPECT_EQ(display_.errors(), std::vector<std::string>{"Failed to SET network configuration"});
    EXPECT_EQ(info_.build, 0u);
    EXPECT_TRUE(info_.deviceName.empty());
    EXPECT_EQ(sim_.packetCount(), before) << "nothing was asked";
    module.disconnect();
}

}  // namespace
