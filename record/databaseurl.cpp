#include "record/databaseurl.h"

#include <QUrl>

QString DatabaseUrl::shown(const QString &url)
{
    QUrl read(url);
    if (read.isValid() && !read.password().isEmpty()) {
        read.setPassword(QString());
        return read.toString();
    }
    return url;
}

QSqlDatabase DatabaseUrl::addConnection(const QString &name) const
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    database.setHostName(host);
    if (port > 0)
        database.setPort(port);
    database.setDatabaseName(this->database);
    database.setUserName(user);
    database.setConnectOptions(options);
    return database;
}
