#include "window/serverinterface.h"

#include "adapter/networkadapters.h"

#include <QAbstractSocket>

namespace {
const int kListedAdapterSlots = 20;
} // namespace

QString ServerInterface::getServerIp()
{
    // Every interface, every listed name and every address entry is visited:
    // the last match wins, both for the name and for the address.
    QString serverIp;
    const QList<NetworkAdapter> adapters = m_adapters->list();
    for (const NetworkAdapter &adapter : adapters) {
        for (int slot = 0; slot < kListedAdapterSlots; ++slot) {
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

bool ServerInterface::judgeServerIp()
{
    return getServerIp() == kServerAddress;
}
