#include "app/commandline.h"

#include "server/flashlog.h"

#include <QCommandLineParser>
#include <QDir>

void addRecordOptions(QCommandLineParser *parser)
{
    parser->addOption({QStringLiteral("log"),
                       QStringLiteral("Record every flash in this CSV file (default: %1).")
                           .arg(QDir::toNativeSeparators(FlashLog::defaultPath())),
                       QStringLiteral("file")});
    parser->addOption({QStringLiteral("no-log"), QStringLiteral("Keep no record of the flashes.")});
}

QString recordPath(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("no-log")))
        return QString();
    if (parser.isSet(QStringLiteral("log")))
        return parser.value(QStringLiteral("log"));
    return FlashLog::defaultPath();
}
