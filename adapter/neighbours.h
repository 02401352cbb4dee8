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

#endif // NEIGHBOURS_H
