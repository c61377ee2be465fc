/* The USB driver's device object; private to the driver's sources. */
#ifndef MORV_AUSBDEVICE_H
#define MORV_AUSBDEVICE_H

#ifdef __cplusplus
#error "aUSBDevice.h is private to the C sources of the USB driver"
#endif

#include <stdatomic.h>

#include "aUSBDriver.h"
#include "aUSBEvents.h"

#define MVUSB_RX_SIZE 1024

struct mvusb_device {
    int mode;
    char serial[MVUSB_SERIAL_SIZE];
    int fd; /* kernel node, -1 when none */
    libusb_device_handle* handle;
    /* The reader and the writer thread both read and change these two. */
    _Atomic int state;
    _Atomic uint8_t errorCount; /* consecutive aErrIO results, saturating */
    uint8_t interfaceNumber;
    uint8_t outEndpoint;
    uint8_t inEndpoint;
    /* Allocated at open, freed at close. The IN pipe's buffer holds what
     * the last read transfer received; reader only, as is outPipe writer only. */
    mvusb_pipe* inPipe;
    mvusb_pipe* outPipe;
    /* Reader only. */
    size_t rxCursor;
    uint32_t rxCount;
    uint16_t inMaxPacket;
    uint16_t outMaxPacket;
};

#endif
