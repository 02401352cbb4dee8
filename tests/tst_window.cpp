// What the operator does and sees: the start, Download, ModifyIP, a flash and
// how it ends, closing the window, a second TcpServer; which image went out,
// in the status bar and the flash record; the window on any screen (this runs
// at 125 %); real adapters; on Windows, what netsh is given.
#include "support/csv.h"
#include "support/window.h"

#include "app/singleinstance.h"
#include "image/imagefile.h"
#include "image/sha256.h"
#include "window/windowgeometry.h"

#include <QAction>
#include <QClipboard>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QNetworkInterface>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTcpServer>
#include <QTest>
#include <QTextBrowser>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

namespace {
const QString kRefusal = QStringLiteral("Didn't click 'Download' button to download the data.");
const QString kStall = QStringLiteral("Network interruption, please restart TcpServer.");
const QString kPortBox = QStringLiteral("Port 10013 is in use by another program, so the device cannot reach "
                                        "TcpServer. Close that program (it may be another TcpServer), then press "
                                        "Download.");

// A device that asks for the length and count blocks, each checked.
void flash(WindowUnderTest &test, TestDevice *device, const QByteArray &image, int count)
{
    Exchanges exchanges{{"updata", length()}};
    for (int index = 0; index < count; ++index)
        exchanges.append({"ok", block(index)});
    converse(*device, image, exchanges);
    Q_UNUSED(test)
}

// The IPv4 addresses of a real adapter, with their prefix lengths.
QStringList ipv4Of(const QString &name)
{
    QStringList addresses;
    const QNetworkInterface adapter = QNetworkInterface::interfaceFromName(QString::fromLatin1(name.toUtf8()));
    for (const QNetworkAddressEntry &entry : adapter.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            addresses << entry.ip().toString() + '/' + QString::number(entry.prefixLength());
    }
    return addresses;
}

} // namespace

Q_DECLARE_METATYPE(QList<NetworkAdapter>)
Q_DECLARE_METATYPE(NetworkAdapter)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
    void downloadWhileTheAddressIsWrongIsRefused();
    void modifyIp_data();
    void modifyIp();
    void modifyIpLeavesAFlashInProgressAlone();
    void downloadDuringModifyIpLoadsForTheListeningServer();
    void aFlashAsTheOperatorSeesIt();
    void midFlashTheMessageAlternates();
    void aDeviceThatLeavesMidFlash();
    void askingBeforeDownloadOneBoxAtATime();
    void connectionsThatComeAndGoWhileABoxIsOpenAreFreed();
    void aDeviceThatStopsAsking();
    void downloadMidFlashEndsThatFlash();
    void closingMidFlash_data();
    void closingMidFlash();
    void unusableImage_data();
    void unusableImage();
    void imageBelowTheProgramsFolder();
    void clientInputStopsAtItsLimit();
    void recordRowForEachFlashAndRefusal();
    void recordThatCannotBeWritten();
    void portTakenThenFree();
    void oneDigestInWindowRecordAndDevice();
    void imageHeldOnceAndNoAbortWhenMemoryRunsOut();
    void oneInstancePerSession();
    void closingOffersToGiveTheAdapterBack_data();
    void closingOffersToGiveTheAdapterBack();
    void realAdapters();
    void realAdapterGivenBack();
    void netshCommandLine_data();
    void netshCommandLine();
    void geometry_data();
    void geometry();
    void renderedWindowFitsAndCutsNoText();
    void placeOnRealDisplay();
};

void WindowTest::startUp_data()
{
    QTest::addColumn<QList<NetworkAdapter>>("adapters");
    QTest::addColumn<QString>("serverIp");
    QTest::addColumn<QString>("serverIpColour");
    QTest::addColumn<QString>("haveIpColours");
    QTest::addColumn<QString>("noIpColours");
    QTest::addColumn<bool>("hint");
    QTest::addColumn<bool>("listening");
    QTest::newRow("no listed adapter: the hint, and the server listens") << QList<NetworkAdapter>{} << ""
                                                                         << "red"
                                                                         << "black"
                                                                         << "red" << true << true;
    QTest::newRow("the right address: green, and the server listens")
            << QList<NetworkAdapter>{adapter("Ethernet", {"192.168.0.92"})} << "192.168.0.92"
            << "green"
            << "green"
            << "black" << false << true;
    QTest::newRow("another address: red, and nothing listens")
            << QList<NetworkAdapter>{adapter(QString::fromUtf8("以太网"), {"10.1.2.3"})} << "10.1.2.3"
            << "red"
            << "red,black,black"
            << "black" << false << false;
    QTest::newRow("the adapter's last IPv4 address counts; names match exactly")
            << QList<NetworkAdapter>{adapter("ethernet", {"192.168.0.92"}),
                                     adapter("Ethernet3", {"192.168.0.92", "10.0.0.5", "fe80::1"})}
            << "10.0.0.5"
            << "red"
            << "red,black,black"
            << "black" << false << false;
}

void WindowTest::startUp()
{
    QFETCH(QList<NetworkAdapter>, adapters);
    QFETCH(QString, serverIp);
    QFETCH(QString, serverIpColour);
    QFETCH(QString, haveIpColours);
    QFETCH(QString, noIpColours);
    QFETCH(bool, hint);
    QFETCH(bool, listening);
    WindowUnderTest test(adapters);
    test.start();
    QCOMPARE(test.text("serverIpLabel"), serverIp);
    QCOMPARE(test.colour({"serverIpLabel"}), serverIpColour);
    QCOMPARE(test.colour({"haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}), haveIpColours);
    QCOMPARE(test.colour({"noIpLabel", "noIpHintLabel"}), noIpColours);
    QCOMPARE(test.text("hintLabel1"),
             hint ? "If failed to get the local connection IP address, please enter the computer update adapter "
                    "interface,"
                  : "");
    QCOMPARE(test.text("hintLabel2"),
             hint ? "and modify the local connection IP address to 192.168.0.92 .Restart TcpServer." : "");
    QCOMPARE(test.listening(), listening);
}

void WindowTest::downloadWhileTheAddressIsWrongIsRefused()
{
    WindowUnderTest test({adapter("Ethernet", {"10.0.0.1"})});
    test.writeImage(100);
    test.start();
    test.clickDownload();
    QCOMPARE(test.boxes, QStringList("Please click the 'ModifyIP' button to modify the ServerIP address first."));
    QCOMPARE(test.colour({"haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}), "red");
    QCOMPARE(test.text("fileStatusEdit"), "");
}

void WindowTest::modifyIp_data()
{
    QTest::addColumn<QString>("address"); // the adapter's before the change
    QTest::addColumn<bool>("changeWorks");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("messageColour");
    QTest::addColumn<QString>("serverIp");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("the address right already: only says so")
            << "192.168.0.92" << true << ""
            << "black"
            << "192.168.0.92 (green)" << QStringList{} << QStringList{"ServerIP address has been modified."};
    QTest::newRow("a change that works: green")
            << "10.0.0.1" << true << "ServerIP modified successfully."
            << "green"
            << "192.168.0.92 (green)" << QStringList{"Local Area Connection2 192.168.0.92 255.255.255.0"}
            << QStringList{};
    QTest::newRow("a change that fails: red, the address as it was")
            << "10.0.0.1" << false << "ServerIP fail to modify."
            << "red"
            << "10.0.0.1 (red)" << QStringList{"Local Area Connection2 192.168.0.92 255.255.255.0"} << QStringList{};
}

void WindowTest::modifyIp()
{
    QFETCH(QString, address);
    QFETCH(bool, changeWorks);
    QFETCH(QString, message);
    QFETCH(QString, messageColour);
    QFETCH(QString, serverIp);
    QFETCH(QStringList, changes);
    QFETCH(QStringList, boxes);
    WindowUnderTest test({adapter("Local Area Connection2", {address})});
    test.adapters.onChange = [&] {
        if (changeWorks)
            test.adapters.adapters.first().addresses = {QHostAddress(kServerAddress)};
    };
    test.start();
    test.clickModifyIp();
    QCOMPARE(test.text("messageLabel"), message);
    QCOMPARE(test.colour({"messageLabel"}), messageColour);
    QCOMPARE(test.text("serverIpLabel") + " (" + test.colour({"serverIpLabel"}) + ")", serverIp);
    QCOMPARE(test.colour({"haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}), changeWorks ? "green" : "red");
    QCOMPARE(test.adapters.changes, changes);
    QCOMPARE(test.boxes, boxes);
    // Whatever the outcome, a server listens afterwards: on every address.
    QVERIFY(test.listening());
}

void WindowTest::modifyIpLeavesAFlashInProgressAlone()
{
    WindowUnderTest test;
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    test.clickModifyIp();
    QCOMPARE(test.text("messageLabel"), "Failed to get local connection ServerIP.");
    converse(*device, image, {{"ok", block(1)}, {"ok", block(2)}, {"ok", block(3)}, {"ok", block(4)}});
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
}

// ModifyIP waits for the change with the event loop running: a Download
// meanwhile loads the image for the server that listens afterwards.
void WindowTest::downloadDuringModifyIpLoadsForTheListeningServer()
{
    WindowUnderTest test({adapter("Ethernet", {"10.0.0.1"})});
    const QByteArray image = test.writeImage(3000);
    test.adapters.onChange = [&] {
        test.adapters.adapters.first().addresses = {QHostAddress(kServerAddress)};
        QMetaObject::invokeMethod(test.window()->findChild<QPushButton *>("downloadButton"), "click",
                                  Qt::QueuedConnection);
    };
    test.start();
    test.clickModifyIp();
    flash(test, test.connectDevice(), image, 3);
    test.devices.back()->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    QCOMPARE(test.boxes, QStringList());
}

void WindowTest::aFlashAsTheOperatorSeesIt()
{
    WindowUnderTest test;
    const QByteArray image = test.writeImage(2500);
    test.start();
    test.clickDownload();
    QCOMPARE(test.text("fileStatusEdit"), "Reading data is complete......");
    QCOMPARE(test.colour({"step2TextLabel1", "step2TextLabel2"}), "green");
    TestDevice *device = test.connectDevice();
    QCOMPARE(test.colour({"step3TextLabel1", "step3TextLabel2", "step3TextLabel3"}), "green");
    flash(test, device, image, 3);
    converse(*device, image, {{"ok", nothing()}});
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    QCOMPARE(test.colour({"messageLabel"}), "green");
    QCOMPARE(test.text("fileStatusEdit"), "Reading data is complete...Download complete");
    QCOMPARE(test.bar(), 100);
    QCOMPARE(test.colour({"step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}), "green");
    QCOMPARE(test.text("clientIpLabel"), "127.0.0.1");
    QCOMPARE(test.boxes, QStringList());
    QTRY_COMPARE(test.window()->findChild<QTextBrowser *>("clientInputBrowser")->toPlainText(), "updata ok ok ok ok ");
    QCOMPARE(test.text("lastFlashLabel").remove(QRegularExpression("\\d\\d:\\d\\d:\\d\\d")),
             "Last flash: complete at , device 127.0.0.1");
    QCOMPARE(test.colour({"lastFlashLabel"}), "green");
    QTRY_COMPARE(test.text("imageLabel"), QString::fromUtf8("file.bin · 2500 bytes · SHA-256 5658c1729b0fd3a5…"));
}

void WindowTest::midFlashTheMessageAlternates()
{
    WindowUnderTest test;
    const QByteArray image = test.writeImage(3000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    QTRY_COMPARE(test.text("messageLabel"), "Downloading...");
    flash(test, device, image, 2);
    QTRY_COMPARE(test.text("messageLabel"), "Downloading......");
    QCOMPARE(test.colour({"messageLabel"}), "black");
    QCOMPARE(test.bar(), 66);
}

void WindowTest::aDeviceThatLeavesMidFlash()
{
    WindowUnderTest test;
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    device->close();
    QTRY_COMPARE(test.text("lastFlashLabel").remove(QRegularExpression("\\d\\d:\\d\\d:\\d\\d")),
                 "Last flash: device closed early at , device 127.0.0.1");
    QCOMPARE(test.colour({"lastFlashLabel"}), "red");
    QCOMPARE(test.text("messageLabel"), "Downloading...");
    QCOMPARE(test.bar(), 20);
    QCOMPARE(test.boxes, QStringList());
}

// A device that keeps asking while the box is open is refused all the same,
// without piling boxes on boxes; a newcomer meanwhile replaces the asker.
void WindowTest::askingBeforeDownloadOneBoxAtATime()
{
    WindowUnderTest test;
    test.start();
    TestDevice *asker = test.connectDevice();
    test.whileNextBoxIsOpen = [&] {
        TestDevice newcomer(QStringLiteral("127.0.0.1"), protocol::kPort);
        QVERIFY(asker->closedByServer());
        newcomer.send("updata");
        QTest::qWait(100);
    };
    asker->send("updata");
    QTRY_COMPARE(test.boxes, QStringList(kRefusal));
    QCOMPARE(test.colour({"step2TextLabel1", "step2TextLabel2"}), "red");
    QCOMPARE(test.text("lastFlashLabel"), "");
}

// Each connection replaced while a box is open is freed meanwhile.
void WindowTest::connectionsThatComeAndGoWhileABoxIsOpenAreFreed()
{
#ifndef Q_OS_LINUX
    QSKIP("counts the open files in /proc/self/fd");
#else
    WindowUnderTest test;
    test.start();
    int before = 0;
    int after = 0;
    auto openFiles = [] { return int(QDir(QStringLiteral("/proc/self/fd")).count()); };
    test.whileNextBoxIsOpen = [&] {
        before = openFiles();
        for (int wave = 0; wave < 100; ++wave) {
            std::vector<std::unique_ptr<TestDevice>> strangers;
            for (int i = 0; i < 50; ++i)
                strangers.push_back(std::make_unique<TestDevice>(QStringLiteral("127.0.0.1"), protocol::kPort));
        }
        QTest::qWait(200);
        after = openFiles();
    };
    test.connectDevice()->send("updata");
    QTRY_COMPARE(test.boxes, QStringList(kRefusal));
    QVERIFY2(after <= before + 2, qPrintable(QStringLiteral("%1 files open, %2 before").arg(after).arg(before)));
#endif
}

void WindowTest::aDeviceThatStopsAsking()
{
    WindowUnderTest test;
    test.options.server.watchPeriodMsec = 100;
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    QVERIFY(device->closedByServer());
    QTRY_COMPARE(test.boxes, QStringList(kStall));
    QCOMPARE(test.colour({"step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}), "red");
    QCOMPARE(test.text("lastFlashLabel").remove(QRegularExpression("\\d\\d:\\d\\d:\\d\\d")),
             "Last flash: stalled at , device 127.0.0.1");
    // The image went with the flash.
    test.connectDevice()->send("updata");
    QTRY_COMPARE(test.boxes, QStringList({kStall, kRefusal}));
}

void WindowTest::downloadMidFlashEndsThatFlash()
{
    WindowUnderTest test;
    const QByteArray first = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, first, 2);
    const QByteArray second = test.writeImage(3000);
    test.clickDownload();
    QVERIFY(device->closedByServer());
    QTRY_COMPARE(test.colour({"step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}), "red");
    QCOMPARE(test.text("fileStatusEdit"), "Reading data is complete......");
    QCOMPARE(test.text("messageLabel"), "");
    QCOMPARE(test.bar(), 0);
    flash(test, test.connectDevice(), second, 1);
}

void WindowTest::closingMidFlash_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("open");
    QTest::newRow("No keeps it, and the flash goes on") << QMessageBox::No << true;
    QTest::newRow("Yes closes it and ends the flash") << QMessageBox::Yes << false;
}

void WindowTest::closingMidFlash()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, open);
    WindowUnderTest test;
    test.options.logPath = test.folder.filePath("flash-log.csv");
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    test.answer = answer;
    test.window()->close();
    QCOMPARE(test.window()->isVisible(), open);
    QCOMPARE(test.boxes.size(), 1);
    QVERIFY(test.boxes.first().startsWith("A device is being flashed."));
    QCOMPARE(test.questionDefaults, QList<QMessageBox::StandardButton>{QMessageBox::No});
    if (open) {
        converse(*device, image, {{"ok", block(1)}});
    } else {
        QVERIFY(device->closedByServer());
        QCOMPARE(readCsv(test.options.logPath).value(1).value(2), "window closed mid-flash");
    }
}

void WindowTest::unusableImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("none") << "none"
                          << "there is no such file";
    QTest::newRow("a folder") << "folder"
                              << "it is not a regular file";
    QTest::newRow("larger than a flash can carry") << "huge"
                                                   << "it is larger than a flash can carry (2 GiB)";
#ifdef Q_OS_UNIX
    QTest::newRow("a pipe, which would block the window") << "fifo"
                                                          << "it is not a regular file";
    QTest::newRow("a link") << "link"
                            << "it is a symbolic link, which is not followed";
#endif
}

// No image at all: the device is told 0 bytes, never part of an image.
void WindowTest::unusableImage()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    WindowUnderTest test;
    const QString path = test.imagePath();
    if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
    if (kind == "huge") // sparse, one byte more than a flash can carry
        QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile::resize(path, maxImageBytes() + 1));
#ifdef Q_OS_UNIX
    if (kind == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
    if (kind == "link") // to a file that is no image of ours
        QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), path));
    test.start();
    test.clickDownload();
    QCOMPARE(test.text("fileStatusEdit"), "Failed to read data.");
    QCOMPARE(test.colour({"step2TextLabel1", "step2TextLabel2"}), "red");
    QCOMPARE(test.text("imageLabel"), "Failed to read data: " + reason + " (" + QDir::toNativeSeparators(path) + ")");
    QCOMPARE(test.colour({"imageLabel"}), "red");
    converse(*test.connectDevice(), QByteArray(), {{"updata", length()}});
}

void WindowTest::imageBelowTheProgramsFolder()
{
    WindowUnderTest test;
    test.options.imagePath.clear();
    const QByteArray image = pattern(1500, 7);
    QVERIFY(writeFile(imageFilePath(), image));
    test.start();
    test.clickDownload();
    QFile::remove(imageFilePath());
    flash(test, test.connectDevice(), image, 2);
}

void WindowTest::clientInputStopsAtItsLimit()
{
    WindowUnderTest test;
    test.options.clientInputLimit = 12;
    const QByteArray image = test.writeImage(3000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 3);
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    QCOMPARE(test.window()->findChild<QTextBrowser *>("clientInputBrowser")->toPlainText(), "updata ok ");
}

void WindowTest::recordRowForEachFlashAndRefusal()
{
    WindowUnderTest test({adapter("Ethernet", {"192.168.0.92"})});
    test.options.logPath = test.folder.filePath("flash-log.csv");
    const QByteArray image = test.writeImage(2500);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 3);
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    test.connectDevice()->send("updata");
    QTRY_COMPARE(readCsv(test.options.logPath).size(), 3);
    const QList<QStringList> rows = readCsv(test.options.logPath);
    const QStringList columns = rows.first();
    auto field = [&](int row, const char *column) { return rows.at(row).value(columns.indexOf(column)); };
    QCOMPARE(field(1, "result"), "complete");
    QCOMPARE(field(1, "device"), "127.0.0.1");
    QCOMPARE(field(1, "image"), QDir::toNativeSeparators(test.imagePath()));
    QCOMPARE(field(1, "image bytes"), "2500");
    QCOMPARE(field(1, "blocks sent"), "3");
    QCOMPARE(field(1, "bytes sent"), "2500");
    QCOMPARE(field(1, "server address"), "127.0.0.1");
    QCOMPARE(field(2, "result"), "refused, no image");
    QCOMPARE(field(2, "image"), "");
    QCOMPARE(field(2, "blocks sent"), "0");
}

// The flash goes on; the status bar says why in red, and closing says how many
// rows are missing.
void WindowTest::recordThatCannotBeWritten()
{
    WindowUnderTest test;
    test.options.logPath = test.folder.filePath("flash-log.csv");
    QVERIFY(QDir().mkpath(test.options.logPath));
    const QByteArray image = test.writeImage(100);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    flash(test, device, image, 1);
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
#ifdef Q_OS_WIN
    const QString reason = qt_error_string(ERROR_ACCESS_DENIED);
#else
    const QString reason = QStringLiteral("Is a directory");
#endif
    QTRY_COMPARE(test.text("recordLabel"), "The flash record was not written: " + reason + " (1 rows wait)");
    test.window()->close();
    QCOMPARE(test.boxes,
             QStringList("1 row of the flash record " + QDir::toNativeSeparators(test.options.logPath) +
                         " could not be written: " + reason +
                         ". The flashes themselves are not affected; those rows are missing from the "
                         "record."));
}

// Another program holds port 10013: the operator is told; Download loads
// nothing while it does, and listens and loads once it is free.
void WindowTest::portTakenThenFree()
{
    WindowUnderTest test;
    const QByteArray image = test.writeImage(100);
    auto holder = std::make_unique<QTcpServer>();
    QVERIFY(holder->listen(QHostAddress::Any, protocol::kPort));
    test.start();
    QTRY_COMPARE(test.text("messageLabel"), "Port 10013 is in use by another program.");
    QCOMPARE(test.colour({"messageLabel"}), "red");
    QTRY_COMPARE(test.boxes, QStringList(kPortBox));
    test.clickDownload();
    QTRY_COMPARE(test.boxes, QStringList({kPortBox, kPortBox}));
    QCOMPARE(test.text("fileStatusEdit"), "");
    holder.reset();
    test.clickDownload();
    flash(test, test.connectDevice(), image, 1);
}

// The digest the window shows, the one the record keeps and the one the
// device emulator computes over what it received are one string.
void WindowTest::oneDigestInWindowRecordAndDevice()
{
    WindowUnderTest test;
    test.options.logPath = test.folder.filePath("flash-log.csv");
    test.writeImage(70000);
    test.start();
    test.clickDownload();
    QProcess emulator;
    emulator.start(QStringLiteral(DEVICE_EMULATOR), {"--expect", test.imagePath()});
    QVERIFY(waitFor([&] { return emulator.state() == QProcess::NotRunning; }, 20000));
    const QString said = QString::fromUtf8(emulator.readAllStandardOutput());
    const QString digest = said.section("sha256 received ", 1).section('\n', 0, 0).trimmed();
    QCOMPARE(digest.size(), 64);
    QTRY_COMPARE(test.window()->findChild<QLabel *>("imageLabel")->toolTip().section('\n', 0, 0), "SHA-256 " + digest);
    QTRY_COMPARE(readCsv(test.options.logPath).value(1).value(7), digest);
    test.window()->findChild<QAction *>("copyDigestAction")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), digest);
}

void WindowTest::imageHeldOnceAndNoAbortWhenMemoryRunsOut()
{
#if !defined(Q_OS_LINUX) || defined(__SANITIZE_ADDRESS__)
    QSKIP("needs Linux's address space limit, which AddressSanitizer's reservations exceed");
#else
    const qint64 mib = 1024 * 1024;
    const qint64 image = 192 * mib;
    WindowUnderTest test;
    test.start();
    QFile statm("/proc/self/statm"); // room for the image once, not twice
    QVERIFY(statm.open(QIODevice::ReadOnly));
    QVERIFY(QFile(test.imagePath()).open(QIODevice::WriteOnly) && QFile::resize(test.imagePath(), image));
    rlimit before{};
    QVERIFY(getrlimit(RLIMIT_AS, &before) == 0);
    const rlimit limit{rlim_t(statm.readAll().split(' ').first().toLongLong() * 4096 + image + 128 * mib),
                       before.rlim_max};
    QVERIFY(setrlimit(RLIMIT_AS, &limit) == 0);
    test.clickDownload();
    const QString loaded = test.text("fileStatusEdit");
    TestDevice device(QStringLiteral("127.0.0.1"), protocol::kPort);
    device.send("updata");
    const QByteArray header = device.take(4);
    QVERIFY(QFile::resize(test.imagePath(), 2 * image)); // more than is left: fails, says so, goes on
    test.clickDownload();
    const QString tooLarge = test.text("imageLabel");
    setrlimit(RLIMIT_AS, &before);
    QCOMPARE(loaded, "Reading data is complete......");
    QCOMPARE(header, lengthHeaderFor(int(image)));
    QCOMPARE(tooLarge, "Failed to read data: there is not enough memory to hold it (" + test.imagePath() + ")");
#endif
}

void WindowTest::oneInstancePerSession()
{
#ifndef Q_OS_LINUX
    QSKIP("the user's runtime folder is set here through XDG_RUNTIME_DIR");
#endif
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path())); // the program's session
    QProcess first;
    first.start(TCPSERVER_PROGRAM, QStringList{"--no-log"});
    const QString lock = runtime.filePath("TcpServer.lock");
    QVERIFY(waitFor([&] { return QFileInfo(lock).size() > 0; }, 10000));
    QCOMPARE(SingleInstance(lock).claim(), SingleInstance::HeldByWindow);
    QProcess station; // the station says so too, and serves nothing
    station.start(STATION_PROGRAM, QStringList{"--no-log"});
    QVERIFY(station.waitForFinished(10000));
    QCOMPARE(station.exitCode(), 1);
    QVERIFY(station.readAllStandardError().contains("the TcpServer window already serves the device"));
    first.kill(); // one that crashed stands in nobody's way
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(SingleInstance(lock).claim(), SingleInstance::Taken);
}

// ModifyIP notes how the adapter was set, and closing the window offers to
// give those settings back, Yes by default.
void WindowTest::closingOffersToGiveTheAdapterBack_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("changedSince"); // someone set another address after ModifyIP
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("noteKept");
    const QString question = QStringLiteral("ModifyIP gave the adapter Ethernet the address 192.168.0.92.\nGive it "
                                            "back its earlier settings now (10.1.2.3/24)?");
    QTest::newRow("Yes: given back") << QMessageBox::Yes << false
                                     << QStringList{question,
                                                    "The adapter Ethernet has its earlier settings again: "
                                                    "10.1.2.3/24."}
                                     << false;
    QTest::newRow("No: kept, and asked again next time") << QMessageBox::No << false << QStringList{question} << true;
    QTest::newRow("changed since by someone else: left alone") << QMessageBox::Yes << true << QStringList{} << false;
}

void WindowTest::closingOffersToGiveTheAdapterBack()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, changedSince);
    QFETCH(QStringList, boxes);
    QFETCH(bool, noteKept);
    WindowUnderTest test({adapter("Ethernet", {"10.1.2.3"})});
    test.adapters.onChange = [&] { test.adapters.adapters.first().addresses << QHostAddress(kServerAddress); };
    test.adapters.onRestore = [&] { test.adapters.adapters.first().addresses.removeLast(); };
    test.start();
    test.clickModifyIp();
    test.clickModifyIp(); // the note of the first, true, settings stays
    if (changedSince)
        test.adapters.adapters.first().addresses = {QHostAddress("10.7.7.7")};
    test.answer = answer;
    test.window()->close();
    QCOMPARE(test.boxes.mid(1), boxes);
    QCOMPARE(test.questionDefaults,
             boxes.isEmpty() ? QList<QMessageBox::StandardButton>()
                             : QList<QMessageBox::StandardButton>{QMessageBox::Yes});
    QCOMPARE(QFile::exists(test.options.notePath), noteKept);
    QCOMPARE(test.adapters.restored.size(), answer == QMessageBox::Yes && !changedSince ? 1 : 0);
}

// On real adapters, in the test's own network namespace: found by its Chinese
// name, its last address shown; ModifyIP gives it 192.168.0.92/24 beside its
// own, and a device flashes there.
void WindowTest::realAdapters()
{
    if (!inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a network namespace of its own");
    const QString name = QString::fromUtf8("以太网");
    for (const QStringList &arguments : {QStringList{"link", "add", name, "type", "veth", "peer", "name", "peer0"},
                                         {"link", "set", name, "up"},
                                         {"address", "add", "10.20.30.40/24", "dev", name},
                                         {"address", "add", "10.20.31.1/24", "dev", name}})
        QCOMPARE(runProgram("ip", arguments), 0);
    WindowUnderTest test;
    test.adapterSource = NetworkAdapters::system();
    test.start();
    QCOMPARE(test.text("serverIpLabel"), "10.20.31.1");
    const QByteArray image = test.writeImage(3000);
    test.clickModifyIp();
    QCOMPARE(ipv4Of(name), QStringList({"10.20.30.40/24", "10.20.31.1/24", "192.168.0.92/24"}));
    QCOMPARE(test.text("serverIpLabel"), "192.168.0.92");
    test.clickDownload();
    TestDevice device(QStringLiteral("192.168.0.92"), protocol::kPort);
    converse(device, image, {{"updata", length()}, {"ok", block(0)}, {"ok", block(1)}, {"ok", block(2)}});
    device.close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    runProgram("ip", {"link", "delete", name});
}

// The proof on a real adapter: ModifyIP adds 192.168.0.92/24 beside the
// adapter's own address, leaving its default route; closing the window gives
// that back, and so does TcpServer --restore-address after a window that
// ended without closing; then there is nothing left to do.
void WindowTest::realAdapterGivenBack()
{
    if (!inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a network namespace of its own");
    for (const QStringList &arguments :
         {QStringList{"link", "add", "Ethernet", "type", "veth", "peer", "name", "peer0"},
          {"link", "set", "Ethernet", "up"},
          {"link", "set", "peer0", "up"},
          {"address", "add", "10.1.2.3/24", "dev", "Ethernet"},
          {"route", "add", "default", "via", "10.1.2.1", "dev", "Ethernet"}})
        QCOMPARE(runProgram("ip", arguments), 0);
    auto defaultRoute = [] {
        QProcess ip;
        ip.start("ip", {"-4", "route", "show", "default"});
        ip.waitForFinished();
        return QString::fromUtf8(ip.readAll()).simplified();
    };
    QTemporaryDir data; // the user's data folder, for the window and for the program alike
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    for (const bool closed : {true, false}) {
        WindowUnderTest test;
        test.options.notePath = data.filePath("TcpServer/adapter-before-modifyip.txt");
        test.adapterSource = NetworkAdapters::system();
        test.start();
        test.clickModifyIp();
        QCOMPARE(test.colour({"haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}), "green");
        QCOMPARE(ipv4Of("Ethernet"), QStringList({"10.1.2.3/24", "192.168.0.92/24"}));
        test.answer = QMessageBox::Yes;
        if (closed)
            test.window()->close();
        else
            QCOMPARE(runProgram(TCPSERVER_PROGRAM, {"--restore-address"}), 0);
        QCOMPARE(ipv4Of("Ethernet"), QStringList("10.1.2.3/24"));
        QCOMPARE(defaultRoute(), "default via 10.1.2.1 dev Ethernet");
    }
    QProcess again;
    again.start(TCPSERVER_PROGRAM, {"--restore-address"});
    QVERIFY(again.waitForFinished());
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(again.readAllStandardOutput()).trimmed(),
             "ModifyIP changed no adapter: there is nothing to give back.");
    runProgram("ip", {"link", "delete", "Ethernet"});
    qunsetenv("XDG_DATA_HOME");
}

// A stand-in netsh.exe in the system folder records what it was given, as
// Windows' C runtime splits it: a name with blanks whole, whether this test
// runs elevated or Windows elevates the command (wine.sh runs both).
void WindowTest::netshCommandLine_data()
{
    QTest::addColumn<QString>("adapter");
    for (const char *adapter : {"以太网", "Local Area Connection2"}) // Ethernet: tests/wine.sh's flashes
        QTest::newRow(adapter) << QString::fromUtf8(adapter);
}

void WindowTest::netshCommandLine()
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
             QStringList({"interface", "ipv4", "set", "address", "name", "=", adapter, "source", "=", "static",
                          "address", "=", "192.168.0.92", "mask", "=", "255.255.255.0"}));
}

// Screens as programs see them: a scaled desktop is smaller; a task bar 40
// pixels high; a frame of 8 pixels with a title bar of 31.
void WindowTest::geometry_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("natural");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("1920 × 1080: as wanted") << QSize(1920, 1080) << QSize(900, 500) << QRect(350, 200, 1066, 568);
    QTest::newRow("1366 × 768: as wanted") << QSize(1366, 768) << QSize(700, 400) << QRect(350, 200, 758, 404);
    QTest::newRow("150 %: moved left and up") << QSize(1280, 720) << QSize(1002, 642) << QRect(270, 31, 1002, 641);
    QTest::newRow("200 %: the whole screen, content scrolls")
            << QSize(960, 540) << QSize(1002, 642) << QRect(8, 31, 944, 461);
}

void WindowTest::geometry()
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
void WindowTest::renderedWindowFitsAndCutsNoText()
{
    WindowUnderTest test; // no listed adapter: the hint lines make it widest
    ServerInterface &window = *test.start();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    // A scroll bar only where the window fills the screen that way, once laid out.
    window.layout()->activate();
    QCoreApplication::sendPostedEvents();
    const QSize room = window.screen()->availableGeometry().size() - (window.frameGeometry().size() - window.size());
    for (QScrollBar *bar : window.findChildren<QScrollBar *>()) {
        // As far as the screen allows, within the pixel the display's scale rounds away.
        const bool fills = bar->orientation() == Qt::Horizontal ? window.width() >= room.width() - 1
                                                                : window.height() >= room.height() - 1;
        QVERIFY2(!bar->isVisible() || fills, "a scroll bar although the screen has room");
    }
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        // 70 × 40, wider only as far as a text needs that would not fit.
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        QCOMPARE(button->height(), 40);
        QVERIFY2(button->width() > text, qPrintable(button->text() + " is cut"));
        QVERIFY(button->width() == 70 || (button->width() > 70 && button->width() <= text + 12));
    }
    auto *bar = window.findChild<QProgressBar *>("progressBar");
    QCOMPARE(bar->width(), 350);
    for (QLabel *label : window.findChildren<QLabel *>())
        QVERIFY2(!label->isVisible() || label->width() >= label->sizeHint().width(),
                 qPrintable(label->text() + " is cut"));
    auto *download = window.findChild<QPushButton *>("downloadButton");
    QVERIFY(QFontInfo(download->font()).bold()); // demi-bold captions on Qt 5's weight scale and Qt 6's
    QStringList focus; // what Tab stops at, from Download round to it
    QWidget *widget = download;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible())
            focus << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != download && focus.size() < 100);
    QCOMPARE(focus, QStringList({"downloadButton", "modifyIpButton"}));
}

// On a real X display (tests/on-display.sh: Xvfb, 1920 × 1080, no window
// manager): the usual place and size where they fit, wholly on screen where
// they do not (QT_SCALE_FACTOR=2).
void WindowTest::placeOnRealDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("on a real X display only (tests/on-display.sh)");
    WindowUnderTest test;
    test.adapters.adapters = {adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface &window = *test.start();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    // In the display's own pixels, as Qt turns its logical ones into them.
    const qreal scale = window.devicePixelRatioF();
    const QRect placed(window.geometry().topLeft() * scale, window.geometry().size() * scale);
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("1"))
        QCOMPARE(placed, QRect(350, 200, 1066, 568));
    QVERIFY2(QRect(0, 0, 1920, 1080).contains(placed),
             qPrintable(QStringLiteral("%1,%2 %3 × %4")
                                .arg(placed.x())
                                .arg(placed.y())
                                .arg(placed.width())
                                .arg(placed.height())));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
