// Store-slot (command 4) and factory-data (command 94) transfers of a Link
// against the simulated module over TCP on loopback.
#include "LinkTestSupport.h"

#include <numeric>

#include "Patterns.h"
#include "SimFactory.h"
#include "SimStoreSlots.h"

using namespace linktest;
using namespace Zorventa::Morvasset;
using morvsim::FactoryStep;
using morvsim::SimFactory;
using morvsim::SimReply;
using morvsim::SimSlot;
using morvsim::SimStoreSlots;

namespace {

constexpr std::uint8_t kStore = 1;
constexpr std::uint8_t kSlot = 2;

using morvtest::ramp;

std::uint8_t sum8(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return static_cast<std::uint8_t>(
        std::accumulate(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                        bytes.begin() + static_cast<std::ptrdiff_t>(to), 0u));
}

class BulkTransfer : public SimTcpFixture {
protected:
    BulkTransfer() : SimTcpFixture("127.0.0.5")
    {
        sim.withModule(kModule, [&](SimModule& m) {
            slots = morvsim::installStoreSlots(m);
            factory = morvsim::installFactoryData(m);
            slots->slots[{kStore, kSlot}] = SimSlot{8192, {}};
        });
        connectLink();
    }

    // Runs fn on the simulator's state under its lock.
    void withSlots(const std::function<void(SimStoreSlots&)>& fn)
    {
        sim.withModule(kModule, [&](SimModule&) { fn(*slots); });
    }
    void withFactory(const std::function<void(SimFactory&)>& fn)
    {
        sim.withModule(kModule, [&](SimModule&) { fn(*factory); });
    }

    Bytes slotContents(std::uint8_t store = kStore, std::uint8_t slot = kSlot)
    {
        Bytes out;
        withSlots([&](SimStoreSlots& s) { out = s.slots[{store, slot}].contents; });
        return out;
    }

    // Data bytes of the packets sent to the module with this command, from index on.
    std::vector<Bytes> sent(std::uint8_t command, std::size_t from)
    {
        std::vector<Bytes> out;
        for (const Bytes& d : sentToModule(from))
            if (!d.empty() && d[0] == command)
                out.push_back(d);
        return out;
    }
    std::vector<Bytes> sentToModule(std::size_t from)
    {
        std::vector<Bytes> out;
        std::vector<SimPacket> packets = sim.packets();
        for (std::size_t i = from; i < packets.size(); ++i)
            if (packets[i].address == kModule)
                out.push_back(packets[i].data);
        return out;
    }

    // Once this returns, every packet the simulator sent before it is queued on
    // the host: the simulator answers in order.
    void roundTrip()
    {
        std::size_t size = 0;
        ASSERT_EQ(link.storeSlotSize(kModule, kStore, kSlot, &size), aErrNone);
    }

    std::shared_ptr<SimStoreSlots> slots;
    std::shared_ptr<SimFactory> factory;
};

// ---------------------------------------------------------------- store slots

TEST_F(BulkTransfer, SlotWriteAndReadBackInChunksOf25)
{
    for (std::size_t length : {0u, 1u, 25u, 26u, 60u, 5000u}) {
        SCOPED_TRACE(length);
        const Bytes data = ramp(length, static_cast<std::uint8_t>(length));
        const std::size_t mark = sim.packetCount();
        ASSERT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, data.data(), data.size()), aErrNone);
        EXPECT_EQ(slotContents(), data);

        const std::vector<Bytes> requests = sent(morvsim::kSlotCommand, mark);
        ASSERT_EQ(requests.size(), 2 + (length + 24) / 25);  // open, writes, close
        EXPECT_EQ(requests.front(), (Bytes{4, 4, kStore, kSlot}));
        EXPECT_EQ(requests.back(), (Bytes{4, 8, 0}));
        for (std::size_t i = 1; i + 1 < requests.size(); ++i) {
            const std::size_t offset = (i - 1) * 25;
            const std::size_t n = std::min<std::size_t>(25, length - offset);
            ASSERT_EQ(requests[i].size(), 3 + n);
            EXPECT_EQ(requests[i][1], 7);
            EXPECT_TRUE(std::equal(requests[i].begin() + 3, requests[i].end(),
                                   data.begin() + static_cast<std::ptrdiff_t>(offset)));
        }

        Bytes back(length + 10, 0xEE);
        std::size_t count = 12345;
        ASSERT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, back.data(), back.size(), &count), aErrNone);
        ASSERT_EQ(count, length);
        back.resize(count);
        EXPECT_EQ(back, data);
    }
    withSlots([](SimStoreSlots& s) { EXPECT_TRUE(s.open.empty()); });
}

TEST_F(BulkTransfer, SixtyBytesGoAsTwentyFiveTwentyFiveTen)
{
    const Bytes data = ramp(60);
    const std::size_t mark = sim.packetCount();
    ASSERT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, data.data(), data.size()), aErrNone);
    std::vector<std::size_t> lengths;
    for (const Bytes& d : sent(morvsim::kSlotCommand, mark))
        if (d[1] == 7)
            lengths.push_back(d.size());
    EXPECT_EQ(lengths, (std::vector<std::size_t>{28, 28, 13}));
}

TEST_F(BulkTransfer, SlotCapacityAndSize)
{
    withSlots([](SimStoreSlots& s) { s.slots[{kStore, kSlot}] = SimSlot{0x1234, Bytes(300, 1)}; });
    std::size_t capacity = 0;
    std::size_t size = 0;
    EXPECT_EQ(link.storeSlotCapacity(kModule, kStore, kSlot, &capacity), aErrNone);
    EXPECT_EQ(capacity, 0x1234u);
    EXPECT_EQ(link.storeSlotSize(kModule, kStore, kSlot, &size), aErrNone);
    EXPECT_EQ(size, 300u);
    // A slot the module does not have answers an error.
    EXPECT_EQ(link.storeSlotSize(kModule, 9, 9, &size), aErrNotFound);
}

TEST_F(BulkTransfer, SlotQueryFailures)
{
    struct Case {
        const char* name;
        std::function<void(SimStoreSlots&)> fault;
        aErr expected;
    };
    const std::vector<Case> cases = {
        {"no reply", [](SimStoreSlots& s) { s.faults.silent = {1, 2}; }, aErrTimeout},
        {"error code", [](SimStoreSlots& s) { s.faults.errorCode = {{1, 12}, {2, 12}}; }, aErrPermission},
        {"error without a code",
         [](SimStoreSlots& s) {
             s.faults.replyOverride = {{1, {4, 0x81, kStore, kSlot, 0}}, {2, {4, 0x82, kStore, kSlot, 0}}};
         },
         aErrUnknown},
        {"value of the wrong length",
         [](SimStoreSlots& s) {
             s.faults.replyOverride = {{1, {4, 1, kStore, kSlot, 1}}, {2, {4, 2, kStore, kSlot, 1}}};
         },
         aErrUnknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        withSlots([&](SimStoreSlots& s) {
            s.faults = {};
            c.fault(s);
        });
        std::size_t value = 777;
        EXPECT_EQ(link.storeSlotCapacity(kModule, kStore, kSlot, &value), c.expected);
        EXPECT_EQ(link.storeSlotSize(kModule, kStore, kSlot, &value), c.expected);
        EXPECT_EQ(value, 777u);
    }
}

TEST_F(BulkTransfer, SlotReadIntoShortBufferGivesOverrunWithWhatFits)
{
    const Bytes data = ramp(40);
    withSlots([&](SimStoreSlots& s) { s.slots[{kStore, kSlot}].contents = data; });
    Bytes buffer(30);
    std::size_t count = 0;
    EXPECT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), buffer.size(), &count), aErrOverrun);
    EXPECT_EQ(count, 30u);
    EXPECT_EQ(buffer, Bytes(data.begin(), data.begin() + 30));
    withSlots([](SimStoreSlots& s) { EXPECT_TRUE(s.open.empty()); });
}

// The module's own code 15 in any step of a read is a failure, told apart
// from the partial read above, whose count is valid.
TEST_F(BulkTransfer, ADeviceCode15IsNoPartialRead)
{
    withSlots([&](SimStoreSlots& s) { s.slots[{kStore, kSlot}].contents = ramp(40); });
    for (std::uint8_t sub : {morvsim::kSlotSize, morvsim::kSlotRead, morvsim::kSlotClose}) {
        SCOPED_TRACE(static_cast<int>(sub));
        withSlots([&](SimStoreSlots& s) {
            s.faults.errorCode.clear();
            s.faults.errorCode[sub] = 15;
        });
        Bytes buffer(64);
        std::size_t count = 12345;
        EXPECT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), buffer.size(), &count), aErrUnknown);
        EXPECT_EQ(count, 12345u) << "the count of a failed read is not set";
    }
}

TEST_F(BulkTransfer, SlotReadTakesRepliesOfAnySize)
{
    const Bytes data = ramp(100);
    withSlots([&](SimStoreSlots& s) {
        s.slots[{kStore, kSlot}].contents = data;
        s.faults.readChunk = 7;
    });
    Bytes buffer(100);
    std::size_t count = 0;
    ASSERT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), buffer.size(), &count), aErrNone);
    EXPECT_EQ(count, 100u);
    EXPECT_EQ(buffer, data);
}

// Every failure of a transfer is its result, and a slot once opened is closed.
TEST_F(BulkTransfer, SlotTransferFailures)
{
    struct Case {
        const char* name;
        bool write;
        std::function<void(SimStoreSlots&)> fault;
        aErr expected;
        bool opened;  // the module opened the slot, so it must be closed again
    };
    const std::vector<Case> cases = {
        {"write open refused", true, [](SimStoreSlots& s) { s.faults.errorCode[4] = 12; }, aErrMedia, false},
        {"read open refused", false, [](SimStoreSlots& s) { s.faults.errorCode[3] = 12; }, aErrMedia, false},
        {"open refused with code 0", true,
         [](SimStoreSlots& s) { s.faults.replyOverride[4] = {4, 0x84, kStore, kSlot, 0}; }, aErrMedia, false},
        {"open reply without its handle", true,
         [](SimStoreSlots& s) { s.faults.replyOverride[4] = {4, 4, kStore, kSlot}; }, aErrMedia, false},
        {"wrong sum", true, [](SimStoreSlots& s) { s.faults.wrongSum = true; }, aErrIO, true},
        {"write refused in the middle", true,
         [](SimStoreSlots& s) {
             s.faults.failAfter = 1;
             s.faults.failCode = 31;
         },
         aErrMedia, true},
        {"write never acknowledged", true, [](SimStoreSlots& s) { s.faults.silent = {7}; }, aErrTimeout, true},
        {"past the capacity", true, [](SimStoreSlots& s) { s.slots[{kStore, kSlot}].capacity = 30; }, aErrOverrun,
         true},
        {"read refused in the middle", false,
         [](SimStoreSlots& s) {
             s.faults.failAfter = 1;
             s.faults.failCode = 9;
         },
         aErrRead, true},
        {"read never answered", false, [](SimStoreSlots& s) { s.faults.silent = {6}; }, aErrTimeout, true},
        {"size unknown", false, [](SimStoreSlots& s) { s.faults.errorCode[2] = 3; }, aErrNotFound, false},
        {"close refused after a write", true, [](SimStoreSlots& s) { s.faults.errorCode[8] = 31; }, aErrMedia,
         true},
        {"close refused after a read", false, [](SimStoreSlots& s) { s.faults.errorCode[8] = 31; }, aErrMedia,
         true},
        {"close not answered after a write", true, [](SimStoreSlots& s) { s.faults.silent = {8}; }, aErrTimeout,
         true},
        {"close answered with the wrong length", true,
         [](SimStoreSlots& s) { s.faults.replyOverride[8] = {4, 8, 0, 0, 0}; }, aErrIO, true},
    };
    const Bytes data = ramp(60);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        withSlots([&](SimStoreSlots& s) {
            s.faults = {};
            s.open.clear();
            s.slots[{kStore, kSlot}] = SimSlot{8192, data};
            c.fault(s);
        });
        const std::size_t mark = sim.packetCount();
        std::size_t count = 4242;
        Bytes buffer(100);
        const aErr result = c.write ? link.loadStoreSlot(kModule, kStore, kSlot, data.data(), data.size())
                                    : link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), buffer.size(),
                                                           &count);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(count, 4242u) << "the count is set only on success";
        const std::vector<Bytes> requests = sent(morvsim::kSlotCommand, mark);
        const bool closeSent = std::any_of(requests.begin(), requests.end(),
                                           [](const Bytes& d) { return d.size() == 3 && d[1] == 8; });
        EXPECT_EQ(closeSent, c.opened);
        if (!c.opened) {
            // No handle was taken from a reply that did not give one.
            EXPECT_FALSE(std::any_of(requests.begin(), requests.end(),
                                     [](const Bytes& d) { return d[1] >= 6; }));
        }
    }
}

TEST_F(BulkTransfer, LateWriteAcknowledgementIsNotTakenForALaterOne)
{
    const Bytes first = ramp(25, 1);
    withSlots([](SimStoreSlots& s) { s.faults.silent = {7}; });
    ASSERT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, first.data(), first.size()), aErrTimeout);
    withSlots([](SimStoreSlots& s) {
        s.faults = {};
        EXPECT_TRUE(s.open.empty());
    });
    // The acknowledgement of that write comes in late, for the handle the next
    // transfer gets again.
    ASSERT_TRUE(sim.sendPacket(kModule, {4, 7, 0, sum8(first, 0, first.size())}));
    roundTrip();

    const Bytes second = ramp(25, 9);
    EXPECT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, second.data(), second.size()), aErrNone);
    EXPECT_EQ(slotContents(), second);
}

TEST_F(BulkTransfer, SlotRepliesOfOtherModulesAreLeftAlone)
{
    // Before each open answer, module 6 answers the same open with another handle.
    sim.withModule(kModule, [](SimModule& m) {
        morvsim::Handler inner = m.handlers[morvsim::kSlotCommand];
        m.handlers[morvsim::kSlotCommand] = [inner](SimModule& mm, const SimPacket& p, SimReply& r) {
            if (p.data.size() >= 4 && p.data[1] == 4)
                r.packet(6, {4, 4, p.data[2], p.data[3], 200});
            inner(mm, p, r);
        };
    });
    const Bytes data = ramp(25);
    const std::size_t mark = sim.packetCount();
    ASSERT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, data.data(), data.size()), aErrNone);
    EXPECT_EQ(slotContents(), data);
    for (const Bytes& d : sent(morvsim::kSlotCommand, mark)) {
        if (d[1] >= 6) {
            EXPECT_EQ(d[2], 0) << "the handle of module 4's answer";
        }
    }
}

// ---------------------------------------------------------------- factory data

TEST_F(BulkTransfer, FactoryReadInPacketsOf26)
{
    for (std::size_t length : {0u, 1u, 25u, 26u, 27u, 60u, 5000u}) {
        SCOPED_TRACE(length);
        const std::uint8_t block = static_cast<std::uint8_t>(length % 16);
        const Bytes data = ramp(length, 5);
        withFactory([&](SimFactory& f) {
            f.blocks[block] = data;
            f.endTotals.clear();
        });
        const std::size_t mark = sim.packetCount();
        Bytes buffer(length + 1, 0xEE);
        std::size_t count = 999999;
        ASSERT_EQ(link.getFactoryData(kModule, block, buffer.data(), buffer.size(), &count), aErrNone);
        ASSERT_EQ(count, length);
        buffer.resize(count);
        EXPECT_EQ(buffer, data);

        const std::vector<Bytes> requests = sent(morvsim::kFactoryCommand, mark);
        ASSERT_EQ(requests.size(), length / 26 + 2);  // reads, then the end packet
        EXPECT_EQ(requests[0], (Bytes{94, static_cast<std::uint8_t>(block | 0x40)}));
        for (std::size_t i = 1; i + 1 < requests.size(); ++i)
            EXPECT_EQ(requests[i], (Bytes{94, block}));
        EXPECT_EQ(requests.back(), (Bytes{94, 0x20, static_cast<std::uint8_t>(length >> 8),
                                          static_cast<std::uint8_t>(length)}));
    }
}

TEST_F(BulkTransfer, FactoryReadNeedsABufferLargerThanTheData)
{
    for (std::size_t length : {0u, 26u, 60u}) {
        SCOPED_TRACE(length);
        withFactory([&](SimFactory& f) { f.blocks[2] = ramp(length); });
        Bytes buffer(length);
        std::size_t count = 4242;
        EXPECT_EQ(link.getFactoryData(kModule, 2, buffer.data(), buffer.size(), &count), aErrOverrun);
        EXPECT_EQ(count, 4242u);
        buffer.resize(length + 1);
        EXPECT_EQ(link.getFactoryData(kModule, 2, buffer.data(), buffer.size(), &count), aErrNone);
        EXPECT_EQ(count, length);
    }
}

// The module's own code 15 in any step of a read is a failure, told apart
// from the buffer that is too small above.
TEST_F(BulkTransfer, ADeviceCode15IsNoFactoryBufferTooSmall)
{
    withFactory([&](SimFactory& f) { f.blocks[2] = ramp(60); });
    for (FactoryStep step : {FactoryStep::ReadFirst, FactoryStep::ReadNext, FactoryStep::End}) {
        SCOPED_TRACE(static_cast<int>(step));
        withFactory([&](SimFactory& f) {
            f.faults.errorCode.clear();
            f.faults.errorCode[step] = 15;
        });
        Bytes buffer(64);
        std::size_t count = 4242;
        EXPECT_EQ(link.getFactoryData(kModule, 2, buffer.data(), buffer.size(), &count), aErrUnknown);
        EXPECT_EQ(count, 4242u);
    }
}

TEST_F(BulkTransfer, FactoryWriteInPacketsOf26)
{
    for (std::size_t length : {0u, 1u, 25u, 26u, 27u, 60u, 5000u}) {
        SCOPED_TRACE(length);
        const std::uint8_t block = static_cast<std::uint8_t>(15 - length % 16);
        const Bytes data = ramp(length, 11);
        withFactory([&](SimFactory& f) { f.blocks[block] = Bytes(3, 0xAA); });
        const std::size_t mark = sim.packetCount();
        ASSERT_EQ(link.setFactoryData(kModule, block, data.data(), data.size()), aErrNone);

        const std::vector<Bytes> requests = sent(morvsim::kFactoryCommand, mark);
        ASSERT_EQ(requests.size(), (length + 25) / 26 + 1);
        for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
            const std::size_t offset = i * 26;
            const std::size_t n = std::min<std::size_t>(26, length - offset);
            ASSERT_EQ(requests[i].size(), 2 + n);
            EXPECT_EQ(requests[i][1], block | 0x10 | (i == 0 ? 0x40 : 0));
        }
        EXPECT_EQ(requests.back(), (Bytes{94, 0x20, static_cast<std::uint8_t>(length >> 8),
                                          static_cast<std::uint8_t>(length)}));
        if (length > 0)
            withFactory([&](SimFactory& f) { EXPECT_EQ(f.blocks[block], data); });
    }
}

TEST_F(BulkTransfer, FactoryBlockAbove15IsRefusedUnsent)
{
    Bytes buffer(64);
    std::size_t count = 0;
    const std::size_t mark = sim.packetCount();
    EXPECT_EQ(link.getFactoryData(kModule, 16, buffer.data(), buffer.size(), &count), aErrParam);
    EXPECT_EQ(link.setFactoryData(kModule, 0x51, buffer.data(), 10), aErrParam);
    roundTrip();
    EXPECT_TRUE(sent(morvsim::kFactoryCommand, mark).empty());
}

TEST_F(BulkTransfer, FactoryTransferFailures)
{
    struct Case {
        const char* name;
        bool write;
        FactoryStep step;
        int code;     // answered with this error code; -1: never answered; -2: a reply overridden
        Bytes reply;  // for -2
        aErr expected;
    };
    const std::vector<Case> cases = {
        {"read refused", false, FactoryStep::ReadFirst, 12, {}, aErrPermission},
        {"read refused later", false, FactoryStep::ReadNext, 31, {}, aErrMedia},
        {"read end refused", false, FactoryStep::End, 14, {}, aErrSize},
        {"read not answered", false, FactoryStep::ReadNext, -1, {}, aErrTimeout},
        {"read error without a code", false, FactoryStep::ReadFirst, -2, {94, 0x83}, aErrUnknown},
        {"write refused", true, FactoryStep::WriteFirst, 12, {}, aErrPermission},
        {"write refused later", true, FactoryStep::WriteNext, 31, {}, aErrMedia},
        {"write end refused", true, FactoryStep::End, 14, {}, aErrSize},
        {"write end not answered", true, FactoryStep::End, -1, {}, aErrTimeout},
        {"write acknowledged with data", true, FactoryStep::WriteFirst, -2, {94, 3, 0}, aErrSize},
    };
    const Bytes data = ramp(60);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        withFactory([&](SimFactory& f) {
            f.faults = {};
            f.blocks[3] = data;
            if (c.code >= 0)
                f.faults.errorCode[c.step] = static_cast<std::uint8_t>(c.code);
            else if (c.code == -1)
                f.faults.silent.insert(c.step);
            else
                f.faults.replyOverride[c.step] = c.reply;
        });
        std::size_t count = 4242;
        Bytes buffer(100);
        const aErr result = c.write ? link.setFactoryData(kModule, 3, data.data(), data.size())
                                    : link.getFactoryData(kModule, 3, buffer.data(), buffer.size(), &count);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(count, 4242u);
    }
}

TEST_F(BulkTransfer, WritingNoFactoryDataSendsOnlyTheEndPacket)
{
    const std::size_t mark = sim.packetCount();
    EXPECT_EQ(link.setFactoryData(kModule, 7, nullptr, 0), aErrNone);
    EXPECT_EQ(sent(morvsim::kFactoryCommand, mark), (std::vector<Bytes>{{94, 0x20, 0, 0}}));
}

TEST_F(BulkTransfer, LateFactoryReplyIsNotTakenForALaterOne)
{
    const Bytes old = ramp(20, 1);
    const Bytes fresh = ramp(20, 2);
    withFactory([&](SimFactory& f) {
        f.blocks[3] = old;
        f.faults.silent = {FactoryStep::ReadFirst};
    });
    Bytes buffer(64);
    std::size_t count = 0;
    ASSERT_EQ(link.getFactoryData(kModule, 3, buffer.data(), buffer.size(), &count), aErrTimeout);
    // The answer to that read comes in late; meanwhile the block changed.
    Bytes late{94, 3};
    late.insert(late.end(), old.begin(), old.end());
    ASSERT_TRUE(sim.sendPacket(kModule, late));
    roundTrip();
    withFactory([&](SimFactory& f) {
        f.faults = {};
        f.blocks[3] = fresh;
    });
    ASSERT_EQ(link.getFactoryData(kModule, 3, buffer.data(), buffer.size(), &count), aErrNone);
    ASSERT_EQ(count, fresh.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 20), fresh);
}

// ---------------------------------------------------------------- preconditions

TEST_F(BulkTransfer, RefusedWithoutConnectionOrForABadAddress)
{
    Bytes buffer(64);
    std::size_t value = 0;
    for (std::uint8_t module : {std::uint8_t(0), std::uint8_t(5)}) {
        SCOPED_TRACE(int(module));
        EXPECT_EQ(link.storeSlotCapacity(module, kStore, kSlot, &value), aErrPacket);
        EXPECT_EQ(link.storeSlotSize(module, kStore, kSlot, &value), aErrPacket);
        EXPECT_EQ(link.loadStoreSlot(module, kStore, kSlot, buffer.data(), 10), aErrPacket);
        EXPECT_EQ(link.unloadStoreSlot(module, kStore, kSlot, buffer.data(), 10, &value), aErrPacket);
        EXPECT_EQ(link.getFactoryData(module, 1, buffer.data(), 10, &value), aErrPacket);
        EXPECT_EQ(link.setFactoryData(module, 1, buffer.data(), 10), aErrPacket);
    }
    EXPECT_EQ(link.storeSlotSize(kModule, kStore, kSlot, nullptr), aErrParam);
    EXPECT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), 10, nullptr), aErrParam);
    EXPECT_EQ(link.getFactoryData(kModule, 1, buffer.data(), 10, nullptr), aErrParam);
    EXPECT_EQ(link.setFactoryData(kModule, 1, buffer.data(), 0x10000), aErrParam);

    ASSERT_EQ(link.disconnect(), aErrNone);
    EXPECT_EQ(link.storeSlotCapacity(kModule, kStore, kSlot, &value), aErrConnection);
    EXPECT_EQ(link.storeSlotSize(kModule, kStore, kSlot, &value), aErrConnection);
    EXPECT_EQ(link.loadStoreSlot(kModule, kStore, kSlot, buffer.data(), 10), aErrConnection);
    EXPECT_EQ(link.unloadStoreSlot(kModule, kStore, kSlot, buffer.data(), 10, &value), aErrConnection);
    EXPECT_EQ(link.getFactoryData(kModule, 1, buffer.data(), 10, &value), aErrConnection);
    EXPECT_EQ(link.setFactoryData(kModule, 1, buffer.data(), 10), aErrConnection);
}

}  // namespace
