#include "postgres.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
} // namespace

PostgresServer::PostgresServer()
{
    // The server runs as another user, who must reach its folder.
    QFile::setPermissions(m_folder.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                  QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

PostgresServer::~PostgresServer()
{
    resume();
    stop();
}

int PostgresServer::run(const QString &program, const QStringList &arguments) const
{
    QProcess process;
    // The server refuses to run as root: as the package's own user then.
    if (::geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList{"-u", "postgres", "--", program} + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    return process.exitCode();
}

QString PostgresServer::start()
{
    const QString data = m_folder.filePath(QStringLiteral("data"));
    if (!QFileInfo::exists(kBin + QStringLiteral("initdb")))
        return QStringLiteral("PostgreSQL is missing (./test.sh installs Debian's postgresql)");
    if (!QDir(data).exists() &&
        run(kBin + QStringLiteral("initdb"), {"-D", data, "--auth=trust", "-U", "postgres", "-N"}) != 0)
        return QStringLiteral("initdb failed");
    if (run(kBin + QStringLiteral("pg_ctl"),
            {"-D", data, "-l", m_folder.filePath("log"), "-w", "-o",
             QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off").arg(m_folder.path()), "start"}) != 0)
        return QStringLiteral("the server did not start (its log: %1)").arg(m_folder.filePath("log"));
    QFile pid(data + QStringLiteral("/postmaster.pid"));
    if (!pid.open(QIODevice::ReadOnly))
        return QStringLiteral("the server left no pid");
    m_pid = pid.readLine().trimmed().toLongLong();
    return QString();
}

void PostgresServer::stop()
{
    if (m_pid <= 0)
        return;
    // Fast shutdown, of the test's own server alone; then it is gone.
    ::kill(pid_t(m_pid), SIGINT);
    if (!QTest::qWaitFor(
                [this] {
                    // Where the test is its namespace's first process, the server is its child once pg_ctl is
                    // gone, and stays as a zombie until reaped.
                    ::waitpid(pid_t(m_pid), nullptr, WNOHANG);
                    return ::kill(pid_t(m_pid), 0) != 0;
                },
                20000))
        qWarning("the test's PostgreSQL server did not end");
    m_pid = 0;
}

QStringList PostgresServer::processes() const
{
    // The postmaster and its children, as the system lists them.
    QProcess list;
    list.start(QStringLiteral("ps"), {"-o", "pid=", "--ppid", QString::number(m_pid)});
    list.waitForFinished(10000);
    QStringList pids = QString::fromLatin1(list.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    pids << QString::number(m_pid);
    return pids;
}

void PostgresServer::hang()
{
    for (const QString &pid : processes())
        ::kill(pid_t(pid.trimmed().toLongLong()), SIGSTOP);
}

void PostgresServer::resume()
{
    if (m_pid <= 0)
        return;
    for (const QString &pid : processes())
        ::kill(pid_t(pid.trimmed().toLongLong()), SIGCONT);
}

QString PostgresServer::url(const QString &database, const QString &user) const
{
    return QStringLiteral("postgresql:///%1?host=%2&user=%3").arg(database, m_folder.path(), user);
}

QString PostgresServer::query(const QString &database, const QString &sql) const
{
    QProcess psql;
    psql.start(QStringLiteral("psql"),
               {"-X", "-q", "-t", "-A", "-h", m_folder.path(), "-U", "postgres", "-d", database, "-c", sql});
    if (!psql.waitForFinished(20000) || psql.exitCode() != 0)
        return QString();
    return QString::fromUtf8(psql.readAllStandardOutput()).trimmed();
}

void PostgresServer::requirePassword(const QString &role)
{
    const QString hba = m_folder.filePath(QStringLiteral("data/pg_hba.conf"));
    QFile file(hba);
    file.open(QIODevice::ReadOnly);
    const QByteArray rest = file.readAll();
    file.close();
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("local all " + role.toUtf8() + " scram-sha-256\n" + rest);
    file.close();
    query(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()"));
}
