// morvMap: a registry of shared records by device id. A lookup hands out one
// more reference, so a record removed meanwhile lives on until its last user
// lets go. The lock is held for one search and one pointer copy only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

template <class Record>
class morvMap {
public:
    using Pointer = std::shared_ptr<Record>;

    // The record registered under id, or an empty pointer; never adds an entry.
    Pointer findDevice(std::uint32_t id)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = m_devices.find(id);
        if (found == m_devices.end())
            return Pointer();
        return found->second;
    }

    // False for an empty record or an id already taken.
    bool insertDevice(std::uint32_t id, Pointer record)
    {
        if (!record)
            return false;
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_devices.emplace(id, std::move(record)).second;
    }

    // Erases the entry and hands back the registry's reference, so that the
    // record (and the module it owns) is torn down outside the lock.
    Pointer removeDevice(std::uint32_t id)
    {
        Pointer removed;
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = m_devices.find(id);
        if (found != m_devices.end()) {
            removed = std::move(found->second);
            m_devices.erase(found);
        }
        return removed;
    }

    std::size_t size()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_devices.size();
    }

private:
    std::map<std::uint32_t, Pointer> m_devices;
    std::mutex m_mutex;
};
