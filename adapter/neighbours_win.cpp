#include "adapter/neighbours.h"

#include <QStringList>

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

namespace {

QString colonHex(const unsigned char *bytes, int length)
{
    QStringList pairs;
    for (int i = 0; i < length; ++i)
        pairs << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return pairs.join(QLatin1Char(':'));
}

// The interface index of the adapter Windows calls so; 0 where there is none.
NET_IFINDEX indexOf(const QString &adapter)
{
    NET_LUID luid{};
    NET_IFINDEX index = 0;
    if (adapter.isEmpty() ||
        ConvertInterfaceAliasToLuid(reinterpret_cast<const wchar_t *>(adapter.utf16()), &luid) != NO_ERROR ||
        ConvertInterfaceLuidToIndex(&luid, &index) != NO_ERROR)
        return 0;
    return index;
}

} // namespace

QString neighbours::lookUp(const QHostAddress &address, const QString &adapter)
{
    const NET_IFINDEX wantedIndex = indexOf(adapter);
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
        const bool onAdapter = wantedIndex == 0 || row.InterfaceIndex == wantedIndex;
        if (entry == address && resolved && onAdapter && row.PhysicalAddressLength == 6)
            found = colonHex(row.PhysicalAddress, 6);
    }
    FreeMibTable(table);
    return found;
}
