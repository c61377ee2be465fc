/* A plain C99 caller of the wrapper library: the public header must compile
 * cleanly as C, and the functions must link and report through the Result. */
#include <stdio.h>
#include <string.h>

#include "morvwrappers.h"

static int failures = 0;

static void expect(int ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    const uint32_t id = 0xFFFFFFFEu; /* nothing registered */
    Result result = {-1, -1};
    uint8_t name[8];
    uint8_t partner = 9;
    uint8_t role = 9;
    uint32_t modes[4] = {1, 2, 3, 4};

    system_getSerialNumber(&id, &result, 0);
    expect(result_getValue(&result) == 0 && result_getError(&result) == 3, "system_getSerialNumber reports (0, 3)");

    memset(name, 0x5A, sizeof name);
    result.value = result.error = -1;
    port_getName(&id, &result, 1, name, (uint32_t)sizeof name);
    expect(result_getError(&result) == 3, "port_getName reports error 3");
    expect(name[0] == 0x5A && name[7] == 0x5A, "port_getName leaves the buffer alone");

    result.value = result.error = -1;
    usb_setPortCurrentLimit(&id, &result, 0, 3, 500000u);
    expect(result_getValue(&result) == 0 && result_getError(&result) == 3, "usb_setPortCurrentLimit reports (0, 3)");

    result.value = result.error = -1;
    powerdelivery_unpackDataObjectAttributes(&id, &result, 0, 0x5C, &partner, &role);
    expect(result_getError(&result) == 3 && partner == 9 && role == 9, "unpack touches nothing without a device");

    result.value = result.error = -1;
    usbsystem_setModeList(&id, &result, 0, modes, 4);
    expect(result_getValue(&result) == 0 && result_getError(&result) == 3, "usbsystem_setModeList reports (0, 3)");

    if (failures == 0)
        printf("C caller: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
