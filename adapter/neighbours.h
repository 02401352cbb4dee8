#ifndef NEIGHBOURS_H
#define NEIGHBOURS_H

#include <QHostAddress>
#include <QString>

// The hardware (MAC) address the PC's neighbour table holds for an address on
// one of its networks, as six colon-separated pairs of lower-case hex digits;
// empty when the table holds none (a loopback peer, an entry not resolved or
// already gone). Never guessed.
QString neighbourHardwareAddress(const QHostAddress &address);

// Reads Linux's /proc/net/arp text for the address's complete entry.
QString hardwareAddressFromArpTable(const QString &table, const QHostAddress &address);

namespace neighbours {
// The platform's half (neighbours_unix.cpp, neighbours_win.cpp): the table's
// entry for a plain (not IPv4-mapped), non-loopback address.
QString lookUp(const QHostAddress &address);
} // namespace neighbours

#endif // NEIGHBOURS_H
