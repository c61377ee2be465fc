// Several Updater runs on one store at the same time, and runs that die in the
// middle of a write: every bundle a run reports is whole and recorded, and no
// temporary file piles up.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Base64Text.h"
#include "BundleBuilder.h"
#include "ChildProcess.h"
#include "DirectoryLock.h"
#include "FakeUpdateServer.h"
#include "KeyValueStore.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "UpdaterProgram.h"
#include "base64.h"

namespace {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using morvtest::ChildResult;
using morvtest::FakeUpdateServer;
using Reply = FakeUpdateServer::Reply;
using updtest::describe;

constexpr const char* kSerialText = "0012ABCD";

using morvtest::encode;

// A bundle whose firmware does not compress, so that writing it takes a while.
std::string bundleOf(size_t firmwareBytes)
{
    std::mt19937 random(7);
    Bytes image(firmwareBytes);
    for (uint8_t& byte : image)
        byte = static_cast<uint8_t>(random());
    const Bytes file = BundleBuilder()
                           .descriptor("1001", "2.11.3", kSerialText, "USBHub3p")
                           .loader(0x20000000, Bytes(16, 0x11))
                           .firmware(0x08000000, image)
                           .file();
    return std::string(file.begin(), file.end());
}

class StoreConcurrency : public ::testing::Test {
protected:
    StoreConcurrency() : program_(dir_.path(), server_.url())
    {
        server_.setReply("qu", Reply::Ok({"1001", "2.11.3"}));
        server_.setReply("builds", Reply::Ok({"1001;2.11.3", "1002;2.11.3", "1003;2.11.3"}));
    }

    void serve(const std::string& bundle)
    {
        const Bytes bytes(bundle.begin(), bundle.end());
        server_.setReply("bird", Reply::Ok({encode(bytes)}));
    }
    std::string device(const std::string& name = "") const
    {
        return program_.storage() + "/" + kSerialText + (name.empty() ? "" : "/" + name);
    }
    ChildResult download(const std::string& build) const
    {
        return program_.run({"-G", "-d", kSerialText, "-b", build});
    }

    morvtest::TempDir dir_;
    FakeUpdateServer server_;
    updtest::UpdaterProgram program_;
};

TEST_F(StoreConcurrency, ParallelDownloadsStoreWholeBundlesAndRecordThem)
{
    const std::string bundle = bundleOf(512 * 1024);
    serve(bundle);
    // Two runs per build: runs share both the settings file and bundle files.
    const std::vector<std::string> builds = {"1001", "1002", "1003", "1001", "1002", "1003"};
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        std::mutex mutex;
        std::vector<std::string> faults;  // guarded by mutex
        std::vector<std::thread> runs;
        for (const std::string& build : builds) {
            runs.emplace_back([&, build] {
                const ChildResult r = download(build);
                std::string fault;
                if (r.exitCode != 0 || !r.err.empty())
                    fault = "run for " + build + ": " + describe(r);
                // What a run reports as stored is whole, whatever the others do meanwhile.
                else if (storetest::readFile(device(build + ".bird")) != bundle)
                    fault = "run for " + build + " reported a bundle that is not whole";
                if (!fault.empty()) {
                    std::lock_guard<std::mutex> hold(mutex);
                    faults.push_back(fault);
                }
            });
        }
        for (std::thread& run : runs)
            run.join();
        for (const std::string& fault : faults)
            ADD_FAILURE() << "round " << round << ": " << fault;

        KeyValueStore settings(device(".settings").c_str());
        const std::string latest = settings.GetString("LATEST_DOWNLOAD", "");
        EXPECT_TRUE(latest == "1001.bird" || latest == "1002.bird" || latest == "1003.bird") << latest;
        EXPECT_NE(settings["LAST_DOWNLOAD_DATE"], nullptr);
        EXPECT_NE(settings["CREATED_TIME"], nullptr);
        EXPECT_EQ(storetest::entries(device()),
                  (std::vector<std::string>{".settings", "1001.bird", "1002.bird", "1003.bird"}));
        if (HasFailure())
            return;
    }
}

// Another run holds the device directory for a while (here this test, with
// the directory's lock): a run that needs it says so at once, once however
// many turns it takes there, waits, and then does its work.
TEST_F(StoreConcurrency, AWaitForAnotherRunIsToldOnceAndEndsWithIt)
{
    serve(bundleOf(1024));
    ChildResult r = download("1001");
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const std::string told = "Another run holds " + device() + ": waiting up to 600 sec for it";
    const std::vector<std::vector<std::string>> runs = {{"-L", "-d", kSerialText},
                                                        {"-G", "-d", kSerialText, "-b", "1002"}};
    for (const std::vector<std::string>& arguments : runs) {
        SCOPED_TRACE(arguments.front());
        auto other = std::make_unique<DirectoryLock>(device(), std::chrono::milliseconds(0));
        ASSERT_TRUE(other->Held());
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            other.reset();
        });
        const auto start = std::chrono::steady_clock::now();
        r = program_.run(arguments);
        const auto took = std::chrono::steady_clock::now() - start;
        release.join();
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(r.err, "") << describe(r);
        EXPECT_GE(took, std::chrono::milliseconds(1000)) << "it did not wait";
        const std::vector<std::string> out = morvtest::SplitLines(r.out);
        ASSERT_GE(out.size(), 2u) << describe(r);
        EXPECT_EQ(std::count(out.begin(), out.end(), told), 1) << describe(r);
    }
    EXPECT_EQ(storetest::readFile(device("1002.bird")), bundleOf(1024));
}

// A run killed while writing a bundle (here by the file size limit) leaves the
// stored bundle as it was, and no temporary file once another run had its turn.
TEST_F(StoreConcurrency, ARunKilledMidWriteLeavesNoTemporaryBehind)
{
    const std::string small = bundleOf(1024);
    serve(small);
    ChildResult r = download("1001");
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    const std::string big = bundleOf(2 * 1024 * 1024);
    serve(big);
    r = program_.runWithFileSizeLimit({"-G", "-d", kSerialText, "-b", "1001"}, 512 * 1024);
    ASSERT_EQ(r.signal, SIGXFSZ) << "the run was not stopped in the middle of its write\n" << describe(r);
    EXPECT_EQ(storetest::readFile(device("1001.bird")), small);

    // The local listing takes its turn in the directory too.
    r = program_.run({"-L", "-d", kSerialText});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(storetest::entries(device()), (std::vector<std::string>{".settings", "1001.bird"}));
}

}  // namespace
