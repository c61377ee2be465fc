// The packet log of a Link: the link's record ring, and the logger thread
// that writes its records to a file as text lines.
#include "LinkImpl.h"

#include <cstdio>

#include "aPacketDebug.h"
#include "aTime.h"

namespace Zorventa {
namespace Morvasset {

namespace {

// The writer's pause when it has nothing to write.
constexpr std::uint32_t kIdleMs = 5;

// "255 < " and five characters a byte, then "\r\n".
constexpr std::size_t kMaxLine = 8 + 5 * aPACKETLOG_MAX_RECORD + 2;

constexpr std::uint8_t kStartMarker[] = {'S', 'T', 'A', 'R', 'T', '\0'};

// One record as its line of the log file; the line's length.
std::size_t formatRecord(std::int32_t direction, const std::uint8_t* data, std::uint32_t length, char* line)
{
    int n = std::snprintf(line, kMaxLine, "%u %s ", static_cast<unsigned>(length),
                          direction == aPACKETLOG_WRITTEN ? ">" : "<");
    std::size_t used = n > 0 ? static_cast<std::size_t>(n) : 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (direction == aPACKETLOG_TEXT) {
            // Text goes out byte for byte, a zero byte too.
            line[used++] = static_cast<char>(data[i]);
        } else {
            n = std::snprintf(line + used, kMaxLine - used, "0x%X ", static_cast<unsigned>(data[i]));
            used += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    line[used++] = '\r';
    line[used++] = '\n';
    return used;
}

}  // namespace

aErr Link::impl::readDebugBuffer(aFile* file, std::int32_t id)
{
    // Room for the longest record, so that no record can block the log.
    std::uint8_t data[aPACKETLOG_MAX_RECORD];
    std::int32_t direction = 0;
    std::uint32_t length = sizeof data;
    const aErr result = aLink_PacketDebug_Read(id, &direction, &length, data);
    if (result != aErrNone) {
        // An empty log, or no link (yet, or any more): wait, never spin.
        aTime_MSSleep(kIdleMs);
        return result;
    }
    char line[kMaxLine];
    const std::size_t size = formatRecord(direction, data, length, line);
    std::size_t written = 0;
    return aFile_Write(file, line, size, &written) == aErrNone ? aErrNone : aErrIO;
}

void Link::impl::destroyPacketLogger()
{
    if (logger)
        aLogger_Destroy(&logger);
}

aErr Link::enablePacketLog(const char* path)
{
    const int id = m_impl->linkID;
    if (id == 0)
        return aErrConfiguration;
    aErr result = aLink_PacketDebug_Enable(id);
    if (result != aErrNone)
        return result;
    if (!m_impl->logger) {
        if (!path)
            return aErrParam;
        m_impl->logger = aLogger_Create(id, &impl::readDebugBuffer, path);
        if (!m_impl->logger)
            return aErrIO;  // the file cannot be opened: nothing would be written
    }
    // After a reconnect the logger reads the new link.
    aLogger_SetId(m_impl->logger, id);
    result = aLogger_Enable(m_impl->logger);
    if (result == aErrNone)
        aLink_PacketDebug_Write(id, aPACKETLOG_TEXT, sizeof kStartMarker, kStartMarker);
    return result;
}

aErr Link::disablePacketLog()
{
    const int id = m_impl->linkID;
    if (id == 0)
        return aErrConfiguration;
    aLink_PacketDebug_Disable(id);
    const aErr result = aLogger_Disable(m_impl->logger);
    if (result == aErrNone && aLogger_WriteFailed(m_impl->logger))
        return aErrIO;
    return result;
}

}  // namespace Morvasset
}  // namespace Zorventa
