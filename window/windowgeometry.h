#ifndef WINDOWGEOMETRY_H
#define WINDOWGEOMETRY_H

#include <QMargins>
#include <QRect>
#include <QSize>

// Where the main window opens for a desktop of the given size: a fixed corner
// and a size that is a fixed fraction of the desktop, truncated to whole pixels.
QRect mainWindowGeometry(const QSize &desktop);

// The window's geometry (without its frame) made to fit the screen's available
// area with the frame around it: at least `natural` large where that fits,
// never larger than the area, and moved only as far as needed to lie inside it.
QRect fitWindow(const QRect &wanted, const QSize &natural, const QMargins &frame, const QRect &available);

#endif // WINDOWGEOMETRY_H
