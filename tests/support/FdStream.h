// A byte stream (aStream) over a descriptor whose other end the test holds,
// e.g. one end of a socketpair, with knobs for exercising a link's pipes:
// how long a get waits, failing reads and writes, a gate and a delay on
// writes, and a log of the sizes written.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "aStream.h"

namespace morvtest {

class FdStreamControl {
public:
    // How long a get polls for a byte; 0 answers "not ready" at once.
    std::atomic<int> getWaitMs{5};
    // While set, every get fails with aErrIO.
    std::atomic<bool> failReads{false};
    // Sleep before each write.
    std::atomic<int> writeDelayMs{0};
    // While set, every write fails with aErrIO and sends nothing.
    std::atomic<bool> failWrites{false};

    std::atomic<std::uint64_t> gets{0};
    std::atomic<std::uint64_t> notReady{0};

    // While closed, writes wait (up to 10 s) in the write procedure.
    void closeGate();
    void openGate();
    // Writes waiting at the closed gate.
    int blockedWrites() const;
    // Sizes of the writes done so far, oldest first.
    std::vector<std::size_t> writeSizes() const;
    std::size_t bytesWritten() const;
    void clearWriteSizes();
    // True once the stream's delete procedure ran.
    bool deleted() const { return deleted_.load(); }

    // Used by the stream's procedures.
    void waitAtGate();
    void recordWrite(std::size_t size);
    void markDeleted() { deleted_.store(true); }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool gateOpen_ = true;
    int blocked_ = 0;
    std::vector<std::size_t> writes_;
    std::atomic<bool> deleted_{false};
};

// A new stream over fd, which it owns (closed by the stream's delete
// procedure); NULL when it cannot be made (fd is then closed).
aStream* createFdStream(int fd, std::shared_ptr<FdStreamControl> control);

}  // namespace morvtest
