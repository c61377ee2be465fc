#include "UpdateServerRequest.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>

#include "Log.h"
#include "UpdateServerReplies.h"
#include "aVersion.h"

const char* const UpdateServerRequest::DEFAULT_URL = "http://update.zorventa.com/cgi/u";

namespace {

using Query = std::map<std::string, std::string>;

std::string hex8(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The server's response, or nothing when the transfer failed (traced).
std::optional<HTTPResponse> fetch(const char* name, const char* url, const Query& query,
                                  const HTTPTimeouts& timeouts) {
    if (url == nullptr) url = UpdateServerRequest::DEFAULT_URL;
    try {
        return HTTPRequest::GET(url, query, timeouts);
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
        return std::nullopt;
    }
}

bool parseVersion(const std::string& version, unsigned char parts[3]) {
    const std::vector<std::string> pieces = UpdateServerRequest::SplitMorvassetVersion(version);
    try {
        if (pieces.size() != 3) throw std::invalid_argument("not three parts: " + version);
        for (int i = 0; i < 3; ++i)
            parts[i] = static_cast<unsigned char>(std::stoi(pieces[i], nullptr, 10) & 0xFF);
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", e.what());
        return false;
    }
    return true;
}

// True when a's version is newer than b's. Versions that do not convert count as older
// than every version that does, so the ordering stays strict weak.
bool _sortVersion(const std::pair<std::string, std::string>& a,
                  const std::pair<std::string, std::string>& b) {
    unsigned char va[3], vb[3];
    const bool bOk = parseVersion(b.second, vb);
    const bool aOk = parseVersion(a.second, va);
    if (!aOk) return false;
    if (!bOk) return true;
    return !aVersion_IsAtLeastCompare(vb[0], vb[1], vb[2], va[0], va[1], va[2]);
}

}  // namespace

bool UpdateServerRequest::ping(const char* url, const HTTPTimeouts& timeouts) {
    const Query query{{"op", "hi"}, {"rv", "2"}};
    std::optional<HTTPResponse> response = fetch("ping", url, query, timeouts);
    return response && UpdateServerReplies::ping(*response);
}

bool UpdateServerRequest::QueryBuild(unsigned serial, std::string& build, std::string& version,
                                     const char* url, const HTTPTimeouts& timeouts) {
    const Query query{{"op", "qu"}, {"sn", hex8(serial)}};
    std::optional<HTTPResponse> response = fetch("QueryBuild", url, query, timeouts);
    return response && UpdateServerReplies::QueryBuild(*response, build, version);
}

bool UpdateServerRequest::GetBuild(unsigned serial, const char* version, const char* build,
                                   std::string& out, const char* url, bool no_cal,
                                   const HTTPTimeouts& timeouts) {
    const Query query{{"op", "bird"},
                      {"sn", hex8(serial)},
                      {"fw", version != nullptr ? version : ""},
                      {"bld", build != nullptr ? build : ""},
                      {"no_cal", no_cal ? "true" : "false"}};
    std::optional<HTTPResponse> response = fetch("GetBuild", url, query, timeouts);
    return response && UpdateServerReplies::GetBuild(*response, out);
}

bool UpdateServerRequest::GetBuildList(unsigned serial, std::map<std::string, std::string>& builds,
                                       const char* url, const HTTPTimeouts& timeouts) {
    builds.clear();
    const Query query{{"op", "builds"}, {"sn", hex8(serial)}};
    std::optional<HTTPResponse> response = fetch("GetBuildList", url, query, timeouts);
    return response && UpdateServerReplies::GetBuildList(*response, builds);
}

bool UpdateServerRequest::GetRecoveryInfo(const unsigned* fingerprint, unsigned* serial,
                                          unsigned* build, const char* url,
                                          const HTTPTimeouts& timeouts) {
    if (fingerprint == nullptr) return false;
    char fp[64];
    std::snprintf(fp, sizeof fp, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
                  fingerprint[2], fingerprint[3]);
    const Query query{{"op", "fix"}, {"fp", fp}, {"brief", "true"}};
    std::optional<HTTPResponse> response = fetch("GetRecoveryInfo", url, query, timeouts);
    return response && UpdateServerReplies::GetRecoveryInfo(*response, serial, build);
}

bool UpdateServerRequest::GetDeviceJWT(unsigned serial, std::string& token, const char* url,
                                       const HTTPTimeouts& timeouts) {
    const Query query{{"op", "ent_jwt"}, {"sn", hex8(serial)}, {"json", "false"}};
    std::optional<HTTPResponse> response = fetch("GetDeviceJWT", url, query, timeouts);
    return response && UpdateServerReplies::GetDeviceJWT(*response, token);
}

std::vector<std::pair<std::string, std::string>> UpdateServerRequest::SortBuildsByVersion(
    const std::map<std::string, std::string>& builds) {
    std::vector<std::pair<std::string, std::string>> sorted(builds.begin(), builds.end());
    std::sort(sorted.begin(), sorted.end(), _sortVersion);
    return sorted;
}

std::vector<std::string> UpdateServerRequest::SplitMorvassetVersion(std::string version) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t dot = version.find('.', start);
        if (dot == std::string::npos) {
            pieces.push_back(version.substr(start));
            break;
        }
        pieces.push_back(version.substr(start, dot - start));
        start = dot + 1;
    }
    if (pieces.size() != 3) pieces.clear();
    return pieces;
}
