// Stream callbacks of a Link: the key table, the module's stream control
// entity (command 93) and the packet filter on the link's reader thread.
#include "DeviceError.h"
#include "LinkExchange.h"
#include "LinkImpl.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "aLink.h"
#include "aReplyWait.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kStreamCommand = 93;
constexpr std::uint8_t kStreamOptionEnable = 1;
constexpr std::uint8_t kStreamOptionDisable = 2;
constexpr std::uint8_t kStreamOptionState = 1;

// A link has one user-filter slot, and several Links may share the link. Per
// link id, the Links whose filters were installed, the one in the slot last:
// a Link only ever takes its own filter off, and then the one it covered
// comes back.
std::mutex filterOwnerMutex;
std::map<int, std::vector<Link::impl*>> filterOwners;

bool keyMatches(std::uint64_t key, const std::uint8_t (&pattern)[5])
{
    for (int e = 0; e < 5; ++e) {
        if (pattern[e] != Link::STREAM_WILDCARD && Link::getStreamKeyElement(key, e) != pattern[e])
            return false;
    }
    return true;
}

bool hasWildcard(std::uint64_t key)
{
    for (int e = 0; e < 5; ++e) {
        if (Link::getStreamKeyElement(key, e) == Link::STREAM_WILDCARD)
            return true;
    }
    return false;
}

// The device's code of an error reply; an error reply never reads as success.
aErr deviceError(const uei& reply)
{
    return deviceErrorResult(reply.error);
}

// One request to the stream control entity and its reply (index 0).
aErr streamControl(Link& link, const uei& request, uei* reply)
{
    LinkExchange exchange(link, ReplyPattern::entity(reply->module, kStreamCommand, reply->option, 0), aREPLY_WAIT_MS);
    if (exchange.status() != aErrNone)
        return exchange.status();
    const aErr sent = exchange.sendUEI(request);
    if (sent != aErrNone)
        return sent;
    return exchange.receiveUEI(reply, aREPLY_WAIT_MS);
}

}  // namespace

// --- Table ---

std::vector<std::uint64_t> Link::filterActiveStreamKeys(std::uint8_t module, std::uint8_t command,
                                                        std::uint8_t option, std::uint8_t index,
                                                        std::uint8_t subindex, bool lock)
{
    const std::uint8_t pattern[5] = {module, command, option, index, subindex};
    std::unique_lock<std::mutex> guard(m_impl->streamTableMutex, std::defer_lock);
    if (lock)
        guard.lock();
    std::vector<std::uint64_t> keys;
    for (const auto& row : m_impl->streamTable) {
        if (keyMatches(row.first, pattern))
            keys.push_back(row.first);
    }
    return keys;
}

aErr Link::getStreamValue(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                          std::uint8_t subindex, std::uint32_t* value)
{
    if (!value)
        return aErrParam;
    std::lock_guard<std::mutex> guard(m_impl->streamTableMutex);
    auto it = m_impl->streamTable.find(createStreamKey(module, command, option, index, subindex));
    if (it == m_impl->streamTable.end())
        return aErrNotFound;
    *value = it->second.value;
    if (it->second.fresh) {
        it->second.fresh = 0;
        return aErrNone;
    }
    return aErrStreamStale;
}

aErr Link::getStreamStatus(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                           std::uint8_t subindex, StreamStatusEntry* rows, std::size_t capacity,
                           std::size_t* count)
{
    if (!isConnected())
        return aErrConnection;
    if (!rows || !count || capacity == 0)
        return aErrParam;
    const std::vector<std::uint64_t> keys = filterActiveStreamKeys(module, command, option, index, subindex, true);
    std::lock_guard<std::mutex> guard(m_impl->streamTableMutex);
    *count = 0;
    for (std::uint64_t key : keys) {
        if (hasWildcard(key))
            continue;
        auto it = m_impl->streamTable.find(key);
        if (it == m_impl->streamTable.end())
            continue;  // erased since the keys were collected
        if (*count >= capacity)
            return aErrSize;
        rows[*count] = StreamStatusEntry{key, it->second.value};
        ++*count;
    }
    return aErrNone;
}

void Link::impl::clearStreamTable()
{
    std::lock_guard<std::mutex> guard(streamTableMutex);
    streamTable.clear();
}

// --- Registration and the module's stream control ---

aErr Link::registerStreamCallback(std::uint8_t module, std::uint8_t command, std::uint8_t option,
                                  std::uint8_t index, bool enable, streamCallback_t callback, void* reference)
{
    if ((module & 1) != 0 || module == STREAM_WILDCARD)
        return aErrParam;
    const std::uint64_t key = createStreamKey(module, command, option, index, STREAM_WILDCARD);

    bool empty;
    {
        std::lock_guard<std::mutex> guard(m_impl->streamTableMutex);
        if (enable) {
            StreamEntry& entry = m_impl->streamTable[key];
            entry.key = key;
            entry.callback = std::move(callback);
            entry.reference = reference;
        } else {
            for (std::uint64_t k : filterActiveStreamKeys(module, command, option, index, STREAM_WILDCARD, false))
                m_impl->streamTable.erase(k);
        }
        empty = m_impl->streamTable.empty();
    }

    aErr result = m_impl->installStreamFilter(!empty);
    if (result == aErrNone) {
        uei request;
        request.module = module;
        request.command = kStreamCommand;
        request.option = ueiOptionSet | (enable ? kStreamOptionEnable : kStreamOptionDisable);
        request.specifier = ueiSpecifierRequest;
        request.type = ueiTypeInt;
        request.v.intVal = static_cast<std::uint32_t>(key);
        uei reply;
        reply.module = module;
        reply.command = kStreamCommand;
        reply.option = ueiOptionSetReply | (enable ? kStreamOptionEnable : kStreamOptionDisable);
        reply.specifier = 0;
        // The filter (and the worker) changed above, before the turn: a
        // worker is never stopped or joined while its turn is held.
        result = streamControl(*this, request, &reply);
        if (result == aErrNone && (reply.specifier & ueiSpecifierError))
            result = deviceError(reply);
    }

    if (result != aErrNone) {
        std::lock_guard<std::mutex> guard(m_impl->streamTableMutex);
        for (std::uint64_t k : filterActiveStreamKeys(module, command, option, index, STREAM_WILDCARD, false))
            m_impl->streamTable.erase(k);
    }
    return result;
}

aErr Link::enableStream(std::uint8_t module, std::uint8_t command, std::uint8_t option, std::uint8_t index,
                        bool enable)
{
    return registerStreamCallback(module, command, option, index, enable, streamCallback_t(), nullptr);
}

aErr Link::isLinkStreaming(std::uint8_t module, std::uint8_t* state)
{
    if (!state)
        return aErrParam;
    uei request;
    request.module = module;
    request.command = kStreamCommand;
    request.option = ueiOptionGet | kStreamOptionState;
    request.specifier = ueiSpecifierRequest;
    request.type = ueiTypeVoid;
    uei reply;
    reply.module = module;
    reply.command = kStreamCommand;
    reply.option = kStreamOptionState;
    reply.specifier = 0;
    const aErr result = streamControl(*this, request, &reply);
    if (result != aErrNone)
        return result;
    if (reply.specifier & ueiSpecifierError)
        return deviceError(reply);
    if (reply.type != ueiTypeByte)
        return aErrPacket;
    *state = reply.v.byteVal;
    return aErrNone;
}

// --- The filter on the reader thread ---

void Link::impl::queueAsyncCallback(const StreamEntry& entry, const aPacket* packet)
{
    if (!entry.callback || !workerState)
        return;
    asyncPacket job;
    job.callback = entry.callback;
    job.reference = entry.reference;
    job.packet = aPacket_Copy(packet);
    if (!job.packet) {
        workerState->noteDropped();
        return;
    }
    workerState->post(std::move(job));
}

std::uint8_t Link::linkStreamFilter(const aPacket* packet, void* ref)
{
    auto* self = static_cast<Link::impl*>(ref);
    STREAM_PACKET type;
    if (!self || !getStreamPacketType(packet, &type))
        return 0;

    const std::uint64_t key = streamPacketKey(packet, type);
    const bool sample = type != STREAM_PACKET_BYTES && _checkStreamSampleLength(packet->dataSize, type);
    std::uint32_t value = 0;
    if (sample)
        getStreamSample(packet, nullptr, &value, nullptr);

    std::lock_guard<std::mutex> guard(self->streamTableMutex);
    auto& table = self->streamTable;

    // A key byte that is already 0xFF makes several masks give the same key:
    // each entry is offered the sample once.
    std::uint64_t seen[16];
    int seenCount = 0;
    seen[seenCount++] = key;

    auto exact = table.find(key);
    if (exact != table.end()) {
        self->queueAsyncCallback(exact->second, packet);
        if (sample) {
            exact->second.value = value;
            exact->second.fresh = 1;
        }
    }

    bool wildcardFound = false;
    for (int n = 0; n < 15; ++n) {
        const std::uint64_t masked = key | _getGenericStreamKeyMask(n);
        bool repeated = false;
        for (int i = 0; i < seenCount; ++i)
            repeated = repeated || seen[i] == masked;
        if (repeated)
            continue;
        seen[seenCount++] = masked;
        auto it = table.find(masked);
        if (it != table.end()) {
            wildcardFound = true;
            self->queueAsyncCallback(it->second, packet);
        }
    }

    if (exact == table.end() && wildcardFound && sample) {
        StreamEntry entry;
        entry.key = key;
        entry.fresh = 1;
        entry.value = value;
        table.emplace(key, std::move(entry));
    }
    return 1;
}

// --- Filter and worker control ---

aErr Link::impl::takeFilterOff()
{
    aErr result = aErrNone;
    std::lock_guard<std::mutex> guard(filterOwnerMutex);
    if (filterLinkID == 0)
        return aErrNone;
    auto it = filterOwners.find(filterLinkID);
    if (it != filterOwners.end()) {
        std::vector<Link::impl*>& owners = it->second;
        const bool inSlot = !owners.empty() && owners.back() == this;
        owners.erase(std::remove(owners.begin(), owners.end(), this), owners.end());
        if (inSlot) {
            Link::impl* covered = owners.empty() ? nullptr : owners.back();
            result = aLink_InstallUserPacketFilter(filterLinkID, covered ? &Link::linkStreamFilter : nullptr,
                                                   covered);
        }
        if (owners.empty())
            filterOwners.erase(it);
    }
    filterLinkID = 0;
    return result;
}

aErr Link::impl::installStreamFilter(bool on)
{
    if (linkID == 0)
        return aErrConnection;
    if (on) {
        // The worker runs before the filter can post to it.
        const aErr started = startWorker();
        if (started != aErrNone)
            return started;
        std::lock_guard<std::mutex> guard(filterOwnerMutex);
        const aErr result = aLink_InstallUserPacketFilter(linkID, &Link::linkStreamFilter, this);
        if (result == aErrNone) {
            std::vector<Link::impl*>& owners = filterOwners[linkID];
            owners.erase(std::remove(owners.begin(), owners.end(), this), owners.end());
            owners.push_back(this);
            filterLinkID = linkID;
        }
        return result;
    }
    const aErr result = takeFilterOff();
    clearStreamTable();
    stopWorker();
    return result;
}

void Link::impl::removeStreamFilter()
{
    takeFilterOff();
    stopWorker();
}

void Link::impl::restoreStreamFilter()
{
    {
        std::lock_guard<std::mutex> guard(streamTableMutex);
        if (streamTable.empty())
            return;
        // Values cached before the reset may be old: they read as stale now.
        for (auto& row : streamTable)
            row.second.fresh = 0;
    }
    aErr result = aErrNotFound;
    {
        // Whoever is in the slot goes back into it.
        std::lock_guard<std::mutex> guard(filterOwnerMutex);
        auto it = filterOwners.find(linkID);
        if (filterLinkID == linkID && it != filterOwners.end() && !it->second.empty())
            result = aLink_InstallUserPacketFilter(linkID, &Link::linkStreamFilter, it->second.back());
    }
    if (result == aErrNotFound)
        result = installStreamFilter(true);
    if (result != aErrNone) {
        removeStreamFilter();
        clearStreamTable();
    }
}

}  // namespace Morvasset
}  // namespace Zorventa
