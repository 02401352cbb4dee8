// ModifyIP: the guard, the change through the adapter seam, the three
// outcomes, the one server that holds the port afterwards, the commands built
// for each platform, and adapter names as the system reports them.
#include "support/emulator.h"
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/scriptedclient.h"

#include "adapter/networkadapters.h"
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kGreen = QStringLiteral("color:green;");
const QString kRed = QStringLiteral("color:red;");

// The change works: the adapter then holds the address asked for.
void changeSucceeds(FakeAdapters &adapters, const FakeAdapters::Change &change)
{
    for (NetworkAdapter &adapter : adapters.adapters) {
        if (adapter.name == change.adapter)
            adapter.addresses = {QHostAddress(change.address)};
    }
}

bool portIsFree()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, TcpServer::kPort);
}

} // namespace

class AddressChangeTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void rightAddressOnlyShowsBox();
    void outcomes_data();
    void outcomes();
    void everyRunLeavesOneServer();
    void flashAfterTwoChanges();
    void oneRunPerClick();
    void netshCommandLines();
    void iprouteCommandLines();
    void masks_data();
    void masks();
    void commandsAreBoundedInTime();
    void recoversUtf8Names_data();
    void recoversUtf8Names();
};

void AddressChangeTest::cleanup()
{
    removeTestImage();
}

void AddressChangeTest::rightAddressOnlyShowsBox()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface w(&adapters);
    TcpServer *server = w.m_tcpServer;
    ModalBoxes boxes;
    QMetaObject::invokeMethod(&w, "slotModify");
    QCOMPARE(boxes.texts, QStringList({"ServerIP address has been modified."}));
    QCOMPARE(boxes.titles, QStringList({"TcpServer"}));
    QVERIFY(adapters.changes.isEmpty());
    QCOMPARE(w.m_tcpServer, server);
    QVERIFY(w.m_messageLabel->text().isEmpty());
}

void AddressChangeTest::outcomes_data()
{
    QTest::addColumn<QString>("adapter");   // "" for none of the listed names
    QTest::addColumn<bool>("changeWorks");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("colour");     // of the message and the three step 1 lines
    QTest::addColumn<QString>("address");    // shown afterwards
    QTest::newRow("the change works") << "Ethernet" << true << "ServerIP modified successfully." << kGreen
                                      << "192.168.0.92";
    QTest::newRow("the change fails") << QString::fromUtf8("本地连接") << false << "ServerIP fail to modify." << kRed
                                      << "10.0.0.5";
    QTest::newRow("no listed adapter") << "" << true << "Failed to get local connection ServerIP." << kRed << "";
}

void AddressChangeTest::outcomes()
{
    QFETCH(QString, adapter);
    QFETCH(bool, changeWorks);
    QFETCH(QString, message);
    QFETCH(QString, colour);
    QFETCH(QString, address);
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("lo", {"127.0.0.1"}),
                         FakeAdapters::adapter(adapter.isEmpty() ? "eth0" : adapter, {"10.0.0.5"})};
    if (changeWorks)
        adapters.onChange = changeSucceeds;
    ServerInterface w(&adapters);
    QPointer<TcpServer> first = w.m_tcpServer;
    ModalBoxes boxes;
    QMetaObject::invokeMethod(&w, "slotModify");

    QCOMPARE(boxes.count(), 0);
    QCOMPARE(adapters.changes.size(), 1);
    QCOMPARE(adapters.changes.first().adapter, adapter);
    QCOMPARE(adapters.changes.first().address, QStringLiteral("192.168.0.92"));
    QCOMPARE(adapters.changes.first().mask, QStringLiteral("255.255.255.0"));
    QCOMPARE(adapters.changes.first().timeoutMs, 30000);
    QCOMPARE(w.m_messageLabel->text(), message);
    QCOMPARE(w.m_messageLabel->styleSheet(), colour);
    const bool found = !adapter.isEmpty();
    for (QLabel *label : {w.m_haveIpLabel, w.m_haveIpHintLabel1, w.m_haveIpHintLabel2})
        QCOMPARE(label->styleSheet(), found ? colour : QString());
    QCOMPARE(w.m_serverIpLabel->text(), address);
    QCOMPARE(w.m_serverIpLabel->styleSheet(), changeWorks && found ? kGreen : kRed);

    // Whatever the outcome, a new server holds the port and takes the images;
    // the earlier one (if any) is gone.
    QVERIFY(w.m_tcpServer && w.m_tcpServer != first);
    QVERIFY(w.m_tcpServer->m_server->isListening());
    emit w.sendDataSig(QByteArray(10, 'i'));
    QCOMPARE(w.m_tcpServer->m_fileData, QByteArray(10, 'i'));
    QTRY_VERIFY(!first);
}

void AddressChangeTest::everyRunLeavesOneServer()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet3", {"10.0.0.5"})};
    ServerInterface w(&adapters);
    QList<QPointer<TcpServer>> made;
    for (int run = 0; run < 3; ++run) {
        QMetaObject::invokeMethod(&w, "slotModify");
        QVERIFY(w.m_tcpServer);
        QVERIFY2(w.m_tcpServer->m_server->isListening(), "the new server must hold the port");
        QVERIFY(!made.contains(w.m_tcpServer));
        made.append(w.m_tcpServer);
    }
    // The earlier ones are gone, and the image reaches the newest only.
    QTRY_COMPARE(int(std::count_if(made.begin(), made.end(), [](const QPointer<TcpServer> &s) { return !s; })), 2);
    QVERIFY(made.last());
    emit w.sendDataSig(QByteArray(5, 'n'));
    QCOMPARE(made.last()->m_fileData, QByteArray(5, 'n'));
    QVERIFY(!portIsFree());
}

void AddressChangeTest::flashAfterTwoChanges()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"10.0.0.5"})};
    ServerInterface w(&adapters);
    QMetaObject::invokeMethod(&w, "slotModify");
    QMetaObject::invokeMethod(&w, "slotModify");
    // The operator put the address right by hand meanwhile.
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};

    QTemporaryDir scratch;
    const QString expected = writeTestImageWithCopy(patternImage(40 * 1024 + 3), scratch.path());
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    Emulator device({"--expect", expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QTRY_VERIFY(!w.m_tcpServer->m_hasFile);
}

void AddressChangeTest::oneRunPerClick()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"10.0.0.5"})};
    ServerInterface w(&adapters);
    w.show();
    QTest::mouseClick(w.m_modifyIpButton, Qt::LeftButton);
    QCOMPARE(adapters.changes.size(), 1);
    QTest::mouseClick(w.m_modifyIpButton, Qt::LeftButton);
    QCOMPARE(adapters.changes.size(), 2);
}

void AddressChangeTest::netshCommandLines()
{
    auto line = [](const CommandLine &command) {
        return (QStringList(command.program) + command.arguments).join(QLatin1Char(' '));
    };
    QList<CommandLine> commands = netshAddressCommands("Ethernet", "192.168.0.92", "255.255.255.0");
    QCOMPARE(commands.size(), 1);
    QCOMPARE(line(commands.first()), QStringLiteral("netsh interface ipv4 set address name = Ethernet source = static "
                                                    "address = 192.168.0.92 mask = 255.255.255.0"));
    for (const QString &name : {QStringLiteral("Local Area Connection2"), QString::fromUtf8("以太网"),
                                QString::fromUtf8("本地连接 5")}) {
        const CommandLine command = netshAddressCommands(name, "192.168.0.92", "255.255.255.0").first();
        QCOMPARE(command.program, QStringLiteral("netsh"));
        QCOMPARE(command.arguments.size(), 16);
        QCOMPARE(command.arguments.at(5), QStringLiteral("="));
        QCOMPARE(command.arguments.at(6), name);
        QCOMPARE(command.arguments.at(7), QStringLiteral("source"));
    }
}

void AddressChangeTest::iprouteCommandLines()
{
    for (const QString &name : {QStringLiteral("Ethernet2"), QString::fromUtf8("以太网"),
                                QStringLiteral("Local Area Connection")}) {
        const QList<CommandLine> commands = iprouteAddressCommands(name, "192.168.0.92", "255.255.255.0");
        QCOMPARE(commands.size(), 2);
        QCOMPARE(commands.at(0).program, QStringLiteral("ip"));
        QCOMPARE(commands.at(0).arguments, QStringList({"-4", "address", "flush", "dev", name}));
        QCOMPARE(commands.at(1).program, QStringLiteral("ip"));
        QCOMPARE(commands.at(1).arguments,
                 QStringList({"address", "add", "192.168.0.92/24", "broadcast", "+", "dev", name}));
    }
#ifndef Q_OS_WIN
    // The machine's own commands carry the name's bytes whatever the locale.
    const QList<CommandLine> own = addressCommands(QString::fromUtf8("以太网"), "192.168.0.92", "255.255.255.0");
    QCOMPARE(own.first().arguments.last().toLocal8Bit(), QByteArray("\xe4\xbb\xa5\xe5\xa4\xaa\xe7\xbd\x91"));
#endif
}

void AddressChangeTest::masks_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("length");
    QTest::newRow("/24") << "255.255.255.0" << 24;
    QTest::newRow("/16") << "255.255.0.0" << 16;
    QTest::newRow("/32") << "255.255.255.255" << 32;
    QTest::newRow("/0") << "0.0.0.0" << 0;
    QTest::newRow("/25") << "255.255.255.128" << 25;
    QTest::newRow("holes") << "255.0.255.0" << -1;
    QTest::newRow("too short") << "255.255.255" << -1;
    QTest::newRow("not a number") << "255.255.x.0" << -1;
    QTest::newRow("over 255") << "255.255.256.0" << -1;
}

void AddressChangeTest::masks()
{
    QFETCH(QString, mask);
    QFETCH(int, length);
    QCOMPARE(maskPrefixLength(mask), length);
}

void AddressChangeTest::commandsAreBoundedInTime()
{
    QElapsedTimer clock;
    clock.start();
    // A tool that would hang is killed at the deadline; the next is not started.
    runCommands({{QStringLiteral("sleep"), {QStringLiteral("30")}}, {QStringLiteral("sleep"), {QStringLiteral("30")}}},
                300);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    // A tool that is missing is no error.
    clock.restart();
    runCommands({{QStringLiteral("no-such-tool-here"), {}}}, 30000);
    QVERIFY(clock.elapsed() < 5000);
}

void AddressChangeTest::recoversUtf8Names_data()
{
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("name");

    auto latin1 = [](const char *utf8) { return QString::fromLatin1(QByteArray(utf8)); };
    QTest::newRow("ascii") << "Ethernet2" << "Ethernet2";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("Chinese, decoded as Latin-1") << latin1("以太网") << QString::fromUtf8("以太网");
    QTest::newRow("Chinese with digit") << latin1("本地连接5") << QString::fromUtf8("本地连接5");
    // Bytes that are no UTF-8 stay as the system gave them.
    QTest::newRow("Latin-1 that is no UTF-8") << QString::fromLatin1("caf\xe9") << QString::fromLatin1("caf\xe9");
    QTest::newRow("truncated UTF-8") << QString::fromLatin1("\xe4\xbb") << QString::fromLatin1("\xe4\xbb");
    // A name already decoded properly is left alone.
    QTest::newRow("already Unicode") << QString::fromUtf8("以太网") << QString::fromUtf8("以太网");
}

void AddressChangeTest::recoversUtf8Names()
{
    QFETCH(QString, reported);
    QFETCH(QString, name);
    QCOMPARE(recoverUtf8Name(reported), name);
#ifndef Q_OS_WIN
    QCOMPARE(adapterDisplayName(reported), name);
#endif
}

QTEST_MAIN(AddressChangeTest)
#include "tst_addresschange.moc"
