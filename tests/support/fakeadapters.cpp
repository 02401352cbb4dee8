#include "fakeadapters.h"

void FakeAdapters::setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int)
{
    changes << QStringList{adapter, address, mask}.join(QLatin1Char(' '));
    if (onChange)
        onChange();
}

AdapterNote FakeAdapters::settingsOf(const QString &adapter)
{
    AdapterNote note;
    note.adapter = adapter;
    for (const NetworkAdapter &each : qAsConst(adapters)) {
        for (const QHostAddress &address : each.addresses) {
            if (each.name == adapter && address.protocol() == QAbstractSocket::IPv4Protocol)
                note.addresses.append({address.toString(), 24});
        }
    }
    return note;
}

void FakeAdapters::restoreSettings(const AdapterNote &note, int)
{
    restored << note;
    if (onRestore)
        onRestore();
}

NetworkAdapter adapter(const QString &name, const QStringList &addresses)
{
    NetworkAdapter adapter;
    adapter.name = name;
    for (const QString &address : addresses)
        adapter.addresses << QHostAddress(address);
    return adapter;
}
