#include "BundleBuilder.h"

#include <cstdio>
#include <stdexcept>

#include <zlib.h>

namespace morvtest {

void appendBE32(Bytes& out, uint32_t value)
{
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

std::string descriptorField(const std::string& text)
{
    std::string field = text.substr(0, 16);
    field.resize(16, ' ');
    return field;
}

BundleBuilder& BundleBuilder::signature(const std::string& four)
{
    signature_ = four;
    return *this;
}

BundleBuilder& BundleBuilder::version(uint8_t major, uint8_t minor)
{
    major_ = major;
    minor_ = minor;
    return *this;
}

BundleBuilder& BundleBuilder::declaredCount(uint32_t count)
{
    declaredCount_ = count;
    return *this;
}

BundleBuilder& BundleBuilder::checksum(uint32_t value)
{
    checksum_ = value;
    withChecksum_ = true;
    return *this;
}

BundleBuilder& BundleBuilder::omitChecksum()
{
    withChecksum_ = false;
    return *this;
}

BundleBuilder& BundleBuilder::trailer(const Bytes& bytes)
{
    trailer_ = bytes;
    return *this;
}

BundleBuilder& BundleBuilder::block(uint8_t type, uint8_t flags, const Bytes& data)
{
    BundleBlock b;
    b.tag = uint8_t((type & 0x1F) | ((flags & 0x7) << 5));
    b.data = data;
    blocks_.push_back(std::move(b));
    return *this;
}

BundleBuilder& BundleBuilder::rawBlock(uint8_t tag, const Bytes& data, uint32_t lengthField)
{
    BundleBlock b;
    b.tag = tag;
    b.data = data;
    b.lengthField = lengthField;
    blocks_.push_back(std::move(b));
    return *this;
}

static Bytes addressed(uint32_t address, const Bytes& image)
{
    Bytes data;
    data.reserve(image.size() + 4);
    appendBE32(data, address);
    data.insert(data.end(), image.begin(), image.end());
    return data;
}

BundleBuilder& BundleBuilder::loader(uint32_t address, const Bytes& image, uint8_t flags)
{
    return block(kBlockLoader, flags, addressed(address, image));
}

BundleBuilder& BundleBuilder::firmware(uint32_t address, const Bytes& image, uint8_t flags)
{
    return block(kBlockFirmware, flags, addressed(address, image));
}

BundleBuilder& BundleBuilder::serialOffsets(uint32_t serialOffset, uint32_t descriptorOffset)
{
    Bytes data;
    appendBE32(data, serialOffset);
    appendBE32(data, descriptorOffset);
    return block(kBlockSerialOffsets, 0, data);
}

BundleBuilder& BundleBuilder::descriptor(const std::string& build, const std::string& version,
                                         const std::string& serial, const std::string& model)
{
    std::string text = descriptorField(build) + descriptorField(version) + descriptorField(serial) +
                       descriptorField(model);
    return block(kBlockDescriptor, 0, Bytes(text.begin(), text.end()));
}

BundleBuilder& BundleBuilder::jumpAddress(uint32_t address)
{
    Bytes data;
    appendBE32(data, address);
    return block(kBlockJumpAddress, 0, data);
}

Bytes BundleBuilder::payload() const
{
    Bytes out;
    appendBE32(out, declaredCount_ ? *declaredCount_ : uint32_t(blocks_.size()));
    for (const BundleBlock& b : blocks_) {
        out.push_back(b.tag);
        appendBE32(out, b.lengthField ? *b.lengthField : uint32_t(b.data.size()));
        out.insert(out.end(), b.data.begin(), b.data.end());
    }
    if (withChecksum_)
        appendBE32(out, checksum_);
    out.insert(out.end(), trailer_.begin(), trailer_.end());
    return out;
}

Bytes BundleBuilder::compress(const Bytes& bytes)
{
    uLongf length = compressBound(uLong(bytes.size()));
    Bytes out(length);
    const int rc = ::compress(out.data(), &length, bytes.data(), uLong(bytes.size()));
    if (rc != Z_OK)
        throw std::runtime_error("compress failed: " + std::to_string(rc));
    out.resize(length);
    return out;
}

Bytes BundleBuilder::fileFor(const Bytes& body, const std::string& signature, uint8_t major, uint8_t minor)
{
    Bytes out(signature.begin(), signature.end());
    out.push_back(major);
    out.push_back(minor);
    Bytes packed = compress(body);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

Bytes BundleBuilder::file() const
{
    return fileFor(payload(), signature_, major_, minor_);
}

void BundleBuilder::writeTo(const std::string& path) const
{
    const Bytes bytes = file();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot create " + path);
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    const bool closed = std::fclose(f) == 0;
    if (written != bytes.size() || !closed)
        throw std::runtime_error("cannot write " + path);
}

Bytes fingerprintKey(const uint32_t fingerprint[4])
{
    Bytes key;
    for (int word = 0; word < 4; ++word)
        appendBE32(key, fingerprint[word]);
    return key;
}

Bytes scrambleImage(const Bytes& plain, const uint32_t fingerprint[4])
{
    const Bytes key = fingerprintKey(fingerprint);
    Bytes out(plain.size());
    uint8_t previous = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        out[i] = uint8_t(plain[i] ^ key[i % 16] ^ previous);
        previous = plain[i];
    }
    return out;
}

}  // namespace morvtest
