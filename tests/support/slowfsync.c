/* Preloaded into a program under test: every fsync() takes SLOW_FSYNC_MSEC
 * longer, as on a USB stick or a network share. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

int fsync(int fd)
{
    static int (*real)(int);
    const char *delay = getenv("SLOW_FSYNC_MSEC");
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (delay) {
        const long msec = atol(delay);
        const struct timespec pause = {msec / 1000, (msec % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
    return real(fd);
}
