// The local store: device directories, their settings, bundle files, and
// writes that never destroy a good bundle.
#include "UpdaterStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BirdFile.h"
#include "BuildPath.h"
#include "BundleBuilder.h"
#include "DirectoryLock.h"
#include "Log.h"
#include "PathChecks.h"
#include "ReplaceFile.h"
#include "StoreRun.h"
#include "StoreTestHelpers.h"
#include "TempDir.h"
#include "aError.h"

using morvtest::entryExists;
using storetest::isDirectory;
using storetest::readFile;
using storetest::writeFile;
using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

struct PathCase {
    std::vector<const char*> parts;
    const char* joined;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.joined; }

class BuildPathJoins : public ::testing::TestWithParam<PathCase> {};

TEST_P(BuildPathJoins, AsGiven) {
    const auto& p = GetParam().parts;
    std::string joined;
    switch (p.size()) {
        case 1: joined = BuildPath(p[0], nullptr); break;
        case 2: joined = BuildPath(p[0], p[1], nullptr); break;
        case 3: joined = BuildPath(p[0], p[1], p[2], nullptr); break;
        default: FAIL();
    }
    EXPECT_EQ(joined, GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(Table, BuildPathJoins,
                         ::testing::Values(PathCase{{"a", "b", "c"}, "a/b/c"}, PathCase{{"a/", "b"}, "a//b"},
                                           PathCase{{"a", "", "b"}, "a//b"}, PathCase{{"a"}, "a"},
                                           PathCase{{"/base", ".zorventa", "updater"}, "/base/.zorventa/updater"},
                                           PathCase{{nullptr}, ""}));

class UpdaterStoreTest : public ::testing::Test {
protected:
    std::string base() const { return dir.sub("store"); }
    std::string device(const char* name = "001A2B3C") const { return base() + "/" + name; }

    morvtest::TempDir dir;
    storetest::TraceCapture trace{DEBUG_Updater | DEBUG_Attributes};
};

TEST_F(UpdaterStoreTest, ConstructorCreatesTheBaseWithEveryLevel) {
    const std::string nested = dir.sub("home/.zorventa/updater");
    UpdaterStore store(nested.c_str());
    EXPECT_STREQ(store.BasePath(), nested.c_str());
    ASSERT_TRUE(isDirectory(nested));
    struct stat info;
    ASSERT_EQ(stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777 & ~0022u, 0755u & ~0022u);  // 0755 less the umask
    EXPECT_THAT(trace.text(), HasSubstr("UpdaterStore: Created directory [" + nested + "].\n"));

    UpdaterStore again(nested.c_str());
    EXPECT_THAT(trace.text(), HasSubstr("UpdaterStore: [" + nested + "] already exists.\n"));
}

TEST_F(UpdaterStoreTest, ConstructorRefusesWhatIsNoDirectory) {
    writeFile(dir.sub("file"), "x");
    try {
        UpdaterStore store(dir.sub("file").c_str());
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "UpdaterStore: " + dir.sub("file") + " exists and is a file");
    }
    try {
        UpdaterStore store(dir.sub("file/below").c_str());
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "UpdaterStore: Could not create directory " + dir.sub("file/below") +
                                             " error " + std::to_string(aErrPermission));
    }
    // A dangling link: mkdir reports "exists", yet there is no directory.
    ASSERT_EQ(symlink(dir.sub("nowhere").c_str(), dir.sub("link").c_str()), 0);
    EXPECT_THROW(UpdaterStore(dir.sub("link").c_str()), std::runtime_error);
}

TEST_F(UpdaterStoreTest, AddDeviceCreatesTheDirectoryAndItsSettings) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    EXPECT_EQ(item.path, base());
    EXPECT_EQ(item.name, "001A2B3C");
    EXPECT_EQ(item.type, STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(item.IsValid());
    ASSERT_TRUE(isDirectory(device()));
    EXPECT_THAT(readFile(device() + "/.settings"), HasSubstr("CREATED_TIME="));
    EXPECT_EQ(item.attributes.Path(), device() + "/.settings");
}

TEST_F(UpdaterStoreTest, AddDeviceLoadsExistingSettingsWithoutReplacingThem) {
    dir.makeDir("store/001A2B3C");
    writeFile(device() + "/.settings", "LATEST_DOWNLOAD=77.bird\n");
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    EXPECT_EQ(item.attributes.GetInt("LATEST_DOWNLOAD", 0), 77);
    EXPECT_EQ(readFile(device() + "/.settings"), "LATEST_DOWNLOAD=77.bird\n");
    EXPECT_THAT(trace.text(), HasSubstr("UpdaterStore: [" + device() + "] already exists.\n"));
}

TEST_F(UpdaterStoreTest, AddDeviceRefusesAFileAndNamesThatLeaveTheBase) {
    UpdaterStore store(base().c_str());
    writeFile(device(), "not a directory");
    try {
        store.AddDevice(0x1A2B3Cu);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), EndsWith(" exists and is a file"));
    }
    for (const char* name : {"", ".", "..", "../escaped", "a/b"}) {
        EXPECT_THROW(store.AddDevice(name), std::runtime_error) << name;
    }
    EXPECT_FALSE(entryExists(dir.sub("escaped")));
    EXPECT_FALSE(entryExists(base() + "/a"));
}

TEST_F(UpdaterStoreTest, FindDeviceFillsTheItemAndLoadsItsSettings) {
    dir.makeDir("store/001A2B3C");
    dir.makeDir("store/00000001");
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(0x1A2B3Cu, &item));
    EXPECT_EQ(item.path, base());
    EXPECT_EQ(item.name, "001A2B3C");
    EXPECT_EQ(item.type, STORE_ITEM_DIRECTORY);
    EXPECT_NE(item.attributes["CREATED_TIME"], nullptr);
    EXPECT_TRUE(entryExists(device() + "/.settings"));  // created when missing
    EXPECT_THAT(trace.text(), HasSubstr("UpdaterStore: FindDevice Found 001A2B3C.\n"));
    EXPECT_TRUE(store.FindDevice("001A2B3C", nullptr));
}

// Only a directory whose own name is the serial number is the device.
struct LookalikeCase {
    const char* label;
    std::vector<const char*> directories;  // below the test directory
    std::vector<const char*> files;
    const char* base;
};

void PrintTo(const LookalikeCase& c, std::ostream* out) { *out << c.label; }

class FindDeviceLookalikes : public ::testing::TestWithParam<LookalikeCase> {};

TEST_P(FindDeviceLookalikes, AreNotTheDevice) {
    morvtest::TempDir dir;
    storetest::TraceCapture trace(DEBUG_Updater);
    for (const char* d : GetParam().directories) dir.makeDir(d);
    for (const char* f : GetParam().files) writeFile(dir.sub(f), "x");
    UpdaterStore store(dir.sub(GetParam().base).c_str());
    UpdaterStoreItem item;
    EXPECT_FALSE(store.FindDevice(0x1A2B3Cu, &item));
    EXPECT_FALSE(item.IsValid());
    EXPECT_EQ(item.type, STORE_ITEM_NONE);
    EXPECT_THAT(trace.text(), HasSubstr("UpdaterStore: FindDevice Not Found 001A2B3C.\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindDeviceLookalikes,
    ::testing::Values(LookalikeCase{"file_of_that_name", {"store"}, {"store/001A2B3C"}, "store"},
                      LookalikeCase{"longer_names", {"store/X001A2B3C", "store/001A2B3C.old"}, {}, "store"},
                      LookalikeCase{"digits_in_the_base_path", {"001A2B3C/store/00000001"}, {}, "001A2B3C/store"},
                      LookalikeCase{"empty_base", {"store"}, {}, "store"}),
    [](const ::testing::TestParamInfo<LookalikeCase>& info) { return std::string(info.param.label); });

TEST_F(UpdaterStoreTest, FindDeviceOnAMissingBaseFindsNothing) {
    UpdaterStore store(base().c_str());
    ASSERT_EQ(rmdir(base().c_str()), 0);
    UpdaterStoreItem item;
    EXPECT_FALSE(store.FindDevice(0x1A2B3Cu, &item));
    EXPECT_FALSE(item.IsValid());
    EXPECT_THAT(trace.text(), HasSubstr("Not Found"));
    std::vector<UpdaterStoreItem> builds(1);
    EXPECT_TRUE(store.FindLocalBuilds(0x1A2B3Cu, builds));
    EXPECT_EQ(builds.size(), 1u);  // appended to, never cleared
}

TEST_F(UpdaterStoreTest, FindLocalBuildsListsTheBundleFiles) {
    UpdaterStore store(base().c_str());
    store.AddDevice(0x1A2B3Cu);
    writeFile(device() + "/1234.bird", "a");
    writeFile(device() + "/999.bird", "b");
    writeFile(device() + "/.55.bird.tmp", "left over");
    std::vector<UpdaterStoreItem> builds;
    EXPECT_TRUE(store.FindLocalBuilds(0x1A2B3Cu, builds));
    std::vector<std::string> names;
    for (const auto& item : builds) {
        names.push_back(item.name);
        EXPECT_EQ(item.path, device());
        EXPECT_EQ(item.type, STORE_ITEM_FILE);
        // No settings file can exist below a file: only the two stamps.
        EXPECT_NE(item.attributes["CREATED_TIME"], nullptr);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"1234.bird", "999.bird"}));

    std::vector<UpdaterStoreItem> none;
    EXPECT_TRUE(store.FindLocalBuilds(0x00000001u, none));
    EXPECT_TRUE(none.empty());
}

TEST_F(UpdaterStoreTest, FileExistsComparesTheWholeNameOfAFile) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    writeFile(device() + "/1234.bird", "a");
    dir.makeDir("store/001A2B3C/5.bird");
    EXPECT_TRUE(item.FileExists("1234.bird"));
    for (const char* other : {"1234", "234.bird", "1234.bird.old", "001A2B3C", "5.bird", ""})
        EXPECT_FALSE(item.FileExists(other)) << other;
    EXPECT_FALSE(UpdaterStoreItem().FileExists("1234.bird"));
}

TEST_F(UpdaterStoreTest, WriteFileWritesEveryByteAndReplaces) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    writeFile(device() + "/12.bird", "old and longer than nothing");
    EXPECT_EQ(item.WriteFile("12.bird", bytes, data.size()), aErrNone);
    EXPECT_EQ(readFile(device() + "/12.bird"), data);
    EXPECT_EQ(item.WriteFile("12.bird", bytes, 3), aErrNone);
    EXPECT_EQ(readFile(device() + "/12.bird"), data.substr(0, 3));
    EXPECT_EQ(storetest::entries(device()), (std::vector<std::string>{".settings", "12.bird"}));
}

TEST_F(UpdaterStoreTest, WriteFileRefusals) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    const unsigned char data[] = {1, 2, 3};
    EXPECT_EQ(item.WriteFile("12.bird", nullptr, 3), aErrNotFound);
    EXPECT_FALSE(entryExists(device() + "/12.bird"));
    EXPECT_EQ(item.WriteFile("../12.bird", data, 3), aErrParam);
    EXPECT_FALSE(entryExists(base() + "/12.bird"));
    // A default item has no directory: nothing lands in "/".
    EXPECT_EQ(UpdaterStoreItem().WriteFile("morv-store-test.bird", data, 3), aErrNotFound);
    EXPECT_FALSE(entryExists("/morv-store-test.bird"));
    // Its directory is not created here.
    UpdaterStoreItem missing(base().c_str(), "00000009", STORE_ITEM_DIRECTORY);
    EXPECT_EQ(missing.WriteFile("1.bird", data, 3), aErrNotFound);
}

// Two writers of one target, interleaved: each commits the whole file it wrote.
TEST_F(UpdaterStoreTest, InterleavedWritersOfOneTargetEachCommitAWholeFile) {
    UpdaterStore store(base().c_str());
    const std::string target = base() + "/12.bird";
    const std::string first(50000, 'a');
    const std::string second(30000, 'b');
    ReplaceFile a(target);
    ReplaceFile b(target);
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    ASSERT_TRUE(a.Write(first.data(), 20000));
    ASSERT_TRUE(b.Write(second.data(), second.size()));
    ASSERT_TRUE(a.Write(first.data() + 20000, first.size() - 20000));
    EXPECT_EQ(b.Commit(), aErrNone);
    EXPECT_EQ(readFile(target), second);
    EXPECT_EQ(a.Commit(), aErrNone);
    EXPECT_EQ(readFile(target), first);
    EXPECT_EQ(storetest::entries(base()), std::vector<std::string>{"12.bird"});
}

// The lock on a directory is waited for no longer than asked, and is free
// again once its holder is gone; no file is left in the directory.
TEST_F(UpdaterStoreTest, DirectoryLockWaitsABoundedTime) {
    UpdaterStore store(base().c_str());
    {
        DirectoryLock holder(base(), std::chrono::milliseconds(0));
        ASSERT_TRUE(holder.Held());
        const auto start = std::chrono::steady_clock::now();
        DirectoryLock waiter(base(), std::chrono::milliseconds(200));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(waiter.Held());
        EXPECT_EQ(waiter.Error(), ETIMEDOUT);
        EXPECT_GE(waited, std::chrono::milliseconds(200));
        EXPECT_LT(waited, std::chrono::seconds(5));
    }
    DirectoryLock next(base(), std::chrono::milliseconds(0));
    EXPECT_TRUE(next.Held());
    DirectoryLock missing(base() + "/absent", std::chrono::milliseconds(0));
    EXPECT_FALSE(missing.Held());
    EXPECT_EQ(missing.Error(), ENOENT);
    EXPECT_TRUE(storetest::entries(base()).empty());
}

// A run that could not get its turn (another run kept the directory past the
// run's bound, here none) reads what is there but creates nothing.
TEST_F(UpdaterStoreTest, NoTurnNoSettingsCreated)
{
    dir.makeDir("store/001A2B3C");
    DirectoryLock other(device(), std::chrono::milliseconds(0));
    ASSERT_TRUE(other.Held());
    UpdaterStore store(base().c_str(), std::make_shared<StoreRun>(std::chrono::milliseconds(0)));
    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(0x1A2B3Cu, &item));
    EXPECT_TRUE(storetest::entries(device()).empty());
    KeyValueStore record;
    record.Add("LATEST_DOWNLOAD", "12.bird");
    EXPECT_FALSE(item.RecordAttributes(record));
    const unsigned char data[] = {1, 2, 3};
    EXPECT_EQ(item.WriteFile("12.bird", data, sizeof data), aErrBusy);
    EXPECT_TRUE(storetest::entries(device()).empty());
}

// A device directory that may be written but not read cannot carry the lock:
// writing there still works, as it did before runs took turns.
TEST_F(UpdaterStoreTest, WritesGoOnInADirectoryThatCannotBeRead) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    ASSERT_EQ(chmod(device().c_str(), 0300), 0);
    const unsigned char data[] = {1, 2, 3};
    const aErr written = item.WriteFile("12.bird", data, sizeof data);
    KeyValueStore record;
    record.Add("LATEST_DOWNLOAD", "12.bird");
    const bool recorded = item.RecordAttributes(record);
    ASSERT_EQ(chmod(device().c_str(), 0755), 0);
    EXPECT_EQ(written, aErrNone);
    EXPECT_TRUE(recorded);
    EXPECT_EQ(readFile(device() + "/12.bird"), "\x01\x02\x03");
    EXPECT_THAT(readFile(device() + "/.settings"), HasSubstr("LATEST_DOWNLOAD=12.bird\n"));
}

// Runs that record different keys in one device's settings at the same time
// each read the file afresh under the directory's lock: no record is lost.
TEST(UpdaterStoreConcurrency, SimultaneousRecordsKeepEveryKey) {
    morvtest::TempDir dir;
    const std::string base = dir.sub("store");
    UpdaterStore(base.c_str()).AddDevice(0x1A2B3Cu);
    constexpr int kWriters = 4;
    constexpr int kRounds = 25;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                UpdaterStore store(base.c_str());
                UpdaterStoreItem item;  // loaded before the others record
                if (!store.FindDevice(0x1A2B3Cu, &item)) {
                    ++failures;
                    continue;
                }
                KeyValueStore record;
                record.Add(("WRITER_" + std::to_string(w)).c_str(), round);
                if (!item.RecordAttributes(record)) ++failures;
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(failures.load(), 0);
    KeyValueStore saved((base + "/001A2B3C/.settings").c_str());
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(saved.GetInt(("WRITER_" + std::to_string(w)).c_str(), -1), kRounds - 1) << w;
    EXPECT_EQ(storetest::entries(base + "/001A2B3C"), std::vector<std::string>{".settings"});
}

// The temporaries of runs that died are removed by the next run that takes its
// turn in the directory; nothing else there is touched.
TEST_F(UpdaterStoreTest, LeftoverTemporariesGoWithTheNextTurn) {
    UpdaterStore store(base().c_str());
    store.AddDevice(0x1A2B3Cu);
    for (const char* leftover : {".1004.bird.tmp", ".settings.tmp", ".1004.bird.x7Qz2A.tmp", ".settings.Ab3dEf.tmp"})
        writeFile(device() + "/" + leftover, "left by a killed run");
    for (const char* kept : {"1004.bird", "notes.tmp", ".hidden", "a.tmp.old"}) writeFile(device() + "/" + kept, "kept");
    dir.makeDir("store/001A2B3C/.dir.tmp");
    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(0x1A2B3Cu, &item));
    EXPECT_EQ(storetest::entries(device()), (std::vector<std::string>{".dir.tmp", ".hidden", ".settings",
                                                                      "1004.bird", "a.tmp.old", "notes.tmp"}));
}

// Only names of the exact shape the store gives its temporaries go, and only
// regular files: hidden ".tmp" files of the user's own stay, and so does a
// link of that shape (and the file it leads to).
TEST_F(UpdaterStoreTest, LeftoverRemovalKeepsLookalikes)
{
    UpdaterStore store(base().c_str());
    store.AddDevice(0x1A2B3Cu);
    const std::vector<std::string> lookalikes = {".my-notes.tmp",
                                                 ".x.tmp",
                                                 ".tmp.tmp",
                                                 "..settings.tmp",
                                                 ".settings.Ab3dE.tmp",
                                                 ".settings.Ab3dEfg.tmp",
                                                 ".settings.Ab-dEf.tmp",
                                                 ".settings..tmp",
                                                 ".abc.bird.tmp",
                                                 ".1004.bird.old.tmp",
                                                 ".1004.txt.Ab3dEf.tmp",
                                                 "..1004.bird.tmp",
                                                 ".1004.bird.Ab3dEf.tmp.tmp",
                                                 ".bird.tmp",
                                                 ".notes.Ab3dEf.tmp"};
    for (const std::string& name : lookalikes)
        writeFile(device() + "/" + name, "the user's");
    const std::string outside = dir.sub("outside.txt");
    writeFile(outside, "the user's");
    ASSERT_EQ(symlink(outside.c_str(), (device() + "/.55.bird.tmp").c_str()), 0);
    writeFile(device() + "/.55.bird.Zz09aA.tmp", "left by a killed run");

    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(0x1A2B3Cu, &item));
    std::vector<std::string> expected = lookalikes;
    expected.push_back(".55.bird.tmp");
    expected.push_back(".settings");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(storetest::entries(device()), expected);
    EXPECT_EQ(readFile(outside), "the user's");
}

// A write that fails leaves the bundle that was there, and no temporary file.
class FailedBundleWrite : public UpdaterStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedBundleWrite, KeepsTheGoodBundle) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    const std::string target = device() + "/12.bird";
    writeFile(target, "good bundle");
    const std::string kind = GetParam();
    const std::string data(70000, 'n');
    aErr err = aErrNone;
    if (kind == "no_free_descriptor") {
        storetest::NoFreeDescriptor fault;
        err = item.WriteFile("12.bird", reinterpret_cast<const unsigned char*>(data.data()), data.size());
        EXPECT_EQ(err, aErrNotFound);
    } else {
        storetest::NoFileGrowth fault;  // every write fails
        err = item.WriteFile("12.bird", reinterpret_cast<const unsigned char*>(data.data()), data.size());
        EXPECT_EQ(err, aErrIO);
    }
    EXPECT_EQ(readFile(target), "good bundle");
    EXPECT_EQ(storetest::entries(device()), (std::vector<std::string>{".settings", "12.bird"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailedBundleWrite, ::testing::Values("no_free_descriptor", "disk_full"));

TEST_F(UpdaterStoreTest, ReadBirdFileChecksTheHeaderBeforeLoading) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    morvtest::BundleBuilder bundle;
    bundle.descriptor("4321", "2.11.3", "001A2B3C", "TESTMODEL").firmware(0x1000, {1, 2, 3, 4});
    bundle.writeTo(device() + "/4321.bird");
    BirdFile loaded = item.ReadBirdFile("4321.bird");
    EXPECT_EQ(loaded.blockCount, 2u);
    EXPECT_EQ(loaded.GetBuild(), 4321u);

    bundle.version(0, 1).writeTo(device() + "/1.bird");  // fifth byte 0
    try {
        item.ReadBirdFile("1.bird");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid bird " + device() + "/1.bird");
    }
    writeFile(device() + "/2.bird", std::string("bird\x01\x01", 6) + "not zlib at all");
    try {
        item.ReadBirdFile("2.bird");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to load bird data");
    }
    EXPECT_THROW(item.ReadBirdFile("absent.bird"), std::runtime_error);
}

TEST_F(UpdaterStoreTest, ItemCopiesDoNotShareSettings) {
    UpdaterStore store(base().c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B3Cu);
    UpdaterStoreItem copy = item;
    copy.attributes.Add("LATEST_TRANSFER", "5.bird");
    EXPECT_EQ(item.attributes["LATEST_TRANSFER"], nullptr);
    ASSERT_TRUE(copy.attributes.Save(nullptr));  // writes the same file
    UpdaterStoreItem found;
    ASSERT_TRUE(store.FindDevice(0x1A2B3Cu, &found));
    EXPECT_EQ(found.attributes.GetString("LATEST_TRANSFER", ""), "5.bird");
}

}  // namespace
