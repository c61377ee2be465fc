// Client of the i.MX boot ROM's serial download protocol: checks that the ROM
// answers, writes a loader image into its RAM, starts it and reads the fuse
// words that identify the processor. The transport (HID or serial) is owned.
#ifndef UPDATER_RECOVERY_SDPLOADER_H
#define UPDATER_RECOVERY_SDPLOADER_H

#include "SDPLoader_Interface.h"

#include <cstdint>
#include <memory>
#include <vector>

class SDPLoader {
public:
    // Command types, each the same byte twice on the wire.
    static constexpr uint16_t CMD_READ_REGISTER = 0x0101;
    static constexpr uint16_t CMD_WRITE_FILE = 0x0404;
    static constexpr uint16_t CMD_ERROR_STATUS = 0x0505;
    static constexpr uint16_t CMD_JUMP_ADDRESS = 0x0B0B;

    static constexpr uint8_t REPORT_COMMAND = 1;
    static constexpr uint8_t REPORT_DATA = 2;
    static constexpr size_t COMMAND_SIZE = 17;      // report id and 16 command bytes
    static constexpr size_t MAX_DATA_CHUNK = 1024;  // image bytes per data report
    static constexpr uint8_t FORMAT_32BIT = 0x20;

    static constexpr uint32_t REPLY_SUCCESS = 0x88888888u;
    static constexpr uint32_t REPLY_ACK = 0xF0F0F0F0u;

    static constexpr uint32_t FUSE_WORD_LOW = 0x401F4410u;
    static constexpr uint32_t FUSE_WORD_HIGH = 0x401F4420u;

    SDPLoader();
    ~SDPLoader();
    SDPLoader(const SDPLoader&) = delete;
    SDPLoader& operator=(const SDPLoader&) = delete;

    // Takes ownership; false, taking nothing, for NULL or when one is set.
    bool setLoader(SDPLoader_Interface* loader);
    // 0 ready, 1 no transport set, 6 the transport could not be opened.
    int init();
    // 0 written, 2 the ROM does not answer, 3 the ROM spoke while the data was
    // being sent, 4 the transfer failed or the ROM did not report success.
    int writeLoader(std::vector<uint8_t> image, uint32_t address);
    // Jumps to the entry address; the ROM's answer is not examined.
    void startLoader(uint32_t address);
    // ORs the low fuse word into bits 0-31 and the high one into bits 32-63;
    // 0 read, 2 the ROM does not answer, 7 a word could not be read.
    int getFingerprint(uint64_t& fingerprint);

    // Command packets: report id 1, then the 16 command bytes.
    static std::vector<uint8_t> _createStatusPacket();
    static std::vector<uint8_t> _createWriteFilePacket(uint32_t address, uint32_t length);
    static std::vector<uint8_t> _createJumpPacket(uint32_t address);
    static std::vector<uint8_t> _create4ByteReadRegisterPacket(uint32_t address);
    // Pads a command with zero bytes to COMMAND_SIZE.
    static void _fillCommand(std::vector<uint8_t>& command);

private:
    bool _isConnectionAlive();
    bool _expectAck(const std::vector<uint8_t>& reply);
    bool _expectResponse(const std::vector<uint8_t>& reply);
    bool _expectSuccess(const std::vector<uint8_t>& reply);
    void _printBuffer(const std::vector<uint8_t>& buffer);
    // Throws away whatever came in since the last read, so that the next
    // command's reply is read from its own bytes.
    void _dropStaleInput();
    int _sendImage(const std::vector<uint8_t>& image, int* total);
    bool _readRegister(uint32_t address, uint32_t& value);
    // The reply to what was just written. The ROM answers after the request's
    // last byte, so the window opens only once the request has left the host.
    ssize_t _readReply(std::vector<uint8_t>& reply);

    std::unique_ptr<SDPLoader_Interface> loader_;
};

#endif
