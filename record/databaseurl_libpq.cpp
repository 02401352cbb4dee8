#include "record/databaseurl.h"

#include <QStringList>

#include <libpq-fe.h>

namespace {

// A connect_timeout and a statement_timeout of a few seconds where the URL
// sets none: nothing of the line waits for the database, but its own thread
// should not wait for ever either.
const char kConnectSeconds[] = "5";
const char kStatementOptions[] = "-c statement_timeout=5000";

// A value as libpq reads it in a keyword string.
QString quoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace

DatabaseUrl DatabaseUrl::parse(const QString &url)
{
    DatabaseUrl parsed;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), &error);
    if (!options) {
        parsed.problem =
                QStringLiteral("the database URL %1 cannot be read: %2")
                        .arg(shown(url),
                             error ? QString::fromUtf8(error).trimmed() : QStringLiteral("there is not enough memory"));
        PQfreemem(error);
        return parsed;
    }
    QStringList rest;
    bool connectTimeout = false;
    bool serverOptions = false;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        const QByteArray keyword(option->keyword);
        const QString value = QString::fromUtf8(option->val);
        if (value.contains(QLatin1Char(';'))) {
            // Qt's driver splits its options at ';', whatever the quoting.
            parsed.problem = QStringLiteral("the database URL's %1 holds a ';', which cannot be passed on")
                                     .arg(QString::fromUtf8(keyword));
        } else if (keyword == "password") {
            parsed.problem = QStringLiteral("the database URL holds a password, which would show in the list of "
                                            "programs: put it in ~/.pgpass (or PGPASSWORD) instead");
        } else if (keyword == "host") {
            parsed.host = value;
        } else if (keyword == "port") {
            parsed.port = value.toInt();
        } else if (keyword == "dbname") {
            parsed.database = value;
        } else if (keyword == "user") {
            parsed.user = value;
        } else {
            connectTimeout = connectTimeout || keyword == "connect_timeout";
            if (keyword == "options") {
                serverOptions = true;
                rest << QStringLiteral("options=") +
                                quoted(value + QLatin1Char(' ') + QLatin1String(kStatementOptions));
                continue;
            }
            rest << QString::fromUtf8(keyword) + QLatin1Char('=') + quoted(value);
        }
    }
    PQconninfoFree(options);
    if (!connectTimeout)
        rest << QStringLiteral("connect_timeout=") + QLatin1String(kConnectSeconds);
    if (!serverOptions)
        rest << QStringLiteral("options=") + quoted(QLatin1String(kStatementOptions));
    // Qt's driver hands the options to libpq separated by ';'.
    parsed.options = rest.join(QLatin1Char(';'));
    return parsed;
}
