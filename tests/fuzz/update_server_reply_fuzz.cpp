// Update-server replies from arbitrary bytes, read by every request's reader:
// the first byte picks the HTTP status (mostly 200), the rest is the body. The
// bundle line of a bird reply is decoded as base64 and loaded as a bundle, and
// a build list is sorted, as the download and the listings do.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "BirdFile.h"
#include "HTTPRequest.h"
#include "UpdateServerReplies.h"
#include "UpdateServerRequest.h"
#include "base64.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool hasLineEnd(const std::string& text)
{
    return text.find('\n') != std::string::npos;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

void readBundle(const std::string& line)
{
    unsigned long length = 0;
    std::unique_ptr<unsigned char, FreeDeleter> bytes(base64_decode(line.data(), line.size(), &length));
    if (!bytes)
        return;
    check(bytes.get()[length] == 0);
    BirdFile bundle;
    if (bundle.LoadData(bytes.get(), length))
        bundle.FindBlocks(BirdFile::BLOCK_FIRMWARE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const long status = data[0] < 16 ? 404 : 200;
    const char* body = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    auto reply = [&] {
        HTTPResponse response("http://127.0.0.1/cgi/u?op=fuzz&");
        response.set_status(status);
        response.process(body, length);
        return response;
    };
    const std::string untouched = "untouched";

    {
        HTTPResponse r = reply();
        const bool ok = UpdateServerReplies::ping(r);
        check(!ok || status == 200);
    }
    {
        HTTPResponse r = reply();
        std::string build = untouched, version = untouched;
        const bool ok = UpdateServerReplies::QueryBuild(r, build, version);
        check(ok || (build == untouched && version == untouched));
        check(!hasLineEnd(build) && !hasLineEnd(version) && version.find('\r') == std::string::npos);
    }
    {
        HTTPResponse r = reply();
        std::string line = untouched;
        const bool ok = UpdateServerReplies::GetBuild(r, line);
        check(ok || line == untouched);
        check(!hasLineEnd(line));
        if (ok)
            readBundle(line);
    }
    {
        HTTPResponse r = reply();
        std::map<std::string, std::string> builds;
        const bool ok = UpdateServerReplies::GetBuildList(r, builds);
        check(ok || builds.empty());
        for (const auto& entry : builds) {
            check(!entry.first.empty());
            for (const std::string& text : {entry.first, entry.second})
                check(text.find_first_of(";\r\n") == std::string::npos);
        }
        const auto sorted = UpdateServerRequest::SortBuildsByVersion(builds);
        check(sorted.size() == builds.size());
        for (const auto& entry : sorted)
            check(builds.count(entry.first) == 1 && builds.at(entry.first) == entry.second);
    }
    {
        HTTPResponse r = reply();
        unsigned serial = 7, build = 9;
        const bool ok = UpdateServerReplies::GetRecoveryInfo(r, &serial, &build);
        check(ok || (serial == 7 && build == 9));
    }
    {
        HTTPResponse r = reply();
        std::string token = untouched;
        const bool ok = UpdateServerReplies::GetDeviceJWT(r, token);
        if (!ok) {
            check(token == untouched);
        } else {
            // Three parts of at least two characters, joined by single dots.
            const size_t first = token.find('.');
            const size_t second = first == std::string::npos ? first : token.find('.', first + 1);
            check(first != std::string::npos && second != std::string::npos);
            check(first >= 2 && second - first - 1 >= 2 && token.size() - second - 1 >= 2);
            check(!hasLineEnd(token) && token.find('\r', second) == std::string::npos);
        }
    }
    return 0;
}
