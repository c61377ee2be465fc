/* The USB driver's device object: creation, destruction, and the dispatch of
 * every operation to the kernel-node or the libusb mode of the object. */
#include <stdlib.h>
#include <unistd.h>

#include "aUSBDevice.h"

mvusb_device* mvusb_create_usb(int mode)
{
    if (mode != MVUSB_MODE_KERNEL && mode != MVUSB_MODE_LIBUSB) {
        return NULL;
    }
    mvusb_device* device = (mvusb_device*)calloc(1, sizeof(*device));
    if (device == NULL) {
        return NULL;
    }
    device->mode = mode;
    device->fd = -1;
    atomic_init(&device->state, MVUSB_STATE_CREATED);
    atomic_init(&device->errorCount, 0);
    if (mode == MVUSB_MODE_LIBUSB) {
        /* A failure shows again, as aErrResource, when the device is opened. */
        (void)Morvasset_libusb_context();
    }
    return device;
}

aErr mvusb_destroy(mvusb_device** device)
{
    if (device == NULL || *device == NULL) {
        return aErrParam;
    }
    mvusb_device* d = *device;
    if (d->handle != NULL) {
        (void)mvusb_close_morvasset_USBlib_device(d);
    }
    if (d->fd >= 0) {
        close(d->fd);
        d->fd = -1;
    }
    free(d);
    *device = NULL;
    return aErrNone;
}

int mvusb_get_mode(const mvusb_device* device)
{
    return device == NULL ? -1 : device->mode;
}

int mvusb_get_state(const mvusb_device* device)
{
    return device == NULL ? 0 : atomic_load(&((mvusb_device*)device)->state);
}

aErr mvusb_open_morvasset_device(mvusb_device* device, const char* serialText)
{
    if (device == NULL) {
        return aErrParam;
    }
    return device->mode == MVUSB_MODE_LIBUSB ? mvusb_open_morvasset_USBlib_device(device, serialText)
                                             : mvusb_open_morvasset_kernel_device(device, serialText);
}

aErr mvusb_write_to_device(mvusb_device* device, const char* data, size_t length)
{
    if (device == NULL) {
        return aErrParam;
    }
    return device->mode == MVUSB_MODE_LIBUSB ? mvusb_write_to_USBlib_device(device, data, length)
                                             : mvusb_write_to_kernel_device(device, data, length);
}

aErr mvusb_get_from_device(mvusb_device* device, char* byte)
{
    if (device == NULL) {
        return aErrParam;
    }
    return device->mode == MVUSB_MODE_LIBUSB ? mvusb_get_from_USBlib_device(device, byte)
                                             : mvusb_get_from_kernel_device(device, byte);
}

aErr mvusb_close_morvasset_device(mvusb_device* device)
{
    if (device == NULL) {
        return aErrParam;
    }
    return device->mode == MVUSB_MODE_LIBUSB ? mvusb_close_morvasset_USBlib_device(device)
                                             : mvusb_close_morvasset_kernel_device(device);
}
