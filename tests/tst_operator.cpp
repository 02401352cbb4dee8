// What the operator does and sees (start, Download, ModifyIP, closing, a second TcpServer), none of it
// corrupting or losing a flash; which image went out and how each flash ended, in the status bar and the
// flash record; the window on any screen (this runs at 125 %); real adapters; on Windows, what netsh is given.
#include "support/session.h"

#include "adapter/networkadapters.h"
#include "app/singleinstance.h"
#include "image/imagefile.h"
#include "image/sha256.h"
#include "window/serverinterface.h"
#include "window/windowgeometry.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

class OperatorTest : public QObject
{
    Q_OBJECT

private slots:
    void actions_data();
    void actions() { runRow(Target::Window); }
    void oneDigestInWindowRecordAndDevice();
    void imageHeldOnceAndNoAbortWhenMemoryRunsOut();
    void oneInstancePerSession();
    void netshCommandLine_data();
    void netshCommandLine();
    void geometry_data();
    void geometry();
    void renderedWindowFitsAndCutsNoText();
};

void OperatorTest::actions_data()
{
    scriptColumns();
    const QString flashing = "image 5000; download; A connect; A updata len; A ok 0; ", complete = "message=Download complete (green)";
    const QString portBox = "boxes=Port 10013 is in use by another program, so the device cannot reach TcpServer. Close "
                            "that program (it may be another TcpServer), then press Download.";
    const QString refusal = "Didn't click 'Download' button to download the data.", stall = "Network interruption, please restart TcpServer.";
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
    row("a flash: the device shown, the progress, then complete",
        "image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A ok -; A close",
        complete + " | status=Reading data is complete...Download complete | bar=100 | step3=green | step4=green | "
                   "clientip=127.0.0.1 | boxes= | clientinput=updata ok ok ok ok  | lastflash=Last flash: complete at TIME, "
                   "device 127.0.0.1 (green) | image=file.bin · 2500 bytes · SHA-256 927aa652b8b45524… (black)");
    row("mid-flash the message alternates and the pane shows the latest block",
        "image 3000; download; A connect; A updata len; A ok 0; A ok 1", "message=Downloading...... (black) | bar=66");
    row("a device that leaves mid-flash: the last state stays, and the status bar says so", flashing + "A close",
        "message=Downloading... (black) | bar=20 | boxes= | lastflash=Last flash: device closed early at TIME, device "
        "127.0.0.1 (red)");
    row("asking before Download: one box at a time, the Step 2 lines red; a newcomer meanwhile replaces the asker",
        "A connect; hold; A updata refused; B connect; B updata refused; release; A closed",
        "boxes=" + refusal + " | step2=red | lastflash= (black)");
    row("connections that come and go while a box is open are freed meanwhile",
        "A connect; hold; A updata refused; churn 20000; release", "boxes=" + refusal + " | sockets=1");
    row("a device that stops asking: closed, the box, the Step 4 lines red",
        "watch 100; " + flashing + "stall; A closed; B connect; B updata refused",
        "boxes=" + stall + "|" + refusal + " | step4=red | lastflash=Last flash: stalled at TIME, device 127.0.0.1 (red)");
    row("Download mid-transfer ends that flash; the device starts over",
        flashing + "image 3000; download; A closed; B connect; B updata len; B ok 0",
        "step4=red | status=Reading data is complete...... | step2=green");
    row("closing the window during a flash asks; No keeps it", flashing + "answer no; close window; A ok 1", "window=open");
    row("closing the window during a flash asks; Yes closes and ends the flash", "log; " + flashing + "answer yes; close window; A closed",
        "window=closed | log:result=window closed mid-flash");
    row("closing the window with no flash running asks nothing", "image 100; download; A connect; close window",
        "window=closed | boxes=");
    const QMap<QString, QString> unusable{{"none", "there is no such file"}, {"dir", "it is not a regular file"},
                                          {"huge", "it is larger than a flash can carry (2 GiB)"}
#ifdef Q_OS_UNIX
                                          , {"fifo", "it is not a regular file"}, // a pipe would block the window
                                          {"link", "it is a symbolic link, which is not followed"}
#endif
    };
    for (auto kind = unusable.begin(); kind != unusable.end(); ++kind)
        row(qPrintable("an unusable file (" + kind.key() + ") is no image, and the bar says why"),
            "image 100; download; image " + kind.key() + "; download; A connect; A updata len",
            "status=Failed to read data. | step2=red | image=Failed to read data: " + kind.value() + " (IMAGE) (red)");
    row("the (hidden) ClientInput pane stops at its limit", "cap 12; image 3000; download; A connect; A updata len; A ok 0; "
        "A ok 1; A ok 2; A close", complete + " | clientinput=updata ok ");
    row("the flash record: a row for each flash and each refusal",
        "log; adapter Ethernet 192.168.0.92; image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A close; "
        "B connect; B updata refused",
        "log:result=complete|refused, no image | log:device=127.0.0.1|127.0.0.1 | log:image bytes=2500| | "
        "log:blocks sent=3|0 | log:bytes sent=2500|0 | log:adapter=Ethernet|Ethernet | log:server address=127.0.0.1|127.0.0.1");
    row("a record that cannot be written says so in red; the flash goes on",
        "log dir; image 100; download; A connect; A updata len; A ok 0; A close",
#ifdef Q_OS_WIN
        complete + " | record=The flash record was not written: Access denied. (1 rows wait)");
#else
        complete + " | record=The flash record was not written: Is a directory (1 rows wait)");
#endif
    // On real adapters, in the test's own network namespace:
    const QString adapter = QString::fromUtf8("ip link add 以太网 type veth peer name peer0; ip link set 以太网 up; ip address "
                                              "add 10.20.30.40/24 dev 以太网; ip address add 10.20.31.1/24 dev 以太网; system");
    row("a real adapter, found by its Chinese name, its last address shown", adapter, "serverip=10.20.31.1 (red) | listening=no");
    row("ModifyIP leaves a real adapter exactly 192.168.0.92/24, and a device flashes there",
        adapter + "; modify; image 3000; download; A connect 192.168.0.92; A updata len; A ok 0; A ok 1; A ok 2; A close",
        QString::fromUtf8("ipv4:以太网=192.168.0.92/24 | message=Download complete (green)"));
    row("a connection to another of the PC's addresses is not the device: closed, nothing shown",
        "ip address add 10.9.9.9/32 dev lo; image 100; download; S refused 10.9.9.9; A connect; A updata len; A ok 0; A close",
        complete + " | clientip=127.0.0.1");
    row("port 10013 taken: the operator is told; Download loads nothing while it is", "port taken; image 100; download refused",
        "message=Port 10013 is in use by another program. (red) | " + portBox + "|" + portBox.mid(6) + " | status=");
    row("port 10013 free again: Download listens and loads",
        "port taken; start; port free; image 100; download; A connect; A updata len; A ok 0; A close", complete + " | " + portBox);
}

// The digest the window shows, the one the record keeps and the one the
// device emulator computes over what it received are one string.
void OperatorTest::oneDigestInWindowRecordAndDevice()
{
    Session session;
    const QString digest = sha256Hex(pattern(70000, 1));
    session.run("log; image 70000; download; emulator 0 " + digest + " --expect IMAGE");
    QTRY_COMPARE(session.show("digest"), "SHA-256 " + digest);
    QTRY_COMPARE(session.show("log:image SHA-256"), digest);
    QAction *copy = session.window->findChild<QAction *>("copyDigestAction");
    copy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), digest);
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
    auto *download = session.window->findChild<QPushButton *>("downloadButton");
    QTest::mouseClick(download, Qt::LeftButton);
    const QString status = session.show("status");
    Device device("127.0.0.1", protocol::kPort);
    device.socket.write("updata");
    const QByteArray header = device.take(4);
    QVERIFY(QFile::resize(imageFilePath(), 2 * image)); // more than is left: fails, says so, goes on
    QTest::mouseClick(download, Qt::LeftButton);
    const QString statusTooLarge = session.show("status") + ' ' + session.show("image");
    setrlimit(RLIMIT_AS, &before);
    QCOMPARE(status + header.toHex() + statusTooLarge,
             QStringLiteral("Reading data is complete......0000000cFailed to read data. Failed to read data: there is not "
                            "enough memory to hold it (IMAGE) (red)"));
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
    SingleInstance second(lock);
    QVERIFY(!second.claim());
    QProcess station; // the station says so too, and serves nothing
    station.start(STATION_PROGRAM, QStringList());
    QVERIFY(station.waitForFinished(10000));
    QCOMPARE(station.exitCode(), 1);
    QVERIFY(station.readAllStandardError().contains("the TcpServer window already serves the device"));
    first.kill(); // one that crashed stands in nobody's way
    QVERIFY(first.waitForFinished(5000) && SingleInstance(lock).claim());
}

// A stand-in netsh.exe in the system folder records what it was given, as Windows' C runtime splits it: a
// name with blanks whole, whether this test runs elevated or Windows elevates the command (wine.sh runs both).
void OperatorTest::netshCommandLine_data()
{
    QTest::addColumn<QString>("adapter");
    for (const char *adapter : {"以太网", "Local Area Connection2"}) // Ethernet: tests/wine.sh's flashes
        QTest::newRow(adapter) << QString::fromUtf8(adapter);
}

void OperatorTest::netshCommandLine()
{
    QFETCH(QString, adapter);
    const QString record = qEnvironmentVariable("TCPSERVER_NETSH_RECORD");
    if (record.isEmpty())
        QSKIP("Windows only, with the stand-in netsh.exe in the system folder");
    QFile::remove(record + "/netsh-arguments.txt");
    QFile(record + "/netsh-done").open(QIODevice::WriteOnly); // the stand-in need not wait
    runCommands(addressCommands(adapter, kServerAddress, kServerMask), 10000);
    QFile arguments(record + "/netsh-arguments.txt");
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

// Where the screen has room, the whole layout shows: no scroll bar, no line
// cut; the buttons and the bar keep their sizes where their texts fit; only
// the buttons take the keyboard focus.
void OperatorTest::renderedWindowFitsAndCutsNoText()
{
    Session session; // no listed adapter: the hint lines make it widest
    session.run("start");
    ServerInterface &window = *session.window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    // A scroll bar only where the window fills the screen that way, once laid out.
    window.layout()->activate();
    QCoreApplication::sendPostedEvents();
    const QSize room = window.screen()->availableGeometry().size() - (window.frameGeometry().size() - window.size());
    for (QScrollBar *bar : window.findChildren<QScrollBar *>())
        QVERIFY2(!bar->isVisible() || (bar->orientation() == Qt::Horizontal ? window.width() == room.width()
                                                                             : window.height() == room.height()),
                 "a scroll bar although the screen has room");
    auto *download = window.findChild<QPushButton *>("downloadButton");
    for (QPushButton *button : window.findChildren<QPushButton *>()) // the text, its frame and a pixel either side
        QCOMPARE(button->size(), QSize(qMax(70, button->fontMetrics().horizontalAdvance(button->text()) + 8), 40));
    auto *bar = window.findChild<QProgressBar *>("progressBar");
    QCOMPARE(bar->size(), QSize(350, qMax(15, bar->fontMetrics().tightBoundingRect("100%").height())));
    for (QLabel *label : window.findChildren<QLabel *>())
        QVERIFY2(!label->isVisible() || label->width() >= label->sizeHint().width(), qPrintable(label->text() + " is cut"));
    QVERIFY(QFontInfo(download->font()).bold()); // demi-bold captions on Qt 5's weight scale and Qt 6's
    QStringList focus; // what Tab stops at, from Download round to it
    QWidget *widget = download;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible())
            focus << widget->objectName() + widget->metaObject()->className();
        widget = widget->nextInFocusChain();
    } while (widget != download && focus.size() < 100);
    QCOMPARE(focus, QStringList({"downloadButtonQPushButton", "modifyIpButtonQPushButton"}));
}

QTEST_MAIN(OperatorTest)
#include "tst_operator.moc"
