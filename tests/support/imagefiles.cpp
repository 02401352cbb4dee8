#include "imagefiles.h"

#include "image/imagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString testImagePath()
{
    return imageFilePath();
}

void writeTestImage(const QByteArray &bytes)
{
    const QString path = testImagePath();
    removeTestImage();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test image %s", qPrintable(path));
}

QString writeTestImageWithCopy(const QByteArray &bytes, const QString &dir)
{
    writeTestImage(bytes);
    const QString copy = dir + QStringLiteral("/expected.bin");
    QFile file(copy);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(copy));
    return copy;
}

void removeTestImage()
{
    const QString path = testImagePath();
    QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

QByteArray patternImage(int length, int seed)
{
    QByteArray bytes(length, '\0');
    quint32 state = 0x9E3779B9u * quint32(seed) + 1;
    for (int i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}
