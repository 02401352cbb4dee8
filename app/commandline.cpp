#include "app/commandline.h"

#include "record/flashrecord.h"

#include <QCommandLineParser>
#include <QDir>
#include <QSettings>
#include <QSysInfo>

namespace {

// An ini file of the user's: ~/.config/TcpServer/TcpServer.ini,
// %APPDATA%\TcpServer\TcpServer.ini.
#define USER_SETTINGS                                                                                                  \
    QSettings::IniFormat, QSettings::UserScope, QStringLiteral("TcpServer"), QStringLiteral("TcpServer")

QString setting(const QCommandLineParser &parser, const char *name)
{
    const QString option = QLatin1String(name);
    return parser.isSet(option) ? parser.value(option) : QSettings(USER_SETTINGS).value(option).toString();
}

} // namespace

void addRecordOptions(QCommandLineParser *parser, RecordUse use)
{
    const bool writing = use == RecordUse::Writing;
    const QString standard = FlashRecord::defaultPath();
    parser->addOption({QStringLiteral("log"),
                       (writing ? QStringLiteral("Record every flash in this CSV file (default: %1).")
                                : QStringLiteral("Read the flashes from this CSV record (default: %1)."))
                               .arg(standard.isEmpty() ? QStringLiteral("flash-log.csv in the user's data folder")
                                                       : QDir::toNativeSeparators(standard)),
                       QStringLiteral("file")});
    if (writing)
        parser->addOption({QStringLiteral("no-log"), QStringLiteral("Keep no record of the flashes.")});
    parser->addOption({QStringLiteral("database"),
                       (writing ? QStringLiteral("Send every row of the record to the line's PostgreSQL database "
                                                 "too, as libpq reads this URL, e.g. ")
                                : QStringLiteral("Read the line's PostgreSQL database instead, as libpq reads this "
                                                 "URL, e.g. ")) +
                               QStringLiteral("postgresql://station@db.line.local/flashes (default: database= in "
                                              "%1). The password comes from ~/.pgpass or PGPASSWORD, never from "
                                              "the URL.")
                                       .arg(QDir::toNativeSeparators(settingsPath())),
                       QStringLiteral("url")});
    if (writing) {
        parser->addOption({QStringLiteral("station"),
                           QStringLiteral("This station's name in every row (default: station= in the settings "
                                          "file, else the host's name, %1).")
                                   .arg(QSysInfo::machineHostName()),
                           QStringLiteral("name")});
    }
}

QString recordPath(const QCommandLineParser &parser, QString *problem, RecordUse use)
{
    if (use == RecordUse::Writing && parser.isSet(QStringLiteral("no-log")))
        return QString();
    if (parser.isSet(QStringLiteral("log")))
        return parser.value(QStringLiteral("log"));
    return FlashRecord::defaultPath(problem);
}

QString databaseUrl(const QCommandLineParser &parser)
{
    return setting(parser, "database");
}

QString stationName(const QCommandLineParser &parser)
{
    const QString name = setting(parser, "station");
    return name.isEmpty() ? QSysInfo::machineHostName() : name;
}

QString settingsPath()
{
    return QSettings(USER_SETTINGS).fileName();
}
