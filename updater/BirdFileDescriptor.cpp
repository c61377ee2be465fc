// The descriptor block: four blank-padded 16-character fields (build, version,
// serial number, model name).
#include "BirdFile.h"

#include <cstdlib>
#include <cstring>

#include "Log.h"

namespace {

constexpr size_t kFieldSize = 16;
constexpr size_t kBuildField = 0;
constexpr size_t kVersionField = 16;
constexpr size_t kSerialField = 32;
constexpr size_t kModelField = 48;

// Up to `count` characters of a field as a C text.
std::string fieldText(const unsigned char* field, size_t count)
{
    char text[kFieldSize + 1];
    std::memcpy(text, field, count);
    text[count] = '\0';
    return std::string(text);
}

// strtoul, but a number that does not fit 32 bits is no number at all rather
// than a different one.
unsigned toUnsigned(const std::string& text, int base)
{
    const unsigned long value = std::strtoul(text.c_str(), nullptr, base);
    return value > 0xFFFFFFFFul ? 0u : unsigned(value);
}

}  // namespace

const BirdBlock* BirdFile::descriptor() const
{
    // The scan refuses descriptor blocks shorter than the four fields.
    for (const BirdBlock& block : blocks) {
        if (block.type == BLOCK_DESCRIPTOR)
            return &block;
    }
    return nullptr;
}

unsigned BirdFile::GetBuild()
{
    const BirdBlock* d = descriptor();
    return d ? toUnsigned(fieldText(d->data + kBuildField, kFieldSize - 1), 10) : 0;
}

std::string BirdFile::GetVersion()
{
    const BirdBlock* d = descriptor();
    if (!d)
        return std::string();
    std::string text = fieldText(d->data + kVersionField, kFieldSize - 1);
    const size_t blank = text.find(' ');
    if (blank != std::string::npos)
        text.erase(blank);
    return text;
}

unsigned BirdFile::GetSerialNumber()
{
    const BirdBlock* d = descriptor();
    return d ? toUnsigned(fieldText(d->data + kSerialField, 8), 16) : 0;
}

bool BirdFile::ValidateSerialNumber(unsigned serial)
{
    return serial == GetSerialNumber();
}

bool BirdFile::ValidateModel(const char* model)
{
    const BirdBlock* d = descriptor();
    if (!d || !model)
        return false;
    const unsigned char* field = d->data + kModelField;
    size_t length = kFieldSize;
    while (length > 0 && field[length - 1] == ' ')
        --length;
    const size_t wanted = std::strlen(model);
    if (wanted > length || std::memcmp(field, model, wanted) != 0)
        return false;
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", fieldText(field, length).c_str(),
             model);
    return true;
}
