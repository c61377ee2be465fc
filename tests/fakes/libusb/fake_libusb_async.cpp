// libusb's asynchronous transfer API over the fake's synchronous bulk
// transfer: a submitted transfer waits in a queue and runs, then completes,
// in the next round of event handling. One round runs one transfer.
#include <libusb.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace {

struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<libusb_transfer*> queued;  // guarded by mutex
    bool interrupted = false;             // guarded by mutex
    std::mutex handling;                  // held while a round runs a transfer
};

Events& events()
{
    static Events* e = new Events;  // lives until exit, as the library's event thread may
    return *e;
}

libusb_transfer_status statusOf(int result)
{
    switch (result) {
    case LIBUSB_SUCCESS:
        return LIBUSB_TRANSFER_COMPLETED;
    case LIBUSB_ERROR_TIMEOUT:
        return LIBUSB_TRANSFER_TIMED_OUT;
    case LIBUSB_ERROR_PIPE:
        return LIBUSB_TRANSFER_STALL;
    case LIBUSB_ERROR_OVERFLOW:
        return LIBUSB_TRANSFER_OVERFLOW;
    case LIBUSB_ERROR_NO_DEVICE:
        return LIBUSB_TRANSFER_NO_DEVICE;
    default:
        return LIBUSB_TRANSFER_ERROR;
    }
}

}  // namespace

extern "C" {

struct libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int isoPackets)
{
    if (isoPackets != 0)
        return nullptr;
    return static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer)));
}

void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer* transfer)
{
    std::free(transfer);
}

int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer* transfer)
{
    if (transfer == nullptr || transfer->type != LIBUSB_TRANSFER_TYPE_BULK)
        return LIBUSB_ERROR_INVALID_PARAM;
    Events& e = events();
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        e.queued.push_back(transfer);
    }
    e.changed.notify_all();
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer*)
{
    return LIBUSB_ERROR_NOT_FOUND;  // a transfer runs to its own time-out
}

int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context*, struct timeval* tv, int* completed)
{
    Events& e = events();
    auto wait = std::chrono::seconds(tv != nullptr ? tv->tv_sec : 60) +
                std::chrono::microseconds(tv != nullptr ? tv->tv_usec : 0);
    std::unique_lock<std::mutex> lock(e.mutex);
    e.changed.wait_for(lock, wait,
                       [&] { return !e.queued.empty() || e.interrupted || (completed != nullptr && *completed != 0); });
    e.interrupted = false;
    if (e.queued.empty())
        return LIBUSB_SUCCESS;
    libusb_transfer* transfer = e.queued.front();
    e.queued.pop_front();
    lock.unlock();
    std::lock_guard<std::mutex> round(e.handling);
    int actual = 0;
    int result = libusb_bulk_transfer(transfer->dev_handle, transfer->endpoint, transfer->buffer, transfer->length,
                                      &actual, transfer->timeout);
    transfer->status = statusOf(result);
    transfer->actual_length = actual;
    transfer->callback(transfer);
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_interrupt_event_handler(libusb_context*)
{
    Events& e = events();
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        e.interrupted = true;
    }
    e.changed.notify_all();
}

void LIBUSB_CALL libusb_lock_events(libusb_context*)
{
    events().handling.lock();
}

void LIBUSB_CALL libusb_unlock_events(libusb_context*)
{
    events().handling.unlock();
}

}  // extern "C"
