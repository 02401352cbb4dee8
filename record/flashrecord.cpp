#include "record/flashrecord.h"

#include "files/regularfile.h"
#include "image/flashimage.h"
#include "record/csv.h"
#include "record/recordwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// A record continued this often is left as it is: beyond, the last file goes on.
const int kMostFiles = 100;

// The n-th file of a record (from 1): flash-log.csv, flash-log-2.csv, ...
QString nthFile(const QString &path, int n)
{
    if (n == 1)
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('-') + QString::number(n) + suffix;
}

// The first line of a file that is there, read without following a link or
// waiting for a pipe; empty where there is none to read.
QByteArray firstLine(const QString &path)
{
    QFile file;
    QString failure;
    if (!openRegularFile(path, &file, &failure))
        return QByteArray();
    QByteArray line = file.readLine(64 * 1024);
    if (line.startsWith("\xEF\xBB\xBF"))
        line = line.mid(3);
    return line;
}

} // namespace

FlashRecord::FlashRecord(const QString &path, const QString &stoppedResult, const RecordWriter::Limits &limits,
                         QObject *parent)
    : QObject(parent)
    , m_stoppedResult(stoppedResult)
{
    // The first file that is new, or has these very columns.
    int n = 1;
    for (;; ++n) {
        const QByteArray header = firstLine(nthFile(path, n));
        if (header.isEmpty() || header == headerLine() || n == kMostFiles)
            break;
    }
    m_path = nthFile(path, n);
    m_continuedFrom = n > 1 ? nthFile(path, n - 1) : QString();
    m_writer = new RecordWriter(m_path, headerLine(), limits, this);
    connect(m_writer, &RecordWriter::written, this, &FlashRecord::written);
    connect(m_writer, &RecordWriter::writeFailed, this, &FlashRecord::writeFailed);
    connect(m_writer, &RecordWriter::delayed, this, &FlashRecord::delayed);
}

FlashRecord::~FlashRecord()
{
    if (!m_finished) {
        QString reason;
        finish(
                QDeadlineTimer(2000), [] { return false; }, &reason);
    }
}

QString FlashRecord::defaultPath(QString *problem)
{
    // Without a home (HOME unset), Qt would answer with a folder at the file
    // system's root.
    if (QDir::homePath() == QDir::rootPath() && qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) {
        if (problem)
            *problem = QStringLiteral("this user has no home folder (HOME is not set), so the flash record has "
                                      "no place");
        return QString();
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("this user has no application data folder for the flash record");
        return QString();
    }
    // The same for the window and the station, whatever the program's name.
    return folder + QStringLiteral("/TcpServer/flash-log.csv");
}

QByteArray FlashRecord::headerLine()
{
    return csvLine(RecordRow::titles());
}

QStringList FlashRecord::files(const QString &path)
{
    QStringList files;
    for (int n = 1; n <= kMostFiles && QFileInfo::exists(nthFile(path, n)); ++n)
        files << nthFile(path, n);
    return files;
}

QString FlashRecord::continuationNote() const
{
    if (m_continuedFrom.isEmpty())
        return QString();
    return QStringLiteral("The flash record %1 has the columns of an earlier version and is kept as it is; the "
                          "record continues in %2 beside it.")
            .arg(QDir::toNativeSeparators(m_continuedFrom), QDir::toNativeSeparators(m_path));
}

void FlashRecord::record(const TransferReport &report)
{
    m_waiting.append(report);
    // Connected before it looks: the digest may come from its thread meanwhile.
    if (report.image)
        connect(report.image.data(), &FlashImage::digestComputed, this, &FlashRecord::handOverReady,
                Qt::UniqueConnection);
    handOverReady();
}

void FlashRecord::handOverReady()
{
    // In the order they ended: a row waits for the digests of those before it.
    QList<RecordRow> rows;
    while (!m_waiting.isEmpty() && (!m_waiting.first().image || !m_waiting.first().image->sha256().isEmpty())) {
        rows << RecordRow::of(m_waiting.takeFirst(), m_stoppedResult);
        m_writer->append(csvLine(rows.last().fields()));
    }
    if (!rows.isEmpty())
        emit recorded(rows);
}

int FlashRecord::finish(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason)
{
    m_finished = true;
    // No row is lost at the end for want of its digest: it is computed from
    // memory, in a second or two for the largest image.
    for (const TransferReport &report : qAsConst(m_waiting)) {
        while (report.image && !report.image->waitForDigest(QDeadlineTimer(50)) && !interrupted()) { }
    }
    handOverReady();
    return m_writer->finish(deadline, interrupted, reason) + int(m_waiting.size());
}
