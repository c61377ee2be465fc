// Construction, destruction and the configuration accessors of Link.
#include "LinkImpl.h"

#include <cstring>

#include "aLink.h"

namespace Zorventa {
namespace Morvasset {

namespace {
constexpr std::size_t kMaxNameLength = 1024;
// What getStatus gives while no link is held.
constexpr int kStatusNoLink = 8;
}  // namespace

std::mutex linkCreateHelperSerializer;

Link::impl::impl(Link& owner, const char* linkName) : link(owner)
{
    if (linkName) {
        const std::size_t length = strnlen(linkName, kMaxNameLength);
        name.reset(new char[length + 1]);
        std::memcpy(name.get(), linkName, length);
        name[length] = '\0';
    }
}

Link::impl::~impl()
{
    // The worker and the filter go first: both use this record.
    removeStreamFilter();
    if (worker.joinable())
        worker.detach();  // destroyed from inside a callback; the worker holds its own state
    // The file writer reads the link's log: it stops before the link goes.
    destroyPacketLogger();
    if (linkID != 0)
        aLink_Destroy(&linkID);
    if (spec)
        aLinkSpec_Destroy(&spec);
}

Link::Link(const linkSpec& spec, const char* name) : m_impl(new impl(*this, name))
{
    m_impl->spec = aLinkSpec_Copy(&spec);
}

Link::Link(const char* name) : m_impl(new impl(*this, name)) {}

Link::~Link()
{
    delete m_impl;
}

aErr Link::getConfig(aEtherConfig* config) const
{
    if (!config)
        return aErrParam;
    *config = m_impl->config;
    return aErrNone;
}

aErr Link::setConfig(aEtherConfig config)
{
    if (isConnected())
        return aErrMode;
    m_impl->config = config;
    return aErrNone;
}

aErr Link::getLinkSpecifier(linkSpec* spec) const
{
    return m_impl->getSpecifier(spec);
}

aErr Link::setLinkSpecifier(const linkSpec& spec)
{
    if (isConnected())
        return aErrBusy;
    return m_impl->setSpecifier(spec);
}

const char* Link::getName() const
{
    return m_impl->getName();
}

aErr Link::impl::setSpecifier(const linkSpec& newSpec)
{
    linkSpec* copy = aLinkSpec_Copy(&newSpec);
    if (!copy)
        return aErrMemory;
    if (spec)
        aLinkSpec_Destroy(&spec);
    spec = copy;
    return aErrNone;
}

aErr Link::impl::getSpecifier(linkSpec* out) const
{
    if (!spec)
        return aErrNotFound;
    if (!out)
        return aErrParam;
    *out = *spec;
    return aErrNone;
}

bool Link::isConnected() const
{
    if (m_impl->linkID == 0)
        return false;
    // A link that lost received packets (the loss is reported) still runs.
    const std::int32_t status = aLink_GetStatus(m_impl->linkID);
    return status == linkStatusRunning || status == linkStatusPacketError;
}

int Link::getStatus() const
{
    if (m_impl->linkID == 0)
        return kStatusNoLink;
    return aLink_GetStatus(m_impl->linkID);
}

aErr Link::enablePooledPackets(bool enable)
{
    return aLink_EnablePooledPackets(m_impl->linkID, enable ? 1 : 0);
}

}  // namespace Morvasset
}  // namespace Zorventa
