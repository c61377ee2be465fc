// The simulated i.MX boot ROM on the far end of a serial line: a thread that
// feeds what the host writes into an ImxRom and writes its answers back.
//
// Usage
//   morvtest::PtyPair pty;
//   morvsim::ImxRomSerial rom;               // or ImxRomSerial rom(config)
//   rom.attachPty(pty);                      // the host opens pty.slavePath()
//   ... host talks ...
//   rom.waitFor([](const morvsim::ImxRom& r) { return r.jumped(); }, std::chrono::milliseconds(2000));
//   rom.withRom([](morvsim::ImxRom& r) { r.config().silent = true; });
//   rom.sendRaw({0x12, 0x34});               // stray bytes to the host, now
// stop() or the destructor ends the thread and closes the line (the host sees a hang-up).
#pragma once

#include "ImxRomSimulator.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvtest {
class PtyPair;
}

namespace morvsim {

class ImxRomSerial {
public:
    explicit ImxRomSerial(ImxRomConfig config = {});
    ~ImxRomSerial();
    ImxRomSerial(const ImxRomSerial&) = delete;
    ImxRomSerial& operator=(const ImxRomSerial&) = delete;

    // Takes a copy of the master and closes the pair's own, so that stop()
    // hangs the line up. Throws std::runtime_error when already attached.
    void attachPty(morvtest::PtyPair& pty);
    // Takes ownership of a connected descriptor.
    void attachFd(int fd);
    void stop();

    void withRom(const std::function<void(ImxRom&)>& f);
    // True once the predicate holds; false after the time-out.
    bool waitFor(const std::function<bool(const ImxRom&)>& predicate, std::chrono::milliseconds timeout);
    // False when no line is attached or the bytes could not be written.
    bool sendRaw(const std::vector<std::uint8_t>& bytes);
    std::uint64_t bytesReceived();
    std::uint64_t bytesDropped();  // answers the host did not take in time

private:
    void run();
    bool writeAll(const std::uint8_t* bytes, std::size_t length);

    std::mutex mutex_;
    std::condition_variable changed_;
    ImxRom rom_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    bool stopping_ = false;
    std::uint64_t received_ = 0;
    std::uint64_t dropped_ = 0;
    std::thread thread_;
    std::mutex writeMutex_;  // one writer at a time on the line
};

}  // namespace morvsim
