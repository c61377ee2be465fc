// The firmware pass of an update: every firmware block prepared, sent,
// checksummed and written through the upgrade entity, then the reboot. The
// i.MX recovery runs it on the recovery loader, which needs no loader pass.
#ifndef MORV_UPDATER_UPDATERFIRMWAREPASS_H
#define MORV_UPDATER_UPDATERFIRMWAREPASS_H

#include "BirdFile.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

namespace Zorventa {
namespace Morvasset {
class Module;
}
}  // namespace Zorventa

// routed: the module sits behind a routing module, whose link stays up while it
// reboots. useByteBuffers: entity byte-buffer sets when the module has them.
aErr _transfer_firmware(UpdaterDisplayInterface& display, Zorventa::Morvasset::Module& module, BirdFile& bundle,
                        bool routed, bool useByteBuffers);

#endif
