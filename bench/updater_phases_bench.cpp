// Where one real "Updater -U -d <serial>" run spends its time. The Updater
// program runs as a child with the real libusb-1.0 against a simulated module
// on a USB bus emulated by umockdev (its bulk endpoints lead to the simulator
// through a socket pair), and every phase boundary is taken with this
// program's monotonic clock:
//   - lines as they arrive on the child's standard output (unbuffered) and the
//     trace lines of "-X 0x101" (its own steps, reconnects) on standard error;
//   - the simulator's packet and connection logs (stamped on arrival), and
//     when the Updater claimed the emulated device;
//   - the device's settings file: its temporary written (made, or the record
//     prepared before the transfer written again), and renamed into place
//     (inotify).
// Two scenarios: the loader keeps the link across LOAD, and the loader drops
// it on LOAD (the module leaves the bus) and is back after the simulator's
// downtime with the same serial, so the Updater has to reconnect. Every run must leave the bundle's firmware in the simulated flash.
// Everything runs in a fresh network namespace of this program's own, so a
// TCP/IP search the Updater falls back to (when USB finds nothing) never
// leaves it. A plain program, not a Google Benchmark one: a run takes seconds
// and its phases, not one figure, are the result.
//
//   updater_phases_bench [--runs N] [--kib N] [--link-kept | --drop-link-on-load] [--timeline]
//     --runs N              runs per scenario (default 3); the table shows median, min and max
//     --kib N               firmware size in KiB, in two images (default 64)
//     --link-kept           only the scenario where the link stays up across LOAD
//     --drop-link-on-load   only the scenario where the loader drops the link on LOAD
//     --timeline            also prints what was seen of each scenario's last run
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchMain.h"
#include "UpdateRig.h"
#include "UsbTestbed.h"

extern char** environ;

namespace {

using morvsim::Bytes;
using morvsim::Clock;
using morvsim::ConnectionEvent;
using morvsim::SimPacket;
using TimePoint = Clock::time_point;

constexpr std::uint32_t kSerial = 0x0012ABCD;
const std::string kSerialHex = "0012ABCD";
const std::string kBuild = "1234";
constexpr std::chrono::seconds kRunLimit{120};

// Loader command options as the module sees them.
constexpr std::uint8_t kInit = 0;
constexpr std::uint8_t kData = 1;
constexpr std::uint8_t kLoad = 2;
constexpr std::uint8_t kPrepare = 3;
constexpr std::uint8_t kSum = 4;
constexpr std::uint8_t kWrite = 5;
constexpr std::uint8_t kReboot = 6;
constexpr std::uint8_t kUeiSet = 0x8A;

struct Line {
    bool err;
    std::string text;
    TimePoint when;  // when its line end arrived
};

struct FileEvent {
    std::string name;
    std::uint32_t mask;
    TimePoint when;
};

struct ChildRun {
    TimePoint spawned;
    TimePoint ended;  // both pipes closed and the child reaped
    int exitCode = -1;
    bool timedOut = false;
    std::vector<Line> lines;
    std::vector<FileEvent> files;
};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (std::string& text : texts)
        out.push_back(&text[0]);
    out.push_back(nullptr);
    return out;
}

// The environment the end-to-end tests give the Updater: umockdev's preload
// and testbed (inherited from this program), HOME in the run's own directory,
// no proxy for loopback.
std::vector<std::string> childEnvironment(const std::string& base)
{
    std::map<std::string, std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos)
            merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        merged.erase(name);
    const std::string asan = merged.count("ASAN_OPTIONS") != 0 ? merged["ASAN_OPTIONS"] : std::string();
    merged["ASAN_OPTIONS"] = (asan.empty() ? "" : asan + ":") + "verify_asan_link_order=0";
    for (const auto& pair : umockusb::Testbed::instance().childEnvironment())
        merged[pair.first] = pair.second;
    merged["HOME"] = base;
    merged["ZSYS_SIGHANDLER"] = "false";
    merged["NO_PROXY"] = "127.0.0.1,localhost";
    merged["no_proxy"] = "127.0.0.1,localhost";
    std::vector<std::string> out;
    for (const auto& pair : merged)
        out.push_back(pair.first + "=" + pair.second);
    return out;
}

// Reads the inotify events that are there; each is checked against the bytes read.
void readFileEvents(int fd, std::vector<FileEvent>& events)
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return;
        const TimePoint now = Clock::now();
        std::size_t offset = 0;
        const std::size_t size = static_cast<std::size_t>(got);
        while (offset + sizeof(inotify_event) <= size) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            const std::size_t next = offset + sizeof(inotify_event) + event.len;
            if (next > size)
                return;
            const char* name = buffer + offset + sizeof(inotify_event);
            events.push_back({std::string(name, strnlen(name, event.len)), event.mask, now});
            offset = next;
        }
    }
}

// Runs the program, stamping each output line and settings event as it comes.
ChildRun runTimed(const std::vector<std::string>& argv, std::vector<std::string> env, const std::string& cwd,
                  const std::string& watchedDir)
{
    std::vector<std::string> args = argv;
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);

    Fd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (watch.get() < 0 || inotify_add_watch(watch.get(), watchedDir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO) < 0)
        throw std::runtime_error("inotify on " + watchedDir + ": " + std::strerror(errno));
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    Fd outRead(outPipe[0]);
    Fd outWrite(outPipe[1]);
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    Fd errRead(errPipe[0]);
    Fd errWrite(errPipe[1]);

    ChildRun run;
    run.spawned = Clock::now();
    // Everything the child needs is ready before fork: only async-signal-safe calls after it.
    // The preloaded umockdev wraps open and chdir under a lock: use neither in the child.
    Fd devnull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    Fd workDir(open(cwd.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        if (devnull.get() >= 0)
            dup2(devnull.get(), 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (fchdir(workDir.get()) != 0)
            _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    outWrite.reset();
    errWrite.reset();

    const TimePoint deadline = run.spawned + kRunLimit;
    std::string partial[2];
    bool open[2] = {true, true};
    const int fds[2] = {outRead.get(), errRead.get()};
    while (open[0] || open[1]) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd polled[3];
        nfds_t count = 0;
        int which[3];
        for (int i = 0; i < 2; ++i)
            if (open[i]) {
                which[count] = i;
                polled[count++] = {fds[i], POLLIN, 0};
            }
        which[count] = 2;
        polled[count++] = {watch.get(), POLLIN, 0};
        const int ready = poll(polled, count, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            kill(pid, SIGKILL);
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if ((polled[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            if (which[i] == 2) {
                readFileEvents(watch.get(), run.files);
                continue;
            }
            const int stream = which[i];
            char buffer[4096];
            const ssize_t got = read(fds[stream], buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                open[stream] = false;
                continue;
            }
            if (got < 0)
                continue;
            const TimePoint now = Clock::now();
            partial[stream].append(buffer, static_cast<std::size_t>(got));
            std::size_t start = 0;
            for (std::size_t end; (end = partial[stream].find('\n', start)) != std::string::npos; start = end + 1)
                run.lines.push_back({stream == 1, partial[stream].substr(start, end - start), now});
            partial[stream].erase(0, start);
        }
    }
    for (int stream = 0; stream < 2; ++stream)
        if (!partial[stream].empty())
            run.lines.push_back({stream == 1, partial[stream], Clock::now()});

    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, run.timedOut ? 0 : WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            break;
        if (Clock::now() >= deadline && !run.timedOut) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            continue;
        }
        usleep(1000);
    }
    run.ended = Clock::now();
    readFileEvents(watch.get(), run.files);
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

// ---------------------------------------------------------------- phases

struct Scenario {
    const char* name;
    bool dropLinkOnLoad;
};

enum Phase : std::size_t {
    kStartUp,
    kBuildQuery,
    kBundleLoad,
    kUsbOpen,
    kLinkSync,
    kValidation,
    kLoaderPass,
    kUntilReconnect,
    kReconnectOpen,
    kReconnectSync,
    kLoadAnswer,
    kFirmwarePrepare,
    kFirmwareSend,
    kFirmwareSum,
    kFirmwareWrite,
    kRebootDrop,
    kRebootNoticed,
    kSettingsWrite,
    kExit,
    kTotal,
    kPhaseCount
};

const char* const kPhaseNames[kPhaseCount] = {
    "start-up (exec, libraries, command line)",
    "build query (update server, stored bundle check)",
    "store/bundle load (read, inflate, serial patch)",
    "connect: USB search and open",
    "connect: link sync",
    "validation (serial, model reads)",
    "loader pass (INIT .. LOAD request)",
    "after loader: until the first reconnect attempt",
    "after loader: reconnect until the pipe connects",
    "after loader: reconnect link sync",
    "after loader: LOAD answer, data path check",
    "firmware prepare (PREPARE)",
    "firmware send (DATA)",
    "firmware sum (SUM)",
    "firmware write (WRITE)",
    "reboot: until the module drops the link",
    "reboot: until the Updater sees it gone",
    "settings write",
    "exit",
    "total",
};

struct Measured {
    // Milliseconds; NaN for a phase the run did not have.
    double ms[kPhaseCount];
    unsigned dataPackets = 0;
    std::size_t firmwareBytes = 0;
    unsigned connections = 0;
    unsigned reconnectAttempts = 0;
    Measured() { std::fill(std::begin(ms), std::end(ms), std::nan("")); }
};

double msBetween(TimePoint a, TimePoint b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

bool isLoader(const SimPacket& p)
{
    return p.address == updtest::kModuleAddress && p.data.size() >= 2 && p.data[0] == morvsim::kUpgradeCommand;
}

const char* kReconnectAttempt = "NETWORK: Attempting to reconnect";

// Fills in the phases from the marks; throws std::runtime_error naming a mark
// that is missing. The simulator stamps packets as it reads them, this
// program stamps lines and file events as it reads them: each stamp is a
// little after the event. A line seen after the next packet was sent (its
// reader was scheduled late) is moved back to that packet.
Measured phases(const ChildRun& run, const std::vector<SimPacket>& packets, const std::vector<TimePoint>& claims,
                const std::vector<ConnectionEvent>& events, bool dropLinkOnLoad)
{
    // The serial patch traces in two pieces on one line: the line end marks it done.
    auto line = [&](bool err, const std::string& text, const char* what) {
        for (const Line& l : run.lines)
            if (l.err == err && l.text.find(text) != std::string::npos)
                return l.when;
        throw std::runtime_error(std::string("no mark: ") + what);
    };
    auto packet = [&](const std::function<bool(const SimPacket&)>& pred, TimePoint after, const char* what) {
        for (const SimPacket& p : packets)
            if (p.when >= after && pred(p))
                return p.when;
        throw std::runtime_error(std::string("no mark: ") + what);
    };
    auto loader = [&](std::uint8_t option, TimePoint after, const char* what) {
        return packet([option](const SimPacket& p) { return isLoader(p) && p.data[1] == option; }, after, what);
    };
    auto file = [&](const std::function<bool(const std::string&)>& named, std::uint32_t mask, TimePoint after,
                    const char* what) {
        for (const FileEvent& f : run.files)
            if (named(f.name) && (f.mask & mask) != 0 && f.when >= after)
                return f.when;
        throw std::runtime_error(std::string("no mark: ") + what);
    };
    auto exactly = [](const std::string& name) { return [name](const std::string& f) { return f == name; }; };
    // The store's temporary beside the file: ".settings.XXXXXX.tmp".
    auto temporaryOf = [](const std::string& name) {
        return [name](const std::string& f) {
            return f.size() > name.size() + 5 && f.compare(0, name.size() + 1, name + ".") == 0 &&
                   f.compare(f.size() - 4, 4, ".tmp") == 0;
        };
    };
    auto lastEventBefore = [&](ConnectionEvent::Kind kind, TimePoint after, TimePoint before, const char* what) {
        std::optional<TimePoint> found;
        for (const ConnectionEvent& e : events)
            if (e.kind == kind && e.when >= after && e.when <= before)
                found = e.when;
        if (!found)
            throw std::runtime_error(std::string("no mark: ") + what);
        return *found;
    };

    struct Mark {
        Phase ending;
        TimePoint when;
        bool seenByBench;  // a line or a file event
    };
    std::vector<Mark> marks;
    const TimePoint t0 = run.spawned;
    marks.push_back({kStartUp, line(false, "Updater (Version", "version line"), true});
    marks.push_back({kBuildQuery, line(false, "Updating firmware with build:", "build line"), true});
    marks.push_back({kBundleLoad, line(true, "Serial Number inserted into firmware.", "serial patch trace"), true});
    auto lastClaimBefore = [&](TimePoint after, TimePoint before, const char* what) {
        std::optional<TimePoint> found;
        for (const TimePoint& c : claims)
            if (c >= after && c <= before)
                found = c;
        if (!found)
            throw std::runtime_error(std::string("no mark: ") + what);
        return *found;
    };
    // The device is open once its interface is claimed.
    const TimePoint opened = packet([](const SimPacket&) { return true; }, t0, "first packet");
    const TimePoint connected = lastClaimBefore(t0, opened, "USB interface claimed");
    marks.push_back({kUsbOpen, connected, false});
    // The first request to the module is the serial read of the validation.
    const TimePoint validating =
        packet([](const SimPacket& p) { return p.address == updtest::kModuleAddress; }, connected, "serial read");
    marks.push_back({kLinkSync, validating, false});
    const TimePoint init = loader(kInit, validating, "INIT");
    marks.push_back({kValidation, init, false});
    const TimePoint load = loader(kLoad, init, "LOAD");
    marks.push_back({kLoaderPass, load, false});
    const TimePoint firstPrepare = loader(kPrepare, load, "firmware PREPARE");
    Measured m;
    if (dropLinkOnLoad) {
        marks.push_back({kUntilReconnect, line(true, kReconnectAttempt, "first reconnect attempt"), true});
        const TimePoint again = lastClaimBefore(load, firstPrepare, "claim after LOAD");
        marks.push_back({kReconnectOpen, again, false});
        // The new link runs with the host's address query, which the LOAD answer follows.
        std::optional<TimePoint> query;
        for (const SimPacket& p : packets)
            if (p.isSyncRequest() && p.when >= again && p.when <= firstPrepare)
                query = p.when;
        if (!query)
            throw std::runtime_error("no mark: address query on the new link");
        marks.push_back({kReconnectSync, *query, false});
        for (const Line& l : run.lines)
            if (l.err && l.text.find(kReconnectAttempt) != std::string::npos)
                ++m.reconnectAttempts;
    }
    marks.push_back({kLoadAnswer, firstPrepare, false});
    const TimePoint reboot = loader(kReboot, firstPrepare, "REBOOT");
    marks.push_back({kFirmwareWrite, reboot, false});  // the firmware rows are filled in below
    const TimePoint dropped =
        lastEventBefore(ConnectionEvent::Kind::LocalClosed, reboot, Clock::time_point::max(), "link dropped on REBOOT");
    marks.push_back({kRebootDrop, dropped, false});
    // The record is written ahead of the transfer: after REBOOT only its date
    // is written again, through the file opened unnamed (inotify names that
    // "#<inode>"), or through its name where there are no unnamed files.
    const auto settingsTemporary = [&](const std::string& f) {
        return temporaryOf(".settings")(f) ||
               (f.size() > 1 && f[0] == '#' && f.find_first_not_of("0123456789", 1) == std::string::npos);
    };
    const TimePoint temp = file(settingsTemporary, IN_CREATE | IN_MODIFY, reboot, "settings temporary file");
    marks.push_back({kRebootNoticed, temp, true});
    marks.push_back({kSettingsWrite, file(exactly(".settings"), IN_MOVED_TO, temp, "settings renamed"), true});
    marks.push_back({kExit, run.ended, true});

    for (std::size_t i = marks.size() - 1; i-- > 0;) {
        if (marks[i].when <= marks[i + 1].when)
            continue;
        if (!marks[i].seenByBench)
            throw std::runtime_error(std::string("mark out of order: end of ") + kPhaseNames[marks[i].ending]);
        marks[i].when = marks[i + 1].when;
    }
    TimePoint previous = t0;
    for (const Mark& mk : marks) {
        m.ms[mk.ending] = msBetween(previous, mk.when);
        previous = mk.when;
    }

    // The firmware pass: each gap between two loader requests goes to the
    // request it follows (its answer and what the host did with it).
    std::vector<const SimPacket*> pass;
    for (const SimPacket& p : packets)
        if (isLoader(p) && p.when >= firstPrepare && p.when <= reboot)
            pass.push_back(&p);
    for (Phase p : {kFirmwarePrepare, kFirmwareSend, kFirmwareSum, kFirmwareWrite})
        m.ms[p] = 0.0;
    for (std::size_t i = 0; i + 1 < pass.size(); ++i) {
        const double gap = msBetween(pass[i]->when, pass[i + 1]->when);
        switch (pass[i]->data[1]) {
        case kPrepare: m.ms[kFirmwarePrepare] += gap; break;
        case kData:
            m.ms[kFirmwareSend] += gap;
            ++m.dataPackets;
            m.firmwareBytes += pass[i]->data.size() - 2;
            break;
        case kUeiSet: m.ms[kFirmwareSend] += gap; break;
        case kSum: m.ms[kFirmwareSum] += gap; break;
        case kWrite: m.ms[kFirmwareWrite] += gap; break;
        default: break;
        }
    }
    m.ms[kTotal] = msBetween(t0, run.ended);
    for (const ConnectionEvent& e : events)
        if (e.kind == ConnectionEvent::Kind::Accepted)
            ++m.connections;
    return m;
}

// What the bench saw of one run, relative to the spawn: the child's lines, the
// connections and every packet but the data ones.
void printTimeline(const ChildRun& run, const std::vector<SimPacket>& packets,
                   const std::vector<ConnectionEvent>& events)
{
    std::printf("\n--- timeline (ms after spawn)\n");
    for (const Line& l : run.lines)
        std::printf("%10.3f %s %s\n", msBetween(run.spawned, l.when), l.err ? "err" : "out", l.text.c_str());
    for (const ConnectionEvent& e : events)
        std::printf("%10.3f connection %llu event %d\n", msBetween(run.spawned, e.when),
                    static_cast<unsigned long long>(e.connection), static_cast<int>(e.kind));
    for (const FileEvent& f : run.files)
        std::printf("%10.3f file %s mask %#x\n", msBetween(run.spawned, f.when), f.name.c_str(), f.mask);
    for (const SimPacket& p : packets) {
        if (isLoader(p) && (p.data[1] == kData || p.data[1] == kUeiSet))
            continue;
        std::printf("%10.3f packet to %02X:", msBetween(run.spawned, p.when), p.address);
        for (std::size_t i = 0; i < p.data.size() && i < 8; ++i)
            std::printf(" %02X", p.data[i]);
        std::printf("%s\n", p.data.size() > 8 ? " ..." : "");
    }
}

// ---------------------------------------------------------------- one run

struct Rig {
    Bytes loaderImage;
    Bytes first;
    Bytes second;
    static constexpr std::uint32_t kFirst = 0x4000;
    static constexpr std::uint32_t kSerialOffset = 0x4010;
    static constexpr std::uint32_t kDescriptorOffset = 0x4100;
    std::uint32_t secondAddress = 0;
};

// A run that did not do what it should: the reason and the child's output.
std::runtime_error failure(const std::string& why, const ChildRun* run)
{
    std::string text = why;
    if (run != nullptr) {
        text += "\nexit " + std::to_string(run->exitCode) + (run->timedOut ? " (timed out)" : "");
        for (const Line& l : run->lines)
            text += std::string("\n  ") + (l.err ? "err " : "out ") + l.text;
    }
    return std::runtime_error(text);
}

Measured runOnce(morvtest::NetnsThread& ns, const Rig& rig, const Scenario& scenario, bool timeline)
{
    morvtest::TempDir dir;
    const std::string deviceDir = dir.makeDir("updater/" + kSerialHex);
    morvtest::BundleBuilder bundle;
    bundle.descriptor(kBuild, "2.11.3", "00000000", updtest::kModelName)
        .loader(0x20000000, rig.loaderImage)
        .firmware(rig.kFirst, rig.first)
        .firmware(rig.secondAddress, rig.second)
        .serialOffsets(rig.kSerialOffset, rig.kDescriptorOffset);
    bundle.writeTo(deviceDir + "/" + kBuild + ".bird");

    // Declared after dir, so they are gone before it is removed.
    std::unique_ptr<morvtest::FakeUpdateServer> server;
    std::unique_ptr<updtest::SimulatedModule> module;
    umockusb::Testbed& bed = umockusb::Testbed::instance();
    bed.reset();
    std::atomic<int> device{0};
    ns.run([&] {
        server = std::make_unique<morvtest::FakeUpdateServer>();
        server->setReply("qu", morvtest::FakeUpdateServer::Reply::Ok({kBuild, "2.11.3"}));
        morvsim::LoaderConfig config;
        // The module leaves the bus with a dropped link and comes back after the downtime.
        config.linkDropped = [&] { bed.unplug(device.load()); };
        config.linkBack = [&] {
            const int id = bed.plug(umockusb::moduleSpec(kSerial, updtest::kModel, 64));
            device = id;
            module->sim.attachFd(bed.takePeerFd(id));
        };
        // Over USB the host sends handshake requests (how many depends on how
        // soon answers come) and then its address query; an answer before the
        // query falls into the drain after the handshake, so it follows the last.
        config.loadAnswerQuiet = morvsim::Millis(100);
        module = std::make_unique<updtest::SimulatedModule>(kSerial, config);
        if (scenario.dropLinkOnLoad) {
            morvsim::LoaderFaults faults;
            faults.dropLinkOnLoad = true;
            module->loader->setFaults(faults);
        }
        const int id = bed.plug(umockusb::moduleSpec(kSerial, updtest::kModel, 64));
        device = id;
        module->sim.attachFd(bed.takePeerFd(id));
    });

    // Trace packages: the Updater's own steps (1) and the reconnects (0x100), a few lines each.
    const std::vector<std::string> argv = {MORV_UPDATER_PROGRAM, "-i", dir.path(), "-u", server->url(),
                                           "-X", "0x101", "-U", "-d", kSerialHex};
    ChildRun run;
    ns.run([&] { run = runTimed(argv, childEnvironment(dir.path()), dir.path(), deviceDir); });
    if (run.exitCode != 0)
        throw failure("the update failed", &run);

    const std::vector<SimPacket> packets = module->sim.packets();
    const std::vector<ConnectionEvent> events = module->sim.connectionEvents();
    std::vector<TimePoint> claims;
    for (int id = 1; id <= device.load(); ++id)
        for (const auto& when : bed.stats(id).claimedAt)
            claims.push_back(when);
    const morvsim::LoaderRecord record = module->loader->record();
    // Only a run that really put the firmware into the flash counts.
    if (record.stage != morvsim::LoaderStage::Rebooted ||
        module->loader->flash(rig.kFirst, rig.first.size()) !=
            updtest::patched(rig.first, rig.kFirst, rig.kSerialOffset, rig.kDescriptorOffset, kSerial) ||
        module->loader->flash(rig.secondAddress, rig.second.size()) != rig.second)
        throw failure("the flash does not hold the bundle's firmware", &run);
    if (scenario.dropLinkOnLoad && (record.linkDrops < 2 || record.loadAnnounced != 1))
        throw failure("the loader did not drop the link on LOAD and answer on the next one (" +
                          std::to_string(record.linkDrops) + " drops, LOAD announced " +
                          std::to_string(record.loadAnnounced) + " times; sync requests by connection:" +
                          [&] {
                              std::map<int, int> count;
                              for (const SimPacket& p : packets)
                                  if (p.isSyncRequest())
                                      ++count[static_cast<int>(p.connection)];
                              std::string text;
                              for (const auto& c : count)
                                  text += " " + std::to_string(c.first) + ":" + std::to_string(c.second);
                              return text;
                          }() + ")",
                      &run);

    if (timeline)
        printTimeline(run, packets, events);
    try {
        return phases(run, packets, claims, events, scenario.dropLinkOnLoad);
    } catch (const std::exception& e) {
        throw failure(e.what(), &run);
    }
}

// ---------------------------------------------------------------- table

// Median, min and max of the runs that had the phase; false when none had it.
bool summary(const std::vector<Measured>& runs, Phase phase, double out[3])
{
    std::vector<double> v;
    for (const Measured& m : runs)
        if (!std::isnan(m.ms[phase]))
            v.push_back(m.ms[phase]);
    if (v.empty())
        return false;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    out[0] = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    out[1] = v.front();
    out[2] = v.back();
    return true;
}

void printTable(const Scenario& scenario, const std::vector<Measured>& runs, std::size_t kib)
{
    std::printf("\nScenario: %s (%zu run%s, firmware %zu KiB in two images)\n", scenario.name, runs.size(),
                runs.size() == 1 ? "" : "s", kib);
    std::printf("%-56s %10s %10s %10s\n", "phase", "median ms", "min ms", "max ms");
    for (std::size_t i = 0; i < kPhaseCount; ++i) {
        double s[3];
        if (summary(runs, Phase(i), s))
            std::printf("%-56s %10.1f %10.1f %10.1f\n", kPhaseNames[i], s[0], s[1], s[2]);
        else
            std::printf("%-56s %10s %10s %10s\n", kPhaseNames[i], "-", "-", "-");
    }
    const Measured& first = runs.front();
    double send[3] = {0, 0, 0};
    summary(runs, kFirmwareSend, send);
    const double perPacketUs = first.dataPackets > 0 ? 1000.0 * send[0] / first.dataPackets : 0.0;
    const double kibPerSecond = send[0] > 0 ? first.firmwareBytes / 1024.0 / (send[0] / 1000.0) : 0.0;
    std::printf("firmware: %zu bytes in %u DATA packets, %.1f us a packet, %.0f KiB/s while sending (medians); "
                "%u connection(s) to the module",
                first.firmwareBytes, first.dataPackets, perPacketUs, kibPerSecond, first.connections);
    if (scenario.dropLinkOnLoad)
        std::printf(", %u reconnect attempt(s)", first.reconnectAttempts);
    std::printf("\n");
}

int run(int argc, char** argv)
{
    std::size_t runs = 3;
    std::size_t kib = 64;
    bool kept = true;
    bool dropped = true;
    bool timeline = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = benchmain::parseCount(argv[++i], "--runs", 50);
        } else if (a == "--kib" && i + 1 < argc) {
            // The simulated flash is 512 KiB.
            kib = benchmain::parseCount(argv[++i], "--kib", 400);
        } else if (a == "--drop-link-on-load") {
            kept = false;
        } else if (a == "--link-kept") {
            dropped = false;
        } else if (a == "--timeline") {
            timeline = true;
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--kib N] [--drop-link-on-load | --link-kept] [--timeline]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!kept && !dropped) {
        std::fprintf(stderr, "updater_phases_bench: --drop-link-on-load and --link-kept exclude each other\n");
        return 2;
    }

    // Nothing runs outside it: a USB search that finds nothing makes the Updater multicast.
    morvtest::NetnsThread ns;
    if (!ns.error().empty()) {
        std::fprintf(stderr, "updater_phases_bench: no private network namespace: %s\n", ns.error().c_str());
        return 1;
    }

    Rig rig;
    rig.loaderImage = updtest::pattern(4096, 0x40);
    // Seven eighths in the first image (which carries the serial), the rest in the second.
    const std::size_t total = kib * 1024;
    rig.first = updtest::pattern(total - total / 8, 0x11);
    rig.second = updtest::pattern(total / 8, 0x93);
    rig.secondAddress = static_cast<std::uint32_t>((rig.kFirst + rig.first.size() + 0xFFF) & ~std::size_t(0xFFF));

    std::printf("Updater -U against the simulated module on a umockdev-emulated USB bus, real libusb (%s)\n",
                MORV_UPDATER_PROGRAM);
    std::vector<Scenario> scenarios;
    if (kept)
        scenarios.push_back({"link kept across LOAD", false});
    if (dropped)
        scenarios.push_back({"loader drops the link on LOAD, back after 300 ms", true});
    for (const Scenario& scenario : scenarios) {
        std::vector<Measured> measured;
        for (std::size_t i = 0; i < runs; ++i)
            measured.push_back(runOnce(ns, rig, scenario, timeline && i + 1 == runs));
        printTable(scenario, measured, kib);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return benchmain::runMain("updater_phases_bench", run, argc, argv);
}
