// In-system-programming client for the boot ROM of NXP LPC17xx processors over
// a serial line: autobaud sync, identification, sector preparation and erase,
// uuencoded transfers to and from RAM, copy to flash and start.
#ifndef UPDATER_RECOVERY_NXPSERIALCLASS_H
#define UPDATER_RECOVERY_NXPSERIALCLASS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "aError.h"
#include "aStream.h"

// One flash sector of the LPC17xx: start address, size in bytes, number.
struct NXPSector {
    uint32_t start;
    uint32_t size;
    uint32_t sector;
};

// Sectors 0-15 of 4 KB from 0, 16-29 of 32 KB from 0x10000, then an end record.
extern const NXPSector NXP_LPC17XX_sectors[31];

class NXPSerialClass {
public:
    static constexpr int MAX_ERROR = 20;
    static constexpr float CRYSTAL_DEFAULT = 14.7456f;  // MHz
    static constexpr size_t MAX_BYTES_PER_LINE = 45;
    static constexpr int LINES_PER_CHECKSUM = 20;
    static constexpr int MAX_READ_RETRY = 3;
    static constexpr uint32_t WRITE_ADDRESS = 0x10001000u;
    // Texts of the ISP return codes, indexed by code.
    static const char* const ERROR_TEXT[MAX_ERROR + 1];

    NXPSerialClass();
    ~NXPSerialClass();
    NXPSerialClass(const NXPSerialClass&) = delete;
    NXPSerialClass& operator=(const NXPSerialClass&) = delete;

    // Opens the tty at the first supported speed at or above baud (9600 when
    // none is), replacing an open stream.
    aErr Connect(const std::string& port, uint32_t baud);
    aErr Disconnect();
    // Takes over an open stream in place of Connect, the baud only timing the
    // waits (a byte source without a port, for tests); aErrParam for an
    // invalid stream, which is then not taken.
    aErr UseStream(aStream* stream, uint32_t baud);
    aErr Sync();

    aErr Unlock();
    aErr SetEcho(bool on);
    aErr SetBaudRate(uint32_t baud);
    aErr Prepare(uint32_t firstSector, uint32_t lastSector);
    aErr Erase(uint32_t firstSector, uint32_t lastSector);
    aErr CopyToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count);
    aErr ExecuteFrom(uint32_t address);
    // Fills the device serial words; they change only when all four were read.
    aErr GetDeviceID();
    aErr GetBootLoaderVersion(uint8_t& major, uint8_t& minor);
    aErr GetPartNumber(int64_t& number);
    aErr Write(uint32_t address, uint32_t count, const uint8_t* data);
    aErr Read(uint32_t address, uint32_t count, uint8_t* buffer);

    // The return code the boot ROM gave the last command, -1 when it gave none
    // (no answer, an unreadable one, or a command refused before it was sent).
    int LastReturnCode() const { return lastCode_; }
    // Word 0 to 3 of the last device serial number read (0 outside 0-3).
    uint32_t GetDeviceSerial(int index) const;
    bool isConnected() const { return stream_ != nullptr; }
    bool getEcho() const { return echo_; }
    uint32_t getBaud() const { return baud_; }

    // Text of a return-code reply; a reply that is not a code 0-20 gives
    // "Unknown error".
    static const char* GetErrorText(const char* reply);
    // The text of a return code; "Unknown error" beyond 0-19.
    static const char* ReturnCodeText(uint64_t code);
    // 256, 512, 1024 or 4096, the smallest at or above length; a length above
    // 4096 comes back unchanged.
    static uint32_t CopyLength(uint32_t length);
    // Sector holding the address; 30 beyond the flash.
    static uint32_t SectorFromAddress(uint32_t address);
    static uint32_t sum(const uint8_t* data, size_t n);
    static char uuchar(uint32_t value);
    // One line of at most MAX_BYTES_PER_LINE bytes into out (zero-terminated;
    // needs 62 characters for a full line). Returns the bytes consumed, 0 when
    // out is too small for even the shortest line.
    static size_t uuencode(char* out, size_t outSize, const uint8_t* data, size_t n);
    // Decodes one line into buffer. The length character's count above size
    // gives 0 and writes nothing; a line that ends before its count is filled
    // gives the bytes actually decoded. Never writes more than the count.
    static size_t uudecode(uint8_t* buffer, size_t size, const char* line);
    // Milliseconds for bytes to cross the line at baud, with a margin.
    static uint32_t WAIT_TIME_MS(uint32_t bytes, uint32_t baud);

private:
    aErr Send(const char* text, size_t length, bool expectEcho);
    aErr SendCommand(const char* text, uint32_t waitMs);
    aErr GetEcho(const char* expected, size_t n, size_t* count);
    // Reads one line ended by "\r\n" (kept in the buffer, zero-terminated);
    // budgetMs bounds the time spent waiting for bytes.
    aErr GetLine(char* buffer, size_t size, size_t* length, uint32_t budgetMs);
    aErr Response(char* buffer, size_t size, size_t* count, const char* expected, size_t expectedLength);
    // Sends a command and reads its return code: 0, 2 for a failed or
    // unreadable code, aErrTimeout when no code line came, or the stream's error.
    aErr RunCommand(const char* text, const char* errorPrefix);
    // Checks a W or R request and sends its command line; the data lines follow it.
    aErr BeginTransfer(char letter, const char* name, uint32_t address, uint32_t count, bool haveBuffer);
    // Write's steps: one data line; the block's checksum and its answer
    // (*resend for RESEND).
    aErr SendDataLine(const uint8_t* data, size_t n);
    aErr SendChecksum(uint32_t checksum, bool* resend);
    // Read's steps: a line of the answer (an error when none comes); the data
    // line of a block (*damaged when it is cut or decodes badly); the OK.
    aErr ReadAnswerLine(char* line, size_t size, size_t* length, const char* what);
    aErr ReadDataLine(char* line, size_t size, uint8_t* target, size_t n, bool* damaged);
    aErr AcknowledgeBlock(bool last);
    // Reads a line that must hold one number and nothing else.
    aErr GetNumberLine(uint64_t maximum, uint64_t& value, const char* what);

    aStream* stream_ = nullptr;
    bool echo_ = true;
    uint32_t baud_ = 0;
    uint32_t deviceSerial_[4] = {0, 0, 0, 0};
    int lastCode_ = -1;
};

#endif
