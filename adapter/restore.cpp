#include "adapter/restore.h"

#include "adapter/networkadapters.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>

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
