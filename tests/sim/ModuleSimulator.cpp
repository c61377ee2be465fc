#include "ModuleSimulator.h"

#include "PtyPair.h"
#include "SimSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvsim {

namespace {

// How often a hung-up pty is looked at for a reopened slave.
constexpr Millis kHangUpRecheck{20};
// Longest single wait; longer time-outs saturate here instead of overflowing.
constexpr Millis kLongestWait{24 * 3600 * 1000};
// Reads per wake-up, so timers and writes are not starved by a fast sender.
constexpr int kReadsPerWake = 16;

Millis clampWait(Millis timeout)
{
    if (timeout < Millis(0))
        return Millis(0);
    return std::min(timeout, kLongestWait);
}

void checkModuleAddress(std::uint8_t address)
{
    if (address == 0 || (address & 1) != 0)
        throw std::invalid_argument("module simulator: module address must be even and non-zero");
}

}  // namespace

ModuleSimulator::ModuleSimulator(std::uint8_t address) : ModuleSimulator(SimModule(address)) {}

ModuleSimulator::ModuleSimulator(SimModule first)
{
    checkModuleAddress(first.address);
    linkHandlers_[kSyncByte] = handleSyncRequest;
    linkHandlers_[kForceRouteByte] = handleForceRoute;
    linkModule_ = first.address;
    installDefaultHandlers(first);
    modules_.emplace(first.address, std::move(first));
    start();
}

ModuleSimulator::~ModuleSimulator()
{
    stop();
}

void ModuleSimulator::start()
{
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error(std::string("module simulator: eventfd: ") + std::strerror(errno));
    thread_ = std::thread([this] { loop(); });
}

void ModuleSimulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_)
            return;
        stopped_ = true;
        stopRequested_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    dropTransportLocked();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    bump();
}

// ---------------------------------------------------------------- thread

void ModuleSimulator::wake()
{
    std::uint64_t one = 1;
    // A full counter already wakes the thread, so a failed write loses nothing.
    if (wakeFd_ >= 0)
        (void)!::write(wakeFd_, &one, sizeof(one));
}

void ModuleSimulator::bump()
{
    ++generation_;
    changed_.notify_all();
}

void ModuleSimulator::runCommands()
{
    if (commands_.empty())
        return;
    while (!commands_.empty()) {
        auto fn = std::move(commands_.front());
        commands_.pop_front();
        fn();
        ++commandsDone_;
    }
    // The posters wait for this.
    bump();
}

void ModuleSimulator::runOnLoop(const std::function<void()>& fn)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (threadDone_ || stopRequested_) {
        fn();
        bump();
        return;
    }
    commands_.push_back(fn);
    std::uint64_t ticket = ++commandsPosted_;
    wake();
    // The thread runs every posted command, also on its way out.
    changed_.wait(lock, [&] { return commandsDone_ >= ticket; });
}

void ModuleSimulator::loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopRequested_) {
        runCommands();

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{wakeFd_, POLLIN, 0};
        int listenIndex = -1;
        int connIndex = -1;
        if (listenFd_ >= 0 && connFd_ < 0) {
            listenIndex = static_cast<int>(count);
            fds[count++] = pollfd{listenFd_, POLLIN, 0};
        }
        Clock::time_point now = Clock::now();
        if (connFd_ >= 0 && !hungUp_ && !quarantined_) {
            short events = faults_.pauseReading ? 0 : POLLIN;
            if (!out_.empty() && out_.front().due <= now)
                events |= POLLOUT;
            connIndex = static_cast<int>(count);
            fds[count++] = pollfd{connFd_, events, 0};
        }
        Clock::time_point deadline = nextDeadline(now);
        timespec ts{};
        timespec* timeout = nullptr;
        if (deadline != Clock::time_point::max()) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
            if (left.count() < 0)
                left = std::chrono::nanoseconds(0);
            ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
            timeout = &ts;
        }

        lock.unlock();
        int ready = ::ppoll(fds, count, timeout, nullptr);
        int pollError = errno;
        lock.lock();
        ++wakeups_;
        if (ready < 0 && pollError != EINTR) {
            // Should not happen; avoid spinning on a persistent error.
            lock.unlock();
            std::this_thread::sleep_for(Millis(10));
            lock.lock();
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t value;
            (void)!::read(wakeFd_, &value, sizeof(value));
        }
        if (stopRequested_)
            break;
        if (ready > 0) {
            if (listenIndex >= 0 && fds[listenIndex].revents)
                acceptOne();
            if (connIndex >= 0 && fds[connIndex].revents)
                handleConnection(fds[connIndex].revents);
        }
        if (hungUp_)
            checkHangUp();
        now = Clock::now();
        runTimers(now);
        flushOut(now);
        bump();
    }
    runCommands();
    threadDone_ = true;
    bump();
}

Clock::time_point ModuleSimulator::nextDeadline(Clock::time_point now) const
{
    Clock::time_point next = Clock::time_point::max();
    // A due chunk waits for POLLOUT, not for a time-out.
    if (!out_.empty() && out_.front().due > now)
        next = std::min(next, out_.front().due);
    bool beating = connectedLocked() && !faults_.silent;
    for (const auto& entry : modules_) {
        const SimModule& m = entry.second;
        if (beating && m.heartbeatInterval > Millis(0))
            next = std::min(next, m.nextHeartbeat);
        if (!m.pendingHeartbeats.empty())
            next = std::min(next, m.pendingHeartbeats.front().sent + m.heartbeatAnswerTimeout);
    }
    if (hungUp_)
        next = std::min(next, now + kHangUpRecheck);
    return next;
}

// ---------------------------------------------------------------- connection

void ModuleSimulator::recordEvent(ConnectionEvent::Kind kind, int error)
{
    events_.push_back(ConnectionEvent{kind, connections_, error, Clock::now()});
}

void ModuleSimulator::clearConnectionState()
{
    for (const auto& chunk : out_)
        droppedBytes_ += chunk.bytes.size() - chunk.offset;
    out_.clear();
    framer_.reset();
    for (auto& entry : modules_) {
        SimModule& m = entry.second;
        m.heartbeats.unanswered += m.pendingHeartbeats.size();
        m.pendingHeartbeats.clear();
    }
}

void ModuleSimulator::dropTransportLocked()
{
    if (connFd_ >= 0) {
        ::close(connFd_);
        connFd_ = -1;
        recordEvent(ConnectionEvent::Kind::LocalClosed, 0);
    }
    clearConnectionState();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
    hungUp_ = false;
    quarantined_ = false;
    transport_ = Transport::None;
}

void ModuleSimulator::attach(int fd, Transport transport)
{
    if (fd < 0)
        throw std::invalid_argument("module simulator: no descriptor to attach");
    try {
        makeNonBlocking(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    bool socket = isSocket(fd);
    bool refused = false;
    runOnLoop([&] {
        if (stopped_) {
            ::close(fd);
            refused = true;
            return;
        }
        dropTransportLocked();
        transport_ = transport;
        connFd_ = fd;
        connIsSocket_ = socket;
        ++connections_;
        recordEvent(ConnectionEvent::Kind::Attached, 0);
    });
    if (refused)
        throw std::logic_error("module simulator: attach after stop");
}

void ModuleSimulator::attachFd(int fd)
{
    attach(fd, Transport::Fd);
}

void ModuleSimulator::attachPtyMaster(int fd)
{
    attach(fd, Transport::Pty);
}

void ModuleSimulator::attachPty(morvtest::PtyPair& pty)
{
    int fd = ::dup(pty.masterFd());
    if (fd < 0)
        throw std::runtime_error(std::string("module simulator: dup: ") + std::strerror(errno));
    // Only the simulator's copy may keep the pty open, or closing it would not hang up the slave.
    pty.closeMaster();
    attach(fd, Transport::Pty);
}

std::uint16_t ModuleSimulator::listenTcp(const std::string& ip, std::uint16_t port)
{
    std::uint16_t bound = 0;
    int fd = listenLoopback(ip, port, bound);
    bool refused = false;
    runOnLoop([&] {
        if (stopped_) {
            ::close(fd);
            refused = true;
            return;
        }
        dropTransportLocked();
        transport_ = Transport::Tcp;
        listenFd_ = fd;
        listenPort_ = bound;
    });
    if (refused)
        throw std::logic_error("module simulator: listen after stop");
    return bound;
}

std::uint16_t ModuleSimulator::listenPort() const
{
    return locked(listenPort_);
}

void ModuleSimulator::stopListening()
{
    runOnLoop([&] {
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
    });
}

bool ModuleSimulator::closeConnection()
{
    bool had = false;
    runOnLoop([&] {
        if (connFd_ < 0)
            return;
        had = true;
        ::close(connFd_);
        connFd_ = -1;
        recordEvent(ConnectionEvent::Kind::LocalClosed, 0);
        clearConnectionState();
        hungUp_ = false;
        quarantined_ = false;
    });
    return had;
}

bool ModuleSimulator::resetConnection()
{
    bool had = false;
    runOnLoop([&] {
        if (connFd_ < 0)
            return;
        had = true;
        closeWithReset(connFd_);
        connFd_ = -1;
        recordEvent(ConnectionEvent::Kind::LocalReset, 0);
        clearConnectionState();
        hungUp_ = false;
        quarantined_ = false;
    });
    return had;
}

bool ModuleSimulator::connected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connectedLocked();
}

std::uint64_t ModuleSimulator::connectionCount() const
{
    return locked(connections_);
}

std::vector<ConnectionEvent> ModuleSimulator::connectionEvents() const
{
    return locked(events_);
}

void ModuleSimulator::acceptOne()
{
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;  // the host gave up meanwhile, or no connection after all
    int on = 1;
    // Split answers must leave as separate segments.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    connFd_ = fd;
    connIsSocket_ = true;
    quarantined_ = false;
    ++connections_;
    recordEvent(ConnectionEvent::Kind::Accepted, 0);
}

void ModuleSimulator::connectionLost(ConnectionEvent::Kind kind, int error)
{
    if (connFd_ >= 0)
        ::close(connFd_);
    connFd_ = -1;
    recordEvent(kind, error);
    clearConnectionState();
    hungUp_ = false;
    quarantined_ = false;
}

void ModuleSimulator::hangUp()
{
    // The master stays open: the host may open the slave again.
    hungUp_ = true;
    recordEvent(ConnectionEvent::Kind::PeerClosed, 0);
    clearConnectionState();
}

void ModuleSimulator::checkHangUp()
{
    pollfd p{connFd_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return;
    hungUp_ = false;
    ++connections_;
    recordEvent(ConnectionEvent::Kind::Reopened, 0);
}

void ModuleSimulator::handleConnection(short revents)
{
    if (faults_.pauseReading) {
        // Nothing will read the end of the stream now; stop polling a descriptor
        // that would report it on every call.
        if (revents & (POLLHUP | POLLERR))
            quarantined_ = true;
        return;
    }
    if (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
        readAvailable();
}

void ModuleSimulator::readAvailable()
{
    std::uint8_t buffer[4096];
    for (int i = 0; i < kReadsPerWake && connFd_ >= 0 && !hungUp_; ++i) {
        ssize_t n = readSome(connFd_, connIsSocket_, buffer, sizeof(buffer));
        if (n > 0) {
            consume(buffer, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < sizeof(buffer))
                return;
            continue;
        }
        if (n == 0) {
            if (transport_ == Transport::Pty)
                hangUp();
            else
                connectionLost(ConnectionEvent::Kind::PeerClosed, 0);
            return;
        }
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        if (transport_ == Transport::Pty && error == EIO) {
            hangUp();
            return;
        }
        connectionLost(error == ECONNRESET ? ConnectionEvent::Kind::PeerReset : ConnectionEvent::Kind::Failed, error);
        return;
    }
}

// ---------------------------------------------------------------- receiving

void ModuleSimulator::consume(const std::uint8_t* bytes, std::size_t count)
{
    raw_.insert(raw_.end(), bytes, bytes + count);
    HostFramer::Frame frame;
    for (std::size_t i = 0; i < count; ++i) {
        switch (framer_.feed(bytes[i], frame)) {
        case HostFramer::Result::NeedMore:
            break;
        case HostFramer::Result::Complete:
            dispatch(frame);
            break;
        case HostFramer::Result::BadAddress:
        case HostFramer::Result::BadLength:
            ++framingErrors_;
            break;
        }
    }
}

void ModuleSimulator::dispatch(HostFramer::Frame& frame)
{
    SimPacket packet;
    packet.address = frame.address;
    packet.data = std::move(frame.data);
    packet.connection = connections_;
    packet.when = Clock::now();
    packets_.push_back(packet);

    bool linkLevel = packet.address == kSyncByte || packet.address == kForceRouteByte;
    auto target = modules_.find(linkLevel ? linkModule_ : packet.address);
    if (target == modules_.end()) {
        ++unrouted_;
        return;
    }
    SimModule& module = target->second;
    module.received.push_back(packet);

    // A copy: the handler may replace itself.
    Handler handler;
    if (linkLevel) {
        auto it = linkHandlers_.find(packet.address);
        if (it != linkHandlers_.end())
            handler = it->second;
    } else if (!packet.data.empty()) {
        auto it = module.handlers.find(packet.data[0]);
        if (it != module.handlers.end())
            handler = it->second;
    }
    if (!handler) {
        ++module.unhandledPackets;
        return;
    }
    SimReply reply;
    try {
        handler(module, packet, reply);
    } catch (...) {
        ++handlerFailures_;
        return;
    }
    if (faults_.silent || (faults_.ignoreSync && packet.address == kSyncByte))
        return;
    SendTiming timing = faults_.replyTiming;
    timing.delay += reply.delay();
    for (const auto& chunk : reply.chunks())
        queueOut(chunk, timing);
}

// ---------------------------------------------------------------- sending

void ModuleSimulator::queueOut(const Bytes& bytes, const SendTiming& timing)
{
    if (bytes.empty())
        return;
    Clock::time_point due = Clock::now() + clampWait(timing.delay);
    // Keep the order of everything queued before.
    if (!out_.empty() && out_.back().due > due)
        due = out_.back().due;
    if (!timing.split) {
        out_.push_back(OutChunk{due, bytes, 0});
        return;
    }
    Millis gap = clampWait(timing.gap);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out_.push_back(OutChunk{due, Bytes{bytes[i]}, 0});
        due += gap;
    }
}

void ModuleSimulator::flushOut(Clock::time_point now)
{
    while (connectedLocked() && !out_.empty() && out_.front().due <= now) {
        OutChunk& chunk = out_.front();
        ssize_t n = writeSome(connFd_, connIsSocket_, chunk.bytes.data() + chunk.offset,
                              chunk.bytes.size() - chunk.offset);
        if (n > 0) {
            bytesWritten_ += static_cast<std::uint64_t>(n);
            chunk.offset += static_cast<std::size_t>(n);
            if (chunk.offset == chunk.bytes.size())
                out_.pop_front();
            continue;
        }
        int error = n < 0 ? errno : EIO;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        if (transport_ == Transport::Pty && error == EIO) {
            hangUp();
            return;
        }
        if (error == EPIPE)
            connectionLost(ConnectionEvent::Kind::PeerClosed, 0);
        else if (error == ECONNRESET)
            connectionLost(ConnectionEvent::Kind::PeerReset, error);
        else
            connectionLost(ConnectionEvent::Kind::Failed, error);
        return;
    }
}

bool ModuleSimulator::sendRaw(const Bytes& bytes, SendTiming timing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connectedLocked())
        return false;
    queueOut(bytes, timing);
    wake();
    return true;
}

bool ModuleSimulator::sendPacket(std::uint8_t address, const Bytes& data, SendTiming timing)
{
    if (data.size() > kMaxDataBytes)
        return false;
    return sendRaw(encodePacket(address, data), timing);
}

void ModuleSimulator::sendHeartbeatLocked(SimModule& module, std::uint8_t value)
{
    queueOut(Bytes{module.address, 0x02, kHeartbeatCommand, value}, SendTiming{});
    module.pendingHeartbeats.push_back(SimModule::PendingHeartbeat{value, Clock::now()});
    ++module.heartbeats.sent;
}

bool ModuleSimulator::sendHeartbeat(std::uint8_t moduleAddress, std::uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimModule& module = moduleLocked(moduleAddress);
    if (!connectedLocked())
        return false;
    sendHeartbeatLocked(module, value);
    wake();
    return true;
}

void ModuleSimulator::startHeartbeats(std::uint8_t moduleAddress, Millis interval)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimModule& module = moduleLocked(moduleAddress);
    module.heartbeatInterval = clampWait(interval);
    module.nextHeartbeat = Clock::now() + module.heartbeatInterval;
    wake();
}

void ModuleSimulator::expireHeartbeats(SimModule& module, Clock::time_point now)
{
    while (!module.pendingHeartbeats.empty() &&
           now >= module.pendingHeartbeats.front().sent + module.heartbeatAnswerTimeout) {
        module.pendingHeartbeats.pop_front();
        ++module.heartbeats.unanswered;
    }
}

void ModuleSimulator::runTimers(Clock::time_point now)
{
    bool beating = connectedLocked() && !faults_.silent;
    for (auto& entry : modules_) {
        SimModule& m = entry.second;
        expireHeartbeats(m, now);
        if (beating && m.heartbeatInterval > Millis(0) && now >= m.nextHeartbeat) {
            sendHeartbeatLocked(m, m.nextHeartbeatValue);
            m.nextHeartbeatValue ^= 1;
            m.nextHeartbeat = now + m.heartbeatInterval;
        }
    }
}

HeartbeatStats ModuleSimulator::heartbeatStats(std::uint8_t moduleAddress) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return moduleLocked(moduleAddress).heartbeats;
}

// ---------------------------------------------------------------- modules

SimModule& ModuleSimulator::moduleLocked(std::uint8_t address)
{
    auto it = modules_.find(address);
    if (it == modules_.end())
        throw std::out_of_range("module simulator: no module at address " + std::to_string(address));
    return it->second;
}

const SimModule& ModuleSimulator::moduleLocked(std::uint8_t address) const
{
    return const_cast<ModuleSimulator*>(this)->moduleLocked(address);
}

void ModuleSimulator::addModule(SimModule module)
{
    checkModuleAddress(module.address);
    installDefaultHandlers(module);
    std::lock_guard<std::mutex> lock(mutex_);
    if (modules_.count(module.address) != 0)
        throw std::invalid_argument("module simulator: address already taken");
    std::uint8_t address = module.address;
    modules_.emplace(address, std::move(module));
    wake();
}

void ModuleSimulator::setLinkModule(std::uint8_t address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    moduleLocked(address);
    linkModule_ = address;
}

std::uint8_t ModuleSimulator::linkModule() const
{
    return locked(linkModule_);
}

void ModuleSimulator::setHandler(std::uint8_t moduleAddress, std::uint8_t command, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimModule& module = moduleLocked(moduleAddress);
    if (handler)
        module.handlers[command] = std::move(handler);
    else
        module.handlers.erase(command);
}

void ModuleSimulator::setLinkHandler(std::uint8_t linkByte, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (handler)
        linkHandlers_[linkByte] = std::move(handler);
    else
        linkHandlers_.erase(linkByte);
}

SimModule ModuleSimulator::module(std::uint8_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return moduleLocked(address);
}

void ModuleSimulator::withModule(std::uint8_t address, const std::function<void(SimModule&)>& fn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimModule& module = moduleLocked(address);
    std::uint8_t before = module.address;
    fn(module);
    // The map is keyed by address; a module cannot move.
    module.address = before;
    // New intervals or time-outs take effect at once.
    wake();
}

// ---------------------------------------------------------------- faults and records

void ModuleSimulator::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
    if (!faults_.pauseReading)
        quarantined_ = false;
    wake();
}

Faults ModuleSimulator::faults() const
{
    return locked(faults_);
}

std::vector<SimPacket> ModuleSimulator::packets() const
{
    return locked(packets_);
}

std::size_t ModuleSimulator::packetCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_.size();
}

Bytes ModuleSimulator::rawReceived() const
{
    return locked(raw_);
}

std::uint64_t ModuleSimulator::framingErrors() const
{
    return locked(framingErrors_);
}

std::uint64_t ModuleSimulator::unroutedPackets() const
{
    return locked(unrouted_);
}

std::uint64_t ModuleSimulator::handlerFailures() const
{
    return locked(handlerFailures_);
}

std::uint64_t ModuleSimulator::bytesWritten() const
{
    return locked(bytesWritten_);
}

std::uint64_t ModuleSimulator::droppedBytes() const
{
    return locked(droppedBytes_);
}

std::uint64_t ModuleSimulator::wakeups() const
{
    return locked(wakeups_);
}

void ModuleSimulator::clearRecords()
{
    std::lock_guard<std::mutex> lock(mutex_);
    packets_.clear();
    raw_.clear();
    for (auto& entry : modules_)
        entry.second.received.clear();
}

// ---------------------------------------------------------------- waiting

bool ModuleSimulator::waitLocked(std::unique_lock<std::mutex>& lock, Millis timeout,
                                 const std::function<bool()>& pred) const
{
    return changed_.wait_for(lock, clampWait(timeout), pred);
}

bool ModuleSimulator::waitUntil(const std::function<bool()>& pred, Millis timeout) const
{
    Clock::time_point deadline = Clock::now() + clampWait(timeout);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen = generation_;
        }
        if (pred())
            return true;
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
            lock.unlock();
            return pred();
        }
    }
}

std::optional<SimPacket> ModuleSimulator::waitForPacket(const std::function<bool(const SimPacket&)>& pred,
                                                        Millis timeout, std::size_t fromIndex) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t scanned = fromIndex;
    std::optional<SimPacket> found;
    waitLocked(lock, timeout, [&] {
        // clearRecords may have shortened the log meanwhile.
        scanned = std::min(scanned, std::max(fromIndex, packets_.size()));
        for (; scanned < packets_.size(); ++scanned) {
            if (pred(packets_[scanned])) {
                found = packets_[scanned];
                return true;
            }
        }
        return false;
    });
    return found;
}

bool ModuleSimulator::waitForPacketCount(const std::function<bool(const SimPacket&)>& pred, std::size_t count,
                                         Millis timeout, std::size_t fromIndex) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return waitLocked(lock, timeout, [&] {
        std::size_t matched = 0;
        for (std::size_t i = fromIndex; i < packets_.size(); ++i)
            if (pred(packets_[i]))
                ++matched;
        return matched >= count;
    });
}

bool ModuleSimulator::waitForRawBytes(std::size_t count, Millis timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return waitLocked(lock, timeout, [&] { return raw_.size() >= count; });
}

}  // namespace morvsim
