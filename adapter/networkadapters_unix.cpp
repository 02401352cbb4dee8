#include "adapter/networkadapters.h"

#include "files/systemname.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QtEndian>

namespace {

// Process arguments are encoded with the locale's codec; pass the name's own
// bytes whatever that codec is.
QString argumentOf(const QString &adapter)
{
    return QString::fromLocal8Bit(adapter.toUtf8());
}

// Installed, the program has a helper beside it that holds the right to add
// exactly this one address and take it away again; elsewhere ip does it (as
// root).
QString helper()
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/tcpserver-set-address");
    return QFileInfo::exists(path) ? path : QString();
}

} // namespace

QList<CommandLine> addressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    if (address == kServerAddress && mask == kServerMask && !helper().isEmpty())
        return {{helper(), {argumentOf(adapter)}}};
    return iprouteAddressCommands(argumentOf(adapter), address, mask);
}

QList<CommandLine> restoreCommands(const AdapterNote &note)
{
    // The adapter's own addresses and routes were never taken away: giving
    // back takes 192.168.0.92/24 away again, and nothing else.
    if (!helper().isEmpty())
        return {{helper(), {QStringLiteral("--restore"), argumentOf(note.adapter)}}};
    return iprouteRestoreCommands(argumentOf(note.adapter));
}

bool restoreSetsNotedAddresses()
{
    return false;
}

QString restoreByHand(const QString &adapter)
{
    return QStringLiteral("Take it away by hand: sudo ip address del %1/24 dev %2").arg(kServerAddress, adapter);
}

AdapterNote systemSettingsOf(const QString &adapter)
{
    AdapterNote note;
    note.adapter = adapter;
    const QNetworkInterface found = QNetworkInterface::interfaceFromName(QString::fromLatin1(nameToSystem(adapter)));
    for (const QNetworkAddressEntry &entry : found.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            note.addresses.append({entry.ip().toString(), entry.prefixLength()});
    }
    // The default routes through it: Iface, Destination, Gateway, Flags, ...,
    // Mask, in hex, the first line naming them.
    QFile routes(QStringLiteral("/proc/net/route"));
    if (routes.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = routes.readAll().split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
            if (fields.size() < 8 || QString::fromUtf8(fields.at(0)) != adapter || fields.at(1) != "00000000")
                continue;
            // The kernel prints the address's bytes as this machine reads a number.
            bool read = false;
            const quint32 gateway = fields.at(2).toUInt(&read, 16);
            uchar bytes[4];
            qToUnaligned(gateway, bytes);
            if (read && gateway != 0)
                note.gateways.append(QHostAddress(qFromBigEndian<quint32>(bytes)).toString());
        }
    }
    return note;
}

void runCommands(const QList<CommandLine> &commands, int timeoutMs)
{
    runCommandsInTurn(commands, timeoutMs);
}

QString adapterDisplayName(const QString &reportedName)
{
    // Qt hands the kernel's bytes over as Latin-1.
    return nameFromSystem(reportedName.toLatin1());
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
