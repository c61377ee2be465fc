/* USB enumeration: every attached module, described by a type-1 spec. */
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "aDiscoveryInternal.h"
#include "aUSBEvents.h"

#define SERIAL_TEXT_SIZE 32
#define SERIAL_DIGITS 8

/* Serial strings are "%08X"; anything that is not eight hexadecimal digits
 * is not a module's serial number. */
static bool parseSerial(const unsigned char* text, int length, uint32_t* serialNumber)
{
    if (length != SERIAL_DIGITS)
        return false;
    for (int i = 0; i < SERIAL_DIGITS; ++i)
        if (!isxdigit(text[i]))
            return false;
    *serialNumber = (uint32_t)strtoul((const char*)text, NULL, 16);
    return true;
}

/* 1 when the device is a module whose serial string could be read. */
static int describeDevice(libusb_device* device, linkSpec* spec)
{
    libusb_device_handle* handle = NULL;
    if (libusb_open(device, &handle) != 0 || !handle)
        return 0;
    int ok = 0;
    struct libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) == 0 && descriptor.iSerialNumber != 0) {
        unsigned char text[SERIAL_TEXT_SIZE];
        memset(text, 0, sizeof(text));
        int length = mvusb_read_string_ascii(handle, descriptor.iSerialNumber, text, (int)sizeof(text) - 1);
        uint32_t serialNumber = 0;
        if (parseSerial(text, length, &serialNumber)) {
            memset(spec, 0, sizeof(*spec));
            spec->type = linkTypeUSB;
            spec->serialNumber = serialNumber;
            spec->model = descriptor.idProduct & 0xFF;
            spec->usbId = serialNumber;
            ok = 1;
        }
    }
    libusb_close(handle);
    return ok;
}

uint8_t _enumerateUSBModules(aDiscoveryModuleFoundProc callback, void* reference)
{
    /* A host without USB (libusb cannot start) simply has no modules. */
    libusb_context* context = Morvasset_libusb_context();
    if (!context)
        return 0;
    libusb_device** devices = NULL;
    ssize_t count = libusb_get_device_list(context, &devices);
    if (count < 0 || !devices)
        return 0;

    uint8_t found = 0;
    for (ssize_t i = 0; i < count; ++i) {
        if (!is_morvasset_device(devices[i]))
            continue;
        linkSpec spec;
        if (!describeDevice(devices[i], &spec))
            continue;
        bool accepted = false;
        uint8_t goOn = callback(&spec, &accepted, reference);
        if (accepted)
            found = aDiscovery_CountUp(found);
        if (goOn != 1)
            break;
    }
    libusb_free_device_list(devices, 1);
    return found;
}
