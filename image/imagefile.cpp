#include "image/imagefile.h"

#include "image/hugepages.h"
#include "files/regularfile.h"

#include <QCoreApplication>
#include <QFile>

#include <limits>
#include <new>

qint64 maxImageBytes()
{
    return qint64(std::numeric_limits<int>::max()) - qint64(sizeof(QByteArrayData)) - 1;
}

bool readWholeImage(QIODevice &device, QByteArray *image, QString *failure)
{
    image->clear();
    const qint64 size = device.size();
    if (size < 0) {
        *failure = QStringLiteral("its size is unknown");
        return false;
    }
    if (size > maxImageBytes()) {
        *failure = QStringLiteral("it is larger than a flash can carry (2 GiB)");
        return false;
    }
    QByteArray bytes;
    try {
        bytes.resize(int(size));
    } catch (const std::bad_alloc &) {
        *failure = QStringLiteral("there is not enough memory to hold it");
        return false;
    }
    preferHugePages(bytes.data(), size);
    qint64 done = 0;
    while (done < size) {
        const qint64 got = device.read(bytes.data() + done, size - done);
        if (got < 0) {
            *failure = QStringLiteral("it cannot be read (%1)").arg(device.errorString());
            return false;
        }
        if (got == 0) {
            *failure = QStringLiteral("it changed while it was read");
            return false;
        }
        done += got;
    }
    // A file that goes on beyond its size changed while it was read.
    char more;
    if (device.read(&more, 1) != 0) {
        *failure = QStringLiteral("it changed while it was read");
        return false;
    }
    *image = bytes;
    return true;
}

bool readImageFile(const QString &path, QByteArray *image, QString *failure)
{
    image->clear();
    QFile file;
    return openRegularFile(path, &file, failure) && readWholeImage(file, image, failure);
}

QString imageFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/abset/boor/true/file.bin");
}
