#include "BirdFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include "BundleBuilder.h"
#include "Log.h"
#include "Patterns.h"
#include "TempDir.h"

using morvtest::appendBE32;
using morvtest::BundleBuilder;
using morvtest::Bytes;

namespace {

// Captures the bundle file's trace lines in memory.
class TraceCapture {
public:
    TraceCapture()
    {
        stream_ = open_memstream(&buffer_, &size_);
        Log::SetOutput(stream_);
        Log::ActivatePackage(DEBUG_BirdFile);
    }
    ~TraceCapture()
    {
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(DEBUG_BirdFile);
        std::fclose(stream_);
        std::free(buffer_);
    }
    std::string text()
    {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    size_t size_ = 0;
};

using morvtest::pattern;

Bytes imageOf(const BirdBlock& b)
{
    return Bytes(b.data + 4, b.data + b.length);
}

bool loadBytes(BirdFile& bird, const Bytes& file)
{
    return bird.LoadData(file.data(), file.size());
}

class BirdFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir_.sub(name);
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            if (!bytes.empty()) {
                EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            }
            EXPECT_EQ(std::fclose(f), 0);
        }
        return path;
    }

    morvtest::TempDir dir_;
};

// ---------------------------------------------------------------- valid bundles

struct BlockSpec {
    uint8_t type;
    uint8_t flags;
    uint32_t address;  // loader and firmware only
    size_t size;       // image bytes for loader/firmware, data bytes otherwise
};

struct ValidCase {
    const char* name;
    std::vector<BlockSpec> blocks;
};

class ValidBundleTest : public BirdFileTest, public ::testing::WithParamInterface<ValidCase> {};

TEST_P(ValidBundleTest, LoadsEveryBlockInFileOrder)
{
    const ValidCase& c = GetParam();
    BundleBuilder builder;
    std::vector<Bytes> datas;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
        const BlockSpec& s = c.blocks[i];
        Bytes data = pattern(s.size, uint8_t(i + 3));
        if (s.type == morvtest::kBlockLoader || s.type == morvtest::kBlockFirmware) {
            Bytes withAddress;
            appendBE32(withAddress, s.address);
            withAddress.insert(withAddress.end(), data.begin(), data.end());
            data = withAddress;
        }
        builder.block(s.type, s.flags, data);
        datas.push_back(data);
    }
    builder.checksum(0xC0FFEE11);
    TraceCapture trace;
    const std::string path = write("bundle.bird", builder.file());
    BirdFile bird(path.c_str());

    EXPECT_EQ(bird.blockCount, c.blocks.size());
    EXPECT_EQ(bird.signature, 0x62697264u);
    EXPECT_EQ(bird.version, 0x0101u);
    EXPECT_EQ(bird.checksum, 0xC0FFEE11u);
    EXPECT_EQ(trace.text().find("mismatch"), std::string::npos) << trace.text();

    // Each type's records come back in file order with their own fields.
    for (uint8_t type = 0; type < 32; ++type) {
        std::vector<BirdBlock> found = bird.FindBlocks(BirdFile::BLOCK_TYPE(type));
        size_t k = 0;
        for (size_t i = 0; i < c.blocks.size(); ++i) {
            const BlockSpec& s = c.blocks[i];
            if (s.type != type)
                continue;
            ASSERT_LT(k, found.size());
            const BirdBlock& b = found[k++];
            EXPECT_EQ(b.type, s.type);
            EXPECT_EQ(b.flags, s.flags);
            EXPECT_EQ(b.length, datas[i].size());
            const bool addressed = type == morvtest::kBlockLoader || type == morvtest::kBlockFirmware;
            EXPECT_EQ(b.address, addressed ? s.address : 0u);
            EXPECT_EQ(Bytes(b.data, b.data + b.length), datas[i]);
        }
        EXPECT_EQ(k, found.size()) << "type " << int(type);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ValidBundleTest,
    ::testing::Values(
        ValidCase{"LoaderAndFirmware", {{0, 0, 0x20000000, 300}, {1, 0, 0x8000, 1000}}},
        ValidCase{"EveryTypeAndFlag",
                  {{0, 7, 0x20001000, 16},
                   {1, 5, 0, 64},
                   {2, 1, 0, 8},
                   {3, 2, 0, 0},
                   {4, 3, 0, 64},
                   {5, 4, 0, 4},
                   {1, 6, 0x10000, 0}}},
        ValidCase{"SeveralFirmwareBlocks", {{1, 0, 0x0, 4096}, {1, 0, 0x8000, 100}, {1, 1, 0x4000, 1}}},
        ValidCase{"UnknownTypesKept", {{31, 7, 0, 3}, {6, 0, 0, 0}}},
        ValidCase{"NoBlocks", {}}),
    [](const ::testing::TestParamInfo<ValidCase>& info) { return std::string(info.param.name); });

TEST_F(BirdFileTest, DeclaredCountDifferentFromBlocksStillLoadsAndIsTraced)
{
    TraceCapture trace;
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().loader(0, pattern(8)).firmware(0, pattern(8)).declaredCount(3).file()));
    EXPECT_EQ(bird.blockCount, 2u);
    EXPECT_NE(trace.text().find("BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"),
              std::string::npos)
        << trace.text();
}

TEST_F(BirdFileTest, OtherSignatureIsNotTestedByLoad)
{
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().signature("BIRD").version(0, 0).firmware(0, pattern(4)).file()));
    EXPECT_EQ(bird.signature, 0x42495244u);
    EXPECT_EQ(bird.version, 0u);
    EXPECT_EQ(bird.blockCount, 1u);
}

TEST_F(BirdFileTest, PayloadCompressingFarBetterThanEightToOneLoads)
{
    const Bytes zeros(1 << 20, 0);
    const Bytes file = BundleBuilder().firmware(0x1000, zeros).file();
    ASSERT_LT(file.size() * 8, zeros.size());
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, file));
    ASSERT_EQ(bird.blockCount, 1u);
    EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]), zeros);
}

TEST_F(BirdFileTest, PathConstructorThrowsWhenTheFileDoesNotLoad)
{
    const std::string missing = dir_.sub("missing.bird");
    try {
        BirdFile bird(missing.c_str());
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to load bird data");
    }
    const std::string garbage = write("garbage.bird", Bytes{'b', 'i', 'r', 'd', 1, 1, 0x78, 0x9c, 1, 2, 3});
    EXPECT_THROW(BirdFile(garbage.c_str()), std::runtime_error);
    EXPECT_THROW(BirdFile(nullptr), std::runtime_error);
}

TEST_F(BirdFileTest, DefaultConstructedLoadsByPathAndReloadDropsOldBlocks)
{
    BirdFile bird;
    EXPECT_EQ(bird.blockCount, 0u);
    EXPECT_TRUE(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty());
    bird.path = write("a.bird", BundleBuilder().firmware(0, pattern(10)).serialOffsets(4, 0).file());
    ASSERT_TRUE(bird.Load());
    EXPECT_TRUE(bird.hasOffsets);
    bird.path = write("b.bird", BundleBuilder().loader(0, pattern(10)).file());
    ASSERT_TRUE(bird.Load());
    EXPECT_EQ(bird.blockCount, 1u);
    EXPECT_FALSE(bird.hasOffsets);
    EXPECT_EQ(bird.serialOffset, 0u);
    EXPECT_TRUE(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty());
}

TEST_F(BirdFileTest, MoveKeepsBlockDataValidAndEmptiesTheSource)
{
    const Bytes image = pattern(100);
    BirdFile a;
    ASSERT_TRUE(loadBytes(a, BundleBuilder().firmware(0x200, image).serialOffsets(0x210, 0).file()));
    const unsigned char* before = a.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0].data;
    BirdFile b;
    b = std::move(a);
    BirdFile c(std::move(b));
    ASSERT_EQ(c.blockCount, 2u);
    EXPECT_TRUE(c.hasOffsets);
    EXPECT_EQ(c.serialOffset, 0x210u);
    BirdBlock fw = c.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0];
    EXPECT_EQ(fw.data, before);
    EXPECT_EQ(imageOf(fw), image);
    EXPECT_TRUE(c.ReplaceSerialNumber(0xAABBCCDD));
    EXPECT_EQ(a.blockCount, 0u);
    EXPECT_EQ(b.blockCount, 0u);
    EXPECT_FALSE(b.hasOffsets);
    EXPECT_TRUE(b.FindBlocks(BirdFile::BLOCK_FIRMWARE).empty());
}

// ---------------------------------------------------------------- VerifyFile

TEST_F(BirdFileTest, VerifyFileChecksSignatureAndNonZeroVersionBytes)
{
    struct Case {
        const char* name;
        Bytes bytes;
        bool valid;
    } cases[] = {
        {"valid", BundleBuilder().file(), true},
        {"six header bytes only", Bytes{'b', 'i', 'r', 'd', 2, 9}, true},
        {"five bytes", Bytes{'b', 'i', 'r', 'd', 1}, false},
        {"empty", Bytes{}, false},
        {"upper case", Bytes{'B', 'I', 'R', 'D', 1, 1, 0}, false},
        {"second version byte 0", Bytes{'b', 'i', 'r', 'd', 1, 0, 0}, false},
        {"first version byte 0", Bytes{'b', 'i', 'r', 'd', 0, 1, 0}, false},
    };
    for (const Case& c : cases) {
        const std::string path = write("verify.bird", c.bytes);
        EXPECT_EQ(BirdFile::VerifyFile(path.c_str()), c.valid) << c.name;
    }
    TraceCapture trace;
    const std::string missing = dir_.sub("nope.bird");
    EXPECT_FALSE(BirdFile::VerifyFile(missing.c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(dir_.path().c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(nullptr));
    EXPECT_NE(trace.text().find("BIRDFILE: Error - cannot open bird file: '" + missing + "'\n"), std::string::npos);
}

// ---------------------------------------------------------------- hostile bundles

Bytes payloadWith(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes be32(uint32_t v)
{
    Bytes out;
    appendBE32(out, v);
    return out;
}

Bytes blockHeader(uint8_t tag, uint32_t length)
{
    Bytes out{tag};
    appendBE32(out, length);
    return out;
}

Bytes deflateWithoutChecksum(const Bytes& body)
{
    Bytes z = BundleBuilder::compress(body);
    z[z.size() - 1] ^= 0xFF;  // adler-32 no longer matches
    return z;
}

struct HostileCase {
    const char* name;
    Bytes file;
};

std::vector<HostileCase> hostileCases()
{
    const Bytes okBlock = payloadWith({blockHeader(1, 8), be32(0x100), be32(0xAABBCCDD)});
    auto file = [](const Bytes& payload) { return BundleBuilder::fileFor(payload); };
    auto shortBlock = [&](uint8_t type, size_t n) {
        return file(payloadWith({be32(1), blockHeader(type, uint32_t(n)), Bytes(n, 0x11), be32(0)}));
    };
    const Bytes good = file(payloadWith({be32(1), okBlock, be32(0)}));
    Bytes truncatedStream = good;
    truncatedStream.resize(truncatedStream.size() - 5);
    Bytes rawDeflate = {'b', 'i', 'r', 'd', 1, 1};
    {
        const Bytes z = BundleBuilder::compress(payloadWith({be32(0), be32(0)}));
        rawDeflate.insert(rawDeflate.end(), z.begin() + 2, z.end());  // no zlib header
    }
    Bytes badAdler = {'b', 'i', 'r', 'd', 1, 1};
    {
        const Bytes z = deflateWithoutChecksum(payloadWith({be32(1), okBlock, be32(0)}));
        badAdler.insert(badAdler.end(), z.begin(), z.end());
    }
    Bytes manyBlocks = be32(BirdFile::MAX_BLOCKS + 1);
    for (uint32_t i = 0; i <= BirdFile::MAX_BLOCKS; ++i) {
        const Bytes h = blockHeader(3, 0);
        manyBlocks.insert(manyBlocks.end(), h.begin(), h.end());
    }
    appendBE32(manyBlocks, 0);

    return {
        {"empty file", Bytes{}},
        {"header only", Bytes{'b', 'i', 'r', 'd', 1, 1}},
        {"bad zlib", Bytes{'b', 'i', 'r', 'd', 1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A}},
        {"truncated zlib stream", truncatedStream},
        {"raw deflate without zlib header", rawDeflate},
        {"corrupt adler-32", badAdler},
        {"empty payload", file(Bytes{})},
        {"payload of 3 bytes", file(Bytes{0, 0, 1})},
        {"count but no checksum", file(be32(0))},
        {"count and 3 checksum bytes", file(payloadWith({be32(0), Bytes{1, 2, 3}}))},
        {"header cut before the checksum", file(payloadWith({be32(1), Bytes{1, 0, 0}, be32(0)}))},
        {"length past the end", file(payloadWith({be32(1), blockHeader(1, 9), be32(0), be32(0)}))},
        {"length into the checksum", file(payloadWith({be32(1), blockHeader(1, 10), be32(0), be32(0), be32(0)}))},
        {"length 0xFFFFFFFF", file(payloadWith({be32(1), blockHeader(1, 0xFFFFFFFF), be32(0), be32(0)}))},
        {"length 0x7FFFFFFF after a good block",
         file(payloadWith({be32(2), okBlock, blockHeader(0, 0x7FFFFFFF), be32(0), be32(0)}))},
        {"no checksum after the blocks", file(payloadWith({be32(1), okBlock}))},
        {"short loader", shortBlock(0, 3)},
        {"short firmware", shortBlock(1, 0)},
        {"short offsets", shortBlock(2, 7)},
        {"short descriptor", shortBlock(4, 63)},
        {"short jump address", shortBlock(5, 3)},
        {"short firmware with flags", shortBlock(0xE1, 2)},
        {"too many blocks", file(manyBlocks)},
    };
}

TEST_F(BirdFileTest, HostileBundlesAreRefusedAndOfferNoBlock)
{
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        BirdFile bird;
        EXPECT_FALSE(loadBytes(bird, c.file));
        EXPECT_EQ(bird.blockCount, 0u);
        EXPECT_FALSE(bird.hasOffsets);
        for (int type = 0; type < 32; ++type)
            EXPECT_TRUE(bird.FindBlocks(BirdFile::BLOCK_TYPE(type)).empty());
        EXPECT_FALSE(bird.ReplaceSerialNumber(1));
        EXPECT_EQ(bird.GetBuild(), 0u);
        EXPECT_EQ(bird.GetVersion(), "");
        EXPECT_FALSE(bird.ValidateModel(""));
    }
}

TEST_F(BirdFileTest, HostileBundleFromDiskThrowsFromTheConstructor)
{
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = write("hostile.bird", c.file);
        EXPECT_THROW(BirdFile(path.c_str()), std::runtime_error);
    }
}

TEST_F(BirdFileTest, ZlibErrorIsTracedWithZlibsCode)
{
    TraceCapture trace;
    BirdFile bird;
    EXPECT_FALSE(loadBytes(bird, Bytes{'b', 'i', 'r', 'd', 1, 1, 0x12, 0x34, 0x56}));
    EXPECT_NE(trace.text().find("BIRDFILE: Error (-3) decompressing bird file.\n"), std::string::npos)
        << trace.text();
}

// A stream of `total` zero bytes, compressed piecewise so the test never holds them.
Bytes compressedZeros(uint64_t total)
{
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    EXPECT_EQ(deflateInit(&zs, 1), Z_OK);
    const Bytes chunk(1 << 20, 0);
    Bytes out;
    unsigned char buffer[1 << 16];
    uint64_t left = total;
    int flush = Z_NO_FLUSH;
    do {
        if (zs.avail_in == 0 && left > 0) {
            const size_t n = left < chunk.size() ? size_t(left) : chunk.size();
            zs.next_in = const_cast<Bytef*>(chunk.data());
            zs.avail_in = uInt(n);
            left -= n;
        }
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        deflate(&zs, flush);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    } while (!(flush == Z_FINISH && zs.avail_out != 0));
    deflateEnd(&zs);
    return out;
}

TEST_F(BirdFileTest, PayloadBeyondTheLimitIsRefused)
{
    Bytes file = {'b', 'i', 'r', 'd', 1, 1};
    const Bytes z = compressedZeros(BirdFile::MAX_PAYLOAD_SIZE + 1);
    file.insert(file.end(), z.begin(), z.end());
    TraceCapture trace;
    BirdFile bird;
    EXPECT_FALSE(loadBytes(bird, file));
    EXPECT_NE(trace.text().find("inflates to more than"), std::string::npos) << trace.text();
}

TEST_F(BirdFileTest, FileTooLargeToLoadIsRefused)
{
    const std::string path = dir_.sub("huge.bird");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "bird\1\1", 6), 6);
    ASSERT_EQ(::ftruncate(fd, off_t(BirdFile::MAX_FILE_SIZE + 1)), 0);  // sparse
    ::close(fd);
    TraceCapture trace;
    BirdFile bird;
    bird.path = path;
    EXPECT_FALSE(bird.Load());
    EXPECT_NE(trace.text().find("is too large to load"), std::string::npos) << trace.text();
    EXPECT_TRUE(BirdFile::VerifyFile(path.c_str()));
}

TEST_F(BirdFileTest, LoadTracesTheMissingFile)
{
    TraceCapture trace;
    BirdFile bird;
    bird.path = dir_.sub("absent.bird");
    EXPECT_FALSE(bird.Load());
    EXPECT_NE(trace.text().find("BIRDFILE: BIRD file not found [" + bird.path + "]\n"), std::string::npos);
}

// ---------------------------------------------------------------- serial number

struct FirmwareSpec {
    uint32_t address;
    size_t size;
};

struct SerialCase {
    const char* name;
    std::vector<FirmwareSpec> firmware;
    uint32_t serialOffset;
    uint32_t descriptorOffset;
    bool result;
    // Expected changes: (block, image position, bytes written there).
    std::vector<std::tuple<size_t, size_t, Bytes>> writes;
};

const Bytes kSerialLE = {0x78, 0x56, 0x34, 0x12};
const Bytes kSerialUtf16 = {'1', 0, '2', 0, '3', 0, '4', 0, '5', 0, '6', 0, '7', 0, '8', 0};

std::vector<SerialCase> serialCases()
{
    return {
        {"serial word in the image", {{0x1000, 0x100}}, 0x1010, 0, true, {{0, 0x10, kSerialLE}}},
        {"serial word ends at the image end", {{0x1000, 0x100}}, 0x10FC, 0, true, {{0, 0xFC, kSerialLE}}},
        {"serial word ends beyond the image", {{0x1000, 0x100}}, 0x10FE, 0, false, {}},
        {"serial below the image", {{0x1000, 0x100}}, 0x0FFF, 0, false, {}},
        {"serial word wraps past 4 GiB", {{0xFFFFFF00, 0x10}}, 0xFFFFFFFE, 0, false, {}},
        {"serial in the last word below 4 GiB", {{0xFFFFFF00, 0x100}}, 0xFFFFFFFC, 0, true, {{0, 0xFC, kSerialLE}}},
        {"only the block holding the address", {{0x0, 0x1000}, {0x8000, 0x1000}}, 0x100, 0, true,
         {{0, 0x100, kSerialLE}}},
        {"every block holding the address", {{0x0, 0x1000}, {0x0, 0x200}}, 0x100, 0, true,
         {{0, 0x100, kSerialLE}, {1, 0x100, kSerialLE}}},
        {"descriptor ends at the image end", {{0x1000, 0x100}}, 0, 0x10F0, true, {{0, 0xF0, kSerialUtf16}}},
        {"descriptor one byte beyond", {{0x1000, 0x100}}, 0, 0x10F1, false, {}},
        {"descriptor wraps past 4 GiB", {{0xFFFFFF00, 0x20}}, 0, 0xFFFFFFF8, false, {}},
        {"both offsets", {{0x1000, 0x100}}, 0x1000, 0x1020, true, {{0, 0, kSerialLE}, {0, 0x20, kSerialUtf16}}},
        {"both offsets in different blocks", {{0x1000, 0x100}, {0x4000, 0x100}}, 0x1004, 0x4000, true,
         {{0, 4, kSerialLE}, {1, 0, kSerialUtf16}}},
        {"descriptor missed though serial patched", {{0x1000, 0x100}}, 0x1000, 0x2000, false, {{0, 0, kSerialLE}}},
        {"no firmware block", {}, 0x1000, 0, false, {}},
        {"no offsets", {{0x1000, 0x100}}, 0, 0, false, {}},
        {"empty image", {{0x1000, 0}}, 0x1000, 0, false, {}},
    };
}

TEST_F(BirdFileTest, ReplaceSerialNumberPatchesOnlyInsideImages)
{
    for (const SerialCase& c : serialCases()) {
        SCOPED_TRACE(c.name);
        BundleBuilder builder;
        std::vector<Bytes> images;
        builder.loader(0x1000, pattern(0x100, 9));
        for (size_t i = 0; i < c.firmware.size(); ++i) {
            images.push_back(pattern(c.firmware[i].size, uint8_t(0x40 + i)));
            builder.firmware(c.firmware[i].address, images.back());
        }
        builder.serialOffsets(c.serialOffset, c.descriptorOffset);
        BirdFile bird;
        ASSERT_TRUE(loadBytes(bird, builder.file()));
        EXPECT_TRUE(bird.hasOffsets);
        EXPECT_EQ(bird.ReplaceSerialNumber(0x12345678), c.result);

        std::vector<Bytes> expected = images;
        for (const auto& [block, at, bytes] : c.writes) {
            for (size_t k = 0; k < bytes.size(); ++k) {
                // The descriptor text changes only the low byte of each character.
                if (bytes.size() == 16) {
                    if (k % 2 == 0)
                        expected[block][at + k] = bytes[k];
                } else {
                    expected[block][at + k] = bytes[k];
                }
            }
        }
        std::vector<BirdBlock> fw = bird.FindBlocks(BirdFile::BLOCK_FIRMWARE);
        ASSERT_EQ(fw.size(), images.size());
        for (size_t i = 0; i < fw.size(); ++i) {
            EXPECT_EQ(fw[i].address, c.firmware[i].address);
            EXPECT_EQ(imageOf(fw[i]), expected[i]) << "block " << i;
        }
        EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_LOADER)[0]), pattern(0x100, 9));
    }
}

TEST_F(BirdFileTest, ReplaceSerialNumberTracesTheOldAndNewWord)
{
    Bytes image(0x20, 0);
    image[8] = 0xEF;
    image[9] = 0xBE;
    image[10] = 0xAD;
    image[11] = 0xDE;
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().firmware(0x100, image).serialOffsets(0x108, 0).file()));
    TraceCapture trace;
    ASSERT_TRUE(bird.ReplaceSerialNumber(0xA));
    EXPECT_NE(trace.text().find("BIRDFILE: updating serial number from DEADBEEF ==> 0000000A\n"),
              std::string::npos)
        << trace.text();
}

TEST_F(BirdFileTest, DescriptorTextIsUpperCaseHex)
{
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().firmware(0x10, Bytes(16, 0xAA)).serialOffsets(0, 0x10).file()));
    ASSERT_TRUE(bird.ReplaceSerialNumber(0x00ABCDEF));
    const Bytes expected = {'0', 0xAA, '0', 0xAA, 'A', 0xAA, 'B', 0xAA, 'C', 0xAA, 'D', 0xAA, 'E', 0xAA, 'F', 0xAA};
    EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]), expected);
}

TEST_F(BirdFileTest, OffsetsComeFromTheFirstOffsetsBlock)
{
    BirdFile bird;
    ASSERT_TRUE(loadBytes(
        bird, BundleBuilder().serialOffsets(0x11, 0x22).block(2, 0, pattern(12)).serialOffsets(0x33, 0x44).file()));
    EXPECT_TRUE(bird.hasOffsets);
    EXPECT_EQ(bird.serialOffset, 0x11u);
    EXPECT_EQ(bird.descriptorOffset, 0x22u);
    EXPECT_TRUE(bird.FindSerialNumberOffsets());
}

// ---------------------------------------------------------------- descrambling

TEST_F(BirdFileTest, DescramblingInvertsTheScrambler)
{
    const uint32_t fingerprints[][4] = {
        {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10},
        {0xDEADBEEF, 0x00000000, 0xFFFFFFFF, 0x8000A5A5},
        {0, 0, 0, 0},
    };
    const size_t sizes[] = {0, 1, 15, 16, 17, 1000};
    for (const auto& fp : fingerprints) {
        BundleBuilder builder;
        std::vector<Bytes> plains;
        const Bytes loaderImage = pattern(40, 77);
        builder.loader(0x20000000, loaderImage);
        for (size_t s : sizes) {
            plains.push_back(pattern(s, uint8_t(s)));
            builder.firmware(0x1000 + uint32_t(s), morvtest::scrambleImage(plains.back(), fp));
        }
        BirdFile bird;
        ASSERT_TRUE(loadBytes(bird, builder.file()));
        EXPECT_TRUE(bird.DecodeFirmwareBlocks(fp));
        std::vector<BirdBlock> fw = bird.FindBlocks(BirdFile::BLOCK_FIRMWARE);
        ASSERT_EQ(fw.size(), plains.size());
        for (size_t i = 0; i < fw.size(); ++i) {
            EXPECT_EQ(fw[i].address, 0x1000 + sizes[i]);
            EXPECT_EQ(Bytes(fw[i].data, fw[i].data + 4), be32(0x1000 + uint32_t(sizes[i])));
            EXPECT_EQ(imageOf(fw[i]), plains[i]) << "size " << sizes[i];
        }
        EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_LOADER)[0]), loaderImage);
    }
}

TEST_F(BirdFileTest, DescramblingKeyIsMostSignificantByteFirstAndRepeatsEvery16)
{
    const uint32_t fp[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
    // Scrambled zeros: each plain byte is key[i % 16] XOR the plain byte before it.
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().firmware(0, Bytes(17, 0)).file()));
    ASSERT_TRUE(bird.DecodeFirmwareBlocks(fp));
    const Bytes plain = imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]);
    const Bytes expected = {0x01, 0x03, 0x00, 0x04, 0x01, 0x07, 0x00, 0x08, 0x01,
                            0x0B, 0x00, 0x0C, 0x01, 0x0F, 0x00, 0x10, 0x11};
    EXPECT_EQ(plain, expected);
    // Not its own inverse: a second pass changes the image again.
    ASSERT_TRUE(bird.DecodeFirmwareBlocks(fp));
    EXPECT_NE(imageOf(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0]), plain);
    EXPECT_FALSE(bird.DecodeFirmwareBlocks(nullptr));
}

// ---------------------------------------------------------------- vector checksum

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

TEST_F(BirdFileTest, VectorChecksumMakesTheFirstEightWordsSumToZero)
{
    const Bytes vectors = pattern(64, 0xF1);
    const Bytes shortImage = pattern(31, 3);
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder()
                                    .firmware(0, vectors)
                                    .firmware(0x100, vectors)
                                    .firmware(0, shortImage)
                                    .loader(0, vectors)
                                    .file()));
    TraceCapture trace;
    ASSERT_TRUE(bird.ReplaceVectorChecksum());
    std::vector<BirdBlock> fw = bird.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    const unsigned char* image = fw[0].data + 4;
    uint32_t sum = 0;
    for (int w = 0; w < 8; ++w)
        sum += le32(image + 4 * w);
    EXPECT_EQ(sum, 0u);
    Bytes expected = vectors;
    std::memcpy(expected.data() + 28, image + 28, 4);
    EXPECT_EQ(imageOf(fw[0]), expected);  // only word 7 changed
    EXPECT_EQ(imageOf(fw[1]), vectors);
    EXPECT_EQ(imageOf(fw[2]), shortImage);
    EXPECT_EQ(imageOf(bird.FindBlocks(BirdFile::BLOCK_LOADER)[0]), vectors);
    char line[96];
    std::snprintf(line, sizeof line, "BIRDFILE: updating vector checksum from %08X ==> %08X\n",
                  le32(vectors.data() + 28), le32(image + 28));
    EXPECT_NE(trace.text().find(line), std::string::npos) << trace.text();
}

// ---------------------------------------------------------------- descriptor

TEST_F(BirdFileTest, DescriptorFields)
{
    struct Case {
        const char* name;
        std::string build, version, serial, model;
        unsigned wantBuild;
        std::string wantVersion;
        unsigned wantSerial;
    } cases[] = {
        {"plain", "1234", "2.11.3", "40F5849A", "USBHub3p", 1234, "2.11.3", 0x40F5849A},
        {"16-digit build ignores the 16th digit", "0000000000001234", "1.0", "0", "", 123, "1.0", 0},
        {"15-digit build too large for 32 bits", "999999999999999", "1.0", "1", "", 0, "1.0", 1},
        {"16th build digit only", "0000000000000004", "", "", "", 0, "", 0},
        {"largest 32-bit build", "000004294967295", "v", "FFFFFFFF", "", 4294967295u, "v", 0xFFFFFFFF},
        {"build just beyond 32 bits", "000004294967296", "v", "-0000001", "", 0, "v", 0},
        {"version cut at first blank", "7", "2.1 beta", "00000010", "", 7, "2.1", 0x10},
        {"long version keeps 15 characters", "7", "1234567890ABCDEF", "abcdef01", "", 7, "1234567890ABCDE", 0xABCDEF01},
        {"serial uses only 8 characters", "7", "1", "123456789", "", 7, "1", 0x12345678},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BirdFile bird;
        ASSERT_TRUE(loadBytes(bird, BundleBuilder().descriptor(c.build, c.version, c.serial, c.model).file()));
        EXPECT_EQ(bird.GetBuild(), c.wantBuild);
        EXPECT_EQ(bird.GetVersion(), c.wantVersion);
        EXPECT_EQ(bird.GetSerialNumber(), c.wantSerial);
        EXPECT_TRUE(bird.ValidateSerialNumber(c.wantSerial));
        EXPECT_FALSE(bird.ValidateSerialNumber(c.wantSerial + 1));
    }
}

TEST_F(BirdFileTest, ValidateModelMatchesAPrefixOfTheTrimmedField)
{
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder()
                                    .descriptor("1", "1", "1", "USBHub3p")
                                    .descriptor("2", "2", "2", "Other")
                                    .file()));
    struct Case {
        const char* name;
        bool match;
    } cases[] = {
        {"USBHub3p", true}, {"USBHub", true},   {"", true},          {"USBHub3p ", false},
        {"USBHub3c", false}, {"usbhub3p", false}, {"USBHub3px", false}, {"Other", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bird.ValidateModel(c.name), c.match) << "[" << c.name << "]";
    EXPECT_FALSE(bird.ValidateModel(nullptr));

    BirdFile full;
    ASSERT_TRUE(loadBytes(full, BundleBuilder().descriptor("1", "1", "1", "ABCDEFGHIJKLMNOP").file()));
    EXPECT_TRUE(full.ValidateModel("ABCDEFGHIJKLMNOP"));
    EXPECT_FALSE(full.ValidateModel("ABCDEFGHIJKLMNOPQ"));

    TraceCapture trace;
    EXPECT_TRUE(bird.ValidateModel("USB"));
    EXPECT_EQ(trace.text(), "Model matches model number ([USBHub3p] == [USB])\n");
}

TEST_F(BirdFileTest, NoDescriptorGivesEmptyValues)
{
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().firmware(0, pattern(4)).file()));
    EXPECT_EQ(bird.GetBuild(), 0u);
    EXPECT_EQ(bird.GetVersion(), "");
    EXPECT_EQ(bird.GetSerialNumber(), 0u);
    EXPECT_FALSE(bird.ValidateModel(""));
    EXPECT_FALSE(bird.ReplaceSerialNumber(5));
}

// ---------------------------------------------------------------- data search and dump

TEST_F(BirdFileTest, ValidateDataFindsEveryStartPositionIncludingTheLast)
{
    Bytes image = pattern(60, 200);
    const Bytes needle = {0xCA, 0xFE, 0xF0, 0x0D};
    std::copy(needle.begin(), needle.end(), image.begin() + 10);
    std::copy(needle.begin(), needle.end(), image.end() - 4);  // ends at the block's last byte
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().loader(0, needle).firmware(0xCAFEF00D, image).file()));
    TraceCapture trace;
    Bytes n = needle;
    EXPECT_TRUE(bird.ValidateData(n.data(), unsigned(n.size())));
    EXPECT_EQ(trace.text(), "BIRDFILE: looking for data pattern in []\nFound data at 0\nFound data at 14\n"
                            "Found data at 60\n\n");

    Bytes whole(64);
    std::memcpy(whole.data(), bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0].data, 64);
    EXPECT_TRUE(bird.ValidateData(whole.data(), 64));
    whole.push_back(0);
    EXPECT_FALSE(bird.ValidateData(whole.data(), 65));
    Bytes absent = {0x01, 0x02, 0x03, 0x04, 0x05};
    EXPECT_FALSE(bird.ValidateData(absent.data(), 5));
    EXPECT_FALSE(bird.ValidateData(absent.data(), 0));
    EXPECT_FALSE(bird.ValidateData(nullptr, 3));
}

TEST_F(BirdFileTest, DumpBlocksPrintsHexAndText)
{
    Bytes data(55);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t('A' + i % 26);
    data[1] = 0x01;
    BirdFile bird;
    ASSERT_TRUE(loadBytes(bird, BundleBuilder().block(3, 0, data).block(3, 0, Bytes{'x'}).file()));
    bird.path = "dump.bird";
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(bird.DumpBlocks(BirdFile::BLOCK_TYPE(3)));
    const std::string out = ::testing::internal::GetCapturedStdout();

    std::string want = "BIRDFILE: BLOCK DUMP [dump.bird]\n \r\n000000: ";
    std::string text;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i == 50) {
            want += " " + text + "\r\n000050: ";
            text.clear();
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", data[i]);
        want += hex;
        text += data[i] == 0x01 ? ' ' : char(data[i]);
    }
    want += " " + text + "\n";
    want += " \r\n000000: 78  x\n";
    want += "\n";
    EXPECT_EQ(out, want);
}

}  // namespace
