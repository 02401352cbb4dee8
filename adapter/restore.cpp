#include "adapter/restore.h"

#include "adapter/networkadapters.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStringList>

namespace {

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

RestoreOutcome restoreNeeded(NetworkAdapters *adapters, const QString &notePath, AdapterNote *note)
{
    QString problem;
    switch (AdapterNote::read(notePath, note, &problem)) {
    case AdapterNote::Missing:
        return {RestoreOutcome::NothingToDo,
                QStringLiteral("ModifyIP changed no adapter: there is nothing to give "
                               "back.")};
    case AdapterNote::NotAFile:
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
    QStringList gone; // noted, and not on the adapter now
    for (const AdapterNote::Address &entry : note.addresses) {
        if (!note.dhcp && adapter && !holds(*adapter, entry.address))
            gone << entry.address + QLatin1Char('/') + QString::number(entry.prefixLength);
    }
    // Where giving back only takes 192.168.0.92 away (Linux), an address of
    // its own that went meanwhile (a DHCP lease that ended) is no failure.
    if (!adapter || holds(*adapter, kServerAddress) || (!gone.isEmpty() && restoreSetsNotedAddresses()))
        return {RestoreOutcome::Failed,
                QStringLiteral("The adapter %1 could not be given back its earlier settings "
                               "(%2). %3")
                        .arg(note.adapter, note.describe(), restoreByHand(note.adapter))};
    QFile::remove(notePath);
    if (!gone.isEmpty())
        return {RestoreOutcome::Restored,
                QStringLiteral("The adapter %1 no longer holds %2. Of its earlier settings (%3), %4 went "
                               "meanwhile (a DHCP lease that ended, say), and is for the system to give back.")
                        .arg(note.adapter, kServerAddress, note.describe(), gone.join(QStringLiteral(", ")))};
    return {RestoreOutcome::Restored,
            QStringLiteral("The adapter %1 has its earlier settings again: %2.").arg(note.adapter, note.describe())};
}
