// The private record behind Link, and the records of its stream table and
// callback worker. Only the Link sources include this.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Link.h"
#include "LinkTurns.h"
#include "StreamWorker.h"
#include "aLogger.h"

namespace Zorventa {
namespace Morvasset {

// One row of the stream table.
struct StreamEntry {
    std::uint64_t key = 0;
    std::uint8_t fresh = 0;  // 1: a value arrived that has not been read
    streamCallback_t callback;
    void* reference = nullptr;
    std::uint32_t value = 0;  // the last sample value
};

// Serialises link creation by every Link of the process.
extern std::mutex linkCreateHelperSerializer;

struct Link::impl {
    explicit impl(Link& owner, const char* linkName);
    ~impl();

    impl(const impl&) = delete;
    impl& operator=(const impl&) = delete;

    Link& link;
    int linkID = 0;  // 0: no link held
    aEtherConfig config;
    std::map<std::uint64_t, StreamEntry> streamTable;
    // The callback worker: its thread, and the queue and signals it shares with us.
    std::thread worker;
    std::shared_ptr<StreamWorker> workerState;
    std::mutex streamTableMutex;
    std::unique_ptr<char[]> name;
    linkSpec* spec = nullptr;
    // The link id on which this Link's stream filter is installed; 0 for none.
    int filterLinkID = 0;
    // Writes the packet log to its file; none until logging is first enabled.
    aLogger* logger = nullptr;
    // The turns of the link linkID names, looked up again when the id
    // changes; turnsGuard guards both.
    std::mutex turnsGuard;
    int turnsLinkID = 0;
    std::shared_ptr<LinkTurns> turns;

    // --- Connection (LinkConnect.cpp) ---
    aErr setSpecifier(const linkSpec& newSpec);
    aErr getSpecifier(linkSpec* out) const;
    const char* getName() const { return name.get(); }
    // Creates a link for the linkSpec; existingID is a link to share (another
    // Link's), 0 for none. On success *created holds the new id, else 0.
    aErr linkCreateHelper(const linkSpec& linkSpecifier, int existingID, int* created);
    aErr discoveryAndConnectHelper(linkType type, std::uint32_t serialNumber, std::uint8_t model);
    aErr waitForLink(std::uint16_t rounds) const;
    aErr connectHelper(int existingID);

    // --- Requests and replies (LinkEntity.cpp) ---
    // The turns of the held link; none without one.
    std::shared_ptr<LinkTurns> turnsOfLink();
    // The work of Link::sendUEI, Link::sendPacket and of queueing any packet
    // of an exchange: one request's packets go through the link's send gate
    // together, waited for until gateDeadline (aErrTimeout after it); the
    // time the gate took is added to *gateWait when given.
    aErr sendUEI(const uei& request, const std::uint8_t* subindex, LinkTurns::Clock::time_point gateDeadline,
                 LinkTurns::Clock::duration* gateWait);
    aErr sendPacket(std::uint8_t module, std::uint8_t command, std::uint8_t length, const std::uint8_t* data,
                    LinkTurns::Clock::time_point gateDeadline, LinkTurns::Clock::duration* gateWait);
    aErr queueGated(std::uint8_t address, std::uint8_t length, const std::uint8_t* data,
                    LinkTurns::Clock::time_point gateDeadline, LinkTurns::Clock::duration* gateWait);
    // An exchange's wait: through the link's turns, with its reply pattern.
    struct ReplyWait {
        LinkTurns& turns;
        const ReplyPattern& replies;
    };
    // aLink_AwaitFirst on the held link, or the exchange's wait when given.
    aPacket* awaitFirst(aPacketFifoProc filter, void* reference, std::uint64_t ms, const ReplyWait* wait);
    // The waits of Link::receiveUEI and Link::receivePacket, for up to ms.
    aErr receiveUEI(std::uint8_t module, uei* reply, ueiFilter_t filter, std::uint64_t ms, const ReplyWait* wait);
    aErr receivePacket(std::uint8_t module, const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data,
                       std::uint64_t ms, const ReplyWait* wait);
    // Link::receiveUEI's time-out for a reply of this record.
    static std::uint64_t replyTimeoutFor(const uei& reply);

    // --- Packet log (LinkPacketLog.cpp) ---
    // The logger's writer: moves one record of the link's log to the file.
    static aErr readDebugBuffer(aFile* file, std::int32_t id);
    // Stops the logger and closes its file; before the link is released.
    void destroyPacketLogger();

    // --- Streams (LinkStreams.cpp) ---
    aErr installStreamFilter(bool on);
    // Takes this Link's filter off the link it was installed on, if it is
    // still the one installed there; the result of the removal.
    aErr takeFilterOff();
    // Takes this Link's filter off its link, stops and joins the worker and
    // destroys the jobs still queued; the table stays.
    void removeStreamFilter();
    // Puts the filter back after the link engine dropped it (a reset).
    void restoreStreamFilter();
    void clearStreamTable();
    void queueAsyncCallback(const StreamEntry& entry, const aPacket* packet);

    // --- Worker (LinkStreamWorker.cpp) ---
    // Starts the worker unless one runs; aErrResource when no thread can be made.
    aErr startWorker();
    // Stops the worker and joins it, then destroys the jobs still queued. On
    // the worker itself (a callback) it only asks it to stop.
    void stopWorker();
};

// Links through a local network server (sharing a USB module) and to a
// network server; each gives a link id, 0 on failure. The server case fills
// in the server's port and interface.
int linkCreateServer(std::uint32_t serialNumber, std::uint16_t* port, std::uint32_t* networkInterface,
                     std::uint8_t localOnly);
int linkCreateClient(std::uint32_t address, std::uint16_t port, int existingID);

// Mask number n (0-14) of the wildcard bytes a sample is also looked up
// under; any other number gives 0.
std::uint64_t _getGenericStreamKeyMask(int number);
// True when the data length is that of a valid sample of the type.
bool _checkStreamSampleLength(std::uint8_t dataLength, Link::STREAM_PACKET type);
// Key of a stream packet (module, command, bare option, index, sub-index).
std::uint64_t streamPacketKey(const aPacket* packet, Link::STREAM_PACKET type);

}  // namespace Morvasset
}  // namespace Zorventa
