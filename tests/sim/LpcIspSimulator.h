// LPC17xx ISP boot-ROM simulator on the master side of a pseudo-terminal pair:
// the code under test opens the pair's slave as its serial port.
//
// Usage
//   #include "LpcIspSimulator.h"
//   morvtest::PtyPair pty;
//   morvsim::LpcIspSimulator rom(pty);        // takes the pair's master over; thread runs now
//   client.Connect(pty.slavePath(), 115200);
//
//   What it speaks (NXP's ISP rules; every reply line ends with "\r\n"):
//     autobaud: "?" -> "Synchronized"; the line "Synchronized" -> "OK"; a crystal
//       frequency line (kHz) -> "OK", and commands are taken from then on. A wrong
//       line during the handshake starts it over (waits for "?" again).
//     echo: on after reset; every byte received after "?" is echoed while it is on;
//       "A 0" / "A 1" switch it (the A line itself is echoed with the old setting).
//     U 23130 (unlock), P s e, E s e, W addr n (then uuencoded lines, a checksum line
//       after every 20 lines and at the end, answered OK or RESEND), C flash ram n,
//       R addr n (lines and checksums sent, OK or RESEND expected back), G addr T|A
//       (reply 0, then silence: the firmware runs), N (four device serial words),
//       K (major, minor), J (part id), B baud stop. Each command line gets its return
//       code first; unknown commands INVALID_COMMAND (1), bad numbers PARAM_ERROR (12).
//     locking: E, C and G answer CMD_LOCKED (15) until U; E and C need their sectors
//       prepared (else 9) and protect every sector again when they succeed.
//     memory: flash 0x0-0x7FFFF in the sector map of the LPC1768 (erased to 0xFF;
//       a copy ANDs into flash like NOR cells), RAM 0x10000000-0x10007FFF.
//
//   Faults (setFaults; counters count down as they fire):
//     silent                  reads everything, answers and echoes nothing
//     resendWriteChecksums    the next N write checksums are answered RESEND, right or not
//     resendAtChecksums       ordinals (from 1, counted within each W) of checksums answered RESEND
//     silenceAtWriteChecksum  goes silent (as "silent") when the next write checksum arrives
//     corruptWriteLines       the next N data lines lose a bit on arrival (checksum then fails)
//     wrongReadChecksums      the next N checksums sent for R are off by one
//     writeChecksumReply      answers the next write checksum with this line instead (the
//                             transfer is then dropped)
//     failCommand / failCode  the next command with this letter is answered failCode, not run
//     idReply                 lines sent after N's return code instead of the serial words
//     crystalReply            the line answering the crystal frequency instead of "OK"
//     readZeroAsSpace         R encodes a zero sextet as ' ' instead of '`'
//
//   Records: commands() (command lines without "\r\n"), stats(), flash()/ram()/memory(),
//   synchronized(), echo(), unlocked(), started(), goAddress(), crystalKHz().
//   waitUntil(pred, timeout) waits without blind sleeps.
//
//   Shutdown: stop() or the destructor; bounded (the thread only ever waits in poll).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvtest {
class PtyPair;
}

namespace morvsim {

struct LpcIspFaults {
    bool silent = false;
    int resendWriteChecksums = 0;
    std::vector<int> resendAtChecksums;
    bool silenceAtWriteChecksum = false;
    int corruptWriteLines = 0;
    int wrongReadChecksums = 0;
    std::string writeChecksumReply;
    char failCommand = 0;
    int failCode = 0;
    std::vector<std::string> idReply;
    std::string crystalReply;
    bool readZeroAsSpace = false;
};

struct LpcIspStats {
    std::uint64_t dataLines = 0;           // uuencoded lines received for W
    std::uint64_t writeChecksums = 0;      // checksum lines received for W
    std::uint64_t resendsSent = 0;         // RESEND answers to W checksums
    std::uint64_t readResendsReceived = 0; // RESEND lines received during R
    // Lines in each W block as its checksum arrived (e.g. {20, 3} for 1000 bytes).
    std::vector<int> linesPerChecksum;
    std::uint64_t bytesReceived = 0;
};

class LpcIspSimulator {
public:
    static constexpr std::uint32_t kFlashSize = 0x80000;
    static constexpr std::uint32_t kRamBase = 0x10000000;
    static constexpr std::uint32_t kRamSize = 0x8000;
    static constexpr std::uint32_t kUnlockCode = 23130;

    LpcIspSimulator();
    // Same as attachPty(pty) right after construction.
    explicit LpcIspSimulator(morvtest::PtyPair& pty);
    ~LpcIspSimulator();
    LpcIspSimulator(const LpcIspSimulator&) = delete;
    LpcIspSimulator& operator=(const LpcIspSimulator&) = delete;

    // Takes the pair's master over (the pair's own master descriptor is closed)
    // and starts the thread; throws std::runtime_error when already attached.
    void attachPty(morvtest::PtyPair& pty);
    void stop();

    void setFaults(const LpcIspFaults& faults);
    LpcIspFaults faults() const;
    void setDeviceSerial(const std::array<std::uint32_t, 4>& words);
    void setPartId(std::uint32_t id);
    void setBootCodeVersion(std::uint8_t major, std::uint8_t minor);
    // Writes bytes straight into flash or RAM (tests preparing contents).
    void poke(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    // Back to the state after reset: not synchronised, echo on, locked; memory kept.
    void reset();

    std::vector<std::uint8_t> flash() const;
    std::vector<std::uint8_t> ram() const;
    // count bytes at address (flash or RAM); throws std::out_of_range elsewhere.
    std::vector<std::uint8_t> memory(std::uint32_t address, std::size_t count) const;
    std::vector<std::string> commands() const;
    LpcIspStats stats() const;
    bool synchronized() const;
    bool echo() const;
    bool unlocked() const;
    bool started() const;
    std::uint32_t goAddress() const;
    std::uint32_t crystalKHz() const;

    // pred runs without the lock and may call the accessors.
    bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

private:
    // A copy of a field taken under the lock.
    template <typename T>
    T locked(const T& field) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return field;
    }
    enum class Mode { Autobaud, SyncWord, Crystal, Command, WriteData, WriteChecksum, ReadAck, Running };
    struct Transfer {
        std::uint32_t address = 0;
        std::uint32_t count = 0;
        std::uint32_t position = 0;
        std::uint32_t acknowledged = 0;
        int lines = 0;
        int checksums = 0;
        bool damaged = false;
    };

    void loop();
    void feed(const std::uint8_t* bytes, std::size_t count);
    void feedByte(std::uint8_t byte);
    void handleLine(const std::string& line);
    void runCommand(const std::string& line);
    void reply(int code);
    void send(const std::string& text);
    void dataLine(const std::string& line);
    void writeChecksum(const std::string& line);
    void sendReadBlock();
    void readAck(const std::string& line);
    void flushOut();

    std::uint8_t* at(std::uint32_t address, std::size_t count);
    bool inFlash(std::uint32_t address, std::size_t count) const;
    bool inRam(std::uint32_t address, std::size_t count) const;
    bool sectorsPrepared(std::uint32_t first, std::uint32_t last) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::thread thread_;
    int masterFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool stopping_ = false;

    Mode mode_ = Mode::Autobaud;
    bool echo_ = true;
    bool unlocked_ = false;
    bool synchronized_ = false;
    bool started_ = false;
    std::uint32_t goAddress_ = 0;
    std::uint32_t crystal_ = 0;
    std::string line_;
    bool lineOverflow_ = false;
    std::string out_;
    Transfer write_;
    Transfer read_;
    std::array<bool, 30> prepared_{};
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> ram_;
    std::array<std::uint32_t, 4> serial_{{0x12345678u, 0x9ABCDEF0u, 0x0F1E2D3Cu, 0xA5A55A5Au}};
    std::uint32_t partId_ = 0x26013F37u;
    std::uint8_t bootMajor_ = 4;
    std::uint8_t bootMinor_ = 1;
    LpcIspFaults faults_;
    LpcIspStats stats_;
    std::vector<std::string> commands_;
};

}  // namespace morvsim
