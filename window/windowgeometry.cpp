#include "window/windowgeometry.h"

#include <QtGlobal>

QRect mainWindowGeometry(const QSize &desktop)
{
    const int width = static_cast<int>(desktop.width() / 1.8);
    const int height = static_cast<int>(desktop.height() / 1.9);
    return QRect(350, 200, width, height);
}

QRect fitWindow(const QRect &wanted, const QSize &natural, const QMargins &frame, const QRect &available)
{
    const QRect room = available.marginsRemoved(frame);
    const QSize size = wanted.size().expandedTo(natural).boundedTo(room.size());
    const int x = qMax(room.left(), qMin(wanted.x(), room.left() + room.width() - size.width()));
    const int y = qMax(room.top(), qMin(wanted.y(), room.top() + room.height() - size.height()));
    return QRect(QPoint(x, y), size);
}
