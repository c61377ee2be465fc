/* The kernel-node mode of the USB driver: the modules' own kernel driver
 * offers each module as the device node "/dev/morvasset.%08X". */
/* O_CLOEXEC also under a strict C standard. */
#ifndef _POSIX_C_SOURCE
#define _POSIX_C_SOURCE 200809L
#endif

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "aFile.h"
#include "aTime.h"
#include "aUSBDevice.h"

#define sNODE_DIRECTORY "/dev"
#define sNODE_PREFIX "morvasset."
#define sPATH_SIZE 4096
/* How long a get waits for a byte: an idle reader sleeps in poll, and a
 * link that stops can always join its reader. */
#define sGET_WAIT_MS 10
#define sWRITE_CALLS 1000

static pthread_mutex_t sDirectoryLock = PTHREAD_MUTEX_INITIALIZER;
static char sDirectory[sPATH_SIZE] = sNODE_DIRECTORY;

void mvusb_set_node_directory(const char* directory)
{
    pthread_mutex_lock(&sDirectoryLock);
    if (directory == NULL || directory[0] == '\0' || strlen(directory) >= sizeof(sDirectory)) {
        strcpy(sDirectory, sNODE_DIRECTORY);
    } else {
        strcpy(sDirectory, directory);
    }
    pthread_mutex_unlock(&sDirectoryLock);
}

/* False when the path does not fit. */
static bool sNodePath(char* path, size_t size, const char* serialText)
{
    pthread_mutex_lock(&sDirectoryLock);
    int n = snprintf(path, size, "%s/" sNODE_PREFIX "%s", sDirectory, serialText);
    pthread_mutex_unlock(&sDirectoryLock);
    return n > 0 && (size_t)n < size;
}

bool mvusb_is_kernel_driver_installed(uint32_t serialNumber)
{
    char serialText[16];
    snprintf(serialText, sizeof(serialText), "%08X", (unsigned)serialNumber);
    char path[sPATH_SIZE];
    return sNodePath(path, sizeof(path), serialText) && aFile_Exists(path);
}

aErr mvusb_open_morvasset_kernel_device(mvusb_device* device, const char* serialText)
{
    if (device == NULL || serialText == NULL || strlen(serialText) >= sizeof(device->serial)) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_KERNEL) {
        return aErrMode;
    }
    if (device->fd >= 0) {
        return aErrBusy;
    }
    strncpy(device->serial, serialText, sizeof(device->serial) - 1);
    char path[sPATH_SIZE];
    if (!sNodePath(path, sizeof(path), serialText)) {
        return aErrIO;
    }
    /* O_NOCTTY: a node that is a terminal must not become ours. */
    int fd;
    do {
        fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno == EBUSY ? aErrBusy : aErrIO;
    }
    device->fd = fd;
    return aErrNone;
}

aErr mvusb_write_to_kernel_device(mvusb_device* device, const char* data, size_t length)
{
    if (device == NULL || (data == NULL && length > 0)) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_KERNEL || device->fd < 0) {
        return aErrMode;
    }
    size_t done = 0;
    for (int calls = 0; done < length && calls < sWRITE_CALLS; calls++) {
        ssize_t n = write(device->fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                struct pollfd p = {device->fd, POLLOUT, 0};
                (void)poll(&p, 1, sGET_WAIT_MS);
                continue;
            }
            return aErrIO;
        }
        done += (size_t)n;
    }
    return done == length ? aErrNone : aErrIO;
}

aErr mvusb_get_from_kernel_device(mvusb_device* device, char* byte)
{
    if (device == NULL || byte == NULL) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_KERNEL || device->fd < 0) {
        return aErrMode;
    }
    struct pollfd p = {device->fd, POLLIN, 0};
    int ready = poll(&p, 1, sGET_WAIT_MS);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return aErrNotReady;
    }
    if (ready < 0 || (p.revents & POLLNVAL) != 0) {
        return aErrIO;
    }
    ssize_t n = read(device->fd, byte, 1);
    if (n == 1) {
        return aErrNone;
    }
    if (n == 0) {
        /* Nothing while the node reports a hang-up: the module is gone. */
        if ((p.revents & (POLLHUP | POLLERR)) != 0) {
            return aErrIO;
        }
        /* End of data although poll woke us: wait out the bound rather than
         * letting the reader spin. */
        (void)aTime_MSSleep(sGET_WAIT_MS);
        return aErrNotReady;
    }
    if (errno == EFAULT || errno == EINTR || errno == EAGAIN) {
        return aErrNotReady;
    }
    return aErrIO;
}

aErr mvusb_close_morvasset_kernel_device(mvusb_device* device)
{
    if (device == NULL) {
        return aErrParam;
    }
    if (device->mode != MVUSB_MODE_KERNEL) {
        return aErrMode;
    }
    if (device->fd < 0) {
        return aErrNone;
    }
    /* The descriptor is gone after close whatever it returns. */
    int rc = close(device->fd);
    device->fd = -1;
    atomic_store(&device->state, MVUSB_STATE_CLOSED);
    return rc == 0 ? aErrNone : aErrCancel;
}
