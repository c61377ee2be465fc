// The packet log of a Link and a Module: the link's records written to a file
// by the logger thread, against the simulated module over TCP on loopback.
#include "LinkTestSupport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#include "LinkImpl.h"
#include "Module.h"
#include "TempDir.h"
#include "aFile.h"
#include "aLink.h"
#include "aPacketDebug.h"

using namespace linktest;
using namespace Zorventa::Morvasset;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file's lines, each without its "\r\n".
std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    return out;
}

const std::string kStartLine("6 < START\0", 10);
// [0x04, 0x03, 0x03, 0x48, 0x20] written to the module.
const std::string kWrittenLine = "5 > 0x4 0x3 0x3 0x48 0x20 ";

std::ptrdiff_t indexOf(const std::vector<std::string>& all, const std::string& line, std::size_t from = 0)
{
    auto it = std::find(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end(), line);
    return it == all.end() ? -1 : it - all.begin();
}

class PacketLog : public SimTcpFixture {
protected:
    PacketLog() : SimTcpFixture("127.0.0.7"), path(dir.sub("packets.log")) {}

    // Sends [3, 0x48, 0x20] to the module: the wire bytes of kWrittenLine.
    void sendExample()
    {
        const std::uint8_t data[] = {0x48, 0x20};
        ASSERT_EQ(link.sendPacket(kModule, 3, 2, data), aErrNone);
    }

    bool fileHas(const std::string& line, std::size_t count = 1)
    {
        return eventually([&] {
            const std::vector<std::string> all = lines(readFile(path));
            return static_cast<std::size_t>(std::count(all.begin(), all.end(), line)) >= count;
        });
    }

    morvtest::TempDir dir;
    std::string path;
};

TEST_F(PacketLog, WritesTheStartMarkerThenPacketLines)
{
    connectLink();
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    sendExample();
    ASSERT_TRUE(sim.sendPacket(kModule, {0x09, 0xAB}));
    ASSERT_TRUE(fileHas(kWrittenLine));
    ASSERT_TRUE(fileHas("4 < 0x4 0x2 0x9 0xAB "));
    EXPECT_EQ(link.disablePacketLog(), aErrNone);

    const std::string text = readFile(path);
    const std::vector<std::string> all = lines(text);
    const std::ptrdiff_t start = indexOf(all, kStartLine);
    ASSERT_GE(start, 0) << text;
    EXPECT_GT(indexOf(all, kWrittenLine), start);
    // Nothing but whole lines.
    EXPECT_EQ(text.size() >= 2 ? text.substr(text.size() - 2) : "", "\r\n");
}

TEST_F(PacketLog, StopsAndStartsAgainAppending)
{
    connectLink();
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    ASSERT_TRUE(fileHas(kStartLine));
    ASSERT_EQ(link.disablePacketLog(), aErrNone);
    EXPECT_EQ(link.disablePacketLog(), aErrNone);  // stopped already
    const std::size_t before = readFile(path).size();
    sendExample();
    ASSERT_TRUE(requestTo(3).has_value());
    // Recorded meanwhile, written once started again.
    ASSERT_EQ(link.enablePacketLog(nullptr), aErrNone);
    ASSERT_TRUE(fileHas(kStartLine, 2));
    ASSERT_TRUE(fileHas(kWrittenLine));
    EXPECT_GT(readFile(path).size(), before);
    EXPECT_EQ(link.disablePacketLog(), aErrNone);
}

TEST_F(PacketLog, NeedsALinkAndAnEnableFirst)
{
    EXPECT_EQ(link.enablePacketLog(path.c_str()), aErrConfiguration);
    EXPECT_EQ(link.disablePacketLog(), aErrConfiguration);
    connectLink();
    EXPECT_EQ(link.disablePacketLog(), aErrParam);
}

TEST_F(PacketLog, SaysSoWhenTheFileCannotBeOpened)
{
    connectLink();
    EXPECT_EQ(link.enablePacketLog(dir.sub("missing/packets.log").c_str()), aErrIO);
    EXPECT_EQ(link.disablePacketLog(), aErrParam);  // no logger was made
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    EXPECT_TRUE(fileHas(kStartLine));
}

TEST_F(PacketLog, ReportsLinesLostToFailedWrites)
{
    if (!aFile_Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    connectLink();
    ASSERT_EQ(link.enablePacketLog("/dev/full"), aErrNone);
    // Each start writes a marker, which cannot be written: stopping says so
    // once the logger has had its turn at one.
    EXPECT_TRUE(eventually([&] {
        if (link.disablePacketLog() == aErrIO)
            return true;
        link.enablePacketLog(nullptr);
        return false;
    }));
}

// After a reconnect the link is a new one; enabling the log again makes the
// logger write the new link's records.
TEST_F(PacketLog, FollowsTheLinkAcrossAReconnect)
{
    connectLink();
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    ASSERT_TRUE(fileHas(kStartLine));
    ASSERT_EQ(link.disconnect(), aErrNone);
    // The logger runs on with no link to read: it waits instead of spinning.
    std::this_thread::sleep_for(Millis(20));
    connectLink();
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    sendExample();
    ASSERT_TRUE(fileHas(kStartLine, 2));
    ASSERT_TRUE(fileHas(kWrittenLine));
    EXPECT_EQ(link.disablePacketLog(), aErrNone);
}

// The Link goes while its logger runs and packets flow both ways.
TEST_F(PacketLog, TeardownWhileTheLoggerRuns)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto other = std::make_unique<Link>("other");
        ASSERT_EQ(other->setConfig(directConfig()), aErrNone);
        ASSERT_EQ(other->setLinkSpecifier(spec), aErrNone);
        ASSERT_EQ(other->connect(), aErrNone);
        ASSERT_EQ(other->enablePacketLog(path.c_str()), aErrNone);
        std::atomic<bool> stop{false};
        std::thread module([&] {
            for (int i = 0; i < 2000 && !stop; ++i) {
                if (!sim.sendPacket(kModule, {0x09, static_cast<std::uint8_t>(i)}))
                    std::this_thread::sleep_for(Millis(1));
            }
        });
        const std::uint8_t data[] = {0x48, 0x20};
        for (int i = 0; i < 50; ++i)
            other->sendPacket(kModule, 3, 2, data);
        ASSERT_TRUE(fileHas(kWrittenLine, 50 * static_cast<std::size_t>(round) + 1));
        other.reset();
        stop = true;
        module.join();
    }
    EXPECT_TRUE(fileHas(kStartLine, 3));
}

TEST_F(PacketLog, ModuleForwardsToItsLink)
{
    Module module(kModule, false, 0);
    EXPECT_EQ(module.enablePacketLog(path.c_str()), aErrConfiguration);
    EXPECT_EQ(module.disablePacketLog(), aErrConfiguration);
    ASSERT_EQ(module.setConfig(directConfig()), aErrNone);
    ASSERT_EQ(module.connectFromSpec(spec), aErrNone);
    EXPECT_EQ(module.disablePacketLog(), aErrParam);
    ASSERT_EQ(module.enablePacketLog(path.c_str()), aErrNone);
    const std::uint8_t data[] = {0x48, 0x20};
    ASSERT_EQ(module.getLink()->sendPacket(kModule, 3, 2, data), aErrNone);
    ASSERT_TRUE(fileHas(kStartLine));
    ASSERT_TRUE(fileHas(kWrittenLine));
    EXPECT_EQ(module.disablePacketLog(), aErrNone);
}

// ---------------------------------------------------------------- the writer itself

class DebugWriter : public ::testing::Test {
protected:
    DebugWriter() : sim(kModule), path(dir.sub("writer.log"))
    {
        const std::uint16_t port = sim.listenTcp("127.0.0.8");
        id = aLink_CreateTCPIP(inet_addr("127.0.0.8"), port);
        file = aFile_Open(path.c_str(), aFILE_MODE_APPEND);
    }
    ~DebugWriter() override
    {
        if (file)
            aFile_Close(&file);
        if (id != 0)
            aLink_Destroy(&id);
    }
    void SetUp() override
    {
        ASSERT_NE(id, 0);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(aFile_SetUnbuffered(file), aErrNone);
        // The link's start sends its force route; once the module has it, the log
        // holds only what the test puts there.
        ASSERT_TRUE(sim.waitUntil([&] { return sim.module(kModule).forceRoute == 1; }, Millis(5000)));
        ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    }

    aErr put(std::uint8_t direction, const Bytes& data)
    {
        return aLink_PacketDebug_Write(id, direction, static_cast<std::uint32_t>(data.size()), data.data());
    }

    // The writer's result and how long it took.
    std::pair<aErr, std::chrono::steady_clock::duration> timedRead(int linkID)
    {
        const auto start = std::chrono::steady_clock::now();
        const aErr result = Link::impl::readDebugBuffer(file, linkID);
        return {result, std::chrono::steady_clock::now() - start};
    }

    ModuleSimulator sim;
    morvtest::TempDir dir;
    std::string path;
    int id = 0;
    aFile* file = nullptr;
};

TEST_F(DebugWriter, FormatsOneRecordALine)
{
    Bytes text(200);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>('a' + i % 26);
    ASSERT_EQ(put(1, {0x04, 0x03, 0x03, 0x48, 0x20}), aErrNone);
    ASSERT_EQ(put(2, {0x04, 0x01, 0xFF}), aErrNone);
    ASSERT_EQ(put(3, text), aErrNone);  // longer than any packet
    ASSERT_EQ(put(3, {}), aErrNone);
    for (int i = 0; i < 10 && Link::impl::readDebugBuffer(file, id) == aErrNone; ++i) {
    }
    std::string written = readFile(path);
    // The link's start may record its force route late, among ours.
    const std::string forceRoute = "3 > 0xAF 0x1 0x1 \r\n";
    if (written.find(forceRoute) != std::string::npos)
        written.erase(written.find(forceRoute), forceRoute.size());
    EXPECT_EQ(written, "5 > 0x4 0x3 0x3 0x48 0x20 \r\n"
                       "3 < 0x4 0x1 0xFF \r\n"
                       "200 < " + std::string(text.begin(), text.end()) + "\r\n"
                       "0 < \r\n");
}

TEST_F(DebugWriter, WaitsWhenThereIsNothingToWrite)
{
    auto [empty, emptyTook] = timedRead(id);
    EXPECT_EQ(empty, aErrNotFound);
    EXPECT_GE(emptyTook, std::chrono::milliseconds(4));
    // No link at all, as after a disconnect: no spinning either.
    auto [gone, goneTook] = timedRead(0x7FFFFFF0);
    EXPECT_EQ(gone, aErrParam);
    EXPECT_GE(goneTook, std::chrono::milliseconds(4));
    EXPECT_EQ(readFile(path), "");
}

}  // namespace
