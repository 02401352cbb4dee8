#ifndef WINDOWGEOMETRY_H
#define WINDOWGEOMETRY_H

#include <QRect>
#include <QSize>

// Where the main window opens for a desktop of the given size: a fixed corner
// and a size that is a fixed fraction of the desktop, truncated to whole pixels.
QRect mainWindowGeometry(const QSize &desktop);

#endif // WINDOWGEOMETRY_H
