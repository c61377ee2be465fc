#include "LpcIspSimulator.h"

#include "PromptWakeups.h"
#include "PtyPair.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace morvsim {

namespace {

constexpr std::size_t kMaxLine = 512;
constexpr std::size_t kBytesPerLine = 45;
constexpr int kLinesPerChecksum = 20;
// While the slave side is hung up the descriptor reports it on every poll, so
// it is looked at again only after this pause.
constexpr int kHangUpRetryMs = 20;

enum Code {
    CMD_SUCCESS = 0,
    INVALID_COMMAND = 1,
    SRC_ADDR_ERROR = 2,
    DST_ADDR_ERROR = 3,
    SRC_ADDR_NOT_MAPPED = 4,
    DST_ADDR_NOT_MAPPED = 5,
    COUNT_ERROR = 6,
    INVALID_SECTOR = 7,
    SECTOR_NOT_PREPARED = 9,
    PARAM_ERROR = 12,
    ADDR_ERROR = 13,
    ADDR_NOT_MAPPED = 14,
    CMD_LOCKED = 15,
    INVALID_CODE = 16,
    INVALID_BAUD_RATE = 17,
    INVALID_STOP_BIT = 18,
};

std::uint32_t sectorOf(std::uint32_t address)
{
    if (address < 0x10000)
        return address / 0x1000;
    if (address < 0x80000)
        return 16 + (address - 0x10000) / 0x8000;
    return 30;
}

std::uint32_t sectorStart(std::uint32_t sector)
{
    return sector < 16 ? sector * 0x1000 : 0x10000 + (sector - 16) * 0x8000;
}

std::uint32_t sectorEnd(std::uint32_t sector)
{
    return sector < 16 ? sectorStart(sector) + 0x1000 : sectorStart(sector) + 0x8000;
}

// Decimal only, as the ROM reads its arguments.
bool decimal(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > UINT32_MAX)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> tokens;
    std::string current;
    for (char c : line) {
        if (c == ' ') {
            if (!current.empty())
                tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        tokens.push_back(current);
    return tokens;
}

char encodeSextet(std::uint32_t v, bool zeroAsSpace)
{
    v &= 0x3F;
    if (v == 0)
        return zeroAsSpace ? ' ' : '`';
    return static_cast<char>(v + 0x20);
}

std::string encodeLine(const std::uint8_t* data, std::size_t n, bool zeroAsSpace)
{
    std::string line(1, encodeSextet(static_cast<std::uint32_t>(n), zeroAsSpace));
    for (std::size_t i = 0; i < n; i += 3) {
        std::uint32_t word = static_cast<std::uint32_t>(data[i]) << 16;
        if (i + 1 < n)
            word |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        if (i + 2 < n)
            word |= data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            line += encodeSextet(word >> shift, zeroAsSpace);
    }
    return line;
}

// Both '`' and ' ' stand for zero.
bool decodeLine(const std::string& line, std::size_t expected, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (line.empty())
        return false;
    auto valid = [](char c) { return c >= 0x20 && c <= 0x60; };
    auto value = [](char c) { return static_cast<std::uint32_t>(c - 0x20) & 0x3F; };
    if (!valid(line[0]) || value(line[0]) != expected)
        return false;
    std::size_t groups = (expected + 2) / 3;
    if (line.size() != 1 + groups * 4)
        return false;
    for (std::size_t g = 0; g < groups; g++) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; k++) {
            char c = line[1 + g * 4 + k];
            if (!valid(c))
                return false;
            word = (word << 6) | value(c);
        }
        for (int shift = 16; shift >= 0 && out.size() < expected; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(word >> shift));
    }
    return true;
}

}  // namespace

LpcIspSimulator::LpcIspSimulator() : flash_(kFlashSize, 0xFF), ram_(kRamSize, 0x00) {}

LpcIspSimulator::LpcIspSimulator(morvtest::PtyPair& pty) : LpcIspSimulator()
{
    attachPty(pty);
}

LpcIspSimulator::~LpcIspSimulator()
{
    stop();
}

void LpcIspSimulator::attachPty(morvtest::PtyPair& pty)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (masterFd_ >= 0 || thread_.joinable())
        throw std::runtime_error("LpcIspSimulator: already attached");
    // Raw from the start: a slave left in cooked mode with echo would turn the
    // ROM's answers into its own input.
    termios t{};
    if (tcgetattr(pty.slaveFd(), &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(pty.slaveFd(), TCSANOW, &t);
    }
    int fd = ::dup(pty.masterFd());
    if (fd < 0)
        throw std::runtime_error("LpcIspSimulator: dup failed");
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int wake[2];
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(fd);
        throw std::runtime_error("LpcIspSimulator: pipe failed");
    }
    pty.closeMaster();
    masterFd_ = fd;
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    stopping_ = false;
    thread_ = std::thread([this] {
        morvtest::PreferPromptWakeups();
        loop();
    });
}

void LpcIspSimulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable())
            return;
        stopping_ = true;
        char byte = 1;
        ssize_t ignored = ::write(wakeWrite_, &byte, 1);
        (void)ignored;
    }
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int* fd : {&masterFd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void LpcIspSimulator::loop()
{
    std::vector<std::uint8_t> buffer(4096);
    bool hungUp = false;
    for (;;) {
        bool pendingOut;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return;
            pendingOut = !out_.empty();
        }
        pollfd fds[2] = {{wakeRead_, POLLIN, 0},
                         {masterFd_, static_cast<short>(POLLIN | (pendingOut ? POLLOUT : 0)), 0}};
        int ready = ::poll(fds, hungUp ? 1 : 2, hungUp ? kHangUpRetryMs : -1);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            char drain[16];
            while (::read(wakeRead_, drain, sizeof(drain)) > 0) {
            }
        }
        if (hungUp) {
            hungUp = false;
            continue;
        }
        short revents = fds[1].revents;
        if (revents & POLLIN) {
            ssize_t n = ::read(masterFd_, buffer.data(), buffer.size());
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                feed(buffer.data(), static_cast<std::size_t>(n));
                flushOut();
                changed_.notify_all();
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                hungUp = true;
            }
        } else if (revents & (POLLHUP | POLLERR)) {
            hungUp = true;
        }
        if (revents & POLLOUT) {
            std::lock_guard<std::mutex> lock(mutex_);
            flushOut();
        }
    }
}

void LpcIspSimulator::flushOut()
{
    while (!out_.empty()) {
        ssize_t n = ::write(masterFd_, out_.data(), out_.size());
        if (n > 0) {
            out_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            out_.clear();  // nobody to answer
        return;
    }
}

void LpcIspSimulator::feed(const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; i++)
        feedByte(bytes[i]);
}

void LpcIspSimulator::feedByte(std::uint8_t byte)
{
    stats_.bytesReceived++;
    if (faults_.silent || mode_ == Mode::Running)
        return;
    if (mode_ == Mode::Autobaud) {
        if (byte == '?') {
            send("Synchronized\r\n");
            mode_ = Mode::SyncWord;
            line_.clear();
            lineOverflow_ = false;
        }
        return;
    }
    if (echo_)
        out_ += static_cast<char>(byte);
    if (line_.size() >= kMaxLine) {
        line_.clear();
        lineOverflow_ = true;
    }
    line_ += static_cast<char>(byte);
    std::size_t n = line_.size();
    if (n >= 2 && line_[n - 2] == '\r' && line_[n - 1] == '\n') {
        std::string text = lineOverflow_ ? std::string(1, '\x7f') : line_.substr(0, n - 2);
        line_.clear();
        lineOverflow_ = false;
        handleLine(text);
    }
}

void LpcIspSimulator::handleLine(const std::string& line)
{
    switch (mode_) {
    case Mode::SyncWord:
        if (line == "Synchronized") {
            send("OK\r\n");
            mode_ = Mode::Crystal;
        } else {
            mode_ = Mode::Autobaud;
        }
        break;
    case Mode::Crystal: {
        std::uint32_t kHz = 0;
        if (decimal(line, kHz)) {
            crystal_ = kHz;
            send(faults_.crystalReply.empty() ? std::string("OK\r\n") : faults_.crystalReply);
            mode_ = Mode::Command;
            synchronized_ = true;
        } else {
            mode_ = Mode::Autobaud;
        }
        break;
    }
    case Mode::Command:
        runCommand(line);
        break;
    case Mode::WriteData:
        dataLine(line);
        break;
    case Mode::WriteChecksum:
        writeChecksum(line);
        break;
    case Mode::ReadAck:
        readAck(line);
        break;
    case Mode::Autobaud:
    case Mode::Running:
        break;
    }
}

void LpcIspSimulator::send(const std::string& text)
{
    out_ += text;
}

void LpcIspSimulator::reply(int code)
{
    send(std::to_string(code) + "\r\n");
}

void LpcIspSimulator::runCommand(const std::string& line)
{
    commands_.push_back(line);
    std::vector<std::string> t = split(line);
    if (t.empty() || t[0].size() != 1) {
        reply(INVALID_COMMAND);
        return;
    }
    char letter = t[0][0];
    if (faults_.failCommand != 0 && faults_.failCommand == letter) {
        faults_.failCommand = 0;
        reply(faults_.failCode);
        return;
    }
    std::vector<std::uint32_t> args;
    for (std::size_t i = 1; i < t.size(); i++) {
        std::uint32_t v = 0;
        if (letter == 'G' && i == 2)
            continue;  // the mode letter
        if (!decimal(t[i], v)) {
            reply(PARAM_ERROR);
            return;
        }
        args.push_back(v);
    }
    auto wantArgs = [&](std::size_t n) {
        if (args.size() == n)
            return true;
        reply(PARAM_ERROR);
        return false;
    };
    // P and E: a range of the 30 sectors.
    auto wantSectorRange = [&] {
        if (!wantArgs(2))
            return false;
        if (args[1] < args[0] || args[1] > 29) {
            reply(INVALID_SECTOR);
            return false;
        }
        return true;
    };
    // W and R: a word-aligned address and a non-zero count of whole words.
    auto wantWordTransfer = [&] {
        if (!wantArgs(2))
            return false;
        if (args[0] % 4 != 0) {
            reply(ADDR_ERROR);
            return false;
        }
        if (args[1] == 0 || args[1] % 4 != 0) {
            reply(COUNT_ERROR);
            return false;
        }
        return true;
    };

    switch (letter) {
    case 'U':
        if (!wantArgs(1))
            return;
        if (args[0] != kUnlockCode) {
            reply(INVALID_CODE);
            return;
        }
        unlocked_ = true;
        reply(CMD_SUCCESS);
        return;
    case 'A':
        if (!wantArgs(1))
            return;
        if (args[0] > 1) {
            reply(PARAM_ERROR);
            return;
        }
        echo_ = args[0] == 1;
        reply(CMD_SUCCESS);
        return;
    case 'B': {
        if (!wantArgs(2))
            return;
        static const std::uint32_t kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
        if (std::find(std::begin(kRates), std::end(kRates), args[0]) == std::end(kRates)) {
            reply(INVALID_BAUD_RATE);
            return;
        }
        reply(args[1] == 1 || args[1] == 2 ? CMD_SUCCESS : INVALID_STOP_BIT);
        return;
    }
    case 'P':
        if (!wantSectorRange())
            return;
        for (std::uint32_t s = args[0]; s <= args[1]; s++)
            prepared_[s] = true;
        reply(CMD_SUCCESS);
        return;
    case 'E':
        if (!unlocked_) {
            reply(CMD_LOCKED);
            return;
        }
        if (!wantSectorRange())
            return;
        if (!sectorsPrepared(args[0], args[1])) {
            reply(SECTOR_NOT_PREPARED);
            return;
        }
        std::fill(flash_.begin() + sectorStart(args[0]), flash_.begin() + sectorEnd(args[1]), 0xFF);
        prepared_.fill(false);
        reply(CMD_SUCCESS);
        return;
    case 'W':
        if (!wantWordTransfer())
            return;
        if (!inRam(args[0], args[1])) {
            reply(ADDR_NOT_MAPPED);
            return;
        }
        reply(CMD_SUCCESS);
        write_ = Transfer{};
        write_.address = args[0];
        write_.count = args[1];
        mode_ = Mode::WriteData;
        return;
    case 'C': {
        if (!unlocked_) {
            reply(CMD_LOCKED);
            return;
        }
        if (!wantArgs(3))
            return;
        std::uint32_t dst = args[0], src = args[1], n = args[2];
        if (dst % 256 != 0) {
            reply(DST_ADDR_ERROR);
            return;
        }
        if (src % 4 != 0) {
            reply(SRC_ADDR_ERROR);
            return;
        }
        if (n != 256 && n != 512 && n != 1024 && n != 4096) {
            reply(COUNT_ERROR);
            return;
        }
        if (!inFlash(dst, n)) {
            reply(DST_ADDR_NOT_MAPPED);
            return;
        }
        if (!inRam(src, n)) {
            reply(SRC_ADDR_NOT_MAPPED);
            return;
        }
        if (!sectorsPrepared(sectorOf(dst), sectorOf(dst + n - 1))) {
            reply(SECTOR_NOT_PREPARED);
            return;
        }
        const std::uint8_t* from = at(src, n);
        for (std::uint32_t i = 0; i < n; i++)
            flash_[dst + i] &= from[i];
        prepared_.fill(false);
        reply(CMD_SUCCESS);
        return;
    }
    case 'R':
        if (!wantWordTransfer())
            return;
        if (!inFlash(args[0], args[1]) && !inRam(args[0], args[1])) {
            reply(ADDR_NOT_MAPPED);
            return;
        }
        reply(CMD_SUCCESS);
        read_ = Transfer{};
        read_.address = args[0];
        read_.count = args[1];
        mode_ = Mode::ReadAck;
        sendReadBlock();
        return;
    case 'G':
        if (!unlocked_) {
            reply(CMD_LOCKED);
            return;
        }
        if (!wantArgs(1) )
            return;
        if (t.size() != 3 || (t[2] != "T" && t[2] != "A")) {
            reply(PARAM_ERROR);
            return;
        }
        if (!inFlash(args[0], 1) && !inRam(args[0], 1)) {
            reply(ADDR_NOT_MAPPED);
            return;
        }
        reply(CMD_SUCCESS);
        started_ = true;
        goAddress_ = args[0];
        mode_ = Mode::Running;
        return;
    case 'N':
        if (!wantArgs(0))
            return;
        reply(CMD_SUCCESS);
        if (!faults_.idReply.empty()) {
            for (const std::string& l : faults_.idReply)
                send(l + "\r\n");
        } else {
            for (std::uint32_t w : serial_)
                send(std::to_string(w) + "\r\n");
        }
        return;
    case 'K':
        if (!wantArgs(0))
            return;
        reply(CMD_SUCCESS);
        send(std::to_string(bootMajor_) + "\r\n" + std::to_string(bootMinor_) + "\r\n");
        return;
    case 'J':
        if (!wantArgs(0))
            return;
        reply(CMD_SUCCESS);
        send(std::to_string(partId_) + "\r\n");
        return;
    default:
        reply(INVALID_COMMAND);
        return;
    }
}

void LpcIspSimulator::dataLine(const std::string& line)
{
    stats_.dataLines++;
    write_.lines++;
    std::size_t expected = std::min<std::size_t>(kBytesPerLine, write_.count - write_.position);
    std::vector<std::uint8_t> bytes;
    if (decodeLine(line, expected, bytes)) {
        if (faults_.corruptWriteLines > 0) {
            faults_.corruptWriteLines--;
            bytes[0] ^= 0x01;
        }
        std::copy(bytes.begin(), bytes.end(), at(write_.address + write_.position, expected));
    } else {
        write_.damaged = true;
    }
    write_.position += static_cast<std::uint32_t>(expected);
    if (write_.lines >= kLinesPerChecksum || write_.position >= write_.count)
        mode_ = Mode::WriteChecksum;
}

void LpcIspSimulator::writeChecksum(const std::string& line)
{
    stats_.writeChecksums++;
    stats_.linesPerChecksum.push_back(write_.lines);
    write_.checksums++;
    if (faults_.silenceAtWriteChecksum) {
        faults_.silenceAtWriteChecksum = false;
        faults_.silent = true;
        return;
    }
    if (!faults_.writeChecksumReply.empty()) {
        send(faults_.writeChecksumReply + "\r\n");
        faults_.writeChecksumReply.clear();
        mode_ = Mode::Command;
        return;
    }
    std::uint32_t theirs = 0;
    bool numeric = decimal(line, theirs);
    std::uint32_t ours = 0;
    const std::uint8_t* from = at(write_.address + write_.acknowledged, write_.position - write_.acknowledged);
    for (std::uint32_t i = 0; i < write_.position - write_.acknowledged; i++)
        ours += from[i];
    bool good = numeric && theirs == ours && !write_.damaged;
    if (faults_.resendWriteChecksums > 0) {
        faults_.resendWriteChecksums--;
        good = false;
    }
    const std::vector<int>& ordinals = faults_.resendAtChecksums;
    if (std::find(ordinals.begin(), ordinals.end(), write_.checksums) != ordinals.end())
        good = false;
    if (good) {
        send("OK\r\n");
        write_.acknowledged = write_.position;
        mode_ = write_.position >= write_.count ? Mode::Command : Mode::WriteData;
    } else {
        send("RESEND\r\n");
        stats_.resendsSent++;
        write_.position = write_.acknowledged;
        mode_ = Mode::WriteData;
    }
    write_.lines = 0;
    write_.damaged = false;
}

void LpcIspSimulator::sendReadBlock()
{
    std::uint32_t start = read_.position;
    int lines = 0;
    while (read_.position < read_.count && lines < kLinesPerChecksum) {
        std::size_t n = std::min<std::size_t>(kBytesPerLine, read_.count - read_.position);
        send(encodeLine(at(read_.address + read_.position, n), n, faults_.readZeroAsSpace) + "\r\n");
        read_.position += static_cast<std::uint32_t>(n);
        lines++;
    }
    std::uint32_t sum = 0;
    const std::uint8_t* from = at(read_.address + start, read_.position - start);
    for (std::uint32_t i = 0; i < read_.position - start; i++)
        sum += from[i];
    if (faults_.wrongReadChecksums > 0) {
        faults_.wrongReadChecksums--;
        sum += 1;
    }
    send(std::to_string(sum) + "\r\n");
}

void LpcIspSimulator::readAck(const std::string& line)
{
    if (line == "OK") {
        read_.acknowledged = read_.position;
        if (read_.position >= read_.count)
            mode_ = Mode::Command;
        else
            sendReadBlock();
    } else if (line == "RESEND") {
        stats_.readResendsReceived++;
        read_.position = read_.acknowledged;
        sendReadBlock();
    } else {
        mode_ = Mode::Command;
    }
}

bool LpcIspSimulator::inFlash(std::uint32_t address, std::size_t count) const
{
    return count > 0 && address < kFlashSize && count <= kFlashSize - address;
}

bool LpcIspSimulator::inRam(std::uint32_t address, std::size_t count) const
{
    return count > 0 && address >= kRamBase && address - kRamBase < kRamSize &&
           count <= kRamSize - (address - kRamBase);
}

std::uint8_t* LpcIspSimulator::at(std::uint32_t address, std::size_t count)
{
    if (inFlash(address, count))
        return flash_.data() + address;
    if (inRam(address, count))
        return ram_.data() + (address - kRamBase);
    if (count == 0)
        return ram_.data();
    throw std::out_of_range("LpcIspSimulator: address not mapped");
}

bool LpcIspSimulator::sectorsPrepared(std::uint32_t first, std::uint32_t last) const
{
    if (last > 29 || first > last)
        return false;
    for (std::uint32_t s = first; s <= last; s++) {
        if (!prepared_[s])
            return false;
    }
    return true;
}

void LpcIspSimulator::setFaults(const LpcIspFaults& faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

LpcIspFaults LpcIspSimulator::faults() const
{
    return locked(faults_);
}

void LpcIspSimulator::setDeviceSerial(const std::array<std::uint32_t, 4>& words)
{
    std::lock_guard<std::mutex> lock(mutex_);
    serial_ = words;
}

void LpcIspSimulator::setPartId(std::uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    partId_ = id;
}

void LpcIspSimulator::setBootCodeVersion(std::uint8_t major, std::uint8_t minor)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bootMajor_ = major;
    bootMinor_ = minor;
}

void LpcIspSimulator::poke(std::uint32_t address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy(bytes.begin(), bytes.end(), at(address, bytes.size()));
}

void LpcIspSimulator::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = Mode::Autobaud;
    echo_ = true;
    unlocked_ = false;
    synchronized_ = false;
    started_ = false;
    goAddress_ = 0;
    line_.clear();
    lineOverflow_ = false;
    prepared_.fill(false);
}

std::vector<std::uint8_t> LpcIspSimulator::flash() const
{
    return locked(flash_);
}

std::vector<std::uint8_t> LpcIspSimulator::ram() const
{
    return locked(ram_);
}

std::vector<std::uint8_t> LpcIspSimulator::memory(std::uint32_t address, std::size_t count) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<std::uint8_t>* area = nullptr;
    std::uint32_t offset = 0;
    if (inFlash(address, count)) {
        area = &flash_;
        offset = address;
    } else if (inRam(address, count)) {
        area = &ram_;
        offset = address - kRamBase;
    } else {
        throw std::out_of_range("LpcIspSimulator: address not mapped");
    }
    return std::vector<std::uint8_t>(area->begin() + offset, area->begin() + offset + count);
}

std::vector<std::string> LpcIspSimulator::commands() const
{
    return locked(commands_);
}

LpcIspStats LpcIspSimulator::stats() const
{
    return locked(stats_);
}

bool LpcIspSimulator::synchronized() const
{
    return locked(synchronized_);
}

bool LpcIspSimulator::echo() const
{
    return locked(echo_);
}

bool LpcIspSimulator::unlocked() const
{
    return locked(unlocked_);
}

bool LpcIspSimulator::started() const
{
    return locked(started_);
}

std::uint32_t LpcIspSimulator::goAddress() const
{
    return locked(goAddress_);
}

std::uint32_t LpcIspSimulator::crystalKHz() const
{
    return locked(crystal_);
}

bool LpcIspSimulator::waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred())
            return true;
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Bounded slices: a change between pred() and the wait is not missed for long.
        changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(10)));
    }
}

}  // namespace morvsim
