#include "reports/flashreports.h"

#include "record/csv.h"
#include "record/databaseurl.h"
#include "record/flashrecord.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace reports {

namespace {

bool loadLocal(const QString &path, const Span &span, QList<RecordRow> *rows, QString *error)
{
    const QStringList files = FlashRecord::files(path);
    if (files.isEmpty()) {
        *error = QStringLiteral("there is no flash record %1").arg(path);
        return false;
    }
    for (const QString &name : files) {
        QFile file(name);
        if (!QFileInfo(name).isFile() || !file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("the flash record %1 cannot be read: %2")
                             .arg(name,
                                  QFileInfo(name).isFile() ? file.errorString()
                                                           : QStringLiteral("it is not a regular file"));
            return false;
        }
        const QList<QStringList> lines = parseCsv(file.readAll());
        for (int i = 1; i < lines.size(); ++i) {
            const RecordRow row = RecordRow::fromCsv(lines.first(), lines.at(i));
            if (span.contains(row.started()))
                rows->append(row);
        }
    }
    std::stable_sort(rows->begin(), rows->end(),
                     [](const RecordRow &a, const RecordRow &b) { return a.started() < b.started(); });
    return true;
}

// A field as the local record writes it.
QString fieldOf(const QVariant &value, RecordColumn::Kind kind)
{
    if (value.isNull())
        return QString();
    switch (kind) {
    case RecordColumn::Time: return isoTime(value.toDateTime().toLocalTime());
    case RecordColumn::Real: return QString::number(value.toDouble(), 'f', 3);
    case RecordColumn::Integer: return QString::number(value.toLongLong());
    case RecordColumn::Uuid:
    case RecordColumn::Text: break;
    }
    return value.toString();
}

bool loadDatabase(const QString &url, const Span &span, QList<RecordRow> *rows, QString *error)
{
    const DatabaseUrl parsed = DatabaseUrl::parse(url);
    if (!parsed.problem.isEmpty()) {
        *error = parsed.problem;
        return false;
    }
    const QString name = QStringLiteral("tcpserver-reports");
    bool read = false;
    {
        QSqlDatabase database = parsed.addConnection(name);
        QStringList columns;
        for (const RecordColumn &column : recordColumns())
            columns << (column.sql ? QLatin1String(column.sql) : QStringLiteral("NULL"));
        QSqlQuery query(database);
        if (!database.open()) {
            *error = QStringLiteral("the line's database cannot be reached: %1").arg(database.lastError().text());
        } else if (!query.exec(QStringLiteral("SELECT %1 FROM flashes ORDER BY started").arg(columns.join(", ")))) {
            *error = QStringLiteral("the line's database cannot be read: %1").arg(query.lastError().text());
        } else {
            read = true;
            while (query.next()) {
                RecordRow row;
                const QList<RecordColumn> &all = recordColumns();
                for (int i = 0; i < all.size(); ++i)
                    row.setValue(all.at(i).key, fieldOf(query.value(i), all.at(i).kind));
                // What a flash moved per second follows from the rest.
                const double seconds = row.seconds();
                row.setValue("mib_per_s",
                             QString::number(
                                     seconds > 0 ? row.value("bytes_sent").toDouble() / (1024.0 * 1024.0) / seconds : 0,
                                     'f', 2));
                if (span.contains(row.started()))
                    rows->append(row);
            }
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
    return read;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = int(values.size()) / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

} // namespace

bool Span::contains(const QDateTime &started) const
{
    return (!since.isValid() || started >= since) && (!until.isValid() || started < until);
}

bool loadRows(const Source &source, const Span &span, QList<RecordRow> *rows, QString *error)
{
    rows->clear();
    return source.databaseUrl.isEmpty() ? loadLocal(source.recordPath, span, rows, error)
                                        : loadDatabase(source.databaseUrl, span, rows, error);
}

QDateTime parseWhen(const QString &text)
{
    const QDate today = QDate::currentDate();
    if (text == QLatin1String("today"))
        return QDateTime(today, QTime(0, 0));
    if (text == QLatin1String("yesterday"))
        return QDateTime(today.addDays(-1), QTime(0, 0));
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return QDateTime(day, QTime(0, 0));
    return QDateTime::fromString(text, Qt::ISODate);
}

bool parseBy(const QString &text, By *by)
{
    static const QHash<QString, By> names{{QStringLiteral("station"), By::Station},
                                          {QStringLiteral("adapter"), By::Adapter},
                                          {QStringLiteral("image"), By::Image},
                                          {QStringLiteral("day"), By::Day},
                                          {QStringLiteral("serial"), By::Serial}};
    const auto found = names.find(text);
    if (found == names.end())
        return false;
    *by = found.value();
    return true;
}

QList<Summary> summarize(const QList<RecordRow> &rows, By by)
{
    QList<Summary> summaries;
    QHash<QString, int> at; // by group
    QList<QSet<QString>> units;
    QList<QSet<QString>> firstPass;
    QList<QList<double>> seconds;
    for (int i = 0; i < rows.size(); ++i) {
        const RecordRow &row = rows.at(i);
        if (!row.isFlash())
            continue;
        QJsonObject keys;
        QString group;
        switch (by) {
        case By::Station:
            group = row.value("station");
            keys.insert(QStringLiteral("station"), group);
            break;
        case By::Adapter:
            group = row.value("adapter");
            keys.insert(QStringLiteral("adapter"), group);
            break;
        case By::Serial:
            group = row.value("serial");
            keys.insert(QStringLiteral("serial"), group);
            break;
        case By::Day:
            group = row.started().toLocalTime().date().toString(Qt::ISODate);
            keys.insert(QStringLiteral("day"), group);
            break;
        case By::Image:
            group = row.value("image_sha256");
            keys.insert(QStringLiteral("image_sha256"), group);
            keys.insert(QStringLiteral("image"), row.value("image"));
            break;
        }
        if (!at.contains(group)) {
            at.insert(group, int(summaries.size()));
            Summary summary;
            summary.group = group.isEmpty() ? QStringLiteral("(none)") : group;
            summary.keys = keys;
            summaries << summary;
            units << QSet<QString>();
            firstPass << QSet<QString>();
            seconds << QList<double>();
        }
        const int g = at.value(group);
        Summary &summary = summaries[g];
        const bool complete = row.isComplete();
        ++summary.flashes;
        summary.complete += complete ? 1 : 0;
        summary.failed += complete ? 0 : 1;
        if (complete)
            seconds[g] << row.seconds();
        // A unit is its MAC where known; else each flash is one of its own.
        const QString mac = row.value("device_mac");
        const QString unit = mac.isEmpty() ? QStringLiteral("flash %1").arg(i) : mac.toLower();
        if (!units.at(g).contains(unit)) {
            units[g].insert(unit);
            if (complete)
                firstPass[g].insert(unit);
        }
    }
    for (int g = 0; g < summaries.size(); ++g) {
        summaries[g].firstPassYield = units.at(g).isEmpty() ? 0 : double(firstPass.at(g).size()) / units.at(g).size();
        summaries[g].medianSeconds = median(seconds.at(g));
    }
    return summaries;
}

QList<RecordRow> flashesOf(const QList<RecordRow> &rows, const QString &macOrSerial)
{
    QList<RecordRow> flashes;
    for (const RecordRow &row : rows) {
        if (row.isFlash() &&
            (row.value("device_mac").compare(macOrSerial, Qt::CaseInsensitive) == 0 ||
             (!row.value("serial").isEmpty() && row.value("serial") == macOrSerial)))
            flashes << row;
    }
    return flashes;
}

} // namespace reports
