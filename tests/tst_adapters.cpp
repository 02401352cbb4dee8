// Finding the wired adapter and setting its address, on this machine's real
// interfaces: veth pairs made inside a network namespace only this test uses.
#include "support/session.h"

#include <QTest>

class AdaptersTest : public QObject
{
    Q_OBJECT

private slots:
    void commandLines_data();
    void commandLines();
    void realAdapters_data();
    void realAdapters();
};

void AdaptersTest::commandLines_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QStringList>("commands");
    const QString address = "192.168.0.92|mask|=|255.255.255.0";
    QTest::newRow("netsh") << "netsh" << "Ethernet"
                           << QStringList{"netsh|interface|ipv4|set|address|name|=|Ethernet|source|=|static|address|=|" + address};
    QTest::newRow("netsh, a name with blanks is one argument")
        << "netsh" << "Local Area Connection2"
        << QStringList{"netsh|interface|ipv4|set|address|name|=|Local Area Connection2|source|=|static|address|=|" + address};
    QTest::newRow("ip: every IPv4 address goes, then the one") << "ip" << QString::fromUtf8("以太网")
        << QStringList{QString::fromUtf8("ip|-4|address|flush|dev|以太网"),
                       QString::fromUtf8("ip|address|add|192.168.0.92/24|broadcast|+|dev|以太网")};
}

void AdaptersTest::commandLines()
{
    QFETCH(QString, tool);
    QFETCH(QString, adapter);
    QFETCH(QStringList, commands);
    QStringList made;
    const auto lines = tool == "netsh" ? netshAddressCommands(adapter, kServerAddress, kServerMask)
                                       : iprouteAddressCommands(adapter, kServerAddress, kServerMask);
    for (const CommandLine &line : lines)
        made << (QStringList{line.program} + line.arguments).join(QLatin1Char('|'));
    QCOMPARE(made, commands);
}

void AdaptersTest::realAdapters_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QString adapter = QString::fromUtf8("ip link add 以太网 type veth peer name peer0; ip link set 以太网 up; "
                                              "ip address add 10.20.30.40/24 dev 以太网; ip address add 10.20.31.1/24 dev 以太网; ");
    QTest::newRow("found by its Chinese name, its last address shown")
        << adapter + "system" << QStringList{"serverip=10.20.31.1", "serverip.colour=red", "listening=no"};
    QTest::newRow("ModifyIP leaves it exactly 192.168.0.92/24, and a device flashes")
        << adapter + "system; modify; image 5000; download; A connect 192.168.0.92; A updata len; A ok 0; A ok 1; "
                     "A ok 2; A ok 3; A ok 4; A close"
        << QStringList{QString::fromUtf8("ipv4:以太网=192.168.0.92/24"), "message=Download complete"};
}

void AdaptersTest::realAdapters()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    if (qEnvironmentVariable("TCPSERVER_OUTER_NETNS").isEmpty())
        QSKIP("not in a network namespace of its own");
    Session session;
    session.verify(script, checks);
}

QTEST_MAIN(AdaptersTest)
#include "tst_adapters.moc"
