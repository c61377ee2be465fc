// Return-code texts, the flash sector map and the client's pure helpers.
#include "NXPSerialClass.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "Log.h"

const char* const NXPSerialClass::ERROR_TEXT[NXPSerialClass::MAX_ERROR + 1] = {
    "CMD_SUCCESS",
    "INVALID_COMMAND",
    "SRC_ADDR_ERROR",
    "DST_ADDR_ERROR",
    "SRC_ADDR_NOT_MAPPED",
    "DST_ADDR_NOT_MAPPED",
    "COUNT_ERROR",
    "INVALID_SECTOR",
    "SECTOR_NOT_BLANK",
    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
    "COMPARE_ERROR",
    "BUSY",
    "PARAM_ERROR",
    "ADDR_ERROR",
    "ADDR_NOT_MAPPED",
    "CMD_LOCKED",
    "INVALID_CODE",
    "INVALID_BAUD_RATE",
    "INVALID_STOP_BIT",
    "CODE_READ_PROTECTION_ENABLED",
    "Unknown error",
};

const NXPSector NXP_LPC17XX_sectors[31] = {
    {0x00000, 0x1000, 0},   {0x01000, 0x1000, 1},   {0x02000, 0x1000, 2},
    {0x03000, 0x1000, 3},   {0x04000, 0x1000, 4},   {0x05000, 0x1000, 5},
    {0x06000, 0x1000, 6},   {0x07000, 0x1000, 7},   {0x08000, 0x1000, 8},
    {0x09000, 0x1000, 9},   {0x0A000, 0x1000, 10},  {0x0B000, 0x1000, 11},
    {0x0C000, 0x1000, 12},  {0x0D000, 0x1000, 13},  {0x0E000, 0x1000, 14},
    {0x0F000, 0x1000, 15},  {0x10000, 0x8000, 16},  {0x18000, 0x8000, 17},
    {0x20000, 0x8000, 18},  {0x28000, 0x8000, 19},  {0x30000, 0x8000, 20},
    {0x38000, 0x8000, 21},  {0x40000, 0x8000, 22},  {0x48000, 0x8000, 23},
    {0x50000, 0x8000, 24},  {0x58000, 0x8000, 25},  {0x60000, 0x8000, 26},
    {0x68000, 0x8000, 27},  {0x70000, 0x8000, 28},  {0x78000, 0x8000, 29},
    {0xFFFFFFFFu, 0, 30},
};

const char* NXPSerialClass::GetErrorText(const char* reply)
{
    const char* unknown = ERROR_TEXT[MAX_ERROR];
    if (reply == nullptr)
        return unknown;
    errno = 0;
    char* end = nullptr;
    long code = std::strtol(reply, &end, 0);
    // An empty or non-numeric reply is no code at all, not CMD_SUCCESS.
    if (end == reply || errno != 0)
        return unknown;
    while (*end == '\r' || *end == '\n' || *end == ' ')
        end++;
    if (*end != '\0' || code < 0 || code > MAX_ERROR)
        return unknown;
    return ERROR_TEXT[code];
}

uint32_t NXPSerialClass::CopyLength(uint32_t length)
{
    static const uint32_t kSizes[] = {256, 512, 1024, 4096};
    for (uint32_t size : kSizes) {
        if (length <= size)
            return size;
    }
    Log::log(DEBUG_NXPSerial, "Copy length is too large. %u > 4096.\n", length);
    return length;
}

uint32_t NXPSerialClass::SectorFromAddress(uint32_t address)
{
    for (const NXPSector& s : NXP_LPC17XX_sectors) {
        if (s.size == 0)
            break;
        if (address >= s.start && address - s.start < s.size)
            return s.sector;
    }
    return 30;
}

uint32_t NXPSerialClass::sum(const uint8_t* data, size_t n)
{
    uint32_t total = 0;
    for (size_t i = 0; data != nullptr && i < n; i++)
        total += data[i];
    return total;
}

uint32_t NXPSerialClass::WAIT_TIME_MS(uint32_t bytes, uint32_t baud)
{
    // Not connected yet: assume the slowest line rather than divide by zero.
    uint64_t rate = baud == 0 ? 2400 : baud;
    uint64_t ms = (static_cast<uint64_t>(bytes) * 9000u + 18000u) / rate + 1u;
    return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}
