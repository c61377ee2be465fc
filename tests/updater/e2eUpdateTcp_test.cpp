// Updates by the real Updater program of a simulated module reached over
// TCP/IP: USB finds nothing (the fake bus is empty), so the update falls back
// to TCP/IP discovery, which finds the module across a veth pair.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PathChecks.h"
#include "UpdateRig.h"

namespace {

using morvsim::Bytes;
using morvsim::LoaderStage;
using morvtest::BundleBuilder;
using morvtest::ChildResult;
using updtest::describe;
using morvtest::FakeUpdateServer;
using morvtest::SplitLines;
using Reply = FakeUpdateServer::Reply;
using Lines = std::vector<std::string>;
using updtest::kVersionLine;

constexpr std::uint32_t kSerial = 0x0012ABCD;
const std::string kSerialHex = "0012ABCD";
const char* const kHostAddress = "10.214.0.1";
const char* const kNetAddress = "10.214.0.2";

using morvtest::exists;

class TcpUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ASSERT_EQ(morvtest::startVethPair(host_, kHostAddress, net_, kNetAddress), "");
        host_->run([&] { server_ = std::make_unique<FakeUpdateServer>(); });
        program_ = std::make_unique<updtest::UpdaterProgram>(dir_.path(), server_->url());
    }
    void TearDown() override
    {
        if (net_)
            net_->run([&] {
                discovery_.reset();
                acceptor_.reset();
            });
        module_.reset();
        if (host_)
            host_->run([&] { server_.reset(); });
    }

    // The module answers TCP/IP discovery for `announced` and says it is `serial`.
    void startModule(std::uint32_t serial, std::uint32_t announced = kSerial, std::uint8_t model = updtest::kModel)
    {
        module_ = std::make_unique<updtest::SimulatedModule>(serial, morvsim::LoaderConfig(), model);
        net_->run([&] {
            acceptor_ = std::make_unique<updtest::ModuleAcceptor>(module_->sim, *module_->loader, kNetAddress);
            discovery_ = std::make_unique<morvsim::FakeTcpipModule>(
                kNetAddress, morvsim::tcpipReply(updtest::kModuleAddress, acceptor_->port(), announced, model));
        });
    }

    ChildResult run(const std::vector<std::string>& args)
    {
        ChildResult r;
        host_->run([&] { r = program_->run(args); });
        return r;
    }

    // A bundle of one small loader and one firmware block for this module; its path.
    std::string smallBundle() const
    {
        const std::string path = dir_.path() + "/fw.bird";
        BundleBuilder()
            .descriptor("5", "2.11.3", kSerialHex, updtest::kModelName)
            .loader(0x20000000, Bytes(40, 1))
            .firmware(0x4000, Bytes(100, 2))
            .writeTo(path);
        return path;
    }
    std::string device(const std::string& name) const { return program_->storage() + "/" + kSerialHex + "/" + name; }
    std::string settings() const { return updtest::readText(device(".settings")); }
    Bytes flash(std::uint32_t address, std::size_t length) const { return module_->loader->flash(address, length); }

    morvtest::TempDir dir_;
    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::unique_ptr<FakeUpdateServer> server_;
    std::unique_ptr<updtest::UpdaterProgram> program_;
    std::unique_ptr<updtest::SimulatedModule> module_;
    std::unique_ptr<updtest::ModuleAcceptor> acceptor_;
    std::unique_ptr<morvsim::FakeTcpipModule> discovery_;
};

// Two firmware images, one of them carrying the serial number's places.
struct TwoImageBundle {
    const Bytes loader = updtest::pattern(300, 0x40);
    const Bytes first = updtest::pattern(2500, 0x11);
    const Bytes second = updtest::pattern(700, 0x93);
    static constexpr std::uint32_t kFirst = 0x4000;
    static constexpr std::uint32_t kSecond = 0x9000;
    static constexpr std::uint32_t kSerialOffset = 0x4010;
    static constexpr std::uint32_t kDescriptorOffset = 0x4100;

    BundleBuilder builder(const std::string& build, bool offsets = true, const std::string& serial = "00000000",
                          const std::string& model = updtest::kModelName) const
    {
        BundleBuilder b;
        b.descriptor(build, "2.11.3", serial, model).loader(0x20000000, loader).firmware(kFirst, first);
        b.firmware(kSecond, second);
        if (offsets)
            b.serialOffsets(kSerialOffset, kDescriptorOffset);
        return b;
    }
};

TEST_F(TcpUpdate, BundleFromTheStoreGoesToTheFlashWithTheSerialPatchedIn)
{
    startModule(kSerial);
    const TwoImageBundle bundle;
    dir_.makeDir("updater/" + kSerialHex);
    bundle.builder("1234").writeTo(device("1234.bird"));
    server_->setReply("qu", Reply::Ok({"1234", "2.11.3"}));

    const ChildResult r = run({"-U", "-d", kSerialHex});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    Lines out = SplitLines(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(std::regex_match(out.back(), std::regex(R"(Update time: \d+\.\d{4} sec)"))) << out.back();
    out.pop_back();
    EXPECT_EQ(out, (Lines{kVersionLine, "Updating firmware with build: 1234", "Transferring loader to device",
                          "Transferring loader block 1 of 1, 304 bytes", "Transferred 1 blocks, 304 total bytes",
                          "Starting Load on Device", "Transferring firmware block 1 of 2, 2504 bytes",
                          "Transferring firmware block 2 of 2, 704 bytes", "Transferred 2 blocks, 3208 total bytes"}));
    EXPECT_EQ(r.err, "");

    // Exactly the bundle's images, the serial where the bundle asks for it.
    EXPECT_EQ(flash(bundle.kFirst, bundle.first.size()),
              updtest::patched(bundle.first, bundle.kFirst, bundle.kSerialOffset, bundle.kDescriptorOffset, kSerial));
    EXPECT_EQ(flash(bundle.kSecond, bundle.second.size()), bundle.second);
    EXPECT_EQ(flash(bundle.kFirst + bundle.first.size(), 16), Bytes(16, 0xFF)) << "nothing written past the image";
    const morvsim::LoaderRecord record = module_->loader->record();
    EXPECT_EQ(record.loaderImage.at(0x20000000), bundle.loader);
    EXPECT_EQ(record.stage, LoaderStage::Rebooted);

    const std::string text = settings();
    EXPECT_NE(text.find("LATEST_TRANSFER=1234.bird\n"), std::string::npos) << text;
    const std::regex date(R"(LAST_TRANSFER_DATE=\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\n)");
    EXPECT_TRUE(std::regex_search(text, date)) << text;
}

TEST_F(TcpUpdate, BundlePathIsRecordedAsGivenInTheDevicesOwnNewDirectory)
{
    startModule(kSerial);
    const TwoImageBundle bundle;
    // The descriptor names this very module, so no offsets are needed. The
    // path is relative to the working directory and begins with digits.
    const std::string path = "77firmware.bird";
    bundle.builder("77", false, kSerialHex).writeTo(dir_.path() + "/" + path);

    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(SplitLines(r.out)[1], "Updating from Birdfile: " + path);
    EXPECT_TRUE(server_->queries().empty()) << "a given bundle needs no server";
    EXPECT_EQ(flash(bundle.kFirst, bundle.first.size()), bundle.first);
    EXPECT_EQ(flash(bundle.kSecond, bundle.second.size()), bundle.second);
    EXPECT_NE(settings().find("LATEST_TRANSFER=" + path + "\n"), std::string::npos) << settings();
    EXPECT_FALSE(exists(dir_.path() + "/.settings")) << "never recorded in the working directory";

    // The recorded path names no build (not 77): a later update without a build finds none.
    const ChildResult again = run({"-U", "-d", kSerialHex});
    EXPECT_EQ(again.exitCode, 1) << describe(again);
    EXPECT_EQ(again.err, "Could not find valid build for this device.\n");
}

TEST_F(TcpUpdate, LatestDownloadIsUsedWhenTheServersLatestIsNotStored)
{
    startModule(kSerial);
    const TwoImageBundle bundle;
    dir_.makeDir("updater/" + kSerialHex);
    bundle.builder("1200").writeTo(device("1200.bird"));
    {
        std::FILE* f = std::fopen(device(".settings").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("LATEST_DOWNLOAD=1200.bird\n", f);
        std::fclose(f);
    }
    server_->setReply("qu", Reply::Ok({"1300", "2.12.0"}));

    const ChildResult r = run({"-U", "-d", kSerialHex});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Lines out = SplitLines(r.out);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out[1], "New firmware is available.  Updater will proceed if valid firmware is found locally.");
    EXPECT_EQ(out[2], "Updating with the Latest Download");
    EXPECT_EQ(out[3], "Updating firmware with build: 1200");
    EXPECT_NE(settings().find("LATEST_TRANSFER=1200.bird\n"), std::string::npos) << settings();
    EXPECT_NE(settings().find("LATEST_DOWNLOAD=1200.bird\n"), std::string::npos) << settings();
}

struct Refusal {
    const char* name;
    std::uint32_t moduleSerial;
    std::uint8_t moduleModel;
    bool offsets;
    std::string descriptorSerial;
    std::string descriptorModel;
    bool firmware;
    std::vector<std::string> extraArgs;
    std::string err;
};

TEST_F(TcpUpdate, RefusedBundlesWriteNothing)
{
    const std::string failed = "Birdfile failed validation\n";
    const std::vector<Refusal> refusals = {
        {"module says another serial", 0x00C0FFEE, updtest::kModel, true, "00000000", updtest::kModelName, true, {},
         failed},
        {"bundle for another serial", kSerial, updtest::kModel, false, "00C0FFEE", updtest::kModelName, true, {},
         failed},
        {"bundle for another model", kSerial, 19, true, "00000000", updtest::kModelName, true, {},
         "Connected device model and Bird file model do not match [MTMDAQ1] (0)\n" + failed},
        {"no firmware blocks", kSerial, updtest::kModel, false, kSerialHex, updtest::kModelName, false, {}, failed},
        {"no firmware blocks, overridden", kSerial, updtest::kModel, true, "00000000", updtest::kModelName, false,
         {"-OVERRIDE"}, "Birdfile holds no firmware blocks\n"},
    };
    for (const Refusal& c : refusals) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        startModule(c.moduleSerial, kSerial, c.moduleModel);
        const std::string path = dir_.path() + "/refused.bird";
        BundleBuilder b;
        b.descriptor("5", "2.11.3", c.descriptorSerial, c.descriptorModel).loader(0x20000000, Bytes(40, 1));
        if (c.firmware)
            b.firmware(0x4000, Bytes(100, 2));
        if (c.offsets)
            b.serialOffsets(0x4010, 0);
        b.writeTo(path);

        std::vector<std::string> args = {"-U", "-d", kSerialHex, "-f", path};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const ChildResult r = run(args);
        EXPECT_EQ(r.exitCode, 1) << describe(r);
        EXPECT_EQ(r.err, c.err) << describe(r);
        const morvsim::LoaderRecord record = module_->loader->record();
        EXPECT_EQ(record.inits, 0u);
        EXPECT_EQ(record.prepares, 0u);
        EXPECT_TRUE(record.writes.empty());
        EXPECT_EQ(flash(0x4000, 100), Bytes(100, 0xFF));
        EXPECT_FALSE(exists(program_->storage() + "/" + kSerialHex)) << "no transfer recorded";
    }
}

TEST_F(TcpUpdate, AModelThatCannotBeReadFailsTheValidation)
{
    startModule(kSerial);
    module_->sim.withModule(updtest::kModuleAddress, [](morvsim::SimModule& m) {
        m.entities[morvsim::errorKey(morvsim::kSystemCommand, 8, 0)] = {29};
    });
    // An empty model name would match any model, so the failed read must decide.
    const std::string path = smallBundle();
    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.err, "Connected device model and Bird file model do not match [Unknown] (29)\n"
                     "Birdfile failed validation\n")
        << describe(r);
    EXPECT_EQ(module_->loader->record().inits, 0u);
    EXPECT_EQ(flash(0x4000, 100), Bytes(100, 0xFF));
}

TEST_F(TcpUpdate, AFirmwareBlockIsTriedFiveTimesAndAFailedUpdateRecordsNothing)
{
    startModule(kSerial);
    morvsim::LoaderFaults faults;
    faults.statuses[5] = 1;  // every WRITE refused
    module_->loader->setFaults(faults);
    const std::string path = smallBundle();
    const ChildResult r = run({"-U", "-d", kSerialHex, "-f", path});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    Lines expected = {kVersionLine,
                      "Updating from Birdfile: " + path,
                      "Transferring loader to device",
                      "Transferring loader block 1 of 1, 44 bytes",
                      "Transferred 1 blocks, 44 total bytes",
                      "Starting Load on Device"};
    for (int attempt = 0; attempt < 5; ++attempt) {
        expected.push_back("Transferring firmware block 1 of 1, 104 bytes");
        if (attempt > 0)
            expected.push_back("  Retry " + std::to_string(attempt));
    }
    expected.push_back("Transferred 0 blocks, 0 total bytes");
    EXPECT_EQ(SplitLines(r.out), expected);
    const morvsim::LoaderRecord record = module_->loader->record();
    EXPECT_EQ(record.prepares, 1u + 5u) << "the loader block and five attempts";
    EXPECT_EQ(record.reboots, 0u) << "a module whose firmware failed is not rebooted";
    EXPECT_FALSE(exists(program_->storage() + "/" + kSerialHex));
}

}  // namespace
