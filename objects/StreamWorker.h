// What a Link's callback worker thread shares with the Link: the job queue
// that the link's reader thread fills and the signals that wake and stop the
// worker. Held by shared pointer, so a worker that outlives its Link (the
// Link was destroyed from inside a callback) still has valid state.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Link.h"
#include "LockFreeQueue.h"

namespace Zorventa {
namespace Morvasset {

// One queued callback job; the job owns its packet copy.
struct asyncPacket {
    streamCallback_t callback;
    void* reference = nullptr;
    aPacket* packet = nullptr;
};

class StreamWorker {
public:
    static constexpr std::uint32_t kQueueCapacity = 500;

    StreamWorker() : queue_(kQueueCapacity) {}
    ~StreamWorker() { discardQueued(); }

    StreamWorker(const StreamWorker&) = delete;
    StreamWorker& operator=(const StreamWorker&) = delete;

    // Producer side (the reader thread). False when the queue is full: the
    // job's packet copy is then destroyed and the drop counted.
    bool post(asyncPacket job);

    // Thread body: runs jobs until stopped; jobs left at the stop are destroyed.
    static void asyncWork(std::shared_ptr<StreamWorker> state);

    void requestStop();
    // Cancels a stop not yet acted on (a callback restarted streaming).
    void cancelStop();
    bool stopRequested() const { return stop_.load(); }
    // Consumer side, only while no worker thread runs: destroys queued jobs.
    void discardQueued();
    // A job that could not even be built (no memory for the packet copy).
    void noteDropped() { ++dropped_; }
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    LocklessQueue_SPSC<asyncPacket> queue_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool signalled_ = false;  // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace Morvasset
}  // namespace Zorventa
