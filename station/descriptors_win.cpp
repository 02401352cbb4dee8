#include "station/descriptors.h"

bool makeRoomForDescriptors(qint64 needed, qint64 *limit)
{
    // A socket is a handle, and a process may hold millions of them.
    Q_UNUSED(needed)
    Q_UNUSED(limit)
    return true;
}
