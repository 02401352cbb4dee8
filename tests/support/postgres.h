#ifndef POSTGRES_H
#define POSTGRES_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own, from Debian's postgresql package:
// its data and its Unix socket in a folder of the test's, no TCP port, run
// as the postgres user where the test runs as root, ended by its own process
// id. It trusts every local connection.
class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();

    // Empty where it started; else why not.
    QString start();
    void stop();
    // Every process of the server stopped (SIGSTOP), or going on again: a
    // server that takes connections into its queue and never answers.
    void hang();
    void resume();
    // The URL of a database on it, as a station is given it.
    QString url(const QString &database, const QString &user = QStringLiteral("postgres")) const;
    // What psql prints for the statement, tuples only, unaligned; empty on failure.
    QString query(const QString &database, const QString &sql) const;
    QString folder() const { return m_folder.path(); }
    // Lets the role in with its password only (pg_hba.conf), as a server that refuses.
    void requirePassword(const QString &role);

private:
    QStringList processes() const;
    int run(const QString &program, const QStringList &arguments) const;

    QTemporaryDir m_folder;
    qint64 m_pid = 0;
};

#endif // POSTGRES_H
