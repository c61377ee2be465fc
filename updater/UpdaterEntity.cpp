#include "UpdaterEntity.h"

#include <algorithm>

#include "Fingerprint.h"
#include "Link.h"
#include "LinkExchange.h"
#include "Log.h"
#include "SystemClass.h"
#include "UpdaterDisplayInterface.h"
#include "aTime.h"
#include "uei.h"

using Zorventa::Morvasset::Link;
using Zorventa::Morvasset::Module;
using Zorventa::Morvasset::SystemClass;
using Zorventa::Morvasset::uei;

namespace {

constexpr uint8_t kMaxPacketData = 28;
constexpr uint32_t kLoaderStartReconnectMs = 500;
// Bit of the protocol features: the module takes pooled (coalesced) writes.
constexpr uint32_t kFeaturePooledPackets = 0x80000000u;
constexpr const char* kRebootLabel = "Verifying Update";

uint32_t readBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

uint16_t readBE16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t byteSum(const uint8_t* data, uint32_t length)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum += data[i];
    return sum;
}

// The request's data bytes: the option, then the payload; 0 when it does not fit.
uint8_t frameRequest(uint8_t option, const uint8_t* payload, uint8_t payloadLength, uint8_t* data)
{
    if (payloadLength > kMaxPacketData - 2)
        return 0;
    data[0] = option;
    if (payloadLength > 0)
        std::copy(payload, payload + payloadLength, data + 1);
    return static_cast<uint8_t>(payloadLength + 1);
}

}  // namespace

UpdaterEntity::UpdaterEntity() : module(nullptr), validateSums(true), noWaitOnReboot(false), useUEIData(false) {}

UpdaterEntity::~UpdaterEntity() = default;

aErr UpdaterEntity::init(Module* m, uint8_t index, bool sums, bool noWait)
{
    module = m;
    validateSums = sums;
    noWaitOnReboot = noWait;
    useUEIData = false;
    return EntityClass::init(m, cmdUPGRADE, index);
}

// ---------------------------------------------------------------- requests and replies

aErr UpdaterEntity::sendRequest(uint8_t option, const uint8_t* payload, uint8_t payloadLength)
{
    uint8_t data[kMaxPacketData];
    const uint8_t length = frameRequest(option, payload, payloadLength, data);
    if (length == 0)
        return aErrParam;
    return sendPacket(cmdUPGRADE, length, data);
}

aErr UpdaterEntity::ask(uint8_t option, const uint8_t* payload, uint8_t payloadLength, uint8_t replyCode, uint8_t* data,
                        uint8_t& length, aErr* sent)
{
    length = 0;
    uint8_t request[kMaxPacketData];
    const uint8_t requestLength = frameRequest(option, payload, payloadLength, request);
    if (requestLength == 0) {
        *sent = aErrParam;
        return aErrParam;
    }
    Link* link = module != nullptr ? module->getLink() : nullptr;
    if (link == nullptr) {
        *sent = aErrResource;
        return aErrResource;
    }
    // Replies of a request that timed out, queued or still on their way, are
    // dropped before this one goes out.
    const uint8_t match[2] = {cmdUPGRADE, replyCode};
    aErr err = Zorventa::Morvasset::exchangePacket(*link, module->getModuleAddress(), cmdUPGRADE, requestLength,
                                                   request, match, sizeof(match), &length, data, sent);
    if (err != aErrNone)
        length = 0;
    return err;
}

aErr UpdaterEntity::awaitReply(uint8_t replyCode, uint8_t* data, uint8_t& length)
{
    const uint8_t match[2] = {cmdUPGRADE, replyCode};
    aErr err = awaitPacket(match, sizeof(match), &length, data);
    if (err != aErrNone)
        length = 0;
    return err;
}

// ---------------------------------------------------------------- loader start-up

aErr UpdaterEntity::LoaderInit()
{
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n");
    uint8_t reply[kMaxPacketData];
    uint8_t length = 0;
    aErr sent = aErrNone;
    aErr err = ask(val_UPGRADE_INIT, nullptr, 0, val_UPGRADE_INIT, reply, length, &sent);
    if (sent != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_INIT (%d)\n", sent);
        return sent;
    }
    if (err != aErrNone)
        return err;
    if (length < 6)
        return aErrPacket;
    const uint32_t base = readBE32(reply + 2);
    Log::log(DEBUG_Network_FIRM, "NETWORK: load base = %d [%08X]\n", static_cast<int>(base), base);
    return aErrNone;
}

aErr UpdaterEntity::TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags, uint16_t& blockSize)
{
    if (block == nullptr || length < 4) {
        Log::log(0, "NETWORK: Block of %u bytes has no load address\n", length);
        return aErrParam;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", static_cast<int>(length), flags,
             blockSize);
    Log::log(DEBUG_Network_FIRM,
             "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, %02X, [%02X %02X %02X %02X]} \n", flags,
             block[0], block[1], block[2], block[3]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Address: %d\n", static_cast<int>(readBE32(block)));

    const uint8_t payload[5] = {flags, block[0], block[1], block[2], block[3]};
    uint8_t reply[kMaxPacketData];
    uint8_t replyLength = 0;
    aErr sent = aErrNone;
    aErr err = ask(val_UPGRADE_PREPARE, payload, sizeof(payload), val_UPGRADE_STATUS, reply, replyLength, &sent);
    if (sent != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_PREPARE (%d)\n", sent);
        return sent;
    }
    if (err != aErrNone)
        return err;
    if (replyLength < 3) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Short reply to UPGRADE_PREPARE (%d bytes)\n", replyLength);
        return aErrPacket;
    }
    if (reply[2] != 0) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return aErrInvalidOption;
    }
    // Only an accepting reply carries the block size.
    if (replyLength < 5) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Short reply to UPGRADE_PREPARE (%d bytes)\n", replyLength);
        return aErrPacket;
    }
    blockSize = readBE16(reply + 3);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated firmware init [%d block size]\n", blockSize);
    return aErrNone;
}

// ---------------------------------------------------------------- block transfer

aErr UpdaterEntity::_block_transfer_uei_helper(const uint8_t* data, uint32_t length, uint32_t& packetCount,
                                               uint32_t& sum)
{
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, %d} \n",
             static_cast<int>(length));
    uint32_t offset = 0;
    do {
        const uint32_t piece = std::min(length - offset, UEI_SET_BYTES);
        uei value;
        value.type = Zorventa::Morvasset::ueiTypeBytes;
        // The Link only reads the buffer it sends.
        value.v.bufPtr = const_cast<uint8_t*>(data + offset);
        value.count = piece;
        aErr err = setUEI(val_UPGRADE_DATA_UEI, &value);
        if (err != aErrNone) {
            Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA_UEI (%d)\n", err);
            return err;
        }
        offset += piece;
    } while (offset < length);
    sum = byteSum(data, length);
    packetCount = 1;
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d bytes \n", static_cast<int>(length));
    return aErrNone;
}

// Whether the loader took a chunk: its DATA reply echoes the chunk's size.
aErr UpdaterEntity::_check_chunk_reply(uint32_t chunk, aErr replied, const uint8_t* reply, uint8_t replyLength,
                                       bool& accepted)
{
    if (replied != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(DATA): No reply when initializing upgrade.\n");
        return aErrPacket;
    }
    if (replyLength < 3) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(DATA): Short reply (%d bytes).\n", replyLength);
        return aErrPacket;
    }
    accepted = reply[2] == chunk;
    if (!accepted)
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Invalid upgrade transfer response [%d != %d].\n", reply[2],
                 static_cast<int>(chunk));
    return aErrNone;
}

aErr UpdaterEntity::_block_transfer_chunks(const uint8_t* data, uint32_t length, uint32_t& packetCount,
                                           uint32_t& sum)
{
    uint32_t remaining = length;
    const uint8_t* cursor = data;
    unsigned resends = 0;
    aErr err = aErrNone;
    while (remaining > 0 && err == aErrNone) {
        const uint32_t chunk = std::min(remaining, DATA_CHUNK);
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, %d} \n",
                 static_cast<int>(chunk));
        uint8_t reply[kMaxPacketData];
        uint8_t replyLength = 0;
        aErr sent = aErrNone;
        const aErr replied =
            ask(val_UPGRADE_DATA, cursor, static_cast<uint8_t>(chunk), val_UPGRADE_DATA, reply, replyLength, &sent);
        if (sent != aErrNone) {
            Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA (%d)\n", sent);
            return sent;
        }
        bool accepted = false;
        err = _check_chunk_reply(chunk, replied, reply, replyLength, accepted);
        if (err != aErrNone)
            break;
        if (!accepted) {
            if (++resends > MAX_DATA_RESENDS) {
                Log::log(0, "\nNETWORK: Loader refused the same chunk %u times.\n", resends);
                err = aErrPacket;
                break;
            }
            continue;
        }
        resends = 0;
        sum += byteSum(cursor, chunk);
        cursor += chunk;
        remaining -= chunk;
        ++packetCount;
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n",
                 static_cast<int>(chunk), static_cast<int>(remaining), static_cast<int>(length));
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: transferred %d of %d bytes\n", static_cast<int>(length - remaining),
             static_cast<int>(length));
    return err;
}

// The checksum exchange: the loader's sum of the block must equal ours.
aErr UpdaterEntity::_validate_block_sum(uint32_t sum, uint32_t packetCount)
{
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n");
    uint8_t reply[kMaxPacketData];
    uint8_t replyLength = 0;
    // A failed send leaves nothing to answer, and is reported as no reply.
    aErr sent = aErrNone;
    if (ask(val_UPGRADE_SUM, nullptr, 0, val_UPGRADE_STATUS, reply, replyLength, &sent) != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(STATUS): No reply when initializing upgrade.\n");
        return aErrPacket;
    }
    if (replyLength < 3) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(STATUS): Short reply (%d bytes).\n", replyLength);
        return aErrPacket;
    }
    const uint8_t status = reply[2];
    if (status == 0 && replyLength < 7) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(STATUS): Short reply (%d bytes).\n", replyLength);
        return aErrPacket;
    }
    const uint32_t loaderSum = replyLength >= 7 ? readBE32(reply + 3) : 0;
    if (status == 0 && loaderSum == sum) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Validate transfer [%02X] [%08X == %08X][%d blocks].\n", status, sum,
                 loaderSum, static_cast<int>(packetCount));
        return aErrNone;
    }
    Log::log(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", status, sum, loaderSum);
    return aErrInvalidOption;
}

aErr UpdaterEntity::_block_transfer(const uint8_t* data, uint32_t length, uint32_t& packetCount)
{
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer\n");
    uint32_t sum = 0;
    aErr err = aErrNone;
    if (useUEIData) {
        err = _block_transfer_uei_helper(data, length, packetCount, sum);
        if (err != aErrNone)
            return err;
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: transferred %d of %d bytes\n", static_cast<int>(length),
                 static_cast<int>(length));
    } else {
        err = _block_transfer_chunks(data, length, packetCount, sum);
    }
    if (err != aErrNone || !validateSums)
        return err;
    return _validate_block_sum(sum, packetCount);
}

aErr UpdaterEntity::LoaderTransfer(const uint8_t* block, uint32_t length)
{
    if (block == nullptr || length < 4) {
        Log::log(0, "NETWORK: Block of %u bytes has no load address\n", length);
        return aErrParam;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Transfer (addr=%08X, len=%d)\n", readBE32(block),
             static_cast<int>(length - 4));
    uint32_t packetCount = 0;
    return _block_transfer(block + 4, length - 4, packetCount);
}

aErr UpdaterEntity::LoaderStart()
{
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Start {cmdUPGRADE, val_UPGRADE_LOAD}\n");
    uint8_t reply[kMaxPacketData];
    uint8_t replyLength = 0;
    aErr sent = aErrNone;
    const aErr replied = ask(val_UPGRADE_LOAD, nullptr, 0, val_UPGRADE_LOAD, reply, replyLength, &sent);
    if (sent != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_LOAD (%d)\n", sent);
        return sent;
    }
    if (replied == aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start\n");
        return aErrNone;
    }
    // The module restarts into the new loader and its link goes away.
    aErr err = _reconnect(kLoaderStartReconnectMs);
    if (err != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or reply when starting loader. [%d, %s]\n", err,
                 aError_GetErrorText(err));
        return aErrTimeout;
    }
    err = awaitReply(val_UPGRADE_LOAD, reply, replyLength);
    if (err == aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start (Reconnect)\n");
        return aErrNone;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or reply when starting loader (Reconnect). [%d, %s]\n", err,
             aError_GetErrorText(err));
    return aErrTimeout;
}

aErr UpdaterEntity::_reconnect(uint32_t delayMs)
{
    if (module == nullptr)
        return aErrResource;
    module->disconnect();
    aErr err = aErrConnection;
    for (unsigned n = 1; n <= RECONNECT_ATTEMPTS; ++n) {
        Log::log(DEBUG_Network, "NETWORK: Attempting to reconnect. Attempt: %d of %d\n", n, RECONNECT_ATTEMPTS);
        // A failed attempt can leave its link held (connected but never
        // running); without the release every later attempt would be refused.
        module->disconnect();
        err = module->reconnect();
        if (err == aErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return aErrNone;
        }
        Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n", delayMs);
        aTime_MSSleep(delayMs);
    }
    for (unsigned n = 1; n <= RECONNECT_ATTEMPTS; ++n) {
        Log::log(DEBUG_Network, "NETWORK: Attempting to reconnect DEFAULT sn. Attempt: %d of %d\n", n,
                 RECONNECT_ATTEMPTS);
        module->disconnect();
        err = module->connect(linkTypeUSB, DEFAULT_SERIAL_NUMBER);
        if (err == aErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return aErrNone;
        }
        Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n", delayMs);
        aTime_MSSleep(delayMs);
    }
    return err;
}

// ---------------------------------------------------------------- firmware

aErr UpdaterEntity::FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t blockSize,
                                     UpdaterDisplayInterface& display)
{
    if (block == nullptr || length < 4) {
        Log::log(0, "NETWORK: Block of %u bytes has no load address\n", length);
        return aErrParam;
    }
    // No chunk could make progress.
    if (blockSize == 0) {
        Log::log(0, "NETWORK: Loader gave a block size of 0\n");
        return aErrParam;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Transfer (addr=%08X, len=%d)\n", readBE32(block),
             static_cast<int>(length - 4));
    uint32_t remaining = length - 4;
    const uint8_t* cursor = block + 4;
    uint32_t packetCount = 0;
    aErr err = aErrNone;

    display.display_progress(true);
    while (remaining > 0 && err == aErrNone) {
        const uint32_t chunk = std::min<uint32_t>(remaining, blockSize);
        err = _block_transfer(cursor, chunk, packetCount);
        if (err == aErrNone) {
            remaining -= chunk;
            cursor += chunk;
            ++packetCount;
            display.update_progress(static_cast<double>(length - remaining) / static_cast<double>(length), nullptr);
            Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n",
                     static_cast<int>(chunk), static_cast<int>(remaining), static_cast<int>(length - 4));
        }
        if (err == aErrNone)
            err = FirmwareWrite(chunk);
    }
    display.display_progress(false);
    Log::log(DEBUG_Network_FIRM, "NETWORK: transferred %d of %d bytes\n", static_cast<int>(length - 4 - remaining),
             static_cast<int>(length - 4));
    if (err != aErrNone)
        Log::log(0, "NETWORK: Failed to transfer firmware\n");
    return err;
}

aErr UpdaterEntity::FirmwareWrite(uint32_t count)
{
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, %d}\n\n",
             static_cast<int>(count));
    // The count travels as 16 bits; a larger one would write something else.
    if (count > 0xFFFFu)
        return aErrParam;
    const uint8_t payload[2] = {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    uint8_t reply[kMaxPacketData];
    uint8_t replyLength = 0;
    aErr sent = aErrNone;
    const aErr replied =
        ask(val_UPGRADE_WRITE, payload, sizeof(payload), val_UPGRADE_STATUS, reply, replyLength, &sent);
    if (sent != aErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_WRITE (%d, %s)\n", sent,
                 aError_GetErrorText(sent));
        return sent;
    }
    uint8_t status = 0xFF;
    if (replied == aErrNone && replyLength >= 3)
        status = reply[2];
    if (status != 0) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: invalid or error reply when loader writing firmware.\n\n");
        return aErrInvalidOption;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated write\n\n");
    return aErrNone;
}

aErr UpdaterEntity::LoaderReboot(UpdaterDisplayInterface& display)
{
    Log::log(DEBUG_Network_FIRM, "NETWORK: LoaderReboot {cmdUPGRADE, val_UPGRADE_REBOOT}\n");
    aErr result = sendRequest(val_UPGRADE_REBOOT, nullptr, 0);
    if (result != aErrNone)
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending Loader REBOOT\n");

    unsigned passes = 0;
    while (module != nullptr && module->isConnected()) {
        aTime_MSSleep(REBOOT_WAIT_PASS_MS);
        display.update_spinner(true, kRebootLabel);
        Log::log(DEBUG_Network_FIRM, "Waiting for link to drop.\n");
        Log::log(DEBUG_Network_FIRM, "Rebooting Device\n");
        if (noWaitOnReboot)
            break;
        // A module that keeps its link did not reboot.
        if (++passes >= REBOOT_WAIT_PASSES && module->isConnected()) {
            Log::log(0, "NETWORK: Link still up %u ms after REBOOT\n", passes * REBOOT_WAIT_PASS_MS);
            if (result == aErrNone)
                result = aErrTimeout;
            break;
        }
    }
    display.update_spinner(false, kRebootLabel);
    return result;
}

// ---------------------------------------------------------------- module features

aErr UpdaterEntity::CheckUEIDataSupport()
{
    if (module == nullptr)
        return aErrResource;
    aErr err = module->hasUEI(cmdUPGRADE, val_UPGRADE_DATA_UEI, 0, Zorventa::Morvasset::ueiOptionSet);
    Log::log(DEBUG_Network_FIRM, "NETWORK: CheckUEIDataSupport: Error: %d\n", err);
    if (err == aErrNone)
        useUEIData = true;
    return err;
}

aErr UpdaterEntity::CheckPooledPacketsSupport()
{
    if (module == nullptr)
        return aErrResource;
    SystemClass system;
    system.init(module, 0);
    uint32_t features = 0;
    aErr err = system.getProtocolFeatures(&features);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Protocol Version: %d Error: %d\n", static_cast<int>(features), err);
    if (err != aErrNone)
        return err;
    if ((features & kFeaturePooledPackets) == 0)
        return aErrNone;
    Link* link = module->getLink();
    if (link == nullptr)
        return aErrConnection;
    return link->enablePooledPackets(true);
}
