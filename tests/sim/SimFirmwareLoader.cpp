#include "SimFirmwareLoader.h"

#include "SimEntities.h"
#include "SimHandlers.h"

#include <algorithm>
#include <stdexcept>

namespace morvsim {

namespace {

constexpr std::uint8_t kInit = 0;
constexpr std::uint8_t kData = 1;
constexpr std::uint8_t kLoad = 2;
constexpr std::uint8_t kPrepare = 3;
constexpr std::uint8_t kSum = 4;
constexpr std::uint8_t kWrite = 5;
constexpr std::uint8_t kReboot = 6;
constexpr std::uint8_t kStatus = 7;
constexpr std::uint8_t kDataUEI = 10;
constexpr std::uint8_t kDataUEISet = kDataUEI | 0x80;
constexpr std::uint8_t kDataUEIAck = kDataUEI | 0xC0;

constexpr std::uint8_t kErrPacket = 24;
constexpr std::uint8_t kErrInvalidOption = 29;

constexpr std::uint8_t kWrongStage = 1;
constexpr std::uint8_t kWrongCount = 2;
constexpr std::uint8_t kOutsideFlash = 3;

std::uint32_t be32(const Bytes& d, std::size_t at)
{
    return (static_cast<std::uint32_t>(d[at]) << 24) | (static_cast<std::uint32_t>(d[at + 1]) << 16) |
           (static_cast<std::uint32_t>(d[at + 2]) << 8) | d[at + 3];
}

void putBE32(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

// Everything the handlers touch; used only under the simulator's lock.
struct SimFirmwareLoader::State {
    std::uint8_t address = 0;
    LoaderConfig config;
    LoaderFaults faults;
    LoaderRecord record;
    Bytes flash;

    bool prepared = false;
    std::uint32_t blockAddress = 0;
    std::uint32_t writeAddress = 0;
    Bytes pending;  // accepted since PREPARE or the last WRITE
    unsigned dataAtFaults = 0;

    Bytes uei;  // option-10 set in progress
    std::uint8_t ueiNext = 0;

    bool announceLoad = false;
    std::uint64_t droppedConnection = 0;
    unsigned syncOnNewConnection = 0;
    unsigned announceGeneration = 0;

    // Null once the loader is going away.
    SimFirmwareLoader* owner = nullptr;

    void post(Action action)
    {
        if (owner)
            owner->post(std::move(action));
    }

    void answer(std::uint8_t option, Bytes data, SimReply& reply)
    {
        auto cut = faults.shortReplies.find(option);
        if (cut != faults.shortReplies.end() && data.size() > cut->second)
            data.resize(cut->second);
        if (faults.lateReplyOption == option) {
            faults.lateReplyOption = -1;
            post(Action{Action::Kind::SendLate, std::move(data), Clock::now() + faults.lateReplyDelay});
            return;
        }
        reply.packet(address, data);
    }

    bool faultStatus(std::uint8_t option, std::uint8_t& status) const
    {
        auto it = faults.statuses.find(option);
        if (it == faults.statuses.end() || it->second == 0)
            return false;
        status = it->second;
        return true;
    }

    void accept(const std::uint8_t* bytes, std::size_t count)
    {
        pending.insert(pending.end(), bytes, bytes + count);
        if (record.stage == LoaderStage::Boot) {
            Bytes& image = record.loaderImage[blockAddress];
            image.insert(image.end(), bytes, bytes + count);
        }
    }

    void handle(SimModule& m, const SimPacket& p, SimReply& reply)
    {
        const Bytes& d = p.data;
        if (d.size() < 2) {
            ++m.unhandledPackets;
            return;
        }
        if (record.stage == LoaderStage::Rebooted && d[1] != kInit)
            return;
        switch (d[1]) {
        case kInit: init(reply); break;
        case kData: data(d, reply); break;
        case kLoad: load(p, reply); break;
        case kPrepare: prepare(d, reply); break;
        case kSum: sum(reply); break;
        case kWrite: write(d, reply); break;
        case kReboot: reboot(); break;
        case kDataUEISet: ueiSet(d, reply); break;
        default: ++m.unhandledPackets; break;
        }
    }

    void init(SimReply& reply)
    {
        ++record.inits;
        record.stage = LoaderStage::Boot;
        prepared = false;
        pending.clear();
        uei.clear();
        ueiNext = 0;
        Bytes out{kUpgradeCommand, kInit};
        putBE32(out, config.loadBase);
        answer(kInit, out, reply);
    }

    void prepare(const Bytes& d, SimReply& reply)
    {
        ++record.prepares;
        std::uint8_t status = 0;
        if (d.size() != 7) {
            status = kWrongCount;
        } else if (!faultStatus(kPrepare, status)) {
            blockAddress = be32(d, 3);
            writeAddress = blockAddress;
            pending.clear();
            prepared = true;
            if (record.stage == LoaderStage::Boot)
                record.loaderImage[blockAddress].clear();
        }
        Bytes out{kUpgradeCommand, kStatus, status};
        if (status == 0) {
            out.push_back(static_cast<std::uint8_t>(config.blockSize >> 8));
            out.push_back(static_cast<std::uint8_t>(config.blockSize));
        }
        answer(kPrepare, out, reply);
    }

    void data(const Bytes& d, SimReply& reply)
    {
        ++record.dataPackets;
        const std::size_t count = d.size() - 2;
        const unsigned nth = record.dataPackets - dataAtFaults;
        std::uint8_t acked = static_cast<std::uint8_t>(count);
        bool refuse = !prepared;
        if (faults.ackMismatchAt != 0 && nth >= faults.ackMismatchAt &&
            nth < faults.ackMismatchAt + faults.ackMismatchCount) {
            acked = static_cast<std::uint8_t>(count == 0 ? 1 : count - 1);
            refuse = true;
        }
        if (refuse) {
            ++record.dataRefused;
            if (!prepared)
                acked = 0;
        } else {
            accept(d.data() + 2, count);
        }
        answer(kData, Bytes{kUpgradeCommand, kData, acked}, reply);
    }

    void ueiSet(const Bytes& d, SimReply& reply)
    {
        ++record.ueiPackets;
        const std::uint8_t index = d.size() >= 3 ? static_cast<std::uint8_t>(d[2] & 0x1F) : 0;
        auto error = [&](std::uint8_t code) {
            uei.clear();
            ueiNext = 0;
            answer(kDataUEI, Bytes{kUpgradeCommand, kDataUEIAck, static_cast<std::uint8_t>(index | 0x80), code},
                   reply);
        };
        if (d.size() < 4 || (d.back() & 0x7F) != ueiNext) {
            error(kErrPacket);
            return;
        }
        uei.insert(uei.end(), d.begin() + 3, d.end() - 1);
        ueiNext = static_cast<std::uint8_t>((ueiNext + 1) & 0x7F);
        if (d.back() & 0x80)
            return;  // more to come
        if (!config.ueiData || !prepared) {
            error(kErrInvalidOption);
            return;
        }
        ++record.ueiSets;
        accept(uei.data(), uei.size());
        uei.clear();
        ueiNext = 0;
        answer(kDataUEI, Bytes{kUpgradeCommand, kDataUEIAck, index}, reply);
    }

    void sum(SimReply& reply)
    {
        ++record.sums;
        std::uint8_t status = 0;
        Bytes out{kUpgradeCommand, kStatus};
        if (faultStatus(kSum, status)) {
            out.push_back(status);
        } else {
            std::uint32_t total = faults.sumError;
            for (std::uint8_t b : pending)
                total += b;
            out.push_back(0);
            putBE32(out, total);
        }
        answer(kSum, out, reply);
    }

    void write(const Bytes& d, SimReply& reply)
    {
        ++record.writeRequests;
        std::uint8_t status = 0;
        if (!faultStatus(kWrite, status)) {
            const std::size_t count = d.size() == 4 ? static_cast<std::size_t>((d[2] << 8) | d[3]) : 0;
            if (record.stage != LoaderStage::Loader || !prepared)
                status = kWrongStage;
            else if (d.size() != 4 || count != pending.size())
                status = kWrongCount;
            else if (writeAddress < config.flashBase ||
                     writeAddress - config.flashBase + static_cast<std::uint64_t>(count) > flash.size())
                status = kOutsideFlash;
            if (status == 0) {
                std::copy(pending.begin(), pending.end(),
                          flash.begin() + static_cast<std::ptrdiff_t>(writeAddress - config.flashBase));
                record.writes.push_back(static_cast<std::uint16_t>(count));
                record.writeAddresses.push_back(writeAddress);
                writeAddress += static_cast<std::uint32_t>(count);
                pending.clear();
            }
        }
        answer(kWrite, Bytes{kUpgradeCommand, kStatus, status}, reply);
    }

    void load(const SimPacket& p, SimReply& reply)
    {
        ++record.loads;
        record.stage = LoaderStage::Loader;
        prepared = false;
        pending.clear();
        if (faults.noLoadReply)
            return;
        if (faults.dropLinkOnLoad) {
            announceLoad = true;
            droppedConnection = p.connection;
            syncOnNewConnection = 0;
            post(Action{Action::Kind::DropLink, {}, Clock::now()});
            return;
        }
        answer(kLoad, Bytes{kUpgradeCommand, kLoad}, reply);
    }

    void reboot()
    {
        ++record.reboots;
        record.stage = LoaderStage::Rebooted;
        prepared = false;
        pending.clear();
        if (!faults.keepLinkOnReboot)
            post(Action{Action::Kind::DropLink, {}, Clock::now()});
    }

    void sync(SimModule& m, const SimPacket& p, SimReply& reply)
    {
        handleSyncRequest(m, p, reply);
        if (!announceLoad || p.connection <= droppedConnection || !p.data.empty())
            return;
        if (config.loadAnswerQuiet.count() > 0) {
            post(Action{Action::Kind::AnnounceLoad, {}, Clock::now() + config.loadAnswerQuiet, ++announceGeneration});
            return;
        }
        if (++syncOnNewConnection < config.loadAnswerAfterSyncs)
            return;
        announceLoad = false;
        ++record.loadAnnounced;
        answer(kLoad, Bytes{kUpgradeCommand, kLoad}, reply);
    }
};

SimFirmwareLoader::SimFirmwareLoader(ModuleSimulator& sim, std::uint8_t address, LoaderConfig config)
    : sim_(sim), address_(address), state_(std::make_shared<State>())
{
    state_->address = address;
    state_->config = config;
    state_->flash.assign(config.flashSize, 0xFF);
    state_->owner = this;
    worker_ = std::thread([this] { work(); });

    std::shared_ptr<State> state = state_;
    try {
        sim_.withModule(address, [&](SimModule& m) {
            m.handlers[kUpgradeCommand] = [state](SimModule& module, const SimPacket& p, SimReply& r) {
                state->handle(module, p, r);
            };
            if (config.ueiData)
                m.entities[bufferKey(kUpgradeCommand, kDataUEI, 0)] = Bytes{};
        });
        sim_.setLinkHandler(kSyncByte, [state](SimModule& module, const SimPacket& p, SimReply& r) {
            state->sync(module, p, r);
        });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
        throw;
    }
}

SimFirmwareLoader::~SimFirmwareLoader()
{
    sim_.setLinkHandler(kSyncByte, handleSyncRequest);
    try {
        sim_.withModule(address_, [&](SimModule& m) {
            m.handlers.erase(kUpgradeCommand);
            m.entities.erase(bufferKey(kUpgradeCommand, kDataUEI, 0));
            state_->owner = nullptr;
        });
    } catch (...) {
        // The module is gone; nothing is left to detach.
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void SimFirmwareLoader::setFaults(const LoaderFaults& faults)
{
    sim_.withModule(address_, [&](SimModule&) {
        state_->faults = faults;
        state_->dataAtFaults = state_->record.dataPackets;
    });
}

void SimFirmwareLoader::setStage(LoaderStage stage)
{
    sim_.withModule(address_, [&](SimModule&) { state_->record.stage = stage; });
}

LoaderRecord SimFirmwareLoader::record() const
{
    LoaderRecord copy;
    const_cast<ModuleSimulator&>(sim_).withModule(address_, [&](SimModule&) { copy = state_->record; });
    return copy;
}

Bytes SimFirmwareLoader::flash(std::uint32_t address, std::size_t length) const
{
    Bytes out;
    const_cast<ModuleSimulator&>(sim_).withModule(address_, [&](SimModule&) {
        const Bytes& flash = state_->flash;
        if (address < state_->config.flashBase || address - state_->config.flashBase > flash.size() ||
            length > flash.size() - (address - state_->config.flashBase))
            throw std::out_of_range("firmware loader: outside the simulated flash");
        auto first = flash.begin() + static_cast<std::ptrdiff_t>(address - state_->config.flashBase);
        out.assign(first, first + static_cast<std::ptrdiff_t>(length));
    });
    return out;
}

bool SimFirmwareLoader::waitFor(const std::function<bool(const LoaderRecord&)>& pred, Millis timeout) const
{
    return sim_.waitUntil([&] { return pred(record()); }, timeout);
}

// ---------------------------------------------------------------- worker

void SimFirmwareLoader::post(Action action)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        actions_.push_back(std::move(action));
    }
    wake_.notify_all();
}

void SimFirmwareLoader::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !actions_.empty(); });
        if (stop_)
            return;
        Action action = std::move(actions_.front());
        actions_.pop_front();
        if (wake_.wait_until(lock, action.due, [&] { return stop_; }))
            return;
        // Never call the simulator with the lock held: its handlers post here.
        lock.unlock();
        if (action.kind == Action::Kind::DropLink) {
            dropLink();
        } else if (action.kind == Action::Kind::AnnounceLoad) {
            bool send = false;
            sim_.withModule(address_, [&](SimModule&) {
                if (state_->announceLoad && state_->announceGeneration == action.generation) {
                    state_->announceLoad = false;
                    ++state_->record.loadAnnounced;
                    send = true;
                }
            });
            if (send)
                sim_.sendPacket(address_, Bytes{kUpgradeCommand, kLoad});
        } else if (sim_.sendPacket(address_, action.data)) {
            sim_.withModule(address_, [&](SimModule&) { ++state_->record.lateSent; });
        }
        lock.lock();
    }
}

void SimFirmwareLoader::dropLink()
{
    // A host's TCP stream reconnects by itself to a listener that still
    // accepts, so a module that goes away stops listening first.
    const bool relisten = !state_->config.listenIp.empty();
    const bool comesBack = relisten || state_->config.linkBack;
    const std::uint16_t port = sim_.listenPort();
    if (relisten)
        sim_.stopListening();
    if (sim_.closeConnection())
        sim_.withModule(address_, [&](SimModule&) { ++state_->record.linkDrops; });
    if (state_->config.linkDropped)
        state_->config.linkDropped();
    if (!comesBack)
        return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, state_->config.downtime, [&] { return stop_; }))
            return;
    }
    if (state_->config.linkBack) {
        state_->config.linkBack();
        return;
    }
    try {
        sim_.listenTcp(state_->config.listenIp, port);
    } catch (...) {
        // The port was taken meanwhile: the module stays unreachable, which
        // the host's reconnect reports.
    }
}

}  // namespace morvsim
