#ifndef DATABASEURL_H
#define DATABASEURL_H

#include <QSqlDatabase>
#include <QString>

// Where the line's database is, as a PostgreSQL connection URI (or keyword
// string) names it, read by libpq itself, so that every form libpq documents
// works: postgresql://station@db.line.local/flashes,
// postgresql:///flashes?host=/run/postgresql, service names and the rest. A
// password is never taken from it: libpq finds one in ~/.pgpass or
// PGPASSWORD, and a password on a command line is one that ps shows.
struct DatabaseUrl
{
    QString host;
    int port = -1;
    QString database;
    QString user;
    // Every other keyword, as Qt's driver hands them to libpq.
    QString options;
    // Empty where it can be used; else why not, in a sentence.
    QString problem;

    // The platform's half: databaseurl_libpq.cpp where the build has libpq,
    // databaseurl_none.cpp elsewhere.
    static DatabaseUrl parse(const QString &url);
    // The URL as a line may show it: without a password, should it hold one.
    static QString shown(const QString &url);
    // A connection of Qt's PostgreSQL driver to it, under that name, not
    // opened yet.
    QSqlDatabase addConnection(const QString &name) const;
};

#endif // DATABASEURL_H
