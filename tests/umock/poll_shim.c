/* Preloaded beside umockdev's library, which does not wrap poll() (0.17), so
 * an emulated device node would always read as ready:
 *  - a usbfs node is ready (POLLOUT, as the kernel says of completed URBs)
 *    only while the emulation holds a completed URB for the device, and a
 *    hidraw node is readable only while the emulation has a report queued for
 *    it: the testbed keeps a marker file dev/.ready-<node path with '-' for
 *    '/'> (dev/.ready-hidraw0, dev/.ready-bus-usb-001-002) while that holds;
 *  - a node whose device left the bus (its node file was removed) reports
 *    POLLERR | POLLHUP, as the kernel does.
 * The wait blocks, up to the caller's time-out, on the other descriptors and
 * on inotify watches of the markers' and the nodes' directories, so libusb's
 * event handling of an idle device sleeps instead of asking the emulation for
 * URBs again and again.
 * It also passes TIOCOUTQ on a descriptor that is no emulated node straight to
 * the kernel: umockdev's ioctl wrapper answers it with ENOTTY even on a real
 * pseudo-terminal, which would make every serial write look failed.
 * What it asks the kernel about a descriptor (its /proc/self/fd link, the
 * markers and watches under the testbed's root, which umockdev does not
 * redirect) goes to the kernel directly: umockdev's path wrappers hold its
 * path lock around the real call, and a sanitizer runtime that opens a file
 * meanwhile on the same thread (TSan's symbolizer) would wait for that lock
 * for ever. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum { kNone, kUsbfs, kHidraw, kGone };

/* Longest single wait, should a marker change escape the watches. */
#define kWaitSliceMs 100

/* The kind of the node behind fd; *ready tells whether its marker exists, and
 * dir (when not NULL, 4096 bytes) receives the node's directory. */
static int nodeKind(int fd, int* ready, char* dir)
{
    const char* root = getenv("UMOCKDEV_DIR");
    if (root == NULL || fd < 0)
        return kNone;
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = (ssize_t)syscall(SYS_readlinkat, AT_FDCWD, link, target, sizeof target - 1);
    if (n <= 0)
        return kNone;
    target[n] = '\0';
    static const char deleted[] = " (deleted)";
    size_t r = strlen(root);
    if (strncmp(target, root, r) != 0 || strncmp(target + r, "/dev/", 5) != 0)
        return kNone;
    if ((size_t)n > sizeof deleted && strcmp(target + n - (sizeof deleted - 1), deleted) == 0)
        return kGone;
    if (dir != NULL) {
        snprintf(dir, 4096, "%s", target);
        char* slash = strrchr(dir, '/');
        if (slash != NULL)
            *slash = '\0';
    }
    char marker[4200];
    int length = snprintf(marker, sizeof marker, "%s/dev/.ready-%s", root, target + r + 5);
    for (int i = (int)r + 12; i < length && i < (int)sizeof marker; i++)
        if (marker[i] == '/')
            marker[i] = '-';
    *ready = syscall(SYS_faccessat, AT_FDCWD, marker, F_OK) == 0;
    return strncmp(target + r + 5, "hidraw", 6) == 0 ? kHidraw : kUsbfs;
}

static long long nowUs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

static void watchDir(int watch, const char* dir, unsigned mask)
{
    (void)syscall(SYS_inotify_add_watch, watch, dir, mask);
}

/* Each polling thread holds one inotify descriptor for its life, and a thread
 * that ends hands it on to the next: closing one takes milliseconds (the
 * kernel waits for a grace period), more on a loaded machine. */
static pthread_key_t watchKey;
static pthread_once_t watchKeyOnce = PTHREAD_ONCE_INIT;
static pthread_mutex_t sparesLock = PTHREAD_MUTEX_INITIALIZER;
static int spares[64];
static int spareCount = 0;

static void keepWatch(void* value)
{
    int watch = (int)((intptr_t)value - 1);
    pthread_mutex_lock(&sparesLock);
    if (spareCount < (int)(sizeof spares / sizeof spares[0]))
        spares[spareCount++] = watch;
    else
        syscall(SYS_close, watch);
    pthread_mutex_unlock(&sparesLock);
}

static void makeWatchKey(void)
{
    (void)pthread_key_create(&watchKey, keepWatch);
}

static int newWatch(void)
{
    int watch = -1;
    pthread_mutex_lock(&sparesLock);
    if (spareCount > 0)
        watch = spares[--spareCount];
    pthread_mutex_unlock(&sparesLock);
    return watch >= 0 ? watch : (int)syscall(SYS_inotify_init1, IN_NONBLOCK | IN_CLOEXEC);
}

static void drainWatch(int watch)
{
    char events[4096];
    while (syscall(SYS_read, watch, events, sizeof events) > 0) {
    }
}

/* This thread's inotify descriptor, watching the markers' directory and the
 * directory of every node in fds, with nothing pending; -1 when none can be
 * made. */
static int watchNodes(const struct pollfd* fds, nfds_t count)
{
    (void)pthread_once(&watchKeyOnce, makeWatchKey);
    int watch = (int)((intptr_t)pthread_getspecific(watchKey) - 1);
    if (watch < 0) {
        watch = newWatch();
        if (watch < 0)
            return -1;
        (void)pthread_setspecific(watchKey, (void*)(intptr_t)(watch + 1));
    }
    char dir[4200];
    snprintf(dir, sizeof dir, "%s/dev", getenv("UMOCKDEV_DIR"));
    watchDir(watch, dir, IN_CREATE | IN_MOVED_TO | IN_DELETE);
    for (nfds_t i = 0; i < count; i++) {
        int ready = 0;
        if (nodeKind(fds[i].fd, &ready, dir) != kNone)
            watchDir(watch, dir, IN_DELETE);
    }
    drainWatch(watch);
    return watch;
}

/* Sets the nodes' revents from their markers, over what the kernel said of
 * the rest; the number of descriptors with events. */
static int emulatedEvents(struct pollfd* fds, nfds_t count)
{
    int r = 0;
    for (nfds_t i = 0; i < count; i++) {
        int ready = 0;
        int kind = nodeKind(fds[i].fd, &ready, NULL);
        if (kind == kGone)
            fds[i].revents |= POLLERR | POLLHUP;
        else if (kind == kHidraw)
            fds[i].revents = (short)(fds[i].events & (POLLOUT | (ready ? POLLIN : 0)));
        else if (kind == kUsbfs)
            fds[i].revents = (short)(ready ? fds[i].events & (POLLIN | POLLOUT) : 0);
        if (fds[i].revents != 0)
            r++;
    }
    return r;
}

/* Waits up to ms for the descriptors that are no nodes, or for a change the
 * watch reports. */
static void waitForChange(int (*realPoll)(struct pollfd*, nfds_t, int), const struct pollfd* fds, nfds_t count,
                          int watch, int ms)
{
    struct pollfd local[64];
    if (watch < 0 || count >= sizeof local / sizeof local[0]) {
        struct timespec pause = {0, 200000};
        nanosleep(&pause, NULL);
        return;
    }
    for (nfds_t i = 0; i < count; i++) {
        int ready = 0;
        local[i] = fds[i];
        if (nodeKind(fds[i].fd, &ready, NULL) != kNone)
            local[i].fd = -1;
    }
    local[count] = (struct pollfd){watch, POLLIN, 0};
    if (realPoll(local, count + 1, ms) > 0 && local[count].revents != 0)
        drainWatch(watch);
}

int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    static int (*realPoll)(struct pollfd*, nfds_t, int) = NULL;
    if (realPoll == NULL)
        realPoll = (int (*)(struct pollfd*, nfds_t, int))dlsym(RTLD_NEXT, "poll");
    int nodes = 0;
    for (nfds_t i = 0; i < count; i++) {
        int ready = 0;
        nodes += nodeKind(fds[i].fd, &ready, NULL) != kNone;
    }
    if (nodes == 0)
        return realPoll(fds, count, timeout);
    const long long deadline = timeout < 0 ? -1 : nowUs() + (long long)timeout * 1000;
    /* Watching first: a marker made after the look below still wakes the wait. */
    int watch = timeout == 0 ? -1 : watchNodes(fds, count);
    int r;
    for (;;) {
        r = realPoll(fds, count, 0);
        if (r < 0)
            break;
        r = emulatedEvents(fds, count);
        long long left = deadline < 0 ? kWaitSliceMs * 1000LL : deadline - nowUs();
        if (r > 0 || left <= 0)
            break;
        waitForChange(realPoll, fds, count, watch,
                      left < kWaitSliceMs * 1000LL ? (int)((left + 999) / 1000) : kWaitSliceMs);
    }
    return r;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*nextIoctl)(int, unsigned long, ...) = NULL;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    int ready = 0;
    if (request == TIOCOUTQ && nodeKind(fd, &ready, NULL) == kNone)
        return (int)syscall(SYS_ioctl, fd, request, argument);
    if (nextIoctl == NULL)
        nextIoctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return nextIoctl(fd, request, argument);
}
