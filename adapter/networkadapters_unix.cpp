#include "adapter/networkadapters.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

QList<CommandLine> addressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    // Process arguments are encoded with the locale's codec; pass the name's
    // own bytes whatever that codec is.
    const QString name = QString::fromLocal8Bit(adapter.toUtf8());
    // Installed, the program has a helper beside it that holds the right to
    // change addresses and sets exactly this one; elsewhere (root, the source
    // tree) ip does it.
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/tcpserver-set-address");
    if (address == kServerAddress && mask == kServerMask && QFileInfo::exists(helper))
        return {{helper, {name}}};
    return iprouteAddressCommands(name, address, mask);
}

void runCommands(const QList<CommandLine> &commands, int timeoutMs)
{
    runCommandsInTurn(commands, timeoutMs);
}

QString adapterDisplayName(const QString &reportedName)
{
    return recoverUtf8Name(reportedName);
}

int reversePathFilter(const QString &adapter)
{
    // The greater of the two settings holds (Linux's ip-sysctl documentation).
    int effective = -1;
    for (const QString &scope : {QStringLiteral("all"), adapter}) {
        QFile setting(QStringLiteral("/proc/sys/net/ipv4/conf/%1/rp_filter").arg(scope));
        bool read = false;
        const int value = setting.open(QIODevice::ReadOnly) ? setting.readAll().trimmed().toInt(&read) : -1;
        if (read)
            effective = qMax(effective, value);
    }
    return effective;
}
