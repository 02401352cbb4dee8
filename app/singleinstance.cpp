#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

namespace {

QString lockPathInRuntimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/TcpServer.lock");
}

} // namespace

SingleInstance::SingleInstance()
    : SingleInstance(lockPathInRuntimeFolder())
{
}

SingleInstance::SingleInstance(const QString &lockPath)
    : m_path(lockPath)
    , m_lock(lockPath.isEmpty() ? QStringLiteral("TcpServer.lock") : lockPath)
{
    // Only a lock whose process has ended is stale, however long it is held.
    m_lock.setStaleLockTime(0);
}

SingleInstance::Claim SingleInstance::claim()
{
    // Never a lock at the file system's root, nor in whatever folder the
    // program was started in.
    if (m_path.isEmpty()) {
        m_note = QStringLiteral("there is no runtime folder for the lock that keeps a second TcpServer out (set "
                                "XDG_RUNTIME_DIR); going on without it");
        return Taken;
    }
    // The lock and a program's own process: QLockFile takes over a lock whose
    // process has ended or is another program's now.
    if (m_lock.tryLock(0))
        return Taken;
    if (m_lock.error() != QLockFile::LockFailedError) {
        // A lock that cannot be made at all does not stop the operator: the
        // port check still tells of a second server.
        m_note = QStringLiteral("cannot make the lock %1 (%2); going on without it")
                         .arg(QDir::toNativeSeparators(m_path),
                              m_lock.error() == QLockFile::PermissionError ? QStringLiteral("no permission")
                                                                           : QStringLiteral("unknown error"));
        return Taken;
    }
    if (!QFileInfo(m_path).isFile()) {
        m_note = QStringLiteral("%1 is not TcpServer's lock but stands where it belongs: remove it")
                         .arg(QDir::toNativeSeparators(m_path));
        return InTheWay;
    }
    qint64 pid = 0;
    QString host;
    QString program;
    if (!m_lock.getLockInfo(&pid, &host, &program)) {
        // Empty or unreadable: it names no program at all.
        if (QFile::remove(m_path) && m_lock.tryLock(0))
            return Taken;
        m_note = QStringLiteral("cannot take over the lock %1, which names no program: remove it")
                         .arg(QDir::toNativeSeparators(m_path));
        return InTheWay;
    }
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) {
        m_note = QStringLiteral("the lock %1 was left by %2 on the host %3; if no TcpServer runs there, remove it")
                         .arg(QDir::toNativeSeparators(m_path), program, host);
        return HeldElsewhere;
    }
    // One that names this very process was left by an earlier one that had
    // the same process id (ids are reused, after a crash or a restart).
    if (pid == QCoreApplication::applicationPid() && m_lock.removeStaleLockFile() && m_lock.tryLock(0))
        return Taken;
    return program == QLatin1String("tcpserver-station") ? HeldByStation : HeldByWindow;
}
