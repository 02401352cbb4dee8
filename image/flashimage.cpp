#include "image/flashimage.h"

#include "image/imagefile.h"
#include "image/sha256.h"

#include <QFileInfo>
#include <QThread>

FlashImage::FlashImage(const QString &path)
    : m_path(path)
{
}

QSharedPointer<FlashImage> FlashImage::load(const QString &path)
{
    QSharedPointer<FlashImage> image(new FlashImage(path));
    if (!readImageFile(path, &image->m_bytes, &image->m_failure) && image->m_failure.isEmpty())
        image->m_failure = QStringLiteral("it cannot be read");
    FlashImage *self = image.data();
    // The bytes are shared, never written: the thread reads them as they are.
    const QByteArray bytes = image->m_bytes;
    self->m_digestThread = QThread::create([self, bytes] { self->m_computed = sha256Hex(bytes); });
    connect(self->m_digestThread, &QThread::finished, self, [self] {
        self->m_sha256 = self->m_computed;
        emit self->digestComputed();
    });
    self->m_digestThread->start();
    return image;
}

FlashImage::~FlashImage()
{
    // At most a second or two for the largest image; the thread uses this object.
    m_digestThread->wait();
    delete m_digestThread;
}

void FlashImage::waitForDigest()
{
    m_digestThread->wait();
    m_sha256 = m_computed;
}

QString FlashImage::fileName() const
{
    return QFileInfo(m_path).fileName();
}
