#ifndef HEXVIEW_H
#define HEXVIEW_H

#include <QString>

// How the window's ServerOutput pane shows bytes: upper-case hex pairs
// separated by single spaces, at most 1001 characters (the first 334 bytes).
// Fewer than 334 bytes end in a space each and are padded with spaces to 999
// characters.
QString hexView(const char *data, int length);

#endif // HEXVIEW_H
