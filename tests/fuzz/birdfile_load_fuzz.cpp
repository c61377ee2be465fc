// Bundle loading from arbitrary bytes: decompression, block scan, and every
// reader and patcher on whatever loads. The first input byte picks what the
// rest is: an odd byte makes it a payload that is compressed here first, so
// that the block scan sees inputs that zlib's checksum would otherwise stop;
// an even byte makes it the file itself.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <zlib.h>

#include "BirdFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool asPayload = data[0] & 1;
    ++data;
    --size;
    std::vector<unsigned char> file;
    if (asPayload) {
        uLongf length = compressBound(uLong(size));
        file.resize(6 + length);
        const unsigned char header[6] = {'b', 'i', 'r', 'd', 1, 1};
        std::copy(header, header + 6, file.begin());
        if (compress2(file.data() + 6, &length, data, uLong(size), 1) != Z_OK)
            return 0;
        file.resize(6 + length);
    } else {
        file.assign(data, data + size);
    }

    BirdFile bird;
    if (!bird.LoadData(file.data(), file.size()))
        return 0;

    // Derive arguments from the input so the patchers see varied values.
    uint32_t words[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < size && i < 16; ++i)
        words[i / 4] = (words[i / 4] << 8) | data[size - 1 - i];

    bird.GetBuild();
    bird.GetVersion();
    bird.ValidateSerialNumber(bird.GetSerialNumber());
    bird.ValidateModel("");
    bird.ValidateModel("USBHub3p");
    bird.FindSerialNumberOffsets();
    // Every value the enum holds (0-7, its smallest bit-field); a wider one is undefined.
    for (int type = 0; type < 8; ++type) {
        for (const BirdBlock& block : bird.FindBlocks(BirdFile::BLOCK_TYPE(type))) {
            // Every offered block lies inside the payload: touch its ends.
            if (block.length > 0) {
                volatile unsigned char first = block.data[0];
                volatile unsigned char last = block.data[block.length - 1];
                (void)first;
                (void)last;
            }
        }
    }
    bird.ReplaceSerialNumber(words[0]);
    bird.ReplaceVectorChecksum();
    bird.DecodeFirmwareBlocks(words);
    std::vector<unsigned char> needle(data, data + (size < 6 ? size : 6));
    bird.ValidateData(needle.data(), unsigned(needle.size()));

    BirdFile moved;
    moved = std::move(bird);
    moved.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    return 0;
}
