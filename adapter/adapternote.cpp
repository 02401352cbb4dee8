#include "adapter/adapternote.h"

#include <QAbstractSocket>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const QByteArray kFirstLine = "TcpServer: how ModifyIP found the adapter";

bool holds(const NetworkAdapter &adapter, const QString &address)
{
    return adapter.addresses.contains(QHostAddress(address));
}

const NetworkAdapter *findAdapter(const QList<NetworkAdapter> &adapters, const QString &name)
{
    for (const NetworkAdapter &adapter : adapters) {
        if (adapter.name == name)
            return &adapter;
    }
    return nullptr;
}
} // namespace

QString AdapterNote::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/TcpServer/adapter-before-modifyip.txt");
}

AdapterNote::Reading AdapterNote::read(const QString &path, AdapterNote *note, QString *problem)
{
    QFile file(path);
    if (!file.exists())
        return Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return Unreadable;
    }
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    *note = AdapterNote();
    if (lines.value(0) != kFirstLine) {
        *problem = QStringLiteral("it is not a note of TcpServer's");
        return Unreadable;
    }
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line == "end" && !note->adapter.isEmpty())
            return Read;
        if (line == "end") {
            *problem = QStringLiteral("it names no adapter");
            return Unreadable;
        }
        const int equals = line.indexOf('=');
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        const QHostAddress address(value.section(QLatin1Char('/'), 0, 0));
        bool prefixRead = false;
        const int prefix = value.section(QLatin1Char('/'), 1).toInt(&prefixRead);
        if (key == "adapter" && !value.isEmpty())
            note->adapter = value;
        else if (key == "dhcp" && (value == QLatin1String("yes") || value == QLatin1String("no")))
            note->dhcp = value == QLatin1String("yes");
        else if (key == "address" && address.protocol() == QAbstractSocket::IPv4Protocol && prefixRead && prefix >= 0 &&
                 prefix <= 32)
            note->addresses.append({address.toString(), prefix});
        else if (key == "gateway" && address.protocol() == QAbstractSocket::IPv4Protocol)
            note->gateways.append(address.toString());
        else if (i < lines.size() - 1) {
            *problem = QStringLiteral("line %1 cannot be read").arg(i + 1);
            return Unreadable;
        }
    }
    *problem = QStringLiteral("it ends before its end");
    return Truncated;
}

bool AdapterNote::write(const QString &path, QString *failure) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray text = kFirstLine + "\nadapter=" + adapter.toUtf8() + "\ndhcp=" + (dhcp ? "yes" : "no") + '\n';
    for (const Address &entry : addresses)
        text += "address=" + entry.address.toUtf8() + '/' + QByteArray::number(entry.prefixLength) + '\n';
    for (const QString &gateway : gateways)
        text += "gateway=" + gateway.toUtf8() + '\n';
    text += "end\n";
    // Whole or not at all, and on the disk before the change it notes.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *failure = file.errorString();
    return false;
}

QString AdapterNote::describe() const
{
    if (dhcp)
        return QStringLiteral("obtain an address automatically (DHCP)");
    QStringList shown;
    for (const Address &entry : addresses)
        shown << entry.address + QLatin1Char('/') + QString::number(entry.prefixLength);
    if (shown.isEmpty())
        return QStringLiteral("no IPv4 address");
    QString text = shown.join(QStringLiteral(", "));
    if (!gateways.isEmpty())
        text += QStringLiteral(" with the gateway ") + gateways.join(QStringLiteral(", "));
    return text;
}

bool AdapterNote::operator==(const AdapterNote &other) const
{
    auto text = [](const AdapterNote &note) {
        QStringList all{note.adapter, note.dhcp ? QStringLiteral("dhcp") : QString()};
        for (const Address &entry : note.addresses)
            all << entry.address + QLatin1Char('/') + QString::number(entry.prefixLength);
        return all + note.gateways;
    };
    return text(*this) == text(other);
}

QString maskOfPrefix(int prefixLength)
{
    const quint32 bits = prefixLength <= 0 ? 0u : ~quint32(0) << (32 - qMin(prefixLength, 32));
    return QHostAddress(bits).toString();
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

RestoreOutcome restoreNeeded(NetworkAdapters *adapters, const QString &notePath, AdapterNote *note)
{
    QString problem;
    switch (AdapterNote::read(notePath, note, &problem)) {
    case AdapterNote::Missing:
        return {RestoreOutcome::NothingToDo,
                QStringLiteral("ModifyIP changed no adapter: there is nothing to give "
                               "back.")};
    case AdapterNote::Unreadable:
    case AdapterNote::Truncated:
        return {RestoreOutcome::Unusable,
                QStringLiteral("The note of the adapter's earlier settings, %1, cannot be "
                               "used (%2); it is left in place.")
                        .arg(QDir::toNativeSeparators(notePath), problem)};
    case AdapterNote::Read: break;
    }
    const QList<NetworkAdapter> present = adapters->list();
    const NetworkAdapter *adapter = findAdapter(present, note->adapter);
    if (!adapter)
        return {RestoreOutcome::Unusable,
                QStringLiteral("The note %1 is for the adapter %2, which this PC does not "
                               "have now; it is left in place.")
                        .arg(QDir::toNativeSeparators(notePath), note->adapter)};
    if (!holds(*adapter, kServerAddress)) {
        QFile::remove(notePath);
        return {RestoreOutcome::LeftAlone,
                QStringLiteral("The adapter %1 no longer holds %2: its settings were "
                               "changed since ModifyIP, and are left as they are.")
                        .arg(note->adapter, kServerAddress)};
    }
    return {RestoreOutcome::Due, QString()};
}

RestoreOutcome restoreAdapter(NetworkAdapters *adapters, const QString &notePath, const AdapterNote &note,
                              int timeoutMs)
{
    adapters->restoreSettings(note, timeoutMs);
    // Only a fresh look decides.
    const QList<NetworkAdapter> present = adapters->list();
    const NetworkAdapter *adapter = findAdapter(present, note.adapter);
    bool restored = adapter && !holds(*adapter, kServerAddress);
    for (const AdapterNote::Address &entry : note.addresses)
        restored = restored && (note.dhcp || holds(*adapter, entry.address));
    if (!restored)
        return {RestoreOutcome::Failed,
                QStringLiteral("The adapter %1 could not be given back its earlier settings "
                               "(%2). %3")
                        .arg(note.adapter, note.describe(), restoreByHand(note.adapter))};
    QFile::remove(notePath);
    return {RestoreOutcome::Restored,
            QStringLiteral("The adapter %1 has its earlier settings again: %2.").arg(note.adapter, note.describe())};
}
