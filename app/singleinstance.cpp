#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QStandardPaths>

SingleInstance::SingleInstance()
    : SingleInstance(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                     QStringLiteral("/TcpServer.lock"))
{
}

SingleInstance::SingleInstance(const QString &lockPath)
    : m_lock(lockPath)
{
    // Only a lock whose process has ended is stale, however long it is held.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::claim()
{
    // A lock that cannot be made at all (no runtime folder) does not stop the
    // operator: the port check still tells of a second server.
    if (m_lock.tryLock(0) || m_lock.error() != QLockFile::LockFailedError)
        return true;
    // A lock that names this very process was left by an earlier one that had
    // the same process id (ids are reused, after a crash or a restart).
    qint64 pid = 0;
    QString host;
    if (m_lock.getLockInfo(&pid, &host, &m_holder) && pid == QCoreApplication::applicationPid() &&
        m_lock.removeStaleLockFile() && m_lock.tryLock(0))
        return true;
    return false;
}
