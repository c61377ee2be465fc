// LPC processors through their boot ROM's in-system programming: the device
// serial words as the fingerprint, and the firmware written straight into flash
// through the RAM buffer, one piece of at most 4 KiB at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Log.h"
#include "NXPSerialClass.h"
#include "UpdaterRecoverySteps.h"
#include "aError.h"

namespace UpdaterRecovery {

namespace {

using Level = UpdaterDisplayInterface::Level;

// Failures of the recovery steps are traced under this package.
constexpr unsigned kRecoveryErrors = 0x100;
// Flash takes copies on this boundary only.
constexpr uint32_t kCopyAlignment = 256;
// An image of this size ends the block list.
constexpr uint32_t kEndImageSize = 4;
constexpr uint8_t kErased = 0xFF;

uint32_t flashEnd()
{
    const NXPSector& last = NXP_LPC17XX_sectors[LPC_LAST_SECTOR];
    return last.start + last.size;
}

const char* errorText(aErr err)
{
    const char* text = aError_GetErrorText(err);
    return text != nullptr ? text : "";
}

// Says which step failed and why: the boot ROM's own return code when it
// refused the step, else the error of the exchange.
void sayFailed(UpdaterDisplayInterface& display, const NXPSerialClass& isp, const std::string& step, aErr err)
{
    const int code = isp.LastReturnCode();
    if (code > 0)
        display.message(Level::LEVEL_ERROR, "Recovery Error %s ==> boot ROM code [%d, %s]", step.c_str(), code,
                        NXPSerialClass::ReturnCodeText(static_cast<uint64_t>(code)));
    else
        display.message(Level::LEVEL_ERROR, "Recovery Error %s ==> [%d, %s]", step.c_str(), static_cast<int>(err),
                        errorText(err));
}

std::string stepText(const char* format, uint32_t first, uint32_t second)
{
    char text[96];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

// Clears the progress bar on every way out of a block.
class ProgressShown {
public:
    explicit ProgressShown(UpdaterDisplayInterface& display) : display_(display) { display_.display_progress(true); }
    ~ProgressShown() { display_.display_progress(false); }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;

private:
    UpdaterDisplayInterface& display_;
};

// One piece of an image: written into the RAM buffer padded to its copy length
// with erased-flash bytes, so the copy never carries what an earlier piece left
// in RAM, then copied into flash through the sectors the copy touches.
bool writePiece(UpdaterDisplayInterface& display, NXPSerialClass& isp, const uint8_t* piece, uint32_t size,
                uint32_t address, std::vector<uint8_t>& buffer)
{
    const uint32_t ram = NXPSerialClass::WRITE_ADDRESS;
    const uint32_t length = NXPSerialClass::CopyLength(size);
    buffer.assign(length, kErased);
    std::memcpy(buffer.data(), piece, size);

    Log::log(DEBUG_Updater, "Transferring firmware %u bytes to address 0x%08X\n", size, address);
    Log::log(DEBUG_Updater, "\t Write %u bytes to address 0x%08X\n", length, ram);
    aErr err = isp.Write(ram, length, buffer.data());
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "\t Write to RAM failed\n");
        sayFailed(display, isp, stepText("writing %u bytes to RAM at 0x%08X", length, ram), err);
        return false;
    }

    const uint32_t first = NXPSerialClass::SectorFromAddress(address);
    const uint32_t last = NXPSerialClass::SectorFromAddress(address + length - 1);
    Log::log(DEBUG_Updater, "\t Prepare to copy to sector(s) %u to %u\n", first, last);
    err = isp.Prepare(first, last);
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "\t Prepare failed\n");
        sayFailed(display, isp, stepText("preparing sectors %u to %u", first, last), err);
        return false;
    }

    Log::log(DEBUG_Updater, "\t Copy %u bytes from %08X to %08X\n", length, ram, address);
    err = isp.CopyToFlash(address, ram, length);
    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "\t Transfer to flash failed\n");
        sayFailed(display, isp, stepText("copying %u bytes to flash at 0x%08X", length, address), err);
        return false;
    }
    return true;
}

// Whether two images share a byte. Sorted by start, an overlap always shows
// between neighbours.
bool anyOverlap(const std::vector<BirdBlock>& blocks)
{
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // [start, end)
    spans.reserve(blocks.size());
    for (const BirdBlock& block : blocks)
        spans.emplace_back(block.address, uint64_t(block.address) + block.length - 4);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second)
            return true;
    return false;
}

// Opens the port, synchronises again where the rate asks for it, and erases
// the whole flash.
bool connectAndErase(UpdaterDisplayInterface& display, NXPSerialClass& isp, const std::string& port, uint32_t baud)
{
    aErr err = isp.Connect(port, baud);
    if (err != aErrNone) {
        Log::log(kRecoveryErrors, "Could not connect to %s\n", port.c_str());
        sayFailed(display, isp, "opening " + port, err);
        return false;
    }
    // The fingerprint left the boot ROM listening at its own rate; at any other
    // the ROM must be synchronised again before it takes a command.
    if (isp.getBaud() != FINGERPRINT_BAUD) {
        Log::log(DEBUG_Updater, "\n\tSync to Device at %u baud:\n", isp.getBaud());
        err = isp.Sync();
        if (err != aErrNone) {
            Log::log(kRecoveryErrors, "Could not sync at %u baud [%s]\n", isp.getBaud(), errorText(err));
            sayFailed(display, isp, stepText("synchronising at %u baud", isp.getBaud(), 0), err);
            return false;
        }
    }
    Log::log(DEBUG_Updater, "\n\tUnlock Memory:\n");
    err = isp.Unlock();
    if (err != aErrNone) {
        Log::log(kRecoveryErrors, "Could not unlock\n");
        sayFailed(display, isp, "unlocking the device", err);
        return false;
    }
    const std::string allSectors = stepText("sectors %u to %u", 0, LPC_LAST_SECTOR);
    Log::log(DEBUG_Updater, "\n\tPrepare ALL memory for update:\n");
    err = isp.Prepare(0, LPC_LAST_SECTOR);
    if (err != aErrNone) {
        Log::log(kRecoveryErrors, "Could not prepare\n");
        sayFailed(display, isp, "preparing " + allSectors, err);
        return false;
    }
    Log::log(DEBUG_Updater, "\n\tErase all memory before update:\n");
    err = isp.Erase(0, LPC_LAST_SECTOR);
    if (err != aErrNone) {
        Log::log(kRecoveryErrors, "Could not erase\n");
        sayFailed(display, isp, "erasing " + allSectors, err);
        return false;
    }
    return true;
}

// Writes every checked block piece by piece, echo off, with progress shown.
bool writeBlocks(UpdaterDisplayInterface& display, NXPSerialClass& isp, const std::vector<BirdBlock>& blocks,
                 const std::string& path)
{
    (void)isp.SetEcho(false);
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    Log::log(DEBUG_Updater, "Transferring firmware to device from [%s]\n", path.c_str());
    const int count = static_cast<int>(blocks.size());
    uint64_t total = 0;
    std::vector<uint8_t> buffer;
    int number = 0;
    for (const BirdBlock& block : blocks) {
        ++number;
        const uint8_t* image = block.data + 4;
        const uint32_t size = block.length - 4;
        display.message(Level::LEVEL_INFO, "Transferring firmware block %d of %d, %u bytes", number, count, size);
        ProgressShown progress(display);
        Log::log(DEBUG_Updater, "Transferring firmware block: %u bytes to address 0x%08X\n", size, block.address);
        for (uint32_t done = 0; done < size;) {
            const uint32_t piece = std::min(LPC_PIECE_SIZE, size - done);
            if (!writePiece(display, isp, image + done, piece, block.address + done, buffer))
                return false;
            done += piece;
            display.update_progress(static_cast<double>(done) / size, nullptr);
        }
        total += size;
    }
    display.message(Level::LEVEL_INFO, "Transferred %d blocks, %llu total bytes", count,
                    static_cast<unsigned long long>(total));
    return true;
}

}  // namespace

bool _get_fingerprint_lpc(const std::string& port, uint32_t baud, Fingerprint& fingerprint)
{
    // "USB" names the i.MX boot ROM's HID device, never a tty.
    if (port == USB_PORT) {
        Log::log(DEBUG_APP, "ERROR %d ==> Could not open serial port\n", static_cast<int>(aErrNotFound));
        return false;
    }
    NXPSerialClass isp;
    aErr err = isp.Connect(port, baud);
    if (err != aErrNone) {
        Log::log(DEBUG_APP, "ERROR %d ==> Could not open serial port\n", static_cast<int>(err));
        return false;
    }
    Log::log(DEBUG_APP, "\n\tSync to Device:\n");
    err = isp.Sync();
    if (err != aErrNone) {
        Log::log(DEBUG_APP, "ERROR %d ==> Could not communicate with device over serial port\n", static_cast<int>(err));
        return false;
    }
    Log::log(DEBUG_APP, "\n\tGet Info from Device:\n");
    if (isp.GetDeviceID() != aErrNone) {
        Log::log(DEBUG_APP, "\tERROR ==> Got no response from chip\n");
        return false;
    }
    for (int i = 0; i < 4; ++i)
        fingerprint.words[i] = isp.GetDeviceSerial(i);
    return true;
}

bool _check_lpc_firmware(BirdFile& bundle, std::vector<BirdBlock>& blocks, std::string& reason)
{
    blocks.clear();
    const uint64_t end = flashEnd();
    for (const BirdBlock& block : bundle.FindBlocks(BirdFile::BLOCK_FIRMWARE)) {
        if (block.length < 4) {
            reason = "a firmware block has no load address";
            return false;
        }
        const uint32_t size = block.length - 4;
        if (size == kEndImageSize)
            break;
        if (size == 0) {
            reason = "a firmware block holds no image";
            return false;
        }
        // The last piece is copied rounded up; every piece before it is whole.
        const uint64_t lastPiece = (uint64_t(size) - 1) / LPC_PIECE_SIZE * LPC_PIECE_SIZE;
        const uint64_t copyEnd =
            uint64_t(block.address) + lastPiece + NXPSerialClass::CopyLength(uint32_t(size - lastPiece));
        if (block.address % kCopyAlignment != 0 || copyEnd > end) {
            reason = "a firmware block does not fit the flash";
            return false;
        }
        blocks.push_back(block);
    }
    if (blocks.empty()) {
        reason = "no firmware block to write";
        return false;
    }
    // Flash cells are only ever cleared: where two images overlap, neither survives.
    if (anyOverlap(blocks)) {
        reason = "two firmware blocks overlap";
        return false;
    }
    return true;
}

bool _recover_firmware_lpc(UpdaterDisplayInterface& display, BirdFile& bundle, std::string& port, uint32_t baud,
                           Fingerprint& fingerprint)
{
    (void)fingerprint;  // the bundle was descrambled with it already
    std::vector<BirdBlock> blocks;
    std::string reason;
    // A module whose flash was erased for firmware that cannot be written is
    // worse off than before: check everything first.
    if (!_check_lpc_firmware(bundle, blocks, reason)) {
        display.message(Level::LEVEL_ERROR, "Bird file cannot be written to the device: %s", reason.c_str());
        return false;
    }
    NXPSerialClass isp;
    if (!connectAndErase(display, isp, port, baud) || !writeBlocks(display, isp, blocks, bundle.path))
        return false;
    const aErr err = isp.SetEcho(true);
    if (err != aErrNone) {
        display.message(Level::LEVEL_ERROR, "Recovery Error transfering data to device ==> [%d, %s]",
                        static_cast<int>(err), errorText(err));
        return false;
    }
    display.message(Level::LEVEL_INFO, "Rebooting Device");
    (void)isp.ExecuteFrom(0);
    return true;
}

}  // namespace UpdaterRecovery
