#ifndef FLASHRECORD_H
#define FLASHRECORD_H

#include "record/recordrow.h"
#include "record/recordwriter.h"
#include "server/transferreport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The record of what went out and to whom: one CSV row (RFC 4180, UTF-8) for
// every transfer that began, every request refused for want of an image and
// every second of devices kept out of a paused fixture, appended whole when it
// ends, with what its report carries (the image's path, size and SHA-256, the
// adapter, the flash's identity, the station, the unit's serial). A row waits
// for its image's digest; nothing else waits for the record: a RecordWriter
// writes the rows on a thread of its own.
//
// A file whose columns are those of an earlier version is never rewritten:
// the record continues in a file beside it (flash-log-2.csv), so that every
// file has one header naming every column of every row it holds.
class FlashRecord : public QObject
{
    Q_OBJECT

public:
    // stoppedResult is how a transfer ended by the program itself reads
    // ("window closed mid-flash").
    FlashRecord(const QString &path, const QString &stoppedResult, const RecordWriter::Limits &limits = {},
                QObject *parent = nullptr);
    ~FlashRecord() override;

    // In the user's own application data folder; empty, with *problem saying
    // what is missing, where the user has no such folder.
    static QString defaultPath(QString *problem = nullptr);
    static QByteArray headerLine();
    // The files of the record at path, oldest first: it, and where it continued.
    static QStringList files(const QString &path);

    // The file rows go to, and the earlier one it continues (empty: none).
    QString path() const { return m_path; }
    QString continuedFrom() const { return m_continuedFrom; }
    // Where it continues one, the line that says so; else empty.
    QString continuationNote() const;
    void record(const TransferReport &report);

    // At the program's end: the rows still waiting for a digest get it, and
    // the writer makes its last attempt (see RecordWriter::finish()).
    // Returns how many rows are not in the file, and why in *reason.
    int finish(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason);

signals:
    // Every row so far is in the file.
    void written();
    // The last attempt failed: why, and how many rows wait to be written.
    void writeFailed(const QString &reason, int waiting);
    // Rows have waited a few seconds: how many, and since when.
    void delayed(int waiting, const QDateTime &since);
    // Rows handed to the file, in their order, for whoever keeps them elsewhere too.
    void recorded(const QList<RecordRow> &rows);

private:
    void handOverReady();

    QString m_path;
    QString m_continuedFrom;
    const QString m_stoppedResult;
    QList<TransferReport> m_waiting; // for their digest, in the order they ended
    RecordWriter *m_writer;
    bool m_finished = false;
};

#endif // FLASHRECORD_H
