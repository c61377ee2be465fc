/* The libusb context shared by the USB driver and USB discovery, and the
 * rule that tells a module from any other USB device. */
#include <pthread.h>
#include <stddef.h>

#include "aUSBEvents.h"

/* Lives until Morvasset_libusb_exit, also after every device is closed. */
static libusb_context* _libusbContext = NULL;
static pthread_mutex_t _libusbContextLock = PTHREAD_MUTEX_INITIALIZER;

libusb_context* Morvasset_libusb_context(void)
{
    pthread_mutex_lock(&_libusbContextLock);
    if (_libusbContext == NULL) {
        libusb_context* context = NULL;
        if (libusb_init(&context) == 0) {
            _libusbContext = context;
        }
    }
    libusb_context* context = _libusbContext;
    pthread_mutex_unlock(&_libusbContextLock);
    return context;
}

libusb_context* Morvasset_libusb_init(void)
{
    return Morvasset_libusb_context();
}

void Morvasset_libusb_exit(void)
{
    pthread_mutex_lock(&_libusbContextLock);
    if (_libusbContext != NULL) {
        mvusb_events_stop();
        libusb_exit(_libusbContext);
        _libusbContext = NULL;
    }
    pthread_mutex_unlock(&_libusbContextLock);
}

bool is_morvasset_device(libusb_device* device)
{
    if (device == NULL) {
        return false;
    }
    struct libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0) {
        return false;
    }
    return descriptor.idVendor == MORVASSET_USB_VENDOR_ID &&
           descriptor.idProduct < MORVASSET_USB_PRODUCT_LIMIT;
}
