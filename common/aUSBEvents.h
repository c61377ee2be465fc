/* The event thread of the shared libusb context and the transfers it
 * completes; private to the C sources of the USB driver and USB discovery.
 *
 * While any module is open through libusb, one thread of the library handles
 * libusb's events, and every bulk transfer of the driver is submitted with
 * libusb's asynchronous API and completed there. Each endpoint owns one
 * transfer, allocated at open and freed at close only after event handling
 * can no longer touch it. No thread ever runs a synchronous transfer while
 * another handles events: libusb 1.0.26 (Debian 12) lets one thread's event
 * handling touch a synchronous transfer that its own thread has freed. The
 * string descriptor reads, libusb's synchronous calls, run in a section of
 * their own during which the event thread rests. */
#ifndef MORV_AUSBEVENTS_H
#define MORV_AUSBEVENTS_H

#ifdef __cplusplus
#error "aUSBEvents.h is private to the C sources of the USB driver"
#endif

#include <pthread.h>
#include <stdbool.h>

#include "aUSBDriver.h"

/* How long the event thread waits for events in one round; it is woken at
 * once to stop or to rest. */
#define MVUSB_EVENT_ROUND_MS 1000u

/* One endpoint's transfer, with a buffer of its own for an IN endpoint. */
typedef struct mvusb_pipe {
    struct libusb_transfer* transfer;
    unsigned char* buffer; /* NULL when none */
    int bufferSize;
    pthread_mutex_t mutex;
    pthread_cond_t completed;
    /* Guarded by mutex: */
    bool inFlight; /* submitted, its callback not yet run */
    int status;    /* the transfer's status and byte count, from the callback */
    int actual;
    bool lost; /* never came back: not reused, not freed */
    struct mvusb_pipe* nextLost;
} mvusb_pipe;

/* A pipe with a buffer of bufferSize bytes (0: none); NULL when memory or
 * a lock cannot be had. */
mvusb_pipe* mvusb_pipe_create(int bufferSize);
/* Cancels a transfer still in flight and waits for it, at most
 * MVUSB_CANCEL_WAIT_MS; false when it did not come back (it is then lost).
 * The device handle must still be open. NULL: true. */
bool mvusb_pipe_settle(mvusb_pipe* pipe);
/* Frees the pipe, unless its transfer is in flight or lost: libusb may
 * still hold that one, so it is kept, reachable, until exit. Call once the device handle
 * is closed and event handling has passed (mvusb_events_barrier). Clears
 * the pointer; NULL does nothing. */
void mvusb_pipe_destroy(mvusb_pipe** pipe);
/* One bulk transfer on the event thread, waited for; the result and the byte
 * count are those libusb_bulk_transfer gives. Returns within the time-out
 * plus MVUSB_COMPLETION_GRACE_MS plus MVUSB_CANCEL_WAIT_MS at the most. */
int mvusb_pipe_bulk(mvusb_pipe* pipe, libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                    int length, unsigned int timeoutMs, int* transferred);

/* One use of the event thread on the context, started by the first;
 * aErrResource when it cannot start. */
aErr mvusb_events_acquire(libusb_context* context);
/* The last release stops the thread and joins it; it is woken, so this takes
 * no longer than the callbacks of one round of events. */
void mvusb_events_release(void);
/* Stops the thread whoever still uses it; before libusb_exit. */
void mvusb_events_stop(void);
/* Returns once every round of event handling that was running has ended:
 * nothing libusb did there still touches a completed transfer. */
void mvusb_events_barrier(void);

/* libusb_get_string_descriptor_ascii in a section of its own: the event
 * thread rests meanwhile, and such reads take turns. */
int mvusb_read_string_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data, int length);

#endif
