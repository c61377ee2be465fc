// The steps of fingerprint reading and recovery through the boot ROMs, shared by
// Updater::Get_Fingerprint and Updater::Recover_Firmware. LPC processors are
// programmed straight into flash over the ISP protocol; i.MX processors get a
// recovery loader placed in RAM, which then comes up as a USB module.
#ifndef MORV_UPDATER_UPDATERRECOVERYSTEPS_H
#define MORV_UPDATER_UPDATERRECOVERYSTEPS_H

#include <cstdint>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "Fingerprint.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

namespace Zorventa {
namespace Morvasset {
class Module;
}
}  // namespace Zorventa

namespace UpdaterRecovery {

// The port naming the i.MX boot ROM's USB HID device rather than a tty.
extern const char* const USB_PORT;
// Connection searches for a module running the recovery loader.
constexpr unsigned CONNECT_ATTEMPTS = 15;
constexpr uint32_t CONNECT_DELAY_MS = 1000;
// Where the recovery loader starts when the bundle names no entry address.
constexpr uint32_t DEFAULT_LOADER_START = 0x20000400u;
// The rate the fingerprint is always read at.
constexpr uint32_t FINGERPRINT_BAUD = 115200;
// System entity option holding the processor's unique identifier words.
constexpr uint8_t UNIQUE_ID_OPTION = 39;
// LPC flash is written in RAM-buffer pieces of at most this size.
constexpr uint32_t LPC_PIECE_SIZE = 4096;
constexpr uint32_t LPC_LAST_SECTOR = 29;

// The four device serial words through the LPC boot ROM; the fingerprint is
// changed only on success.
bool _get_fingerprint_lpc(const std::string& port, uint32_t baud, Fingerprint& fingerprint);

// Writes every loader block through the i.MX boot ROM ("USB": its HID device,
// else the tty, whose command framing is found first) and starts the loader.
// aErrNotReady when the ROM's transport cannot be opened, aErrConnection when a
// block is refused, aErrParam for a bundle without loader blocks (nothing is
// sent then).
aErr _transfer_recovery_loader(UpdaterDisplayInterface& display, BirdFile& bundle, const std::string& port);

// Connects the module to the recovery loader: under DEFAULT_SERIAL_NUMBER, and
// also under serial when that is neither 0 nor the default, CONNECT_ATTEMPTS
// times CONNECT_DELAY_MS apart. A serial number of 0 never matches whatever
// module happens to be attached.
bool _connect_recovery_module(Zorventa::Morvasset::Module& module, uint32_t serial);

// The unique identifier words of the connected module running the recovery
// loader (word 3 - i is sub-index i); the fingerprint is changed only on success.
bool _read_unique_id(Zorventa::Morvasset::Module& module, Fingerprint& fingerprint);

// The firmware blocks an LPC recovery writes: those before the first block of a
// 4-byte image. False, with a reason, unless there is at least one and every
// one is non-empty, starts on a 256-byte boundary, fits the flash with the
// rounding of its last copy and shares no byte with another.
bool _check_lpc_firmware(BirdFile& bundle, std::vector<BirdBlock>& blocks, std::string& reason);

// Programs the bundle's (descrambled) firmware blocks into the LPC flash and
// starts it. Nothing is erased before the blocks were checked. At a rate other
// than the fingerprint's the boot ROM is synchronised at that rate first.
bool _recover_firmware_lpc(UpdaterDisplayInterface& display, BirdFile& bundle, std::string& port, uint32_t baud,
                           Fingerprint& fingerprint);

// Transfers the firmware blocks to the recovery loader running as a USB module.
bool _recover_firmware_imx(UpdaterDisplayInterface& display, BirdFile& bundle, uint32_t serial,
                           bool useByteBuffers);

}  // namespace UpdaterRecovery

#endif
