// The wrapper library as a C programmer gets it: installed into a temporary
// prefix, found through pkg-config, a plain C11 program (c11_client.c) built
// against it with -Werror, and that program run against the simulated hub on
// TCP 127.0.0.x. The client prints "label value error" lines; the checks on
// them and on the simulated hub are here.
#include "WrapperRig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

namespace {

using namespace wraptest;
using morvtest::ChildOptions;
using morvtest::ChildResult;
using morvtest::RunChild;

std::vector<std::string> splitWords(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

std::string describe(const ChildResult& r)
{
    return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") + "\nstdout:\n" + r.out +
           "\nstderr:\n" + r.err;
}

// One install and one build of the client per test program.
class Installation {
public:
    static Installation& get()
    {
        static Installation installation;
        return installation;
    }

    const std::string& error() const { return error_; }
    std::string libDir() const { return prefix_.sub(MORV_INSTALL_LIBDIR); }
    std::string includeDir() const { return prefix_.sub(MORV_INSTALL_INCLUDEDIR); }
    const std::string& client() const { return client_; }

    ChildOptions pkgConfigOptions() const
    {
        ChildOptions options;
        options.environment["PKG_CONFIG_PATH"] = libDir() + "/pkgconfig";
        return options;
    }
    ChildResult pkgConfig(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> argv{"/usr/bin/env", "pkg-config"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunChild(argv, pkgConfigOptions());
    }

private:
    Installation() { error_ = installAndBuild(); }

    std::string installAndBuild()
    {
        ChildOptions slow;
        slow.timeout = std::chrono::milliseconds(120000);
        const ChildResult installed = RunChild({MORV_CMAKE_COMMAND, "--install", MORV_BUILD_DIR, "--prefix",
                                                prefix_.path(), "--component", "morvwrappers"},
                                               slow);
        if (installed.exitCode != 0)
            return "cmake --install: " + describe(installed);
        const ChildResult flags = pkgConfig({"--cflags", "--libs", "morvwrappers"});
        if (flags.exitCode != 0)
            return "pkg-config: " + describe(flags);

        client_ = prefix_.sub("c11_client");
        std::vector<std::string> compile{MORV_C_COMPILER, "-std=c11", "-Wall", "-Wextra", "-Wpedantic", "-Werror"};
        // A sanitizer build's library needs its runtime in the program too.
        for (const std::string& flag : splitWords(MORV_C_CLIENT_FLAGS))
            compile.push_back(flag);
        compile.insert(compile.end(), {MORV_C_CLIENT_SOURCE, "-o", client_});
        for (const std::string& flag : splitWords(flags.out))
            compile.push_back(flag);
        ChildOptions build = slow;
        build.unset = {"CPATH", "C_INCLUDE_PATH", "LIBRARY_PATH"};
        const ChildResult compiled = RunChild(compile, build);
        if (compiled.exitCode != 0)
            return "compiling the client: " + describe(compiled);
        return "";
    }

    morvtest::TempDir prefix_;
    std::string client_;
    std::string error_;
};

using Lines = std::map<std::string, std::pair<long long, long long>>;

class InstalledLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Installation::get().error(), ""); }

    // Runs the client on a scenario against the hub and collects its lines.
    Lines run(const std::string& scenario, std::vector<std::string> extra = {})
    {
        const Installation& installation = Installation::get();
        std::vector<std::string> argv{installation.client(), scenario, "127.0.0.2",
                                      std::to_string(rig_.sim.listenPort())};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildOptions options;
        options.environment["LD_LIBRARY_PATH"] = installation.libDir();
        options.timeout = std::chrono::milliseconds(150000);
        result_ = RunChild(argv, options);
        EXPECT_EQ(result_.exitCode, 0) << describe(result_);
        Lines lines;
        for (const std::string& line : morvtest::SplitLines(result_.out)) {
            std::istringstream fields(line);
            std::string label;
            long long value = 0;
            long long error = 0;
            if (fields >> label >> value >> error)
                lines[label] = {value, error};
        }
        return lines;
    }

    static std::pair<long long, long long> ok(long long value) { return {value, 0}; }

    HubRig rig_;
    ChildResult result_;
};

TEST_F(InstalledLibrary, InstallsAVersionedLibraryItsHeaderAndAPkgConfigFile)
{
    const Installation& installation = Installation::get();
    struct stat info{};
    EXPECT_EQ(::stat((installation.includeDir() + "/morvwrappers.h").c_str(), &info), 0);
    ASSERT_EQ(::lstat((installation.libDir() + "/libmorvwrappers.so").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the development link";

    const ChildResult dynamic =
        RunChild({"/usr/bin/env", "readelf", "-d", installation.libDir() + "/libmorvwrappers.so"});
    ASSERT_EQ(dynamic.exitCode, 0) << describe(dynamic);
    EXPECT_NE(dynamic.out.find("Library soname: [libmorvwrappers.so.1]"), std::string::npos) << dynamic.out;
    EXPECT_EQ(::stat((installation.libDir() + "/libmorvwrappers.so.1").c_str(), &info), 0);

    const ChildResult version = installation.pkgConfig({"--modversion", "morvwrappers"});
    EXPECT_EQ(version.out, "1.0.0\n") << describe(version);
}

TEST_F(InstalledLibrary, ConnectReadSetReadBackAndDisconnect)
{
    const Lines lines = run("roundtrip");
    ASSERT_EQ(lines.count("connect"), 1u) << result_.out;
    EXPECT_EQ(lines.at("null_id"), (std::pair<long long, long long>{0, aErrParam}));
    EXPECT_EQ(lines.at("connect").second, aErrNone);
    EXPECT_NE(lines.at("connect").first, 0) << "0 is never an id";
    EXPECT_EQ(lines.at("serial"), ok(static_cast<std::int32_t>(kHubSerial)));
    EXPECT_EQ(lines.at("voltage"), ok(5000002));
    EXPECT_EQ(lines.at("set_mode"), ok(0));
    EXPECT_EQ(lines.at("mode"), ok(static_cast<std::int32_t>(0x80000007u)));
    EXPECT_EQ(rig_.hub().entities.at(morvsim::entityKey(morvsim::kPortCommand, morvsim::kPortMode, 1)),
              morvsim::u32(0x80000007u));
    EXPECT_EQ(lines.at("disconnect"), ok(0));
    EXPECT_EQ(lines.at("serial_after"), (std::pair<long long, long long>{0, aErrNotFound}));
    EXPECT_EQ(lines.at("disconnect_again"), (std::pair<long long, long long>{0, aErrNotFound}));
    EXPECT_EQ(lines.at("disconnect_zero"), (std::pair<long long, long long>{0, aErrNotFound}));
}

TEST_F(InstalledLibrary, AFailedConnectionRegistersNothing)
{
    std::uint16_t closed = 0;
    {
        ModuleSimulator gone(4);
        closed = gone.listenTcp("127.0.0.2");
    }
    const Lines lines = run("refused", {std::to_string(closed)});
    ASSERT_EQ(lines.count("refused"), 1u) << result_.out;
    EXPECT_EQ(lines.at("refused"), (std::pair<long long, long long>{0, aErrConnection}));
    // Refused before anything is tried; *id is 0 after every failure.
    EXPECT_EQ(lines.at("port_zero"), (std::pair<long long, long long>{0, aErrParam}));
    EXPECT_EQ(lines.at("bad_type"), (std::pair<long long, long long>{0, aErrParam}));
    EXPECT_EQ(lines.at("zero_serial"), (std::pair<long long, long long>{0, aErrParam}));
    EXPECT_EQ(lines.at("null_id"), (std::pair<long long, long long>{0, aErrParam}));
    EXPECT_EQ(lines.at("known_between"), ok(0)) << "no id between two good connections is registered";
    EXPECT_GE(lines.at("span").first, 1);
}

TEST_F(InstalledLibrary, DeviceRemovedWhileAnotherThreadsCallWaits)
{
    // The hub takes port requests and never answers them; the file tells
    // the client that the request is here.
    morvtest::TempDir scratch;
    const std::string asked = scratch.sub("asked");
    rig_.sim.setHandler(kHubAddress, morvsim::kPortCommand,
                        [asked](SimModule&, const SimPacket&, morvsim::SimReply&) {
                            const int fd = ::open(asked.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                            if (fd >= 0)
                                ::close(fd);
                        });
    const Lines lines = run("removed", {asked});
    ASSERT_EQ(lines.count("call"), 1u) << result_.out;
    EXPECT_EQ(lines.at("connect").second, aErrNone);
    EXPECT_EQ(lines.at("asked"), ok(1));
    EXPECT_EQ(lines.at("in_flight"), ok(1)) << "the call had not returned when the device was removed";
    EXPECT_EQ(lines.at("disconnect"), ok(0));
    // It ran on the device it found, still connected, and waited out the
    // link's one-second time-out instead of being cut short.
    EXPECT_EQ(lines.at("call"), (std::pair<long long, long long>{0, aErrTimeout}));
    EXPECT_GE(lines.at("call_ms").first, 900);
    EXPECT_EQ(lines.at("call_after"), (std::pair<long long, long long>{0, aErrNotFound}));
    EXPECT_EQ(lines.at("disconnect_again"), (std::pair<long long, long long>{0, aErrNotFound}));
}

TEST_F(InstalledLibrary, ManyConnectionsLeaveNothingBehind)
{
    constexpr int kCycles = 25;
    const Lines lines = run("cycles", {std::to_string(kCycles)});
    ASSERT_EQ(lines.count("cycles"), 1u) << result_.out;
    EXPECT_EQ(lines.at("cycles"), ok(kCycles));
    EXPECT_EQ(lines.at("fds"), ok(0)) << "descriptors left open";
    EXPECT_EQ(lines.at("tasks"), ok(0)) << "threads left running";
    EXPECT_EQ(rig_.sim.connectionCount(), static_cast<std::uint64_t>(kCycles + 1));
}

}  // namespace
