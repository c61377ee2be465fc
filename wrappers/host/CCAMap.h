// The one device registry of the wrapper library, and how the host program
// registers devices in it.
#pragma once

#include <cstdint>
#include <memory>

#include "Module.h"
#include "aError.h"
#include "deviceInfo.h"
#include "morvMap.h"

extern morvMap<deviceInfo> CCAMap;

// Registers the module under a fresh non-zero id (ids are not reused while the
// process runs). aErrParam for a null module or id pointer, aErrMemory when
// the record cannot be made, aErrResource once the ids are used up; on any
// failure the module is destroyed.
aErr registerDevice(std::unique_ptr<Zorventa::Morvasset::Module> module, std::uint32_t* id);

// Erases the entry; calls still holding the record finish on it, and the
// module goes when the last of them returns. aErrNotFound for an unknown id.
aErr removeDevice(std::uint32_t id);
