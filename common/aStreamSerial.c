/* Serial tty stream in raw mode; the port's own settings come back when the
 * stream is destroyed. */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "aStream.h"

#define sSERIAL_CHECK 0xBEEFu
#define sSERIAL_MAX_PATH 4096
/* How long a get waits for a byte before answering "not ready": keeps an idle
 * reader thread asleep instead of spinning. */
#define sGET_WAIT_MS 10
#define sRX_SIZE 256

typedef struct {
    int baudIndex;
    char path[sSERIAL_MAX_PATH];
    int fd; /* -1 when none */
    bool haveSaved;
    struct termios saved;
    struct termios applied;
    /* Reader only: bytes read but not yet handed out. */
    char rx[sRX_SIZE];
    size_t rxLength;
    size_t rxPosition;
    uint16_t check;
} sSerialRef;

static const speed_t sSPEEDS[8] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};

static bool sValid(const sSerialRef* ref)
{
    return ref != NULL && ref->check == sSERIAL_CHECK && ref->fd >= 0;
}

static aErr sSerialGet(char* byte, void* reference)
{
    sSerialRef* ref = (sSerialRef*)reference;
    if (!sValid(ref) || byte == NULL) {
        return aErrParam;
    }
    if (ref->rxPosition >= ref->rxLength) {
        struct pollfd p = {ref->fd, POLLIN, 0};
        int ready = poll(&p, 1, sGET_WAIT_MS);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            return aErrNotReady;
        }
        if (ready < 0) {
            return aErrIO;
        }
        ssize_t n = read(ref->fd, ref->rx, sizeof(ref->rx));
        if (n < 0) {
            return (errno == EAGAIN || errno == EINTR) ? aErrNotReady : aErrIO;
        }
        if (n == 0) {
            /* Nothing while the port reports a hang-up: the line is gone. */
            return (p.revents & (POLLHUP | POLLERR)) != 0 ? aErrIO : aErrNotReady;
        }
        ref->rxLength = (size_t)n;
        ref->rxPosition = 0;
    }
    *byte = ref->rx[ref->rxPosition++];
    return aErrNone;
}

static aErr sSerialWrite(const char* data, size_t length, void* reference)
{
    sSerialRef* ref = (sSerialRef*)reference;
    if (!sValid(ref) || data == NULL) {
        return aErrParam;
    }
    if (length == 0) {
        return aErrNone;
    }
    ssize_t n;
    do {
        n = write(ref->fd, data, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || (size_t)n != length) {
        return aErrIO;
    }
    int drained;
    do {
        drained = tcdrain(ref->fd);
    } while (drained != 0 && errno == EINTR);
    return drained == 0 ? aErrNone : aErrIO;
}

static aErr sSerialPut(const char* byte, void* reference)
{
    return sSerialWrite(byte, 1, reference);
}

static aErr sSerialDelete(void* reference)
{
    sSerialRef* ref = (sSerialRef*)reference;
    if (ref == NULL || ref->check != sSERIAL_CHECK) {
        return aErrParam;
    }
    aErr err = aErrNone;
    if (ref->fd >= 0) {
        if (ref->haveSaved && tcsetattr(ref->fd, TCSANOW, &ref->saved) != 0) {
            err = aErrIO;
        }
        if (close(ref->fd) != 0 && err == aErrNone) {
            err = aErrIO;
        }
        ref->fd = -1;
    }
    ref->haveSaved = false;
    ref->check = 0;
    free(ref);
    return err;
}

static aErr sOpenError(int error)
{
    switch (error) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
        return aErrPermission;
    default:
        return aErrIO;
    }
}

static aErr sStreamOpenSerial(sSerialRef* ref, bool parity, int dataBits, int stopBits)
{
    ref->fd = open(ref->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ref->fd < 0) {
        ref->fd = -1;
        return sOpenError(errno);
    }
    /* Blocking from here on: writes wait for room; reads still return at
     * once, as VMIN and VTIME are 0. */
    if (fcntl(ref->fd, F_SETFL, 0) != 0) {
        return aErrIO;
    }
    if (tcgetattr(ref->fd, &ref->saved) != 0) {
        return aErrIO;
    }
    ref->haveSaved = true;

    /* Assigned whole, as raw mode: nothing of the old settings survives but
     * the line discipline. */
    struct termios t = ref->saved;
    cfmakeraw(&t);
    t.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CREAD | CLOCAL | (parity ? PARENB : 0) | (dataBits == 1 ? CS7 : CS8) |
                (stopBits == 1 ? CSTOPB : 0);
    if (cfsetispeed(&t, sSPEEDS[ref->baudIndex]) != 0 ||
        cfsetospeed(&t, sSPEEDS[ref->baudIndex]) != 0) {
        return aErrIO;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ref->applied = t;

    if (tcsetattr(ref->fd, TCSANOW, &ref->applied) != 0) {
        return aErrIO;
    }
    if (tcflush(ref->fd, TCIOFLUSH) != 0) {
        return aErrIO;
    }
    return aErrNone;
}

aErr aStream_CreateSerial(const char* path, int baudIndex, bool parity, int dataBits, int stopBits,
                          aStream** out)
{
    if (out != NULL) {
        *out = NULL;
    }
    if (path == NULL || out == NULL || dataBits < 0 || dataBits > 1 || stopBits < 0 ||
        stopBits > 1) {
        return aErrResource;
    }
    if (baudIndex < 0 || baudIndex > 7) {
        return aErrParam;
    }
    size_t length = strlen(path);
    if (length >= sSERIAL_MAX_PATH) {
        return aErrFileNameLength;
    }
    sSerialRef* ref = (sSerialRef*)calloc(1, sizeof(sSerialRef));
    if (ref == NULL) {
        return aErrResource;
    }
    ref->fd = -1;
    ref->baudIndex = baudIndex;
    memcpy(ref->path, path, length + 1);
    ref->check = sSERIAL_CHECK;

    aStream* stream = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, ref);
    if (stream == NULL) {
        ref->check = 0;
        free(ref);
        return aErrResource;
    }
    aErr err = sStreamOpenSerial(ref, parity, dataBits, stopBits);
    if (err != aErrNone) {
        aStream_Destroy(&stream);
        return err;
    }
    *out = stream;
    return aErrNone;
}
