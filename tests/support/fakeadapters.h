#ifndef FAKEADAPTERS_H
#define FAKEADAPTERS_H

#include "adapter/networkadapters.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Adapters of the test's own: what they hold, and what was asked of them.
struct FakeAdapters : NetworkAdapters
{
    QList<NetworkAdapter> adapters;
    QStringList changes; // "ADAPTER ADDRESS MASK", each change asked for
    std::function<void()> onChange;
    QList<AdapterNote> restored; // each giving back asked for
    std::function<void()> onRestore;
    QList<NetworkAdapter> list() override { return adapters; }
    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int) override;
    AdapterNote settingsOf(const QString &adapter) override;
    void restoreSettings(const AdapterNote &note, int) override;
};

NetworkAdapter adapter(const QString &name, const QStringList &addresses);

#endif // FAKEADAPTERS_H
