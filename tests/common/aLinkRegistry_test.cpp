// The link registry: entries, lookups, use counts, sharing by transport and
// what failed creations leave behind, with links to the module simulator.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "ModuleSimulator.h"
#include "PtyPair.h"
#include "aLink.h"
#include "aLinkRegistry.h"

using morvsim::ConnectionEvent;
using morvsim::Millis;
using morvsim::ModuleSimulator;
using morvsim::SimPacket;

namespace {

constexpr std::uint8_t kModule = 4;

// Entries made directly in the registry, released with aLink_Destroy (whose
// teardown must cope with records that were never initialised).
class Entries {
public:
    ~Entries()
    {
        for (int id : ids_) {
            int copy = id;
            while (sLookupEntryByID(copy) != nullptr) {
                int release = copy;
                aLink_Destroy(&release);
            }
        }
    }
    int add(std::uint32_t identifier, std::uint32_t key2, std::uint32_t key3, std::uint32_t type, int uses = 1)
    {
        int id = sCreate2(identifier, key2, key3, type);
        EXPECT_NE(0, id);
        sChangeUseCount(sLookupEntryByID(id), uses);
        ids_.push_back(id);
        return id;
    }

private:
    std::vector<int> ids_;
};

int useCount(int id)
{
    aLinkEntry* entry = sLookupEntryByID(id);
    return entry != nullptr ? entry->useCount : -1000;
}

TEST(Registry, EntriesAndLookups)
{
    Entries entries;
    int a = entries.add(0x11111111, 0, 0, aLINK_TYPE_USB);
    int b = entries.add(0x22222222, 9000, 0, aLINK_TYPE_TCPIP);
    int c = entries.add(0x22222222, 9001, 7, aLINK_TYPE_CLIENT);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);

    aLinkEntry* ea = sLookupEntryByID(a);
    ASSERT_NE(nullptr, ea);
    EXPECT_EQ(a, ea->id);
    EXPECT_EQ(0, ea->parentId);
    EXPECT_EQ(nullptr, ea->server);
    ASSERT_NE(nullptr, ea->link);
    EXPECT_EQ(a, ea->link->id);
    EXPECT_EQ(ea->link, sGetLink(a));
    EXPECT_EQ(0, ea->link->check) << "not initialised yet";

    // By identifier: the newest, whatever its type and keys.
    EXPECT_EQ(c, sLookupEntryByIdentifier(0x22222222)->id);
    EXPECT_EQ(nullptr, sLookupEntryByIdentifier(0x33333333));
    EXPECT_EQ(b, sLookupEntryByTrident(0x22222222, 9000, 0)->id);
    EXPECT_EQ(c, sLookupEntryByTrident(0x22222222, 9001, 7)->id);
    EXPECT_EQ(nullptr, sLookupEntryByTrident(0x22222222, 9001, 0));

    sChangeUseCount(nullptr, 5);
    sChangeUseCount(ea, 2);
    EXPECT_EQ(3, useCount(a));

    aLinkEntry* extracted = sExtractEntry(b);
    ASSERT_NE(nullptr, extracted);
    EXPECT_EQ(nullptr, sLookupEntryByID(b));
    EXPECT_EQ(nullptr, sExtractEntry(b));
    EXPECT_EQ(a, sLookupEntryByID(a)->id);
    EXPECT_EQ(c, sLookupEntryByID(c)->id);
    free(extracted->link);
    free(extracted);

    // Ids are never handed out again.
    int d = entries.add(0x44444444, 0, 0, aLINK_TYPE_SERIAL);
    EXPECT_GT(d, c);
}

TEST(Registry, DestroyReleasesUsesThenTearsDown)
{
    Entries entries;
    int id = entries.add(0x55555555, 0, 0, aLINK_TYPE_SERIAL, 2);
    int first = id;
    EXPECT_EQ(aErrNone, aLink_Destroy(&first));
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, useCount(id));
    int second = id;
    EXPECT_EQ(aErrNone, aLink_Destroy(&second));
    EXPECT_EQ(nullptr, sLookupEntryByID(id)) << "a never initialised record is torn down too";
    int third = id;
    EXPECT_EQ(aErrParam, aLink_Destroy(&third));
    EXPECT_EQ(0, third);
}

TEST(Registry, SharingComparesFamilyAndAllKeys)
{
    Entries entries;
    const std::uint32_t word = 0x0200007F;  // an IPv4 word that is also a possible serial number
    int usb = entries.add(0xABCD0001, 0, 0, aLINK_TYPE_USB);
    int tcp = entries.add(word, 9000, 0, aLINK_TYPE_TCPIP);
    int serial = entries.add(word, 0, 0, aLINK_TYPE_SERIAL);
    int stream = entries.add(aLINK_STREAM_IDENTIFIER, 0, 0, aLINK_TYPE_STREAM);
    int creating = entries.add(0xABCD0002, 0, 0, aLINK_TYPE_USB, 0);

    struct Case {
        const char* name;
        std::uint32_t identifier, key2, type;
        int expected;
    };
    const Case cases[] = {
        {"serial link of an open USB module", 0xABCD0001, 0, aLINK_TYPE_SERIAL, usb},
        {"USB link of an open USB module", 0xABCD0001, 0, aLINK_TYPE_USB, usb},
        {"same address and port", word, 9000, aLINK_TYPE_TCPIP, tcp},
        {"same address, other port", word, 9001, aLINK_TYPE_TCPIP, 0},
        {"serial number equal to an address", word, 0, aLINK_TYPE_USB, serial},
        {"address equal to a serial number, port 0", word, 0, aLINK_TYPE_TCPIP, 0},
        {"caller's stream", aLINK_STREAM_IDENTIFIER, 0, aLINK_TYPE_STREAM, 0},
        {"entry still being created", 0xABCD0002, 0, aLINK_TYPE_USB, 0},
        {"unknown module", 0xABCD0003, 0, aLINK_TYPE_USB, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int before = c.expected != 0 ? useCount(c.expected) : 0;
        EXPECT_EQ(c.expected, aLinkRegistry_Share(c.identifier, c.key2, 0, c.type, 0));
        if (c.expected != 0) {
            EXPECT_EQ(before + 1, useCount(c.expected));
        }
    }
    EXPECT_EQ(1, useCount(stream));
    EXPECT_EQ(0, useCount(creating));

    // A USB link shared on the network is not opened again directly.
    sLookupEntryByID(usb)->server = reinterpret_cast<aServer*>(0x1);
    int uses = useCount(usb);
    EXPECT_EQ(-1, aLinkRegistry_Share(0xABCD0001, 0, 0, aLINK_TYPE_USB, 1));
    EXPECT_EQ(uses, useCount(usb));
    sLookupEntryByID(usb)->server = nullptr;

    EXPECT_EQ(tcp, aLinkRegistry_ShareByID(tcp));
    EXPECT_EQ(0, aLinkRegistry_ShareByID(creating));
    EXPECT_EQ(0, aLinkRegistry_ShareByID(999999));
}

// ---------------------------------------------------------------- creators

bool hasEntry(std::uint32_t identifier)
{
    return sLookupEntryByIdentifier(identifier) != nullptr;
}

TEST(RegistryCreators, FailuresLeaveNoEntry)
{
    // TCP/IP to an address where nothing listens.
    ModuleSimulator sim(kModule);
    std::uint32_t address = inet_addr("127.0.0.5");
    std::uint16_t port = sim.listenTcp("127.0.0.5");
    sim.stopListening();
    EXPECT_EQ(0, aLink_CreateTCPIP(address, port));
    EXPECT_FALSE(hasEntry(address));

    // Serial: a rate the serial stream does not know, a missing device.
    morvtest::PtyPair pty;
    EXPECT_EQ(0, aLink_CreateSerial(0x5E000001, pty.slavePath().c_str(), 1200));
    EXPECT_FALSE(hasEntry(0x5E000001));
    EXPECT_EQ(0, aLink_CreateSerial(0x5E000001, "/nonexistent/tty", 115200));
    EXPECT_FALSE(hasEntry(0x5E000001));
    EXPECT_EQ(0, aLink_CreateSerial(0x5E000001, nullptr, 115200));
    EXPECT_FALSE(hasEntry(0x5E000001));

    // A stream that is not one.
    EXPECT_EQ(0, aLink_Create(nullptr));
    EXPECT_FALSE(hasEntry(aLINK_STREAM_IDENTIFIER));

    // A later valid creation for the same serial number makes a fresh link.
    ModuleSimulator serialSim(kModule);
    serialSim.attachPty(pty);
    int id = aLink_CreateSerial(0x5E000001, pty.slavePath().c_str(), 9600);
    ASSERT_NE(0, id);
    EXPECT_EQ(1, useCount(id));
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(id));
    EXPECT_EQ(aErrNone, aLink_Destroy(&id));
    EXPECT_FALSE(hasEntry(0x5E000001));
}

class RegistryTcp : public ::testing::Test {
protected:
    bool ended(std::uint64_t connection) const
    {
        for (const auto& e : sim.connectionEvents())
            if (e.connection == connection &&
                (e.kind == ConnectionEvent::Kind::PeerClosed || e.kind == ConnectionEvent::Kind::PeerReset))
                return true;
        return false;
    }

    ModuleSimulator sim{kModule};
    std::uint32_t address = inet_addr("127.0.0.6");
    std::uint16_t port = sim.listenTcp("127.0.0.6");
};

TEST_F(RegistryTcp, SameModuleSharesOneLinkUntilLastUser)
{
    int first = aLink_CreateTCPIP(address, port);
    ASSERT_NE(0, first);
    int second = aLink_CreateTCPIP(address, port);
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, useCount(first));
    EXPECT_EQ(1u, sim.connectionCount());

    int keep = first;
    EXPECT_EQ(aErrNone, aLink_Destroy(&second));
    EXPECT_EQ(linkStatusRunning, aLink_GetStatus(keep));
    ASSERT_TRUE(sim.sendPacket(kModule, {0x05}));
    aPacket* got = aLink_AwaitPacket(keep, 2000);
    ASSERT_NE(nullptr, got);
    aPacket_Destroy(&got);
    EXPECT_FALSE(ended(1));

    EXPECT_EQ(aErrNone, aLink_Destroy(&first));
    EXPECT_FALSE(hasEntry(address));
    EXPECT_TRUE(sim.waitUntil([&] { return ended(1); }, Millis(2000)));
    EXPECT_TRUE(sim.module(kModule).forceRoute == 0);
}

TEST_F(RegistryTcp, OtherPortIsAnotherModule)
{
    ModuleSimulator other(kModule);
    std::uint16_t otherPort = other.listenTcp("127.0.0.6");
    int a = aLink_CreateTCPIP(address, port);
    int b = aLink_CreateTCPIP(address, otherPort);
    ASSERT_NE(0, a);
    ASSERT_NE(0, b);
    EXPECT_NE(a, b);
    EXPECT_TRUE(other.waitForPacket([](const SimPacket& p) { return p.is(0xAF, {1}); }, Millis(2000)).has_value());
    EXPECT_EQ(aErrNone, aLink_Destroy(&a));
    EXPECT_EQ(aErrNone, aLink_Destroy(&b));
}

TEST_F(RegistryTcp, ParallelOpenAndDestroy)
{
    // Creations are serialised by their caller, as the Link class does; the
    // destroys run freely beside them, so sharing races teardown.
    std::mutex creation;
    std::atomic<int> failures{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 4; t++) {
        users.emplace_back([&] {
            for (int i = 0; i < 25; i++) {
                int id;
                {
                    std::lock_guard<std::mutex> lock(creation);
                    id = aLink_CreateTCPIP(address, port);
                }
                if (id == 0) {
                    ++failures;
                    continue;
                }
                aPacket* packet = aPacket_CreateWithData(kModule, 1, reinterpret_cast<const std::uint8_t*>("\x30"));
                aLink_PutPacket(id, packet);
                aPacket_Destroy(&packet);
                if (aLink_GetStatus(id) == linkStatusNoStream)
                    ++failures;
                if (aLink_Destroy(&id) != aErrNone)
                    ++failures;
            }
        });
    }
    for (auto& u : users)
        u.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_FALSE(hasEntry(address));
}

}  // namespace
