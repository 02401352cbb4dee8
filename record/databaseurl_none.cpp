#include "record/databaseurl.h"

DatabaseUrl DatabaseUrl::parse(const QString &url)
{
    Q_UNUSED(url)
    DatabaseUrl parsed;
    parsed.problem = QStringLiteral("this build of TcpServer has no PostgreSQL client (libpq), so the line's "
                                    "database cannot be reached from it; the local record is kept all the same");
    return parsed;
}
