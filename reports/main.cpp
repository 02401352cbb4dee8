// tcpserver-record: answers what a line asks of the flash record, from the
// line's database or from this PC's own record.
#include "app/commandline.h"
#include "record/csv.h"
#include "record/databasesender.h"
#include "record/databaseurl.h"
#include "record/flashrecord.h"
#include "reports/flashreports.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <cstdio>

namespace {

int usage(const QString &problem)
{
    std::fprintf(stderr, "error: %s (see --help)\n", qPrintable(problem));
    return 2;
}

int cannotRead(const QString &problem)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(problem));
    return 1;
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

QString json(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Makes the table, as a database administrator does once.
int init(const QString &url)
{
    QString problem;
    if (url.isEmpty())
        return usage(QStringLiteral("init needs --database URL"));
    if (!DatabaseSender::usable(url, &problem))
        return cannotRead(problem);
    const DatabaseUrl parsed = DatabaseUrl::parse(url);
    bool made = false;
    {
        QSqlDatabase database = parsed.addConnection(QStringLiteral("init"));
        QSqlQuery query(database);
        if (!database.open())
            problem = database.lastError().text();
        else if (!query.exec(DatabaseSender::tableStatement()))
            problem = query.lastError().text();
        else
            made = true;
        database.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("init"));
    if (!made)
        return cannotRead(QStringLiteral("the table flashes could not be made in %1: %2")
                                  .arg(DatabaseUrl::shown(url), problem.simplified()));
    print(QStringLiteral("The table flashes is ready in %1.").arg(DatabaseUrl::shown(url)));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tcpserver-record"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TCPSERVER_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Answers what a line asks of the flash record, from the line's database (--database, or database= in "
            "the settings file) or else from this PC's own record (--log).\n"
            "  summary [--by station|adapter|image|day|serial] [--since WHEN] [--until WHEN]\n"
            "  device MAC-OR-SERIAL\n"
            "  export [--since WHEN]\n"
            "  init --database URL\n"
            "WHEN: 2026-12-08, 2026-12-08T14:00, 2026-12-08T14:00+01:00, today, yesterday.\n"
            "Exit status: 0 answered; 1 the record or the database cannot be read; 2 bad usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("summary, device, export or init"));
    addRecordOptions(&parser, RecordUse::Reading);
    parser.addOption({QStringLiteral("by"), QStringLiteral("Group the summary by this (default: station)."),
                      QStringLiteral("what")});
    parser.addOption({QStringLiteral("since"), QStringLiteral("Only flashes that began at this time or later."),
                      QStringLiteral("when")});
    parser.addOption({QStringLiteral("until"), QStringLiteral("Only flashes that began before this time."),
                      QStringLiteral("when")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("One JSON object a line.")});
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    const bool asJson = parser.isSet(QStringLiteral("json"));
    if (command == QLatin1String("init"))
        return positional.size() == 1 ? init(databaseUrl(parser)) : usage(QStringLiteral("init takes no argument"));
    if (command != QLatin1String("summary") && command != QLatin1String("device") && command != QLatin1String("export"))
        return usage(command.isEmpty() ? QStringLiteral("no command") : QStringLiteral("no command %1").arg(command));
    if (positional.size() != (command == QLatin1String("device") ? 2 : 1))
        return usage(command == QLatin1String("device") ? QStringLiteral("device takes one MAC or serial")
                                                        : QStringLiteral("%1 takes no argument").arg(command));
    reports::Span span;
    for (const char *name : {"since", "until"}) {
        if (!parser.isSet(QLatin1String(name)))
            continue;
        const QDateTime when = reports::parseWhen(parser.value(QLatin1String(name)));
        if (!when.isValid())
            return usage(QStringLiteral("--%1 %2 is no time (2026-12-08, 2026-12-08T14:00, today, ...)")
                                 .arg(QLatin1String(name), parser.value(QLatin1String(name))));
        (qstrcmp(name, "since") == 0 ? span.since : span.until) = when;
    }
    reports::By by = reports::By::Station;
    if (parser.isSet(QStringLiteral("by")) && !reports::parseBy(parser.value(QStringLiteral("by")), &by))
        return usage(QStringLiteral("--by %1: by station, adapter, image, day or serial")
                             .arg(parser.value(QStringLiteral("by"))));

    reports::Source source;
    source.databaseUrl = databaseUrl(parser);
    QString problem;
    source.recordPath = recordPath(parser, &problem, RecordUse::Reading);
    if (source.databaseUrl.isEmpty() && source.recordPath.isEmpty())
        return cannotRead(problem);
    if (!source.databaseUrl.isEmpty() && !DatabaseSender::usable(source.databaseUrl, &problem))
        return cannotRead(problem);
    QList<RecordRow> rows;
    if (!reports::loadRows(source, span, &rows, &problem))
        return cannotRead(problem);

    if (command == QLatin1String("export")) {
        std::fputs("\xEF\xBB\xBF", stdout);
        std::fputs(csvLine(RecordRow::titles()).constData(), stdout);
        for (const RecordRow &row : qAsConst(rows))
            std::fputs(csvLine(row.fields()).constData(), stdout);
        return 0;
    }
    if (command == QLatin1String("device")) {
        for (const RecordRow &row : reports::flashesOf(rows, positional.at(1))) {
            if (asJson) {
                print(json(row.json()));
                continue;
            }
            print(QStringLiteral("%1  %2  %3 %4  %5%6  %7 (SHA-256 %8…)  %9 s%10")
                          .arg(row.value("start"), row.value("result_text"), row.value("station"), row.value("adapter"),
                               row.value("device"),
                               row.value("device_mac").isEmpty() ? QString() : " " + row.value("device_mac"),
                               row.value("image"), row.value("image_sha256").left(16), row.value("seconds"),
                               row.value("serial").isEmpty() ? QString() : "  serial " + row.value("serial")));
        }
        return 0;
    }
    const QList<reports::Summary> summaries = reports::summarize(rows, by);
    const QString byName = parser.isSet(QStringLiteral("by")) ? parser.value(QStringLiteral("by")) : "station";
    if (!asJson)
        print(QStringLiteral("%1  flashes  complete  failed  first-pass yield  median s").arg(byName, -24));
    for (const reports::Summary &summary : summaries) {
        if (asJson) {
            QJsonObject object = summary.keys;
            object.insert(QStringLiteral("flashes"), summary.flashes);
            object.insert(QStringLiteral("complete"), summary.complete);
            object.insert(QStringLiteral("failed"), summary.failed);
            object.insert(QStringLiteral("first_pass_yield"), summary.firstPassYield);
            object.insert(QStringLiteral("median_seconds"), summary.medianSeconds);
            print(json(object));
            continue;
        }
        print(QStringLiteral("%1  %2  %3  %4  %5 %  %6")
                      .arg(summary.group, -24)
                      .arg(summary.flashes, 7)
                      .arg(summary.complete, 8)
                      .arg(summary.failed, 6)
                      .arg(summary.firstPassYield * 100, 14, 'f', 1)
                      .arg(summary.medianSeconds, 8, 'f', 3));
    }
    return 0;
}
