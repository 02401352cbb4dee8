// Windows only, run under Wine: the command that sets the adapter's address
// reaches netsh as Windows' C runtime splits it, a name with blanks whole,
// whether the program runs elevated or has Windows elevate the command. A
// stand-in netsh.exe beside this test records what it was given.
#include "adapter/networkadapters.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

class NetshTest : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
};

void NetshTest::commandLine_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::newRow("Ethernet") << "Ethernet";
    QTest::newRow("以太网") << QString::fromUtf8("以太网");
    QTest::newRow("Local Area Connection2") << "Local Area Connection2";
}

void NetshTest::commandLine()
{
    QFETCH(QString, adapter);
    const QString folder = QCoreApplication::applicationDirPath();
    QFile::remove(folder + "/netsh-arguments.txt");
    QFile(folder + "/netsh-done").open(QIODevice::WriteOnly);
    runCommands(addressCommands(adapter, kServerAddress, kServerMask), 10000);
    QFile arguments(folder + "/netsh-arguments.txt");
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(arguments.readAll()).split('\n', Qt::SkipEmptyParts),
             QStringList({"interface", "ipv4", "set", "address", "name", "=", adapter, "source", "=", "static",
                          "address", "=", "192.168.0.92", "mask", "=", "255.255.255.0"}));
}

QTEST_MAIN(NetshTest)
#include "tst_netsh.moc"
