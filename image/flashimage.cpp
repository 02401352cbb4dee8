#include "image/flashimage.h"

#include "image/imagefile.h"
#include "image/sha256.h"

#include <QFileInfo>
#include <QThread>

FlashImage::FlashImage(const QString &path, const QByteArray &bytes, const QString &failure)
    : m_path(path)
    , m_bytes(bytes)
    , m_failure(failure)
{
    // The bytes are shared, never written: the thread reads them as they are.
    m_digestThread = QThread::create([this] { m_computed = sha256Hex(m_bytes); });
    connect(m_digestThread, &QThread::finished, this, [this] {
        m_sha256 = m_computed;
        emit digestComputed();
    });
    m_digestThread->start();
}

QSharedPointer<FlashImage> FlashImage::load(const QString &path)
{
    QByteArray bytes;
    QString failure;
    if (!readImageFile(path, &bytes, &failure) && failure.isEmpty())
        failure = QStringLiteral("it cannot be read");
    // Absolute, so that the record says where the image was whatever folder
    // the program was started in.
    return QSharedPointer<FlashImage>(new FlashImage(QFileInfo(path).absoluteFilePath(), bytes, failure));
}

QSharedPointer<FlashImage> FlashImage::fromBytes(const QString &path, const QByteArray &bytes)
{
    return QSharedPointer<FlashImage>(new FlashImage(path, bytes, QString()));
}

FlashImage::~FlashImage()
{
    // At most a second or two for the largest image; the thread uses this object.
    m_digestThread->wait();
    delete m_digestThread;
}

bool FlashImage::waitForDigest(QDeadlineTimer deadline)
{
    if (!m_digestThread->wait(deadline))
        return false;
    m_sha256 = m_computed;
    return true;
}

QString FlashImage::fileName() const
{
    return QFileInfo(m_path).fileName();
}
