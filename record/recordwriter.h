#ifndef RECORDWRITER_H
#define RECORDWRITER_H

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <thread>

// Appends the flash record's rows to its file on a thread of its own, so that
// a disk that is full, slow or hung never holds up a flash. Rows are written
// in the order they came, each whole; all that wait go out together, flushed
// to the disk once per batch, so that a slow flush delays rows and never
// drops them. Those that cannot be written wait and are tried again with the
// next row, and once more at the end. What may wait is bounded by memory, not
// by a count of rows.
class RecordWriter : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        // Beyond this much waiting, rows that come are not kept (and are
        // counted among those not written): some two hundred thousand rows.
        qint64 maxWaitingBytes = 64 * 1024 * 1024;
        // Rows that have waited this long are said (delayed()).
        int delayedMsec = 5000;
    };

    // header: the first line of a file that is new.
    RecordWriter(const QString &path, const QByteArray &header, const Limits &limits, QObject *parent = nullptr);
    // Makes the last attempt (finish()) if it has not been made.
    ~RecordWriter() override;

    void append(const QByteArray &row);

    // The last attempt, for the rows that wait: it waits for the writer until
    // the deadline, or until interrupted() says the operator asked to stop
    // waiting. Returns how many rows are not in the file (0: all are), and
    // why in *reason, never empty then. The writer's thread has ended then,
    // except where the disk did not answer by the deadline: that thread is
    // left to end with the process, and touches nothing of ours when it does.
    int finish(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason);

signals:
    // Every row so far is in the file.
    void written();
    // The latest attempt failed: why, and how many rows wait.
    void writeFailed(const QString &reason, int waiting);
    // Rows have waited longer than Limits::delayedMsec: how many, and since
    // when the oldest. Said once, until every row is written again.
    void delayed(int waiting, const QDateTime &since);

private:
    struct Shared;
    static void writeRows(const std::shared_ptr<Shared> &shared);
    void checkDelay();

    const Limits m_limits;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    QTimer m_delayCheck;
    bool m_delaySaid = false;
    bool m_finished = false;
};

#endif // RECORDWRITER_H
