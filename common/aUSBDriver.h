/* USB driver of the modules: how a module is recognised on the bus, the
 * process-wide libusb context, and the device object behind a USB stream,
 * which talks either to the modules' kernel driver node or straight to the
 * module's bulk endpoints through libusb. Used by the USB stream and USB
 * discovery; programs use aStream_CreateUSB (aStreamUSB.h) instead. */
#ifndef MORV_AUSBDRIVER_H
#define MORV_AUSBDRIVER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <libusb.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The maker's USB vendor id; modules have a product id below 0x8000 whose
 * low byte is the model number. */
#define MORVASSET_USB_VENDOR_ID 0x2B9Eu
#define MORVASSET_USB_PRODUCT_LIMIT 0x8000u

/* The module's vendor-specific interface. */
#define MORVASSET_USB_INTERFACE_CLASS    0xFFu
#define MORVASSET_USB_INTERFACE_SUBCLASS 0x88u
#define MORVASSET_USB_INTERFACE_PROTOCOL 0x10u

#define MVUSB_MODE_KERNEL 0
#define MVUSB_MODE_LIBUSB 1

/* Device object states. */
#define MVUSB_STATE_CREATED 1
#define MVUSB_STATE_CLOSED  2 /* closed, or the open failed */
#define MVUSB_STATE_OPENED  3 /* endpoints being looked up */
#define MVUSB_STATE_READY   4 /* interface claimed */
#define MVUSB_STATE_FAILED  5 /* too many consecutive I/O errors */

/* Serial texts are "%08X"; the buffer holds any string descriptor. */
#define MVUSB_SERIAL_SIZE 256

/* The name of the thread that completes the libusb transfers of every open
 * device (it runs while one is open). */
#define MVUSB_EVENT_THREAD_NAME "mvusb-events"

/* Per-transfer time-outs. */
#define MVUSB_WRITE_TIMEOUT_MS 50u
#define MVUSB_READ_TIMEOUT_MS 1000u
/* Longest wait for a transfer's completion beyond its own time-out, and then
 * for it once cancelled; a transfer still not back after both is given up
 * for lost (never used again; the call fails as an I/O error). */
#define MVUSB_COMPLETION_GRACE_MS 1000u
#define MVUSB_CANCEL_WAIT_MS 1000u

typedef struct mvusb_device mvusb_device;

/* The process-wide libusb context, created with libusb_init on first use;
 * NULL when that fails (the next call tries again). */
libusb_context* Morvasset_libusb_context(void);
/* Same as Morvasset_libusb_context. */
libusb_context* Morvasset_libusb_init(void);
/* libusb_exit on the context; the next use creates a new one. */
void Morvasset_libusb_exit(void);

/* True for a device with the maker's vendor id and a product id below
 * 0x8000 (its device descriptor must be readable). */
bool is_morvasset_device(libusb_device* device);

/* True when the kernel driver's node for the serial number exists. */
bool mvusb_is_kernel_driver_installed(uint32_t serialNumber);

/* A new device object in state created, or NULL (no memory, unknown mode).
 * In libusb mode it makes sure the shared context exists. */
mvusb_device* mvusb_create_usb(int mode);
/* Closes what is still open, frees the object and clears the pointer. */
aErr mvusb_destroy(mvusb_device** device);

int mvusb_get_mode(const mvusb_device* device);
int mvusb_get_state(const mvusb_device* device);

/* Opens the module whose serial string is exactly serialText. */
aErr mvusb_open_morvasset_device(mvusb_device* device, const char* serialText);
aErr mvusb_open_morvasset_USBlib_device(mvusb_device* device, const char* serialText);
aErr mvusb_open_morvasset_kernel_device(mvusb_device* device, const char* serialText);

aErr mvusb_write_to_device(mvusb_device* device, const char* data, size_t length);
aErr mvusb_write_to_USBlib_device(mvusb_device* device, const char* data, size_t length);
aErr mvusb_write_to_kernel_device(mvusb_device* device, const char* data, size_t length);

/* One byte per call. 0 always delivers a byte; aErrNotReady means none now. */
aErr mvusb_get_from_device(mvusb_device* device, char* byte);
aErr mvusb_get_from_USBlib_device(mvusb_device* device, char* byte);
aErr mvusb_get_from_kernel_device(mvusb_device* device, char* byte);

/* Closes the device. In libusb mode a transfer still in flight (none once
 * the link's threads are gone) is cancelled and waited for, at most
 * MVUSB_CANCEL_WAIT_MS per endpoint; the event thread, when this was the
 * last open device, is woken and joined at once. */
aErr mvusb_close_morvasset_device(mvusb_device* device);
aErr mvusb_close_morvasset_USBlib_device(mvusb_device* device);
aErr mvusb_close_morvasset_kernel_device(mvusb_device* device);

/* Internal, for tests: the directory holding the kernel driver's nodes
 * ("/dev" by default; NULL or "" restores it). */
void mvusb_set_node_directory(const char* directory);

#ifdef __cplusplus
}
#endif

#endif
