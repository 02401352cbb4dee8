#include "record/recordrow.h"

#include "files/systemname.h"
#include "image/flashimage.h"

#include <QDir>

namespace {

int indexOf(const char *key)
{
    const QList<RecordColumn> &columns = recordColumns();
    for (int i = 0; i < columns.size(); ++i) {
        if (qstrcmp(columns.at(i).key, key) == 0)
            return i;
    }
    Q_ASSERT_X(false, "RecordRow", key);
    return -1;
}

} // namespace

const QList<RecordColumn> &recordColumns()
{
    // The file's order; columns are only ever added at the end.
    static const QList<RecordColumn> columns = {
            {"start", "start", "started", RecordColumn::Time},
            {"end", "end", "ended", RecordColumn::Time},
            {"result", "result_text", "result", RecordColumn::Text},
            {"device", "device", "device", RecordColumn::Text},
            {"device MAC", "device_mac", "device_mac", RecordColumn::Text},
            {"image", "image", "image", RecordColumn::Text},
            {"image bytes", "image_bytes", "image_bytes", RecordColumn::Integer},
            {"image SHA-256", "image_sha256", "image_sha256", RecordColumn::Text},
            {"blocks sent", "blocks_sent", "blocks_sent", RecordColumn::Integer},
            {"bytes sent", "bytes_sent", "bytes_sent", RecordColumn::Integer},
            {"seconds", "seconds", "seconds", RecordColumn::Real},
            {"MiB/s", "mib_per_s", nullptr, RecordColumn::Real},
            {"adapter", "adapter", "adapter", RecordColumn::Text},
            {"server address", "server_address", "server_address", RecordColumn::Text},
            {"version", "version", "version", RecordColumn::Text},
            {"flash id", "flash_id", "flash_id", RecordColumn::Uuid},
            {"station", "station", "station", RecordColumn::Text},
            {"serial", "serial", "serial", RecordColumn::Text},
    };
    return columns;
}

QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QDateTime parseIsoTime(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

RecordRow RecordRow::of(const TransferReport &report, const QString &stoppedResult)
{
    const bool served = report.image != nullptr;
    RecordRow row;
    row.m_fields = QStringList{
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
            report.flashId.isNull() ? QString() : report.flashId.toString(QUuid::WithoutBraces),
            report.station,
            report.serial,
    };
    Q_ASSERT(row.m_fields.size() == recordColumns().size());
    return row;
}

RecordRow RecordRow::fromCsv(const QStringList &header, const QStringList &fields)
{
    RecordRow row;
    for (const RecordColumn &column : recordColumns()) {
        const int at = int(header.indexOf(QLatin1String(column.title)));
        row.m_fields << (at >= 0 ? fields.value(at) : QString());
    }
    return row;
}

QStringList RecordRow::titles()
{
    QStringList titles;
    for (const RecordColumn &column : recordColumns())
        titles << QLatin1String(column.title);
    return titles;
}

QString RecordRow::value(const char *key) const
{
    return m_fields.value(indexOf(key));
}

void RecordRow::setValue(const char *key, const QString &value)
{
    while (m_fields.size() < recordColumns().size())
        m_fields << QString();
    m_fields[indexOf(key)] = value;
}

QJsonObject RecordRow::json() const
{
    QJsonObject object;
    const QList<RecordColumn> &columns = recordColumns();
    for (int i = 0; i < columns.size(); ++i) {
        const QString value = m_fields.value(i);
        const bool number = columns.at(i).kind == RecordColumn::Integer || columns.at(i).kind == RecordColumn::Real;
        if (number && !value.isEmpty())
            object.insert(QLatin1String(columns.at(i).key), value.toDouble());
        else
            object.insert(QLatin1String(columns.at(i).key), value);
    }
    return object;
}

QDateTime RecordRow::started() const
{
    return parseIsoTime(value("start"));
}

QDateTime RecordRow::ended() const
{
    return parseIsoTime(value("end"));
}

bool RecordRow::isFlash() const
{
    const QString result = value("result_text");
    return !result.isEmpty() && !result.startsWith(QLatin1String("refused")) &&
            !result.startsWith(QLatin1String("fixture paused"));
}
