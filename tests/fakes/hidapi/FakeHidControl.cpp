// Control functions of the fake HID device and its config file.
#include "FakeHidState.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fakehid {
namespace detail {

State& state()
{
    // Never destroyed: a preloaded program may call hidapi from its own exit path.
    static State* s = new State;
    return *s;
}

namespace {

void writeJumpMarker(const std::string& path, std::uint32_t entry)
{
    std::string temporary = path + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr)
        return;
    bool ok = std::fprintf(f, "%08X\n", entry) > 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "fake hidapi: cannot write the jump marker %s\n", path.c_str());
        ::unlink(temporary.c_str());
    }
}

bool parseNumber(const std::string& text, std::uint64_t limit, std::uint64_t& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || text[0] == '-' || v > limit)
        return false;
    value = v;
    return true;
}

struct ParsedConfig {
    bool present = true;
    std::uint16_t vendor = kNxpVendor;
    std::uint16_t product = kNxpProduct;
    bool padStatusReport = false;
    std::string jumpMarker;
    morvsim::ImxRomConfig rom;
};

bool parseConfig(std::istream& in, ParsedConfig& config, std::string& error)
{
    bool memorySeen = false;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword))
            continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        std::vector<std::string> args;
        for (std::string w; words >> w;)
            args.push_back(w);

        if (keyword == "device") {
            config.present = true;
            for (const std::string& arg : args) {
                std::size_t eq = arg.find('=');
                if (eq == std::string::npos)
                    return fail("expected key=value, got " + arg);
                std::string key = arg.substr(0, eq);
                std::string value = arg.substr(eq + 1);
                std::uint64_t v = 0;
                if (key == "vendor" && parseNumber(value, 0xFFFF, v))
                    config.vendor = static_cast<std::uint16_t>(v);
                else if (key == "product" && parseNumber(value, 0xFFFF, v))
                    config.product = static_cast<std::uint16_t>(v);
                else if (key == "hab" && (value == "open" || value == "closed"))
                    config.rom.habClosed = value == "closed";
                else
                    return fail("bad device setting " + arg);
            }
        } else if (keyword == "absent" && args.empty()) {
            config.present = false;
        } else if (keyword == "memory" && args.size() == 2) {
            std::uint64_t base = 0;
            std::uint64_t size = 0;
            if (!parseNumber(args[0], 0xFFFFFFFFu, base) || !parseNumber(args[1], 0x10000000u, size) ||
                size == 0 || base + size > 0x100000000ull)
                return fail("bad memory region");
            if (!memorySeen)
                config.rom.memory.clear();
            memorySeen = true;
            config.rom.memory.push_back({static_cast<std::uint32_t>(base), static_cast<std::uint32_t>(size)});
        } else if (keyword == "register" && args.size() == 2) {
            std::uint64_t address = 0;
            std::uint64_t value = 0;
            if (!parseNumber(args[0], 0xFFFFFFFFu, address) || !parseNumber(args[1], 0xFFFFFFFFu, value))
                return fail("bad register");
            config.rom.registers[static_cast<std::uint32_t>(address)] = static_cast<std::uint32_t>(value);
        } else if (keyword == "complete-status" && args.size() == 1) {
            std::uint64_t value = 0;
            if (!parseNumber(args[0], 0xFFFFFFFFu, value))
                return fail("bad status word");
            config.rom.completeStatus = static_cast<std::uint32_t>(value);
        } else if (keyword == "silent" && args.empty()) {
            config.rom.silent = true;
        } else if (keyword == "pad-status-report" && args.empty()) {
            config.padStatusReport = true;
        } else if (keyword == "jump-marker" && args.size() == 1) {
            config.jumpMarker = args[0];
        } else {
            return fail("unknown entry " + keyword);
        }
    }
    return true;
}

void applyLocked(State& s, const ParsedConfig& config)
{
    s.present = config.present;
    s.vendor = config.vendor;
    s.product = config.product;
    s.padStatusReport = config.padStatusReport;
    s.jumpMarker = config.jumpMarker;
    makeRomLocked(config.rom);
}

}  // namespace

void makeRomLocked(const morvsim::ImxRomConfig& config)
{
    State& s = state();
    morvsim::ImxRomConfig c = config;
    std::string marker = s.jumpMarker;
    if (!marker.empty()) {
        auto chained = c.onJump;
        c.onJump = [marker, chained](std::uint32_t entry) {
            writeJumpMarker(marker, entry);
            if (chained)
                chained(entry);
        };
    }
    s.rom.reset(new morvsim::ImxRom(c));
}

void checkEnvironmentConfigLocked()
{
    State& s = state();
    if (s.configChecked)
        return;
    s.configChecked = true;
    if (!s.rom)
        makeRomLocked({});
    const char* path = std::getenv("FAKEHID_CONFIG");
    if (path == nullptr || *path == '\0')
        return;
    std::ifstream in(path);
    ParsedConfig config;
    std::string error;
    if (!in) {
        error = "cannot read the file";
    } else if (parseConfig(in, config, error)) {
        applyLocked(s, config);
        return;
    }
    std::fprintf(stderr, "fake hidapi: %s: %s\n", path, error.c_str());
    s.configFailed = true;
}

void deliverLocked(const std::vector<std::vector<unsigned char>>& reports)
{
    State& s = state();
    if (reports.empty())
        return;
    for (hid_device* dev : s.handles) {
        for (const std::vector<unsigned char>& report : reports) {
            std::vector<unsigned char> r = report;
            if (s.padStatusReport && !r.empty() && r[0] == 3)
                r.resize(1 + morvsim::kImxReportSize, 0);
            dev->input.push_back(std::move(r));
        }
    }
    s.arrived.notify_all();
}

}  // namespace detail

using detail::State;
using detail::state;

void reset(const morvsim::ImxRomConfig& config)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.configChecked = true;
    s.configFailed = false;
    s.present = true;
    s.vendor = kNxpVendor;
    s.product = kNxpProduct;
    s.initError = false;
    s.failWrites = 0;
    s.writesBeforeFailure = 0;
    s.padStatusReport = false;
    s.jumpMarker.clear();
    s.error = L"Success";
    int handles = s.stats.openHandles;
    s.stats = Stats{};
    s.stats.openHandles = handles;
    for (hid_device* dev : s.handles)
        dev->input.clear();
    detail::makeRomLocked(config);
    s.arrived.notify_all();
}

void setDevice(std::uint16_t vendor, std::uint16_t product)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.vendor = vendor;
    s.product = product;
}

void setPresent(bool present)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.present = present;
    s.arrived.notify_all();
}

void setInitError(bool fail)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.initError = fail;
}

void failWrites(int count, int after)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failWrites = count;
    s.writesBeforeFailure = after;
}

void setPadStatusReport(bool pad)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.padStatusReport = pad;
}

void queueInputReport(const std::vector<std::uint8_t>& report)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::deliverLocked({report});
}

void withRom(const std::function<void(morvsim::ImxRom&)>& f)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::checkEnvironmentConfigLocked();
    f(*s.rom);
}

Stats stats()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.stats;
}

bool loadConfig(const std::string& path, std::string* error)
{
    std::ifstream in(path);
    std::string why;
    detail::ParsedConfig config;
    bool ok = false;
    if (!in)
        why = "cannot read " + path;
    else
        ok = detail::parseConfig(in, config, why);
    if (!ok) {
        if (error != nullptr)
            *error = why;
        return false;
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.configChecked = true;
    s.configFailed = false;
    detail::applyLocked(s, config);
    return true;
}

}  // namespace fakehid
