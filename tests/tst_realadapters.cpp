// The window against real network interfaces: veth pairs named like Windows
// adapters, made inside a network namespace that only this test uses. The
// machine's own interfaces are never touched.
#include "support/emulator.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/netns.h"

#include "adapter/networkadapters.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kGreen = QStringLiteral("color:green;");
const QString kRed = QStringLiteral("color:red;");

// Whether something holds port 10013, found without connecting: a connection
// that comes and goes would end whatever transfer the server is ready for.
bool listensOnLoopback()
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::Any, TcpServer::kPort) &&
           probe.serverError() == QAbstractSocket::AddressInUseError;
}

// A process parked in a network namespace of its own: the device's side of a
// cable. Commands run in it through nsenter.
class DeviceSide
{
public:
    DeviceSide()
    {
        m_holder.start(QStringLiteral("unshare"), {"--net", "sleep", "120"});
        m_holder.waitForStarted(5000);
        const QString own = QFileInfo(QStringLiteral("/proc/self/ns/net")).symLinkTarget();
        // unshare has made the namespace once its child runs sleep there.
        for (int i = 0; i < 200 && m_holder.state() == QProcess::Running; ++i) {
            const QString theirs = QFileInfo(QStringLiteral("/proc/%1/ns/net").arg(pid())).symLinkTarget();
            if (!theirs.isEmpty() && theirs != own && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid())).symLinkTarget().endsWith("sleep"))
                return;
            QTest::qWait(10);
        }
    }
    ~DeviceSide()
    {
        m_holder.kill();
        m_holder.waitForFinished(5000);
    }
    QString pid() const { return QString::number(m_holder.processId()); }
    QStringList enter() const { return {"nsenter", "-t", pid(), "-n"}; }
    int run(const QStringList &command)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList full = enter() + command;
        process.start(full.first(), full.mid(1));
        if (!process.waitForFinished(10000))
            return -1;
        return process.exitCode();
    }

private:
    QProcess m_holder;
};

} // namespace

class RealAdaptersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void systemListShowsRealInterfaces();
    void startsWithoutListedAdapter();
    void startsWithRightAddress();
    void startsWithWrongAddressAndRefusesDownload();
    void modifyGivesAdapterTheAddressThenFlashes();
    void modifyFailsWhenAdapterVanishes();
    void modifyFailsWithoutNetAdmin();
    void deviceInItsOwnNamespaceFlashes();

private:
    // A veth pair whose first end carries a listed name; both ends up.
    void makeAdapter(const QString &name, const QStringList &addresses);

    QStringList m_made;
    QTemporaryDir m_scratch;
};

void RealAdaptersTest::initTestCase()
{
    if (!netns::whyNot().isEmpty())
        QSKIP(qPrintable(netns::whyNot()));
    QVERIFY(m_scratch.isValid());
}

void RealAdaptersTest::cleanup()
{
    for (const QString &name : qAsConst(m_made))
        netns::ip({"link", "delete", name});
    m_made.clear();
    removeTestImage();
}

void RealAdaptersTest::makeAdapter(const QString &name, const QStringList &addresses)
{
    const QString peer = QStringLiteral("peer%1").arg(m_made.size());
    QCOMPARE(netns::ip({"link", "add", name, "type", "veth", "peer", "name", peer}), 0);
    m_made << name;
    for (const QString &address : addresses)
        QCOMPARE(netns::ip({"address", "add", address, "dev", name}), 0);
    QCOMPARE(netns::ip({"link", "set", name, "up"}), 0);
    QCOMPARE(netns::ip({"link", "set", peer, "up"}), 0);
}

void RealAdaptersTest::systemListShowsRealInterfaces()
{
    const QString chinese = QString::fromUtf8("以太网");
    QCOMPARE(netns::ip({"link", "add", chinese, "type", "veth", "peer", "name", "peer0"}), 0);
    m_made << chinese;
    QCOMPARE(netns::ip({"address", "add", "10.9.8.7/24", "dev", chinese}), 0);
    QCOMPARE(netns::ip({"address", "add", "10.9.9.9/24", "dev", chinese}), 0);

    const QList<NetworkAdapter> adapters = NetworkAdapters::system()->list();
    QStringList names;
    QList<QHostAddress> addresses;
    for (const NetworkAdapter &adapter : adapters) {
        names << adapter.name;
        if (adapter.name == chinese)
            addresses = adapter.addresses;
    }
    QVERIFY2(names.contains(chinese), qPrintable(names.join(", ")));
    QVERIFY(names.contains("peer0"));
    QVERIFY(names.contains("lo"));
    QVERIFY(addresses.contains(QHostAddress("10.9.8.7")));
    QVERIFY(addresses.contains(QHostAddress("10.9.9.9")));
    QCOMPARE(netns::ip({"link", "delete", chinese}), 0);
    m_made.clear();
}

void RealAdaptersTest::startsWithoutListedAdapter()
{
    // An adapter with the right address but a name no Windows PC gives it.
    makeAdapter("eth7", {"192.168.0.92/24"});
    ServerInterface w;
    QVERIFY(!w.m_adapterFound);
    QVERIFY(w.m_tcpServer);
    QVERIFY(listensOnLoopback());
    QCOMPARE(w.m_noIpLabel->styleSheet(), kRed);
    QVERIFY(!w.m_hintLabel1->text().isEmpty());
}

void RealAdaptersTest::startsWithRightAddress()
{
    makeAdapter("Ethernet2", {"192.168.0.92/24"});
    ServerInterface w;
    QVERIFY(w.m_adapterFound);
    QCOMPARE(w.m_adapterName, QStringLiteral("Ethernet2"));
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("192.168.0.92"));
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kGreen);
    QCOMPARE(w.m_haveIpHintLabel2->styleSheet(), kGreen);
    QVERIFY(listensOnLoopback());
}

void RealAdaptersTest::startsWithWrongAddressAndRefusesDownload()
{
    makeAdapter(QString::fromUtf8("以太网"), {"10.20.30.40/24"});
    ServerInterface w;
    QCOMPARE(w.m_adapterName, QString::fromUtf8("以太网"));
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("10.20.30.40"));
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpLabel->styleSheet(), kRed);
    QVERIFY(!w.m_tcpServer);
    QVERIFY(!listensOnLoopback());

    writeTestImage(patternImage(100));
    ModalBoxes boxes;
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QCOMPARE(boxes.texts, QStringList({"Please click the 'ModifyIP' button to modify the ServerIP address first."}));
    QVERIFY(!w.m_tcpServer);
}

void RealAdaptersTest::modifyGivesAdapterTheAddressThenFlashes()
{
    const QString name = QString::fromUtf8("以太网");
    makeAdapter(name, {"10.20.30.40/24", "10.20.31.1/24"});
    ServerInterface w;
    QVERIFY(!w.m_tcpServer);
    QMetaObject::invokeMethod(&w, "slotModify");

    QCOMPARE(netns::ipv4Of(name), QStringList({"192.168.0.92/24"}));
    QCOMPARE(w.m_messageLabel->text(), QStringLiteral("ServerIP modified successfully."));
    QCOMPARE(w.m_messageLabel->styleSheet(), kGreen);
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("192.168.0.92"));
    QCOMPARE(w.m_haveIpLabel->styleSheet(), kGreen);
    QVERIFY(w.m_tcpServer);
    QVERIFY(listensOnLoopback());

    const QString expected = writeTestImageWithCopy(patternImage(150 * 1024 + 9), m_scratch.path());
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    Emulator device({"--expect", expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QTRY_COMPARE(w.m_messageLabel->text(), QStringLiteral("Download complete"));
}

void RealAdaptersTest::modifyFailsWhenAdapterVanishes()
{
    makeAdapter("Ethernet", {"10.1.1.1/24"});
    ServerInterface w;
    QVERIFY(w.m_adapterFound);
    // The cable's adapter goes away between the start and ModifyIP.
    QCOMPARE(netns::ip({"link", "delete", "Ethernet"}), 0);
    m_made.clear();
    QMetaObject::invokeMethod(&w, "slotModify");
    QCOMPARE(w.m_messageLabel->text(), QStringLiteral("ServerIP fail to modify."));
    QCOMPARE(w.m_messageLabel->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpHintLabel1->styleSheet(), kRed);
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("10.1.1.1"));
    QVERIFY(w.m_tcpServer);
}

void RealAdaptersTest::modifyFailsWithoutNetAdmin()
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const QString realIp = QStandardPaths::findExecutable(QStringLiteral("ip"));
    if (setpriv.isEmpty() || realIp.isEmpty())
        QSKIP("setpriv is needed to take CAP_NET_ADMIN away");
    makeAdapter("Ethernet4", {"10.4.4.4/24"});
    ServerInterface w;

    // The same ip, run without the right to change interfaces.
    const QString bin = m_scratch.filePath("bin");
    QDir().mkpath(bin);
    QFile wrapper(bin + "/ip");
    QVERIFY(wrapper.open(QIODevice::WriteOnly));
    wrapper.write(QStringLiteral("#!/bin/sh\nexec %1 --bounding-set -net_admin --inh-caps -net_admin %2 \"$@\"\n")
                      .arg(setpriv, realIp)
                      .toUtf8());
    wrapper.close();
    wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);
    QMetaObject::invokeMethod(&w, "slotModify");
    qputenv("PATH", path);

    QCOMPARE(w.m_messageLabel->text(), QStringLiteral("ServerIP fail to modify."));
    QCOMPARE(netns::ipv4Of("Ethernet4"), QStringList({"10.4.4.4/24"}));
}

void RealAdaptersTest::deviceInItsOwnNamespaceFlashes()
{
    if (QStandardPaths::findExecutable(QStringLiteral("nsenter")).isEmpty())
        QSKIP("nsenter is needed to run the device in a namespace of its own");
    // The PC's side of the cable carries a wrong address at first.
    QCOMPARE(netns::ip({"link", "add", "Ethernet", "type", "veth", "peer", "name", "device0"}), 0);
    m_made << "Ethernet";
    QCOMPARE(netns::ip({"address", "add", "172.16.5.5/24", "dev", "Ethernet"}), 0);
    DeviceSide device;
    QCOMPARE(netns::ip({"link", "set", "device0", "netns", device.pid()}), 0);
    QCOMPARE(device.run({"ip", "address", "add", "192.168.0.10/24", "dev", "device0"}), 0);
    QCOMPARE(device.run({"ip", "link", "set", "device0", "up"}), 0);
    QCOMPARE(device.run({"ip", "link", "set", "lo", "up"}), 0);
    QCOMPARE(netns::ip({"link", "set", "Ethernet", "up"}), 0);

    ServerInterface w;
    QVERIFY(!w.m_tcpServer);
    QMetaObject::invokeMethod(&w, "slotModify");
    QCOMPARE(netns::ipv4Of("Ethernet"), QStringList({"192.168.0.92/24"}));
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kGreen);

    const QString expected = writeTestImageWithCopy(patternImage(64 * 1024 + 100, 5), m_scratch.path());
    QMetaObject::invokeMethod(&w, "slotOpenFile");

    // The device knows only 192.168.0.92, as the real one does.
    Emulator flash({"--host", "192.168.0.92", "--expect", expected, "--quiet"}, device.enter());
    const EmulatorRun run = flash.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QVERIFY(run.output.contains("verified: the image matches byte for byte"));
    QTRY_COMPARE(w.m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(w.m_clientIpLabel->text(), QStringLiteral("192.168.0.10"));
}

QTEST_MAIN(RealAdaptersTest)
#include "tst_realadapters.moc"
