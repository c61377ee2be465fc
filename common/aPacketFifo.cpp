// Packet queues behind numeric ids: a registry maps ids to packetFifo objects,
// each with its own mutex and condition variables.
#include "aPacketFifo.h"

#include <cxxabi.h>

// A function that lets a cancelled thread's unwinding pass: the handler that
// rethrows it binds a reference to no object (that unwinding carries none),
// which the sanitizer's null check would stop.
#define sPASSES_FORCED_UNWIND __attribute__((no_sanitize("null")))

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

struct aPacketDeleter {
    void operator()(aPacket* packet) const noexcept { aPacket_Destroy(&packet); }
};
using PacketPtr = std::unique_ptr<aPacket, aPacketDeleter>;

// One queued packet and its sequence number within its queue.
class SerialPacket {
public:
    SerialPacket(int64_t id, PacketPtr packet) noexcept : id_(id), packet_(std::move(packet)) {}
    SerialPacket(SerialPacket&& other) noexcept = default;
    SerialPacket& operator=(SerialPacket&& other) noexcept = default;
    SerialPacket(const SerialPacket&) = delete;
    SerialPacket& operator=(const SerialPacket&) = delete;
    ~SerialPacket() = default;

    int64_t getId() const noexcept { return id_; }
    const PacketPtr& getPacket() const noexcept { return packet_; }
    operator const PacketPtr&() const noexcept { return packet_; }

private:
    int64_t id_;
    PacketPtr packet_;
};

class packetFifo {
public:
    using Queue = std::deque<SerialPacket>;

    Queue queue;
    std::condition_variable arrived;
    // Signalled when packets leave the queue and a length waiter's bound is reached.
    std::condition_variable shrunk;
    std::mutex lock;
    // Length waiters, and a bound at least as high as each one's (under lock),
    // so that a take signals only when it may end a wait.
    std::uint32_t lengthWaiters = 0;
    std::size_t wakeLength = 0;
    std::atomic<bool> active{true};
    std::atomic<int64_t> windowStart{0};
    std::atomic<int64_t> nextId{0};

    // Callers hold `lock`.
    void clearAndSyncWindow() {
        queue.clear();
        windowStart = nextId.load();
    }
    void eraseAndSyncWindow(Queue::iterator position) {
        queue.erase(position);
        syncWindow();
    }
    void eraseAndSyncWindow(Queue::iterator first, Queue::iterator last) {
        queue.erase(first, last);
        syncWindow();
    }

private:
    void syncWindow() { windowStart = queue.empty() ? nextId.load() : queue.front().getId(); }
};

using FifoMap = std::map<uint64_t, std::shared_ptr<packetFifo>>;

// Trivially destructible, so still usable while the process runs its exit handlers.
std::mutex gpPacketFifoDictionaryMutex;
std::atomic<uint64_t> gpSequentialId{1};

// Deliberately never destroyed: threads and late static destructors may still
// reach the registry while the process ends.
FifoMap& dictionary() {
    static FifoMap* const gpPacketFifoDictionary = new FifoMap();
    return *gpPacketFifoDictionary;
}

// Built before main; should that fail, the first use tries again.
const bool sDictionaryReady = [] {
    try {
        static_cast<void>(dictionary());
        return true;
    } catch (...) {
        return false;
    }
}();

std::shared_ptr<packetFifo> sGetFifo(uint64_t id) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    FifoMap& map = dictionary();
    auto it = map.find(id);
    if (it == map.end())
        return nullptr;
    return it->second;
}

std::shared_ptr<packetFifo> sExtractFifo(uint64_t id) {
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    FifoMap& map = dictionary();
    auto it = map.find(id);
    if (it == map.end())
        return nullptr;
    std::shared_ptr<packetFifo> fifo = std::move(it->second);
    map.erase(it);
    return fifo;
}

// Deadline ms from now; one beyond the clock's range saturates at its end.
Clock::time_point sDeadline(uint64_t ms) {
    const Clock::time_point now = Clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now).count();
    if (room <= 0 || ms >= static_cast<uint64_t>(room))
        return Clock::time_point::max();
    return now + std::chrono::milliseconds(static_cast<int64_t>(ms));
}

// A length waiter for as long as it exists; made and ended with fifo.lock held.
class LengthWaiter {
public:
    LengthWaiter(packetFifo& fifo, std::size_t bound) noexcept : fifo_(fifo) {
        ++fifo_.lengthWaiters;
        fifo_.wakeLength = std::max(fifo_.wakeLength, bound);
    }
    ~LengthWaiter() {
        if (--fifo_.lengthWaiters == 0)
            fifo_.wakeLength = 0;
    }
    LengthWaiter(const LengthWaiter&) = delete;
    LengthWaiter& operator=(const LengthWaiter&) = delete;

private:
    packetFifo& fifo_;
};

// After packets left the queue: unlocks, then wakes the length waiters if
// one of them may be done.
void _releaseAfterRemoval(packetFifo& fifo, std::unique_lock<std::mutex>& held) {
    const bool wake = fifo.lengthWaiters > 0 && fifo.queue.size() <= fifo.wakeLength;
    held.unlock();
    if (wake)
        fifo.shrunk.notify_all();
}

// With fifo.lock held. A failed copy leaves the packet queued.
aPacket* _stealPacketFromFifo(packetFifo& fifo, packetFifo::Queue::iterator position) {
    aPacket* copy = aPacket_Copy(position->getPacket().get());
    if (copy == nullptr)
        return nullptr;
    fifo.eraseAndSyncWindow(position);
    return copy;
}

bool _waitUntilNotEmpty(packetFifo& fifo, std::unique_lock<std::mutex>& held, Clock::time_point deadline) {
    return fifo.arrived.wait_until(held, deadline, [&fifo] { return !fifo.queue.empty() || !fifo.active; }) &&
           !fifo.queue.empty();
}

// Offers each packet to proc at most once; returns the position of the first
// accepted one, or the queue's end.
packetFifo::Queue::iterator _waitUntilProcIsSatisfied(packetFifo& fifo, std::unique_lock<std::mutex>& held,
                                                      aPacketFifoProc proc, void* ref, Clock::time_point deadline) {
    int64_t lastExamined = fifo.windowStart - 1;
    packetFifo::Queue::iterator found = fifo.queue.end();
    auto satisfied = [&] {
        found = fifo.queue.end();
        for (auto it = fifo.queue.begin(); it != fifo.queue.end(); ++it) {
            if (it->getId() <= lastExamined)
                continue;
            lastExamined = it->getId();
            if (proc(it->getPacket().get(), ref) != 0) {
                found = it;
                return true;
            }
        }
        return !fifo.active;
    };
    fifo.arrived.wait_until(held, deadline, satisfied);
    return found;
}

} // namespace

extern "C" {

aPacketFifoId aPacketFifo_Create(void) {
    try {
        auto fifo = std::make_shared<packetFifo>();
        std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
        uint64_t id = gpSequentialId++;
        if (id == 0)
            id = gpSequentialId++;
        if (!dictionary().emplace(id, std::move(fifo)).second)
            return 0;
        return id;
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(aPacketFifoId* id) {
    if (id == nullptr)
        return aErrParam;
    try {
        std::shared_ptr<packetFifo> fifo = sExtractFifo(*id);
        if (!fifo)
            return aErrNotFound;
        {
            std::lock_guard<std::mutex> guard(fifo->lock);
            fifo->clearAndSyncWindow();
            fifo->active = false;
        }
        fifo->arrived.notify_all();
        fifo->shrunk.notify_all();
        *id = 0;
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

uint32_t aPacketFifo_GetLength(aPacketFifoId id) {
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return 0;
        std::lock_guard<std::mutex> guard(fifo->lock);
        return static_cast<uint32_t>(fifo->queue.size());
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Put(aPacketFifoId id, const aPacket* packet) {
    try {
        if (!aVALIDPACKET(packet))
            return aErrParam;
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return aErrParam;
        std::unique_lock<std::mutex> held(fifo->lock);
        // Destroyed after our lookup: the packet would be lost unseen.
        if (!fifo->active)
            return aErrParam;
        const int64_t serial = fifo->nextId++;
        PacketPtr copy(aPacket_Copy(packet));
        if (!copy)
            return aErrParam;
        try {
            fifo->queue.emplace_back(serial, std::move(copy));
        } catch (const std::bad_alloc&) {
            return aErrResource;
        }
        fifo->windowStart = fifo->queue.front().getId();
        if (fifo->queue.size() > aPACKETFIFO_MAX_PACKETS) {
            // Nobody reads this queue: drop it all, and say so.
            fifo->clearAndSyncWindow();
            _releaseAfterRemoval(*fifo, held);
            return aErrOverrun;
        }
        held.unlock();
        fifo->arrived.notify_all();
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

aPacket* aPacketFifo_Get(aPacketFifoId id) {
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return nullptr;
        std::unique_lock<std::mutex> held(fifo->lock);
        if (fifo->queue.empty())
            return nullptr;
        aPacket* packet = _stealPacketFromFifo(*fifo, fifo->queue.begin());
        _releaseAfterRemoval(*fifo, held);
        return packet;
    } catch (...) {
        return nullptr;
    }
}

sPASSES_FORCED_UNWIND aPacket* aPacketFifo_Await(aPacketFifoId id, uint64_t ms) {
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return nullptr;
        const Clock::time_point deadline = sDeadline(ms);
        std::unique_lock<std::mutex> held(fifo->lock);
        if (!_waitUntilNotEmpty(*fifo, held, deadline))
            return nullptr;
        aPacket* packet = _stealPacketFromFifo(*fifo, fifo->queue.begin());
        _releaseAfterRemoval(*fifo, held);
        return packet;
    } catch (abi::__forced_unwind&) {
        // A cancelled thread unwinds through the wait; swallowing that aborts.
        throw;
    } catch (...) {
        return nullptr;
    }
}

aPacket* aPacketFifo_GetFirst(aPacketFifoId id, aPacketFifoProc proc, void* ref) {
    if (proc == nullptr)
        return nullptr;
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return nullptr;
        std::unique_lock<std::mutex> held(fifo->lock);
        for (auto it = fifo->queue.begin(); it != fifo->queue.end(); ++it) {
            if (proc(it->getPacket().get(), ref) != 0) {
                aPacket* packet = _stealPacketFromFifo(*fifo, it);
                _releaseAfterRemoval(*fifo, held);
                return packet;
            }
        }
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

sPASSES_FORCED_UNWIND aPacket* aPacketFifo_AwaitFirst(aPacketFifoId id, aPacketFifoProc proc, void* ref, uint64_t ms) {
    if (proc == nullptr)
        return nullptr;
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return nullptr;
        const Clock::time_point deadline = sDeadline(ms);
        std::unique_lock<std::mutex> held(fifo->lock);
        auto found = _waitUntilProcIsSatisfied(*fifo, held, proc, ref, deadline);
        if (found == fifo->queue.end())
            return nullptr;
        aPacket* packet = _stealPacketFromFifo(*fifo, found);
        _releaseAfterRemoval(*fifo, held);
        return packet;
    } catch (abi::__forced_unwind&) {
        // A cancelled thread unwinds through the wait; swallowing that aborts.
        throw;
    } catch (...) {
        return nullptr;
    }
}

uint32_t aPacketFifo_DrainPackets(aPacketFifoId id, aPacketFifoProc proc, void* ref) {
    if (proc == nullptr)
        return 0;
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return 0;
        std::unique_lock<std::mutex> held(fifo->lock);
        const std::size_t before = fifo->queue.size();
        // Keeps the refused packets in order; the accepted ones end up behind them.
        auto kept = std::stable_partition(fifo->queue.begin(), fifo->queue.end(),
                                          [&](const SerialPacket& p) { return proc(p.getPacket().get(), ref) == 0; });
        fifo->eraseAndSyncWindow(kept, fifo->queue.end());
        const auto drained = static_cast<uint32_t>(before - fifo->queue.size());
        _releaseAfterRemoval(*fifo, held);
        return drained;
    } catch (...) {
        return 0;
    }
}

sPASSES_FORCED_UNWIND aErr aPacketFifo_AwaitLengthAtMost(aPacketFifoId id, uint32_t maxLength, uint64_t ms) {
    try {
        std::shared_ptr<packetFifo> fifo = sGetFifo(id);
        if (!fifo)
            return aErrParam;
        const Clock::time_point deadline = sDeadline(ms);
        std::unique_lock<std::mutex> held(fifo->lock);
        auto done = [&fifo, maxLength] { return !fifo->active || fifo->queue.size() <= maxLength; };
        if (!done() && ms > 0) {
            const LengthWaiter waiter(*fifo, maxLength);
            fifo->shrunk.wait_until(held, deadline, done);
        }
        if (!fifo->active)
            return aErrParam;
        return fifo->queue.size() <= maxLength ? aErrNone : aErrTimeout;
    } catch (abi::__forced_unwind&) {
        // A cancelled thread unwinds through the wait; swallowing that aborts.
        throw;
    } catch (...) {
        return aErrUnknown;
    }
}

} // extern "C"
