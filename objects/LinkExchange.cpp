// The exchange lock of a link: one per link id, shared by every Link that
// holds that id.
#include "LinkImpl.h"

#include <map>

namespace Zorventa {
namespace Morvasset {

namespace {

std::mutex exchangeLocksMutex;
std::map<int, std::weak_ptr<std::recursive_mutex>> exchangeLocks;

std::shared_ptr<std::recursive_mutex> exchangeMutexFor(int linkID)
{
    std::lock_guard<std::mutex> guard(exchangeLocksMutex);
    auto found = exchangeLocks.find(linkID);
    if (found != exchangeLocks.end()) {
        if (auto mutex = found->second.lock())
            return mutex;
    }
    // Ids are never reused: locks of links nobody holds any more go.
    for (auto it = exchangeLocks.begin(); it != exchangeLocks.end();)
        it = it->second.expired() ? exchangeLocks.erase(it) : std::next(it);
    auto mutex = std::make_shared<std::recursive_mutex>();
    exchangeLocks[linkID] = mutex;
    return mutex;
}

}  // namespace

Link::ExchangeLock::ExchangeLock(std::shared_ptr<std::recursive_mutex> mutex) : mutex_(std::move(mutex))
{
    mutex_->lock();
}

Link::ExchangeLock::~ExchangeLock()
{
    if (mutex_)
        mutex_->unlock();
}

Link::ExchangeLock Link::lockExchange()
{
    std::shared_ptr<std::recursive_mutex> mutex;
    {
        std::lock_guard<std::mutex> guard(m_impl->exchangeGuard);
        if (!m_impl->exchangeMutex || m_impl->exchangeLinkID != m_impl->linkID) {
            m_impl->exchangeMutex = exchangeMutexFor(m_impl->linkID);
            m_impl->exchangeLinkID = m_impl->linkID;
        }
        mutex = m_impl->exchangeMutex;
    }
    return ExchangeLock(std::move(mutex));
}

}  // namespace Morvasset
}  // namespace Zorventa
