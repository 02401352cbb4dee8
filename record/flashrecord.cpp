#include "record/flashrecord.h"

#include "files/systemname.h"
#include "image/flashimage.h"
#include "record/recordwriter.h"

#include <QDir>
#include <QJsonObject>
#include <QStandardPaths>

#include <iterator>

namespace {

// The record's columns: as the file's first row names them, and as the
// station's JSON lines do, which carry numbers as numbers.
struct Column
{
    const char *title;
    const char *key;
    bool number;
};
const Column kColumns[] = {
        {"start", "start", false},
        {"end", "end", false},
        {"result", "result_text", false},
        {"device", "device", false},
        {"device MAC", "device_mac", false},
        {"image", "image", false},
        {"image bytes", "image_bytes", true},
        {"image SHA-256", "image_sha256", false},
        {"blocks sent", "blocks_sent", true},
        {"bytes sent", "bytes_sent", true},
        {"seconds", "seconds", true},
        {"MiB/s", "mib_per_s", true},
        {"adapter", "adapter", false},
        {"server address", "server_address", false},
        {"version", "version", false},
};

// A spreadsheet reads a cell that begins with one of these as a formula; a
// quote before it makes it text (OWASP's advice against CSV injection).
QString asText(const QString &field)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    return !field.isEmpty() && formulaStarts.contains(field.at(0)) ? QLatin1Char('\'') + field : field;
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled.
QString csvField(QString text)
{
    text = asText(text);
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

// With the offset from UTC, so that rows from PCs in other time zones compare.
QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

FlashRecord::FlashRecord(const QString &path, const QString &stoppedResult, const RecordWriter::Limits &limits,
                         QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_stoppedResult(stoppedResult)
    , m_writer(new RecordWriter(path, headerLine(), limits, this))
{
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

QStringList FlashRecord::columns()
{
    QStringList titles;
    for (const Column &column : kColumns)
        titles << QLatin1String(column.title);
    return titles;
}

QJsonObject FlashRecord::jsonFields(const TransferReport &report, const QString &stoppedResult)
{
    const QStringList values = fields(report, stoppedResult);
    Q_ASSERT(values.size() == int(std::size(kColumns)));
    QJsonObject object;
    for (int i = 0; i < values.size(); ++i) {
        const QString key = QLatin1String(kColumns[i].key);
        if (kColumns[i].number && !values.at(i).isEmpty())
            object.insert(key, values.at(i).toDouble());
        else
            object.insert(key, values.at(i));
    }
    return object;
}

QByteArray FlashRecord::headerLine()
{
    return csvLine(columns());
}

QStringList FlashRecord::fields(const TransferReport &report, const QString &stoppedResult)
{
    const bool served = report.image != nullptr;
    return {
            isoTime(report.started),
            isoTime(report.ended),
            resultText(report, stoppedResult),
            report.connection.address,
            report.deviceMac,
            served ? printableName(QDir::toNativeSeparators(report.image->path())) : QString(),
            served ? QString::number(report.image->size()) : QString(),
            served ? report.image->sha256() : QString(),
            QString::number(report.blocksSent),
            QString::number(report.bytesSent),
            QString::number(report.seconds(), 'f', 3),
            QString::number(report.mibPerSecond(), 'f', 2),
            report.connection.adapter,
            report.server,
            QStringLiteral(TCPSERVER_VERSION),
    };
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
    while (!m_waiting.isEmpty() && (!m_waiting.first().image || !m_waiting.first().image->sha256().isEmpty()))
        m_writer->append(csvLine(fields(m_waiting.takeFirst(), m_stoppedResult)));
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
