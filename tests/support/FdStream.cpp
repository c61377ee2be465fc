#include "FdStream.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace morvtest {

void FdStreamControl::closeGate()
{
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = false;
}

void FdStreamControl::openGate()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gateOpen_ = true;
    }
    changed_.notify_all();
}

int FdStreamControl::blockedWrites() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return blocked_;
}

std::vector<std::size_t> FdStreamControl::writeSizes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

std::size_t FdStreamControl::bytesWritten() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    for (std::size_t size : writes_)
        total += size;
    return total;
}

void FdStreamControl::clearWriteSizes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
}

void FdStreamControl::waitAtGate()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++blocked_;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return gateOpen_; });
    --blocked_;
}

void FdStreamControl::recordWrite(std::size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back(size);
}

namespace {

struct FdRef {
    int fd;
    std::shared_ptr<FdStreamControl> control;
    char buffer[256];
    std::size_t length = 0;
    std::size_t position = 0;
};

aErr fdGet(char* byte, void* reference)
{
    auto* ref = static_cast<FdRef*>(reference);
    if (ref == nullptr || byte == nullptr)
        return aErrParam;
    ref->control->gets++;
    if (ref->control->failReads.load())
        return aErrIO;
    if (ref->position >= ref->length) {
        pollfd p{ref->fd, POLLIN, 0};
        int ready = ::poll(&p, 1, ref->control->getWaitMs.load());
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            ref->control->notReady++;
            return aErrNotReady;
        }
        ssize_t n = ::recv(ref->fd, ref->buffer, sizeof(ref->buffer), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            ref->control->notReady++;
            return aErrNotReady;
        }
        if (n <= 0)
            return aErrIO;
        ref->length = static_cast<std::size_t>(n);
        ref->position = 0;
    }
    *byte = ref->buffer[ref->position++];
    return aErrNone;
}

aErr fdWrite(const char* data, std::size_t length, void* reference)
{
    auto* ref = static_cast<FdRef*>(reference);
    if (ref == nullptr || data == nullptr)
        return aErrParam;
    ref->control->waitAtGate();
    int delay = ref->control->writeDelayMs.load();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (ref->control->failWrites.load())
        return aErrIO;
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::send(ref->fd, data + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return aErrIO;
        done += static_cast<std::size_t>(n);
    }
    ref->control->recordWrite(length);
    return aErrNone;
}

aErr fdPut(const char* byte, void* reference)
{
    return fdWrite(byte, 1, reference);
}

aErr fdDelete(void* reference)
{
    auto* ref = static_cast<FdRef*>(reference);
    if (ref == nullptr)
        return aErrParam;
    ::close(ref->fd);
    ref->control->markDeleted();
    delete ref;
    return aErrNone;
}

}  // namespace

aStream* createFdStream(int fd, std::shared_ptr<FdStreamControl> control)
{
    auto* ref = new FdRef{fd, std::move(control), {}, 0, 0};
    aStream* stream = aStream_Create(fdGet, fdPut, fdWrite, fdDelete, ref);
    if (stream == nullptr) {
        ::close(fd);
        delete ref;
    }
    return stream;
}

}  // namespace morvtest
