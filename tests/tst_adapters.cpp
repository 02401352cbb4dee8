// Finding the wired adapter and setting its address on real interfaces: veth
// pairs made inside a network namespace only this test uses.
#include "support/session.h"

#include "window/serverinterface.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class AdaptersTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void realAdapters_data();
    void realAdapters();
    void helperRefusesBadNames_data();
    void helperRefusesBadNames();
    void modifyAsOrdinaryUser_data();
    void modifyAsOrdinaryUser();
};

namespace {
const QString kEthernet = "ip link add Ethernet type veth peer name peer0; ip link set Ethernet up; "
                          "ip address add 10.1.1.1/24 dev Ethernet";
}

void AdaptersTest::init()
{
    if (qEnvironmentVariable("TCPSERVER_OUTER_NETNS").isEmpty() && !qEnvironmentVariableIsSet("TCPSERVER_AS_USER"))
        QSKIP("not in a network namespace of its own");
}

void AdaptersTest::realAdapters_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QString adapter = QString::fromUtf8("ip link add 以太网 type veth peer name peer0; ip link set 以太网 up; "
                                              "ip address add 10.20.30.40/24 dev 以太网; ip address add 10.20.31.1/24 dev 以太网; ");
    QTest::newRow("found by its Chinese name, its last address shown")
        << adapter + "system" << QStringList{"serverip=10.20.31.1", "serverip.colour=red", "listening=no"};
    QTest::newRow("ModifyIP leaves it exactly 192.168.0.92/24, and a device flashes there")
        << adapter + "system; modify; image 3000; download; A connect 192.168.0.92; A updata len; A ok 0; A ok 1; "
                     "A ok 2; A close"
        << QStringList{QString::fromUtf8("ipv4:以太网=192.168.0.92/24"), "message=Download complete"};
}

void AdaptersTest::realAdapters()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    Session session;
    session.verify(script, checks);
}

void AdaptersTest::helperRefusesBadNames_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"", "Ethernet0123456", "Ethernet9", "Ether/net", "Ether\nnet"})
        QTest::newRow(QByteArray(name).toPercentEncoding()) << name;
}

void AdaptersTest::helperRefusesBadNames()
{
    QFETCH(QString, name);
    Session session;
    session.run(kEthernet);
    QCOMPARE(runProgram(ADDRESS_HELPER, {name}), 2);
    QCOMPARE(session.show("ipv4:Ethernet"), QStringLiteral("10.1.1.1/24"));
}

// The helper as the package installs it (root:tcpserver, 0750, CAP_NET_ADMIN)
// beside a window that an ordinary user starts, in the group or not.
void AdaptersTest::modifyAsOrdinaryUser_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("address");
    QTest::newRow("in the group") << 4242 << "ServerIP modified successfully." << "192.168.0.92/24";
    QTest::newRow("outside the group") << 4243 << "ServerIP fail to modify." << "10.1.1.1/24";
}

void AdaptersTest::modifyAsOrdinaryUser()
{
    QFETCH(int, group);
    QFETCH(QString, message);
    QFETCH(QString, address);
    Session session;
    if (qEnvironmentVariableIsSet("TCPSERVER_AS_USER")) // the user's own run, started below
        return session.verify("system; modify", {"message=" + message});
    session.run(kEthernet);
    session.window.reset(); // the user's window is to listen
    QTemporaryDir folder;
    const QString self = folder.filePath("tst_adapters"), helper = folder.filePath("tcpserver-set-address");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self) && QFile::copy(ADDRESS_HELPER, helper));
    for (const QStringList &command : QList<QStringList>{{"chmod", "755", folder.path()},
                                                          {"chown", "root:4242", helper},
                                                          {"chmod", "750", helper},
                                                          {"setcap", "cap_net_admin+ep", helper}})
        QCOMPARE(runProgram(command.first(), command.mid(1)), 0);
    QCOMPARE(runProgram("setpriv", {"--reuid=65534", "--regid=65534", "--groups=" + QString::number(group),
                                    "--inh-caps=-all", "env", "TCPSERVER_AS_USER=1", self,
                                    "modifyAsOrdinaryUser:" + QString(QTest::currentDataTag())}),
             0);
    QCOMPARE(session.show("ipv4:Ethernet"), address);
}

QTEST_MAIN(AdaptersTest)
#include "tst_adapters.moc"
