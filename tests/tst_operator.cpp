// What the operator does and sees: the start, Download with every kind of
// image file, ModifyIP, closing the window, a second TcpServer; and that none
// of it corrupts or silently loses a flash.
#include "support/session.h"

#include "image/imagefile.h"
#include "window/application.h"
#include "window/serverinterface.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
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
    void actions();
    void imageHeldOnceAndNoAbortWhenMemoryRunsOut();
    void oneInstancePerSession();
    void noDisplayIsOneClearLine();
};

void OperatorTest::actions_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QString flashing = "image 5000; download; A connect; A updata len; A ok 0; ";
    const QString portBox = "Port 10013 is in use by another program, so the device cannot reach TcpServer. Close "
                            "that program (it may be another TcpServer), then press Download.";
    const QString hint = "hint=If failed to get the local connection IP address, please enter the computer update "
                         "adapter interface,|and modify the local connection IP address to 192.168.0.92 .Restart "
                         "TcpServer.";

    QTest::newRow("start without a listed adapter: the hint, and the server listens")
        << "start" << QStringList{hint, "hint.colour=red", "noip=red", "haveip=black", "serverip=", "listening=yes"};
    QTest::newRow("start with the right address: green, and the server listens")
        << "adapter Ethernet 192.168.0.92"
        << QStringList{"serverip=192.168.0.92", "serverip.colour=green", "haveip=green", "noip=black", "hint=|",
                       "listening=yes"};
    QTest::newRow("start with another address: red, and no server")
        << QString::fromUtf8("adapter 以太网 10.1.2.3")
        << QStringList{"serverip=10.1.2.3", "serverip.colour=red", "haveip=red,black,black", "listening=no"};
    QTest::newRow("the adapter's last IPv4 address counts; names match exactly")
        << "adapter ethernet 192.168.0.92; adapter Ethernet3 192.168.0.92,10.0.0.5,fe80::1"
        << QStringList{"serverip=10.0.0.5", "hint=|", "listening=no"};
    QTest::newRow("Download while the address is wrong is refused")
        << "adapter Ethernet 10.0.0.1; image 100; download refused"
        << QStringList{"boxes=Please click the 'ModifyIP' button to modify the ServerIP address first.",
                       "haveip=red", "status="};
    QTest::newRow("ModifyIP when the address is right only says so")
        << "adapter Ethernet 192.168.0.92; modify"
        << QStringList{"boxes=ServerIP address has been modified.", "changes=", "message="};
    QTest::newRow("ModifyIP that works: green, and a server listens")
        << "adapter Local_Area_Connection2 10.0.0.1; change works; modify"
        << QStringList{"message=ServerIP modified successfully.", "message.colour=green", "serverip=192.168.0.92",
                       "serverip.colour=green", "haveip=green", "listening=yes",
                       "changes=Local Area Connection2 192.168.0.92 255.255.255.0"};
    QTest::newRow("ModifyIP that fails: red, the address as it was")
        << "adapter Ethernet 10.0.0.1; change fails; modify"
        << QStringList{"message=ServerIP fail to modify.", "message.colour=red", "serverip=10.0.0.1",
                       "serverip.colour=red", "haveip=red"};
    QTest::newRow("ModifyIP without a listed adapter leaves a running flash alone")
        << flashing + "modify; A ok 1; A ok 2; A ok 3; A ok 4; A close"
        << QStringList{"message=Download complete", "changes= 192.168.0.92 255.255.255.0"};
    QTest::newRow("Download during ModifyIP loads the image the listening server serves")
        << "adapter Ethernet 10.0.0.1; change works+download; image 3000; modify; A connect; A updata len; "
           "A ok 0; A ok 1; A ok 2; A close"
        << QStringList{"message=Download complete", "boxes="};
    QTest::newRow("Download mid-transfer ends that flash; the device starts over")
        << flashing + "image 3000; download; A closed; B connect; B updata len; B ok 0"
        << QStringList{"step4=red", "status=Reading data is complete......", "step2=green"};
    QTest::newRow("Download once all went out, before the device closed, ends it too")
        << "image 2000; download; A connect; A updata len; A ok 0; A ok 1; download; A closed; B connect; "
           "B updata len; B ok 0; B ok 1; B close"
        << QStringList{"message=Download complete"};
    QTest::newRow("closing the window during a flash asks; No keeps it")
        << flashing + "answer no; close window; A ok 1"
        << QStringList{"window=open"};
    QTest::newRow("closing the window during a flash asks; Yes closes")
        << flashing + "answer yes; close window" << QStringList{"window=closed"};
    QTest::newRow("closing the window with no flash running asks nothing")
        << "image 100; download; A connect; close window" << QStringList{"window=closed", "boxes="};
    const QString device = "; download; A connect; A updata len";
    const QStringList loaded{"status=Reading data is complete......", "step2=green"};
    QTest::newRow("Download reads the file whole and hands it over") << "image 2500" + device + "; A ok 0; A ok 1; A ok 2" << loaded;
    QTest::newRow("an empty file is an empty image, told as such") << "image 0" + device << loaded;
    QStringList unusable{"none", "dir", "huge"}; // missing, a folder, too large to tell the device
#ifdef Q_OS_UNIX
    unusable << "fifo"; // a pipe, which would block the window if it were opened
#endif
    for (const QString &kind : unusable)
        QTest::newRow(qPrintable("Download of an unusable file (" + kind + ") hands over nothing"))
            << "image 100; download; image " + kind + device << QStringList{"status=Failed to read data.", "step2=red"};
    QTest::newRow("port 10013 taken: the operator is told")
        << "port taken; start"
        << QStringList{"message=Port 10013 is in use by another program.", "message.colour=red", "boxes=" + portBox};
    QTest::newRow("port 10013 still taken: Download loads nothing")
        << "port taken; image 100; download refused"
        << QStringList{"boxes=" + portBox + "|" + portBox, "status="};
    QTest::newRow("port 10013 free again: Download listens and loads")
        << "port taken; start; port free; image 100; download; A connect; A updata len; A ok 0; A close"
        << QStringList{"message=Download complete", "boxes=" + portBox};
}

void OperatorTest::actions()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    Session().verify(script, checks);
}

// The rest runs on Linux only.
#ifdef Q_OS_LINUX
void OperatorTest::imageHeldOnceAndNoAbortWhenMemoryRunsOut()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than any limit set here");
#endif
    const qint64 mib = 1024 * 1024, image = 192 * mib;
    Session session;
    session.run("image 0");
    // Room for the image once, not twice.
    QFile statm("/proc/self/statm");
    QVERIFY(statm.open(QIODevice::ReadOnly) && QFile::resize(imageFilePath(), image));
    rlimit before{}, limit{};
    getrlimit(RLIMIT_AS, &before);
    limit = {rlim_t(statm.readAll().split(' ').first().toLongLong() * 4096 + image + 96 * mib), before.rlim_max};
    QVERIFY(setrlimit(RLIMIT_AS, &limit) == 0);
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString status = session.window->m_fileStatusEdit->text();
    Device device;
    device.send("updata");
    const QByteArray header = device.take(4);
    QVERIFY(QFile::resize(imageFilePath(), 2 * image)); // more than is left: fails, says so, goes on
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString statusTooLarge = session.window->m_fileStatusEdit->text();
    setrlimit(RLIMIT_AS, &before);
    QCOMPARE(status + header.toHex(), QStringLiteral("Reading data is complete......0000000c"));
    QCOMPARE(statusTooLarge, QStringLiteral("Failed to read data."));
}

void OperatorTest::oneInstancePerSession()
{
    QTemporaryDir runtime;
    QProcess first;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    first.setProcessEnvironment(environment);
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

void OperatorTest::noDisplayIsOneClearLine()
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    program.setProcessEnvironment(environment);
    program.start(TCPSERVER_PROGRAM, QStringList());
    QVERIFY(program.waitForFinished(10000) && program.exitStatus() == QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardError(), QByteArray("TcpServer: there is no display to show its window on. Start it "
        "in a desktop session (or with QT_QPA_PLATFORM=offscreen to run it without a visible window).\n"));
}

#else
void OperatorTest::imageHeldOnceAndNoAbortWhenMemoryRunsOut() {}
void OperatorTest::oneInstancePerSession() {}
void OperatorTest::noDisplayIsOneClearLine() {}
#endif

QTEST_MAIN(OperatorTest)
#include "tst_operator.moc"
