#include "StreamWorker.h"

#include <chrono>
#include <utility>

#include "aDebug.h"

namespace Zorventa {
namespace Morvasset {

namespace {
// Bound of an idle wait: a lost wake-up costs at most this much.
constexpr std::chrono::milliseconds kIdleWait{100};

void destroyJob(asyncPacket& job)
{
    if (job.packet)
        aPacket_Destroy(&job.packet);
    job.callback = nullptr;
    job.reference = nullptr;
}
}  // namespace

bool StreamWorker::post(asyncPacket job)
{
    aPacket* packet = job.packet;
    if (!queue_.push(std::move(job))) {
        // push leaves the element with us when the queue is full.
        if (packet)
            aPacket_Destroy(&packet);
        const std::uint64_t dropped = ++dropped_;
        aDEBUG_TRACE(aDEBUG_LINK, "stream callback queue full: job dropped (%llu so far)\n",
                     static_cast<unsigned long long>(dropped));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    wake_.notify_one();
    return true;
}

void StreamWorker::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
    }
    wake_.notify_one();
}

void StreamWorker::cancelStop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(false);
}

void StreamWorker::discardQueued()
{
    asyncPacket job;
    while (queue_.pop(&job))
        destroyJob(job);
}

void StreamWorker::asyncWork(std::shared_ptr<StreamWorker> state)
{
    for (;;) {
        asyncPacket job;
        while (!state->stop_.load() && state->queue_.pop(&job)) {
            if (job.callback)
                job.callback(job.packet, job.reference);
            destroyJob(job);
        }
        std::unique_lock<std::mutex> lock(state->mutex_);
        if (state->stop_.load())
            break;
        state->wake_.wait_for(lock, kIdleWait, [&] { return state->signalled_ || state->stop_.load(); });
        state->signalled_ = false;
        if (state->stop_.load())
            break;
    }
    // Jobs left now would otherwise run later with references their owner freed.
    state->discardQueued();
}

}  // namespace Morvasset
}  // namespace Zorventa
