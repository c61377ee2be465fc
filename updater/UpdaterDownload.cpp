// Download of one firmware bundle into the module's store directory. The HTTP
// request runs on a worker thread while the main thread keeps the spinner going.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "BirdFile.h"
#include "BuildNumber.h"
#include "ErrorCause.h"
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

using Level = UpdaterDisplayInterface::Level;
using BundleBytes = std::unique_ptr<unsigned char, FreeDeleter>;

// The build asked for (0 for the server's latest) into *build; false, after
// saying why, for a malformed build, serial number 0 or an unreachable server.
bool checkRequest(UpdaterDisplayInterface& display, const std::string& url, uint32_t serial,
                  const std::string& buildText, uint32_t* build)
{
    if (!buildText.empty() && !ParseBuildNumber(buildText, build)) {
        display.message(Level::LEVEL_ERROR, "Build number '%s' must be an number", PrintableText(buildText).c_str());
        return false;
    }
    if (serial == 0) {
        display.message(Level::LEVEL_ERROR, "Serial Number must be non-zero");
        return false;
    }
    if (!UpdateServerRequest::ping(url.c_str())) {
        display.message(Level::LEVEL_ERROR, "Server request failed for %s", url.c_str());
        return false;
    }
    return true;
}

// The device's store directory, made when it has none yet.
bool openDevice(UpdaterDisplayInterface& display, UpdaterStore& store, uint32_t serial, UpdaterStoreItem* item)
{
    try {
        if (!store.FindDevice(serial, item)) {
            Log::log(DEBUG_APP, "Could not find device in our update history.\n");
            *item = store.AddDevice(serial);
        }
    } catch (const std::exception&) {
        display.message(Level::LEVEL_ERROR, "Could not create directory for storing BIRD file");
        return false;
    }
    return true;
}

// The server's version text, and its latest build when none was asked for.
bool chooseDownloadBuild(UpdaterDisplayInterface& display, const std::string& url, uint32_t serial,
                         uint32_t* build, std::string* serverVersion)
{
    std::string serverBuild;
    if (!UpdateServerRequest::QueryBuild(serial, serverBuild, *serverVersion, url.c_str())) {
        display.message(Level::LEVEL_ERROR, "No build information for device");
        return false;
    }
    if (*build == 0) {
        if (!ParseBuildNumber(serverBuild, build))
            traceNotANumber(serverBuild);
        // Build 0 is no build: asking for it could only store a file nobody looks up.
        if (*build == 0) {
            display.message(Level::LEVEL_ERROR, "No build information for device");
            return false;
        }
    }
    return true;
}

bool approveBuild(UpdaterDisplayInterface& display, const std::string& url, uint32_t serial, uint32_t build,
                  bool override)
{
    display.message(Level::LEVEL_INFO, "Retrieving build %u", build);
    if (override) {
        display.message(Level::LEVEL_INFO, "Override specified, skipping validation of build %u", build);
        return true;
    }
    display.message(Level::LEVEL_INFO, "Validating build %u with server", build);
    if (!validBuild(serial, build, url.c_str())) {
        display.message(Level::LEVEL_ERROR, "No valid build %u", build);
        return false;
    }
    display.message(Level::LEVEL_INFO, "Build %u is valid", build);
    return true;
}

// The server's base64 answer into *result, with the spinner going meanwhile;
// false, after saying so, when there is none.
bool fetchBundle(UpdaterDisplayInterface& display, const std::string& url, uint32_t serial,
                 const std::string& serverVersion, const std::string& requested, bool noCal, std::string* resultOut)
{
    std::string& result = *resultOut;
    std::promise<bool> promise;
    std::future<bool> done = promise.get_future();
    std::thread worker;
    JoinOnExit joiner(worker);
    try {
        worker = std::thread(downloadWorker,
                             DownloadJob{url, &promise, serial, serverVersion, requested, &result, noCal});
    } catch (const std::system_error&) {
        display.message(Level::LEVEL_ERROR, "Download failed");
        return false;
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
        return false;
    }
    return true;
}

// The decoded bundle; null, after saying so, when it is none.
BundleBytes decodeBundle(UpdaterDisplayInterface& display, const std::string& result, unsigned long* lengthOut)
{
    unsigned long& length = *lengthOut;
    BundleBytes bytes(base64_decode(result.data(), result.size(), &length));
    if (!bytes || length == 0 || !isBundle(bytes.get(), length)) {
        display.message(Level::LEVEL_ERROR, "Failed to retrieve a valid BIRD file");
        return nullptr;
    }
    return bytes;
}

// Stores the bundle as "<build>.bird" and records it as the latest download.
bool recordDownload(UpdaterDisplayInterface& display, UpdaterStoreItem& item, const std::string& requested,
                    BundleBytes bytes, unsigned long length)
{
    const std::string stamp = KeyValueStore::TimeStamp();
    const std::string fileName = requested + ".bird";
    // One turn for the bundle and its record: once stored, it is recorded.
    const StoreTurn hold = item.Hold();
    int cause = 0;
    const aErr err = item.WriteFile(fileName.c_str(), bytes.get(), length, &cause);
    bytes.reset();
    if (err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Failed to write file with %d (%s)", static_cast<int>(err),
                        ErrorCause(cause, err).c_str());
        return false;
    }
    KeyValueStore record;
    record.Add(kLatestDownload, fileName);
    record.Add(kLastDownloadDate, stamp);
    if (!item.RecordAttributes(record)) {
        display.message(Level::LEVEL_ERROR, "Failed to record the download in %s", item.attributes.Path().c_str());
        return false;
    }
    return true;
}

}  // namespace

uint32_t Updater::Download_Firmware(uint32_t serial, std::string buildText, bool override, bool noCal)
{
    uint32_t build = 0;
    if (!checkRequest(display, server_url, serial, buildText, &build))
        return 0;
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storage_dir, "Download_Firmware", store_run);
    if (!store)
        return 0;
    UpdaterStoreItem item;
    std::string serverVersion;
    // A run that gave up waiting for the store (and said so) fetches nothing it could not store.
    if (!openDevice(display, *store, serial, &item) || store_run->GaveUp() ||
        !chooseDownloadBuild(display, server_url, serial, &build, &serverVersion) ||
        !approveBuild(display, server_url, serial, build, override))
        return 0;

    const std::string requested = std::to_string(build);
    std::string result;
    if (!fetchBundle(display, server_url, serial, serverVersion, requested, noCal, &result))
        return 0;
    unsigned long length = 0;
    BundleBytes bytes = decodeBundle(display, result, &length);
    if (!bytes)
        return 0;
    return recordDownload(display, item, requested, std::move(bytes), length) ? build : 0;
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
