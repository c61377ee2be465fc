// Reading the update server's replies, apart from fetching them: a reply counts
// when its status is 200 and its first non-empty line begins with "ok"; each
// reader then takes its request's further lines, cut in place in the body.
// Failures are traced only, under the request's name.
#ifndef MORV_UPDATER_UPDATESERVERREPLIES_H
#define MORV_UPDATER_UPDATESERVERREPLIES_H

#include <map>
#include <string>

#include "HTTPRequest.h"

namespace UpdateServerReplies {

bool ping(HTTPResponse& response);
// build and version each set only when their line is there.
bool QueryBuild(HTTPResponse& response, std::string& build, std::string& version);
// out emptied, then set to the bundle line when there is one.
bool GetBuild(HTTPResponse& response, std::string& out);
// Pairs added to builds; a build already there keeps its version.
bool GetBuildList(HTTPResponse& response, std::map<std::string, std::string>& builds);
// Both left as they were unless the whole reply reads; each then set only when its line is there.
bool GetRecoveryInfo(HTTPResponse& response, unsigned* serial, unsigned* build);
// token set only when the reply holds a token of three parts.
bool GetDeviceJWT(HTTPResponse& response, std::string& token);

}  // namespace UpdateServerReplies

#endif
