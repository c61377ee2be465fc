// I2CClass against the I2C bus of a simulated routing module, with a memory
// device and modules behind the router on the bus.
#include "ObjectTestRig.h"

#include <atomic>
#include <functional>
#include <thread>

#include "I2CClass.h"
#include "SystemClass.h"
#include "aPacket.h"

namespace {

using namespace objtest;

constexpr std::uint8_t kMemoryAddress = 0x50;

class I2CTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bytes memory(256);
        for (std::size_t i = 0; i < memory.size(); ++i)
            memory[i] = static_cast<std::uint8_t>(i ^ 0x5A);
        rig_.sim.withModule(kRouterAddress, [&](SimModule& m) { morvsim::addI2CDevice(m, 0, kMemoryAddress, memory); });
        router_ = rig_.connect();
        ASSERT_EQ(bus_.init(router_.get(), 0), aErrNone);
    }

    SimModule routerRecord() const { return rig_.sim.module(kRouterAddress); }
    // Replaces the bus with one fixed answer.
    void answerWith(Bytes reply)
    {
        rig_.sim.setHandler(kRouterAddress, 8, [reply](SimModule& m, const SimPacket&, SimReply& r) {
            r.packet(m.address, reply);
        });
    }

    SimRig rig_;
    std::unique_ptr<Module> router_;
    I2CClass bus_;
};

TEST_F(I2CTest, ReadsAndWritesAMemoryDevice)
{
    std::size_t mark = rig_.mark();
    std::uint8_t data[23] = {};
    ASSERT_EQ(bus_.read(kMemoryAddress, 2, data), aErrNone);
    EXPECT_EQ(data[0], 0x00 ^ 0x5A);
    EXPECT_EQ(data[1], 0x01 ^ 0x5A);
    std::vector<Bytes> sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{8, 0, 0x51, 2, 0})) << "read bit set, speed 0";

    ASSERT_EQ(bus_.setSpeed(3), aErrNone);
    mark = rig_.mark();
    const std::uint8_t write[3] = {0x10, 0xAA, 0xBB};
    ASSERT_EQ(bus_.write(kMemoryAddress, 3, write), aErrNone);
    sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{8, 0, 0x50, 3, 3, 0x10, 0xAA, 0xBB}));
    Bytes memory = morvsim::i2cDeviceMemory(routerRecord(), 0, kMemoryAddress);
    ASSERT_EQ(memory.size(), 256u);
    EXPECT_EQ(memory[0x10], 0xAA);
    EXPECT_EQ(memory[0x11], 0xBB);

    // The write left the register pointer at 0x10; a full-length read follows it.
    ASSERT_EQ(bus_.read(kMemoryAddress, 23, data), aErrNone);
    EXPECT_EQ(data[0], 0xAA);
    EXPECT_EQ(data[1], 0xBB);
    EXPECT_EQ(data[22], 0x26 ^ 0x5A);
    EXPECT_EQ(morvsim::i2cLastSpeed(routerRecord(), 0), 3);
}

TEST_F(I2CTest, SpeedLengthAndArgumentChecks)
{
    std::uint8_t speed = 9;
    EXPECT_EQ(bus_.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 0) << "0 after init";
    EXPECT_EQ(bus_.setSpeed(2), aErrNone);
    EXPECT_EQ(bus_.setSpeed(4), aErrParam);
    EXPECT_EQ(bus_.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 2) << "the old code stays";
    EXPECT_EQ(bus_.getSpeed(nullptr), aErrParam);
    bus_.init(router_.get(), 0);
    EXPECT_EQ(bus_.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 0) << "init clears it";

    const std::size_t mark = rig_.mark();
    std::uint8_t data[32] = {};
    EXPECT_EQ(bus_.read(kMemoryAddress, 24, data), aErrSize);
    EXPECT_EQ(bus_.write(kMemoryAddress, 24, data), aErrSize);
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, nullptr), aErrParam);
    EXPECT_EQ(bus_.write(kMemoryAddress, 2, nullptr), aErrParam);
    EXPECT_TRUE(rig_.sentSince(mark).empty()) << "refused before sending";

    I2CClass unbound;
    EXPECT_EQ(unbound.read(kMemoryAddress, 1, data), aErrResource);
    EXPECT_EQ(unbound.write(kMemoryAddress, 1, data), aErrResource);
    EXPECT_EQ(unbound.setPullup(true), aErrResource);

    Module offline(kRouterAddress, false, 0);
    I2CClass disconnected;
    disconnected.init(&offline, 0);
    EXPECT_EQ(disconnected.read(kMemoryAddress, 1, data), aErrConnection);
    EXPECT_EQ(disconnected.write(kMemoryAddress, 1, data), aErrConnection);
}

TEST_F(I2CTest, StatusAndShortReplies)
{
    std::uint8_t data[8] = {};
    const std::uint8_t probe[2] = {0, 0};
    // Nobody at the address: the bus's NACK status.
    EXPECT_EQ(bus_.write(0x60, 2, probe), morvsim::kI2CNack & 0x7F);
    EXPECT_EQ(bus_.read(0x60, 2, data), morvsim::kI2CNack & 0x7F);

    answerWith({8, 0, 0x51, 0, 0x83});
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, data), 3) << "the status's low seven bits";
    answerWith({8, 0, 0x51, 0, 0x80});
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, data), aErrUnknown) << "an error status without a code";
    answerWith({8, 0, 0x51, 0, 0x80 | 77});
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, data), aErrUnknown) << "a code outside the table";
    answerWith({8, 0, 0x51, 2});
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, data), aErrPacket) << "no status byte";
    answerWith({8, 0, 0x50, 0});
    EXPECT_EQ(bus_.write(kMemoryAddress, 2, probe), aErrPacket);
    answerWith({8, 0, 1, 0});
    EXPECT_EQ(bus_.setPullup(true), aErrPacket);

    rig_.sim.setHandler(kRouterAddress, 8, {});
    EXPECT_EQ(bus_.read(kMemoryAddress, 2, data), aErrTimeout);
}

// A read copies no more than the reply's count, the requested length and the
// bytes the packet really holds, whichever is least.
TEST_F(I2CTest, ReadCopiesTheLeastOfCountLengthAndBytesReceived)
{
    struct Case {
        std::uint8_t count;     // reply byte 3
        std::uint8_t carried;   // data bytes in the reply
        std::uint8_t requested;
        std::size_t copied;
    };
    const Case cases[] = {
        {20, 3, 10, 3}, {2, 5, 10, 2}, {5, 5, 1, 1}, {0, 4, 4, 0}, {23, 23, 23, 23}, {255, 23, 23, 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << int(c.count) << " carried " << int(c.carried) << " requested "
                                        << int(c.requested));
        Bytes reply{8, 0, 0x51, c.count, 0};
        for (std::uint8_t i = 0; i < c.carried; ++i)
            reply.push_back(static_cast<std::uint8_t>(0xB0 + i));
        answerWith(reply);
        std::uint8_t data[40];
        std::memset(data, 0xEE, sizeof(data));
        ASSERT_EQ(bus_.read(kMemoryAddress, c.requested, data), aErrNone);
        for (std::size_t i = 0; i < sizeof(data); ++i)
            ASSERT_EQ(data[i], i < c.copied ? 0xB0 + i : 0xEE) << "byte " << i;
    }
}

TEST_F(I2CTest, PullupsAndAnotherBusIndex)
{
    std::size_t mark = rig_.mark();
    ASSERT_EQ(bus_.setPullup(true), aErrNone);
    EXPECT_EQ(morvsim::i2cPullup(routerRecord(), 0), 1);
    ASSERT_EQ(bus_.setPullup(false), aErrNone);
    EXPECT_EQ(morvsim::i2cPullup(routerRecord(), 0), 0);
    std::vector<Bytes> sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (Bytes{8, 0, 1, 1}));
    EXPECT_EQ(sent[1], (Bytes{8, 0, 1, 0}));

    rig_.sim.withModule(kRouterAddress, [](SimModule& m) { morvsim::addI2CDevice(m, 1, 0x20, Bytes{9, 8, 7}); });
    I2CClass second;
    ASSERT_EQ(second.init(router_.get(), 1), aErrNone);
    std::uint8_t data[3] = {};
    mark = rig_.mark();
    ASSERT_EQ(second.read(0x20, 3, data), aErrNone);
    EXPECT_EQ(data[2], 7);
    sent = rig_.sentSince(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{8, 1, 0x21, 3, 0}));
    EXPECT_EQ(bus_.read(0x20, 3, data), morvsim::kI2CNack & 0x7F) << "not on bus 0";
}

// The routed search as the application runs it: the routing module routes to
// the host, a two-byte write probes each even address, and a module that
// answers is reached through the router's link.
TEST_F(I2CTest, ProbeTheBusBehindARoutingModuleAndReachWhatAnswers)
{
    morvsim::addModuleBehindRouter(rig_.sim, kRouterAddress, SimModule(6, 0x06060606, 19));
    morvsim::addModuleBehindRouter(rig_.sim, kRouterAddress, SimModule(10, 0x0A0A0A0A, 21));

    SystemClass routerSystem;
    routerSystem.init(router_.get(), 0);
    ASSERT_EQ(routerSystem.routeToMe(1), aErrNone);
    ASSERT_EQ(bus_.setSpeed(3), aErrNone);

    const std::uint8_t probe[2] = {0, 0};
    std::vector<std::uint8_t> found;
    for (std::uint8_t address = 2; address <= 14; address += 2) {
        if (address == router_->getModuleAddress())
            continue;
        if (bus_.write(address, 2, probe) == aErrNone)
            found.push_back(address);
    }
    EXPECT_EQ(found, (std::vector<std::uint8_t>{6, 10}));

    for (std::uint8_t address : found) {
        SCOPED_TRACE(int(address));
        Module device(address, false, 0);
        ASSERT_EQ(device.connectThroughLinkModule(router_.get()), aErrNone);
        SystemClass system;
        system.init(&device, 0);
        std::uint32_t serial = 0;
        ASSERT_EQ(system.getSerialNumber(&serial), aErrNone);
        EXPECT_EQ(serial, address == 6 ? 0x06060606u : 0x0A0A0A0Au);
        std::uint8_t router = 0;
        ASSERT_EQ(system.getRouter(&router), aErrNone);
        EXPECT_EQ(router, kRouterAddress);
        EXPECT_EQ(device.disconnect(), aErrNone);
    }
    ASSERT_EQ(routerSystem.routeToMe(0), aErrNone);
    EXPECT_TRUE(router_->isConnected());
}

// Two threads read one device with different lengths, through one Module
// or through two Modules on one link: a reply carries no request number, so
// each read must take its turn to get its own reply.
TEST(I2CSharedLink, EachReadGetsItsOwnReply)
{
    constexpr int kReads = 300;
    static constexpr std::uint8_t kFill = 0xAA;
    SimRig rig;
    rig.sim.withModule(kRouterAddress,
                       [](SimModule& m) { morvsim::addI2CDevice(m, 0, kMemoryAddress, Bytes(256, kFill)); });
    for (bool twoModules : {false, true}) {
        SCOPED_TRACE(twoModules ? "two Modules" : "one Module");
        auto first = rig.connect(kRouterAddress, false);
        auto second = twoModules ? rig.connect(kRouterAddress, false) : nullptr;
        std::atomic<int> wrong{0};
        std::atomic<int> failed{0};
        auto reader = [&](Module* module, std::uint8_t length) {
            I2CClass bus;
            bus.init(module, 0);
            for (int n = 0; n < kReads; ++n) {
                std::uint8_t data[I2CClass::kMaxTransfer] = {};
                if (bus.read(kMemoryAddress, length, data) != aErrNone) {
                    ++failed;
                    continue;
                }
                // A read that took the shorter reply keeps zeros; none may
                // get bytes beyond its length either.
                for (std::uint8_t i = 0; i < I2CClass::kMaxTransfer; ++i) {
                    if (data[i] != (i < length ? kFill : 0)) {
                        ++wrong;
                        break;
                    }
                }
            }
        };
        std::thread a(reader, first.get(), std::uint8_t(4));
        std::thread b(reader, second ? second.get() : first.get(), std::uint8_t(8));
        a.join();
        b.join();
        EXPECT_EQ(wrong.load(), 0) << "reads that got the other thread's reply";
        EXPECT_EQ(failed.load(), 0);
    }
}

}  // namespace
