#ifndef FLASHLOG_H
#define FLASHLOG_H

#include "server/transferreport.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class FlashImage;
class QThread;

// The record of what went out and to whom: one CSV row (RFC 4180, UTF-8) for
// every transfer that began and every request refused for want of an image,
// appended whole when it ends. A row waits for its image's digest; nothing
// else waits for the record. Rows are written on a thread of their own, so a
// slow or hung disk never holds up a flash; a row that cannot be written is
// kept and tried again with the next one.
class FlashLog : public QObject
{
    Q_OBJECT

public:
    // An empty path keeps no record. stoppedResult is how a transfer ended by
    // the program itself reads ("window closed mid-flash").
    FlashLog(const QString &path, const QString &stoppedResult, QObject *parent = nullptr);
    ~FlashLog() override;

    // In the user's own application data folder.
    static QString defaultPath();
    // The columns, as the first row of a new file names them.
    static QStringList columns();

    QString path() const { return m_path; }
    void setAdapterName(const QString &name) { m_adapterName = name; }
    // The image that transfers reported from now on served.
    void setImage(const QSharedPointer<FlashImage> &image) { m_image = image; }
    void record(const TransferReport &report);

signals:
    // Every row so far is in the file.
    void written();
    // The last attempt failed: why, and how many rows wait to be written.
    void writeFailed(const QString &reason, int waiting);

private:
    struct Row
    {
        TransferReport report;
        QSharedPointer<FlashImage> image;
        QString adapterName;
    };
    void writeReady();
    QByteArray csvOf(const Row &row) const;

    const QString m_path;
    const QString m_stoppedResult;
    QString m_adapterName;
    QSharedPointer<FlashImage> m_image;
    QList<Row> m_rows; // waiting for their digest, in the order they ended
    QThread *m_writerThread = nullptr;
    QObject *m_writer = nullptr;  // lives on the writer's thread
    QObject *m_results = nullptr; // where the writer's results arrive
    struct Waiting;
    QSharedPointer<Waiting> m_waiting;
};

#endif // FLASHLOG_H
