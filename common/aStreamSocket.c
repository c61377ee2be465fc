/* TCP client stream. The reader and the writer run on different threads and
 * either may find the connection lost; a reconnection is serialised by the
 * reference's lock and counted in its generation, so the one that comes
 * second just uses the new connection. The descriptor number stays the same
 * for the life of the stream (a reconnection puts the new socket in place
 * with dup2), so a thread waiting on it never touches a reused number. */
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "aMutex.h"
#include "aStream.h"
#include "aTime.h"

#define sSOCKET_CHECK 0xDEADu
#define sCONNECTED 0x1u

/* How long a get waits for a byte before answering "not ready": keeps an idle
 * reader thread asleep instead of spinning. */
#define sGET_WAIT_MS 10
#define sCONNECT_TIMEOUT_MS 2000
#define sWRITE_RETRY_MS 60
#define sWRITE_MAX_FAILURES 10
#define sCLOSE_PAUSE_MS 10
#define sRX_SIZE 4096

typedef struct {
    int port;
    struct sockaddr_in address;
    int fd; /* -1 when none */
    atomic_uint flags;
    atomic_uint generation;
    aMutex* lock; /* held around each recv, send and reconnection */
    /* Reader only: bytes received but not yet handed out. */
    char rx[sRX_SIZE];
    size_t rxLength;
    size_t rxPosition;
    unsigned int rxGeneration;
    uint16_t check;
} sSocketRef;

typedef enum { sRECV_BYTES, sRECV_NONE, sRECV_LOST, sRECV_FAILED } sRecvResult;

static bool sValid(const sSocketRef* ref)
{
    return ref != NULL && ref->check == sSOCKET_CHECK;
}

static bool sConnected(sSocketRef* ref)
{
    return (atomic_load(&ref->flags) & sCONNECTED) != 0;
}

static aErr sApplyOptions(int fd)
{
    int on = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0) {
        return aErrIO;
    }
    struct timeval none = {0, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none)) != 0) {
        return aErrIO;
    }
    /* Closing resets the connection at once instead of lingering. */
    struct linger linger = {1, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &linger, sizeof(linger)) != 0) {
        return aErrIO;
    }
    if (ioctl(fd, FIONBIO, &on) != 0) {
        return aErrIO;
    }
    return aErrNone;
}

static aErr sConnectError(int error)
{
    switch (error) {
    case EAGAIN:
    case ECONNRESET:
    case ETIMEDOUT:
    case ECONNREFUSED:
        return aErrConnection;
    default:
        return aErrIO;
    }
}

/* Connects ref->fd (which must be a fresh socket) within the time-out. */
static aErr sConnectBounded(sSocketRef* ref)
{
    int fd = ref->fd;
    int on = 1;
    if (ioctl(fd, FIONBIO, &on) != 0) {
        return aErrIO;
    }
    if (connect(fd, (const struct sockaddr*)&ref->address, sizeof(ref->address)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return sConnectError(errno);
        }
        uint64_t deadline = aTime_DeadlineAfter(sCONNECT_TIMEOUT_MS);
        for (;;) {
            uint64_t now = aTime_GetMSTicks();
            if (now >= deadline) {
                return sConnectError(ETIMEDOUT);
            }
            struct pollfd p = {fd, POLLOUT, 0};
            int ready = poll(&p, 1, (int)(deadline - now));
            if (ready > 0) {
                break;
            }
            if (ready < 0 && errno != EINTR) {
                return aErrIO;
            }
        }
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            return aErrIO;
        }
        if (error != 0) {
            return sConnectError(error);
        }
    }
    return sApplyOptions(fd);
}

/* Creation (no descriptor yet) or reconnection (caller holds the lock). */
static aErr sSocketConnect(sSocketRef* ref)
{
    if (!sValid(ref)) {
        return aErrInitialization;
    }
    /* The connected bit stays set while this runs: the other thread waits
     * on the lock and then uses the new connection. */
    int fresh = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ref->fd >= 0) {
        if (fresh < 0) {
            atomic_fetch_and(&ref->flags, ~sCONNECTED);
            shutdown(ref->fd, SHUT_RDWR);
            return aErrIO;
        }
        /* Closes the old connection (reset, as it lingers 0) and keeps the
         * descriptor number in use. */
        if (dup2(fresh, ref->fd) < 0) {
            close(fresh);
            atomic_fetch_and(&ref->flags, ~sCONNECTED);
            shutdown(ref->fd, SHUT_RDWR);
            return aErrIO;
        }
        close(fresh);
        aTime_MSSleep(sCLOSE_PAUSE_MS);
    } else {
        if (fresh < 0) {
            return aErrIO;
        }
        ref->fd = fresh;
    }
    aErr err = sConnectBounded(ref);
    if (err == aErrNone) {
        atomic_fetch_or(&ref->flags, sCONNECTED);
    } else {
        atomic_fetch_and(&ref->flags, ~sCONNECTED);
        /* Drop whatever half-made connection the socket has. */
        shutdown(ref->fd, SHUT_RDWR);
    }
    return err;
}

/* Reconnects unless the other thread already did since generation seen. */
static aErr sSocketReconnect(sSocketRef* ref, unsigned int seen)
{
    aMutex_Lock(ref->lock);
    aErr err;
    if (atomic_load(&ref->generation) != seen) {
        err = sConnected(ref) ? aErrNone : aErrConnection;
    } else {
        err = sSocketConnect(ref);
        atomic_fetch_add(&ref->generation, 1u);
    }
    aMutex_Unlock(ref->lock);
    return err;
}

static bool sLostConnection(int error)
{
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT || error == EPIPE;
}

/* One recv into the reader's buffer. */
static sRecvResult sSocketFill(sSocketRef* ref, unsigned int* generation)
{
    aMutex_Lock(ref->lock);
    *generation = atomic_load(&ref->generation);
    if (!sConnected(ref)) {
        aMutex_Unlock(ref->lock);
        return sRECV_FAILED;
    }
    ssize_t n = recv(ref->fd, ref->rx, sizeof(ref->rx), MSG_DONTWAIT);
    int error = errno;
    aMutex_Unlock(ref->lock);

    if (n > 0) {
        ref->rxLength = (size_t)n;
        ref->rxPosition = 0;
        ref->rxGeneration = *generation;
        return sRECV_BYTES;
    }
    if (n == 0) {
        return sRECV_LOST; /* the peer closed its side */
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        return sRECV_NONE;
    }
    return sLostConnection(error) ? sRECV_LOST : sRECV_FAILED;
}

static aErr sSocketGet(char* byte, void* reference)
{
    sSocketRef* ref = (sSocketRef*)reference;
    if (!sValid(ref) || byte == NULL) {
        return aErrParam;
    }
    if (ref->rxPosition < ref->rxLength) {
        if (ref->rxGeneration == atomic_load(&ref->generation)) {
            *byte = ref->rx[ref->rxPosition++];
            return aErrNone;
        }
        /* Left over from a connection the writer has replaced. */
        ref->rxLength = 0;
        ref->rxPosition = 0;
    }
    if (!sConnected(ref)) {
        return aErrConnection;
    }
    struct pollfd p = {ref->fd, POLLIN, 0};
    int ready = poll(&p, 1, sGET_WAIT_MS);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return aErrNotReady;
    }

    unsigned int generation = 0;
    sRecvResult result = sSocketFill(ref, &generation);
    if (result == sRECV_LOST) {
        aErr err = sSocketReconnect(ref, generation);
        if (err != aErrNone) {
            return err;
        }
        result = sSocketFill(ref, &generation);
        if (result == sRECV_LOST) {
            result = sRECV_FAILED; /* one reconnection per failed read */
        }
    }
    switch (result) {
    case sRECV_BYTES:
        *byte = ref->rx[ref->rxPosition++];
        return aErrNone;
    case sRECV_NONE:
        return aErrNotReady;
    default:
        return aErrConnection;
    }
}

static void sWaitWritable(int fd)
{
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, sWRITE_RETRY_MS) < 0) {
        aTime_MSSleep(sWRITE_RETRY_MS);
    }
}

static aErr sSocketWrite(const char* data, size_t length, void* reference)
{
    sSocketRef* ref = (sSocketRef*)reference;
    if (!sValid(ref) || data == NULL) {
        return aErrParam;
    }
    if (!sConnected(ref)) {
        return aErrConnection;
    }
    if (length == 0) {
        return aErrNone;
    }
    size_t sent = 0;
    int failures = 0;
    unsigned int blockGeneration = atomic_load(&ref->generation);
    for (;;) {
        aMutex_Lock(ref->lock);
        unsigned int generation = atomic_load(&ref->generation);
        if (!sConnected(ref)) {
            aMutex_Unlock(ref->lock);
            return aErrConnection;
        }
        if (generation != blockGeneration) {
            /* Packets carry no start marker: a new connection gets the
             * whole block, never the rest of one. */
            sent = 0;
            blockGeneration = generation;
        }
        ssize_t n = send(ref->fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        int error = errno;
        aMutex_Unlock(ref->lock);

        if (n > 0) {
            sent += (size_t)n;
            if (sent == length) {
                return aErrNone;
            }
            failures = 1;
        } else if (n == 0 || error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            failures++;
        } else if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) {
            aErr err = sSocketReconnect(ref, generation);
            if (err != aErrNone) {
                return err;
            }
            failures++;
        } else {
            return aErrIO;
        }
        if (failures >= sWRITE_MAX_FAILURES) {
            return aErrTimeout; /* the peer took nothing for too long */
        }
        sWaitWritable(ref->fd);
    }
}

static aErr sSocketPut(const char* byte, void* reference)
{
    return sSocketWrite(byte, 1, reference);
}

static void sSocketRefFree(sSocketRef* ref)
{
    if (ref->fd >= 0) {
        atomic_store(&ref->flags, 0u);
        close(ref->fd);
        ref->fd = -1;
        aTime_MSSleep(sCLOSE_PAUSE_MS);
    }
    aMutex_Destroy(&ref->lock);
    ref->check = 0;
    free(ref);
}

static aErr sSocketDelete(void* reference)
{
    sSocketRef* ref = (sSocketRef*)reference;
    if (!sValid(ref)) {
        return aErrParam;
    }
    sSocketRefFree(ref);
    return aErrNone;
}

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** out)
{
    if (out == NULL) {
        return aErrResource;
    }
    *out = NULL;
    sSocketRef* ref = (sSocketRef*)calloc(1, sizeof(sSocketRef));
    if (ref == NULL) {
        return aErrResource;
    }
    ref->fd = -1;
    ref->port = port;
    ref->address.sin_family = AF_INET;
    ref->address.sin_port = htons(port);
    ref->address.sin_addr.s_addr = address;
    ref->check = sSOCKET_CHECK;
    ref->lock = aMutex_Create("aStream_Socket");
    if (ref->lock == NULL) {
        ref->check = 0;
        free(ref);
        return aErrResource;
    }
    if (sSocketConnect(ref) != aErrNone) {
        sSocketRefFree(ref);
        return aErrResource;
    }
    aStream* stream = aStream_Create(sSocketGet, sSocketPut, sSocketWrite, sSocketDelete, ref);
    if (stream == NULL) {
        sSocketRefFree(ref);
        return aErrResource;
    }
    *out = stream;
    return aErrNone;
}
