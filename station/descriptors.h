#ifndef DESCRIPTORS_H
#define DESCRIPTORS_H

#include <QtGlobal>

// Makes room for as many open files as the station needs (a device's
// connection is one): raises the process's soft limit towards the hard one.
// False, with the hard limit in *limit, where even that is too low. The
// platform's halves: descriptors_unix.cpp, descriptors_win.cpp.
bool makeRoomForDescriptors(qint64 needed, qint64 *limit);

#endif // DESCRIPTORS_H
