#include "app/commandline.h"

#include "record/flashrecord.h"

#include <QCommandLineParser>
#include <QDir>

void addRecordOptions(QCommandLineParser *parser)
{
    const QString standard = FlashRecord::defaultPath();
    parser->addOption({QStringLiteral("log"),
                       QStringLiteral("Record every flash in this CSV file (default: %1).")
                               .arg(standard.isEmpty() ? QStringLiteral("flash-log.csv in the user's data folder")
                                                       : QDir::toNativeSeparators(standard)),
                       QStringLiteral("file")});
    parser->addOption({QStringLiteral("no-log"), QStringLiteral("Keep no record of the flashes.")});
}

QString recordPath(const QCommandLineParser &parser, QString *problem)
{
    if (parser.isSet(QStringLiteral("no-log")))
        return QString();
    if (parser.isSet(QStringLiteral("log")))
        return parser.value(QStringLiteral("log"));
    return FlashRecord::defaultPath(problem);
}
