#ifndef FAKEADAPTERS_H
#define FAKEADAPTERS_H

#include "adapter/networkadapters.h"

#include <functional>

// An adapter list that tests set as they please. It counts the searches and
// records the address changes asked of it.
class FakeAdapters : public NetworkAdapters
{
public:
    struct Change
    {
        QString adapter;
        QString address;
        QString mask;
        int timeoutMs;
    };

    QList<NetworkAdapter> adapters;
    int listCalls = 0;
    QList<Change> changes;
    // What a change does to the list; by default nothing (the change fails).
    std::function<void(FakeAdapters &, const Change &)> onChange;

    QList<NetworkAdapter> list() override
    {
        ++listCalls;
        return adapters;
    }

    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask,
                          int timeoutMs) override
    {
        const Change change{adapter, address, mask, timeoutMs};
        changes.append(change);
        if (onChange)
            onChange(*this, change);
    }

    static NetworkAdapter adapter(const QString &name, const QStringList &addresses = {})
    {
        NetworkAdapter result;
        result.name = name;
        for (const QString &address : addresses)
            result.addresses.append(QHostAddress(address));
        return result;
    }
};

#endif // FAKEADAPTERS_H
