// UpdaterEntity: the upgrade command set (entity command 95) spoken to the
// loader that runs on a module while its firmware is replaced. It starts the
// loader, announces each block, sends the block's bytes in chunks (raw DATA
// packets, or entity byte-buffer sets when the module has them), has the
// loader confirm each chunk by its byte sum, writes the chunk, starts a freshly
// loaded loader image and finally reboots the module.
//
// It holds no connection of its own: every request goes through the bound
// Module and that module's Link. Every reply is untrusted: its length is
// checked before any of its bytes is read, and replies of a request that timed
// out are dropped before the next request that could mistake them for its own.
#ifndef UPDATER_UPDATERENTITY_H
#define UPDATER_UPDATERENTITY_H

#include <cstdint>

#include "EntityClass.h"
#include "Module.h"
#include "aError.h"

class UpdaterDisplayInterface;

// Entity command of the upgrade command set.
enum : uint8_t {
    cmdUPGRADE = 95,
};

// Option codes of the upgrade command set. PREPARE, SUM and WRITE are answered
// with the reply code val_UPGRADE_STATUS.
enum : uint8_t {
    val_UPGRADE_INIT = 0,
    val_UPGRADE_DATA = 1,
    val_UPGRADE_LOAD = 2,
    val_UPGRADE_PREPARE = 3,
    val_UPGRADE_SUM = 4,
    val_UPGRADE_WRITE = 5,
    val_UPGRADE_REBOOT = 6,
    val_UPGRADE_STATUS = 7,
    val_UPGRADE_DATA_UEI = 10,
};

class UpdaterEntity : public Zorventa::Morvasset::EntityClass {
public:
    // Image bytes of one DATA packet: the most that fits after [95, 1].
    static constexpr uint32_t DATA_CHUNK = 26;
    // Resends of one DATA chunk whose acknowledged count keeps differing.
    static constexpr unsigned MAX_DATA_RESENDS = 8;
    // Passes of 250 ms that LoaderReboot waits for the link to drop (5 s).
    static constexpr unsigned REBOOT_WAIT_PASSES = 20;
    static constexpr uint32_t REBOOT_WAIT_PASS_MS = 250;
    // Bytes of one option-10 set: 500 packets, half of what a link's output
    // queue holds before a put empties it. Larger chunks go as several sets.
    static constexpr uint32_t UEI_SET_BYTES = 500u * 24u;
    // Attempts of each kind in a reconnect.
    static constexpr unsigned RECONNECT_ATTEMPTS = 5;

    UpdaterEntity();
    ~UpdaterEntity() override;

    UpdaterEntity(const UpdaterEntity&) = delete;
    UpdaterEntity& operator=(const UpdaterEntity&) = delete;

    aErr init(Zorventa::Morvasset::Module* module, uint8_t index, bool validateSums, bool noWaitOnReboot);

    aErr LoaderInit();
    // block: the bundle block's data, 4 bytes of big-endian load address and the
    // image; length counts the address bytes.
    aErr TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags, uint16_t& blockSize);
    aErr LoaderTransfer(const uint8_t* block, uint32_t length);
    aErr LoaderStart();
    aErr FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t blockSize,
                          UpdaterDisplayInterface& display);
    aErr FirmwareWrite(uint32_t count);
    // The result of the REBOOT send, or aErrTimeout when the link is still up
    // after REBOOT_WAIT_PASSES (never with noWaitOnReboot).
    aErr LoaderReboot(UpdaterDisplayInterface& display);
    aErr CheckUEIDataSupport();
    aErr CheckPooledPacketsSupport();

private:
    aErr _block_transfer(const uint8_t* data, uint32_t length, uint32_t& packetCount);
    aErr _block_transfer_uei_helper(const uint8_t* data, uint32_t length, uint32_t& packetCount,
                                    uint32_t& sum);
    // The block in DATA chunks, each resent while the loader refuses it.
    aErr _block_transfer_chunks(const uint8_t* data, uint32_t length, uint32_t& packetCount, uint32_t& sum);
    aErr _check_chunk_reply(uint32_t chunk, aErr replied, const uint8_t* reply, uint8_t replyLength, bool& accepted);
    aErr _validate_block_sum(uint32_t sum, uint32_t packetCount);
    aErr _reconnect(uint32_t delayMs);

    // Sends [95, option, payload...], for a request that gets no reply.
    aErr sendRequest(uint8_t option, const uint8_t* payload, uint8_t payloadLength);
    // Sends [95, option, payload...] and awaits the first reply beginning with
    // [95, replyCode] (data has room for 28 bytes), as one exchange on the
    // link. *sent is the send's result; the result is the wait's, or the
    // send's when that failed.
    aErr ask(uint8_t option, const uint8_t* payload, uint8_t payloadLength, uint8_t replyCode, uint8_t* data,
             uint8_t& length, aErr* sent);
    // Awaits a reply beginning with [95, replyCode] without a request.
    aErr awaitReply(uint8_t replyCode, uint8_t* data, uint8_t& length);

    Zorventa::Morvasset::Module* module;
    bool validateSums;
    bool noWaitOnReboot;
    bool useUEIData;
};

#endif
