// A bounded queue for exactly one producer thread and one consumer thread,
// without locks. It holds capacity - 1 elements at most: one slot always
// stays free so that head == tail means empty.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

namespace Zorventa {

template <typename T>
class LocklessQueue_SPSC {
public:
    // Only the low 16 bits of the capacity count.
    explicit LocklessQueue_SPSC(std::uint32_t capacity)
        : ring_(static_cast<std::uint16_t>(capacity)),
          capacity_(static_cast<std::uint16_t>(capacity)),
          head_(0),
          tail_(0)
    {
    }

    LocklessQueue_SPSC(const LocklessQueue_SPSC&) = delete;
    LocklessQueue_SPSC& operator=(const LocklessQueue_SPSC&) = delete;

    // Producer only. False when full; the element is then left to the caller.
    bool push(T element)
    {
        const std::uint16_t next = _increment(head_.load());
        if (next == tail_.load())
            return false;
        ring_[next] = std::move(element);
        head_.store(next);
        return true;
    }

    // Consumer only. False when empty.
    bool pop(T* element)
    {
        const std::uint16_t tail = tail_.load();
        if (tail == head_.load())
            return false;
        const std::uint16_t next = _increment(tail);
        // The producer never writes the slot at tail, so it may advance first.
        tail_.store(next);
        *element = std::move(ring_[next]);
        return true;
    }

    std::uint16_t capacity() const { return capacity_; }

    std::uint16_t _increment(std::uint16_t index) const
    {
        const std::uint32_t next = static_cast<std::uint32_t>(index) + 1;
        return next >= capacity_ ? 0 : static_cast<std::uint16_t>(next);
    }

private:
    std::vector<T> ring_;
    const std::uint16_t capacity_;
    std::atomic<std::uint16_t> head_;  // last slot written
    std::atomic<std::uint16_t> tail_;  // last slot read
};

}  // namespace Zorventa
