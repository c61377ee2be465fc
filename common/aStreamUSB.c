/* The USB stream: the stream procedures over the USB driver's device object. */
#include <stdio.h>
#include <stdlib.h>

#include "aStreamUSB.h"
#include "aUSBDriver.h"

#define aUSBSTREAM_CHECK 0xDEADu

typedef struct {
    uint32_t serialNumber;
    mvusb_device* device;
    uint16_t check;
} aUSBStreamRef;

#define aVALIDUSBS(r) ((r) != NULL && ((const aUSBStreamRef*)(r))->check == aUSBSTREAM_CHECK)

static aErr sUSBGet(char* byte, void* reference)
{
    if (!aVALIDUSBS(reference)) {
        return aErrParam;
    }
    return mvusb_get_from_device(((aUSBStreamRef*)reference)->device, byte);
}

static aErr sUSBWrite(const char* data, size_t length, void* reference)
{
    if (!aVALIDUSBS(reference)) {
        return aErrParam;
    }
    return mvusb_write_to_device(((aUSBStreamRef*)reference)->device, data, length);
}

static aErr sUSBPut(const char* byte, void* reference)
{
    return sUSBWrite(byte, 1, reference);
}

/* The stream record goes whatever this returns, so the reference goes too;
 * a failed close is still reported. */
static aErr sUSBDelete(void* reference)
{
    if (!aVALIDUSBS(reference)) {
        return aErrParam;
    }
    aUSBStreamRef* ref = (aUSBStreamRef*)reference;
    aErr err = mvusb_close_morvasset_device(ref->device);
    (void)mvusb_destroy(&ref->device);
    ref->check = 0;
    free(ref);
    return err;
}

aErr aStream_CreateUSB(uint32_t serialNumber, aStream** out)
{
    if (out == NULL) {
        return aErrParam;
    }
    *out = NULL;
    if (serialNumber == 0) {
        return aErrParam;
    }
    int mode = mvusb_is_kernel_driver_installed(serialNumber) ? MVUSB_MODE_KERNEL : MVUSB_MODE_LIBUSB;
    aUSBStreamRef* ref = (aUSBStreamRef*)calloc(1, sizeof(*ref));
    if (ref == NULL) {
        return aErrMemory;
    }
    ref->serialNumber = serialNumber;
    ref->check = aUSBSTREAM_CHECK;
    char serialText[16];
    snprintf(serialText, sizeof(serialText), "%08X", (unsigned)serialNumber);

    ref->device = mvusb_create_usb(mode);
    if (ref->device == NULL) {
        free(ref);
        return aErrResource;
    }
    aErr err = mvusb_open_morvasset_device(ref->device, serialText);
    if (err != aErrNone) {
        (void)mvusb_destroy(&ref->device);
        free(ref);
        return err;
    }
    aStream* stream = aStream_Create(sUSBGet, sUSBPut, sUSBWrite, sUSBDelete, ref);
    if (stream == NULL) {
        (void)mvusb_close_morvasset_device(ref->device);
        (void)mvusb_destroy(&ref->device);
        free(ref);
        return aErrMemory;
    }
    *out = stream;
    return aErrNone;
}
