#ifndef DATABASESENDER_H
#define DATABASESENDER_H

#include "record/recordrow.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <thread>

// Sends the record's rows to the line's PostgreSQL database, through Qt SQL's
// driver, on a thread of its own: a database that is down, refusing, slow or
// hung delays no flash and no window. Rows go in batches, each inserted with
// ON CONFLICT (flash_id) DO NOTHING, so that a row sent twice is harmless.
// What has not reached the database waits (bounded by memory) and is tried
// again after pauses that grow from a second to half a minute; at the start,
// the rows of this station in the local record newer than the newest the
// database has are sent again, so that nothing waiting at the last end is
// lost. The table is made where it is missing, and one with other columns is
// said and left alone.
class DatabaseSender : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString url;
        QString station; // whose rows of the local record are caught up
        QString recordPath; // the local record; empty: nothing to catch up
        int firstPauseMsec = 1000;
        int longestPauseMsec = 30000;
        // Said as not answering after this long without an answer.
        int silentMsec = 8000;
        qint64 maxWaitingBytes = 64 * 1024 * 1024;
        int batchRows = 500;
    };

    // Whether the URL can be used here (libpq reads it, it holds no password,
    // Qt's PostgreSQL driver is present); why not, in a sentence.
    static bool usable(const QString &url, QString *problem);
    // The table, as made where it is missing.
    static QString tableStatement();

    explicit DatabaseSender(const Options &options, QObject *parent = nullptr);
    // Makes the last attempt (finish()) if it has not been made.
    ~DatabaseSender() override;

    void send(const QList<RecordRow> &rows);
    // Rows that have not reached the database yet.
    int waiting() const;
    // The end: what waits gets until the deadline, then waits for the next
    // start in the local record. Returns how many rows did not reach it.
    int finish(QDeadlineTimer deadline);

signals:
    // It could not be reached (once, until it is again): why, in the driver's words.
    void unreachable(const QString &why);
    // It is reached again after being unreachable, and caughtUp rows went to it.
    void reached(int caughtUp);

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared> &shared);
    void checkSilence();

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    QTimer m_silence;
    bool m_finished = false;
};

#endif // DATABASESENDER_H
