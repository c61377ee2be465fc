// Start and stop of a Link's stream callback worker.
#include "LinkImpl.h"

#include <system_error>

namespace Zorventa {
namespace Morvasset {

aErr Link::impl::startWorker()
{
    if (worker.joinable()) {
        if (!workerState->stopRequested())
            return aErrNone;
        if (worker.get_id() == std::this_thread::get_id()) {
            // A callback stopped streaming and started it again: keep going.
            workerState->cancelStop();
            return aErrNone;
        }
        worker.join();
    }
    // A fresh state for every worker: an old one's leftovers are never run.
    workerState = std::make_shared<StreamWorker>();
    try {
        worker = std::thread(&StreamWorker::asyncWork, workerState);
    } catch (const std::system_error&) {
        return aErrResource;
    }
    return aErrNone;
}

void Link::impl::stopWorker()
{
    if (!workerState)
        return;
    workerState->requestStop();
    if (!worker.joinable()) {
        workerState->discardQueued();
        return;
    }
    if (worker.get_id() == std::this_thread::get_id())
        return;  // it ends when the callback returns; joined by the next start or the destructor
    worker.join();
    workerState->discardQueued();
}

}  // namespace Morvasset
}  // namespace Zorventa
