#include "UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "FakeUpdateServer.h"
#include "base64.h"

namespace {

using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;
using Builds = std::map<std::string, std::string>;

const HTTPTimeouts kQuick{2000, 1, 1};
// curl averages the speed over a few seconds: ask for more than the bytes sent before the stall.
const HTTPTimeouts kStallQuick{2000, 1000, 1};
const char* const kOps[] = {"hi", "qu", "bird", "builds", "fix", "ent_jwt"};

class UpdateServerRequestTest : public ::testing::Test {
protected:
    void SetUp() override { morvtest::ClearProxyEnvironment(); }

    void replyToAll(const Reply& r) {
        for (const char* op : kOps) server.setReply(op, r);
    }
    const char* url() {
        url_ = server.url();
        return url_.c_str();
    }

    FakeUpdateServer server;
    std::string url_;
};

// One call of each request, with its results kept for inspection.
struct Calls {
    std::string build = "B?", version = "V?", bundle = "X?", token = "T?";
    Builds builds{{"stale", "0.0.0"}};
    unsigned serial = 0x5EED, buildNumber = 77;
    const unsigned fingerprint[4] = {1, 2, 3, 4};

    struct Entry {
        const char* name;
        const char* query;
        std::function<bool(const char*)> run;
    };
    std::vector<Entry> all() {
        return {
            {"ping", "op=hi&rv=2&",
             [](const char* u) { return UpdateServerRequest::ping(u, kQuick); }},
            {"QueryBuild", "op=qu&sn=1234ABCD&",
             [this](const char* u) {
                 return UpdateServerRequest::QueryBuild(0x1234ABCD, build, version, u, kQuick);
             }},
            {"GetBuild", "bld=1234&fw=2.11.3&no_cal=true&op=bird&sn=000000AB&",
             [this](const char* u) {
                 return UpdateServerRequest::GetBuild(0xAB, "2.11.3", "1234", bundle, u, true, kQuick);
             }},
            {"GetBuildList", "op=builds&sn=00000001&",
             [this](const char* u) { return UpdateServerRequest::GetBuildList(1, builds, u, kQuick); }},
            {"GetRecoveryInfo", "brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix&",
             [this](const char* u) {
                 return UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &buildNumber, u,
                                                             kQuick);
             }},
            {"GetDeviceJWT", "json=false&op=ent_jwt&sn=DEADBEEF&",
             [this](const char* u) {
                 return UpdateServerRequest::GetDeviceJWT(0xDEADBEEF, token, u, kQuick);
             }},
        };
    }
};

TEST_F(UpdateServerRequestTest, SendsTheExactQueryStrings) {
    replyToAll(Reply::Ok());
    Calls calls;
    for (auto& call : calls.all()) {
        server.clearRecords();
        call.run(url());
        ASSERT_EQ(server.queries().size(), 1u) << call.name;
        EXPECT_EQ(server.queries()[0], call.query) << call.name;
        EXPECT_EQ(server.targets()[0], std::string("/cgi/u?") + call.query) << call.name;
    }
    server.clearRecords();
    std::string out;
    UpdateServerRequest::GetBuild(0xFFFFFFFF, "1.0.0", "9", out, url(), false, kQuick);
    ASSERT_EQ(server.queries().size(), 1u);
    EXPECT_EQ(server.queries()[0], "bld=9&fw=1.0.0&no_cal=false&op=bird&sn=FFFFFFFF&");
}

TEST_F(UpdateServerRequestTest, EveryRequestFailsWithoutStatus200AndOk) {
    const Reply failing[] = {
        Reply::Status(500, "ok\n1234\n"), Reply::Status(404, ""), Reply::Body("OK\n1234\n"),
        Reply::Body("error\n"),           Reply::Body(""),       Reply::Body("\n\n\r\n"),
        Reply::Body("o\nok\n"),           Reply::Body(" ok\n"),
    };
    for (const Reply& r : failing) {
        replyToAll(r);
        Calls calls;
        for (auto& call : calls.all()) EXPECT_FALSE(call.run(url())) << call.name << " [" << r.body << "]";
        // Nothing is delivered on failure (the build list is emptied before asking).
        EXPECT_EQ(calls.build, "B?");
        EXPECT_EQ(calls.version, "V?");
        EXPECT_EQ(calls.bundle, "X?");
        EXPECT_EQ(calls.token, "T?");
        EXPECT_TRUE(calls.builds.empty());
        EXPECT_EQ(calls.serial, 0x5EEDu);
        EXPECT_EQ(calls.buildNumber, 77u);
    }
}

TEST_F(UpdateServerRequestTest, AnUnreachableOrStalledServerIsAFailureNotAHang) {
    FakeUpdateServer::Reply stalled = Reply::Ok({"1234", "2.11.3"});
    stalled.stall = FakeUpdateServer::Stall::MidBody;
    stalled.stallAfter = 4;
    replyToAll(stalled);
    std::string out = "X?";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(UpdateServerRequest::GetBuild(1, "1.0.0", "2", out, url(), false, kStallQuick));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(out, "X?");

    EXPECT_FALSE(UpdateServerRequest::ping("http://127.0.0.1:1/cgi/u", kQuick));
}

TEST_F(UpdateServerRequestTest, OkAloneSucceedsWithNothingSetExceptForTheToken) {
    for (const char* body : {"ok\n", "ok", "okay\n", "ok\r\n", "\nok\n\n\n"}) {
        replyToAll(Reply::Body(body));
        Calls calls;
        auto all = calls.all();
        for (size_t i = 0; i + 1 < all.size(); ++i) EXPECT_TRUE(all[i].run(url())) << all[i].name << body;
        EXPECT_FALSE(all.back().run(url())) << body;
        EXPECT_EQ(calls.build, "B?");
        EXPECT_EQ(calls.version, "V?");
        EXPECT_EQ(calls.bundle, "") << "emptied";
        EXPECT_TRUE(calls.builds.empty());
        EXPECT_EQ(calls.serial, 0x5EEDu);
        EXPECT_EQ(calls.buildNumber, 77u);
        EXPECT_EQ(calls.token, "T?");
    }
}

TEST_F(UpdateServerRequestTest, QueryBuildReadsBuildAndVersion) {
    struct {
        const char* body;
        bool crlf;
        const char* build;
        const char* version;
    } cases[] = {
        {"ok\n1234\n2.11.3\n", false, "1234", "2.11.3"},
        {"ok\n1234\n2.11.3\n", true, "1234", "2.11.3"},  // no carriage return left on either
        {"ok\n\n\n1234\n\n2.11.3", false, "1234", "2.11.3"},
        {"ok extra\n1234\n", false, "1234", "V?"},
        {"ok\n1234\n2.11.3\rjunk\n", false, "1234", "2.11.3"},
    };
    for (const auto& c : cases) {
        Reply r = Reply::Body(c.body);
        r.crlf = c.crlf;
        server.setReply("qu", r);
        std::string build = "B?", version = "V?";
        EXPECT_TRUE(UpdateServerRequest::QueryBuild(1, build, version, url(), kQuick)) << c.body;
        EXPECT_EQ(build, c.build) << c.body;
        EXPECT_EQ(version, c.version) << c.body;
    }
}

TEST_F(UpdateServerRequestTest, GetBuildDeliversTheBase64LineThatDecodes) {
    struct {
        const char* body;
        bool crlf;
        const char* out;
        bool decodes;
    } cases[] = {
        {"ok\nYWJj\n", false, "YWJj", true},
        {"ok\nYWJj\n", true, "YWJj", true},  // CRLF: the line still decodes
        {"ok\n\nYWJjZA==\nnext\n", false, "YWJjZA==", true},
        {"ok\nYWJjZ\n", false, "YWJjZ", false},  // invalid length: the download gets nothing
        {"ok\n\n", false, "", true},            // empty line: out stays empty
    };
    for (const auto& c : cases) {
        Reply r = Reply::Body(c.body);
        r.crlf = c.crlf;
        server.setReply("bird", r);
        std::string out = "old";
        EXPECT_TRUE(UpdateServerRequest::GetBuild(1, "1.0.0", "5", out, url(), false, kQuick));
        EXPECT_EQ(out, c.out);
        unsigned long len = 0;
        unsigned char* data = base64_decode(out.data(), out.size(), &len);
        EXPECT_EQ(data != nullptr, c.decodes) << c.body;
        std::free(data);
    }
}

TEST_F(UpdateServerRequestTest, GetBuildListParsesEntries) {
    struct {
        const char* body;
        bool crlf;
        Builds expected;
    } cases[] = {
        {"ok\n1234;2.11.3\n", false, {{"1234", "2.11.3"}}},
        {"ok\n1234;2.11.3\n1300;2.12.0\n", true, {{"1234", "2.11.3"}, {"1300", "2.12.0"}}},
        {"ok\n1234\n", false, {{"1234", ""}}},
        {"ok\n12\n1234;1.0.0\n", false, {{"1234", "1.0.0"}}},
        {"ok\n1234;1.0.0\n1234;9.9.9\n", false, {{"1234", "1.0.0"}}},
        {"ok\n;;55;;1.2.3;x\n\n\n66;;\n", false, {{"55", "1.2.3"}, {"66", ""}}},
        {"ok\n;;;\n", false, {}},
    };
    for (const auto& c : cases) {
        Reply r = Reply::Body(c.body);
        r.crlf = c.crlf;
        server.setReply("builds", r);
        Builds builds{{"old", "1.1.1"}};
        EXPECT_TRUE(UpdateServerRequest::GetBuildList(7, builds, url(), kQuick));
        EXPECT_EQ(builds, c.expected) << c.body;
    }
}

TEST_F(UpdateServerRequestTest, GetRecoveryInfoReadsSerialAndBuild) {
    struct {
        const char* body;
        bool crlf;
        bool ok;
        unsigned serial;
        unsigned build;
    } cases[] = {
        {"ok\n1A2B3C4D\n1234\n", false, true, 0x1A2B3C4D, 1234},
        {"ok\n1a2b3c4d\n0x10\n", true, true, 0x1A2B3C4D, 16},
        {"ok\nFF\n010\n", false, true, 0xFF, 8},
        {"ok\nFF\n", false, true, 0xFF, 77},
        {"ok\n\n\nDEADDEAD\n\n7\n", false, true, 0xDEADDEAD, 7},
        // Numbers that do not fit 32 bits would name another device: refused.
        {"ok\n1FFFFFFFF\n5\n", false, false, 0x5EED, 77},
        {"ok\nFF\n4294967296\n", false, false, 0x5EED, 77},
    };
    const unsigned fp[4] = {0xA, 0xB, 0xC, 0xD};
    for (const auto& c : cases) {
        Reply r = Reply::Body(c.body);
        r.crlf = c.crlf;
        server.setReply("fix", r);
        unsigned serial = 0x5EED, build = 77;
        EXPECT_EQ(UpdateServerRequest::GetRecoveryInfo(fp, &serial, &build, url(), kQuick), c.ok) << c.body;
        EXPECT_EQ(serial, c.serial) << c.body;
        EXPECT_EQ(build, c.build) << c.body;
    }
    ASSERT_FALSE(server.queries().empty());
    EXPECT_EQ(server.queries().back(), "brief=true&fp=0000000A%200000000B%200000000C%200000000D&op=fix&");
}

TEST_F(UpdateServerRequestTest, GetDeviceJWTAcceptsOnlyThreeParts) {
    struct {
        const char* body;
        bool crlf;
        bool ok;
        const char* token;
    } cases[] = {
        {"ok\naa.bb.cc\n", false, true, "aa.bb.cc"},
        {"ok\naa.bb.cc\n", true, true, "aa.bb.cc"},
        {"ok\naa..bb.cc\n", false, true, "aa.bb.cc"},
        {"ok\n..aa.bb.cc.dd\n", false, true, "aa.bb.cc.dd"},
        {"ok\n\neyJh.eyJi.c2ln\n", false, true, "eyJh.eyJi.c2ln"},
        {"ok\na.b.c\n", false, false, "T?"},
        {"ok\naa.bb.c\n", false, false, "T?"},
        {"ok\naa.bb\n", false, false, "T?"},
        {"ok\nab\n", false, false, "T?"},
        {"ok\naaaa\n", false, false, "T?"},
    };
    for (const auto& c : cases) {
        Reply r = Reply::Body(c.body);
        r.crlf = c.crlf;
        server.setReply("ent_jwt", r);
        std::string token = "T?";
        EXPECT_EQ(UpdateServerRequest::GetDeviceJWT(1, token, url(), kQuick), c.ok) << c.body;
        EXPECT_EQ(token, c.token) << c.body;
    }
}

TEST(UpdateServerVersions, SplitsIntoExactlyThreePieces) {
    using V = std::vector<std::string>;
    struct {
        const char* text;
        V pieces;
    } cases[] = {
        {"1.2.3", {"1", "2", "3"}}, {"1..3", {"1", "", "3"}}, {"..", {"", "", ""}},
        {"1.2", {}},                {"1.2.3.4", {}},          {"", {}},
        {"a.b.c", {"a", "b", "c"}}, {"1.2.", {"1", "2", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(UpdateServerRequest::SplitMorvassetVersion(c.text), c.pieces) << c.text;
}

std::vector<std::string> buildOrder(const Builds& builds) {
    std::vector<std::string> order;
    for (const auto& p : UpdateServerRequest::SortBuildsByVersion(builds)) order.push_back(p.first);
    return order;
}

TEST(UpdateServerVersions, SortsNewestFirstAndMalformedLast) {
    struct {
        Builds builds;
        std::vector<std::set<std::string>> groups;  // expected order of groups; any order within
    } cases[] = {
        {{{"10", "1.2.3"}, {"11", "1.10.0"}, {"12", "1.2.3"}}, {{"11"}, {"10", "12"}}},
        {{{"1", "2.0.0"}, {"2", "2.0.1"}, {"3", "10.0.0"}, {"4", "2.1.0"}},
         {{"3"}, {"4"}, {"2"}, {"1"}}},
        // Parts keep their low 8 bits: 256 counts as 0, -1 as 255.
        {{{"a", "1.256.0"}, {"b", "1.1.0"}, {"c", "1.-1.0"}}, {{"c"}, {"b"}, {"a"}}},
        {{{"5", "1..3"}, {"6", "0.0.1"}, {"7", "x.y.z"}, {"8", "1.2"}, {"9", ""}, {"10", "3.0.0"},
          {"11", "99999999999.0.0"}},
         {{"10"}, {"6"}, {"5", "7", "8", "9", "11"}}},
        {{{"1", "bad"}, {"2", "worse"}}, {{"1", "2"}}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> order = buildOrder(c.builds);
        ASSERT_EQ(order.size(), c.builds.size());
        size_t at = 0;
        for (const auto& group : c.groups) {
            std::set<std::string> got(order.begin() + static_cast<long>(at),
                                      order.begin() + static_cast<long>(at + group.size()));
            EXPECT_EQ(got, group) << "group at " << at;
            at += group.size();
        }
    }
}

TEST(UpdateServerVersions, SortingManyMixedEntriesStaysConsistent) {
    // Enough entries for the sort's unguarded paths; malformed versions sprinkled in.
    std::mt19937 rng(11);
    Builds builds;
    for (int i = 0; i < 400; ++i) {
        std::string v;
        switch (rng() % 5) {
        case 0: v = "bad"; break;
        case 1: v = std::to_string(rng() % 3) + ".." + std::to_string(rng() % 3); break;
        default:
            v = std::to_string(rng() % 4) + "." + std::to_string(rng() % 4) + "." + std::to_string(rng() % 4);
        }
        builds.emplace(std::to_string(1000 + i), v);
    }
    const auto sorted = UpdateServerRequest::SortBuildsByVersion(builds);
    ASSERT_EQ(sorted.size(), builds.size());
    std::set<std::string> seen;
    for (const auto& p : sorted) {
        EXPECT_EQ(builds.at(p.first), p.second);
        seen.insert(p.first);
    }
    EXPECT_EQ(seen.size(), builds.size());
    auto key = [](const std::string& v) {
        const auto pieces = UpdateServerRequest::SplitMorvassetVersion(v);
        if (pieces.size() != 3 || pieces[1].empty()) return -1;
        return std::stoi(pieces[0]) * 10000 + std::stoi(pieces[1]) * 100 + std::stoi(pieces[2]);
    };
    for (size_t i = 1; i < sorted.size(); ++i)
        EXPECT_GE(key(sorted[i - 1].second), key(sorted[i].second)) << i;
}

}  // namespace
