#include "ImxRomSimulator.h"

#include <algorithm>
#include <utility>

namespace morvsim {

namespace {

std::uint32_t bigEndian(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void appendLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t word)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
}

}  // namespace

ImxCommand ImxCommand::parse(const std::uint8_t* bytes)
{
    ImxCommand c;
    std::copy(bytes, bytes + kImxCommandSize, c.raw.begin());
    c.type = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    c.address = bigEndian(bytes + 2);
    c.format = bytes[6];
    c.count = bigEndian(bytes + 7);
    c.data = bigEndian(bytes + 11);
    c.reserved = bytes[15];
    return c;
}

ImxRom::ImxRom(ImxRomConfig config) : config_(std::move(config))
{
    for (const ImxRegion& region : config_.memory) {
        Bank bank;
        bank.region = region;
        bank.bytes.assign(region.size, 0);
        bank.written.assign(region.size, false);
        banks_.push_back(std::move(bank));
    }
}

ImxRom::Bank* ImxRom::bankFor(std::uint32_t address, std::uint64_t length)
{
    for (Bank& bank : banks_) {
        std::uint64_t start = bank.region.base;
        std::uint64_t end = start + bank.region.size;
        if (address >= start && address + length <= end)
            return &bank;
    }
    return nullptr;
}

const ImxRom::Bank* ImxRom::bankFor(std::uint32_t address, std::uint64_t length) const
{
    return const_cast<ImxRom*>(this)->bankFor(address, length);
}

void ImxRom::answer(std::vector<ImxOutput>& out, const std::vector<std::uint8_t>& words)
{
    if (config_.silent)
        return;
    ImxOutput hab;
    hab.kind = ImxOutput::Hab;
    appendLittleEndian(hab.bytes, habWord());
    out.push_back(std::move(hab));
    if (!words.empty()) {
        ImxOutput reply;
        reply.kind = ImxOutput::Words;
        reply.bytes = words;
        out.push_back(std::move(reply));
    }
}

void ImxRom::answerWord(std::vector<ImxOutput>& out, std::uint32_t word)
{
    std::vector<std::uint8_t> bytes;
    appendLittleEndian(bytes, word);
    answer(out, bytes);
}

void ImxRom::answerHabOnly(std::vector<ImxOutput>& out)
{
    answer(out, {});
}

void ImxRom::feedSerial(const std::uint8_t* data, std::size_t length, std::vector<ImxOutput>& out)
{
    std::size_t at = 0;
    while (at < length && !jumped_) {
        if (receiving_) {
            std::size_t take = std::min<std::size_t>(length - at, fileRemaining_);
            this->data(data + at, take, out);
            at += take;
            continue;
        }
        std::size_t take = std::min(length - at, kImxCommandSize - pending_.size());
        pending_.insert(pending_.end(), data + at, data + at + take);
        at += take;
        if (pending_.size() == kImxCommandSize) {
            std::vector<std::uint8_t> bytes;
            bytes.swap(pending_);
            command(bytes.data(), out);
        }
    }
}

bool ImxRom::feedReport(const std::uint8_t* report, std::size_t length, std::vector<ImxOutput>& out)
{
    if (length == 0)
        return false;
    if (report[0] == 1) {
        if (length != 1 + kImxCommandSize)
            return false;
        if (jumped_)
            return true;
        if (receiving_) {
            ++filesAbandoned_;
            receiving_ = false;
        }
        command(report + 1, out);
        return true;
    }
    if (report[0] == 2) {
        if (length < 2 || length > 1 + kImxMaxDataReport)
            return false;
        if (jumped_)
            return true;
        if (!receiving_) {
            strayBytes_ += length - 1;
            return true;
        }
        std::size_t take = std::min<std::size_t>(length - 1, fileRemaining_);
        dataReportSizes_.push_back(take);
        data(report + 1, take, out);
        return true;
    }
    return false;
}

void ImxRom::command(const std::uint8_t* bytes, std::vector<ImxOutput>& out)
{
    ImxCommand c = ImxCommand::parse(bytes);
    commands_.push_back(c);
    switch (c.type) {
    case kImxErrorStatus:
        if (statusRequestsIgnored_ < config_.unansweredStatusRequests) {
            ++statusRequestsIgnored_;
            return;
        }
        answerWord(out, lastStatus_);
        return;

    case kImxWriteFile: {
        receiving_ = true;
        abortSent_ = false;
        fileAddress_ = c.address;
        fileRemaining_ = c.count;
        fileTaken_ = 0;
        storing_ = bankFor(c.address, c.count) != nullptr;
        if (!storing_) {
            lastStatus_ = kImxBadAddress;
            answerWord(out, kImxBadAddress);
        }
        if (fileRemaining_ == 0)
            finishFile(out);
        return;
    }

    case kImxJumpAddress: {
        Bank* bank = bankFor(c.address, 1);
        bool written = bank != nullptr && bank->written[c.address - bank->region.base];
        if (config_.habClosed || !written) {
            ++refusedJumps_;
            lastStatus_ = config_.habClosed ? kImxHabRefused : kImxBadAddress;
            answerWord(out, lastStatus_);
            return;
        }
        answerHabOnly(out);
        jumped_ = true;
        jumpAddress_ = c.address;
        if (config_.onJump)
            config_.onJump(c.address);
        return;
    }

    case kImxReadRegister: {
        auto reg = config_.registers.find(c.address);
        if (reg != config_.registers.end() && c.count == 4) {
            lastStatus_ = kImxStatusOk;
            answerWord(out, reg->second);
            return;
        }
        const Bank* bank = c.count > 0 && c.count <= 0x10000 ? bankFor(c.address, c.count) : nullptr;
        if (bank == nullptr) {
            lastStatus_ = kImxBadAddress;
            answerHabOnly(out);
            return;
        }
        std::size_t offset = c.address - bank->region.base;
        std::vector<std::uint8_t> words(bank->bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                        bank->bytes.begin() + static_cast<std::ptrdiff_t>(offset + c.count));
        words.resize((words.size() + 3) / 4 * 4, 0);
        lastStatus_ = kImxStatusOk;
        answer(out, words);
        return;
    }

    default:
        lastStatus_ = kImxBadCommand;
        answerWord(out, kImxBadCommand);
        return;
    }
}

void ImxRom::data(const std::uint8_t* bytes, std::size_t length, std::vector<ImxOutput>& out)
{
    if (storing_ && !abortSent_) {
        Bank* bank = bankFor(fileAddress_, fileTaken_ + fileRemaining_);
        std::size_t offset = fileAddress_ - bank->region.base + static_cast<std::size_t>(fileTaken_);
        std::copy(bytes, bytes + length, bank->bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        std::fill(bank->written.begin() + static_cast<std::ptrdiff_t>(offset),
                  bank->written.begin() + static_cast<std::ptrdiff_t>(offset + length), true);
    }
    dataBytes_ += length;
    fileTaken_ += length;
    fileRemaining_ -= static_cast<std::uint32_t>(length);
    if (config_.abortDuringData && storing_ && !abortSent_ && length > 0) {
        abortSent_ = true;
        lastStatus_ = kImxDataAborted;
        answerWord(out, kImxDataAborted);
    }
    if (fileRemaining_ == 0)
        finishFile(out);
}

void ImxRom::finishFile(std::vector<ImxOutput>& out)
{
    receiving_ = false;
    if (!storing_ || abortSent_)
        return;
    ++filesWritten_;
    lastStatus_ = config_.completeStatus == kImxWriteComplete ? kImxStatusOk : config_.completeStatus;
    answerWord(out, config_.completeStatus);
}

std::size_t ImxRom::commandCount(std::uint16_t type) const
{
    return static_cast<std::size_t>(std::count_if(commands_.begin(), commands_.end(),
                                                  [type](const ImxCommand& c) { return c.type == type; }));
}

std::vector<std::uint8_t> ImxRom::read(std::uint32_t address, std::size_t length) const
{
    const Bank* bank = bankFor(address, length);
    if (bank == nullptr)
        return {};
    std::size_t offset = address - bank->region.base;
    return std::vector<std::uint8_t>(bank->bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                     bank->bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

void ImxRom::clearRecords()
{
    commands_.clear();
    dataReportSizes_.clear();
    dataBytes_ = 0;
    filesWritten_ = 0;
    filesAbandoned_ = 0;
    strayBytes_ = 0;
    refusedJumps_ = 0;
}

std::vector<std::uint8_t> ImxRom::serialBytes(const std::vector<ImxOutput>& out)
{
    std::vector<std::uint8_t> bytes;
    for (const ImxOutput& o : out)
        bytes.insert(bytes.end(), o.bytes.begin(), o.bytes.end());
    return bytes;
}

std::vector<std::vector<std::uint8_t>> ImxRom::hidReports(const std::vector<ImxOutput>& out)
{
    std::vector<std::vector<std::uint8_t>> reports;
    for (const ImxOutput& o : out) {
        if (o.kind == ImxOutput::Hab) {
            std::vector<std::uint8_t> report{3};
            report.insert(report.end(), o.bytes.begin(), o.bytes.end());
            report.resize(5, 0);
            reports.push_back(std::move(report));
            continue;
        }
        for (std::size_t at = 0; at < o.bytes.size(); at += kImxReportSize) {
            std::vector<std::uint8_t> report{4};
            std::size_t n = std::min(kImxReportSize, o.bytes.size() - at);
            report.insert(report.end(), o.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          o.bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
            report.resize(1 + kImxReportSize, 0);
            reports.push_back(std::move(report));
        }
    }
    return reports;
}

}  // namespace morvsim
