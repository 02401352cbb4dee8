#ifndef IMAGEFILES_H
#define IMAGEFILES_H

#include <QByteArray>
#include <QString>

// The image location of the running test executable (each test has a
// directory of its own, so this never is the program's).
QString testImagePath();
void writeTestImage(const QByteArray &bytes);
void removeTestImage();
// Bytes that differ from block to block and position to position.
QByteArray patternImage(int length, int seed = 1);

#endif // IMAGEFILES_H
