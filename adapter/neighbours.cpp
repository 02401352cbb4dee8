#include "adapter/neighbours.h"

#include <QFile>
#include <QStringList>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#endif

namespace {

// The address as the neighbour table keys it: an IPv4 device reaches the
// any-address listener as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

#ifdef Q_OS_WIN
QString colonHex(const unsigned char *bytes, int length)
{
    QStringList pairs;
    for (int i = 0; i < length; ++i)
        pairs << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return pairs.join(QLatin1Char(':'));
}
#endif

} // namespace

QString hardwareAddressFromArpTable(const QString &table, const QHostAddress &address)
{
    const QHostAddress wanted = plain(address);
    const QStringList lines = table.split(QLatin1Char('\n'));
    // IP address, HW type, Flags, HW address, Mask, Device; the first line names them.
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines.at(i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 6 || QHostAddress(fields.at(0)) != wanted)
            continue;
        bool ok = false;
        const uint flags = fields.at(2).toUInt(&ok, 16);
        const QString mac = fields.at(3).toLower();
        const bool complete = ok && (flags & 0x2) != 0; // ATF_COM
        if (complete && mac.size() == 17 && mac != QLatin1String("00:00:00:00:00:00"))
            return mac;
    }
    return QString();
}

QString neighbourHardwareAddress(const QHostAddress &address)
{
    const QHostAddress wanted = plain(address);
    if (wanted.isNull() || wanted.isLoopback())
        return QString();
#ifdef Q_OS_WIN
    // The IP Helper's table holds IPv4 and IPv6 neighbours alike.
    MIB_IPNET_TABLE2 *table = nullptr;
    if (GetIpNetTable2(AF_UNSPEC, &table) != NO_ERROR || !table)
        return QString();
    QString found;
    for (ULONG i = 0; i < table->NumEntries && found.isEmpty(); ++i) {
        const MIB_IPNET_ROW2 &row = table->Table[i];
        QHostAddress entry;
        if (row.Address.si_family == AF_INET)
            entry.setAddress(ntohl(row.Address.Ipv4.sin_addr.s_addr));
        else if (row.Address.si_family == AF_INET6)
            entry.setAddress(reinterpret_cast<const quint8 *>(&row.Address.Ipv6.sin6_addr));
        const bool resolved = row.State != NlnsUnreachable && row.State != NlnsIncomplete;
        if (entry == wanted && resolved && row.PhysicalAddressLength == 6)
            found = colonHex(row.PhysicalAddress, 6);
    }
    FreeMibTable(table);
    return found;
#else
    QFile arp(QStringLiteral("/proc/net/arp"));
    if (wanted.protocol() != QAbstractSocket::IPv4Protocol || !arp.open(QIODevice::ReadOnly))
        return QString();
    return hardwareAddressFromArpTable(QString::fromLatin1(arp.readAll()), wanted);
#endif
}
