#include "netns.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace netns {

bool isPrivate()
{
    // The wrapper that made the namespace names the one it left; /proc/1 tells
    // the machine's where it may be read.
    const QString own = QFileInfo(QStringLiteral("/proc/self/ns/net")).symLinkTarget();
    if (own.isEmpty())
        return false;
    const QString outer = QFileInfo(qEnvironmentVariable("TCPSERVER_OUTER_NETNS")).fileName();
    const QString machine = QFileInfo(QStringLiteral("/proc/1/ns/net")).symLinkTarget();
    const QString ownName = QFileInfo(own).fileName();
    if (!machine.isEmpty() && QFileInfo(machine).fileName() == ownName)
        return false;
    return !outer.isEmpty() && outer != ownName;
}

QString whyNot()
{
    if (!isPrivate())
        return QStringLiteral("not in a private network namespace (making one needs root or user namespaces)");
    return QString();
}

int ip(const QStringList &arguments, QString *output)
{
    if (!isPrivate())
        qFatal("refusing to run ip outside a private network namespace");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList ipv4Of(const QString &interface)
{
    QString output;
    if (ip({QStringLiteral("-4"), QStringLiteral("-o"), QStringLiteral("address"), QStringLiteral("show"),
            QStringLiteral("dev"), interface},
           &output) != 0)
        return {};
    QStringList addresses;
    static const QRegularExpression inet(QStringLiteral("\\binet (\\S+)"));
    auto it = inet.globalMatch(output);
    while (it.hasNext())
        addresses << it.next().captured(1);
    return addresses;
}

} // namespace netns
