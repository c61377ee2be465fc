// Builds firmware bundle files for tests: a list of blocks packed into a
// payload, compressed with zlib's compress and prefixed with the file header.
// Every header field can be set, including wrong ones, so that tests can make
// truncated, corrupt and hostile bundles too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvtest {

using Bytes = std::vector<uint8_t>;

// Block types of a bundle.
enum BundleBlockType : uint8_t {
    kBlockLoader = 0,
    kBlockFirmware = 1,
    kBlockSerialOffsets = 2,
    kBlockUnused = 3,
    kBlockDescriptor = 4,
    kBlockJumpAddress = 5,
};

struct BundleBlock {
    uint8_t tag = 0;                      // type in bits 0-4, flags in bits 5-7
    Bytes data;                           // everything after the length field
    std::optional<uint32_t> lengthField;  // written instead of data.size() when set
};

class BundleBuilder {
public:
    BundleBuilder& signature(const std::string& four);     // default "bird"; any length is written as is
    BundleBuilder& version(uint8_t major, uint8_t minor);  // default 1, 1
    BundleBuilder& declaredCount(uint32_t count);          // default: the number of blocks
    BundleBuilder& checksum(uint32_t value);               // default 0
    BundleBuilder& omitChecksum();                         // payload ends after the blocks
    BundleBuilder& trailer(const Bytes& bytes);            // extra payload bytes after the checksum

    // A block as given: type, flags (0-7) and data.
    BundleBuilder& block(uint8_t type, uint8_t flags, const Bytes& data);
    // A block whose length field is not the data's size (hostile bundles).
    BundleBuilder& rawBlock(uint8_t tag, const Bytes& data, uint32_t lengthField);

    BundleBuilder& loader(uint32_t address, const Bytes& image, uint8_t flags = 0);
    BundleBuilder& firmware(uint32_t address, const Bytes& image, uint8_t flags = 0);
    BundleBuilder& serialOffsets(uint32_t serialOffset, uint32_t descriptorOffset);
    // Four fields padded with blanks to 16 characters (cut when longer).
    BundleBuilder& descriptor(const std::string& build, const std::string& version, const std::string& serial,
                              const std::string& model);
    BundleBuilder& jumpAddress(uint32_t address);

    size_t blockCount() const { return blocks_.size(); }

    // The decompressed body: count, blocks, checksum, trailer.
    Bytes payload() const;
    // The whole file: signature, version bytes and the compressed payload.
    Bytes file() const;
    // Writes file() to path; throws std::runtime_error on failure.
    void writeTo(const std::string& path) const;

    // A file holding the given header bytes and the compressed `body` as is.
    static Bytes fileFor(const Bytes& body, const std::string& signature = "bird", uint8_t major = 1,
                         uint8_t minor = 1);
    // zlib compress of the bytes (default level).
    static Bytes compress(const Bytes& bytes);

private:
    std::string signature_ = "bird";
    uint8_t major_ = 1;
    uint8_t minor_ = 1;
    std::optional<uint32_t> declaredCount_;
    uint32_t checksum_ = 0;
    bool withChecksum_ = true;
    Bytes trailer_;
    std::vector<BundleBlock> blocks_;
};

// Appends a 32-bit big-endian value.
void appendBE32(Bytes& out, uint32_t value);
// A 16-character descriptor field: text padded with blanks, cut at 16.
std::string descriptorField(const std::string& text);

// The scrambling key of a module: the four fingerprint words, most significant byte first.
Bytes fingerprintKey(const uint32_t fingerprint[4]);
// Scrambles a plain firmware image (no address bytes) so that descrambling it
// with the same fingerprint gives the plain image back.
Bytes scrambleImage(const Bytes& plain, const uint32_t fingerprint[4]);

}  // namespace morvtest
