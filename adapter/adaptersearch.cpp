#include "adapter/adaptersearch.h"

#include "adapter/adapternames.h"
#include "adapter/networkadapters.h"

#include <QAbstractSocket>

AdapterSearch::AdapterSearch(NetworkAdapters *adapters)
    : m_adapters(adapters)
{
    for (int slot = 0; slot < WIRED_ADAPTER_NAME_COUNT; ++slot)
        m_adapterNames[slot] = QString::fromUtf8(kWiredAdapterNames[slot]);
}

QString AdapterSearch::getServerIp()
{
    QString serverIp;
    const QList<NetworkAdapter> adapters = m_adapters->list();
    for (const NetworkAdapter &adapter : adapters) {
        for (int slot = 0; slot < WIRED_ADAPTER_NAME_COUNT; ++slot) {
            if (adapter.name != m_adapterNames[slot])
                continue;
            m_adapterName = m_adapterNames[slot];
            m_adapterFound = true;
            for (const QHostAddress &address : adapter.addresses) {
                if (address.protocol() == QAbstractSocket::IPv4Protocol)
                    serverIp = address.toString();
            }
        }
    }
    return serverIp;
}

bool AdapterSearch::judgeServerIp()
{
    return getServerIp() == kServerAddress;
}
