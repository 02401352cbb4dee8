#include "image/hugepages.h"

void preferHugePages(char *data, qint64 size)
{
    // Transparent huge pages are Linux's.
    Q_UNUSED(data)
    Q_UNUSED(size)
}
