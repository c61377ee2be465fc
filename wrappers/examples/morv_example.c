/* A whole C program on the wrapper library: connects the module at a TCP/IP
 * address, reads its serial number through the system entity and
 * disconnects. Every outcome is an error code of morvwrappers.h.
 *
 * Usage: morv_example ADDRESS PORT    (for example: morv_example 127.0.0.1 9000)
 * Exit code 0 when the serial number was read, 1 when connecting or the call
 * failed, 2 for a wrong command line.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <morvwrappers.h>

/* "a.b.c.d" as morv_connectAddress takes it: in host order, a the top byte. */
static int parseAddress(const char* text, uint32_t* address)
{
    unsigned int a, b, c, d;
    char end;
    if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return 0;
    *address = (uint32_t)a << 24 | (uint32_t)b << 16 | (uint32_t)c << 8 | (uint32_t)d;
    return 1;
}

static int parsePort(const char* text, uint16_t* port)
{
    char* end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > 65535)
        return 0;
    *port = (uint16_t)value;
    return 1;
}

int main(int argc, char** argv)
{
    uint32_t address = 0;
    uint16_t port = 0;
    if (argc != 3 || !parseAddress(argv[1], &address) || !parsePort(argv[2], &port)) {
        fprintf(stderr, "usage: morv_example ADDRESS PORT (for example: morv_example 127.0.0.1 9000)\n");
        return 2;
    }

    uint32_t id = 0;
    int32_t error = morv_connectAddress(address, port, &id);
    if (error != 0) {
        fprintf(stderr, "morv_example: cannot connect to %s port %s: error %d\n", argv[1], argv[2], (int)error);
        return 1;
    }

    Result result;
    system_getSerialNumber(&id, &result, 0);
    error = result_getError(&result);
    if (error == 0)
        printf("serial number %08X\n", (unsigned int)(uint32_t)result_getValue(&result));
    else
        fprintf(stderr, "morv_example: system_getSerialNumber: error %d\n", (int)error);

    morv_disconnect(id);
    return error == 0 ? 0 : 1;
}
