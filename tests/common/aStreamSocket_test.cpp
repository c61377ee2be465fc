// The TCP socket stream against a real listener on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "LoopbackListener.h"
#include "StreamReads.h"
#include "aStream.h"

using morvtest::LoopbackListener;
using morvtest::LoopbackPeer;
using Clock = std::chrono::steady_clock;
using morvtest::msSince;
using morvtest::readWithin;

namespace {

// Several times what the first connection's buffers take before the writer
// has to wait (a send buffer of at most 4 MiB here, and the peer's receive
// buffer, which does not grow while it is not read), so that a reset cuts it.
constexpr size_t kCutBlock = 12 << 20;

std::string pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 131) >> 3);
    return s;
}

class SocketStream : public ::testing::Test {
protected:
    void SetUp() override { connect(); }
    void TearDown() override
    {
        if (stream != nullptr) {
            EXPECT_EQ(aErrNone, aStream_Destroy(&stream));
        }
    }
    void connect()
    {
        ASSERT_EQ(aErrNone, aStream_CreateSocket(LoopbackListener::address(), listener.port(), &stream));
        ASSERT_NE(nullptr, stream);
        peer = listener.accept(2000);
        ASSERT_NE(nullptr, peer);
    }

    LoopbackListener listener;
    aStream* stream = nullptr;
    std::unique_ptr<LoopbackPeer> peer;
};

TEST_F(SocketStream, BytesBothWaysAndIdleIsNotReady)
{
    ASSERT_EQ(aErrNone, aStream_Write(stream, "\x01\x02hello", 7));
    ASSERT_EQ(aErrNone, aStream_Write(stream, "!", 1));
    EXPECT_EQ("\x01\x02hello!", peer->read(8, 2000));

    char c;
    EXPECT_EQ(aErrNotReady, aStream_Read(stream, &c, 1));
    const std::string big = pattern(100000);
    ASSERT_TRUE(peer->write(big));
    std::string got;
    ASSERT_EQ(aErrNone, readWithin(stream, got, big.size(), 5000));
    EXPECT_EQ(big, got);
    EXPECT_EQ(aErrNotReady, aStream_Read(stream, &c, 1));
}

// A peer that goes away, by reset or by an orderly close, after sending some
// bytes: those bytes still arrive, then the stream reconnects once and
// carries on over the new connection.
struct LossCase {
    const char* name;
    bool reset;
};

void PrintTo(const LossCase& c, std::ostream* os)
{
    *os << c.name;
}

class SocketStreamLoss : public SocketStream, public ::testing::WithParamInterface<LossCase> {};

TEST_P(SocketStreamLoss, ReaderReconnectsAndGoesOn)
{
    ASSERT_TRUE(peer->write("before"));
    std::string got;
    ASSERT_EQ(aErrNone, readWithin(stream, got, 6, 2000));
    EXPECT_EQ("before", got);
    if (GetParam().reset)
        peer->reset();
    else
        peer->close();

    EXPECT_EQ(aErrNotReady, morvtest::readByteWithin(stream, 300));  // reconnected: nothing to read yet

    auto second = listener.accept(2000);
    ASSERT_NE(nullptr, second);
    ASSERT_TRUE(second->write("after"));
    ASSERT_EQ(aErrNone, readWithin(stream, got, 5, 2000));
    EXPECT_EQ("after", got);
    ASSERT_EQ(aErrNone, aStream_Write(stream, "ok", 2));
    EXPECT_EQ("ok", second->read(2, 2000));
    EXPECT_EQ(nullptr, listener.accept(100));  // exactly one reconnection
}

TEST_P(SocketStreamLoss, WithNobodyListeningEveryCallIsAConnectionError)
{
    listener.stop();
    if (GetParam().reset)
        peer->reset();
    else
        peer->close();
    EXPECT_EQ(aErrConnection, morvtest::readByteWithin(stream, 1000));
    char c;
    EXPECT_EQ(aErrConnection, aStream_Read(stream, &c, 1));
    EXPECT_EQ(aErrConnection, aStream_Write(stream, "x", 1));
}

INSTANTIATE_TEST_SUITE_P(Peer, SocketStreamLoss,
                         ::testing::Values(LossCase{"Reset", true}, LossCase{"Close", false}),
                         [](const ::testing::TestParamInfo<LossCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(SocketStream, WriterReconnectsAfterResetAndSendsWholeBlock)
{
    peer->reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(aErrNone, aStream_Write(stream, "ABCDEF", 6));
    auto second = listener.accept(2000);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ("ABCDEF", second->read(6, 2000));
}

// A block cut by a reset half-way must reach the new connection from its
// first byte, never as its remaining tail.
TEST_F(SocketStream, BlockCutByResetIsResentWhole)
{
    const std::string block = pattern(kCutBlock);
    std::atomic<aErr> result{aErrUnknown};
    std::thread writer([&] { result = aStream_Write(stream, block.data(), block.size()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // buffers full, writer waiting
    peer->reset();
    auto second = listener.accept(3000);
    std::string got;
    if (second != nullptr)
        got = second->read(block.size(), 10000);
    writer.join();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(aErrNone, result.load());
    ASSERT_EQ(block.size(), got.size());
    EXPECT_TRUE(got == block) << "the new connection did not get the block from its start";
}

TEST_F(SocketStream, PeerThatStopsReadingEndsWriteWithError)
{
    const std::string block = pattern(32 << 20);
    auto start = Clock::now();
    aErr err = aStream_Write(stream, block.data(), block.size());
    long elapsed = msSince(start);
    EXPECT_EQ(aErrTimeout, err);
    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 5000);
}

// Reader and writer both find the connection lost at once (the writer is
// waiting for room, the reader for bytes, when the reset comes): only one of
// them may reconnect, and both go on over that one connection.
TEST_F(SocketStream, ReaderAndWriterReconnectOnce)
{
    std::atomic<bool> stop{false};
    std::atomic<size_t> count{0};
    std::string received;  // the reader's until it is joined
    std::thread reader([&] {
        char c;
        while (!stop) {
            if (aStream_Read(stream, &c, 1) == aErrNone) {
                received.push_back(c);
                count++;
            }
        }
    });
    const std::string block = pattern(kCutBlock);
    std::atomic<aErr> written{aErrUnknown};
    std::thread writer([&] { written = aStream_Write(stream, block.data(), block.size()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    peer->reset();

    auto second = listener.accept(3000);
    std::string got;
    bool sent = false;
    if (second != nullptr) {
        got = second->read(block.size(), 10000);
        sent = second->write("pong");
    }
    writer.join();
    auto start = Clock::now();
    while (count < 4 && msSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    reader.join();

    ASSERT_NE(nullptr, second);
    EXPECT_EQ(aErrNone, written.load());
    EXPECT_TRUE(got == block) << "got " << got.size() << " bytes";
    EXPECT_TRUE(sent);
    EXPECT_EQ("pong", received);
    EXPECT_EQ(nullptr, listener.accept(200));
}

TEST_F(SocketStream, ReaderAndWriterAfterResetUseOneNewConnection)
{
    std::atomic<bool> stop{false};
    std::atomic<size_t> count{0};
    std::string received;
    std::thread reader([&] {
        char c;
        while (!stop) {
            if (aStream_Read(stream, &c, 1) == aErrNone) {
                received.push_back(c);
                count++;
            }
        }
    });
    peer->reset();
    aErr written = aStream_Write(stream, "ping", 4);
    auto second = listener.accept(2000);
    std::string pinged;
    bool sent = false;
    if (second != nullptr) {
        pinged = second->read(4, 2000);
        sent = second->write("pong");
    }
    auto start = Clock::now();
    while (count < 4 && msSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    reader.join();

    ASSERT_NE(nullptr, second);
    EXPECT_EQ(aErrNone, written);
    EXPECT_EQ("ping", pinged);
    EXPECT_TRUE(sent);
    EXPECT_EQ("pong", received);
    EXPECT_EQ(nullptr, listener.accept(200));
}

TEST(SocketStreamCreate, RefusedGivesResourceAndNoStream)
{
    uint16_t port;
    {
        LoopbackListener gone;
        port = gone.port();
    }
    aStream* stream = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aErrResource, aStream_CreateSocket(LoopbackListener::address(), port, &stream));
    EXPECT_EQ(nullptr, stream);
    EXPECT_EQ(aErrResource, aStream_CreateSocket(LoopbackListener::address(), port, nullptr));
}

// A listener whose backlog is full never answers: the connect must give up
// on its own instead of blocking for the kernel's minutes.
TEST(SocketStreamCreate, UnansweredConnectIsBounded)
{
    LoopbackListener full(0);
    aStream* first = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateSocket(LoopbackListener::address(), full.port(), &first));
    aStream* second = nullptr;
    auto start = Clock::now();
    EXPECT_EQ(aErrResource, aStream_CreateSocket(LoopbackListener::address(), full.port(), &second));
    long elapsed = msSince(start);
    EXPECT_EQ(nullptr, second);
    EXPECT_LT(elapsed, 4000);
    EXPECT_EQ(aErrNone, aStream_Destroy(&first));
}

}  // namespace
