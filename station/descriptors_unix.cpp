#include "station/descriptors.h"

#include <sys/resource.h>

bool makeRoomForDescriptors(qint64 needed, qint64 *limit)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || (files.rlim_cur != RLIM_INFINITY && rlim_t(needed) <= files.rlim_cur))
        return true;
    if (files.rlim_max != RLIM_INFINITY && rlim_t(needed) > files.rlim_max) {
        *limit = qint64(files.rlim_max);
        return false;
    }
    files.rlim_cur = rlim_t(needed);
    return setrlimit(RLIMIT_NOFILE, &files) == 0 || (*limit = qint64(files.rlim_cur), false);
}
