/* Preloaded beside umockdev's library, which does not wrap poll() (0.17).
 * An emulated device node always reads as ready, so a poll() that includes one
 * first waits a fifth of a millisecond for anything else: libusb, which asks
 * the node for completed URBs whenever it is ready, then polls at a bounded
 * rate instead of spinning. A node whose device left the bus (its node file
 * was removed) reports POLLERR | POLLHUP, as the kernel does for usbfs; libusb
 * learns of the unplug that way. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* 0: not an emulated node, 1: an emulated node, 2: one whose device is gone. */
static int nodeState(int fd)
{
    const char* root = getenv("UMOCKDEV_DIR");
    if (root == NULL || fd < 0)
        return 0;
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return 0;
    target[n] = '\0';
    static const char deleted[] = " (deleted)";
    size_t r = strlen(root);
    if (strncmp(target, root, r) != 0 || strncmp(target + r, "/dev/", 5) != 0)
        return 0;
    return (size_t)n > sizeof deleted && strcmp(target + n - (sizeof deleted - 1), deleted) == 0 ? 2 : 1;
}

int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    static int (*realPoll)(struct pollfd*, nfds_t, int) = NULL;
    if (realPoll == NULL)
        realPoll = (int (*)(struct pollfd*, nfds_t, int))dlsym(RTLD_NEXT, "poll");
    int nodes = 0;
    for (nfds_t i = 0; i < count; i++)
        nodes += nodeState(fds[i].fd) != 0;
    if (nodes == 0)
        return realPoll(fds, count, timeout);
    int r = realPoll(fds, count, 0);
    if (r == 0 && timeout != 0) {
        struct timespec pause = {0, 200000};
        nanosleep(&pause, NULL);
        r = realPoll(fds, count, 0);
    }
    if (r < 0)
        return r;
    r = 0;
    for (nfds_t i = 0; i < count; i++) {
        int state = nodeState(fds[i].fd);
        if (state == 2)
            fds[i].revents |= POLLERR | POLLHUP;
        else if (state == 1)
            fds[i].revents |= fds[i].events & (POLLIN | POLLOUT);
        if (fds[i].revents != 0)
            r++;
    }
    return r;
}
