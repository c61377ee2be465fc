// Records shared by the module simulator: packets as the module saw them,
// the state of one simulated module, handler outboxes, faults and events.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace morvsim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// Link-level address bytes the host sends in place of a module address.
constexpr std::uint8_t kSyncByte = 0xAD;
constexpr std::uint8_t kForceRouteByte = 0xAF;
// Command byte of heartbeats and their answers.
constexpr std::uint8_t kHeartbeatCommand = 0x00;
constexpr std::size_t kMaxDataBytes = 28;

// One packet received from the host.
struct SimPacket {
    std::uint8_t address = 0;
    Bytes data;
    std::uint64_t connection = 0;  // 1 for the first connection, counting every attach, accept or reopen
    Clock::time_point when{};

    // Address byte, length byte, data bytes.
    Bytes wire() const;
    bool isSyncRequest() const { return address == kSyncByte && data.empty(); }
    bool isForceRoute() const { return address == kForceRouteByte && data.size() == 1; }
    bool is(std::uint8_t addr, const Bytes& bytes) const { return address == addr && data == bytes; }
};

// What a handler answers; the simulator writes it after the handler returns,
// with the reply faults applied.
class SimReply {
public:
    // A framed packet; data longer than 28 bytes is cut to 28 (use raw() to send a malformed one).
    void packet(std::uint8_t address, const Bytes& data);
    // Bytes exactly as given.
    void raw(const Bytes& bytes);
    // The whole answer goes out this much later than the faults say.
    void delayBy(Millis delay) { delay_ = delay; }

    const std::vector<Bytes>& chunks() const { return chunks_; }
    bool empty() const { return chunks_.empty(); }
    Millis delay() const { return delay_; }

private:
    std::vector<Bytes> chunks_;
    Millis delay_{0};
};

struct HeartbeatStats {
    std::uint64_t sent = 0;
    std::uint64_t answered = 0;    // answer carried the heartbeat's value + 2
    std::uint64_t wrong = 0;       // an answer came, with another value or shape
    std::uint64_t unanswered = 0;  // no answer within the module's answer time-out, or connection lost
    std::uint64_t stray = 0;       // a heartbeat answer while none was outstanding
};

struct SimModule;

// Runs on the simulator's thread with the simulator's state locked: it may read
// and change the module record, and answers through the reply. It must not call
// the ModuleSimulator's own methods.
using Handler = std::function<void(SimModule& module, const SimPacket& packet, SimReply& reply)>;

// Everything one simulated module is. Tests read snapshots of it
// (ModuleSimulator::module) or change it in place (ModuleSimulator::withModule).
struct SimModule {
    explicit SimModule(std::uint8_t moduleAddress = 2, std::uint32_t serial = 0, std::uint8_t modelNumber = 0)
        : address(moduleAddress), serialNumber(serial), model(modelNumber) {}

    std::uint8_t address;
    std::uint32_t serialNumber;
    std::uint8_t model;

    // Entity values by key, for the entity handlers that build on this record.
    std::map<std::uint32_t, Bytes> entities;
    // Handlers by command byte (data[0]) of packets addressed to this module.
    std::map<std::uint8_t, Handler> handlers;

    // Packets addressed to this module, and the link-level packets it handled
    // as the link module.
    std::vector<SimPacket> received;

    // Answers "address 0x00" to each sync request this many times.
    unsigned syncAnswersPerRequest = 1;
    std::uint64_t syncRequests = 0;
    std::uint64_t forceRouteCount = 0;
    int forceRoute = -1;  // last force-route value, -1 before the first
    std::uint64_t malformedLinkPackets = 0;  // 0xAD or 0xAF with an unexpected length
    std::uint64_t unhandledPackets = 0;      // no handler for the command (or no data)

    HeartbeatStats heartbeats;
    Millis heartbeatAnswerTimeout{1000};
    struct PendingHeartbeat {
        std::uint8_t value;
        Clock::time_point sent;
    };
    std::deque<PendingHeartbeat> pendingHeartbeats;  // oldest first
    Millis heartbeatInterval{0};                     // 0: no timed heartbeats
    Clock::time_point nextHeartbeat{};
    std::uint8_t nextHeartbeatValue = 0;             // timed heartbeats alternate 0 and 1
};

// Timing of bytes the simulator writes.
struct SendTiming {
    Millis delay{0};   // before the first byte
    bool split = false; // one write per byte
    Millis gap{0};     // between the bytes of a split write
};

// Faults that change how the simulated modules behave.
struct Faults {
    SendTiming replyTiming;   // applied to every handler's answer
    bool ignoreSync = false;  // sync requests and address queries get no answer
    bool silent = false;      // no answer to anything and no timed heartbeats
    bool pauseReading = false; // bytes stay in the kernel buffer until reading resumes
};

struct ConnectionEvent {
    enum class Kind {
        Attached,    // a descriptor or pty master was handed over
        Accepted,    // a TCP connection was accepted
        Reopened,    // the pty slave was opened again after a hang-up
        PeerClosed,  // end of stream, or pty hang-up
        PeerReset,   // ECONNRESET
        Failed,      // another read or write error (see error)
        LocalClosed, // closeConnection
        LocalReset,  // resetConnection
    };
    Kind kind;
    std::uint64_t connection;
    int error;  // errno for Failed and PeerReset, else 0
    Clock::time_point when;
};

}  // namespace morvsim
