#include "HTTPRequest.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>

#include "FakeUpdateServer.h"
#include "Log.h"

namespace {

using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;

// Short limits so that stalled transfers end within a couple of seconds. curl averages the
// speed over a few seconds, so the stall tests ask for more than the bytes sent before it.
const HTTPTimeouts kQuick{2000, 1, 1};
const HTTPTimeouts kStallQuick{2000, 1000, 1};

// Captures trace lines of the HTTP layer in a temporary file.
class TraceCapture {
public:
    TraceCapture() : file_(std::tmpfile()) {
        Log::SetOutput(file_);
        Log::ActivatePackage(DEBUG_ServerComm);
    }
    ~TraceCapture() {
        Log::DeactivatePackage(DEBUG_ServerComm);
        Log::SetOutput(nullptr);
        std::fclose(file_);
    }
    std::string text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        return out;
    }

private:
    FILE* file_;
};

class HTTPRequestTest : public ::testing::Test {
protected:
    void SetUp() override { morvtest::ClearProxyEnvironment(); }
    FakeUpdateServer server;
};

TEST_F(HTTPRequestTest, AppendsTheQueryInKeyOrderWithoutEncoding) {
    struct {
        std::map<std::string, std::string> query;
        const char* expected;  // target after the url's path
    } cases[] = {
        {{{"rv", "2"}, {"op", "hi"}}, "/cgi/u?op=hi&rv=2&"},
        {{}, "/cgi/u"},
        {{{"op", "qu"}, {"x", "a&b=c"}}, "/cgi/u?op=qu&x=a&b=c&"},
        {{{"fp", "00000001%2000000002"}}, "/cgi/u?fp=00000001%2000000002&"},
    };
    for (const auto& c : cases) {
        server.clearRecords();
        HTTPResponse r = HTTPRequest::GET(server.url().c_str(), c.query, kQuick);
        EXPECT_EQ(r.get_request(), server.url() + std::string(c.expected).substr(6));
        ASSERT_EQ(server.targets().size(), 1u);
        EXPECT_EQ(server.targets()[0], c.expected);
    }
}

TEST_F(HTTPRequestTest, ReturnsStatusAndBodyWhateverTheStatus) {
    server.setReply("hi", Reply::Ok({"line"}));
    server.setReply("qu", Reply::Status(404, "not here\n"));
    HTTPResponse ok = HTTPRequest::GET(server.url().c_str(), {{"op", "hi"}}, kQuick);
    EXPECT_EQ(ok.get_status(), 200);
    EXPECT_STREQ(ok.get_response(), "ok\nline\n");

    HTTPResponse missing = HTTPRequest::GET(server.url().c_str(), {{"op", "qu"}}, kQuick);
    EXPECT_EQ(missing.get_status(), 404);
    EXPECT_STREQ(missing.get_response(), "not here\n");
}

TEST_F(HTTPRequestTest, CollectsALargeBodyWhole) {
    std::string big(3 * 1024 * 1024 + 17, 'x');
    for (size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
    server.setReply("bird", Reply::Body(big));
    HTTPResponse r = HTTPRequest::GET(server.url().c_str(), {{"op", "bird"}}, kQuick);
    EXPECT_EQ(r.get_status(), 200);
    EXPECT_EQ(std::string(r.get_response()), big);
}

TEST_F(HTTPRequestTest, UnreachableServerThrowsLibcurlsText) {
    // A port that was just free and has no listener: the connection is refused.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    close(fd);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/cgi/u";
    try {
        HTTPRequest::GET(url.c_str(), {{"op", "hi"}}, kQuick);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Couldn't connect to server");
    }
}

TEST_F(HTTPRequestTest, MalformedUrlThrows) {
    EXPECT_THROW(HTTPRequest::GET("nothing://", {}, kQuick), std::runtime_error);
    EXPECT_THROW(HTTPRequest::GET(nullptr, {}, kQuick), std::runtime_error);
}

TEST_F(HTTPRequestTest, AbandonsAStalledServer) {
    const FakeUpdateServer::Stall stalls[] = {FakeUpdateServer::Stall::BeforeHeaders,
                                               FakeUpdateServer::Stall::MidBody};
    for (auto stall : stalls) {
        Reply r = Reply::Ok({"YWJjYWJjYWJjYWJj"});
        r.stall = stall;
        r.stallAfter = 5;
        server.setReply("bird", r);
        const auto start = std::chrono::steady_clock::now();
        try {
            HTTPRequest::GET(server.url().c_str(), {{"op", "bird"}}, kStallQuick);
            ADD_FAILURE() << "a stalled transfer returned";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Timeout was reached");
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << static_cast<int>(stall);
    }
}

// A body beyond the reply limit fails the request at once, whether its length
// is declared or it never ends; a body of exactly the limit is taken whole.
struct LimitCase {
    const char* label;
    size_t size;
    bool endless;
    bool fails;
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.label; }

class ReplyLimit : public HTTPRequestTest, public ::testing::WithParamInterface<LimitCase> {};

constexpr unsigned long long kSmallLimit = 64 * 1024;

TEST_P(ReplyLimit, LongerBodiesFail) {
    HTTPTimeouts limits = kQuick;
    limits.max_reply_bytes = kSmallLimit;
    Reply reply = Reply::Body(std::string(GetParam().size, 'q'));
    reply.endless = GetParam().endless;
    server.setReply("bird", reply);
    const auto start = std::chrono::steady_clock::now();
    if (GetParam().fails) {
        try {
            HTTPResponse r = HTTPRequest::GET(server.url().c_str(), {{"op", "bird"}}, limits);
            ADD_FAILURE() << "a reply of " << std::strlen(r.get_response()) << " bytes was taken";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Reply larger than 65536 bytes");
        }
    } else {
        HTTPResponse r = HTTPRequest::GET(server.url().c_str(), {{"op", "bird"}}, limits);
        EXPECT_EQ(std::string(r.get_response()), std::string(GetParam().size, 'q'));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyLimit,
                         ::testing::Values(LimitCase{"exactly_the_limit", kSmallLimit, false, false},
                                           LimitCase{"one_byte_over", kSmallLimit + 1, false, true},
                                           LimitCase{"endless", 1000, true, true}),
                         [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.label); });

TEST_F(HTTPRequestTest, AbandonsADribblingServerAtTheDefaultFloor) {
    // 20 bytes a second: far below what any working server sends.
    Reply reply = Reply::Ok({std::string(200, 'Y')});
    reply.dribble = std::chrono::milliseconds(50);
    server.setReply("bird", reply);
    HTTPTimeouts limits;  // the default floor, over a short time
    limits.connect_ms = 2000;
    limits.low_speed_seconds = 1;
    const auto start = std::chrono::steady_clock::now();
    try {
        HTTPRequest::GET(server.url().c_str(), {{"op", "bird"}}, limits);
        ADD_FAILURE() << "a dribbling transfer returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Timeout was reached");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(HTTPRequestTest, TracesTheRequestAndWhatArrives) {
    TraceCapture trace;
    server.setReply("hi", Reply::Ok());
    HTTPRequest::GET(server.url().c_str(), {{"op", "hi"}}, kQuick);
    const std::string text = trace.text();
    EXPECT_NE(text.find("GET(" + server.url() + "?op=hi&)\n"), std::string::npos) << text;
    EXPECT_NE(text.find(") [ok\n]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("rcv_data returns 3\n"), std::string::npos) << text;
}

TEST(HTTPReceive, TraceShowsAtMostTheBytesReceived) {
    TraceCapture trace;
    HTTPResponse response("u");
    // Three bytes handed over, more (unterminated) bytes behind them in memory.
    char chunk[8] = {'a', 'b', 'c', 'X', 'Y', 'Z', 'W', 'V'};
    EXPECT_EQ(HTTPRequest::_rcv_data(chunk, 1, 3, &response), 3u);
    EXPECT_STREQ(response.get_response(), "abc");
    std::string text = trace.text();
    EXPECT_NE(text.find("rcv_data called (..., 1, 3, "), std::string::npos) << text;
    EXPECT_NE(text.find(") [abc]\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('X'), std::string::npos) << text;

    // A long chunk is shown cut at 100 characters but stored whole.
    std::string long_chunk(150, 'q');
    long_chunk[100] = 'Z';
    EXPECT_EQ(HTTPRequest::_rcv_data(&long_chunk[0], 150, 1, &response), 150u);
    EXPECT_EQ(std::strlen(response.get_response()), 153u);
    text = trace.text();
    EXPECT_NE(text.find("[" + std::string(100, 'q') + "]\n"), std::string::npos);
    EXPECT_EQ(text.find('Z'), std::string::npos);
}

TEST(HTTPReceive, ResponseStartsEmptyAndKeepsAnyBytes) {
    HTTPResponse r("http://x/?a=b&");
    EXPECT_STREQ(r.get_request(), "http://x/?a=b&");
    EXPECT_EQ(r.get_status(), 0);
    EXPECT_STREQ(r.get_response(), "");
    r.process("a\0b", 3);
    EXPECT_EQ(std::memcmp(r.get_response(), "a\0b", 4), 0);
    r.set_status(503);
    EXPECT_EQ(r.get_status(), 503);
}

}  // namespace
