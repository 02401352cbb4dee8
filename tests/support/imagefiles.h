#ifndef IMAGEFILES_H
#define IMAGEFILES_H

#include <QByteArray>
#include <QString>

// The image location of the running test executable (each test has a
// directory of its own, so this never is the program's).
QString testImagePath();
void writeTestImage(const QByteArray &bytes);
void removeTestImage();
// Writes the image where the test's window reads it, and a copy under `dir`
// for the emulator to verify against; returns the copy's path.
QString writeTestImageWithCopy(const QByteArray &bytes, const QString &dir);
// Bytes that differ from block to block and position to position.
QByteArray patternImage(int length, int seed = 1);

#endif // IMAGEFILES_H
