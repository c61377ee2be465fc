// Link: the object face of one link of the link engine. It connects by
// transport, exchanges entity requests and replies and raw command packets,
// and carries the stream callbacks of its modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "aLinkSpec.h"
#include "aError.h"
#include "aPacket.h"
#include "aEtherConfig.h"
#include "uei.h"

namespace Zorventa {
namespace Morvasset {

// A stream callback; runs on the Link's worker thread with the stream packet
// and the reference given at registration. Its result is ignored.
using streamCallback_t = std::function<std::uint8_t(const aPacket*, void*)>;

// A reply filter for Link::receiveUEI: returns 1 to take the packet.
using ueiFilter_t = std::uint8_t (*)(const aPacket* packet, const void* ref);

class Link {
public:
    // Kinds of stream packet; the value is the sample type byte.
    enum STREAM_PACKET {
        STREAM_PACKET_NONE = 0,
        STREAM_PACKET_U8 = 1,
        STREAM_PACKET_U16 = 2,
        STREAM_PACKET_U32 = 3,
        STREAM_PACKET_BYTES = 4,  // part of a streamed byte buffer; not a sample
        STREAM_PACKET_SUBINDEX_U8 = 5,
        STREAM_PACKET_SUBINDEX_U16 = 6,
        STREAM_PACKET_SUBINDEX_U32 = 7,
    };

    // Elements of a stream key.
    enum STREAM_KEY {
        STREAM_KEY_MODULE_ADDRESS = 0,
        STREAM_KEY_CMD = 1,
        STREAM_KEY_OPTION = 2,
        STREAM_KEY_INDEX = 3,
        STREAM_KEY_SUBINDEX = 4,
    };

    // A key byte of this value matches any value.
    static constexpr std::uint8_t STREAM_WILDCARD = 0xFF;

    struct StreamStatusEntry {
        std::uint64_t key;
        std::uint32_t value;
    };

    Link(const linkSpec& spec, const char* name);
    explicit Link(const char* name);
    ~Link();

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // --- Configuration ---
    aErr getConfig(aEtherConfig* config) const;
    // aErrMode while connected.
    aErr setConfig(aEtherConfig config);
    // aErrNotFound when no linkSpec is stored.
    aErr getLinkSpecifier(linkSpec* spec) const;
    // aErrBusy while connected.
    aErr setLinkSpecifier(const linkSpec& spec);
    const char* getName() const;

    // --- Connection ---
    aErr connect();
    aErr discoverAndConnect(linkType type, std::uint32_t serialNumber, std::uint8_t model);
    aErr connectThroughLinkModule(Link& other);
    bool isConnected() const;
    int getStatus() const;
    aErr disconnect();
    aErr reset();
    aErr getModuleAddress(std::uint8_t* address);
    aErr enablePooledPackets(bool enable);

    // --- Entity requests and raw packets ---
    // Halves of an exchange, for callers that pair them themselves. The
    // library's own exchanges (entities, I2C, introspection, slots, factory
    // data, stream control) each take the link's turn for the replies they
    // expect, so callers sharing one link from several threads never get
    // each other's replies, nor a late reply to an earlier request.
    aErr sendUEI(uei request);
    aErr sendUEI(uei request, std::uint8_t subindex);
    aErr receiveUEI(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                    uei* reply);
    aErr receiveUEI(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                    uei* reply, ueiFilter_t filter);
    aErr dropMatchingUEIPackets(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                std::uint8_t index);
    aErr sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data);
    aErr receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data);

    // --- Packet log: records of the packets exchanged, written to a file ---
    // aErrConfiguration without a link; aErrIO when the file cannot be opened.
    aErr enablePacketLog(const char* path);
    // aErrConfiguration without a link, aErrParam when logging was never on,
    // aErrIO when lines were lost to failed writes.
    aErr disablePacketLog();

    // --- Store slots (command 4) and factory data (command 94) ---
    aErr storeSlotCapacity(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::size_t* capacity);
    aErr storeSlotSize(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::size_t* size);
    aErr loadStoreSlot(std::uint8_t module, std::uint8_t store, std::uint8_t slot, const std::uint8_t* data,
                       std::size_t length);
    aErr unloadStoreSlot(std::uint8_t module, std::uint8_t store, std::uint8_t slot, std::uint8_t* buffer,
                         std::size_t capacity, std::size_t* count);
    // Blocks 0-15; the buffer must be larger than the data.
    aErr getFactoryData(std::uint8_t module, std::uint8_t block, std::uint8_t* buffer, std::size_t capacity,
                        std::size_t* count);
    aErr setFactoryData(std::uint8_t module, std::uint8_t block, const std::uint8_t* data, std::size_t length);

    // --- Streams ---
    aErr registerStreamCallback(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                std::uint8_t index, bool enable, streamCallback_t callback, void* reference);
    aErr enableStream(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                      bool enable);
    aErr isLinkStreaming(std::uint8_t module, std::uint8_t* state);
    aErr getStreamValue(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                        std::uint8_t subindex, std::uint32_t* value);
    aErr getStreamStatus(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                         std::uint8_t subindex, StreamStatusEntry* rows, std::size_t capacity,
                         std::size_t* count);
    std::vector<std::uint64_t> filterActiveStreamKeys(std::uint8_t module, std::uint8_t command,
                                                      std::uint8_t option, std::uint8_t index,
                                                      std::uint8_t subindex, bool lock);

    static std::uint64_t createStreamKey(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                         std::uint8_t index, std::uint8_t subindex);
    static std::uint8_t getStreamKeyElement(std::uint64_t key, int element);
    static bool isStreamPacket(const aPacket* packet);
    static bool getStreamPacketType(const aPacket* packet, STREAM_PACKET* type);
    static bool isSubindexType(STREAM_PACKET type);
    static bool isStreamSample(const aPacket* packet);
    static aErr getStreamSample(const aPacket* packet, std::uint64_t* timestamp, std::uint32_t* value,
                                std::uint8_t* subindex);
    static void getTimestampParts(std::uint64_t timestamp, std::uint32_t* high, std::uint32_t* low);
    // The packet filter this Link installs on its link; runs on the reader thread.
    static std::uint8_t linkStreamFilter(const aPacket* packet, void* impl);

    struct impl;

private:
    friend class LinkExchange;
    impl* m_impl;
};

}  // namespace Morvasset
}  // namespace Zorventa
