// A packet record built from fuzz input whose data bytes past dataSize are
// poisoned under AddressSanitizer, so that a decoder reading beyond what was
// received stops the fuzzer.
#pragma once

#include "aPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORV_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MORV_FUZZ_ASAN 1
#endif
#ifdef MORV_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fuzzpacket {

class Packet {
public:
    Packet(std::uint8_t address, const std::uint8_t* data, std::size_t size) : packet_(new aPacket(PACK))
    {
        const std::size_t n = size < aPACKET_MAX_DATA ? size : aPACKET_MAX_DATA;
        packet_->address = address;
        packet_->dataSize = static_cast<std::uint8_t>(n);
        packet_->curSize = static_cast<std::uint8_t>(n + 2);
        if (n > 0)
            std::memcpy(packet_->data, data, n);
#ifdef MORV_FUZZ_ASAN
        ASAN_POISON_MEMORY_REGION(packet_->data + n, aPACKET_MAX_DATA - n);
#endif
    }
    ~Packet()
    {
#ifdef MORV_FUZZ_ASAN
        ASAN_UNPOISON_MEMORY_REGION(packet_->data, aPACKET_MAX_DATA);
#endif
    }
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;

    const aPacket* get() const { return packet_.get(); }
    const std::uint8_t* data() const { return packet_->data; }
    std::size_t size() const { return packet_->dataSize; }

private:
    std::unique_ptr<aPacket> packet_;
};

}  // namespace fuzzpacket
