// The README's section on the C library, followed as a reader follows it: its
// commands, taken from the README as they stand, run in a fresh shell (env -i:
// nothing of this test's environment) in a tree that mirrors the sources, with
// a temporary prefix in place of /opt/morv. They configure, build and install
// the library and build and start the example program, which finds nothing
// listening and says so. The program built so then reads the serial number of
// the simulated hub, started from a fresh shell as well.
#include "WrapperRig.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PrivateNetns.h"
#include "TempDir.h"

namespace {

using morvtest::ChildOptions;
using morvtest::ChildResult;
using morvtest::RunChild;

const char kSection[] = "## Using the wrapper library from C";
const char kReadmePrefix[] = "/opt/morv";

std::string describe(const ChildResult& r)
{
    return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") + "\nstdout:\n" + r.out +
           "\nstderr:\n" + r.err;
}

// The commands of the section: its lines indented as code, in order.
std::vector<std::string> sectionCommands(const std::string& readme)
{
    std::vector<std::string> commands;
    bool inside = false;
    for (const std::string& line : morvtest::SplitLines(readme)) {
        if (line.rfind("## ", 0) == 0)
            inside = line == kSection;
        else if (inside && line.rfind("    ", 0) == 0)
            commands.push_back(line.substr(4));
    }
    return commands;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A working tree whose entries are links to the sources' own, without their
// build directories: the commands run in it as in the source tree, and all
// they write stays in it.
void mirrorSources(const std::string& source, const std::string& mirror)
{
    DIR* dir = ::opendir(source.c_str());
    ASSERT_NE(dir, nullptr) << source;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == ".git" || name.rfind("build", 0) == 0)
            continue;
        EXPECT_EQ(::symlink((source + "/" + name).c_str(), (mirror + "/" + name).c_str()), 0) << name;
    }
    ::closedir(dir);
}

// A fresh shell: only what a login gives. The build uses four jobs, as this
// shared machine asks of every build.
std::vector<std::string> freshShell(const std::string& home)
{
    return {"/usr/bin/env", "-i", "PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + home, "CMAKE_BUILD_PARALLEL_LEVEL=4"};
}

TEST(Readme, CCommandsBuildAndRunTheExampleFromAFreshShell)
{
    std::ifstream file(std::string(MORV_TEST_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(file) << "README.md";
    std::stringstream text;
    text << file.rdbuf();
    const std::vector<std::string> commands = sectionCommands(text.str());
    ASSERT_GE(commands.size(), 3u) << "no commands under \"" << kSection << "\"";

    morvtest::TempDir work;
    const std::string tree = work.makeDir("tree");
    const std::string prefix = work.sub("prefix");
    const std::string home = work.makeDir("home");
    mirrorSources(MORV_TEST_SOURCE_DIR, tree);

    std::string script;
    bool installs = false;
    for (const std::string& readmeLine : commands) {
        const std::string line = replaceAll(readmeLine, kReadmePrefix, prefix);
        // Nothing is ever installed outside the temporary prefix.
        if (line.find("--install") != std::string::npos || line.find("CMAKE_INSTALL_PREFIX") != std::string::npos) {
            ASSERT_NE(line.find(prefix), std::string::npos)
                << "installs elsewhere than " << kReadmePrefix << ": " << readmeLine;
            installs = true;
        }
        script += line + "\n";
    }
    ASSERT_TRUE(installs) << "the section installs nothing";
    ASSERT_EQ(commands.back().rfind("./morv_example ", 0), 0u) << "the section ends by running the example";

    ChildOptions options;
    options.workingDirectory = tree;
    options.timeout = std::chrono::milliseconds(540000);
    std::vector<std::string> shell = freshShell(home);
    shell.insert(shell.end(), {"/bin/sh", "-ec", script});
    const ChildResult followed = RunChild(shell, options);

    // The last command fails, and only it: nothing listens at its address.
    const std::string example = tree + "/morv_example";
    ASSERT_EQ(::access(example.c_str(), X_OK), 0) << "no program was built\n" << describe(followed);
    EXPECT_EQ(followed.exitCode, 1) << describe(followed);
    EXPECT_EQ(followed.out.find("serial number"), std::string::npos) << describe(followed);
    const std::string refused = "morv_example: cannot connect to 127.0.0.1 port 9000: error ";
    EXPECT_NE(followed.err.find(refused), std::string::npos) << describe(followed);
    // Only a namespace of this test's own is sure to have no server on that port.
    if (morvtest::whyNotPrivateNetns().empty()) {
        EXPECT_NE(followed.err.find(refused + "25\n"), std::string::npos) << describe(followed);
    }

    // The program finds the installed library by itself, and reads the hub.
    wraptest::HubRig rig;
    std::vector<std::string> run = freshShell(home);
    run.insert(run.end(), {example, "127.0.0.2", std::to_string(rig.sim.listenPort())});
    const ChildResult served = RunChild(run);
    EXPECT_EQ(served.exitCode, 0) << describe(served);
    char expected[32];
    std::snprintf(expected, sizeof(expected), "serial number %08X\n", static_cast<unsigned>(wraptest::kHubSerial));
    EXPECT_EQ(served.out, expected) << describe(served);
    EXPECT_EQ(served.err, "") << describe(served);
}

}  // namespace
