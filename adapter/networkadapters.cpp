#include "adapter/networkadapters.h"

#include <QDeadlineTimer>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QProcess>
#include <QStringList>

NetworkAdapters::~NetworkAdapters() = default;

QList<CommandLine> netshAddressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    return {{QStringLiteral("netsh"),
             {QStringLiteral("interface"), QStringLiteral("ipv4"), QStringLiteral("set"), QStringLiteral("address"),
              QStringLiteral("name"), QStringLiteral("="), adapter, QStringLiteral("source"), QStringLiteral("="),
              QStringLiteral("static"), QStringLiteral("address"), QStringLiteral("="), address, QStringLiteral("mask"),
              QStringLiteral("="), mask}}};
}

QList<CommandLine> netshRestoreCommands(const AdapterNote &note)
{
    const QStringList start{QStringLiteral("interface"), QStringLiteral("ipv4")};
    const QStringList name{QStringLiteral("name"), QStringLiteral("="), note.adapter};
    const QString netsh = QStringLiteral("netsh");
    if (note.dhcp || note.addresses.isEmpty())
        return {{netsh,
                 start + QStringList{QStringLiteral("set"), QStringLiteral("address")} + name +
                         QStringList{QStringLiteral("source"), QStringLiteral("="), QStringLiteral("dhcp")}}};
    QList<CommandLine> commands;
    for (int i = 0; i < note.addresses.size(); ++i) {
        const AdapterNote::Address &entry = note.addresses.at(i);
        QStringList arguments = start +
                QStringList{i == 0 ? QStringLiteral("set") : QStringLiteral("add"), QStringLiteral("address")} + name;
        if (i == 0)
            arguments << QStringLiteral("source") << QStringLiteral("=") << QStringLiteral("static");
        arguments << QStringLiteral("address") << QStringLiteral("=") << entry.address << QStringLiteral("mask")
                  << QStringLiteral("=") << maskOfPrefix(entry.prefixLength);
        if (i == 0 && !note.gateways.isEmpty())
            arguments << QStringLiteral("gateway") << QStringLiteral("=") << note.gateways.first();
        commands.append({netsh, arguments});
    }
    return commands;
}

QList<CommandLine> iprouteAddressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    // Beside the adapter's own addresses, its routes left alone: the office
    // network it came from works on, and giving back takes this one away.
    const QString prefix = address + QLatin1Char('/') + QString::number(maskPrefixLength(mask));
    return {{QStringLiteral("ip"),
             {QStringLiteral("address"), QStringLiteral("add"), prefix, QStringLiteral("broadcast"),
              QStringLiteral("+"), QStringLiteral("dev"), adapter}}};
}

QList<CommandLine> iprouteRestoreCommands(const QString &adapter)
{
    return {{QStringLiteral("ip"),
             {QStringLiteral("address"), QStringLiteral("del"), kServerAddress + QStringLiteral("/24"),
              QStringLiteral("dev"), adapter}}};
}

void runCommandsInTurn(const QList<CommandLine> &commands, int timeoutMs)
{
    // The bound runs from the start of the first command.
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    for (const CommandLine &command : commands) {
        if (!deadline.isForever() && deadline.hasExpired())
            return;
        QProcess process;
        process.start(command.program, command.arguments, QIODevice::ReadWrite);
        if (!process.waitForStarted(deadline.isForever() ? timeoutMs : int(deadline.remainingTime())))
            continue;
        if (deadline.isForever())
            deadline.setRemainingTime(timeoutMs);
        process.closeWriteChannel();
        if (!process.waitForFinished(int(deadline.remainingTime()))) {
            process.kill();
            process.waitForFinished(1000);
        }
    }
}

int maskPrefixLength(const QString &mask)
{
    const QStringList parts = mask.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return -1;
    quint32 bits = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || value > 255)
            return -1;
        bits = (bits << 8) | value;
    }
    int length = 0;
    while (length < 32 && (bits & (0x80000000u >> length)))
        ++length;
    // The ones must be contiguous.
    const quint32 expected = length == 0 ? 0u : ~quint32(0) << (32 - length);
    return bits == expected ? length : -1;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

QString adapterHolding(const QHostAddress &address)
{
    const QList<NetworkAdapter> adapters = NetworkAdapters::system()->list();
    for (const NetworkAdapter &adapter : adapters) {
        if (adapter.addresses.contains(address))
            return adapter.name;
    }
    return QString();
}

namespace {

class SystemNetworkAdapters : public NetworkAdapters
{
public:
    QList<NetworkAdapter> list() override
    {
        QList<NetworkAdapter> adapters;
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &networkInterface : interfaces) {
            NetworkAdapter adapter;
            adapter.name = adapterDisplayName(networkInterface.humanReadableName());
            adapter.loopback = networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack);
            const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
            for (const QNetworkAddressEntry &entry : entries)
                adapter.addresses.append(entry.ip());
            adapters.append(adapter);
        }
        return adapters;
    }

    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int timeoutMs) override
    {
        runCommands(addressCommands(adapter, address, mask), timeoutMs);
    }

    AdapterNote settingsOf(const QString &adapter) override { return systemSettingsOf(adapter); }

    void restoreSettings(const AdapterNote &note, int timeoutMs) override
    {
        runCommands(restoreCommands(note), timeoutMs);
    }
};

} // namespace

NetworkAdapters *NetworkAdapters::system()
{
    static SystemNetworkAdapters adapters;
    return &adapters;
}
