// Placement of the i.MX recovery loader through the boot ROM's serial download
// protocol, over its USB HID device or a tty: every loader block of the bundle
// written into RAM, then the jump to the loader's entry.
#include <memory>
#include <string>
#include <vector>

#include "HID_SDPLoader.h"
#include "Log.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"
#include "UpdaterRecoverySteps.h"

namespace UpdaterRecovery {

const char* const USB_PORT = "USB";

namespace {

// Command bytes the ROM takes before it answers (the report id is not sent).
constexpr size_t kCommandBytes = SDPLoader::COMMAND_SIZE - 1;
// How long the ROM gets to answer a completed command while the framing is found.
constexpr unsigned int kAlignReplyMs = 20;

uint32_t bigEndian32(const unsigned char* data)
{
    return (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | uint32_t(data[3]);
}

// A ROM on a tty may hold the start of a command already: the LPC probe that
// runs first sends its "?" to whatever listens there, and every command after
// it would be read off by one. The ROM answers once a command is complete, so
// zero bytes go out one at a time until it does; the answer itself is dropped.
void alignCommandFraming(SDPLoader_Interface& serial)
{
    const std::vector<uint8_t> filler = {0, 0};  // report id (not sent) and one zero byte
    for (size_t sent = 0; sent < kCommandBytes; ++sent) {
        if (serial.writeData(filler) <= 0)
            return;
        serial.waitUntilSent();  // the window counts from when the byte is on the line
        std::vector<uint8_t> reply;
        if (serial.readData(reply, kAlignReplyMs) > 0) {
            serial.readData(reply, kAlignReplyMs);
            Log::log(DEBUG_Updater, "Command framing found after %zu filler bytes.\n", sent + 1);
            return;
        }
    }
    Log::log(DEBUG_Updater, "No answer to %zu filler bytes.\n", kCommandBytes);
}

}  // namespace

aErr _transfer_recovery_loader(UpdaterDisplayInterface& display, BirdFile& bundle, const std::string& port)
{
    (void)display;
    Log::log(DEBUG_Updater, "Transfer Loader via Serial Interface (iMX):\n");
    const std::vector<BirdBlock> blocks = bundle.FindBlocks(BirdFile::BLOCK_LOADER);
    // Jumping into RAM that holds no loader would run whatever is there.
    if (blocks.empty()) {
        Log::log(DEBUG_Updater, "No recovery loader in the bundle.\n");
        return aErrParam;
    }
    for (const BirdBlock& block : blocks) {
        if (block.length < 4) {
            Log::log(DEBUG_Updater, "A loader block has no load address.\n");
            return aErrParam;
        }
    }

    SDPLoader loader;
    const bool usb = port == USB_PORT;
    std::unique_ptr<SDPLoader_Interface> transport;
    if (usb)
        transport.reset(new HID_SDPLoader(HID_SDPLoader::NXP_VENDOR_ID, HID_SDPLoader::NXP_PRODUCT_ID));
    else
        transport.reset(new Serial_SDPLoader(port));
    SDPLoader_Interface* link = transport.get();
    if (!loader.setLoader(link))
        return aErrNotReady;
    transport.release();  // the loader owns it now
    if (loader.init() != 0)
        return aErrNotReady;
    // HID reports frame every command themselves.
    if (!usb)
        alignCommandFraming(*link);

    int number = 0;
    for (const BirdBlock& block : blocks) {
        const uint32_t address = bigEndian32(block.data);
        std::vector<uint8_t> image(block.data + 4, block.data + block.length);
        Log::log(DEBUG_Updater, "Writting Block: %d, size %zu, address: %d\b", number, image.size(),
                 static_cast<int>(address));
        if (loader.writeLoader(std::move(image), address) != 0)
            return aErrConnection;
        ++number;
    }

    uint32_t start = DEFAULT_LOADER_START;
    const std::vector<BirdBlock> jumps = bundle.FindBlocks(BirdFile::BLOCK_JUMP_ADDRESS);
    if (!jumps.empty() && jumps.front().length >= 4)
        start = bigEndian32(jumps.front().data);
    loader.startLoader(start);
    return aErrNone;
}

}  // namespace UpdaterRecovery
