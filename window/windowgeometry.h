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

// The geometry a window is given, in the logical pixels Qt places windows in,
// for one meant in the display's own pixels: Qt multiplies by the display's
// scale and rounds, and the window then covers exactly those pixels where the
// scale allows, and never more (a display of 100 DPI, say, scales by 1.04).
QRect logicalGeometry(const QRect &native, qreal scale);

#endif // WINDOWGEOMETRY_H
