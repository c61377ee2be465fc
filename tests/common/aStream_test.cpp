// The generic stream layer over scripted transport procedures, its push-back
// ring, and the file streams.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>
#include <ostream>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PathChecks.h"
#include "TempDir.h"
#include "aStream.h"

namespace {

// A transport that hands out scripted bytes and results and records writes.
struct Script {
    struct Item {
        char byte;
        aErr result;
    };
    std::deque<Item> items;
    aErr whenEmpty = aErrEOF;

    std::string written;
    std::vector<size_t> writeCalls;  // length of each write-procedure call
    int putCalls = 0;
    int putFailAt = -1;  // put number (0-based) that fails with aErrIO
    int deleteCalls = 0;
    aErr deleteResult = aErrNone;

    Script& bytes(const std::string& s)
    {
        for (char c : s)
            items.push_back({c, aErrNone});
        return *this;
    }
    Script& then(aErr result)
    {
        items.push_back({0, result});
        return *this;
    }
};

aErr scriptGet(char* byte, void* ref)
{
    auto* s = static_cast<Script*>(ref);
    if (s->items.empty())
        return s->whenEmpty;
    Script::Item item = s->items.front();
    s->items.pop_front();
    if (item.result == aErrNone)
        *byte = item.byte;
    return item.result;
}

aErr scriptPut(const char* byte, void* ref)
{
    auto* s = static_cast<Script*>(ref);
    if (s->putCalls++ == s->putFailAt)
        return aErrIO;
    s->written.push_back(*byte);
    return aErrNone;
}

aErr scriptWrite(const char* data, size_t length, void* ref)
{
    auto* s = static_cast<Script*>(ref);
    s->writeCalls.push_back(length);
    s->written.append(data, length);
    return aErrNone;
}

aErr scriptDelete(void* ref)
{
    auto* s = static_cast<Script*>(ref);
    s->deleteCalls++;
    return s->deleteResult;
}

// Owns a stream over a script.
struct ScriptStream {
    Script script;
    aStream* stream;

    explicit ScriptStream(bool withGet = true, bool withPut = true, bool withWrite = true)
        : stream(aStream_Create(withGet ? scriptGet : nullptr, withPut ? scriptPut : nullptr,
                                withWrite ? scriptWrite : nullptr, scriptDelete, &script))
    {
    }
    ~ScriptStream()
    {
        if (stream != nullptr)
            aStream_Destroy(&stream);
    }

    // Everything still readable (ring first) until the script runs dry.
    std::string rest()
    {
        std::string out;
        char c;
        while (aStream_Read(stream, &c, 1) == aErrNone)
            out.push_back(c);
        return out;
    }
};

TEST(StreamRead, NotReadyLeavesDestinationAndKeepsBytesInOrder)
{
    ScriptStream s;
    s.script.bytes("abc").then(aErrNotReady).bytes("de");
    char buffer[6] = "zzzzz";
    EXPECT_EQ(aErrNotReady, aStream_Read(s.stream, buffer, 5));
    EXPECT_STREQ("zzzzz", buffer);

    EXPECT_EQ(aErrNone, aStream_Read(s.stream, buffer, 3));
    EXPECT_EQ("abc", std::string(buffer, 3));
    EXPECT_EQ(aErrNone, aStream_Read(s.stream, buffer, 2));
    EXPECT_EQ("de", std::string(buffer, 2));
}

TEST(StreamRead, NotReadyTwiceThenCompleteKeepsOrder)
{
    ScriptStream s;
    s.script.bytes("ab").then(aErrNotReady).bytes("c").then(aErrNotReady).bytes("de");
    char buffer[5];
    EXPECT_EQ(aErrNotReady, aStream_Read(s.stream, buffer, 5));
    EXPECT_EQ(aErrNotReady, aStream_Read(s.stream, buffer, 5));
    ASSERT_EQ(aErrNone, aStream_Read(s.stream, buffer, 5));
    EXPECT_EQ("abcde", std::string(buffer, 5));
}

TEST(StreamRead, EndOfInputCopiesWhatCame)
{
    ScriptStream s;
    s.script.bytes("abc");
    char buffer[6] = "zzzzz";
    EXPECT_EQ(aErrEOF, aStream_Read(s.stream, buffer, 5));
    EXPECT_STREQ("abczz", buffer);
}

TEST(StreamRead, FailureDropsTheBytesTaken)
{
    ScriptStream s;
    s.script.bytes("abc").then(aErrIO).bytes("xy");
    char buffer[6] = "zzzzz";
    EXPECT_EQ(aErrIO, aStream_Read(s.stream, buffer, 5));
    EXPECT_STREQ("zzzzz", buffer);
    EXPECT_EQ("xy", s.rest());
}

TEST(StreamRead, LargeReadAfterPushBack)
{
    ScriptStream s;
    std::string tail(1000, 'q');
    for (int i = 0; i < 1000; i++)
        tail[i] = static_cast<char>(i * 7);
    s.script.bytes(tail);
    ASSERT_EQ(aErrNone, aStreamBufferChar(s.stream, 'p'));
    std::vector<char> buffer(1001);
    ASSERT_EQ(aErrNone, aStream_Read(s.stream, buffer.data(), buffer.size()));
    EXPECT_EQ("p" + tail, std::string(buffer.begin(), buffer.end()));
}

TEST(StreamRead, Arguments)
{
    ScriptStream s;
    ScriptStream noGet(false);
    char c;
    EXPECT_EQ(aErrParam, aStream_Read(nullptr, &c, 1));
    EXPECT_EQ(aErrParam, aStream_Read(s.stream, nullptr, 1));
    EXPECT_EQ(aErrMode, aStream_Read(noGet.stream, &c, 1));
    EXPECT_EQ(aErrNone, aStream_Read(s.stream, &c, 0));
    aStream forged = *s.stream;
    forged.check = 0;
    EXPECT_EQ(aErrParam, aStream_Read(&forged, &c, 1));
}

TEST(StreamRing, GrowsBy512WhenOneSlotIsLeftAndKeepsOrder)
{
    ScriptStream s;
    std::string pushed;
    for (int i = 0; i < 600; i++) {
        if (i == 511) {
            EXPECT_EQ(512u, s.stream->ringCapacity);
        }
        char c = static_cast<char>(i % 251);
        ASSERT_EQ(aErrNone, aStreamBufferChar(s.stream, c));
        pushed.push_back(c);
    }
    EXPECT_EQ(1024u, s.stream->ringCapacity);
    EXPECT_EQ(600u, s.stream->ringCount);
    EXPECT_EQ(pushed, s.rest());
}

TEST(StreamRing, GrowingWhileWrappedKeepsOrder)
{
    ScriptStream s;
    std::string expected;
    int next = 0;
    auto push = [&](int n) {
        for (int i = 0; i < n; i++, next++) {
            char c = static_cast<char>(next % 253);
            ASSERT_EQ(aErrNone, aStreamBufferChar(s.stream, c));
            expected.push_back(c);
        }
    };
    push(400);
    char buffer[300];
    ASSERT_EQ(aErrNone, aStream_Read(s.stream, buffer, 300));
    EXPECT_EQ(expected.substr(0, 300), std::string(buffer, 300));
    expected.erase(0, 300);
    push(450);  // wraps past the end of the 512-byte buffer, then grows
    EXPECT_EQ(1024u, s.stream->ringCapacity);
    EXPECT_EQ(expected, s.rest());
}

TEST(StreamWrite, ChoosesProcedureByLength)
{
    {
        ScriptStream s;
        EXPECT_EQ(aErrNone, aStream_Write(s.stream, "abcd", 4));
        EXPECT_EQ(std::vector<size_t>{4}, s.script.writeCalls);
        EXPECT_EQ(0, s.script.putCalls);
        EXPECT_EQ(aErrNone, aStream_Write(s.stream, "e", 1));
        EXPECT_EQ(1, s.script.putCalls);
        EXPECT_EQ("abcde", s.script.written);
        EXPECT_EQ(aErrNone, aStream_Write(s.stream, "", 0));
        EXPECT_EQ(1u, s.script.writeCalls.size());
    }
    {
        ScriptStream writeOnly(true, false, true);
        EXPECT_EQ(aErrNone, aStream_Write(writeOnly.stream, "x", 1));
        EXPECT_EQ(std::vector<size_t>{1}, writeOnly.script.writeCalls);
    }
    {
        ScriptStream putOnly(true, true, false);
        putOnly.script.putFailAt = 2;
        EXPECT_EQ(aErrIO, aStream_Write(putOnly.stream, "abcdef", 6));
        EXPECT_EQ("ab", putOnly.script.written);
        EXPECT_EQ(3, putOnly.script.putCalls);
    }
    {
        ScriptStream none(true, false, false);
        EXPECT_EQ(aErrMode, aStream_Write(none.stream, "ab", 2));
        EXPECT_EQ(aErrParam, aStream_Write(none.stream, nullptr, 2));
        EXPECT_EQ(aErrParam, aStream_Write(nullptr, "ab", 2));
    }
}

// One ReadRecord call: input bytes, then the script's final result.
struct RecordCase {
    const char* name;
    std::string input;
    aErr end;
    size_t maximum;
    std::string terminator;
    aErr expected;
    std::string record;
    std::string rest;
};

void PrintTo(const RecordCase& c, std::ostream* os)
{
    *os << c.name;
}

class StreamReadRecord : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StreamReadRecord, Case)
{
    const RecordCase& c = GetParam();
    ScriptStream s;
    s.script.bytes(c.input).then(c.end);
    std::vector<char> buffer(c.maximum + 1, '#');
    size_t count = 99;
    EXPECT_EQ(c.expected, aStream_ReadRecord(s.stream, buffer.data(), &count, c.maximum,
                                             c.terminator.data(), c.terminator.size()));
    if (c.expected == aErrNone) {
        EXPECT_EQ(c.record, std::string(buffer.data(), count));
    } else {
        EXPECT_EQ(0u, count);
    }
    EXPECT_EQ(c.rest, s.rest());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamReadRecord,
    ::testing::Values(
        RecordCase{"Terminated", "hello\nworld", aErrEOF, 32, "\n", aErrNone, "hello", "world"},
        RecordCase{"LastRecordWithoutTerminator", "abc", aErrEOF, 32, "\n", aErrNone, "abc", ""},
        RecordCase{"NothingAtEnd", "", aErrEOF, 32, "\n", aErrEOF, "", ""},
        RecordCase{"FullRecordLeavesRest", "abcdef\n", aErrEOF, 4, "\n", aErrNone, "abcd", "ef\n"},
        RecordCase{"FullRecordLeavesTerminator", "abcd\n", aErrEOF, 4, "\n", aErrNone, "abcd", "\n"},
        RecordCase{"FailureEndsRead", "ab", aErrIO, 32, "\n", aErrIO, "", ""},
        RecordCase{"TwoByteTerminator", "ab\r\ncd", aErrEOF, 32, "\r\n", aErrNone, "ab", "cd"},
        RecordCase{"BrokenMatchIsData", "a\rb\r\n", aErrEOF, 32, "\r\n", aErrNone, "a\rb", ""},
        RecordCase{"OverlappingTerminator", "x\r\r\r\ny", aErrEOF, 32, "\r\r\n", aErrNone, "x\r", "y"},
        RecordCase{"CutTerminatorAtEndIsData", "ab\r", aErrEOF, 32, "\r\n", aErrNone, "ab\r", ""},
        RecordCase{"FullWhileMatchBreaks", "axz", aErrEOF, 2, "xy", aErrNone, "ax", "z"},
        RecordCase{"FullKeepsPartialMatch", "aaab", aErrEOF, 1, "aab", aErrNone, "a", "aab"},
        RecordCase{"RepeatedPrefix", "aaab", aErrEOF, 8, "aab", aErrNone, "a", ""}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

TEST(StreamReadRecordNotReady, BytesTakenComeBackOnTheNextCall)
{
    ScriptStream s;
    ASSERT_EQ(aErrNone, aStreamBufferChar(s.stream, 'x'));
    s.script.bytes("ab\r").then(aErrNotReady).bytes("\nz");
    char buffer[16];
    size_t count = 99;
    EXPECT_EQ(aErrNotReady, aStream_ReadRecord(s.stream, buffer, &count, sizeof(buffer), "\r\n", 2));
    EXPECT_EQ(0u, count);
    ASSERT_EQ(aErrNone, aStream_ReadRecord(s.stream, buffer, &count, sizeof(buffer), "\r\n", 2));
    EXPECT_EQ("xab", std::string(buffer, count));
    EXPECT_EQ("z", s.rest());
}

TEST(StreamReadRecordNotReady, Arguments)
{
    ScriptStream s;
    char buffer[4];
    size_t count;
    EXPECT_EQ(aErrParam, aStream_ReadRecord(s.stream, buffer, &count, 0, "\n", 1));
    EXPECT_EQ(aErrParam, aStream_ReadRecord(s.stream, buffer, &count, 4, "\n", 0));
    EXPECT_EQ(aErrParam, aStream_ReadRecord(s.stream, buffer, &count, 4, nullptr, 1));
    EXPECT_EQ(aErrParam, aStream_ReadRecord(s.stream, nullptr, &count, 4, "\n", 1));
    EXPECT_EQ(aErrParam, aStream_ReadRecord(nullptr, buffer, &count, 4, "\n", 1));
    s.script.bytes("a\n");
    EXPECT_EQ(aErrNone, aStream_ReadRecord(s.stream, buffer, nullptr, 4, "\n", 1));
}

TEST(StreamCString, ReadStopsAtBufferSize)
{
    ScriptStream s;
    s.script.bytes(std::string("abcdefghijklmnopqrst") + '\0' + "next");
    char buffer[16];
    ASSERT_EQ(aErrNone, aStream_ReadCString(s.stream, buffer, sizeof(buffer)));
    EXPECT_STREQ("abcdefghijklmno", buffer);
    EXPECT_EQ(std::string("pqrst") + '\0' + "next", s.rest());
}

TEST(StreamCString, ReadUpToZeroAndRecordTerminator)
{
    ScriptStream s;
    s.script.bytes(std::string("hi") + '\0' + "line one\r\nline two");
    char buffer[32];
    ASSERT_EQ(aErrNone, aStream_ReadCString(s.stream, buffer, sizeof(buffer)));
    EXPECT_STREQ("hi", buffer);
    ASSERT_EQ(aErrNone, aStream_ReadCStringRecord(s.stream, buffer, sizeof(buffer), "\r\n"));
    EXPECT_STREQ("line one", buffer);
    EXPECT_EQ(aErrNone, aStream_ReadCStringRecord(s.stream, buffer, sizeof(buffer), "\r\n"));
    EXPECT_STREQ("line two", buffer);
    EXPECT_EQ(aErrParam, aStream_ReadCString(s.stream, buffer, 1));
    EXPECT_EQ(aErrParam, aStream_ReadCStringRecord(s.stream, buffer, sizeof(buffer), ""));
}

TEST(StreamCString, Writes)
{
    ScriptStream s;
    ASSERT_EQ(aErrNone, aStream_WriteCStringRecord(s.stream, "abc", "\r\n"));
    EXPECT_EQ(std::string("abc\r\n") + '\0', s.script.written);
    EXPECT_EQ(6u, s.script.written.size());
    s.script.written.clear();
    ASSERT_EQ(aErrNone, aStream_WriteCString(s.stream, "hi"));
    EXPECT_EQ(std::string("hi") + '\0', s.script.written);
    s.script.written.clear();
    ASSERT_EQ(aErrNone, aStream_WriteRecord(s.stream, "", 0, ";", 1));
    EXPECT_EQ(";", s.script.written);
    EXPECT_EQ(aErrParam, aStream_WriteRecord(s.stream, nullptr, 0, ";", 1));
    EXPECT_EQ(aErrParam, aStream_WriteRecord(s.stream, "a", 1, ";", 0));
    EXPECT_EQ(aErrParam, aStream_WriteCString(s.stream, nullptr));
}

TEST(StreamFlush, CopiesUntilTheSourceStops)
{
    ScriptStream source;
    ScriptStream sink(false, true, false);
    source.script.bytes("copy me");
    EXPECT_EQ(aErrNone, aStream_Flush(source.stream, sink.stream));
    EXPECT_EQ("copy me", sink.script.written);

    source.script.bytes("ab").then(aErrNotReady).bytes("c");
    EXPECT_EQ(aErrNotReady, aStream_Flush(source.stream, sink.stream));
    source.script.bytes("xyz");
    sink.script.putFailAt = sink.script.putCalls + 1;
    EXPECT_EQ(aErrIO, aStream_Flush(source.stream, sink.stream));

    ScriptStream noPut(true, false, true);
    EXPECT_EQ(aErrMode, aStream_Flush(source.stream, noPut.stream));
    EXPECT_EQ(aErrParam, aStream_Flush(nullptr, sink.stream));
}

TEST(StreamDestroy, RunsDeleteAndClearsPointer)
{
    Script script;
    script.deleteResult = aErrBusy;
    aStream* stream = aStream_Create(scriptGet, nullptr, nullptr, scriptDelete, &script);
    ASSERT_NE(nullptr, stream);
    ASSERT_EQ(aErrNone, aStreamBufferChar(stream, 'a'));
    EXPECT_EQ(aErrBusy, aStream_Destroy(&stream));
    EXPECT_EQ(nullptr, stream);
    EXPECT_EQ(1, script.deleteCalls);

    aStream forged{};
    aStream* bad = &forged;
    EXPECT_EQ(aErrParam, aStream_Destroy(&bad));
    EXPECT_EQ(nullptr, bad);
    EXPECT_EQ(aErrParam, aStream_Destroy(nullptr));

    aStream* bare = aStream_Create(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(aErrNone, aStream_Destroy(&bare));
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

using morvtest::exists;

TEST(StreamFile, OutputWritesThePathAndReadsBack)
{
    morvtest::TempDir dir;
    const std::string path = dir.sub("out.bin");
    aStream* out = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateFileOutput(path.c_str(), &out));
    ASSERT_EQ(aErrNone, aStream_Write(out, "one\n", 4));
    ASSERT_EQ(aErrNone, aStream_Write(out, "2", 1));
    ASSERT_EQ(aErrNone, aStream_WriteCString(out, "three"));
    EXPECT_TRUE(exists(path));  // written where it was named, from the open on
    char c;
    EXPECT_EQ(aErrMode, aStream_Read(out, &c, 1));
    ASSERT_EQ(aErrNone, aStream_Destroy(&out));
    const std::string expected = std::string("one\n2three") + '\0';
    EXPECT_EQ(expected, slurp(path));

    aStream* in = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateFileInput(path.c_str(), &in));
    char line[16];
    size_t count = 0;
    ASSERT_EQ(aErrNone, aStream_ReadRecord(in, line, &count, sizeof(line), "\n", 1));
    EXPECT_EQ("one", std::string(line, count));
    EXPECT_EQ(aErrMode, aStream_Write(in, "x", 1));

    aStream* copy = nullptr;
    const std::string copyPath = dir.sub("copy.bin");
    ASSERT_EQ(aErrNone, aStream_CreateFileOutput(copyPath.c_str(), &copy));
    EXPECT_EQ(aErrNone, aStream_Flush(in, copy));
    EXPECT_EQ(aErrNone, aStream_Destroy(&copy));
    EXPECT_EQ(expected.substr(4), slurp(copyPath));
    EXPECT_EQ(aErrNone, aStream_Destroy(&in));
}

TEST(StreamFile, ConstructorFailures)
{
    morvtest::TempDir dir;
    aStream* s = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aErrResource, aStream_CreateFileInput(dir.sub("missing").c_str(), &s));
    EXPECT_EQ(nullptr, s);
    s = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aErrResource, aStream_CreateFileOutput(dir.sub("no/such/dir/f").c_str(), &s));
    EXPECT_EQ(nullptr, s);
    EXPECT_EQ(aErrResource, aStream_CreateFileInput(nullptr, &s));
    EXPECT_EQ(aErrResource, aStream_CreateFileOutput(dir.sub("f").c_str(), nullptr));
    EXPECT_FALSE(exists(dir.sub("f")));
}

// A caller's path is written where it points: a link is written through, a
// special file stays what it is, and the bytes are at the path before the
// stream is destroyed.
struct NamedTarget {
    const char* name;
    // Makes the path the stream is given; returns it.
    std::string (*make)(const morvtest::TempDir& dir);
    // The kind the path must still have (S_IFLNK, S_IFIFO, S_IFREG).
    mode_t kind;
    // Where the written bytes must be read back from; empty: nowhere.
    std::string (*readBackFrom)(const morvtest::TempDir& dir);
    // Entries the directory holds afterwards.
    size_t entries;
};

void PrintTo(const NamedTarget& target, std::ostream* os)
{
    *os << target.name;
}

size_t entriesOf(const std::string& path)
{
    size_t count = 0;
    DIR* d = opendir(path.c_str());
    if (d == nullptr)
        return 0;
    for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            ++count;
    }
    closedir(d);
    return count;
}

std::string plainFile(const morvtest::TempDir& dir)
{
    return dir.sub("plain");
}

std::string linkToFile(const morvtest::TempDir& dir)
{
    std::ofstream(dir.sub("target")) << "old content that must be replaced";
    if (symlink(dir.sub("target").c_str(), dir.sub("link").c_str()) != 0)
        return "";
    return dir.sub("link");
}

std::string targetOfLink(const morvtest::TempDir& dir)
{
    return dir.sub("target");
}

std::string linkToDevNull(const morvtest::TempDir& dir)
{
    if (symlink("/dev/null", dir.sub("null").c_str()) != 0)
        return "";
    return dir.sub("null");
}

std::string noReadBack(const morvtest::TempDir&)
{
    return "";
}

std::string fifo(const morvtest::TempDir& dir)
{
    if (mkfifo(dir.sub("fifo").c_str(), 0600) != 0)
        return "";
    return dir.sub("fifo");
}

mode_t kindOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

class FileOutputTargets : public ::testing::TestWithParam<NamedTarget> {};

TEST_P(FileOutputTargets, WritesThroughThePathAndLeavesItsKind)
{
    morvtest::TempDir dir;
    const NamedTarget& target = GetParam();
    const std::string path = target.make(dir);
    ASSERT_FALSE(path.empty());
    // A FIFO opens for writing only once it has a reader.
    int reader = -1;
    if (target.kind == S_IFIFO) {
        reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    }

    // More than stdio buffers, so most of it has left the process while the
    // stream is still open.
    const std::string content(8192, 'x');
    aStream* out = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateFileOutput(path.c_str(), &out));
    ASSERT_EQ(aErrNone, aStream_Write(out, content.data(), content.size()));
    const std::string readBack = target.readBackFrom(dir);
    if (!readBack.empty()) {
        EXPECT_GE(slurp(readBack).size(), 4096u) << "nothing at the path while open";
    }
    if (reader >= 0) {
        char buffer[1024];
        EXPECT_GT(read(reader, buffer, sizeof(buffer)), 0) << "nothing in the FIFO while open";
    }
    EXPECT_EQ(aErrNone, aStream_Destroy(&out));
    if (reader >= 0)
        close(reader);

    EXPECT_EQ(target.kind, kindOf(path));
    if (!readBack.empty()) {
        const std::string got = slurp(readBack);
        EXPECT_TRUE(got == content) << "read back " << got.size() << " bytes: " << got.substr(0, 40);
    }
    EXPECT_EQ(static_cast<mode_t>(S_IFCHR), kindOf("/dev/null"));
    EXPECT_EQ(target.entries, entriesOf(dir.path())) << "a temporary was left beside it";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileOutputTargets,
    ::testing::Values(NamedTarget{"PlainFile", plainFile, S_IFREG, plainFile, 1},
                      NamedTarget{"SymlinkToFile", linkToFile, S_IFLNK, targetOfLink, 2},
                      NamedTarget{"SymlinkToDevNull", linkToDevNull, S_IFLNK, noReadBack, 1},
                      NamedTarget{"Fifo", fifo, S_IFIFO, noReadBack, 1}),
    [](const ::testing::TestParamInfo<NamedTarget>& info) { return info.param.name; });

}  // namespace
