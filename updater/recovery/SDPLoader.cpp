// Serial download protocol engine: alive check, loader write, jump and fuse reads.
#include "SDPLoader.h"

#include "Log.h"

#include <algorithm>

namespace {

constexpr int kAliveAttempts = 5;
constexpr unsigned int kReplyTimeoutMs = 100;

}  // namespace

SDPLoader::SDPLoader() = default;

SDPLoader::~SDPLoader() = default;

bool SDPLoader::setLoader(SDPLoader_Interface* loader)
{
    if (loader == nullptr || loader_)
        return false;
    loader_.reset(loader);
    return true;
}

int SDPLoader::init()
{
    if (!loader_)
        return 1;
    return loader_->init() ? 0 : 6;
}

void SDPLoader::_dropStaleInput()
{
    std::vector<uint8_t> stale;
    loader_->readData(stale, 0);
    if (!stale.empty()) {
        Log::log(DEBUG_iMXSerial, "Dropped %zu stale bytes: ", stale.size());
        _printBuffer(stale);
    }
}

ssize_t SDPLoader::_readReply(std::vector<uint8_t>& reply)
{
    if (!loader_->waitUntilSent())
        Log::log(DEBUG_iMXSerial, "The request had not left the host when its reply window opened\n");
    return loader_->readData(reply, kReplyTimeoutMs);
}

bool SDPLoader::_expectAck(const std::vector<uint8_t>& reply)
{
    uint32_t value = 0;
    return loader_->getDataFromBuffer(reply, 0, value) && value == REPLY_ACK;
}

bool SDPLoader::_expectResponse(const std::vector<uint8_t>& reply)
{
    uint32_t value = 0;
    return loader_->getDataFromBuffer(reply, 0, value);
}

bool SDPLoader::_expectSuccess(const std::vector<uint8_t>& reply)
{
    uint32_t value = 0;
    return loader_->getDataFromBuffer(reply, 0, value) && value == REPLY_SUCCESS;
}

bool SDPLoader::_isConnectionAlive()
{
    if (!loader_)
        return false;
    for (int attempt = 0; attempt < kAliveAttempts; ++attempt) {
        _dropStaleInput();
        std::vector<uint8_t> command = _createStatusPacket();
        ssize_t written = loader_->writeData(command);
        Log::log(DEBUG_iMXSerial, "bytesWritten: %zd\n", written);
        _printBuffer(command);
        if (written <= 0)
            continue;

        std::vector<uint8_t> reply;
        ssize_t count = _readReply(reply);
        Log::log(DEBUG_iMXSerial, "Read Data: %zd\n", count);
        _printBuffer(reply);
        if (_expectResponse(reply))
            return true;
    }
    Log::log(DEBUG_iMXSerial, "Error: No ack from iMX device\n");
    return false;
}

// The image in REPORT_DATA chunks, the bytes written counted in *total; 0,
// else the writeLoader code: 3 when the ROM spoke up meanwhile, 4 for a
// failed write.
int SDPLoader::_sendImage(const std::vector<uint8_t>& image, int* totalOut)
{
    int& total = *totalOut;
    int loop = 0;
    size_t offset = 0;
    std::vector<uint8_t> report;
    report.reserve(MAX_DATA_CHUNK + 1);
    while (offset < image.size()) {
        std::vector<uint8_t> early;
        ssize_t count = loader_->readData(early, 0);
        Log::log(DEBUG_iMXSerial, "Read Data: %zd\n", count);
        if (!early.empty()) {
            _printBuffer(early);
            Log::log(DEBUG_iMXSerial, "Error while transfering loader. Aborting\n");
            return 3;
        }

        size_t chunk = std::min(MAX_DATA_CHUNK, image.size() - offset);
        report.assign(1, REPORT_DATA);
        report.insert(report.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                      image.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
        const ssize_t result = loader_->writeData(report);
        offset += chunk;
        ++loop;
        if (result > 0)
            total += static_cast<int>(result);
        Log::log(DEBUG_iMXSerial, "Write Res: %zd , Total: %d, Loop: %d, tell: %ld, size: %zd\n",
                 result, total, loop, static_cast<long>(offset), static_cast<ssize_t>(report.size()));
        if (result <= 0) {
            // The ROM now waits for bytes that never come; no reply would be ours.
            Log::log(DEBUG_iMXSerial, "Error writing to the iMX device\n");
            Log::log(DEBUG_iMXSerial, "Loader Transfer Unsuccessful\n");
            return 4;
        }
    }
    return 0;
}

int SDPLoader::writeLoader(std::vector<uint8_t> image, uint32_t address)
{
    if (!_isConnectionAlive())
        return 2;

    // The count field is 32 bits, and the ROM would wrap an image that runs
    // past the top of the address space.
    if (image.size() > UINT32_MAX || (!image.empty() && image.size() - 1 > UINT32_MAX - address)) {
        Log::log(DEBUG_iMXSerial, "Loader of %zu bytes does not fit at 0x%08X\n", image.size(), address);
        return 4;
    }

    _dropStaleInput();
    std::vector<uint8_t> command = _createWriteFilePacket(address, static_cast<uint32_t>(image.size()));
    ssize_t result = loader_->writeData(command);
    Log::log(DEBUG_iMXSerial, "Write Res: %zd\n", result);
    _printBuffer(command);
    if (result <= 0) {
        Log::log(DEBUG_iMXSerial, "Error writing to the iMX device\n");
        Log::log(DEBUG_iMXSerial, "Loader Transfer Unsuccessful\n");
        return 4;
    }

    int total = 0;
    const int sent = _sendImage(image, &total);
    if (sent != 0)
        return sent;

    Log::log(DEBUG_iMXSerial, "Written Bytes: %d\n", total);
    std::vector<uint8_t> reply;
    _readReply(reply);
    Log::log(DEBUG_iMXSerial, "Data Read: \n");
    _printBuffer(reply);
    if (_expectSuccess(reply)) {
        Log::log(DEBUG_iMXSerial, "Loader Transfer Successful\n");
        return 0;
    }
    Log::log(DEBUG_iMXSerial, "Loader Transfer Unsuccessful\n");
    return 4;
}

void SDPLoader::startLoader(uint32_t address)
{
    if (!loader_)
        return;
    _dropStaleInput();
    std::vector<uint8_t> command = _createJumpPacket(address);
    ssize_t result = loader_->writeData(command);
    Log::log(DEBUG_iMXSerial, "Write Res: %zd\n", result);
    _printBuffer(command);
    std::vector<uint8_t> reply;
    _readReply(reply);
}

bool SDPLoader::_readRegister(uint32_t address, uint32_t& value)
{
    _dropStaleInput();
    std::vector<uint8_t> command = _create4ByteReadRegisterPacket(address);
    ssize_t result = loader_->writeData(command);
    Log::log(DEBUG_iMXSerial, "Write Res: %zd\n", result);
    _printBuffer(command);
    if (result <= 0)
        return false;
    std::vector<uint8_t> reply;
    ssize_t count = _readReply(reply);
    Log::log(DEBUG_iMXSerial, "Read Data: %zd\n", count);
    _printBuffer(reply);
    uint32_t word = 0;
    if (!loader_->getDataFromBuffer(reply, 0, word)) {
        Log::log(DEBUG_iMXSerial, "Error reading register 0x%08X\n", address);
        return false;
    }
    value = word;
    return true;
}

int SDPLoader::getFingerprint(uint64_t& fingerprint)
{
    if (!_isConnectionAlive())
        return 2;
    uint32_t low = 0;
    uint32_t high = 0;
    // Both words or neither: a half-read fingerprint would name another chip.
    if (!_readRegister(FUSE_WORD_LOW, low) || !_readRegister(FUSE_WORD_HIGH, high))
        return 7;
    fingerprint |= static_cast<uint64_t>(low);
    fingerprint |= static_cast<uint64_t>(high) << 32;
    return 0;
}
