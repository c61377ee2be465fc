// Operations on the firmware images of a loaded bundle: serial-number patch,
// descrambling, vector checksum, pattern search and dump.
#include "BirdFile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "Log.h"

namespace {

constexpr uint32_t kAddressBytes = 4;

uint32_t getLE32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void putLE32(unsigned char* p, uint32_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

// Image position of `size` bytes at module address `target` in an image of
// `imageLength` bytes loaded at `load`; false when they are not all inside it.
bool imagePosition(uint32_t load, uint32_t imageLength, uint32_t target, uint32_t size, uint32_t* position)
{
    if (target < load)
        return false;
    const uint64_t offset = uint64_t(target) - load;
    if (offset + size > imageLength)
        return false;
    *position = uint32_t(offset);
    return true;
}

}  // namespace

bool BirdFile::ReplaceSerialNumber(unsigned serial)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", serial);
    if (serialOffset == 0 && descriptorOffset == 0)
        return false;

    bool serialDone = false;
    bool descriptorDone = false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE)
            continue;
        // The scan guarantees the four address bytes.
        const uint32_t imageLength = block.length - kAddressBytes;
        unsigned char* image = block.data + kAddressBytes;
        uint32_t at = 0;
        if (serialOffset != 0 && imagePosition(block.address, imageLength, serialOffset, 4, &at)) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n", getLE32(image + at),
                     serial);
            putLE32(image + at, serial);
            serialDone = true;
        }
        // Eight UTF-16LE characters: only their low bytes change.
        if (descriptorOffset != 0 && imagePosition(block.address, imageLength, descriptorOffset, 16, &at)) {
            for (int i = 0; i < 8; ++i)
                image[at + 2 * i] = uint8_t(text[i]);
            descriptorDone = true;
        }
    }
    if (serialOffset != 0 && !serialDone)
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - serial number offset %08X lies in no firmware block\n",
                 serialOffset);
    if (descriptorOffset != 0 && !descriptorDone)
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - descriptor offset %08X lies in no firmware block\n",
                 descriptorOffset);
    return (serialOffset == 0 || serialDone) && (descriptorOffset == 0 || descriptorDone);
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t* fingerprint)
{
    if (!fingerprint)
        return false;
    unsigned char key[16];
    for (int word = 0; word < 4; ++word) {
        for (int byte = 0; byte < 4; ++byte)
            key[4 * word + byte] = uint8_t(fingerprint[word] >> (24 - 8 * byte));
    }
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE)
            continue;
        unsigned char* image = block.data + kAddressBytes;
        const uint32_t imageLength = block.length - kAddressBytes;
        unsigned char previous = 0;
        unsigned index = 0;
        for (uint32_t i = 0; i < imageLength; ++i) {
            const unsigned char plain = image[i] ^ key[index] ^ previous;
            image[i] = plain;
            previous = plain;
            index = (index + 1) % 16;
        }
    }
    return true;
}

bool BirdFile::ReplaceVectorChecksum()
{
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE || block.address != 0 || block.length - kAddressBytes < 32)
            continue;
        unsigned char* image = block.data + kAddressBytes;
        // The boot ROM accepts an image whose first eight vector words sum to 0.
        uint32_t sum = 0;
        for (int word = 0; word < 7; ++word)
            sum += getLE32(image + 4 * word);
        const uint32_t check = 0u - sum;
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n", getLE32(image + 28),
                 check);
        putLE32(image + 28, check);
    }
    return true;
}

bool BirdFile::ValidateData(unsigned char* pattern, unsigned length)
{
    Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", path.c_str());
    bool found = false;
    if (pattern && length > 0) {
        for (const BirdBlock& block : blocks) {
            if (block.type != BLOCK_FIRMWARE || length > block.length)
                continue;
            const uint32_t last = block.length - length;  // the last start position counts too
            for (uint32_t pos = 0; pos <= last; ++pos) {
                const void* hit = memchr(block.data + pos, pattern[0], size_t(last - pos) + 1);
                if (!hit)
                    break;
                pos = uint32_t(static_cast<const unsigned char*>(hit) - block.data);
                if (std::memcmp(block.data + pos, pattern, length) == 0) {
                    Log::log(DEBUG_BirdFile, "Found data at %d\n", int(pos));
                    found = true;
                }
            }
        }
    }
    Log::log(DEBUG_BirdFile, "\n");
    return found;
}

bool BirdFile::DumpBlocks(BLOCK_TYPE type)
{
    std::fprintf(stdout, "BIRDFILE: BLOCK DUMP [%s]\n", path.c_str());
    for (const BirdBlock& block : blocks) {
        if (block.type != type)
            continue;
        std::string text;
        for (uint32_t i = 0; i < block.length; ++i) {
            const unsigned char byte = block.data[i];
            if (i % 50 == 0) {
                std::fprintf(stdout, " %s\r\n%06d: ", text.c_str(), int(i));
                text.clear();
            }
            text.push_back(std::isprint(byte) ? char(byte) : ' ');
            std::fprintf(stdout, "%02X ", unsigned(byte));
        }
        std::fprintf(stdout, " %s\n", text.c_str());
    }
    std::fprintf(stdout, "\n");
    return true;
}
