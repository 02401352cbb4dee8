// What the operator does and sees (start, Download, ModifyIP, closing, a second
// TcpServer), none of it corrupting or losing a flash; the window on any screen
// (this runs at 125 %); real adapters; on Windows (Wine), what netsh is given.
#include "support/session.h"

#include "adapter/networkadapters.h"
#include "image/imagefile.h"
#include "window/application.h"
#include "window/serverinterface.h"
#include "window/windowgeometry.h"

#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#else
#define ADDRESS_HELPER "" // the Linux address helper
#endif

class OperatorTest : public QObject
{
    Q_OBJECT

private slots:
    void actions_data();
    void actions() { runRow(); }
    void imageHeldOnceAndNoAbortWhenMemoryRunsOut();
    void oneInstancePerSession();
    void netshCommandLine_data();
    void netshCommandLine();
    void geometry_data();
    void geometry();
    void renderedWindowFitsAndCutsNoText();
    void modifyAsOrdinaryUser_data();
    void modifyAsOrdinaryUser();
};


void OperatorTest::actions_data()
{
    scriptColumns();
    const QString flashing = "image 5000; download; A connect; A updata len; A ok 0; ", complete = "message=Download complete (green)";
    const QString portBox = "boxes=Port 10013 is in use by another program, so the device cannot reach TcpServer. Close "
                            "that program (it may be another TcpServer), then press Download.";
    row("start without a listed adapter: the hint, and the server listens", "start",
        "hint=If failed to get the local connection IP address, please enter the computer update adapter interface,|and "
        "modify the local connection IP address to 192.168.0.92 .Restart TcpServer. (red) | noip=red | haveip=black | "
        "serverip= (red) | listening=yes");
    row("start with the right address: green, and the server listens", "adapter Ethernet 192.168.0.92",
        "serverip=192.168.0.92 (green) | haveip=green | noip=black | hint=| (black) | listening=yes");
    row("start with another address: red, and no server", QString::fromUtf8("adapter 以太网 10.1.2.3"),
        "serverip=10.1.2.3 (red) | haveip=red,black,black | listening=no");
    row("the adapter's last IPv4 address counts; names match exactly",
        "adapter ethernet 192.168.0.92; adapter Ethernet3 192.168.0.92,10.0.0.5,fe80::1", "serverip=10.0.0.5 (red) | hint=| (black)");
    row("Download while the address is wrong is refused", "adapter Ethernet 10.0.0.1; image 100; download refused",
        "boxes=Please click the 'ModifyIP' button to modify the ServerIP address first. | haveip=red | status=");
    row("ModifyIP when the address is right only says so", "adapter Ethernet 192.168.0.92; modify",
        "boxes=ServerIP address has been modified. | changes= | message= (black)");
    row("ModifyIP that works: green, and a server listens", "adapter Local_Area_Connection2 10.0.0.1; change works; modify",
        "message=ServerIP modified successfully. (green) | serverip=192.168.0.92 (green) | haveip=green | listening=yes | "
        "changes=Local Area Connection2 192.168.0.92 255.255.255.0");
    row("ModifyIP that fails: red, the address as it was", "adapter Ethernet 10.0.0.1; change fails; modify",
        "message=ServerIP fail to modify. (red) | serverip=10.0.0.1 (red) | haveip=red");
    row("ModifyIP without a listed adapter leaves a running flash alone", flashing + "modify; A ok 1; A ok 2; A ok 3; A ok 4; A close",
        complete + " | changes= 192.168.0.92 255.255.255.0");
    row("Download during ModifyIP loads the image the listening server serves",
        "adapter Ethernet 10.0.0.1; change works+download; image 3000; modify; A connect; A updata len; A ok 0; A ok 1; "
        "A ok 2; A close", complete + " | boxes=");
    row("Download mid-transfer ends that flash; the device starts over",
        flashing + "image 3000; download; A closed; B connect; B updata len; B ok 0",
        "step4=red | status=Reading data is complete...... | step2=green");
    row("Download once all went out, before the device closed, ends it too",
        "image 2000; download; A connect; A updata len; A ok 0; A ok 1; download; A closed; B connect; B updata len; B ok 0; "
        "B ok 1; B close", complete);
    row("closing the window during a flash asks; No keeps it", flashing + "answer no; close window; A ok 1", "window=open");
    row("closing the window during a flash asks; Yes closes", flashing + "answer yes; close window", "window=closed");
    row("closing the window with no flash running asks nothing", "image 100; download; A connect; close window",
        "window=closed | boxes=");
    row("Download reads the file whole and hands it over", "image 2500; download; A connect; A updata len; A ok 0; A ok 1; "
        "A ok 2", "status=Reading data is complete...... | step2=green");
    row("an empty file is an empty image, told as such", "image 0; download; A connect; A updata len",
        "status=Reading data is complete...... | step2=green");
    QStringList unusable{"none", "dir", "huge"}; // missing, a folder, too large to tell the device
#ifdef Q_OS_UNIX
    unusable << "fifo"; // a pipe, which would block the window if it were opened
#endif
    for (const QString &kind : unusable)
        row(qPrintable("an unusable file (" + kind + ") is no image"), "image 100; download; image " + kind +
            "; download; A connect; A updata len", "status=Failed to read data. | step2=red");
    // On real adapters, in the test's own network namespace:
    const QString adapter = QString::fromUtf8("ip link add 以太网 type veth peer name peer0; ip link set 以太网 up; ip address "
                                              "add 10.20.30.40/24 dev 以太网; ip address add 10.20.31.1/24 dev 以太网; system");
    row("a real adapter, found by its Chinese name, its last address shown", adapter, "serverip=10.20.31.1 (red) | listening=no");
    row("ModifyIP leaves a real adapter exactly 192.168.0.92/24, and a device flashes there",
        adapter + "; modify; image 3000; download; A connect 192.168.0.92; A updata len; A ok 0; A ok 1; A ok 2; A close",
        QString::fromUtf8("ipv4:以太网=192.168.0.92/24 | message=Download complete (green)"));
    row("port 10013 taken: the operator is told", "port taken; start",
        "message=Port 10013 is in use by another program. (red) | " + portBox);
    row("port 10013 still taken: Download loads nothing", "port taken; image 100; download refused",
        portBox + "|" + portBox.mid(6) + " | status=");
    row("port 10013 free again: Download listens and loads",
        "port taken; start; port free; image 100; download; A connect; A updata len; A ok 0; A close", complete + " | " + portBox);
}

void OperatorTest::imageHeldOnceAndNoAbortWhenMemoryRunsOut()
{
#if !defined(Q_OS_LINUX) || defined(__SANITIZE_ADDRESS__)
    QSKIP("needs Linux's address space limit, which AddressSanitizer's reservations exceed");
#else
    const qint64 mib = 1024 * 1024, image = 192 * mib;
    Session session;
    session.run("image 0");
    QFile statm("/proc/self/statm"); // room for the image once, not twice
    rlimit before{}, limit{};
    QVERIFY(statm.open(QIODevice::ReadOnly) && QFile::resize(imageFilePath(), image) && !getrlimit(RLIMIT_AS, &before));
    limit = {rlim_t(statm.readAll().split(' ').first().toLongLong() * 4096 + image + 96 * mib), before.rlim_max};
    QVERIFY(setrlimit(RLIMIT_AS, &limit) == 0);
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString status = session.window->m_fileStatusEdit->text();
    Device device;
    device.socket.write("updata");
    const QByteArray header = device.take(4);
    QVERIFY(QFile::resize(imageFilePath(), 2 * image)); // more than is left: fails, says so, goes on
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString statusTooLarge = session.window->m_fileStatusEdit->text();
    setrlimit(RLIMIT_AS, &before);
    QCOMPARE(status + header.toHex() + statusTooLarge,
             QStringLiteral("Reading data is complete......0000000cFailed to read data."));
#endif
}

void OperatorTest::oneInstancePerSession()
{
#ifndef Q_OS_LINUX
    QSKIP("the user's runtime folder is set here through XDG_RUNTIME_DIR");
#endif
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path())); // the program's session
    QProcess first;
    first.start(TCPSERVER_PROGRAM, QStringList());
    const QString lock = runtime.filePath("TcpServer.lock");
    QVERIFY(waitFor([&] { return QFileInfo(lock).size() > 0; }, 10000));
    Session session; // closes the box
    QVERIFY(!SingleInstance(lock).claim());
    QCOMPARE(session.show("boxes"), QStringLiteral("TcpServer is already running. Use the TcpServer window that is "
                                                   "already open, or close it before starting TcpServer again."));
    first.kill(); // one that crashed stands in nobody's way
    QVERIFY(first.waitForFinished(5000) && SingleInstance(lock).claim());
}

// A stand-in netsh.exe beside this test records what it was given, as
// Windows' C runtime splits it: a name with blanks whole, whether this test
// runs elevated or Windows elevates the command (tests/wine.sh runs both).
void OperatorTest::netshCommandLine_data()
{
    QTest::addColumn<QString>("adapter");
    for (const char *adapter : {"Ethernet", "以太网", "Local Area Connection2"})
        QTest::newRow(adapter) << QString::fromUtf8(adapter);
}

void OperatorTest::netshCommandLine()
{
    QFETCH(QString, adapter);
    const QString folder = QCoreApplication::applicationDirPath();
    if (!QFileInfo::exists(folder + "/netsh.exe"))
        QSKIP("Windows only, with the stand-in netsh.exe beside this test");
    QFile::remove(folder + "/netsh-arguments.txt");
    QFile(folder + "/netsh-done").open(QIODevice::WriteOnly); // the stand-in need not wait
    runCommands(addressCommands(adapter, kServerAddress, kServerMask), 10000);
    QFile arguments(folder + "/netsh-arguments.txt");
    arguments.open(QIODevice::ReadOnly);
    QCOMPARE(QString::fromUtf8(arguments.readAll()).split('\n', Qt::SkipEmptyParts),
             QStringList({"interface", "ipv4", "set", "address", "name", "=", adapter, "source", "=", "static", "address",
                          "=", "192.168.0.92", "mask", "=", "255.255.255.0"}));
}

// Screens as programs see them: a scaled desktop is smaller; a task bar 40
// pixels high; a frame of 8 pixels with a title bar of 31.
void OperatorTest::geometry_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("natural");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("1920 × 1080: as wanted") << QSize(1920, 1080) << QSize(900, 500) << QRect(350, 200, 1066, 568);
    QTest::newRow("1366 × 768: as wanted") << QSize(1366, 768) << QSize(700, 400) << QRect(350, 200, 758, 404);
    QTest::newRow("1366 × 768, larger fonts: moved up") << QSize(1366, 768) << QSize(1002, 642) << QRect(350, 78, 1002, 642);
    QTest::newRow("125 %: grown to its content, moved up") << QSize(1536, 864) << QSize(1002, 642) << QRect(350, 174, 1002, 642);
    QTest::newRow("150 %: moved left and up") << QSize(1280, 720) << QSize(1002, 642) << QRect(270, 31, 1002, 641);
    QTest::newRow("200 %: the whole screen, content scrolls") << QSize(960, 540) << QSize(1002, 642) << QRect(8, 31, 944, 461);
}

void OperatorTest::geometry()
{
    QFETCH(QSize, desktop);
    QFETCH(QSize, natural);
    QFETCH(QRect, expected);
    const QRect available(QPoint(0, 0), desktop - QSize(0, 40));
    QCOMPARE(fitWindow(mainWindowGeometry(desktop), natural, QMargins(8, 31, 8, 8), available), expected);
}

void OperatorTest::renderedWindowFitsAndCutsNoText()
{
    Session session; // no listed adapter: the hint lines make it widest
    session.run("start");
    ServerInterface &window = *session.window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    QWidget *shown = qobject_cast<QScrollArea *>(window.centralWidget())->viewport();
    for (QPushButton *button : {window.m_downloadButton, window.m_modifyIpButton})
        QVERIFY(shown->rect().contains(QRect(button->mapTo(shown, QPoint()), button->size())) &&
                button->width() >= button->sizeHint().width() && button->height() >= button->sizeHint().height());
    for (QLabel *label : window.findChildren<QLabel *>())
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text() + " is cut"));
    for (QWidget *hidden : std::initializer_list<QWidget *>{window.m_filePathEdit, window.m_serverOutputBrowser})
        QVERIFY(!hidden->isVisible());
    QVERIFY(QFontInfo(window.m_downloadButton->font()).bold()); // demi-bold captions on Qt 5's weight scale and Qt 6's
}

// The helper as the package installs it (root:tcpserver, 0750, CAP_NET_ADMIN)
// beside a window that an ordinary user starts, in the group or not.
void OperatorTest::modifyAsOrdinaryUser_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("address");
    QTest::newRow("in the group") << "4242" << "ServerIP modified successfully. (green)" << "192.168.0.92/24";
    QTest::newRow("outside the group") << "4243" << "ServerIP fail to modify. (red)" << "10.1.1.1/24";
}

void OperatorTest::modifyAsOrdinaryUser()
{
    QFETCH(QString, group);
    QFETCH(QString, message);
    QFETCH(QString, address);
    if (!inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a namespace of its own");
    Session session;
    if (qEnvironmentVariableIsSet("TCPSERVER_AS_USER")) // the user's own run, started below
        return session.verify("system; modify", {"message=" + message});
    session.run("ip link add Ethernet type veth peer name peer0; ip link set Ethernet up; ip address add 10.1.1.1/24 "
                "dev Ethernet");
    session.window.reset(); // the user's window is to listen
    QTemporaryDir folder;
    const QString self = folder.filePath("tst_operator"), helper = folder.filePath("tcpserver-set-address");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self));
    QCOMPARE(runProgram("sh", {"-c", "chmod 755 \"$0\" && install -m 750 -g 4242 \"$1\" \"$2\" && setcap cap_net_admin+ep \"$2\"",
                               folder.path(), ADDRESS_HELPER, helper}), 0);
    QCOMPARE(runProgram("setpriv", {"--reuid=65534", "--regid=65534", "--groups=" + group, "--inh-caps=-all", "env",
                                    "TCPSERVER_AS_USER=1", self, "modifyAsOrdinaryUser:" + QString(QTest::currentDataTag())}),
             0);
    QCOMPARE(session.show("ipv4:Ethernet"), address);
}

QTEST_MAIN(OperatorTest)
#include "tst_operator.moc"
