// The Updater program as an operator runs it: the usage text byte for byte,
// the exit code of every command combination, and the exact lines printed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "Base64Text.h"
#include "BundleBuilder.h"
#include "ChildProcess.h"
#include "FakeUpdateServer.h"
#include "NetnsUpdaterTest.h"
#include "PrivateNetns.h"
#include "TempDir.h"
#include "UpdaterProgram.h"
#include "base64.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using morvtest::ChildResult;
using updtest::describe;
using morvtest::FakeUpdateServer;
using morvtest::SplitLines;
using Reply = FakeUpdateServer::Reply;
using Lines = std::vector<std::string>;
using updtest::golden;
using updtest::kVersionLine;

constexpr const char* kSerialText = "0012ABCD";

bool isDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

using morvtest::encode;

Bytes bundle(const std::string& build, const std::string& version)
{
    return BundleBuilder()
        .descriptor(build, version, kSerialText, "USBHub3p")
        .loader(0x20000000, Bytes(16, 0x11))
        .firmware(0x08000000, Bytes(64, 0x22))
        .file();
}

class UpdaterMain : public ::testing::Test {
protected:
    UpdaterMain() : program_(dir_.path(), server_.url()) {}

    ChildResult run(const std::vector<std::string>& args) { return program_.run(args); }
    std::vector<std::string> ops() const
    {
        std::vector<std::string> out;
        for (const std::string& q : server_.queries()) {
            const auto at = q.find("op=");
            out.push_back(at == std::string::npos ? "" : q.substr(at + 3, q.find('&', at) - at - 3));
        }
        return out;
    }

    morvtest::TempDir dir_;
    FakeUpdateServer server_;
    updtest::UpdaterProgram program_;
};

// --- Usage and version -----------------------------------------------------

struct UsageCase {
    std::vector<std::string> args;
    const char* golden;
};

TEST_F(UpdaterMain, UsageTextIsExactForEveryWayOfAskingForIt)
{
    const std::vector<UsageCase> cases = {
        {{}, "usage_short.txt"},
        {{"-OVERRIDE"}, "usage_short.txt"},
        {{"stray"}, "usage_short.txt"},
        {{"-h"}, "usage_help.txt"},
        {{"-H"}, "usage_help.txt"},
        {{"--help"}, "usage_help.txt"},
        {{"--he"}, "usage_help.txt"},
        {{"-D", "-h"}, "usage_help.txt"},
        {{"-X", "1", "-h"}, "usage_help_extended.txt"},
        // Parsing stops at the help option, so the mask after it is never seen.
        {{"-h", "-X", "1"}, "usage_help.txt"},
    };
    for (const UsageCase& c : cases) {
        std::string label;
        for (const std::string& a : c.args)
            label += a + " ";
        SCOPED_TRACE("args: " + label);
        const ChildResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(r.out, kVersionLine + "\n");
        EXPECT_EQ(r.err, golden(c.golden));
    }
    EXPECT_TRUE(server_.queries().empty());
    EXPECT_FALSE(isDirectory(program_.storage())) << "no command ran, so no store is made";
}

TEST_F(UpdaterMain, CommandLineErrorsPrintTheErrorsThenTheShortUsageAndFail)
{
    ChildResult r = run({"-d", "0"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.out, kVersionLine + "\n");
    EXPECT_EQ(r.err, "Invalid serial number obtained from argument [0]\n" + golden("usage_short.txt"));

    r = run({"-t", "usb", "-b", "12a", "-D"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.out, kVersionLine + "\n") << "no command runs after a command-line error";
    EXPECT_EQ(r.err, "Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER\n"
                     "Invalid format for \"-b\" parameter, unprocessed characters [a]\n" +
                         golden("usage_short.txt"));
}

// --- Exit codes ------------------------------------------------------------

struct ExitCase {
    std::vector<std::string> args;
    int exitCode;
    Lines out;  // after the version line
    std::string err;
};

TEST_F(UpdaterMain, ExitCodesAndMessagesOfCommandsThatNeedNoModule)
{
    const std::string usage = golden("usage_short.txt");
    const Lines noDevices = {"Searching for Morvasset devices", "Discovered Devices: (USB)", "    No devices found."};
    // The server answers nothing but "hi": every download fails.
    const std::vector<ExitCase> cases = {
        {{"-I"}, 0, {}, ""},
        {{"-C"}, 0, {}, ""},
        {{"-Z", "1"}, 0, {}, ""},
        {{"-D"}, 0, noDevices, ""},
        {{"-D", "-t", "USB"}, 0, noDevices, ""},
        {{"-N"}, 1, {}, "Must specify the serial port used for connecting\n"},
        {{"-N", "-s", "/dev/null"}, 1, {}, "Got no response from chip\n"},
        // A listing ends with 0 whatever failed before it.
        {{"-N", "-s", "/dev/null", "-D"}, 0, noDevices, "Got no response from chip\n"},
        {{"-G"}, 1, {}, "-G must specify a specific device via -d\n--help for usage information\n"},
        {{"-G", "-d", kSerialText},
         1,
         {"Retrieving firmware for device with serial number 0012ABCD", "No build specified", "Using Latest build"},
         "No build information for device\n"},
        {{"-G", "-d", kSerialText, "-D"},
         0,
         {"Retrieving firmware for device with serial number 0012ABCD", "No build specified", "Using Latest build",
          noDevices[0], noDevices[1], noDevices[2]},
         "No build information for device\n"},
        {{"-U"}, 1, {}, "Must specify the specific device to be updated\n"},
        {{"-U", "-d"}, 1, {}, "Must specify the specific device to be updated\n"},
        {{"-U", "-t", "RECOVER", "-s", "/dev/null"}, 1, {}, "Could not get Device Identifier\n"},
        {{"-B"}, 1, {}, "Error must supply a serial number for the List Builds command\n" + usage},
        {{"-L"}, 1, {}, "Error must supply a serial number for the List Local Builds command\n" + usage},
        {{"-J"}, 1, {}, "Error must supply a serial number for the Get JWT command\n" + usage},
        // Only the first listing command runs.
        {{"-B", "-D", "-d", kSerialText}, 0, noDevices, ""},
        {{"-L", "-J", "-d", kSerialText}, 0, {"No builds found for device [0012ABCD]"}, ""},
    };
    for (const ExitCase& c : cases) {
        std::string label;
        for (const std::string& a : c.args)
            label += a + " ";
        SCOPED_TRACE("args: " + label);
        const ChildResult r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
        Lines expected = {kVersionLine};
        expected.insert(expected.end(), c.out.begin(), c.out.end());
        EXPECT_EQ(SplitLines(r.out), expected) << describe(r);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(isDirectory(program_.storage()));
    }
}

TEST_F(UpdaterMain, AStoreDirectoryThatCannotBeMadeFails)
{
    // -i given twice: the later value, below a regular file, wins.
    updtest::writeLines(dir_.path() + "/file", {"a regular file"});
    const std::string blocked = dir_.path() + "/file/sub";
    const ChildResult r = run({"-i", blocked, "-D"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.out), Lines{kVersionLine});
    EXPECT_EQ(r.err, "Could not find updater directory at " + blocked + "/updater\n");
}

// --- Listings from the server and the store -----------------------------------

TEST_F(UpdaterMain, ServerBuildListNewestFirst)
{
    server_.setReply("builds", Reply::Ok({"1200;2.10.0", "1234;2.11.3", "99;2.9.12", "123456789012345678;3.0.0"}));
    const ChildResult r = run({"-B", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "Build List for device [0012ABCD]:", "",
                                        "Build          \tVersion        ", "123456789012345\t3.0.0          ",
                                        "1234           \t2.11.3         ", "1200           \t2.10.0         ",
                                        "99             \t2.9.12         "}));
    EXPECT_EQ(r.err, "");

    // A server that refuses the list still ends the listing command with 0.
    server_.setReply("builds", Reply::Status(500, "no"));
    const ChildResult failed = run({"-B", "-d", kSerialText});
    EXPECT_EQ(failed.exitCode, 0) << describe(failed);
    EXPECT_EQ(SplitLines(failed.out), (Lines{kVersionLine, "No builds found for device [0012ABCD]"}));
    EXPECT_EQ(failed.err, "Failed to retrieve builds for 0012ABCD\n");
}

TEST_F(UpdaterMain, LocalBuildListShowsTheStoredBundlesVersions)
{
    const std::string device = program_.storage() + "/" + kSerialText;
    dir_.makeDir("updater/0012ABCD");
    BundleBuilder()
        .descriptor("1234", "2.11.3", kSerialText, "USBHub3p")
        .firmware(0x08000000, Bytes(8, 1))
        .writeTo(device + "/1234.bird");
    BundleBuilder()
        .descriptor("1300", "2.12.0", kSerialText, "USBHub3p")
        .firmware(0x08000000, Bytes(8, 1))
        .writeTo(device + "/1300.bird");
    const ChildResult r = run({"-L", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "Build List for device [0012ABCD]:", "",
                                        "Build          \tVersion        ", "1300           \t2.12.0         ",
                                        "1234           \t2.11.3         "}));
    EXPECT_TRUE(server_.queries().empty()) << "the local listing asks no server";
}

// A settings file that is no regular file cannot block a command: it ends
// promptly with an error and the path is left as it was.
struct FifoSettingsCase {
    const char* label;
    std::vector<std::string> args;
    int exitCode;
    const char* error;  // followed by the settings path
};

void PrintTo(const FifoSettingsCase& c, std::ostream* out) { *out << c.label; }

class FifoSettings : public UpdaterMain, public ::testing::WithParamInterface<FifoSettingsCase> {};

TEST_P(FifoSettings, CommandEndsPromptlyWithAnErrorAndLeavesTheFifo)
{
    const std::string settings = dir_.makeDir("updater/0012ABCD") + "/.settings";
    ASSERT_EQ(mkfifo(settings.c_str(), 0644), 0);
    server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    server_.setReply("builds", Reply::Ok({"1234;2.11.3"}));
    server_.setReply("bird", Reply::Ok({encode(bundle("1234", "2.11.3"))}));

    const ChildResult r = program_.run(GetParam().args, std::chrono::milliseconds(20000));
    EXPECT_FALSE(r.timedOut) << describe(r);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << describe(r);
    EXPECT_NE(r.err.find(GetParam().error + settings + "\n"), std::string::npos) << describe(r);
    struct stat info;
    ASSERT_EQ(lstat(settings.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FifoSettings,
    ::testing::Values(FifoSettingsCase{"list_local", {"-L", "-d", kSerialText}, 0, "Failed to read the settings in "},
                      FifoSettingsCase{"download", {"-G", "-d", kSerialText}, 1, "Failed to record the download in "}),
    [](const ::testing::TestParamInfo<FifoSettingsCase>& info) { return std::string(info.param.label); });

TEST_F(UpdaterMain, TokenIsPrintedEscapedAndAFailedRequestPrintsAnEmptyLine)
{
    server_.setReply("ent_jwt", Reply::Ok({"aa.b\x1b[2Jb.cc"}));
    ChildResult r = run({"-J", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "aa.b\\x1B[2Jb.cc"}));

    server_.setReply("ent_jwt", Reply::Status(404, "none"));
    r = run({"-J", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, ""}));
    EXPECT_EQ(r.err, "Failed to retrieve jwt for 0012ABCD\n");
}

TEST_F(UpdaterMain, DownloadAloneEndsWithItsOwnResult)
{
    const Bytes file = bundle("1234", "2.11.3");
    server_.setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    server_.setReply("builds", Reply::Ok({"1234;2.11.3"}));
    server_.setReply("bird", Reply::Ok({encode(file)}));
    const ChildResult r = run({"-G", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out),
              (Lines{kVersionLine, "Retrieving firmware for device with serial number 0012ABCD", "No build specified",
                     "Using Latest build", "Retrieving build 1234", "Validating build 1234 with server",
                     "Build 1234 is valid"}));
    EXPECT_EQ(updtest::readText(program_.storage() + "/0012ABCD/1234.bird"), std::string(file.begin(), file.end()));
}

// --- Commands that may look for modules over TCP/IP ----------------------------
// An update falls back to TCP/IP discovery, which multicasts: these run in a
// fresh network namespace of their own.

class UpdaterMainNetns : public updtest::NetnsUpdaterTest {};

TEST_F(UpdaterMainNetns, TcpDiscoveryListsWithTheAddressColumn)
{
    const ChildResult r = run({"-D", "-t", "TCP"});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "Searching for Morvasset devices", "Discovered Devices: (TCPIP)",
                                        "    No devices found."}));
}

TEST_F(UpdaterMainNetns, UpdateOfAModuleThatIsNowhereFails)
{
    // No bundle anywhere and no build recorded.
    ChildResult r = run({"-U", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.out), Lines{kVersionLine});
    EXPECT_EQ(r.err, "Could not find valid build for this device.\n");

    // The server's latest build cannot be stored for a device without a directory.
    server_->setReply("qu", Reply::Ok({"1234", "2.11.3"}));
    r = run({"-U", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.out),
              (Lines{kVersionLine, "New firmware is available.  Updater will proceed if valid firmware is found locally."}));
    EXPECT_EQ(r.err, "Could not find valid build for this device.\n");

    // A bundle named on the command line, but no module to send it to.
    const std::string path = dir_.path() + "/fw.bird";
    morvtest::BundleBuilder()
        .descriptor("1234", "2.11.3", kSerialText, "USBHub3p")
        .firmware(0x08000000, Bytes(8, 1))
        .writeTo(path);
    r = run({"-U", "-d", kSerialText, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.out), (Lines{kVersionLine, "Updating from Birdfile: " + path}));
    EXPECT_EQ(r.err, "Failed to connect to module [0012ABCD]\n");
    EXPECT_FALSE(isDirectory(program_->storage() + "/0012ABCD")) << "a failed update records nothing";
}

TEST_F(UpdaterMainNetns, DownloadThenUpdateUsesTheDownloadedBuildAsUnsigned32Bits)
{
    const Bytes file = bundle("4000000000", "2.11.3");
    server_->setReply("builds", Reply::Ok({"4000000000;2.11.3"}));
    server_->setReply("qu", Reply::Ok({"4000000000", "2.11.3"}));
    server_->setReply("bird", Reply::Ok({encode(file)}));
    ChildResult r = run({"-G", "-U", "-d", kSerialText, "-b", "4000000000"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(SplitLines(r.out),
              (Lines{kVersionLine, "Retrieving firmware for device with serial number 0012ABCD",
                     "Retrieving firmware build 4000000000", "Retrieving build 4000000000",
                     "Validating build 4000000000 with server", "Build 4000000000 is valid",
                     "Updating firmware with build: 4000000000"}));
    EXPECT_EQ(r.err, "Failed to connect to module [0012ABCD]\n");
    EXPECT_EQ(updtest::readText(program_->storage() + "/0012ABCD/4000000000.bird"),
              std::string(file.begin(), file.end()));

    // A failed download leaves the build as given, and the update still runs.
    server_->setReply("bird", Reply::Status(500, "down"));
    r = run({"-G", "-U", "-d", kSerialText, "-b", "4000000001", "-OVERRIDE"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    const Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "Updating firmware with build: 4000000001") << describe(r);
    EXPECT_NE(r.err.find("Failed to load bird file\n"), std::string::npos) << describe(r);
}

TEST(UpdaterProgramSymbols, Base64FunctionsAreExportedFromTheProgram)
{
    morvtest::ChildOptions options;
    options.timeout = std::chrono::milliseconds(20000);
    // This program runs under the emulation's preload (and a sanitizer's runtime): nm must not.
    options.unset = {"LD_PRELOAD"};
    const ChildResult r = morvtest::RunChild({"/usr/bin/nm", "-D", "--defined-only", MORV_UPDATER_PROGRAM}, options);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    for (const char* name : {"base64_encode", "base64_decode"}) {
        bool found = false;
        for (const std::string& line : SplitLines(r.out)) {
            const auto space = line.rfind(' ');
            if (space != std::string::npos && line.substr(space + 1) == name && space >= 2 && line[space - 1] == 'T')
                found = true;
        }
        EXPECT_TRUE(found) << name << " is not in the dynamic symbol table:\n" << r.out;
    }
}

}  // namespace
