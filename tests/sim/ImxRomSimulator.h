// i.MX boot ROM in serial download mode, simulated: takes 16-byte commands
// (ERROR_STATUS, WRITE_FILE and its data, JUMP_ADDRESS, READ_REGISTER) into a
// simulated memory and fuse registers and answers with the HAB-mode word and
// a status or data word, as the real ROM does over UART and USB HID.
//
// Usage
//   #include "ImxRomSimulator.h"
//   morvsim::ImxRomConfig config;            // open HAB, 512 KiB RAM at 0x20000000,
//   config.habClosed = true;                 //   two fuse words at 0x401F4410/0x401F4420
//   morvsim::ImxRom rom(config);
//   std::vector<morvsim::ImxOutput> out;
//   rom.feedSerial(bytes, n, out);           // serial: a byte stream of commands and data
//   rom.feedReport(report, n, out);          // HID: one output report (id 1 command, 2 data)
//   ImxRom::serialBytes(out) / ImxRom::hidReports(out)   // what goes back to the host
//
// The class is not thread-safe: the front ends (ImxRomSerial on a pty, the fake
// hidapi) lock around it. Front ends: ImxRomSerial.h, tests/fakes/hidapi/FakeHidapi.h.
//
// Answers
//   ERROR_STATUS      HAB word, then the status of the last command (kImxStatusOk at first)
//   WRITE_FILE        nothing until all `count` data bytes came, then HAB word and
//                     completeStatus; a range outside memory: HAB word and kImxBadAddress
//                     at once (the data that follows is swallowed)
//   JUMP_ADDRESS      into written bytes with open HAB: HAB word, the ROM runs the image and
//                     answers nothing more (onJump runs); else HAB word and kImxHabRefused or
//                     kImxBadAddress
//   READ_REGISTER     HAB word and the register (or memory) words; an unknown address: the
//                     HAB word alone
//   other commands    HAB word and kImxBadCommand
// On HID the HAB word is input report 3 (4 bytes) and every other word group input
// report 4 (64 bytes, zero-padded); on a serial line the words follow each other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace morvsim {

constexpr std::uint16_t kImxReadRegister = 0x0101;
constexpr std::uint16_t kImxWriteFile = 0x0404;
constexpr std::uint16_t kImxErrorStatus = 0x0505;
constexpr std::uint16_t kImxJumpAddress = 0x0B0B;

constexpr std::uint32_t kImxHabOpen = 0x56787856u;
constexpr std::uint32_t kImxHabClosed = 0x12343412u;
constexpr std::uint32_t kImxWriteComplete = 0x88888888u;
constexpr std::uint32_t kImxStatusOk = 0xF0F0F0F0u;
// This simulator's own refusal words.
constexpr std::uint32_t kImxBadCommand = 0xBADC0DE1u;
constexpr std::uint32_t kImxBadAddress = 0xBADC0DE2u;
constexpr std::uint32_t kImxHabRefused = 0xBADC0DE3u;
constexpr std::uint32_t kImxDataAborted = 0xBADC0DE4u;

constexpr std::size_t kImxCommandSize = 16;
constexpr std::size_t kImxReportSize = 64;  // payload of HID reports 2 and 4
constexpr std::size_t kImxMaxDataReport = 1024;

struct ImxCommand {
    std::array<std::uint8_t, kImxCommandSize> raw{};
    std::uint16_t type = 0;
    std::uint32_t address = 0;  // big-endian on the wire, as are count and data
    std::uint8_t format = 0;
    std::uint32_t count = 0;
    std::uint32_t data = 0;
    std::uint8_t reserved = 0;

    static ImxCommand parse(const std::uint8_t* bytes);
};

struct ImxRegion {
    std::uint32_t base = 0;
    std::uint32_t size = 0;
};

struct ImxRomConfig {
    bool habClosed = false;  // HAB word kImxHabClosed, and every jump is refused
    std::vector<ImxRegion> memory{{0x20000000u, 0x80000u}};
    std::map<std::uint32_t, std::uint32_t> registers{{0x401F4410u, 0x1A2B3C4Du},
                                                     {0x401F4420u, 0x5E6F7081u}};
    // Faults.
    bool silent = false;                // takes everything, answers nothing
    int unansweredStatusRequests = 0;   // the first N ERROR_STATUS go unanswered
    std::uint32_t completeStatus = kImxWriteComplete;  // sent after a file's data
    bool abortDuringData = false;       // reports kImxDataAborted after a file's first data
    // Runs on an accepted jump, under the front end's lock: it must not call the front end.
    std::function<void(std::uint32_t entry)> onJump;
};

struct ImxOutput {
    enum Kind { Hab, Words } kind = Words;
    std::vector<std::uint8_t> bytes;
};

class ImxRom {
public:
    explicit ImxRom(ImxRomConfig config = {});

    // Serial line: any split of the byte stream.
    void feedSerial(const std::uint8_t* data, std::size_t length, std::vector<ImxOutput>& out);
    // One HID output report, id first: id 1 with exactly 16 command bytes, id 2 with
    // 1 to 1024 data bytes. False (nothing taken) for any other report.
    bool feedReport(const std::uint8_t* report, std::size_t length, std::vector<ImxOutput>& out);

    static std::vector<std::uint8_t> serialBytes(const std::vector<ImxOutput>& out);
    // Input reports, id first: 5 bytes for report 3, 65 for report 4.
    static std::vector<std::vector<std::uint8_t>> hidReports(const std::vector<ImxOutput>& out);

    ImxRomConfig& config() { return config_; }
    const ImxRomConfig& config() const { return config_; }

    // Records.
    const std::vector<ImxCommand>& commands() const { return commands_; }
    std::size_t commandCount(std::uint16_t type) const;
    // Image bytes taken from each HID data report, in order.
    const std::vector<std::size_t>& dataReportSizes() const { return dataReportSizes_; }
    std::uint64_t dataBytes() const { return dataBytes_; }     // data bytes of all files
    std::size_t filesWritten() const { return filesWritten_; }  // files whose data all came
    std::size_t filesAbandoned() const { return filesAbandoned_; }  // a command came first
    std::uint64_t strayBytes() const { return strayBytes_; }   // data outside any file
    std::uint32_t lastStatus() const { return lastStatus_; }
    bool jumped() const { return jumped_; }
    std::uint32_t jumpAddress() const { return jumpAddress_; }
    std::size_t refusedJumps() const { return refusedJumps_; }
    // Memory contents (0 where never written); empty when the range is not all memory.
    std::vector<std::uint8_t> read(std::uint32_t address, std::size_t length) const;
    void clearRecords();

private:
    struct Bank {
        ImxRegion region;
        std::vector<std::uint8_t> bytes;
        std::vector<bool> written;
    };

    void command(const std::uint8_t* bytes, std::vector<ImxOutput>& out);
    void data(const std::uint8_t* bytes, std::size_t length, std::vector<ImxOutput>& out);
    void finishFile(std::vector<ImxOutput>& out);
    void answer(std::vector<ImxOutput>& out, const std::vector<std::uint8_t>& words);
    void answerWord(std::vector<ImxOutput>& out, std::uint32_t word);
    void answerHabOnly(std::vector<ImxOutput>& out);
    Bank* bankFor(std::uint32_t address, std::uint64_t length);
    const Bank* bankFor(std::uint32_t address, std::uint64_t length) const;
    std::uint32_t habWord() const { return config_.habClosed ? kImxHabClosed : kImxHabOpen; }

    ImxRomConfig config_;
    std::vector<Bank> banks_;
    std::vector<std::uint8_t> pending_;  // serial bytes of a command not yet complete

    // The file being received.
    bool receiving_ = false;
    bool storing_ = false;  // false: swallowed after a refusal
    bool abortSent_ = false;
    std::uint32_t fileAddress_ = 0;
    std::uint32_t fileRemaining_ = 0;
    std::uint64_t fileTaken_ = 0;

    std::vector<ImxCommand> commands_;
    std::vector<std::size_t> dataReportSizes_;
    std::uint64_t dataBytes_ = 0;
    std::size_t filesWritten_ = 0;
    std::size_t filesAbandoned_ = 0;
    std::uint64_t strayBytes_ = 0;
    std::uint32_t lastStatus_ = kImxStatusOk;
    int statusRequestsIgnored_ = 0;
    bool jumped_ = false;
    std::uint32_t jumpAddress_ = 0;
    std::size_t refusedJumps_ = 0;
};

}  // namespace morvsim
