// Bundle file loading: file read, decompression and the block scan.
#include "BirdFile.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <zlib.h>

#include "Log.h"
#include "RegularFile.h"
#include "aFile.h"

const unsigned char BirdFile::BIRD_FILE_SIGNATURE[4] = {'b', 'i', 'r', 'd'};
const unsigned char BirdFile::BIRD_FILE_VERSION[2] = {1, 1};

namespace {

uint32_t GetInt(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t GetShort(const unsigned char* p)
{
    return (uint32_t(p[0]) << 8) | uint32_t(p[1]);
}

constexpr size_t kHeaderSize = 6;
constexpr size_t kBlockHeaderSize = 5;
constexpr size_t kCountSize = 4;
constexpr size_t kChecksumSize = 4;

// Bytes a block of the type must hold before its fields can be read.
uint32_t minimumLength(uint8_t type)
{
    switch (type) {
    case BirdFile::BLOCK_LOADER:
    case BirdFile::BLOCK_FIRMWARE:
    case BirdFile::BLOCK_JUMP_ADDRESS:
        return 4;
    case BirdFile::BLOCK_SERIAL_OFFSETS:
        return 8;
    case BirdFile::BLOCK_DESCRIPTOR:
        return 64;
    default:
        return 0;
    }
}

// Size of the inflated stream without keeping it, so that the payload can be
// allocated exactly once (zlib streams do not record their size). Gives a zlib
// code; Z_BUF_ERROR when the stream inflates to more than `limit` bytes.
int measureInflated(const unsigned char* data, unsigned long length, uint64_t limit, uint64_t* size)
{
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    int rc = inflateInit(&zs);
    if (rc != Z_OK)
        return rc;
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[64 * 1024]);
    if (!scratch) {
        inflateEnd(&zs);
        return Z_MEM_ERROR;
    }
    const unsigned char* next = data;
    unsigned long left = length;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            uInt chunk = left > UINT_MAX ? UINT_MAX : uInt(left);
            zs.next_in = const_cast<Bytef*>(next);
            zs.avail_in = chunk;
            next += chunk;
            left -= chunk;
        }
        zs.next_out = scratch.get();
        zs.avail_out = 64 * 1024;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            rc = Z_OK;
            break;
        }
        if (rc == Z_NEED_DICT || (rc == Z_BUF_ERROR && zs.avail_in == 0 && left == 0)) {
            rc = Z_DATA_ERROR;  // needs a dictionary, or the stream is cut short
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            break;
        if (uint64_t(zs.total_out) > limit) {
            rc = Z_BUF_ERROR;
            break;
        }
    }
    if (rc == Z_OK && uint64_t(zs.total_out) > limit)
        rc = Z_BUF_ERROR;
    *size = zs.total_out;
    inflateEnd(&zs);
    return rc;
}

}  // namespace

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const char* p) : path(p ? p : "")
{
    if (!Load())
        throw std::runtime_error("Failed to load bird data");
}

BirdFile::BirdFile(BirdFile&& other) noexcept
{
    *this = std::move(other);
}

BirdFile& BirdFile::operator=(BirdFile&& other) noexcept
{
    if (this == &other)
        return *this;
    path = std::move(other.path);
    signature = other.signature;
    version = other.version;
    checksum = other.checksum;
    blockCount = other.blockCount;
    blocks = std::move(other.blocks);
    hasOffsets = other.hasOffsets;
    serialOffset = other.serialOffset;
    descriptorOffset = other.descriptorOffset;
    payload = std::move(other.payload);  // the blocks' data pointers stay valid
    payloadSize = other.payloadSize;
    other.reset();
    other.path.clear();
    return *this;
}

BirdFile::~BirdFile() = default;

void BirdFile::reset()
{
    signature = 0;
    version = 0;
    checksum = 0;
    blockCount = 0;
    blocks.clear();
    hasOffsets = false;
    serialOffset = 0;
    descriptorOffset = 0;
    payload.reset();
    payloadSize = 0;
}

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The bundle file at p, opened only when it is a regular file; -1 (logged) otherwise.
int openBundle(const char* p, uint64_t* size)
{
    bool notRegular = false;
    const int fd = OpenRegularFile(p, &notRegular, size);
    if (fd < 0) {
        if (notRegular)
            Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird file is not a regular file: '%s'\n", p);
        else
            Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", p);
    }
    return fd;
}

// Reads up to size bytes into buffer; *error is errno on a read error, else 0.
size_t readUpTo(int fd, unsigned char* buffer, size_t size, int* error)
{
    size_t total = 0;
    *error = 0;
    while (total < size) {
        const ssize_t got = read(fd, buffer + total, size - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = errno;
            break;
        }
        if (got == 0)
            break;
        total += size_t(got);
    }
    return total;
}

}  // namespace

bool BirdFile::VerifyFile(const char* p)
{
    uint64_t size = 0;
    FileDescriptor file(openBundle(p ? p : "", &size));
    if (file.get() < 0)
        return false;
    unsigned char head[kHeaderSize];
    int error = 0;
    const size_t got = readUpTo(file.get(), head, sizeof head, &error);
    return error == 0 && got == sizeof head &&
           std::memcmp(head, BIRD_FILE_SIGNATURE, sizeof BIRD_FILE_SIGNATURE) == 0 && head[4] != 0 && head[5] != 0;
}

namespace {

// Reads size bytes into buffer; false (logged) on a read error or a file
// shorter than its size said.
bool readAll(int fd, const char* p, unsigned char* buffer, size_t size, size_t* total)
{
    int error = 0;
    *total = readUpTo(fd, buffer, size, &error);
    if (error != 0) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", int(aErrIO), p);
        return false;
    }
    if (*total < size) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", p, *total, size);
        return false;
    }
    return true;
}

// The whole file at p into *buffer; false (logged) when it cannot be had.
bool readFile(const char* p, std::unique_ptr<unsigned char[]>* buffer, size_t* total)
{
    if (!aFile_Exists(p)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", p);
        return false;
    }
    uint64_t size = 0;
    FileDescriptor file(openBundle(p, &size));
    if (file.get() < 0)
        return false;
    if (size > BirdFile::MAX_FILE_SIZE) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - %s is too large to load (%llu bytes, at most %llu)\n", p,
                 (unsigned long long)size, (unsigned long long)BirdFile::MAX_FILE_SIZE);
        return false;
    }
    buffer->reset(new (std::nothrow) unsigned char[size ? size_t(size) : 1]);
    if (!*buffer) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - no memory for the %llu bytes of %s\n",
                 (unsigned long long)size, p);
        return false;
    }
    return readAll(file.get(), p, buffer->get(), size_t(size), total);
}

}  // namespace

bool BirdFile::Load()
{
    const char* p = path.c_str();
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", p);
    std::unique_ptr<unsigned char[]> buffer;
    size_t total = 0;
    if (!readFile(p, &buffer, &total)) {
        reset();
        return false;
    }
    return LoadData(buffer.get(), total);
}

bool BirdFile::LoadData(const unsigned char* data, size_t size)
{
    reset();
    if (!data || size <= kHeaderSize) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - %s holds no bird data (%zu bytes)\n", path.c_str(),
                 data ? size : size_t(0));
        return false;
    }
    // Not tested here: callers that care run VerifyFile first.
    signature = GetInt(data);
    version = GetShort(data + 4);
    if (!DecompressData(data + kHeaderSize, size - kHeaderSize))
        return false;
    ScanResult scanned = ScanResult::Malformed;
    try {
        scanned = scan(payload.get(), payloadSize);
    } catch (const std::bad_alloc&) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - no memory for the block list\n");
    }
    if (scanned == ScanResult::Malformed) {
        // A broken block list must not reach a module, not even in part.
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - malformed block list in %s\n", path.c_str());
        reset();
        return false;
    }
    hasOffsets = FindSerialNumberOffsets();
    return true;
}

bool BirdFile::DecompressData(const unsigned char* data, unsigned long length)
{
    // The old blocks point into the payload being replaced.
    blocks.clear();
    blockCount = 0;
    hasOffsets = false;
    serialOffset = 0;
    descriptorOffset = 0;
    payload.reset();
    payloadSize = 0;
    if (!data) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", Z_STREAM_ERROR);
        return false;
    }

    uint64_t size = 0;
    int rc = measureInflated(data, length, MAX_PAYLOAD_SIZE, &size);
    if (rc == Z_BUF_ERROR) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird data inflates to more than %llu bytes\n",
                 (unsigned long long)MAX_PAYLOAD_SIZE);
        return false;
    }
    if (rc != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", rc);
        return false;
    }

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size ? size_t(size) : 1]);
    if (!buffer) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", Z_MEM_ERROR);
        return false;
    }
    uLongf outLength = uLongf(size);
    rc = uncompress(buffer.get(), &outLength, data, length);
    if (rc == Z_OK && outLength != size)
        rc = Z_DATA_ERROR;
    if (rc != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", rc);
        return false;
    }
    payload = std::move(buffer);
    payloadSize = uint32_t(size);
    return true;
}

bool BirdFile::ScanBlocks(const unsigned char* data, unsigned size)
{
    return scan(data, size) == ScanResult::Ok;
}

namespace {

// The block whose header is at pos, when it fits before end and is long
// enough for its type; false (logged) otherwise.
bool parseBlock(const unsigned char* data, size_t pos, size_t end, BirdBlock* block)
{
    const size_t avail = end - pos;
    if (avail < kBlockHeaderSize) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - block header at offset %zu runs past the end of the data\n", pos);
        return false;
    }
    const uint8_t tag = data[pos];
    const uint32_t length = GetInt(data + pos + 1);
    if (uint64_t(length) > uint64_t(avail - kBlockHeaderSize)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - block at offset %zu claims %u bytes, %zu remain\n", pos, length,
                 avail - kBlockHeaderSize);
        return false;
    }
    block->type = tag & BirdFile::BIRD_FILE_TYPE_MASK;
    block->flags = uint8_t((tag & BirdFile::BIRD_FILE_FLAG_MASK) >> 5);
    block->length = length;
    // Load keeps the records pointing into the payload it owns.
    block->data = const_cast<unsigned char*>(data + pos + kBlockHeaderSize);
    const uint32_t needed = minimumLength(block->type);
    if (length < needed) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - block of type %u at offset %zu holds %u bytes, needs %u\n",
                 unsigned(block->type), pos, length, needed);
        return false;
    }
    block->address = (block->type == BirdFile::BLOCK_LOADER || block->type == BirdFile::BLOCK_FIRMWARE)
                         ? GetInt(block->data)
                         : 0;
    return true;
}

void logBlock(const BirdBlock& block)
{
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", unsigned(block.type), unsigned(block.flags),
             int(block.length));
    if (block.type == BirdFile::BLOCK_DESCRIPTOR) {
        for (int field = 0; field < 4; ++field)
            Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n",
                     reinterpret_cast<const char*>(block.data + 16 * field));
    }
}

}  // namespace

BirdFile::ScanResult BirdFile::scan(const unsigned char* data, size_t size)
{
    blocks.clear();
    blockCount = 0;
    checksum = 0;
    if (!data || size < kCountSize + kChecksumSize) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird data of %zu bytes holds no block list\n",
                 data ? size : size_t(0));
        return ScanResult::Malformed;
    }

    const uint32_t declared = GetInt(data);
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", int(declared));
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

    // Blocks fill the bytes between the count and the checksum, which ends the data.
    const size_t end = size - kChecksumSize;
    size_t pos = kCountSize;
    ScanResult verdict = ScanResult::Ok;
    auto malformed = [this]() {
        blocks.clear();
        blockCount = 0;
        return ScanResult::Malformed;
    };
    while (pos < end) {
        BirdBlock block;
        if (!parseBlock(data, pos, end, &block))
            return malformed();
        if (blockCount >= MAX_BLOCKS) {
            Log::log(DEBUG_BirdFile, "BIRDFILE: Error - more than %u blocks\n", MAX_BLOCKS);
            return malformed();
        }
        logBlock(block);
        pos += kBlockHeaderSize + block.length;
        ++blockCount;
        blocks.push_back(block);
    }

    checksum = GetInt(data + end);
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", checksum);

    if (blockCount != declared) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                 int(blockCount), int(declared));
        verdict = ScanResult::Mismatch;
    }
    return verdict;
}

bool BirdFile::FindSerialNumberOffsets()
{
    if (blocks.empty())
        return false;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_SERIAL_OFFSETS)
            continue;
        serialOffset = GetInt(block.data);
        descriptorOffset = GetInt(block.data + 4);
        Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n", int(serialOffset),
                 int(descriptorOffset));
        return true;
    }
    return false;
}

std::vector<BirdBlock> BirdFile::FindBlocks(BLOCK_TYPE type)
{
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks) {
        if (block.type == type)
            found.push_back(block);
    }
    return found;
}
