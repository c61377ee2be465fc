// The firmware loader of a simulated module: the module's side of the upgrade
// command set (command 95), a simulated flash, the link dropped on reboot (and
// on LOAD when asked) and faults of a loader that misbehaves.
//
//   ModuleSimulator sim(SimModule(4, 0x1234, 19));
//   std::uint16_t port = sim.listenTcp("127.0.0.5");
//   LoaderConfig config;
//   config.blockSize = 1024;
//   config.ueiData = true;                   // also takes option 10 (entity byte-buffer sets)
//   SimFirmwareLoader loader(sim, 4, config); // declare after the simulator: it must outlive the loader
//   ... the host speaks command 95 ...
//   loader.flash(0x10000, 4096)              // flash bytes (erased flash reads 0xFF)
//   loader.record().loaderImage              // loader blocks by load address
//
// Requests and answers ([95, option, ...] from the host; big-endian values):
//   INIT     [95, 0]                       -> [95, 0, loadBase u32]; back to the Boot stage
//   PREPARE  [95, 3, flags, address u32]   -> [95, 7, 0, blockSize u16]; a new block at address
//   DATA     [95, 1, n bytes]              -> [95, 1, n]; the bytes are accepted
//   option 10 set [95, 0x8A, 0x20 | index, bytes..., sequence] in packets of up to 24 bytes
//                                          -> [95, 0xCA, index] after the last packet; the bytes are
//                                             accepted (an error reply with code 29 without ueiData,
//                                             24 for a packet out of sequence)
//   SUM      [95, 4]                       -> [95, 7, 0, byte sum u32] of the bytes accepted since
//                                             PREPARE or the last WRITE
//   WRITE    [95, 5, count u16]            -> [95, 7, status]: 0 when count equals the bytes accepted
//                                             since PREPARE or the last WRITE and they fit the flash;
//                                             they are written at the block's next address
//   LOAD     [95, 2]                       -> [95, 2]; the loader image runs: Loader stage
//   REBOOT   [95, 6]                       -> no answer; Rebooted stage; the link is dropped
// In the Boot stage accepted bytes go to the loader image of the block (no WRITE
// is needed and WRITE answers status 1); in the Loader stage only WRITE puts them
// into the flash. Failed WRITE statuses: 1 wrong stage or no block, 2 count
// differs from the bytes accepted, 3 outside the flash.
//
// With ueiData the module answers hasUEI(95, 10, 0, ...) with 0 through the
// introspection handler (SimIntrospection.h) when the test installs it.
//
// The link is dropped (the TCP listener closed too, and opened again after
// config.downtime) on a worker thread of the loader, since handlers may not
// call the simulator. With dropLinkOnLoad the LOAD answer is sent on
// the next connection, right after the sync answer that lets the host's new
// link run (LoaderConfig::loadAnswerAfterSyncs). The loader replaces the simulator's sync
// handler with the default one for that.
#pragma once

#include "ModuleSimulator.h"
#include "SimTypes.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvsim {

constexpr std::uint8_t kUpgradeCommand = 95;

enum class LoaderStage {
    Boot,     // before LOAD: blocks go to the loader image
    Loader,   // after LOAD: blocks go to the flash by WRITE
    Rebooted, // after REBOOT: nothing is answered until INIT
};

struct LoaderConfig {
    std::uint32_t loadBase = 0x20000000;
    std::uint16_t blockSize = 1024;
    std::uint32_t flashBase = 0;
    std::size_t flashSize = 512 * 1024;
    bool ueiData = false;
    // Where the simulator listens on TCP. A dropped link closes the listener
    // too (a host's TCP stream would reconnect to it at once) and listens
    // again after the downtime. Empty: only the connection is closed.
    Millis downtime{300};
    std::string listenIp;
    // A module on USB leaves the bus when it drops the link and comes back
    // after the downtime: called on the loader's worker thread, the first
    // after the connection closed, the second in place of listening again.
    std::function<void()> linkDropped;
    std::function<void()> linkBack;
    // With dropLinkOnLoad the LOAD answer follows this many sync answers on the
    // next connection: 1 over TCP, where the only 0xAD is the host's address
    // query; 2 where the host runs a sync handshake first (its link runs once
    // two answers are in).
    unsigned loadAnswerAfterSyncs = 1;
    // Not 0: the LOAD answer instead follows the last sync request of the next
    // connection once this long passed without another (a host whose
    // handshake length depends on how fast answers come).
    Millis loadAnswerQuiet{0};
};

struct LoaderFaults {
    // Answers to requests of these options are cut to this many data bytes.
    std::map<std::uint8_t, std::size_t> shortReplies;
    // Status byte answered to PREPARE (3), SUM (4) or WRITE (5), which then does nothing.
    std::map<std::uint8_t, std::uint8_t> statuses;
    // The ackMismatchAt-th DATA packet after setFaults (counting from 1) and the
    // ackMismatchCount - 1 after it are answered with a count one less (one more
    // for 0 bytes) and not accepted. 0: none.
    unsigned ackMismatchAt = 0;
    unsigned ackMismatchCount = 1;
    // Added to every SUM answer.
    std::uint32_t sumError = 0;
    // LOAD is not answered at all.
    bool noLoadReply = false;
    // LOAD drops the link; its answer comes on the next connection.
    bool dropLinkOnLoad = false;
    // The next request with this option is answered this late, while later
    // answers go out as usual. -1: none.
    int lateReplyOption = -1;
    Millis lateReplyDelay{1300};
    // REBOOT leaves the link up.
    bool keepLinkOnReboot = false;
};

struct LoaderRecord {
    LoaderStage stage = LoaderStage::Boot;
    // Loader blocks by load address, as accepted.
    std::map<std::uint32_t, Bytes> loaderImage;
    // Counts of the WRITE requests carried out, in order, and their addresses.
    std::vector<std::uint16_t> writes;
    std::vector<std::uint32_t> writeAddresses;
    unsigned inits = 0;
    unsigned prepares = 0;
    unsigned dataPackets = 0;
    unsigned dataRefused = 0;  // DATA packets answered with a wrong count
    unsigned ueiSets = 0;      // option-10 sets completed
    unsigned ueiPackets = 0;
    unsigned sums = 0;
    unsigned writeRequests = 0;
    unsigned loads = 0;
    unsigned reboots = 0;
    unsigned linkDrops = 0;     // connections the module closed
    unsigned loadAnnounced = 0; // LOAD answers sent on a new connection
    unsigned lateSent = 0;      // late answers that went out
};

class SimFirmwareLoader {
public:
    // Installs the loader on the simulator's module at address (which must exist).
    SimFirmwareLoader(ModuleSimulator& sim, std::uint8_t address, LoaderConfig config = LoaderConfig());
    // Removes the handlers and stops the worker; pending late answers are dropped.
    ~SimFirmwareLoader();

    SimFirmwareLoader(const SimFirmwareLoader&) = delete;
    SimFirmwareLoader& operator=(const SimFirmwareLoader&) = delete;

    void setFaults(const LoaderFaults& faults);
    void setStage(LoaderStage stage);
    LoaderRecord record() const;
    // Flash bytes from address on; throws std::out_of_range outside the flash.
    Bytes flash(std::uint32_t address, std::size_t length) const;
    // True once pred held on a snapshot of the record, false after the time-out.
    bool waitFor(const std::function<bool(const LoaderRecord&)>& pred, Millis timeout) const;

    struct State;

private:
    struct Action {
        enum class Kind { DropLink, SendLate, AnnounceLoad } kind;
        Bytes data;
        Clock::time_point due;
        unsigned generation = 0;  // AnnounceLoad: the sync it follows
    };

    void post(Action action);
    void work();
    void dropLink();

    ModuleSimulator& sim_;
    std::uint8_t address_;
    std::shared_ptr<State> state_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Action> actions_;
    bool stop_ = false;
    std::thread worker_;
};

}  // namespace morvsim
