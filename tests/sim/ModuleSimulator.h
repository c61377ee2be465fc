// Module simulator: plays one or more modules on the far side of a byte stream,
// so that tests drive the library's links against a peer that follows the wire
// rules on its own (it has its own framing, not the library's assembler).
//
// Usage
//   #include "ModuleSimulator.h"
//   using namespace morvsim;
//
//   ModuleSimulator sim(4);                    // one module, address 4; its thread starts now
//   int sv[2]; socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
//   sim.attachFd(sv[1]);                       // takes ownership; the host side uses sv[0]
//   // or: uint16_t port = sim.listenTcp("127.0.0.2");   one connection at a time, accepts again
//   //     after the host closed or reset; stopListening() makes later connects fail
//   // or: morvtest::PtyPair pty; sim.attachPty(pty);  // the host opens pty.slavePath()
//
//   What it does by itself (the link module answers the link-level bytes):
//     0xAD 0x00 (sync request / address query) -> "4 0x00", syncAnswersPerRequest times
//     0xAF 0x01 v (force route)                -> recorded in forceRoute / forceRouteCount
//     4 0x02 0x00 x (heartbeat answer)         -> checked against the oldest heartbeat sent
//   Nothing else is answered until a handler is set.
//
//   Handlers (run on the simulator thread with its state locked; answer via the reply):
//     sim.setHandler(4, 23, [](SimModule& m, const SimPacket& p, SimReply& r) {
//         r.packet(m.address, p.data);           // echo
//     });
//     sim.setLinkHandler(kSyncByte, scriptedSyncAnswers({{4, 0, 4, 0}, {}, {}, {}, {}, {}}));
//                                                // a handshake table row: six requests, two answers;
//                                                // handleSyncRequest() and the other defaults stay callable
//     sim.addModule(SimModule(6, 0x1234, 19));   // more modules behind the same stream
//     sim.withModule(4, [](SimModule& m) { m.syncAnswersPerRequest = 2; });
//
//   Heartbeats: sim.sendHeartbeat(4, 0); sim.startHeartbeats(4, Millis(50)); (values 0,1,0,...)
//     sim.heartbeatStats(4) -> sent / answered / wrong / unanswered / stray; the answer
//     time-out is SimModule::heartbeatAnswerTimeout (1000 ms).
//
//   Records (all thread-safe): packets(), packetCount(), rawReceived() (every byte, for
//     exact-byte checks), module(4).received, framingErrors(), unroutedPackets(),
//     connectionEvents(), connectionCount(); clearRecords() empties the logs.
//   Waiting, never blind sleeps:
//     sim.waitForPacket([](const SimPacket& p) { return p.isForceRoute(); }, Millis(2000));
//     sim.waitForPacketCount([](const SimPacket& p) { return p.isSyncRequest(); }, 6, Millis(2000));
//     sim.waitForRawBytes(12, Millis(2000));
//     sim.waitUntil([&] { return sim.module(4).forceRoute == 0; }, Millis(2000));
//
//   Sending and faults:
//     sim.sendRaw({0x03, 0xFF});                 // garbage, exactly these bytes
//     sim.sendPacket(4, {0x05, 0x01}, SendTiming{Millis(0), true, Millis(20)});
//     Faults f; f.replyTiming.delay = Millis(300); f.replyTiming.split = true;
//     f.replyTiming.gap = Millis(10); f.ignoreSync = true; f.silent = true;
//     f.pauseReading = true; sim.setFaults(f);
//     sim.closeConnection(); sim.resetConnection();  // reset: SO_LINGER 0 on TCP
//   Everything written keeps one order: a delayed answer holds back what is sent after it.
//   Sends return false when no connection is up; bytes still queued when a connection
//   ends are dropped and counted in droppedBytes().
//   A pty's line settings are left to the host (a test that plays the host on the slave
//   itself sets it raw); a slave hang-up is waited out and a reopen is a new connection.
//
//   Shutdown: stop() or the destructor; bounded (the thread only ever waits in poll,
//   and pending delayed answers are dropped).
#pragma once

#include "SimFraming.h"
#include "SimHandlers.h"
#include "SimTypes.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace morvtest {
class PtyPair;
}

namespace morvsim {

class ModuleSimulator {
public:
    // One module with the given address (even, non-zero).
    explicit ModuleSimulator(std::uint8_t address = 2);
    explicit ModuleSimulator(SimModule first);
    ~ModuleSimulator();

    ModuleSimulator(const ModuleSimulator&) = delete;
    ModuleSimulator& operator=(const ModuleSimulator&) = delete;

    // Ends the thread and closes every descriptor; later calls do nothing.
    void stop();

    // --- Modules and handlers ---
    // Adds a module (default handlers filled in); throws std::invalid_argument for
    // an odd or zero address or one already present.
    void addModule(SimModule module);
    // The module that answers the link-level bytes; the first module by default.
    void setLinkModule(std::uint8_t address);
    std::uint8_t linkModule() const;
    // An empty handler removes the entry. Throws std::out_of_range for an unknown module.
    void setHandler(std::uint8_t moduleAddress, std::uint8_t command, Handler handler);
    // Handler for a link-level address byte (0xAD, 0xAF), run with the link module.
    void setLinkHandler(std::uint8_t linkByte, Handler handler);
    // Snapshot of a module; throws std::out_of_range for an unknown address.
    SimModule module(std::uint8_t address) const;
    // Changes a module in place under the simulator's lock; fn must not call the simulator.
    void withModule(std::uint8_t address, const std::function<void(SimModule&)>& fn);

    // --- Transports (each replaces the one before, closing it) ---
    // Takes ownership of a connected stream descriptor (e.g. one end of a socketpair).
    void attachFd(int fd);
    // Takes ownership of a pty master; a slave hang-up is waited out, and a reopened
    // slave counts as a new connection.
    void attachPtyMaster(int fd);
    // Takes the pair's master over (the pair's own master descriptor is closed).
    void attachPty(morvtest::PtyPair& pty);
    // Listens on ip (127.0.0.0/8 only) and returns the port (port 0: a free one).
    std::uint16_t listenTcp(const std::string& ip = "127.0.0.1", std::uint16_t port = 0);
    std::uint16_t listenPort() const;
    // Closes the listener; the current connection stays.
    void stopListening();
    // Closes the current connection; false when there was none. A TCP listener
    // accepts the next connection afterwards.
    bool closeConnection();
    // The same with SO_LINGER 0, so a TCP peer sees a reset.
    bool resetConnection();
    bool connected() const;
    std::uint64_t connectionCount() const;
    std::vector<ConnectionEvent> connectionEvents() const;

    // --- Sending (false when no connection is up) ---
    bool sendRaw(const Bytes& bytes, SendTiming timing = {});
    // Also false for more than 28 data bytes.
    bool sendPacket(std::uint8_t address, const Bytes& data, SendTiming timing = {});
    // The heartbeat "address 0x02 0x00 value" of a module.
    bool sendHeartbeat(std::uint8_t moduleAddress, std::uint8_t value);
    // Timed heartbeats every interval (first one after one interval); Millis(0) stops them.
    void startHeartbeats(std::uint8_t moduleAddress, Millis interval);
    void stopHeartbeats(std::uint8_t moduleAddress) { startHeartbeats(moduleAddress, Millis(0)); }
    HeartbeatStats heartbeatStats(std::uint8_t moduleAddress) const;

    // --- Faults ---
    void setFaults(const Faults& faults);
    Faults faults() const;

    // --- Records ---
    std::vector<SimPacket> packets() const;
    std::size_t packetCount() const;
    Bytes rawReceived() const;
    std::uint64_t framingErrors() const;
    std::uint64_t unroutedPackets() const;
    std::uint64_t handlerFailures() const;  // handlers that threw
    std::uint64_t bytesWritten() const;
    std::uint64_t droppedBytes() const;
    std::uint64_t wakeups() const;          // loop iterations of the thread, to check it idles
    // Empties the packet and byte logs (the simulator's and every module's).
    void clearRecords();

    // pred runs without the simulator's lock and may call its accessors. True once
    // pred held, false when the time-out passed first.
    bool waitUntil(const std::function<bool()>& pred, Millis timeout) const;
    // First packet at index fromIndex or later that pred accepts; pred runs under
    // the simulator's lock and must not call it.
    std::optional<SimPacket> waitForPacket(const std::function<bool(const SimPacket&)>& pred, Millis timeout,
                                           std::size_t fromIndex = 0) const;
    bool waitForPacketCount(const std::function<bool(const SimPacket&)>& pred, std::size_t count, Millis timeout,
                            std::size_t fromIndex = 0) const;
    bool waitForRawBytes(std::size_t count, Millis timeout) const;

private:
    // A copy of a field taken under the lock.
    template <typename T>
    T locked(const T& field) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return field;
    }
    enum class Transport { None, Fd, Pty, Tcp };
    struct OutChunk {
        Clock::time_point due;
        Bytes bytes;
        std::size_t offset = 0;
    };

    void start();
    void loop();
    void runCommands();
    void runOnLoop(const std::function<void()>& fn);
    void wake();
    void bump();
    bool waitLocked(std::unique_lock<std::mutex>& lock, Millis timeout, const std::function<bool()>& pred) const;

    void attach(int fd, Transport transport);
    void dropTransportLocked();
    void acceptOne();
    void handleConnection(short revents);
    void readAvailable();
    void consume(const std::uint8_t* bytes, std::size_t count);
    void dispatch(HostFramer::Frame& frame);
    void connectionLost(ConnectionEvent::Kind kind, int error);
    void hangUp();
    void checkHangUp();
    void clearConnectionState();
    void recordEvent(ConnectionEvent::Kind kind, int error);
    bool connectedLocked() const { return connFd_ >= 0 && !hungUp_; }

    void queueOut(const Bytes& bytes, const SendTiming& timing);
    void flushOut(Clock::time_point now);
    void runTimers(Clock::time_point now);
    void expireHeartbeats(SimModule& module, Clock::time_point now);
    void sendHeartbeatLocked(SimModule& module, std::uint8_t value);
    Clock::time_point nextDeadline(Clock::time_point now) const;

    SimModule& moduleLocked(std::uint8_t address);
    const SimModule& moduleLocked(std::uint8_t address) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint64_t generation_ = 0;
    std::thread thread_;
    int wakeFd_ = -1;
    bool stopRequested_ = false;
    bool threadDone_ = false;
    bool stopped_ = false;

    std::deque<std::function<void()>> commands_;
    std::uint64_t commandsPosted_ = 0;
    std::uint64_t commandsDone_ = 0;

    Transport transport_ = Transport::None;
    int listenFd_ = -1;
    std::uint16_t listenPort_ = 0;
    int connFd_ = -1;
    bool connIsSocket_ = false;
    bool hungUp_ = false;       // pty slave closed; waiting for it to reopen
    bool quarantined_ = false;  // peer gone while reading is paused: not polled until resumed
    std::uint64_t connections_ = 0;
    std::vector<ConnectionEvent> events_;

    std::map<std::uint8_t, SimModule> modules_;
    std::uint8_t linkModule_ = 0;
    std::map<std::uint8_t, Handler> linkHandlers_;

    HostFramer framer_;
    std::vector<SimPacket> packets_;
    Bytes raw_;
    std::uint64_t framingErrors_ = 0;
    std::uint64_t unrouted_ = 0;
    std::uint64_t handlerFailures_ = 0;
    std::uint64_t bytesWritten_ = 0;
    std::uint64_t droppedBytes_ = 0;
    std::uint64_t wakeups_ = 0;

    Faults faults_;
    std::deque<OutChunk> out_;
};

}  // namespace morvsim
