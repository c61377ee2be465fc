// Firmware bundle ("bird") file: a short header and a zlib-compressed list of
// typed blocks (loader, firmware images, serial-number offsets, descriptor,
// recovery jump address). The file is untrusted input: every length read from
// it is checked against the data actually present.
#ifndef UPDATER_BIRDFILE_H
#define UPDATER_BIRDFILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One block of a bundle. `data` points into the owning BirdFile's payload.
struct BirdBlock {
    uint8_t type;
    uint8_t flags;
    uint32_t length;   // data bytes, load address included
    uint32_t address;  // load address for loader and firmware blocks, else 0
    unsigned char* data;
};

class BirdFile {
public:
    // Fixed to a byte: a file can carry any of the 32 type codes, known here or not.
    enum BLOCK_TYPE : uint8_t {
        BLOCK_LOADER = 0,
        BLOCK_FIRMWARE = 1,
        BLOCK_SERIAL_OFFSETS = 2,
        BLOCK_DESCRIPTOR = 4,
        BLOCK_JUMP_ADDRESS = 5,
    };

    static const unsigned char BIRD_FILE_SIGNATURE[4];
    static const unsigned char BIRD_FILE_VERSION[2];
    static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
    static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;

    // Refusal limits for hostile files; real bundles are far smaller.
    static constexpr uint64_t MAX_FILE_SIZE = 256u * 1024u * 1024u;
    static constexpr uint64_t MAX_PAYLOAD_SIZE = 256u * 1024u * 1024u;
    static constexpr uint32_t MAX_BLOCKS = 65536u;

    BirdFile();
    // Loads the file; throws std::runtime_error "Failed to load bird data".
    explicit BirdFile(const char* path);
    BirdFile(BirdFile&& other) noexcept;
    BirdFile& operator=(BirdFile&& other) noexcept;
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;
    ~BirdFile();

    // True when the file starts with "bird" and two non-zero version bytes.
    static bool VerifyFile(const char* path);

    // Reads, decompresses and scans the file named by `path`.
    bool Load();
    // The same from a file image already in memory (header included); Load uses it.
    bool LoadData(const unsigned char* data, size_t size);

    bool DecompressData(const unsigned char* data, unsigned long length);
    // True when the payload's size and declared block count agree with its blocks.
    bool ScanBlocks(const unsigned char* payload, unsigned size);
    bool FindSerialNumberOffsets();
    std::vector<BirdBlock> FindBlocks(BLOCK_TYPE type);

    // True only when every non-zero offset was written into some firmware block.
    bool ReplaceSerialNumber(unsigned serial);
    // Descrambles every firmware block in place with the four fingerprint words.
    bool DecodeFirmwareBlocks(const uint32_t* fingerprint);
    bool ReplaceVectorChecksum();

    bool ValidateModel(const char* model);
    unsigned GetSerialNumber();
    bool ValidateSerialNumber(unsigned serial);
    unsigned GetBuild();
    std::string GetVersion();
    bool ValidateData(unsigned char* pattern, unsigned length);
    bool DumpBlocks(BLOCK_TYPE type);

    std::string path;
    uint32_t signature = 0;
    uint32_t version = 0;
    uint32_t checksum = 0;
    uint32_t blockCount = 0;

private:
    std::vector<BirdBlock> blocks;

public:
    bool hasOffsets = false;
    uint32_t serialOffset = 0;
    uint32_t descriptorOffset = 0;

private:
    enum class ScanResult { Ok, Mismatch, Malformed };

    void reset();
    ScanResult scan(const unsigned char* payload, size_t size);
    const BirdBlock* descriptor() const;

    std::unique_ptr<unsigned char[]> payload;
    uint32_t payloadSize = 0;
};

#endif
