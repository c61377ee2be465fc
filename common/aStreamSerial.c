/* Serial tty stream in raw mode; the port's own settings come back when the
 * stream is destroyed. */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "aStream.h"
#include "aTime.h"

#define sSERIAL_CHECK 0xBEEFu
#define sSERIAL_MAX_PATH 4096
/* How long a get waits for a byte before answering "not ready": keeps an idle
 * reader thread asleep instead of spinning. */
#define sGET_WAIT_MS 10
#define sRX_SIZE 256
/* Once the owner is stopping, a port that neither takes nor sends a byte
 * for this long is given up on. */
#define sCANCEL_STALL_MS 100u
/* A blocked write looks for room and at the cancel flag this often. */
#define sSLICE_MS 20
/* A queue that did not shrink since the last look is looked at no more often
 * than this. */
#define sDRAIN_STALLED_US 2000u

typedef struct {
    int baudIndex;
    uint32_t bitsPerCharacter; /* start, data, parity and stop bits */
    char path[sSERIAL_MAX_PATH];
    int fd; /* -1 when none */
    bool haveSaved;
    struct termios saved;
    struct termios applied;
    /* Writer only: the last write gave up on a port without room. */
    bool stalled;
    /* Any thread: the owner is stopping. */
    atomic_bool cancelled; /* set by the stopping owner, read by the writer */
    /* Reader only: bytes read but not yet handed out. */
    char rx[sRX_SIZE];
    size_t rxLength;
    size_t rxPosition;
    uint16_t check;
} sSerialRef;

static const speed_t sSPEEDS[8] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
static const uint32_t sBAUDS[8] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

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

/* Bytes still in the port's output queue; -1 when it cannot be asked. */
static int sQueued(int fd)
{
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

/* Whether a write may wait on: always while the owner runs (a far end that
 * reads slowly holds the writer as a blocking write would); once the owner
 * is stopping, only while the port made progress within sCANCEL_STALL_MS,
 * and not at all on a port a write already gave up on. */
static bool sMayWait(const sSerialRef* ref, uint64_t progressAt)
{
    if (!atomic_load_explicit(&ref->cancelled, memory_order_acquire)) {
        return true;
    }
    return !ref->stalled && aTime_GetMSTicks() - progressAt < sCANCEL_STALL_MS;
}

uint32_t aStream_SerialDrainWaitUs(uint32_t queued, uint32_t baud, uint32_t bitsPerCharacter, bool progressed)
{
    const uint64_t slice = (uint64_t)sSLICE_MS * 1000u;
    if (queued == 0) {
        return 0;
    }
    if (baud == 0 || bitsPerCharacter == 0) {
        return (uint32_t)slice;
    }
    uint64_t bits = (uint64_t)queued * bitsPerCharacter;
    uint64_t us = (bits * 1000000u + baud - 1) / baud;
    if (!progressed && us < sDRAIN_STALLED_US) {
        us = sDRAIN_STALLED_US;
    }
    return (uint32_t)(us < slice ? us : slice);
}

static void sSleepUs(uint32_t us)
{
    struct timespec left = {(time_t)(us / 1000000u), (long)(us % 1000000u) * 1000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

/* Waits until the output queue is empty, each wait sized by the line time
 * of what is still queued. Once it is empty, tcdrain waits only for the last
 * characters in the hardware, a bounded time; while bytes are queued it
 * could wait for ever. */
static aErr sDrain(sSerialRef* ref, uint64_t progressAt)
{
    const uint32_t baud = sBAUDS[ref->baudIndex];
    int queued = sQueued(ref->fd);
    bool progressed = true;
    while (queued > 0) {
        if (!sMayWait(ref, progressAt)) {
            ref->stalled = true;
            return aErrTimeout;
        }
        sSleepUs(aStream_SerialDrainWaitUs((uint32_t)queued, baud, ref->bitsPerCharacter, progressed));
        int now = sQueued(ref->fd);
        progressed = now >= 0 && now < queued;
        if (progressed) {
            progressAt = aTime_GetMSTicks();
        }
        queued = now;
    }
    if (queued < 0) {
        return aErrIO;
    }
    int drained;
    do {
        drained = tcdrain(ref->fd);
    } while (drained != 0 && errno == EINTR);
    return drained == 0 ? aErrNone : aErrIO;
}

/* The descriptor never blocks: the port takes the block in parts as it has
 * room, and the wait for room looks at the cancel flag every slice. */
static aErr sSerialWrite(const char* data, size_t length, void* reference)
{
    sSerialRef* ref = (sSerialRef*)reference;
    if (!sValid(ref) || data == NULL) {
        return aErrParam;
    }
    if (length == 0) {
        return aErrNone;
    }
    uint64_t progressAt = aTime_GetMSTicks();
    int queued = sQueued(ref->fd);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(ref->fd, data + done, length - done);
        if (n > 0) {
            done += (size_t)n;
            ref->stalled = false;
            progressAt = aTime_GetMSTicks();
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return aErrIO;
        }
        int now = sQueued(ref->fd);
        if (now >= 0 && now < queued) {
            progressAt = aTime_GetMSTicks();
        }
        queued = now;
        if (!sMayWait(ref, progressAt)) {
            ref->stalled = true;
            return aErrTimeout;
        }
        /* Room is reported only once the queue is nearly empty; look again
         * every slice so that a slowly emptying queue is used as it goes. */
        struct pollfd p = {ref->fd, POLLOUT, 0};
        (void)poll(&p, 1, sSLICE_MS);
    }
    return sDrain(ref, progressAt);
}

static void sSerialCancel(void* reference)
{
    sSerialRef* ref = (sSerialRef*)reference;
    if (ref != NULL) {
        atomic_store_explicit(&ref->cancelled, true, memory_order_release);
    }
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
        /* Only bytes of a write that gave up can still be queued; a close
         * would wait for them (up to the port's closing wait). */
        (void)tcflush(ref->fd, TCOFLUSH);
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
    /* Never blocking: a write waits for room with poll, in slices;
     * reads return at once either way, as VMIN and VTIME are 0. */
    if (fcntl(ref->fd, F_SETFL, O_NONBLOCK) != 0) {
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
    ref->bitsPerCharacter = 1u + (dataBits == 1 ? 7u : 8u) + (parity ? 1u : 0u) + (stopBits == 1 ? 2u : 1u);
    memcpy(ref->path, path, length + 1);
    ref->check = sSERIAL_CHECK;

    aStream* stream = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, ref);
    if (stream == NULL) {
        ref->check = 0;
        free(ref);
        return aErrResource;
    }
    aStream_SetCancel(stream, sSerialCancel);
    aErr err = sStreamOpenSerial(ref, parity, dataBits, stopBits);
    if (err != aErrNone) {
        aStream_Destroy(&stream);
        return err;
    }
    *out = stream;
    return aErrNone;
}
