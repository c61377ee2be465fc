#include "UpdateServerRequest.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

#include "Log.h"
#include "aVersion.h"

const char* const UpdateServerRequest::DEFAULT_URL = "http://update.zorventa.com/cgi/u";

namespace {

using Query = std::map<std::string, std::string>;

std::string hex8(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// A reply that counted: status 200 and a first line beginning with "ok". The lines are
// cut in place in the response's body.
class Reply {
public:
    // The response lives on the heap so that the cut lines stay valid when a Reply moves.
    explicit Reply(HTTPResponse&& response)
        : _response(std::make_unique<HTTPResponse>(std::move(response))),
          _next(_response->get_response()) {}

    const char* request() const { return _response->get_request(); }
    // The first line, once next() has cut it.
    const char* first() const { return _first; }

    // The next non-empty line, cut at any of delims, without a trailing carriage return
    // (servers may end lines with CRLF); null when none is left.
    char* next(const char* delims = "\n") {
        for (;;) {
            char* line = strtok_r(_next, delims, &_save);
            _next = nullptr;
            if (line == nullptr) return nullptr;
            size_t len = std::strlen(line);
            if (len != 0 && line[len - 1] == '\r') line[--len] = '\0';
            if (len == 0) continue;
            if (_first == nullptr) _first = line;
            return line;
        }
    }

private:
    std::unique_ptr<HTTPResponse> _response;
    char* _next = nullptr;
    char* _save = nullptr;
    const char* _first = nullptr;
};

// Runs steps common to every request; on success the first line ("ok...") is consumed.
std::optional<Reply> perform(const char* name, const char* url, const Query& query,
                             const HTTPTimeouts& timeouts) {
    if (url == nullptr) url = UpdateServerRequest::DEFAULT_URL;
    std::optional<HTTPResponse> response;
    try {
        response.emplace(HTTPRequest::GET(url, query, timeouts));
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
        return std::nullopt;
    }
    if (response->get_status() != 200) {
        if (std::strcmp(name, "ping") == 0)
            Log::log(DEBUG_ServerComm, "PING ==> [%ld] [%s]\n", response->get_status(),
                     response->get_response());
        else
            Log::log(DEBUG_ServerComm, "%s ==> [%ld] [%s]\n", name, response->get_status(),
                     response->get_response());
        return std::nullopt;
    }
    std::optional<Reply> reply(std::in_place, std::move(*response));
    const char* first = reply->next();
    if (first == nullptr || std::strncmp(first, "ok", 2) != 0) {
        Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, reply->request());
        return std::nullopt;
    }
    return reply;
}

// strtoul that refuses what does not fit 32 bits instead of truncating it.
bool toU32(const char* text, int base, unsigned* value) {
    errno = 0;
    const unsigned long v = std::strtoul(text, nullptr, base);
    if (errno == ERANGE || v > UINT_MAX) return false;
    *value = static_cast<unsigned>(v);
    return true;
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
    return perform("ping", url, query, timeouts).has_value();
}

bool UpdateServerRequest::QueryBuild(unsigned serial, std::string& build, std::string& version,
                                     const char* url, const HTTPTimeouts& timeouts) {
    const Query query{{"op", "qu"}, {"sn", hex8(serial)}};
    std::optional<Reply> reply = perform("QueryBuild", url, query, timeouts);
    if (!reply) return false;
    if (const char* line = reply->next("\n")) build = line;
    if (const char* line = reply->next("\r\n")) version = line;
    return true;
}

bool UpdateServerRequest::GetBuild(unsigned serial, const char* version, const char* build,
                                   std::string& out, const char* url, bool no_cal,
                                   const HTTPTimeouts& timeouts) {
    const Query query{{"op", "bird"},
                      {"sn", hex8(serial)},
                      {"fw", version != nullptr ? version : ""},
                      {"bld", build != nullptr ? build : ""},
                      {"no_cal", no_cal ? "true" : "false"}};
    std::optional<Reply> reply = perform("GetBuild", url, query, timeouts);
    if (!reply) return false;
    out.clear();
    if (const char* line = reply->next("\n")) out = line;
    return true;
}

bool UpdateServerRequest::GetBuildList(unsigned serial, std::map<std::string, std::string>& builds,
                                       const char* url, const HTTPTimeouts& timeouts) {
    static const char* const name = "GetBuildList";
    builds.clear();
    const Query query{{"op", "builds"}, {"sn", hex8(serial)}};
    std::optional<Reply> reply = perform(name, url, query, timeouts);
    if (!reply) return false;
    while (char* line = reply->next("\n")) {
        if (std::strlen(line) < 3) continue;
        Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", name, line);
        char* save = nullptr;
        const char* number = strtok_r(line, ";\r\n", &save);
        if (number == nullptr) continue;
        const char* version = strtok_r(nullptr, ";\r\n", &save);
        if (version == nullptr) version = "";
        builds.emplace(number, version);
        Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", name, number, version);
    }
    return true;
}

bool UpdateServerRequest::GetRecoveryInfo(const unsigned* fingerprint, unsigned* serial,
                                          unsigned* build, const char* url,
                                          const HTTPTimeouts& timeouts) {
    static const char* const name = "GetRecoveryInfo";
    if (fingerprint == nullptr) return false;
    char fp[64];
    std::snprintf(fp, sizeof fp, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
                  fingerprint[2], fingerprint[3]);
    const Query query{{"op", "fix"}, {"fp", fp}, {"brief", "true"}};
    std::optional<Reply> reply = perform(name, url, query, timeouts);
    if (!reply) return false;
    const char* line2 = reply->next("\n");
    const char* line3 = reply->next("\n");
    Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", name, reply->first(),
             line2 != nullptr ? line2 : "", line3 != nullptr ? line3 : "");
    unsigned s = 0, b = 0;
    // A number that does not fit 32 bits would name another device or build.
    if ((line2 != nullptr && !toU32(line2, 16, &s)) || (line3 != nullptr && !toU32(line3, 0, &b))) {
        Log::log(DEBUG_ServerComm, "%s: number out of range\n", name);
        return false;
    }
    if (line2 != nullptr && serial != nullptr) *serial = s;
    if (line3 != nullptr && build != nullptr) *build = b;
    return true;
}

bool UpdateServerRequest::GetDeviceJWT(unsigned serial, std::string& token, const char* url,
                                       const HTTPTimeouts& timeouts) {
    static const char* const name = "GetDeviceJWT";
    const Query query{{"op", "ent_jwt"}, {"sn", hex8(serial)}, {"json", "false"}};
    std::optional<Reply> reply = perform(name, url, query, timeouts);
    if (!reply) return false;
    char* line = reply->next("\n");
    if (line == nullptr || std::strlen(line) <= 2) return false;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", name, line);
    char* save = nullptr;
    const char* header = strtok_r(line, ".", &save);
    const char* payload = header != nullptr ? strtok_r(nullptr, ".", &save) : nullptr;
    const char* signature = payload != nullptr ? strtok_r(nullptr, "\r\n", &save) : nullptr;
    if (signature == nullptr || std::strlen(header) < 2 || std::strlen(payload) < 2 ||
        std::strlen(signature) < 2)
        return false;
    token = std::string(header) + "." + payload + "." + signature;
    return true;
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
