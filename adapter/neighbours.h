#ifndef NEIGHBOURS_H
#define NEIGHBOURS_H

#include <QHostAddress>
#include <QString>

// The hardware (MAC) address the PC's neighbour table holds for an address on
// one of its networks, as six colon-separated pairs of lower-case hex digits;
// empty when the table holds none (a loopback peer, an entry not resolved or
// already gone). Never guessed. Devices behind several adapters may all have
// the same address: the entry is the one on the adapter named, where one is.
QString neighbourHardwareAddress(const QHostAddress &address, const QString &adapter = QString());

// Reads Linux's /proc/net/arp text for the address's complete entry on the adapter.
QString hardwareAddressFromArpTable(const QString &table, const QHostAddress &address, const QString &adapter);

namespace neighbours {
// The platform's half (neighbours_unix.cpp, neighbours_win.cpp): the table's
// entry for a plain (not IPv4-mapped), non-loopback address.
QString lookUp(const QHostAddress &address, const QString &adapter);
} // namespace neighbours

#endif // NEIGHBOURS_H
