#include "adapter/neighbours.h"

#include <QFile>

QString neighbours::lookUp(const QHostAddress &address, const QString &adapter)
{
    QFile arp(QStringLiteral("/proc/net/arp"));
    if (address.protocol() != QAbstractSocket::IPv4Protocol || !arp.open(QIODevice::ReadOnly))
        return QString();
    // Names are bytes there, as QNetworkInterface hands them over.
    return hardwareAddressFromArpTable(QString::fromLatin1(arp.readAll()), address, adapter);
}
