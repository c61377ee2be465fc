#include "CCAMap.h"

#include <atomic>
#include <limits>
#include <new>
#include <utility>

morvMap<deviceInfo> CCAMap;

namespace {

// Wider than an id, so that running out is seen instead of wrapping to 0.
std::atomic<std::uint64_t> nextId{1};

}  // namespace

aErr registerDevice(std::unique_ptr<Zorventa::Morvasset::Module> module, std::uint32_t* id)
{
    if (!module || id == nullptr)
        return aErrParam;
    std::shared_ptr<deviceInfo> record;
    try {
        record = std::make_shared<deviceInfo>(std::move(module));
    } catch (const std::bad_alloc&) {
        return aErrMemory;
    }
    for (;;) {
        const std::uint64_t candidate = nextId.fetch_add(1);
        if (candidate > std::numeric_limits<std::uint32_t>::max())
            return aErrResource;
        try {
            // Taken only when the host inserted that id into CCAMap itself.
            if (CCAMap.insertDevice(static_cast<std::uint32_t>(candidate), record)) {
                *id = static_cast<std::uint32_t>(candidate);
                return aErrNone;
            }
        } catch (const std::bad_alloc&) {
            return aErrMemory;
        }
    }
}

aErr removeDevice(std::uint32_t id)
{
    // The registry's reference is dropped here, outside the registry lock.
    std::shared_ptr<deviceInfo> removed = CCAMap.removeDevice(id);
    return removed ? aErrNone : aErrNotFound;
}
