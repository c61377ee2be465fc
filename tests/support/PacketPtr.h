// Owns a packet the C layer made; destroys it when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "aPacket.h"

namespace morvtest {

struct PacketPtr {
    aPacket* p = nullptr;
    PacketPtr() = default;
    explicit PacketPtr(aPacket* packet) : p(packet) {}
    PacketPtr(PacketPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    PacketPtr& operator=(PacketPtr&& other) noexcept
    {
        std::swap(p, other.p);
        return *this;
    }
    PacketPtr(const PacketPtr&) = delete;
    PacketPtr& operator=(const PacketPtr&) = delete;
    ~PacketPtr()
    {
        if (p != nullptr)
            aPacket_Destroy(&p);
    }
    aPacket* get() const { return p; }
    aPacket* operator->() const { return p; }
    aPacket& operator*() const { return *p; }
    explicit operator bool() const { return p != nullptr; }
    friend bool operator==(const PacketPtr& a, std::nullptr_t) { return a.p == nullptr; }
    friend bool operator!=(const PacketPtr& a, std::nullptr_t) { return a.p != nullptr; }
    std::vector<std::uint8_t> data() const { return std::vector<std::uint8_t>(p->data, p->data + p->dataSize); }
};

}  // namespace morvtest
