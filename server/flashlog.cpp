#include "server/flashlog.h"

#include "image/flashimage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

namespace {

// Rows kept while the file cannot be written; beyond this the oldest go.
const int kMaxWaitingRows = 1000;

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled.
QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QByteArray csvLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

// Appends every waiting row in one write, the column names first when the
// file is new. A row is in the file whole or not at all: a failed write is
// cut back to where the file ended.
bool appendRows(const QString &path, QList<QByteArray> *rows, QString *failure)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *failure = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    // A byte-order mark, so that spreadsheets read the file as UTF-8.
    QByteArray bytes = before == 0 ? QByteArray("\xEF\xBB\xBF") + csvLine(FlashLog::columns()) : QByteArray();
    for (const QByteArray &row : qAsConst(*rows))
        bytes += row;
    const bool whole = file.write(bytes) == bytes.size() && file.flush();
    if (!whole) {
        *failure = file.errorString();
        if (!file.isSequential())
            file.resize(before);
        return false;
    }
    rows->clear();
    return true;
}

// With the offset from UTC, so that rows from PCs in other time zones compare.
QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

// What the writer's thread keeps: rows not yet in the file.
struct FlashLog::Waiting
{
    QList<QByteArray> rows;
};

FlashLog::FlashLog(const QString &path, const QString &stoppedResult, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_stoppedResult(stoppedResult)
{
    if (m_path.isEmpty())
        return;
    m_writerThread = new QThread;
    m_writer = new QObject;
    m_writer->moveToThread(m_writerThread);
    connect(m_writerThread, &QThread::finished, m_writer, &QObject::deleteLater);
    m_results = new QObject;
    m_waiting = QSharedPointer<Waiting>::create();
    m_writerThread->start();
}

FlashLog::~FlashLog()
{
    if (!m_writerThread)
        return;
    // No row is lost at the end for want of its digest: it is waited for.
    for (const Row &row : qAsConst(m_rows)) {
        if (row.image)
            row.image->waitForDigest();
    }
    writeReady();
    // Rows handed over are written before the thread ends: the end is queued
    // behind them.
    QMetaObject::invokeMethod(m_writer, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    if (m_writerThread->wait(10000)) {
        delete m_writerThread;
        delete m_results;
    }
    // Else a disk hangs: the thread and what it reports to are left to the
    // process's end rather than freed under it.
}

QString FlashLog::defaultPath()
{
    // The same for the window and the station, whatever the program's name.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/TcpServer/flash-log.csv");
}

QStringList FlashLog::columns()
{
    return {QStringLiteral("start"),        QStringLiteral("end"),         QStringLiteral("result"),
            QStringLiteral("device"),       QStringLiteral("device MAC"),  QStringLiteral("image"),
            QStringLiteral("image bytes"),  QStringLiteral("image SHA-256"), QStringLiteral("blocks sent"),
            QStringLiteral("bytes sent"),   QStringLiteral("seconds"),     QStringLiteral("MiB/s"),
            QStringLiteral("adapter"),      QStringLiteral("server address"), QStringLiteral("version")};
}

void FlashLog::record(const TransferReport &report)
{
    if (m_path.isEmpty())
        return;
    // A refusal served no image.
    const QSharedPointer<FlashImage> image = report.ending == TransferReport::Refused ? nullptr : m_image;
    m_rows.append({report, image, m_adapterName});
    if (image && image->sha256().isEmpty())
        connect(image.data(), &FlashImage::digestComputed, this, &FlashLog::writeReady, Qt::UniqueConnection);
    writeReady();
}

void FlashLog::writeReady()
{
    QList<QByteArray> ready;
    while (!m_rows.isEmpty() && (!m_rows.first().image || !m_rows.first().image->sha256().isEmpty()))
        ready << csvOf(m_rows.takeFirst());
    if (ready.isEmpty())
        return;
    const QString path = m_path;
    QObject *results = m_results;
    const QPointer<FlashLog> self(this);
    // Only the writer's thread touches the waiting rows.
    QMetaObject::invokeMethod(m_writer, [path, ready, results, self, waiting = m_waiting] {
        waiting->rows += ready;
        while (waiting->rows.size() > kMaxWaitingRows)
            waiting->rows.removeFirst();
        QString failure;
        const bool ok = appendRows(path, &waiting->rows, &failure);
        const int left = waiting->rows.size();
        QMetaObject::invokeMethod(results, [self, ok, failure, left] {
            if (!self)
                return;
            if (ok)
                emit self->written();
            else
                emit self->writeFailed(failure, left);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

QByteArray FlashLog::csvOf(const Row &row) const
{
    const TransferReport &report = row.report;
    const bool served = row.image != nullptr;
    return csvLine({
        isoTime(report.started),
        isoTime(report.ended),
        endingText(report.ending, m_stoppedResult),
        report.device,
        report.deviceMac,
        served ? QDir::toNativeSeparators(row.image->path()) : QString(),
        served ? QString::number(row.image->size()) : QString(),
        served ? row.image->sha256() : QString(),
        QString::number(report.blocksSent),
        QString::number(report.bytesSent),
        QString::number(report.seconds(), 'f', 3),
        QString::number(report.mibPerSecond(), 'f', 2),
        row.adapterName,
        report.server,
        QStringLiteral(TCPSERVER_VERSION),
    });
}
