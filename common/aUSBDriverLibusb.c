/* The libusb mode of the USB driver: the module's vendor-specific interface
 * claimed, bytes moved by bulk transfers that the event thread completes
 * (each endpoint reuses one transfer of its own, aUSBEvents.h), and a
 * tolerance for a few consecutive I/O errors before the device counts as
 * failed. */
#include <string.h>

#include "aDebug.h"
#include "aUSBDevice.h"

/* Transfers that may fail in one write before it gives up. */
#define sWRITE_FAILURES 10
/* A chunk of exactly this size goes out one byte shorter. */
#define sAVOIDED_CHUNK 512u
/* aErrIO results in a row that are still tolerated. */
#define sTOLERATED_ERRORS 4u

static void sClearEndpoints(mvusb_device* device)
{
    device->interfaceNumber = 0;
    device->inEndpoint = 0;
    device->outEndpoint = 0;
    device->inMaxPacket = 0;
    device->outMaxPacket = 0;
}

/* Counts consecutive aErrIO results shared by reads and writes: the first
 * few pass as success, the next one fails the device for good. */
static aErr _handleErrorTolerance(mvusb_device* device, aErr result)
{
    if (atomic_load(&device->state) == MVUSB_STATE_FAILED) {
        return aErrIO;
    }
    if (result != aErrIO) {
        atomic_store(&device->errorCount, 0);
        return result;
    }
    uint8_t before = atomic_load(&device->errorCount);
    uint8_t after;
    do {
        after = before == UINT8_MAX ? UINT8_MAX : (uint8_t)(before + 1u);
    } while (!atomic_compare_exchange_weak(&device->errorCount, &before, after));
    if (before < sTOLERATED_ERRORS) {
        return aErrNone;
    }
    atomic_store(&device->state, MVUSB_STATE_FAILED);
    return aErrIO;
}

static uint16_t sMaxPacket(libusb_device* usbDevice, const struct libusb_endpoint_descriptor* endpoint)
{
    int size = libusb_get_max_packet_size(usbDevice, endpoint->bEndpointAddress);
    if (size <= 0) {
        size = endpoint->wMaxPacketSize & 0x7FF;
    }
    return size > 0 && size <= UINT16_MAX ? (uint16_t)size : 0;
}

/* The vendor-specific interface of configuration 0 and its endpoints; when
 * several endpoints qualify for a direction the last one wins. */
static aErr sFindEndpoints(mvusb_device* device, libusb_device* usbDevice)
{
    struct libusb_config_descriptor* config = NULL;
    if (libusb_get_config_descriptor(usbDevice, 0, &config) != 0 || config == NULL) {
        return aErrConfiguration;
    }
    const struct libusb_endpoint_descriptor* in = NULL;
    const struct libusb_endpoint_descriptor* out = NULL;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; i++) {
        const struct libusb_interface* interface = &config->interface[i];
        for (int a = 0; a < interface->num_altsetting && !found; a++) {
            const struct libusb_interface_descriptor* setting = &interface->altsetting[a];
            if (setting->bInterfaceClass != MORVASSET_USB_INTERFACE_CLASS ||
                setting->bInterfaceSubClass != MORVASSET_USB_INTERFACE_SUBCLASS ||
                setting->bInterfaceProtocol != MORVASSET_USB_INTERFACE_PROTOCOL) {
                continue;
            }
            found = true;
            device->interfaceNumber = setting->bInterfaceNumber;
            for (int e = 0; e < setting->bNumEndpoints; e++) {
                const struct libusb_endpoint_descriptor* endpoint = &setting->endpoint[e];
                /* Bit 1: bulk or interrupt. */
                if ((endpoint->bmAttributes & 0x02u) == 0) {
                    continue;
                }
                if ((endpoint->bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
                    in = endpoint;
                } else {
                    out = endpoint;
                }
            }
        }
    }
    aErr err = aErrNone;
    if (in == NULL || out == NULL) {
        err = aErrConfiguration;
    } else {
        device->inEndpoint = in->bEndpointAddress;
        device->outEndpoint = out->bEndpointAddress;
        device->inMaxPacket = sMaxPacket(usbDevice, in);
        device->outMaxPacket = sMaxPacket(usbDevice, out);
        aDEBUG_TRACE(aDEBUG_USB, "In Endpoint Max packet: %d\n", device->inMaxPacket);
        aDEBUG_TRACE(aDEBUG_USB, "Out Endpoint Max packet: %d\n", device->outMaxPacket);
        if (device->outMaxPacket == 0) {
            err = aErrConfiguration;
        }
    }
    libusb_free_config_descriptor(config);
    return err;
}

static aErr sClaimResult(int result)
{
    switch (result) {
    case LIBUSB_SUCCESS:
        return aErrNone;
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_NO_DEVICE:
        return aErrBusy;
    case LIBUSB_ERROR_ACCESS:
        return aErrPermission;
    default:
        return aErrUnknown;
    }
}

/* The endpoints' transfers and a use of the event thread; nothing of them
 * is left on failure. */
static aErr sStartTransfers(mvusb_device* device, libusb_context* context)
{
    device->inPipe = mvusb_pipe_create(MVUSB_RX_SIZE);
    device->outPipe = mvusb_pipe_create(0);
    aErr err = device->inPipe != NULL && device->outPipe != NULL ? mvusb_events_acquire(context) : aErrResource;
    if (err != aErrNone) {
        mvusb_pipe_destroy(&device->inPipe);
        mvusb_pipe_destroy(&device->outPipe);
    }
    return err;
}

/* Once the handle is closed: after event handling has passed, the
 * transfers go, then this device's use of the event thread. */
static void sStopTransfers(mvusb_device* device)
{
    mvusb_events_barrier();
    mvusb_pipe_destroy(&device->inPipe);
    mvusb_pipe_destroy(&device->outPipe);
    mvusb_events_release();
}

/* The device whose serial matched; it ends the search either way. */
static aErr sOpenMatched(mvusb_device* device, libusb_context* context, libusb_device* usbDevice,
                         libusb_device_handle* handle, const char* serialText)
{
    strncpy(device->serial, serialText, sizeof(device->serial) - 1);
    device->handle = handle;
    atomic_store(&device->state, MVUSB_STATE_OPENED);
    struct libusb_device_descriptor descriptor;
    aErr err = libusb_get_device_descriptor(usbDevice, &descriptor) == 0 ? aErrNone : aErrConfiguration;
    if (err == aErrNone) {
        err = sFindEndpoints(device, usbDevice);
    }
    if (err == aErrNone) {
        err = sClaimResult(libusb_claim_interface(handle, device->interfaceNumber));
        if (err == aErrNone) {
            err = sStartTransfers(device, context);
            if (err != aErrNone) {
                (void)libusb_release_interface(handle, device->interfaceNumber);
            }
        }
    }
    if (err == aErrNone) {
        device->rxCount = 0;
        device->rxCursor = 0;
        atomic_store(&device->errorCount, 0);
        atomic_store(&device->state, MVUSB_STATE_READY);
        return aErrNone;
    }
    atomic_store(&device->state, MVUSB_STATE_CLOSED);
    libusb_close(handle);
    device->handle = NULL;
    sClearEndpoints(device);
    return err;
}

/* True when the open device's serial string is exactly serialText. */
static bool sSerialMatches(libusb_device* usbDevice, libusb_device_handle* handle, const char* serialText)
{
    struct libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(usbDevice, &descriptor) != 0 || descriptor.iSerialNumber == 0) {
        return false;
    }
    unsigned char text[MVUSB_SERIAL_SIZE];
    memset(text, 0, sizeof(text));
    /* One byte short of the buffer, so the text always ends in a zero. */
    if (mvusb_read_string_ascii(handle, descriptor.iSerialNumber, text, (int)sizeof(text) - 1) < 0) {
        return false;
    }
    return strcmp((const char*)text, serialText) == 0;
}

aErr mvusb_open_morvasset_USBlib_device(mvusb_device* device, const char* serialText)
{
    if (device == NULL || serialText == NULL || strlen(serialText) >= sizeof(device->serial)) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_LIBUSB || atomic_load(&device->state) == 0 || device->handle != NULL) {
        return aErrResource;
    }
    libusb_context* context = Morvasset_libusb_context();
    libusb_device** list = NULL;
    ssize_t count = context == NULL ? LIBUSB_ERROR_NO_MEM : libusb_get_device_list(context, &list);
    if (count < 0 || list == NULL) {
        atomic_store(&device->state, MVUSB_STATE_CLOSED);
        return aErrResource;
    }
    aErr err = aErrNotFound;
    for (ssize_t i = 0; i < count; i++) {
        libusb_device* usbDevice = list[i];
        if (!is_morvasset_device(usbDevice)) {
            continue;
        }
        libusb_device_handle* handle = NULL;
        if (libusb_open(usbDevice, &handle) != 0 || handle == NULL) {
            continue;
        }
        if (!sSerialMatches(usbDevice, handle, serialText)) {
            libusb_close(handle);
            continue;
        }
        err = sOpenMatched(device, context, usbDevice, handle, serialText);
        break;
    }
    libusb_free_device_list(list, 1);
    if (err != aErrNone) {
        atomic_store(&device->state, MVUSB_STATE_CLOSED);
    }
    return err;
}

/* Result of a write or read attempted outside the ready state. */
static aErr sStateResult(int state)
{
    switch (state) {
    case MVUSB_STATE_CLOSED:
        return aErrConnection;
    case MVUSB_STATE_CREATED:
    case MVUSB_STATE_OPENED:
        return aErrNotReady;
    default:
        return aErrIO;
    }
}

static aErr sWrite(mvusb_device* device, const char* data, size_t length)
{
    aErr result = aErrNone;
    size_t sent = 0;
    int failures = 0;
    while (sent < length && failures < sWRITE_FAILURES) {
        size_t chunk = length - sent;
        if (chunk > device->outMaxPacket) {
            chunk = device->outMaxPacket;
        }
        if (chunk == sAVOIDED_CHUNK) {
            chunk = sAVOIDED_CHUNK - 1u;
        }
        int transferred = 0;
        int rc = mvusb_pipe_bulk(device->outPipe, device->handle, device->outEndpoint, (unsigned char*)(data + sent),
                                 (int)chunk, MVUSB_WRITE_TIMEOUT_MS, &transferred);
        aDEBUG_TRACE(aDEBUG_USB, "libusb lenSent: %d - nSize: %d\n", transferred, (int)chunk);
        if (transferred < 0) {
            transferred = 0;
        } else if ((size_t)transferred > chunk) {
            transferred = (int)chunk;
        }
        /* Also after a failed transfer: what went out must not go again. */
        sent += (size_t)transferred;
        if (rc == LIBUSB_SUCCESS) {
            if (transferred == 0) {
                failures++;
            }
            continue;
        }
        aDEBUG_TRACE(aDEBUG_USB, "libusb error: %d\n", rc);
        failures++;
        if (rc == LIBUSB_ERROR_PIPE) {
            int cleared = libusb_clear_halt(device->handle, device->outEndpoint);
            if (cleared != 0) {
                aDEBUG_TRACE(aDEBUG_USB, "libusb WRITE error clearing halt: %d\n", cleared);
                result = aErrIO;
            }
        }
    }
    if (sent < length) {
        result = aErrWrite;
    }
    return result;
}

aErr mvusb_write_to_USBlib_device(mvusb_device* device, const char* data, size_t length)
{
    if (device == NULL || (data == NULL && length > 0)) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_LIBUSB) {
        return aErrMode;
    }
    int state = atomic_load(&device->state);
    aErr result;
    if (state == MVUSB_STATE_READY) {
        result = sWrite(device, data, length);
    } else {
        result = sStateResult(state);
        if (result == aErrIO) {
            aDEBUG_TRACE(aDEBUG_USB, "libusb WRITE error dev state: %d\n", state);
        }
    }
    return _handleErrorTolerance(device, result);
}

/* One bulk IN transfer into the receive buffer. Bytes that arrived count
 * whatever the transfer's result, so none are lost. */
static aErr sFill(mvusb_device* device)
{
    mvusb_pipe* pipe = device->inPipe;
    int received = 0;
    int rc = mvusb_pipe_bulk(pipe, device->handle, device->inEndpoint, pipe->buffer, pipe->bufferSize,
                             MVUSB_READ_TIMEOUT_MS, &received);
    if (received > 0) {
        if (received > pipe->bufferSize) {
            received = pipe->bufferSize;
        }
        device->rxCursor = 0;
        device->rxCount = (uint32_t)received;
    }
    switch (rc) {
    case LIBUSB_SUCCESS:
    case LIBUSB_ERROR_TIMEOUT:
        return aErrNone;
    case LIBUSB_ERROR_PIPE:
        (void)libusb_clear_halt(device->handle, device->inEndpoint);
        return aErrNotReady;
    default:
        aDEBUG_TRACE(aDEBUG_USB, "libusb READ error bulk transfer: %d\n", rc);
        return aErrIO;
    }
}

aErr mvusb_get_from_USBlib_device(mvusb_device* device, char* byte)
{
    if (device == NULL || byte == NULL) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_LIBUSB) {
        return aErrMode;
    }
    int state = atomic_load(&device->state);
    aErr result = aErrNone;
    if (state == MVUSB_STATE_FAILED) {
        result = aErrIO;
    } else if (device->rxCount == 0) {
        if (state == MVUSB_STATE_READY) {
            result = sFill(device);
        } else {
            result = sStateResult(state);
            if (result == aErrIO) {
                aDEBUG_TRACE(aDEBUG_USB, "libusb READ error dev state: %d\n", state);
            }
        }
    }
    bool delivered = false;
    if (result == aErrNone && device->rxCount > 0) {
        *byte = (char)device->inPipe->buffer[device->rxCursor++];
        device->rxCount--;
        delivered = true;
    }
    result = _handleErrorTolerance(device, result);
    /* A tolerated error or an empty transfer: no byte, so not success. */
    if (result == aErrNone && !delivered) {
        result = aErrNotReady;
    }
    return result;
}

aErr mvusb_close_morvasset_USBlib_device(mvusb_device* device)
{
    if (device == NULL) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_LIBUSB || device->handle == NULL) {
        return aErrMode;
    }
    /* Nothing is in flight once the link's threads are gone; anything still
     * is cancelled here, while the handle is open. */
    (void)mvusb_pipe_settle(device->inPipe);
    (void)mvusb_pipe_settle(device->outPipe);
    (void)libusb_release_interface(device->handle, device->interfaceNumber);
    libusb_close(device->handle);
    device->handle = NULL;
    sStopTransfers(device);
    atomic_store(&device->state, MVUSB_STATE_CLOSED);
    sClearEndpoints(device);
    device->rxCount = 0;
    device->rxCursor = 0;
    return aErrNone;
}
