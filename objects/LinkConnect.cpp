// Connecting a Link: link creation by transport, discovery with fallback,
// sharing another Link's link, waiting for the running state, release.
#include "LinkImpl.h"

#include <cstring>

#include "aDebug.h"
#include "aDiscovery.h"
#include "aLink.h"
#include "aTime.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint16_t kConnectRounds = 200;
constexpr std::uint32_t kRoundMs = 10;

// Fallback runs only between a direct USB link and a network-client link.
bool _fallbackHelper(aErr result, const aEtherConfig& config, linkType type)
{
    return (result == aErrNotFound || result == aErrInitialization || result == aErrConnection) &&
           config.fallback && (type == linkTypeUSB || type == linkTypeAEther);
}

struct ModelSearch {
    linkSpec* spec;  // the wanted type and model on entry; the module found on exit
    linkType type;
    std::int32_t model;  // 0: any
    bool found;
};

std::uint8_t cbModelCallback(const linkSpec* spec, bool* accepted, void* reference)
{
    auto* search = static_cast<ModelSearch*>(reference);
    if (!spec || !search || spec->type != search->type)
        return 1;
    if (search->model != 0 && spec->model != search->model)
        return 1;
    std::memcpy(search->spec, spec, sizeof(linkSpec));
    search->found = true;
    if (accepted)
        *accepted = true;
    return 0;
}

}  // namespace

aErr Link::impl::waitForLink(std::uint16_t rounds) const
{
    std::int32_t status = aLink_GetStatus(linkID);
    switch (status) {
    case linkStatusRunning:
    case linkStatusPacketError: return aErrNone;  // running; it lost received packets
    case linkStatusStopping: return aErrBusy;
    case linkStatusNoStream:
    case linkStatusIOError: return aErrConnection;
    case linkStatusStopped:
    case linkStatusStarting:
    case linkStatusSyncing: break;
    default: return aErrDuplicate;
    }
    auto runs = [](std::int32_t s) { return s == linkStatusRunning || s == linkStatusPacketError; };
    for (std::uint16_t round = 0; !runs(status) && round < rounds; ++round) {
        aTime_MSSleep(kRoundMs);
        status = aLink_GetStatus(linkID);
    }
    return runs(status) ? aErrNone : aErrConnection;
}

aErr Link::impl::linkCreateHelper(const linkSpec& s, int existingID, int* created)
{
    *created = 0;
    std::lock_guard<std::mutex> serial(linkCreateHelperSerializer);
    int id = 0;
    switch (s.type) {
    case linkTypeUSB:
        if (config.enabled)
            id = linkCreateServer(s.serialNumber, &config.port, &config.networkInterface, config.localOnly);
        else
            id = aLink_CreateUSB(s.serialNumber);
        break;
    case linkTypeTCPIP: id = aLink_CreateTCPIP(s.ipAddress, static_cast<std::uint16_t>(s.port & 0xFFFF)); break;
    case linkTypeSerial: {
        // The path must end inside its field.
        if (strnlen(s.path, aLINKSPEC_PATH_SIZE) >= aLINKSPEC_PATH_SIZE)
            return aErrConfiguration;
        char path[aLINKSPEC_PATH_SIZE];
        std::memcpy(path, s.path, aLINKSPEC_PATH_SIZE);
        id = aLink_CreateSerial(s.serialNumber, path, static_cast<int>(s.baudRate));
        break;
    }
    case linkTypeAEther:
        if (!config.enabled)
            return aErrConfiguration;
        id = linkCreateClient(s.ipAddress, static_cast<std::uint16_t>(s.port & 0xFFFF), existingID);
        break;
    default: return aErrMode;
    }
    *created = id;
    return aErrNone;
}

aErr Link::impl::connectHelper(int existingID)
{
    if (!spec)
        return aErrConfiguration;
    int created = 0;
    const aErr result = linkCreateHelper(*spec, existingID, &created);
    if (result != aErrNone)
        return result;
    if (created == 0)
        return aErrConnection;
    linkID = created;
    return waitForLink(kConnectRounds);
}

aErr Link::connect()
{
    if (m_impl->linkID != 0)
        return aErrConnection;
    return m_impl->connectHelper(0);
}

aErr Link::impl::discoveryAndConnectHelper(linkType type, std::uint32_t serialNumber, std::uint8_t model)
{
    linkSpec* found = nullptr;
    if (serialNumber != 0) {
        found = aDiscovery_FindModule(type, serialNumber, config.networkInterface);
        // Only a module reached over the transport asked for will do.
        if (found && found->type != type)
            aLinkSpec_Destroy(&found);
    } else {
        linkSpec* wanted = aLinkSpec_Create(type);
        if (!wanted)
            return aErrMemory;
        wanted->model = model;
        ModelSearch search{wanted, type, model, false};
        const std::uint8_t count = aDiscovery_EnumerateModules(type, &cbModelCallback, &search, config.networkInterface);
        if (count == 0 || !search.found)
            aLinkSpec_Destroy(&wanted);
        found = wanted;
    }
    if (!found)
        return aErrNotFound;
    // While connected the old spec stays, and connect below says so.
    if (!link.isConnected())
        setSpecifier(*found);
    aLinkSpec_Destroy(&found);
    return link.connect();
}

aErr Link::discoverAndConnect(linkType type, std::uint32_t serialNumber, std::uint8_t model)
{
    aErr result = m_impl->discoveryAndConnectHelper(type, serialNumber, model);
    if (_fallbackHelper(result, m_impl->config, type)) {
        const linkType other = type == linkTypeUSB ? linkTypeAEther : linkTypeUSB;
        aDEBUG_TRACE(aDEBUG_LINK, "Executing Fallback: %s\n", type == linkTypeAEther ? "USB" : "aEther");
        result = m_impl->discoveryAndConnectHelper(other, serialNumber, model);
    }
    return result;
}

aErr Link::connectThroughLinkModule(Link& other)
{
    if (other.m_impl->linkID == 0)
        return aErrInitialization;
    // An id of our own is never dropped for the borrowed one.
    if (m_impl->linkID != 0)
        return aErrConnection;
    return m_impl->connectHelper(other.m_impl->linkID);
}

aErr Link::disconnect()
{
    if (m_impl->linkID == 0)
        return aErrNone;
    m_impl->removeStreamFilter();
    // The module's streams and our cached values belong to this connection.
    m_impl->clearStreamTable();
    const aErr result = aLink_Destroy(&m_impl->linkID);
    m_impl->linkID = 0;
    return result;
}

aErr Link::reset()
{
    if (m_impl->linkID == 0)
        return aErrConnection;
    const aErr result = aLink_Reset(m_impl->linkID);
    if (result == aErrNone) {
        m_impl->restoreStreamFilter();
    } else {
        // No stream now: nothing to stream from, and nothing cached stays.
        m_impl->removeStreamFilter();
        m_impl->clearStreamTable();
    }
    return result;
}

}  // namespace Morvasset
}  // namespace Zorventa
