// UpdaterEntity against the simulated firmware loader over a real TCP link on
// 127.0.0.x: the bytes of every upgrade request, the handling of each reply,
// whole loader and firmware transfers by both data paths (the simulated flash
// checked byte for byte) and every loader fault the simulator can play.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BirdFile.h"
#include "BundleBuilder.h"
#include "Elapsed.h"
#include "Log.h"
#include "Module.h"
#include "ModuleSimulator.h"
#include "Patterns.h"
#include "SimFirmwareLoader.h"
#include "SimIntrospection.h"
#include "SimSystemEntity.h"
#include "TempDir.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterEntity.h"

namespace {

using namespace Zorventa::Morvasset;
using morvsim::Bytes;
using morvsim::LoaderConfig;
using morvsim::LoaderFaults;
using morvsim::LoaderRecord;
using morvsim::LoaderStage;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimFirmwareLoader;
using morvsim::SimModule;
using morvsim::SimPacket;
using Clock = std::chrono::steady_clock;

constexpr const char* kIp = "127.0.0.9";
constexpr std::uint8_t kAddress = 4;
constexpr std::uint32_t kSerial = 0x5A5A0001;
constexpr std::uint8_t kModel = 19;
constexpr std::uint8_t kUp = 95;

using morvtest::msSince;

using morvtest::noise;

// A bundle block's data: the big-endian load address, then the image.
Bytes blockOf(std::uint32_t address, const Bytes& image)
{
    Bytes out{static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
              static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

struct RecordingDisplay : UpdaterDisplayInterface {
    void display_progress(bool show) override { (show ? opened : closed)++; }
    void update_progress(double fraction, const char*) override { fractions.push_back(fraction); }
    void update_spinner(bool show, const char*) override { (show ? spins : spinEnds)++; }
    void info_message(const char*) override {}
    void error_message(const char*) override {}

    int opened = 0;
    int closed = 0;
    int spins = 0;
    int spinEnds = 0;
    std::vector<double> fractions;
};

// A module with its system entity, introspection and firmware loader listening
// on TCP, and a host Module connected to it.
class LoaderRig {
public:
    explicit LoaderRig(LoaderConfig config = LoaderConfig(), std::uint32_t features = 0x3)
        : sim(SimModule(kAddress, kSerial, kModel))
    {
        morvsim::SystemValues values;
        values.protocolFeatures = features;
        sim.withModule(kAddress, [&](SimModule& m) {
            morvsim::installSystemEntity(m, values);
            morvsim::installIntrospection(m, morvsim::IntrospectionTable());
            morvsim::installEcho(m);
        });
        port = sim.listenTcp(kIp);
        config.listenIp = kIp;
        loader = std::make_unique<SimFirmwareLoader>(sim, kAddress, config);
        module = std::make_unique<Module>(0, true, 0);
        aEtherConfig direct;
        direct.enabled = false;
        direct.fallback = false;
        EXPECT_EQ(module->setConfig(direct), aErrNone);
        linkSpec spec;
        std::memset(&spec, 0, sizeof(spec));
        spec.type = linkTypeTCPIP;
        spec.serialNumber = kSerial;
        in_addr ip{};
        inet_pton(AF_INET, kIp, &ip);
        spec.ipAddress = ip.s_addr;
        spec.port = port;
        EXPECT_EQ(module->connectFromSpec(spec), aErrNone);
        EXPECT_EQ(module->getModuleAddress(), kAddress);
    }

    ~LoaderRig()
    {
        module.reset();
        loader.reset();
    }

    // Upgrade requests the module received from index from on.
    std::vector<Bytes> upgrades(std::size_t from = 0) const
    {
        std::vector<Bytes> out;
        std::vector<SimPacket> packets = sim.packets();
        for (std::size_t i = from; i < packets.size(); ++i)
            if (packets[i].address == kAddress && !packets[i].data.empty() && packets[i].data[0] == kUp)
                out.push_back(packets[i].data);
        return out;
    }
    std::size_t mark() const { return sim.packetCount(); }

    // Waits until the upgrade requests from index from on number at least n.
    bool awaitUpgrades(std::size_t n, std::size_t from = 0) const
    {
        return sim.waitForPacketCount(
            [](const SimPacket& p) { return p.address == kAddress && !p.data.empty() && p.data[0] == kUp; }, n,
            Millis(3000), from);
    }

    void faults(const LoaderFaults& f) { loader->setFaults(f); }

    // Waits until the module sent its late answer and the host's link has
    // queued it: an echo sent afterwards comes back behind it.
    void awaitLateReplyQueued()
    {
        ASSERT_TRUE(loader->waitFor([](const LoaderRecord& r) { return r.lateSent == 1; }, Millis(3000)));
        const std::uint8_t probe[3] = {1, 2, 3};
        ASSERT_EQ(module->debug(probe, sizeof(probe)), aErrNone);
    }

    ModuleSimulator sim;
    std::uint16_t port = 0;
    std::unique_ptr<SimFirmwareLoader> loader;
    std::unique_ptr<Module> module;
};

class UpdaterEntityTest : public ::testing::Test {
protected:
    void bind(bool sums = true, bool noWait = false)
    {
        ASSERT_EQ(entity.init(rig->module.get(), 0, sums, noWait), aErrNone);
    }

    void SetUp() override
    {
        rig = std::make_unique<LoaderRig>(config, features);
        bind();
    }
    void TearDown() override { rig.reset(); }

    // Announces a block at address and returns the block size the loader gave.
    std::uint16_t prepare(const Bytes& block, std::uint8_t flags = 0)
    {
        std::uint16_t size = 0;
        EXPECT_EQ(entity.TransferPrepare(block.data(), static_cast<std::uint32_t>(block.size()), flags, size),
                  aErrNone);
        return size;
    }

    LoaderConfig config;
    std::uint32_t features = 0x3;
    std::unique_ptr<LoaderRig> rig;
    UpdaterEntity entity;
    RecordingDisplay display;
};

// ---------------------------------------------------------------- request bytes and replies

TEST_F(UpdaterEntityTest, EachStepSendsItsRequestBytes)
{
    const std::size_t from = rig->mark();
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    const Bytes loaderBlock = blockOf(0x20001000, noise(30, 1));
    EXPECT_EQ(prepare(loaderBlock, 0x40), config.blockSize);
    ASSERT_EQ(entity.LoaderTransfer(loaderBlock.data(), static_cast<std::uint32_t>(loaderBlock.size())), aErrNone);
    ASSERT_EQ(entity.LoaderStart(), aErrNone);
    const Bytes fw = blockOf(0x00000100, noise(10, 2));
    std::uint16_t size = prepare(fw);
    ASSERT_EQ(entity.FirmwareTransfer(fw.data(), static_cast<std::uint32_t>(fw.size()), size, display), aErrNone);

    const Bytes img = noise(30, 1);
    const Bytes fwImg = noise(10, 2);
    std::vector<Bytes> expected{
        {kUp, 0},
        {kUp, 3, 0x40, 0x20, 0x00, 0x10, 0x00},
        Bytes{kUp, 1},  // 26 bytes, then 4
        Bytes{kUp, 1},
        {kUp, 4},
        {kUp, 2},
        {kUp, 3, 0x00, 0x00, 0x00, 0x01, 0x00},
        Bytes{kUp, 1},
        {kUp, 4},
        {kUp, 5, 0x00, 10},
    };
    expected[2].insert(expected[2].end(), img.begin(), img.begin() + 26);
    expected[3].insert(expected[3].end(), img.begin() + 26, img.end());
    expected[7].insert(expected[7].end(), fwImg.begin(), fwImg.end());
    EXPECT_EQ(rig->upgrades(from), expected);

    const LoaderRecord r = rig->loader->record();
    EXPECT_EQ(r.loaderImage.at(0x20001000), img);
    EXPECT_EQ(rig->loader->flash(0x100, 10), fwImg);
    EXPECT_EQ(r.writes, std::vector<std::uint16_t>{10});
}

TEST_F(UpdaterEntityTest, ShortRepliesAreRefusedBeforeTheirBytesAreRead)
{
    const Bytes block = blockOf(0x100, noise(40, 3));
    const auto len = static_cast<std::uint32_t>(block.size());
    struct Case {
        const char* step;
        std::uint8_t option;
        std::size_t length;
        aErr expected;
    };
    const Case cases[] = {
        {"INIT", 0, 5, aErrPacket},    {"INIT", 0, 2, aErrPacket},   {"PREPARE", 3, 4, aErrPacket},
        {"PREPARE", 3, 2, aErrPacket}, {"DATA", 1, 2, aErrPacket},   {"SUM", 4, 6, aErrPacket},
        {"SUM", 4, 2, aErrPacket},     {"WRITE", 5, 2, aErrInvalidOption},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " cut to " + std::to_string(c.length));
        rig->faults(LoaderFaults());
        rig->loader->setStage(LoaderStage::Loader);
        if (c.option != 0 && c.option != 3)
            prepare(block);
        LoaderFaults f;
        f.shortReplies[c.option] = c.length;
        rig->faults(f);
        const LoaderRecord before = rig->loader->record();
        std::uint16_t size = 77;
        aErr err = aErrNone;
        switch (c.option) {
        case 0: err = entity.LoaderInit(); break;
        case 3: err = entity.TransferPrepare(block.data(), len, 0, size); break;
        case 5: err = entity.FirmwareTransfer(block.data(), len, 64, display); break;
        default: err = entity.LoaderTransfer(block.data(), len); break;
        }
        EXPECT_EQ(err, c.expected);
        EXPECT_EQ(size, 77) << "block size read from a short reply";
        const LoaderRecord after = rig->loader->record();
        if (c.option == 1) {
            EXPECT_EQ(after.dataPackets - before.dataPackets, 1u) << "the chunk loop ends at a short reply";
            EXPECT_EQ(after.sums, before.sums);
        }
        if (c.option == 5) {
            EXPECT_EQ(after.writeRequests - before.writeRequests, 1u) << "no chunk after a failed write";
        }
    }
}

TEST_F(UpdaterEntityTest, StatusRepliesAndWrongSumsFail)
{
    const Bytes block = blockOf(0x200, noise(60, 4));
    const auto len = static_cast<std::uint32_t>(block.size());
    rig->loader->setStage(LoaderStage::Loader);

    LoaderFaults f;
    f.statuses[3] = 5;
    rig->faults(f);
    std::uint16_t size = 0;
    EXPECT_EQ(entity.TransferPrepare(block.data(), len, 0, size), aErrInvalidOption);

    f = LoaderFaults();
    f.statuses[4] = 1;
    rig->faults(f);
    prepare(block);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), len), aErrInvalidOption);

    // The package-0 line is written whatever the trace mask.
    morvtest::TempDir dir;
    const std::string tracePath = dir.path() + "/trace";
    FILE* trace = std::fopen(tracePath.c_str(), "w+");
    ASSERT_NE(trace, nullptr);
    Log::SetOutput(trace);
    f = LoaderFaults();
    f.sumError = 1;
    rig->faults(f);
    prepare(block);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), len), aErrInvalidOption);
    Log::SetOutput(nullptr);
    std::fflush(trace);
    std::rewind(trace);
    char text[512] = {};
    const std::size_t n = std::fread(text, 1, sizeof(text) - 1, trace);
    std::fclose(trace);
    std::uint32_t sum = 0;
    for (std::uint8_t b : noise(60, 4))
        sum += b;
    char line[128];
    std::snprintf(line, sizeof(line), "\nNETWORK: Unable to validate transfer [00] [%08X != %08X].\n", sum, sum + 1);
    EXPECT_NE(std::string(text, n).find(line), std::string::npos) << std::string(text, n);

    f = LoaderFaults();
    f.statuses[5] = 2;
    rig->faults(f);
    prepare(block);
    EXPECT_EQ(entity.FirmwareTransfer(block.data(), len, 64, display), aErrInvalidOption);
    EXPECT_EQ(display.opened, display.closed) << "the progress display is closed on failure";
    EXPECT_TRUE(rig->loader->record().writes.empty());
}

TEST_F(UpdaterEntityTest, WithoutSumsNoSumIsAsked)
{
    bind(false);
    const Bytes block = blockOf(0x20000000, noise(53, 5));
    prepare(block);
    const std::size_t from = rig->mark();
    ASSERT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrNone);
    const std::vector<Bytes> sent = rig->upgrades(from);
    ASSERT_EQ(sent.size(), 3u);
    for (const Bytes& p : sent)
        EXPECT_EQ(p[1], 1) << "only DATA";
    EXPECT_EQ(rig->loader->record().sums, 0u);
}

TEST_F(UpdaterEntityTest, AckCountThatDiffersOnceResendsThatChunk)
{
    const Bytes image = noise(80, 6);
    const Bytes block = blockOf(0x20000000, image);
    prepare(block);
    LoaderFaults f;
    f.ackMismatchAt = 2;
    rig->faults(f);
    const std::size_t from = rig->mark();
    ASSERT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrNone);
    const std::vector<Bytes> sent = rig->upgrades(from);
    // 26, 26 (refused), 26 again, 26, 2, SUM
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[1], sent[2]);
    EXPECT_EQ(rig->loader->record().dataRefused, 1u);
    EXPECT_EQ(rig->loader->record().loaderImage.at(0x20000000), image) << "the sum covers only accepted chunks";
}

TEST_F(UpdaterEntityTest, AckCountThatKeepsDifferingEndsTheTransfer)
{
    const Bytes block = blockOf(0x20000000, noise(40, 7));
    prepare(block);
    LoaderFaults f;
    f.ackMismatchAt = 1;
    f.ackMismatchCount = 1000;
    rig->faults(f);
    const std::size_t from = rig->mark();
    EXPECT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrPacket);
    const std::vector<Bytes> sent = rig->upgrades(from);
    EXPECT_EQ(sent.size(), UpdaterEntity::MAX_DATA_RESENDS + 1u) << "one chunk, resent a bounded number of times";
    EXPECT_EQ(rig->loader->record().sums, 0u);
}

TEST_F(UpdaterEntityTest, BlocksShorterThanTheirAddressAndBlockSizeZeroAreRefused)
{
    const Bytes tiny{0x00, 0x01, 0x02};
    std::uint16_t size = 0;
    const std::size_t from = rig->mark();
    EXPECT_EQ(entity.TransferPrepare(tiny.data(), 3, 0, size), aErrParam);
    EXPECT_EQ(entity.LoaderTransfer(tiny.data(), 3), aErrParam);
    EXPECT_EQ(entity.FirmwareTransfer(tiny.data(), 3, 64, display), aErrParam);
    EXPECT_EQ(entity.LoaderTransfer(nullptr, 40), aErrParam);
    const Bytes block = blockOf(0x100, noise(40, 8));
    EXPECT_EQ(entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), 0, display), aErrParam);
    EXPECT_EQ(entity.FirmwareWrite(0x10000), aErrParam);
    EXPECT_TRUE(rig->upgrades(from).empty());

    // An address alone is an empty image: a sum of nothing.
    const Bytes empty = blockOf(0x20000000, {});
    prepare(empty);
    EXPECT_EQ(entity.LoaderTransfer(empty.data(), 4), aErrNone);
}

TEST_F(UpdaterEntityTest, FirmwareGoesInBlockSizedChunksEachWritten)
{
    rig->loader->setStage(LoaderStage::Loader);
    struct Case {
        std::size_t image;
        std::uint16_t blockSize;
        std::vector<std::uint16_t> writes;
    };
    const Case cases[] = {
        {300, 100, {100, 100, 100}},  // a multiple ends with a full chunk
        {250, 100, {100, 100, 50}},   // a shorter tail gets its own WRITE
        {7, 100, {7}},
        {53, 1, std::vector<std::uint16_t>(53, 1)},
    };
    std::uint32_t address = 0x1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const Bytes image = noise(c.image, static_cast<std::uint8_t>(c.image));
        const Bytes block = blockOf(address, image);
        prepare(block);
        const std::size_t writesBefore = rig->loader->record().writes.size();
        RecordingDisplay shown;
        ASSERT_EQ(entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), c.blockSize, shown),
                  aErrNone);
        const LoaderRecord r = rig->loader->record();
        EXPECT_EQ(std::vector<std::uint16_t>(r.writes.begin() + static_cast<std::ptrdiff_t>(writesBefore), r.writes.end()),
                  c.writes);
        EXPECT_EQ(rig->loader->flash(address, image.size()), image);
        EXPECT_EQ(shown.opened, 1);
        EXPECT_EQ(shown.closed, 1);
        ASSERT_EQ(shown.fractions.size(), c.writes.size());
        EXPECT_GT(shown.fractions.front(), 0.0);
        EXPECT_DOUBLE_EQ(shown.fractions.back(), 1.0);
        address += 0x1000;
    }
}

TEST_F(UpdaterEntityTest, WriteRequestAndItsReplies)
{
    rig->loader->setStage(LoaderStage::Loader);
    const Bytes block = blockOf(0x300, noise(3, 9));
    prepare(block);
    const std::size_t from = rig->mark();
    // Nothing accepted yet: the loader refuses a write of 3 bytes.
    EXPECT_EQ(entity.FirmwareWrite(3), aErrInvalidOption);
    EXPECT_EQ(rig->upgrades(from), std::vector<Bytes>{Bytes({kUp, 5, 0x00, 0x03})});
    EXPECT_EQ(entity.FirmwareWrite(0), aErrNone);
    const std::size_t big = rig->mark();
    EXPECT_EQ(entity.FirmwareWrite(0x1234), aErrInvalidOption);
    EXPECT_EQ(rig->upgrades(big), std::vector<Bytes>{Bytes({kUp, 5, 0x12, 0x34})});
}

// ---------------------------------------------------------------- stale replies

TEST_F(UpdaterEntityTest, LateReplyIsNeverTakenForTheNextRequest)
{
    const Bytes block = blockOf(0x20000000, noise(40, 10));
    LoaderFaults f;
    f.lateReplyOption = 3;
    f.lateReplyDelay = Millis(1200);
    rig->faults(f);
    std::uint16_t size = 0;
    const auto start = Clock::now();
    EXPECT_EQ(entity.TransferPrepare(block.data(), static_cast<std::uint32_t>(block.size()), 0, size), aErrTimeout);
    EXPECT_LT(msSince(start), 1500);
    rig->awaitLateReplyQueued();
    // The late [95, 7, 0, size] now waits in the input queue; the sum check
    // after the data must not take it for its own answer.
    EXPECT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrNone);
}

TEST_F(UpdaterEntityTest, LateSumReplyIsNoReply)
{
    const Bytes block = blockOf(0x20000000, noise(20, 11));
    prepare(block);
    LoaderFaults f;
    f.lateReplyOption = 4;
    f.lateReplyDelay = Millis(1200);
    rig->faults(f);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrPacket);
    rig->awaitLateReplyQueued();
    // The late sum answer must not stand in for the next block's PREPARE answer.
    rig->faults(LoaderFaults());
    const Bytes next = blockOf(0x20001000, noise(20, 12));
    EXPECT_EQ(prepare(next), config.blockSize);
    EXPECT_EQ(entity.LoaderTransfer(next.data(), static_cast<std::uint32_t>(next.size())), aErrNone);
}

TEST_F(UpdaterEntityTest, RepliesThatComeTooLateEndTheirStep)
{
    LoaderFaults f;
    f.lateReplyOption = 0;
    rig->faults(f);
    EXPECT_EQ(entity.LoaderInit(), aErrTimeout);

    const Bytes block = blockOf(0x20000000, noise(60, 18));
    rig->faults(LoaderFaults());
    prepare(block);
    f.lateReplyOption = 1;
    rig->faults(f);
    const LoaderRecord before = rig->loader->record();
    EXPECT_EQ(entity.LoaderTransfer(block.data(), static_cast<std::uint32_t>(block.size())), aErrPacket);
    const LoaderRecord after = rig->loader->record();
    EXPECT_EQ(after.dataPackets - before.dataPackets, 1u) << "the chunk loop ends without a reply";
    EXPECT_EQ(after.sums, before.sums);
}

// ---------------------------------------------------------------- LOAD and reconnect

TEST_F(UpdaterEntityTest, ModuleThatDropsItsLinkAfterLoadIsReconnected)
{
    LoaderFaults f;
    f.dropLinkOnLoad = true;
    rig->faults(f);
    const std::uint64_t connections = rig->sim.connectionCount();
    ASSERT_EQ(entity.LoaderStart(), aErrNone);
    const LoaderRecord r = rig->loader->record();
    EXPECT_EQ(r.linkDrops, 1u);
    EXPECT_EQ(r.loadAnnounced, 1u) << "the answer was taken from the new link";
    EXPECT_GT(rig->sim.connectionCount(), connections);
    EXPECT_TRUE(rig->module->isConnected());
    // The same Module goes on working on its new link.
    rig->faults(LoaderFaults());
    const Bytes fw = blockOf(0x40, noise(30, 13));
    const std::uint16_t size = prepare(fw);
    EXPECT_EQ(entity.FirmwareTransfer(fw.data(), static_cast<std::uint32_t>(fw.size()), size, display), aErrNone);
    EXPECT_EQ(rig->loader->flash(0x40, 30), noise(30, 13));
}

TEST(UpdaterEntityReconnect, ModuleBackAfterADowntimeIsReconnectedOnALaterAttempt)
{
    LoaderConfig config;
    config.downtime = Millis(700);
    LoaderRig rig(config);
    UpdaterEntity entity;
    ASSERT_EQ(entity.init(rig.module.get(), 0, true, false), aErrNone);
    LoaderFaults f;
    f.dropLinkOnLoad = true;
    rig.faults(f);
    const auto start = Clock::now();
    ASSERT_EQ(entity.LoaderStart(), aErrNone);
    EXPECT_GE(msSince(start), 500) << "the first attempts found nobody listening";
    EXPECT_EQ(rig.loader->record().loadAnnounced, 1u);
}

TEST_F(UpdaterEntityTest, MissingLoadReplyIsATimeOutAfterOneReconnect)
{
    LoaderFaults f;
    f.noLoadReply = true;
    rig->faults(f);
    const std::uint64_t connections = rig->sim.connectionCount();
    const auto start = Clock::now();
    EXPECT_EQ(entity.LoaderStart(), aErrTimeout);
    EXPECT_LT(msSince(start), 4000);
    EXPECT_EQ(rig->sim.connectionCount(), connections + 1) << "reconnected once";
    EXPECT_TRUE(rig->module->isConnected());
    EXPECT_EQ(rig->loader->record().loads, 1u);
}

TEST(UpdaterEntityReconnect, ModuleThatNeverComesBackGivesATimeOut)
{
    LoaderRig rig;
    UpdaterEntity entity;
    ASSERT_EQ(entity.init(rig.module.get(), 0, true, false), aErrNone);
    LoaderFaults f;
    f.noLoadReply = true;
    rig.faults(f);
    rig.sim.stopListening();
    const auto start = Clock::now();
    EXPECT_EQ(entity.LoaderStart(), aErrTimeout);
    // One wait, ten attempts 500 ms apart.
    EXPECT_LT(msSince(start), 9000);
    EXPECT_FALSE(rig.module->isConnected());
}

// ---------------------------------------------------------------- REBOOT

TEST_F(UpdaterEntityTest, RebootWaitsForTheLinkToDrop)
{
    const std::size_t from = rig->mark();
    const auto start = Clock::now();
    EXPECT_EQ(entity.LoaderReboot(display), aErrNone);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_EQ(rig->upgrades(from), std::vector<Bytes>{Bytes({kUp, 6})});
    EXPECT_FALSE(rig->module->isConnected());
    EXPECT_EQ(rig->loader->record().reboots, 1u);
    EXPECT_EQ(rig->loader->record().linkDrops, 1u);
    EXPECT_EQ(display.spinEnds, 1);
}

TEST_F(UpdaterEntityTest, RebootOfAModuleThatKeepsItsLinkIsBounded)
{
    LoaderFaults f;
    f.keepLinkOnReboot = true;
    rig->faults(f);
    const auto start = Clock::now();
    EXPECT_EQ(entity.LoaderReboot(display), aErrTimeout) << "a module that did not reboot is not a success";
    const long long took = msSince(start);
    EXPECT_GE(took, static_cast<long long>(UpdaterEntity::REBOOT_WAIT_PASSES * UpdaterEntity::REBOOT_WAIT_PASS_MS));
    EXPECT_LT(took, 8000);
    EXPECT_EQ(display.spins, static_cast<int>(UpdaterEntity::REBOOT_WAIT_PASSES));
    EXPECT_EQ(display.spinEnds, 1);
}

TEST_F(UpdaterEntityTest, RoutedRebootWaitsOnePassOnly)
{
    bind(true, true);
    LoaderFaults f;
    f.keepLinkOnReboot = true;
    rig->faults(f);
    const auto start = Clock::now();
    EXPECT_EQ(entity.LoaderReboot(display), aErrNone);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(display.spins, 1);
    EXPECT_TRUE(rig->module->isConnected());
}

// ---------------------------------------------------------------- unbound and disconnected

TEST(UpdaterEntityUnbound, EveryStepFailsWithoutAModuleOrLink)
{
    RecordingDisplay display;
    UpdaterEntity unbound;
    const Bytes block = blockOf(0x100, noise(10, 14));
    std::uint16_t size = 0;
    EXPECT_EQ(unbound.LoaderInit(), aErrResource);
    EXPECT_EQ(unbound.TransferPrepare(block.data(), 14, 0, size), aErrResource);
    EXPECT_EQ(unbound.FirmwareWrite(4), aErrResource);
    EXPECT_EQ(unbound.LoaderStart(), aErrResource);
    EXPECT_EQ(unbound.LoaderReboot(display), aErrResource);
    EXPECT_EQ(unbound.CheckUEIDataSupport(), aErrResource);
    EXPECT_EQ(unbound.CheckPooledPacketsSupport(), aErrResource);

    Module idle(4, false, 0);
    UpdaterEntity entity;
    ASSERT_EQ(entity.init(&idle, 0, true, false), aErrNone);
    EXPECT_EQ(entity.LoaderInit(), aErrConnection);
    EXPECT_EQ(entity.TransferPrepare(block.data(), 14, 0, size), aErrConnection);
    EXPECT_EQ(entity.LoaderReboot(display), aErrConnection);
    EXPECT_EQ(entity.CheckPooledPacketsSupport(), aErrConnection);
}

// ---------------------------------------------------------------- UEI data path

TEST_F(UpdaterEntityTest, WithoutOptionTenTheDataPacketsStay)
{
    EXPECT_EQ(entity.CheckUEIDataSupport(), aErrInvalidOption);
    rig->loader->setStage(LoaderStage::Loader);
    const Bytes block = blockOf(0x800, noise(100, 15));
    const std::uint16_t size = prepare(block);
    ASSERT_EQ(entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), size, display), aErrNone);
    EXPECT_EQ(rig->loader->record().ueiPackets, 0u);
    EXPECT_EQ(rig->loader->record().dataPackets, 4u);
}

class UpdaterEntityUEITest : public UpdaterEntityTest {
protected:
    void SetUp() override
    {
        config.ueiData = true;
        config.blockSize = 0xF000;  // far more packets than an output queue holds
        features = 0x80000003u;
        UpdaterEntityTest::SetUp();
    }
};

TEST_F(UpdaterEntityUEITest, ChunkGoesAsByteBufferSetsThatNeverOverfillTheQueue)
{
    ASSERT_EQ(entity.CheckUEIDataSupport(), aErrNone);
    ASSERT_EQ(entity.CheckPooledPacketsSupport(), aErrNone);
    rig->loader->setStage(LoaderStage::Loader);
    const Bytes image = noise(0xF000 + 100, 16);
    const Bytes block = blockOf(0x10000, image);
    const std::uint16_t size = prepare(block);
    ASSERT_EQ(size, 0xF000);
    const std::size_t from = rig->mark();
    ASSERT_EQ(entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), size, display), aErrNone);
    EXPECT_EQ(rig->loader->flash(0x10000, image.size()), image);
    const LoaderRecord r = rig->loader->record();
    EXPECT_EQ(r.dataPackets, 0u);
    // 61440 bytes in sets of 12000, then the 100-byte tail.
    EXPECT_EQ(r.ueiSets, 6u + 1u);
    EXPECT_EQ(r.writes, (std::vector<std::uint16_t>{0xF000, 100}));
    const std::vector<Bytes> sent = rig->upgrades(from);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front()[1], 0x8A);
    EXPECT_EQ(sent.front()[2], 0x20);
    EXPECT_EQ(sent.front().size(), 28u);
}

TEST_F(UpdaterEntityUEITest, ByteBufferSetRefusedByTheModuleIsItsError)
{
    ASSERT_EQ(entity.CheckUEIDataSupport(), aErrNone);
    // No block announced: the loader answers the set with an error.
    rig->loader->setStage(LoaderStage::Loader);
    const Bytes block = blockOf(0x100, noise(50, 17));
    EXPECT_EQ(entity.FirmwareTransfer(block.data(), static_cast<std::uint32_t>(block.size()), 64, display),
              aErrInvalidOption);
    EXPECT_TRUE(rig->loader->record().writes.empty());
}

// ---------------------------------------------------------------- whole transfers

struct Bundle {
    std::vector<std::pair<std::uint32_t, Bytes>> loader;
    std::vector<std::pair<std::uint32_t, Bytes>> firmware;
};

Bundle sampleBundle()
{
    Bundle b;
    b.loader = {{0x20000000, noise(700, 20)}, {0x20004000, noise(133, 21)}};
    b.firmware = {{0x00000000, noise(5000, 22)}, {0x00010000, noise(2048, 23)}, {0x00020000, noise(1, 24)}};
    return b;
}

// Drives the entity the way the update engine does: the loader pass, a
// reconnect when the module dropped its link, the firmware pass, the reboot.
void transferWhole(LoaderRig& rig, BirdFile& bird, bool byteBuffers, RecordingDisplay& display)
{
    {
        UpdaterEntity entity;
        ASSERT_EQ(entity.init(rig.module.get(), 0, true, false), aErrNone);
        ASSERT_EQ(entity.LoaderInit(), aErrNone);
        for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_LOADER)) {
            std::uint16_t size = 0;
            ASSERT_EQ(entity.TransferPrepare(block.data, block.length, block.flags, size), aErrNone);
            ASSERT_EQ(entity.LoaderTransfer(block.data, block.length), aErrNone);
        }
        ASSERT_EQ(entity.LoaderStart(), aErrNone);
    }
    ASSERT_TRUE(rig.module->isConnected());
    UpdaterEntity entity;
    ASSERT_EQ(entity.init(rig.module.get(), 0, true, false), aErrNone);
    if (byteBuffers && entity.CheckUEIDataSupport() == aErrNone)
        entity.CheckPooledPacketsSupport();
    for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)) {
        std::uint16_t size = 0;
        ASSERT_EQ(entity.TransferPrepare(block.data, block.length, block.flags, size), aErrNone);
        ASSERT_EQ(entity.FirmwareTransfer(block.data, block.length, size, display), aErrNone);
    }
    ASSERT_EQ(entity.LoaderReboot(display), aErrNone);
}

void checkFlash(const LoaderRig& rig, const Bundle& b)
{
    const LoaderRecord r = rig.loader->record();
    EXPECT_EQ(r.stage, LoaderStage::Rebooted);
    ASSERT_EQ(r.loaderImage.size(), b.loader.size());
    for (const auto& block : b.loader)
        EXPECT_EQ(r.loaderImage.at(block.first), block.second);
    // Every byte of the flash: the images where they belong, erased elsewhere.
    Bytes expected(512 * 1024, 0xFF);
    for (const auto& block : b.firmware)
        std::copy(block.second.begin(), block.second.end(), expected.begin() + block.first);
    EXPECT_TRUE(rig.loader->flash(0, expected.size()) == expected);
}

class WholeTransferTest : public ::testing::TestWithParam<bool> {};

TEST_P(WholeTransferTest, LoaderAndFirmwareReachTheFlashByteForByte)
{
    const bool byteBuffers = GetParam();
    LoaderConfig config;
    config.ueiData = byteBuffers;
    config.blockSize = 1024;
    LoaderRig rig(config, byteBuffers ? 0x80000000u : 0u);
    LoaderFaults f;
    f.dropLinkOnLoad = true;
    f.ackMismatchAt = 9;
    rig.faults(f);

    const Bundle b = sampleBundle();
    morvtest::BundleBuilder builder;
    for (const auto& block : b.loader)
        builder.loader(block.first, block.second);
    for (const auto& block : b.firmware)
        builder.firmware(block.first, block.second);
    morvtest::TempDir dir;
    const std::string path = dir.path() + "/1234.bird";
    builder.writeTo(path);
    BirdFile bird(path.c_str());

    RecordingDisplay display;
    transferWhole(rig, bird, byteBuffers, display);
    checkFlash(rig, b);
    const LoaderRecord r = rig.loader->record();
    EXPECT_EQ(r.loadAnnounced, 1u);
    EXPECT_EQ(r.linkDrops, 2u) << "after LOAD and after REBOOT";
    EXPECT_EQ(r.ueiSets > 0, byteBuffers);
    EXPECT_EQ(display.opened, 3);
    EXPECT_EQ(display.closed, 3);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, WholeTransferTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("ByteBufferSets") : std::string("DataPackets");
                         });

}  // namespace
