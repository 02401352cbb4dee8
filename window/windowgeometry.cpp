#include "window/windowgeometry.h"

QRect mainWindowGeometry(const QSize &desktop)
{
    const int width = static_cast<int>(desktop.width() / 1.8);
    const int height = static_cast<int>(desktop.height() / 1.9);
    return QRect(350, 200, width, height);
}
