// Everything the Updater program prints outside the engine: its version line,
// the usage text and the device, build, fingerprint and token listings.
#ifndef MORV_UPDATER_UPDATERLISTINGS_H
#define MORV_UPDATER_UPDATERLISTINGS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"
#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "aLinkSpec.h"

#define UPDATER_PROGRAM_NAME "Updater"
#define UPDATER_VERSION_TEXT "Version: 2.11.3 Jun  6 2025"

namespace UpdaterListings {

// "Updater (Version: ...)" as an information line.
void _display_app_version(UpdaterDisplayInterface& display);

// Writes the usage straight to standard error: always the short form; with
// helpRequested the parameters and samples, and with logMaskGiven as well the
// extended parameters between them.
void _display_usage(bool logMaskGiven, bool helpRequested);

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
// The token as received, with control characters escaped.
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
// Build text to version text, shown newest version first.
void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds, uint32_t serial);
// Title and header follow the listing link type; each line follows its entry's own spec.
void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices, linkType type);

}  // namespace UpdaterListings

#endif
