#include "UpdateServerReplies.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Log.h"

namespace {

// The body's lines, cut in place.
class Lines {
public:
    explicit Lines(HTTPResponse& response) : _next(response.get_response()) {}

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
    char* _next = nullptr;
    char* _save = nullptr;
    const char* _first = nullptr;
};

// Status 200 and a first line beginning with "ok"; that line is consumed.
bool accepted(const char* name, HTTPResponse& response, Lines& lines) {
    if (response.get_status() != 200) {
        if (std::strcmp(name, "ping") == 0)
            Log::log(DEBUG_ServerComm, "PING ==> [%ld] [%s]\n", response.get_status(),
                     response.get_response());
        else
            Log::log(DEBUG_ServerComm, "%s ==> [%ld] [%s]\n", name, response.get_status(),
                     response.get_response());
        return false;
    }
    const char* first = lines.next();
    if (first == nullptr || std::strncmp(first, "ok", 2) != 0) {
        Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, response.get_request());
        return false;
    }
    return true;
}

// strtoul that refuses what does not fit 32 bits instead of truncating it.
bool toU32(const char* text, int base, unsigned* value) {
    errno = 0;
    const unsigned long v = std::strtoul(text, nullptr, base);
    if (errno == ERANGE || v > UINT_MAX) return false;
    *value = static_cast<unsigned>(v);
    return true;
}

}  // namespace

bool UpdateServerReplies::ping(HTTPResponse& response) {
    Lines lines(response);
    return accepted("ping", response, lines);
}

bool UpdateServerReplies::QueryBuild(HTTPResponse& response, std::string& build, std::string& version) {
    Lines lines(response);
    if (!accepted("QueryBuild", response, lines)) return false;
    if (const char* line = lines.next("\n")) build = line;
    if (const char* line = lines.next("\r\n")) version = line;
    return true;
}

bool UpdateServerReplies::GetBuild(HTTPResponse& response, std::string& out) {
    Lines lines(response);
    if (!accepted("GetBuild", response, lines)) return false;
    out.clear();
    if (const char* line = lines.next("\n")) out = line;
    return true;
}

bool UpdateServerReplies::GetBuildList(HTTPResponse& response,
                                       std::map<std::string, std::string>& builds) {
    static const char* const name = "GetBuildList";
    Lines lines(response);
    if (!accepted(name, response, lines)) return false;
    while (char* line = lines.next("\n")) {
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

bool UpdateServerReplies::GetRecoveryInfo(HTTPResponse& response, unsigned* serial, unsigned* build) {
    static const char* const name = "GetRecoveryInfo";
    Lines lines(response);
    if (!accepted(name, response, lines)) return false;
    const char* line2 = lines.next("\n");
    const char* line3 = lines.next("\n");
    Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", name, lines.first(),
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

bool UpdateServerReplies::GetDeviceJWT(HTTPResponse& response, std::string& token) {
    static const char* const name = "GetDeviceJWT";
    Lines lines(response);
    if (!accepted(name, response, lines)) return false;
    char* line = lines.next("\n");
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
