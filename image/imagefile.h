#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QByteArray>
#include <QString>

class QIODevice;

// The largest image the device can be told about and a QByteArray can hold:
// the length goes out as a signed 32-bit integer, and a QByteArray keeps its
// header and a terminating zero within the same limit.
qint64 maxImageBytes();

// Reads a whole image from an open device whose size is known. Succeeds only
// when exactly that many bytes come back and no more follow; a device too large
// to be sent is refused before anything is read. On failure *image is empty
// and *failure says why in a few words.
bool readWholeImage(QIODevice &device, QByteArray *image, QString *failure);

// Reads the image file at path: a regular file, not reached through a link,
// read whole. Anything less (missing, a link, not a regular file, unreadable,
// too large, short, changed meanwhile) fails and leaves *image empty.
bool readImageFile(const QString &path, QByteArray *image, QString *failure);

// Where the programs find their image: below their own folder.
QString imageFilePath();

#endif // IMAGEFILE_H
