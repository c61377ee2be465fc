/* Preloaded beside umockdev's library, which does not wrap poll() (0.17), so
 * an emulated device node would always read as ready:
 *  - a usbfs node reads as ready only after a fifth of a millisecond with
 *    nothing else ready: libusb, which asks the node for completed URBs
 *    whenever it is ready, then polls at a bounded rate instead of spinning;
 *  - a hidraw node is readable only while the emulation has a report queued
 *    for it (the file dev/.ready-hidrawN of the testbed exists);
 *  - a node whose device left the bus (its node file was removed) reports
 *    POLLERR | POLLHUP, as the kernel does.
 * Waiting is done in short sleeps up to the caller's time-out.
 * It also passes TIOCOUTQ on a descriptor that is no emulated node straight to
 * the kernel: umockdev's ioctl wrapper answers it with ENOTTY even on a real
 * pseudo-terminal, which would make every serial write look failed.
 * What it asks the kernel about a descriptor (its /proc/self/fd link, the
 * hidraw marker under the testbed's root, which umockdev does not redirect)
 * goes to the kernel directly: umockdev's path wrappers hold its path lock
 * around the real call, and a sanitizer runtime that opens a file meanwhile
 * on the same thread (TSan's symbolizer) would wait for that lock for ever. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum { kNone, kUsbfs, kHidraw, kGone };

static int nodeKind(int fd, int* hidReady)
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
    if (strncmp(target + r + 5, "hidraw", 6) == 0) {
        char ready[4200];
        snprintf(ready, sizeof ready, "%s/dev/.ready-%s", root, target + r + 5);
        *hidReady = syscall(SYS_faccessat, AT_FDCWD, ready, F_OK) == 0;
        return kHidraw;
    }
    return kUsbfs;
}

static long long nowUs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    static int (*realPoll)(struct pollfd*, nfds_t, int) = NULL;
    if (realPoll == NULL)
        realPoll = (int (*)(struct pollfd*, nfds_t, int))dlsym(RTLD_NEXT, "poll");
    int nodes = 0;
    for (nfds_t i = 0; i < count; i++) {
        int ready = 0;
        nodes += nodeKind(fds[i].fd, &ready) != kNone;
    }
    if (nodes == 0)
        return realPoll(fds, count, timeout);
    const long long deadline = timeout < 0 ? -1 : nowUs() + (long long)timeout * 1000;
    for (int round = 0;; round++) {
        int r = realPoll(fds, count, 0);
        if (r < 0)
            return r;
        int usbfs = 0;
        r = 0;
        for (nfds_t i = 0; i < count; i++) {
            int ready = 0;
            int kind = nodeKind(fds[i].fd, &ready);
            if (kind == kGone)
                fds[i].revents |= POLLERR | POLLHUP;
            else if (kind == kHidraw)
                fds[i].revents = (short)(fds[i].events & (POLLOUT | (ready ? POLLIN : 0)));
            else if (kind == kUsbfs)
                usbfs++;
            if (fds[i].revents != 0)
                r++;
        }
        const int expired = deadline >= 0 && nowUs() >= deadline;
        if (r > 0 && usbfs == 0)
            return r;
        if (usbfs > 0 && (round > 0 || timeout == 0 || r > 0 || expired)) {
            for (nfds_t i = 0; i < count; i++) {
                int ready = 0;
                if (nodeKind(fds[i].fd, &ready) == kUsbfs) {
                    if (fds[i].revents == 0)
                        r++;
                    fds[i].revents |= fds[i].events & (POLLIN | POLLOUT);
                }
            }
            return r;
        }
        if (expired)
            return 0;
        struct timespec pause = {0, 200000};
        nanosleep(&pause, NULL);
    }
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*nextIoctl)(int, unsigned long, ...) = NULL;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    int hidReady = 0;
    if (request == TIOCOUTQ && nodeKind(fd, &hidReady) == kNone)
        return (int)syscall(SYS_ioctl, fd, request, argument);
    if (nextIoctl == NULL)
        nextIoctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return nextIoctl(fd, request, argument);
}
