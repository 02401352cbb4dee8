#include "adapter/neighbours.h"

#include <QFile>

QString neighbours::lookUp(const QHostAddress &address)
{
    QFile arp(QStringLiteral("/proc/net/arp"));
    if (address.protocol() != QAbstractSocket::IPv4Protocol || !arp.open(QIODevice::ReadOnly))
        return QString();
    return hardwareAddressFromArpTable(QString::fromLatin1(arp.readAll()), address);
}
