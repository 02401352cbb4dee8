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

namespace {

// A position: the last logical one Qt does not turn into one beyond it (the
// one that lands on it, where there is one), so that a window that cannot be
// shorter still ends within the room.
int logicalPosition(int native, qreal scale)
{
    int logical = qRound(native / scale) + 1;
    while (qRound(logical * scale) > native)
        --logical;
    return logical;
}

// A length: the longest whose scaled length does not exceed it.
int logicalLength(int native, qreal scale)
{
    int logical = qRound(native / scale) + 1;
    while (logical > 0 && qRound(logical * scale) > native)
        --logical;
    return logical;
}

} // namespace

QRect logicalGeometry(const QRect &native, qreal scale)
{
    const int x = logicalPosition(native.x(), scale);
    const int y = logicalPosition(native.y(), scale);
    // The far edges too stay within the native ones.
    const int right = native.x() + native.width();
    const int bottom = native.y() + native.height();
    return QRect(x, y, logicalLength(right - qRound(x * scale), scale),
                 logicalLength(bottom - qRound(y * scale), scale));
}
