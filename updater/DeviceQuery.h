// Questions the discovery asks a connected module, and the query of one entry of
// the direct search.
#ifndef MORV_UPDATER_DEVICEQUERY_H
#define MORV_UPDATER_DEVICEQUERY_H

#include <cstdint>

#include "DeviceInfo.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

namespace DeviceQuery {

// Introspection [73, 0xFF]: the module's build number, 0 on any failure.
uint32_t _get_build_number(Zorventa::Morvasset::Module& module);
// Firmware version, then the module's own address and router address into the linkSpec.
aErr _get_version(Zorventa::Morvasset::Module& module, DeviceInfo& info);
// The module's name, as many bytes as it reports (at most 32).
aErr _get_device_name(Zorventa::Morvasset::Module& module, DeviceInfo& info);

// One entry of the direct search on a module object that is not yet connected:
// networking off, connect through the entry's spec, build, version and name, then
// disconnect. Every failure, the network configuration included, lands in info.error.
void QueryDirect(Zorventa::Morvasset::Module& module, DeviceInfo& info, UpdaterDisplayInterface& display);

}  // namespace DeviceQuery

#endif
