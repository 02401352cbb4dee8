#include "image/hugepages.h"

#include <sys/mman.h>
#include <unistd.h>

void preferHugePages(char *data, qint64 size)
{
    // Only whole pages within the buffer.
    const quintptr page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr start = (quintptr(data) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(page - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}
