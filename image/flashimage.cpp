#include "image/flashimage.h"

#include "image/imagefile.h"
#include "image/sha256.h"

#include <QFileInfo>

#include <chrono>

FlashImage::FlashImage(const QString &path, const QByteArray &bytes, const QString &failure)
    : m_path(path)
    , m_bytes(bytes)
    , m_failure(failure)
{
    // Of no thread: no event is ever posted to it, and it may go on any.
    moveToThread(nullptr);
    // The bytes are shared, never written: the thread reads them as they are.
    m_digestThread = std::thread([this] {
        const QString digest = sha256Hex(m_bytes);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sha256 = digest;
            m_done = true;
        }
        m_computed.notify_all();
        emit digestComputed();
    });
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
    m_digestThread.join();
}

QString FlashImage::sha256() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sha256;
}

bool FlashImage::waitForDigest(QDeadlineTimer deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_done && !deadline.hasExpired()) {
        const qint64 left = deadline.isForever() ? 1000 : qMax<qint64>(1, deadline.remainingTime());
        m_computed.wait_for(lock, std::chrono::milliseconds(left));
    }
    return m_done;
}

QString FlashImage::fileName() const
{
    return QFileInfo(m_path).fileName();
}
