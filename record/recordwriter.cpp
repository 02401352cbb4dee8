#include "record/recordwriter.h"

#include "record/recordfile.h"

#include <QDir>
#include <QFileInfo>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Rows kept while the file cannot be written; beyond this the oldest go, and
// are counted among those not written.
const int kMaxWaitingRows = 1000;
// How long the end waits between looks at whether the operator stopped it.
const int kSliceMsec = 50;

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
    QString path;
    QByteArray header;
    std::mutex mutex;
    std::condition_variable wake; // the writer: rows, or the end
    std::condition_variable finished; // the end: the writer is done
    QList<QByteArray> rows; // waiting, oldest first
    int lost = 0; // rows dropped beyond kMaxWaitingRows
    QString failure; // why the latest attempt failed
    bool kicked = false;
    bool ending = false;
    bool done = false;
    // Set once nobody waits for the writer any more: it reports to nobody.
    bool abandoned = false;
    RecordWriter *owner = nullptr; // used only under the mutex, and never once abandoned
};

RecordWriter::RecordWriter(const QString &path, const QByteArray &header, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->path = path;
    m_shared->header = header;
    m_shared->owner = this;
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
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->rows.append(row);
    while (m_shared->rows.size() > kMaxWaitingRows) {
        m_shared->rows.removeFirst();
        ++m_shared->lost;
    }
    m_shared->kicked = true;
    m_shared->wake.notify_one();
}

void RecordWriter::writeRows(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->wake.wait(lock, [&] { return shared->kicked || shared->ending; });
        shared->kicked = false;
        const bool last = shared->ending;
        const QList<QByteArray> rows = shared->rows;
        const QString path = shared->path;
        if (!rows.isEmpty()) {
            lock.unlock();
            QString failure;
            const bool ok = appendRows(path, shared->header, rows, &failure);
            lock.lock();
            if (ok) {
                // Those that came meanwhile stay for the next attempt.
                shared->rows = shared->rows.mid(int(rows.size()));
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
                            if (ok && waiting == 0)
                                emit owner->written();
                            else if (!ok)
                                emit owner->writeFailed(failure, waiting);
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
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->ending = true;
    m_shared->wake.notify_one();
    while (!m_shared->done && !deadline.hasExpired() && !interrupted()) {
        const qint64 slice = qMin<qint64>(kSliceMsec, deadline.remainingTime());
        m_shared->finished.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(1, slice)));
    }
    const int left = int(m_shared->rows.size()) + m_shared->lost;
    *reason = m_shared->failure;
    if (m_shared->done) {
        lock.unlock();
        m_thread.join();
        return left;
    }
    // The disk does not answer: nothing is waited for any more.
    m_shared->abandoned = true;
    if (reason->isEmpty())
        *reason = QStringLiteral("the disk did not answer in time");
    lock.unlock();
    m_thread.detach();
    return left;
}
