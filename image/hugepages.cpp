#include "image/hugepages.h"

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

void preferHugePages(char *data, qint64 size)
{
#ifdef Q_OS_LINUX
    // Only whole pages within the buffer.
    const quintptr page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr start = (quintptr(data) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(page - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    Q_UNUSED(data)
    Q_UNUSED(size)
#endif
}
