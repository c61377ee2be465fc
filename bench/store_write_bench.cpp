// What storing a large bundle costs one real "Updater -G -d <serial> -b <build>"
// run: the Updater program runs as a child against a real HTTP update server on
// loopback that serves a bundle of incompressible firmware, into a fresh store
// on the file system of this program's temporary directory. Several programs
// (say, builds of two versions) can be given: their runs alternate, so they
// meet the same machine and the same disk, and each run starts after a sync,
// with no dirty page of an earlier run left to write back. A plain program, not
// a Google Benchmark one: a run takes seconds.
//
//   store_write_bench [--runs N] [--mib N] [--program PATH]...
//     --runs N        runs per program (default 5); the table shows median, min and max
//     --mib N         firmware size in MiB (default 64, at most 200)
//     --program PATH  an Updater program to run (repeatable; default the one built here)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Base64Text.h"
#include "BenchMain.h"
#include "BundleBuilder.h"
#include "ChildProcess.h"
#include "FakeUpdateServer.h"
#include "TempDir.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using Reply = morvtest::FakeUpdateServer::Reply;
using Seconds = std::chrono::duration<double>;

const std::string kSerialHex = "0012ABCD";
const std::string kBuild = "1001";

std::string bundleOf(std::size_t firmwareBytes)
{
    std::mt19937 random(7);
    Bytes image(firmwareBytes);
    for (std::uint8_t& byte : image)
        byte = static_cast<std::uint8_t>(random());
    const Bytes file = BundleBuilder()
                           .descriptor(kBuild, "2.11.3", kSerialHex, "USBHub3p")
                           .loader(0x20000000, Bytes(16, 0x11))
                           .firmware(0x08000000, image)
                           .file();
    return morvtest::encode(file);
}

// One -G run into a fresh store; its wall time.
double runOnce(const std::string& program, const std::string& url)
{
    morvtest::TempDir store;
    // Nothing an earlier run left in the page cache is written back during this one.
    sync();
    morvtest::ChildOptions options;
    options.timeout = std::chrono::minutes(5);
    options.workingDirectory = store.path();
    options.environment["HOME"] = store.path();
    const auto start = std::chrono::steady_clock::now();
    const morvtest::ChildResult r =
        morvtest::RunChild({program, "-i", store.path(), "-u", url, "-G", "-d", kSerialHex, "-b", kBuild}, options);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    if (r.exitCode != 0)
        throw std::runtime_error(program + " failed (exit " + std::to_string(r.exitCode) + "): " + r.err);
    return seconds;
}

int run(int argc, char** argv)
{
    std::size_t runs = 5;
    std::size_t mib = 64;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = benchmain::parseCount(argv[++i], "--runs", 50);
        } else if (a == "--mib" && i + 1 < argc) {
            // The bundle, firmware and headers, must stay below the store's 256 MiB.
            mib = benchmain::parseCount(argv[++i], "--mib", 200);
        } else if (a == "--program" && i + 1 < argc) {
            programs.push_back(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--mib N] [--program PATH]...\n", argv[0]);
            return 2;
        }
    }
    if (programs.empty())
        programs.push_back(MORV_UPDATER_PROGRAM);

    morvtest::FakeUpdateServer server;
    server.setReply("qu", Reply::Ok({kBuild, "2.11.3"}));
    server.setReply("builds", Reply::Ok({kBuild + ";2.11.3"}));
    server.setReply("bird", Reply::Ok({bundleOf(mib * 1024 * 1024)}));

    char where[4096];
    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(where, sizeof where, "%s", tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    std::printf("Updater -G of a %zu MiB bundle from a loopback server into a store under %s, %zu runs each\n", mib,
                where, runs);
    std::vector<std::vector<double>> times(programs.size());
    for (std::size_t i = 0; i < runs; ++i)
        for (std::size_t p = 0; p < programs.size(); ++p)
            times[p].push_back(runOnce(programs[p], server.url()));

    std::printf("%10s %10s %10s  %s\n", "median s", "min s", "max s", "program");
    for (std::size_t p = 0; p < programs.size(); ++p) {
        std::vector<double>& t = times[p];
        std::sort(t.begin(), t.end());
        std::printf("%10.3f %10.3f %10.3f  %s\n", t[t.size() / 2], t.front(), t.back(), programs[p].c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return benchmain::runMain("store_write_bench", run, argc, argv);
}
