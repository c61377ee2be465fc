#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Elapsed.h"
#include "PrivateNetns.h"
#include "aMulticast.h"

namespace {

using Clock = std::chrono::steady_clock;
using morvtest::msSince;

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);
const std::uint32_t kGroup = htonl(aMULTICAST_GROUP);
constexpr std::uint16_t kPort = 9861;

TEST(MulticastHandle, MissingHandleGivesMinusTwo)
{
    char buffer[8] = {};
    aMulticast* none = nullptr;
    EXPECT_EQ(aMulticast_Send(nullptr, buffer, sizeof(buffer)), -2);
    EXPECT_EQ(aMulticast_Receive(nullptr, buffer, sizeof(buffer)), -2);
    EXPECT_EQ(aMulticast_Destroy(&none), -2);
    EXPECT_EQ(aMulticast_Destroy(nullptr), -2);
}

// Every case works on lo of a fresh namespace of its own.
class MulticastOnLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ns_ = std::make_unique<morvtest::NetnsThread>(true);
        ASSERT_EQ(ns_->error(), "");
    }
    void inNamespace(const std::function<void()>& body) { ns_->run(body); }

    std::unique_ptr<morvtest::NetnsThread> ns_;
};

TEST_F(MulticastOnLoopback, WrongDirectionGivesMinusThree)
{
    inNamespace([] {
        aMulticast* receiver = aMulticast_Create(kLoopback, kGroup, kPort, 0);
        aMulticast* sender = aMulticast_Create(kLoopback, kGroup, kPort, 1);
        ASSERT_NE(receiver, nullptr);
        ASSERT_NE(sender, nullptr);
        char buffer[4] = {1, 2, 3, 4};
        EXPECT_EQ(aMulticast_Send(receiver, buffer, sizeof(buffer)), -3);
        EXPECT_EQ(aMulticast_Receive(sender, buffer, sizeof(buffer)), -3);
        EXPECT_EQ(aMulticast_Destroy(&receiver), 0);
        EXPECT_EQ(receiver, nullptr);
        EXPECT_EQ(aMulticast_Destroy(&sender), 0);
        EXPECT_EQ(sender, nullptr);
    });
}

TEST_F(MulticastOnLoopback, OneReceiverPerPortWhoeverHoldsIt)
{
    inNamespace([] {
        aMulticast* first = aMulticast_Create(kLoopback, kGroup, kPort, 0);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(aMulticast_Create(kLoopback, kGroup, kPort, 0), nullptr);
        EXPECT_EQ(aMulticast_Create(0, kGroup, kPort, 0), nullptr);
        // Senders bind no port, so any number of them coexist with it.
        aMulticast* sender = aMulticast_Create(kLoopback, kGroup, kPort, 1);
        EXPECT_NE(sender, nullptr);
        aMulticast_Destroy(&sender);
        aMulticast_Destroy(&first);
        aMulticast* again = aMulticast_Create(kLoopback, kGroup, kPort, 0);
        EXPECT_NE(again, nullptr);
        aMulticast_Destroy(&again);
    });
}

TEST_F(MulticastOnLoopback, DatagramsArriveWholeOrCutToTheSize)
{
    inNamespace([] {
        // Interface 0 stands for 127.0.0.1 on either side.
        aMulticast* receiver = aMulticast_Create(0, kGroup, kPort, 0);
        aMulticast* sender = aMulticast_Create(kLoopback, kGroup, kPort, 1);
        ASSERT_NE(receiver, nullptr);
        ASSERT_NE(sender, nullptr);

        std::vector<unsigned char> small = {0xBA, 0xDC, 0xCD, 0xAB};
        ASSERT_EQ(aMulticast_Send(sender, small.data(), small.size()), 4);
        unsigned char buffer[256] = {};
        ASSERT_EQ(aMulticast_Receive(receiver, buffer, sizeof(buffer)), 4);
        EXPECT_EQ(std::memcmp(buffer, small.data(), 4), 0);

        std::vector<unsigned char> large(200);
        for (size_t i = 0; i < large.size(); ++i)
            large[i] = static_cast<unsigned char>(i);
        ASSERT_EQ(aMulticast_Send(sender, large.data(), large.size()), 200);
        std::memset(buffer, 0xEE, sizeof(buffer));
        ASSERT_EQ(aMulticast_Receive(receiver, buffer, 128), 128);
        EXPECT_EQ(std::memcmp(buffer, large.data(), 128), 0);
        EXPECT_EQ(buffer[128], 0xEE) << "nothing written past the size";

        aMulticast_Destroy(&sender);
        aMulticast_Destroy(&receiver);
    });
}

TEST_F(MulticastOnLoopback, ReceiveGivesUpAfterOneSecond)
{
    inNamespace([] {
        aMulticast* receiver = aMulticast_Create(kLoopback, kGroup, kPort, 0);
        ASSERT_NE(receiver, nullptr);
        char buffer[16];
        auto start = Clock::now();
        EXPECT_EQ(aMulticast_Receive(receiver, buffer, sizeof(buffer)), -1);
        long long elapsed = msSince(start);
        EXPECT_GE(elapsed, 950);
        EXPECT_LE(elapsed, 1500);
        aMulticast_Destroy(&receiver);
    });
}

TEST_F(MulticastOnLoopback, ADatagramToAnotherPortIsNotHeard)
{
    inNamespace([] {
        aMulticast* receiver = aMulticast_Create(kLoopback, kGroup, kPort, 0);
        aMulticast* otherPort = aMulticast_Create(kLoopback, kGroup, kPort + 1, 1);
        ASSERT_NE(receiver, nullptr);
        ASSERT_NE(otherPort, nullptr);
        char data[4] = {1, 2, 3, 4};
        EXPECT_EQ(aMulticast_Send(otherPort, data, sizeof(data)), 4);
        char buffer[16];
        EXPECT_EQ(aMulticast_Receive(receiver, buffer, sizeof(buffer)), -1);
        aMulticast_Destroy(&otherPort);
        aMulticast_Destroy(&receiver);
    });
}

TEST(MulticastCreate, ANonMulticastGroupIsRefused)
{
    // 10.0.0.1 is no group: joining it fails before any socket is bound.
    EXPECT_EQ(aMulticast_Create(htonl(INADDR_LOOPBACK), htonl(0x0A000001u), kPort, 1), nullptr);
}

}  // namespace
