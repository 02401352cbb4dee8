#include "record/recordwriter.h"

#include "record/recordfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// How long the end waits between looks at whether the operator stopped it.
const int kSliceMsec = 50;
// What a waiting row costs beyond its bytes: the array's own bookkeeping.
const qint64 kRowOverhead = 64;

// Appends the rows in one write, the column names first when the file is new,
// on a line of their own where the file does not end in a line break.
bool appendRows(const QString &path, const QByteArray &header, const QList<QByteArray> &rows, QString *failure)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RecordFile file;
    if (!file.open(path, failure))
        return false;
    QByteArray bytes;
    if (file.size() == 0) {
        // A byte-order mark, so that spreadsheets read the file as UTF-8.
        bytes = "\xEF\xBB\xBF" + header;
    } else if (!file.endsWithLineBreak()) {
        bytes = "\r\n";
    }
    for (const QByteArray &row : rows)
        bytes += row;
    return file.append(bytes, failure);
}

} // namespace

struct RecordWriter::Shared
{
    struct Row
    {
        QByteArray bytes;
        qint64 queuedMsec; // on the monotonic clock
        qint64 queuedAt; // the wall clock, for the operator
    };

    QString path;
    QByteArray header;
    qint64 maxWaitingBytes = 0;
    QElapsedTimer clock;
    std::mutex mutex;
    std::condition_variable wake; // the writer: rows, or the end
    std::condition_variable finished; // the end: the writer is done
    std::deque<Row> rows; // waiting, oldest first
    qint64 waitingBytes = 0;
    int lost = 0; // rows not kept beyond maxWaitingBytes
    QString failure; // why the latest attempt failed
    bool kicked = false;
    bool ending = false;
    bool done = false;
    // Set once nobody waits for the writer any more: it reports to nobody.
    bool abandoned = false;
    RecordWriter *owner = nullptr; // used only under the mutex, and never once abandoned
};

RecordWriter::RecordWriter(const QString &path, const QByteArray &header, const Limits &limits, QObject *parent)
    : QObject(parent)
    , m_limits(limits)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->path = path;
    m_shared->header = header;
    m_shared->maxWaitingBytes = limits.maxWaitingBytes;
    m_shared->clock.start();
    m_shared->owner = this;
    m_delayCheck.setInterval(qMax(1, limits.delayedMsec / 5));
    connect(&m_delayCheck, &QTimer::timeout, this, &RecordWriter::checkDelay);
    m_thread = std::thread(&RecordWriter::writeRows, m_shared);
}

RecordWriter::~RecordWriter()
{
    if (!m_finished) {
        QString reason;
        finish(
                QDeadlineTimer(2000), [] { return false; }, &reason);
    }
}

void RecordWriter::append(const QByteArray &row)
{
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        // Those that wait are written first: beyond the bound, what comes is counted, not kept.
        if (m_shared->waitingBytes + row.size() + kRowOverhead > m_shared->maxWaitingBytes) {
            ++m_shared->lost;
        } else {
            m_shared->rows.push_back({row, m_shared->clock.elapsed(), QDateTime::currentMSecsSinceEpoch()});
            m_shared->waitingBytes += row.size() + kRowOverhead;
        }
        m_shared->kicked = true;
        m_shared->wake.notify_one();
    }
    if (!m_delayCheck.isActive())
        m_delayCheck.start();
}

void RecordWriter::checkDelay()
{
    int waiting = 0;
    qint64 queuedMsec = 0;
    qint64 queuedAt = 0;
    qint64 now = 0;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        waiting = int(m_shared->rows.size());
        if (waiting > 0) {
            queuedMsec = m_shared->rows.front().queuedMsec;
            queuedAt = m_shared->rows.front().queuedAt;
        }
        now = m_shared->clock.elapsed();
    }
    if (waiting == 0) {
        m_delayCheck.stop();
        m_delaySaid = false;
    } else if (!m_delaySaid && now - queuedMsec >= m_limits.delayedMsec) {
        m_delaySaid = true;
        emit delayed(waiting, QDateTime::fromMSecsSinceEpoch(queuedAt));
    }
}

void RecordWriter::writeRows(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->kicked || shared->ending; });
        shared->kicked = false;
        const bool last = shared->ending;
        QList<QByteArray> batch;
        for (const Shared::Row &row : shared->rows)
            batch.append(row.bytes);
        if (!batch.isEmpty()) {
            lock.unlock();
            QString failure;
            const bool ok = appendRows(shared->path, shared->header, batch, &failure);
            lock.lock();
            if (ok) {
                // Those that came meanwhile stay for the next batch.
                for (const QByteArray &row : qAsConst(batch))
                    shared->waitingBytes -= row.size() + kRowOverhead;
                shared->rows.erase(shared->rows.begin(), shared->rows.begin() + batch.size());
                shared->failure.clear();
            } else {
                shared->failure = failure;
            }
            const int waiting = int(shared->rows.size()) + shared->lost;
            if (!shared->abandoned) {
                // Posted to the owner's thread; dropped there if it has gone.
                RecordWriter *owner = shared->owner;
                QMetaObject::invokeMethod(
                        owner,
                        [owner, ok, failure, waiting] {
                            if (ok && waiting == 0) {
                                owner->m_delaySaid = false;
                                emit owner->written();
                            } else if (!ok) {
                                emit owner->writeFailed(failure, waiting);
                            }
                        },
                        Qt::QueuedConnection);
            }
        }
        if (last)
            break;
    }
    shared->done = true;
    shared->finished.notify_all();
}

int RecordWriter::finish(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason)
{
    m_finished = true;
    m_delayCheck.stop();
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->ending = true;
    m_shared->wake.notify_one();
    while (!m_shared->done && !deadline.hasExpired() && !interrupted()) {
        const qint64 slice = qMin<qint64>(kSliceMsec, deadline.remainingTime());
        m_shared->finished.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(1, slice)));
    }
    const int left = int(m_shared->rows.size()) + m_shared->lost;
    *reason = m_shared->failure;
    if (left > 0 && reason->isEmpty()) {
        if (!m_shared->done)
            *reason = interrupted() ? QStringLiteral("the last attempt to write them was stopped")
                                    : QStringLiteral("the disk did not answer in time");
        else
            *reason = QStringLiteral("the disk was too slow, and more rows waited than the record keeps in memory");
    }
    if (m_shared->done) {
        lock.unlock();
        m_thread.join();
        return left;
    }
    // The disk does not answer: nothing is waited for any more.
    m_shared->abandoned = true;
    lock.unlock();
    m_thread.detach();
    return left;
}
