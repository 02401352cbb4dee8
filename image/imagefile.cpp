#include "image/imagefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <limits>
#include <new>

qint64 maxImageBytes()
{
    return qint64(std::numeric_limits<int>::max()) - qint64(sizeof(QByteArrayData)) - 1;
}

bool readWholeImage(QIODevice &device, QByteArray *image)
{
    image->clear();
    const qint64 size = device.size();
    if (size < 0 || size > maxImageBytes())
        return false;
    QByteArray bytes;
    try {
        bytes.resize(int(size));
    } catch (const std::bad_alloc &) {
        return false;
    }
    qint64 done = 0;
    while (done < size) {
        const qint64 got = device.read(bytes.data() + done, size - done);
        if (got <= 0)
            return false;
        done += got;
    }
    // A file that goes on beyond its size changed while it was read.
    char more;
    if (device.read(&more, 1) != 0)
        return false;
    *image = bytes;
    return true;
}

bool readImageFile(const QString &path, QByteArray *image)
{
    image->clear();
    // Only a regular file: a pipe or device would block or never end.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return readWholeImage(file, image);
}

QString imageFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/abset/boor/true/file.bin");
}
