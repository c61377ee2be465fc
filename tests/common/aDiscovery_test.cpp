// Discovery entry points that need no peer: the types that search nothing,
// address texts and the interface list.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "DiscoveryCollector.h"
#include "PrivateNetns.h"
#include "aDiscovery.h"

namespace {

const int kNoCzmqSignalHandler = setenv("ZSYS_SIGHANDLER", "false", 1);

TEST(DiscoveryTypes, TypesWithoutASearchReturnZeroWithoutCallingBack)
{
    (void)kNoCzmqSignalHandler;
    for (linkType type : {linkTypeSerial, 0, 5, -1, 255}) {
        SCOPED_TRACE(type);
        morvtest::DiscoveryCollector found;
        EXPECT_EQ(found.run(type, htonl(INADDR_LOOPBACK)), 0);
        EXPECT_TRUE(found.specs.empty());
        EXPECT_EQ(aDiscovery_FindModule(type, 0x12345678, htonl(INADDR_LOOPBACK)), nullptr);
        EXPECT_EQ(aDiscovery_FindFirstModule(type, 0), nullptr);
    }
}

TEST(DiscoveryTypes, NoCallbackNoSearch)
{
    for (linkType type : {linkTypeUSB, linkTypeTCPIP, linkTypeAEther})
        EXPECT_EQ(aDiscovery_EnumerateModules(type, nullptr, nullptr, 0), 0);
    EXPECT_EQ(aDiscovery_Enumerate_aEtherModules(nullptr, nullptr, 0), 0);
}

TEST(DiscoveryAddressText, DottedTextOrNothing)
{
    char buffer[32];
    std::memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(htonl(0x0AD50001u), buffer, sizeof(buffer)), 10u);
    EXPECT_STREQ(buffer, "10.213.0.1");
    for (size_t i = 11; i < sizeof(buffer); ++i)
        ASSERT_EQ(buffer[i], 0) << "cleared first, byte " << i;

    char exact[16];
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(htonl(0xFFFFFFFFu), exact, sizeof(exact)), 15u);
    EXPECT_STREQ(exact, "255.255.255.255");

    char small[16];
    std::memset(small, 'z', sizeof(small));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(htonl(INADDR_LOOPBACK), small, 15), 0u);
    for (char c : small)
        ASSERT_EQ(c, 'z') << "nothing written";
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(0, nullptr, 64), 0u);
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(0, buffer, sizeof(buffer)), 7u);
    EXPECT_STREQ(buffer, "0.0.0.0");
}

TEST(DiscoveryInterfaces, ListsTheNamespacesAddressesUpToTheMaximum)
{
    EXPECT_EQ(aDiscovery_GetIPv4Interfaces(nullptr, 50), 0u);
    MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
    // Only listing here; nothing is sent.
    morvtest::NetnsThread a;
    morvtest::NetnsThread b;
    ASSERT_EQ(morvtest::linkWithVeth(a, "10.213.0.1", b, "10.213.0.2"), "");
    a.run([] {
        std::uint32_t list[4] = {0, 0, 0, 0};
        ASSERT_EQ(aDiscovery_GetIPv4Interfaces(list, 4), 1u);
        EXPECT_EQ(list[0], htonl(0x0AD50001u));
        EXPECT_EQ(aDiscovery_GetIPv4Interfaces(list, 0), 0u);
    });
    morvtest::NetnsThread loopbackOnly;
    loopbackOnly.run([] {
        std::uint32_t list[4];
        EXPECT_EQ(aDiscovery_GetIPv4Interfaces(list, 4), 0u) << "lo is not listed";
    });
}

}  // namespace
