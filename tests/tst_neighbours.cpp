// The hardware address behind a device's address, from the neighbour table.
#include "adapter/neighbours.h"

#include <QTest>

class NeighboursTest : public QObject
{
    Q_OBJECT

private slots:
    void hardwareAddressFromNeighbourTable_data();
    void hardwareAddressFromNeighbourTable();
};

void NeighboursTest::hardwareAddressFromNeighbourTable_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("mac");
    QTest::newRow("the same address behind another adapter") << "192.168.0.50"
                                                             << "enx001122334455"
                                                             << "02:00:5e:10:00:09";
    QTest::newRow("an adapter with a Chinese name")
            << "192.168.0.50" << QString::fromUtf8("以太网") << "02:00:5e:10:00:07";
    QTest::newRow("not resolved yet: never guessed") << "192.168.0.51"
                                                     << "Ethernet"
                                                     << "";
}

void NeighboursTest::hardwareAddressFromNeighbourTable()
{
    QFETCH(QString, address);
    QFETCH(QString, adapter);
    QFETCH(QString, mac);
    // As the kernel writes it: names are bytes, read as Latin-1.
    const QString table = QString::fromLatin1(
            QByteArray("IP address       HW type     Flags       HW address            Mask     Device\n"
                       "192.168.0.51     0x1         0x0         02:00:5e:10:00:02     *        Ethernet\n"
                       "192.168.0.50     0x1         0x2         02:00:5E:10:00:01     *        Ethernet\n"
                       "192.168.0.50     0x1         0x2         02:00:5e:10:00:09     *        enx001122334455\n"
                       "192.168.0.50     0x1         0x2         02:00:5e:10:00:07     *        ") +
            QString::fromUtf8("以太网").toUtf8() + "\n");
    QCOMPARE(hardwareAddressFromArpTable(table, QHostAddress(address), adapter), mac);
}

QTEST_GUILESS_MAIN(NeighboursTest)
#include "tst_neighbours.moc"
