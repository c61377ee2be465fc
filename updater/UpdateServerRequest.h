// Client of the update server: one HTTP GET per request, a text reply whose first line
// begins with "ok". Failures are traced only; the callers report them.
#ifndef MORV_UPDATER_UPDATESERVERREQUEST_H
#define MORV_UPDATER_UPDATESERVERREQUEST_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "HTTPRequest.h"

class UpdateServerRequest {
public:
    // Used when a request is given no url.
    static const char* const DEFAULT_URL;

    static bool ping(const char* url, const HTTPTimeouts& timeouts = HTTPTimeouts());
    static bool QueryBuild(unsigned serial, std::string& build, std::string& version,
                           const char* url, const HTTPTimeouts& timeouts = HTTPTimeouts());
    static bool GetBuild(unsigned serial, const char* version, const char* build, std::string& out,
                         const char* url, bool no_cal,
                         const HTTPTimeouts& timeouts = HTTPTimeouts());
    static bool GetBuildList(unsigned serial, std::map<std::string, std::string>& builds,
                             const char* url, const HTTPTimeouts& timeouts = HTTPTimeouts());
    static bool GetRecoveryInfo(const unsigned* fingerprint, unsigned* serial, unsigned* build,
                                const char* url, const HTTPTimeouts& timeouts = HTTPTimeouts());
    static bool GetDeviceJWT(unsigned serial, std::string& token, const char* url,
                             const HTTPTimeouts& timeouts = HTTPTimeouts());

    // Newest version first; versions that are not three numbers come last.
    static std::vector<std::pair<std::string, std::string>> SortBuildsByVersion(
        const std::map<std::string, std::string>& builds);
    // Exactly three pieces cut at ".", empty ones included, or an empty vector.
    static std::vector<std::string> SplitMorvassetVersion(std::string version);
};

#endif
