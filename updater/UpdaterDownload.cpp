// Download of one firmware bundle into the module's store directory. The HTTP
// request runs on a worker thread while the main thread keeps the spinner going.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "BirdFile.h"
#include "BuildNumber.h"
#include "HTTPRequest.h"
#include "KeyValueStore.h"
#include "Log.h"
#include "PrintableText.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "base64.h"

namespace {

// A reply may carry the largest bundle there is.
static_assert(kMaxBundleBytes >= BirdFile::MAX_FILE_SIZE, "reply limit below the bundle limit");

const char* const kLatestDownload = "LATEST_DOWNLOAD";
const char* const kLastDownloadDate = "LAST_DOWNLOAD_DATE";
const char* const kSpinnerLabel = "Downloading";
constexpr std::chrono::milliseconds kSpinnerInterval(100);

// Everything the worker needs, by value: it never reads the caller's strings.
struct DownloadJob {
    std::string url;
    std::promise<bool>* promise;
    uint32_t serial;
    std::string version;
    std::string build;
    std::string* result;  // owned by the caller, read only after the join
    bool noCal;
};

void downloadWorker(DownloadJob job)
{
    bool ok = false;
    try {
        ok = UpdateServerRequest::GetBuild(job.serial, job.version.c_str(), job.build.c_str(), *job.result,
                                           job.url.c_str(), job.noCal);
    } catch (...) {
        // Nothing may escape a thread; a request that threw simply failed.
        ok = false;
    }
    job.promise->set_value(ok);
}

// Joins the worker on every way out, so no joinable thread is ever destroyed.
class JoinOnExit {
public:
    explicit JoinOnExit(std::thread& thread) : thread_(thread) {}
    ~JoinOnExit()
    {
        if (thread_.joinable())
            thread_.join();
    }
    JoinOnExit(const JoinOnExit&) = delete;
    JoinOnExit& operator=(const JoinOnExit&) = delete;

private:
    std::thread& thread_;
};

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

void traceNotANumber(const std::string& text)
{
    Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", PrintableText(text).c_str());
}

// A decoded download must be a whole bundle before it may replace a stored one.
bool isBundle(const unsigned char* data, unsigned long length)
{
    const size_t signature = sizeof BirdFile::BIRD_FILE_SIGNATURE;
    if (length < signature + 2 || std::memcmp(data, BirdFile::BIRD_FILE_SIGNATURE, signature) != 0 ||
        data[signature] == 0 || data[signature + 1] == 0)
        return false;
    try {
        BirdFile bundle;
        return bundle.LoadData(data, length);
    } catch (const std::exception&) {
        return false;
    }
}

bool validBuild(uint32_t serial, uint32_t build, const char* url)
{
    std::map<std::string, std::string> builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, url))
        return false;
    for (const auto& entry : builds) {
        uint32_t listed = 0;
        if (!ParseBuildNumber(entry.first, &listed))
            traceNotANumber(entry.first);
        if (listed == build)
            return true;
    }
    return false;
}

}  // namespace

uint32_t Updater::Download_Firmware(uint32_t serial, std::string buildText, bool override, bool noCal)
{
    using Level = UpdaterDisplayInterface::Level;
    uint32_t build = 0;
    if (!buildText.empty() && !ParseBuildNumber(buildText, &build)) {
        display.message(Level::LEVEL_ERROR, "Build number '%s' must be an number", PrintableText(buildText).c_str());
        return 0;
    }
    if (serial == 0) {
        display.message(Level::LEVEL_ERROR, "Serial Number must be non-zero");
        return 0;
    }
    if (!UpdateServerRequest::ping(server_url.c_str())) {
        display.message(Level::LEVEL_ERROR, "Server request failed for %s", server_url.c_str());
        return 0;
    }

    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storage_dir, "Download_Firmware");
    if (!store)
        return 0;
    UpdaterStoreItem item;
    try {
        if (!store->FindDevice(serial, &item)) {
            Log::log(DEBUG_APP, "Could not find device in our update history.\n");
            item = store->AddDevice(serial);
        }
    } catch (const std::exception&) {
        display.message(Level::LEVEL_ERROR, "Could not create directory for storing BIRD file");
        return 0;
    }

    std::string serverBuild;
    std::string serverVersion;
    if (!UpdateServerRequest::QueryBuild(serial, serverBuild, serverVersion, server_url.c_str())) {
        display.message(Level::LEVEL_ERROR, "No build information for device");
        return 0;
    }
    if (build == 0) {
        if (!ParseBuildNumber(serverBuild, &build))
            traceNotANumber(serverBuild);
        // Build 0 is no build: asking for it could only store a file nobody looks up.
        if (build == 0) {
            display.message(Level::LEVEL_ERROR, "No build information for device");
            return 0;
        }
    }

    display.message(Level::LEVEL_INFO, "Retrieving build %u", build);
    if (override) {
        display.message(Level::LEVEL_INFO, "Override specified, skipping validation of build %u", build);
    } else {
        display.message(Level::LEVEL_INFO, "Validating build %u with server", build);
        if (!validBuild(serial, build, server_url.c_str())) {
            display.message(Level::LEVEL_ERROR, "No valid build %u", build);
            return 0;
        }
        display.message(Level::LEVEL_INFO, "Build %u is valid", build);
    }

    const std::string requested = std::to_string(build);
    std::string result;
    std::promise<bool> promise;
    std::future<bool> done = promise.get_future();
    std::thread worker;
    JoinOnExit joiner(worker);
    try {
        worker = std::thread(downloadWorker,
                             DownloadJob{server_url, &promise, serial, serverVersion, requested, &result, noCal});
    } catch (const std::system_error&) {
        display.message(Level::LEVEL_ERROR, "Download failed");
        return 0;
    }

    display.update_spinner(true, kSpinnerLabel);
    while (done.wait_for(kSpinnerInterval) != std::future_status::ready)
        display.update_spinner(true, kSpinnerLabel);
    display.update_spinner(false, kSpinnerLabel);
    const bool ok = done.get();
    worker.join();
    if (!ok) {
        display.message(Level::LEVEL_ERROR, "Download failed");
        // Whatever a failed request left behind is no bundle.
        result.clear();
    }
    if (result.empty()) {
        display.message(Level::LEVEL_ERROR, "Failed to retrieve a valid BIRD file");
        return 0;
    }

    unsigned long length = 0;
    std::unique_ptr<unsigned char, FreeDeleter> bytes(base64_decode(result.data(), result.size(), &length));
    if (!bytes || length == 0 || !isBundle(bytes.get(), length)) {
        display.message(Level::LEVEL_ERROR, "Failed to retrieve a valid BIRD file");
        return 0;
    }

    const std::string stamp = KeyValueStore::TimeStamp();
    const std::string fileName = requested + ".bird";
    const aErr err = item.WriteFile(fileName.c_str(), bytes.get(), length);
    bytes.reset();
    if (err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Failed to write file with %d", static_cast<int>(err));
        return 0;
    }
    KeyValueStore record;
    record.Add(kLatestDownload, fileName);
    record.Add(kLastDownloadDate, stamp);
    if (!item.RecordAttributes(record)) {
        display.message(Level::LEVEL_ERROR, "Failed to record the download in %s", item.attributes.Path().c_str());
        return 0;
    }
    return build;
}

uint32_t Updater::Download_Firmware(Fingerprint fingerprint, std::string buildText, bool override)
{
    uint32_t build = 0;
    if (!ParseBuildNumber(buildText, &build))
        traceNotANumber(buildText);
    unsigned serial = 0;
    unsigned serverBuild = 0;
    if (!UpdateServerRequest::GetRecoveryInfo(fingerprint.words, &serial, &serverBuild, server_url.c_str())) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Failed to retrieve recovery information from Zorventa update server");
        return 0;
    }
    if (build == 0)
        build = serverBuild;
    return Download_Firmware(serial, std::to_string(build), override, false);
}
