#ifndef FLASHIMAGE_H
#define FLASHIMAGE_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// One image as Download (or the station) read it: its path, its bytes, why
// there are none, and its SHA-256 digest. The digest is computed on a thread
// of its own, so that even a large image never holds up the event loop, and
// nothing waits for it that need not: a flash may begin before it is known.
// The bytes are shared, never written: every transfer serves the one copy.
// Nothing of it changes once published (the digest once computed), and it
// belongs to no thread: every thread may read it, and its last owner, on
// whatever thread, may let it go.
class FlashImage : public QObject
{
    Q_OBJECT

public:
    // Reads the image at path (kept as an absolute path) and starts computing
    // its digest. A failed read gives an empty image, which has a digest too.
    static QSharedPointer<FlashImage> load(const QString &path);
    // An image that is already in memory, under the path it came from.
    static QSharedPointer<FlashImage> fromBytes(const QString &path, const QByteArray &bytes);
    ~FlashImage() override;

    QString path() const { return m_path; }
    QString fileName() const;
    QByteArray bytes() const { return m_bytes; }
    qint64 size() const { return m_bytes.size(); }
    bool isLoaded() const { return m_failure.isEmpty(); }
    // Why reading failed, in a few words; empty when it did not.
    QString failure() const { return m_failure; }
    // Empty until it is computed; digestComputed() then follows, from the
    // digest's thread. Whoever waits for it connects first, then looks.
    QString sha256() const;
    // Has it by the deadline (at most a second or two for the largest image);
    // false when the deadline came first.
    bool waitForDigest(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

signals:
    void digestComputed();

private:
    FlashImage(const QString &path, const QByteArray &bytes, const QString &failure);

    const QString m_path;
    const QByteArray m_bytes;
    const QString m_failure;
    mutable std::mutex m_mutex;
    std::condition_variable m_computed;
    QString m_sha256; // published once, under the mutex
    bool m_done = false;
    std::thread m_digestThread;
};

#endif // FLASHIMAGE_H
