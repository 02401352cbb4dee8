// What the operator does and sees, at 125 % (CMake sets the scale).
#include "support/records.h"
#include "support/window.h"

#include "image/imagefile.h"
#include "window/application.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
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

namespace {
const QString kRefusal = QStringLiteral("Didn't click 'Download' button to download the data.");
const QString kStall = QStringLiteral("Network interruption, please restart TcpServer.");

Exchanges blocks(int count)
{
    Exchanges exchanges{{"updata", length()}};
    for (int index = 0; index < count; ++index)
        exchanges.append({"ok", block(index)});
    return exchanges;
}

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

QString withoutTime(QString text)
{
    return text.remove(QRegularExpression(QStringLiteral(" at \\d\\d:\\d\\d:\\d\\d")));
}

} // namespace

namespace {
// What happens to a flash after two blocks.
enum class Then { DeviceLeaves, DeviceStopsAsking, DownloadAgain };
} // namespace

Q_DECLARE_METATYPE(Then)
Q_DECLARE_METATYPE(Colour)
Q_DECLARE_METATYPE(QList<NetworkAdapter>)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class WindowTest : public QObject
{
    Q_OBJECT

public:
    // The program's own scaling, as it sets it before its application exists.
    static void initMain() { prepareApplication(); }

private slots:
    void initTestCase() { applicationStarted(); }
    void wrongAddressServesNothing_data();
    void wrongAddressServesNothing();
    void aCompleteFlash();
    void aFlashThatEndsEarly_data();
    void aFlashThatEndsEarly();
    void askingBeforeDownloadOneBoxAtATime();
    void closingMidFlash_data();
    void closingMidFlash();
    void unusableImage_data();
    void unusableImage();
    void recordThatCannotBeWritten();
    void portTakenThenFree();
    void closingOffersToGiveTheAdapterBack_data();
    void closingOffersToGiveTheAdapterBack();
    void realAdapterChangedAndGivenBack();
    void renderedWindowFitsAndCutsNoText();
    void placeOnRealDisplay();
};

// The last IPv4 address of the adapter whose name matches exactly is judged.
void WindowTest::wrongAddressServesNothing_data()
{
    QTest::addColumn<QList<NetworkAdapter>>("adapters");
    QTest::addColumn<QString>("shown");
    QTest::newRow("another address") << QList<NetworkAdapter>{adapter(QString::fromUtf8("以太网"), {"10.1.2.3"})}
                                     << "10.1.2.3";
    QTest::newRow("the last one counts; names match exactly")
            << QList<NetworkAdapter>{adapter("ethernet", {"192.168.0.92"}),
                                     adapter("Ethernet3", {"192.168.0.92", "10.0.0.5", "fe80::1"})}
            << "10.0.0.5";
}

void WindowTest::wrongAddressServesNothing()
{
    QFETCH(QList<NetworkAdapter>, adapters);
    QFETCH(QString, shown);
    WindowUnderTest test(adapters);
    test.start(WindowUnderTest::Listening::No);
    QCOMPARE(test.text("serverIpLabel"), shown);
    QCOMPARE(test.colours({"serverIpLabel", "haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}),
             QVector<Colour>({Colour::Red, Colour::Red, Colour::Black, Colour::Black}));
    QVERIFY(!portListened(protocol::kPort));
    test.writeImage(100);
    test.clickDownload();
    QCOMPARE(test.text("fileStatusEdit"), "");
    QCOMPARE(test.boxes, QStringList("Please click the 'ModifyIP' button to modify the ServerIP address first."));
}

void WindowTest::aCompleteFlash()
{
    WindowUnderTest test;
    test.options.clientInputLimit = 12; // the hidden pane's, in characters
    const QByteArray image = test.writeImage(2500);
    test.start();
    test.clickDownload();
    QCOMPARE(test.text("fileStatusEdit"), "Reading data is complete......");
    QCOMPARE(test.colours({"step2TextLabel1", "step2TextLabel2"}), QVector<Colour>(2, Colour::Green));
    TestDevice *device = test.connectDevice();
    QCOMPARE(test.colours({"step3TextLabel1", "step3TextLabel2", "step3TextLabel3"}),
             QVector<Colour>(3, Colour::Green));
    CONVERSE(*device, image, blocks(1));
    QTRY_COMPARE(test.text("messageLabel"), "Downloading...");
    CONVERSE(*device, image, {{"ok", block(1)}});
    QTRY_COMPARE(test.text("messageLabel"), "Downloading......");
    QCOMPARE(test.colours({"messageLabel"}), QVector<Colour>(1, Colour::Black));
    QCOMPARE(test.bar(), 66);
    CONVERSE(*device, image, {{"ok", block(2)}, {"ok", nothing()}});
    device->close();
    QTRY_COMPARE(test.text("messageLabel"), "Download complete");
    QCOMPARE(test.colours({"messageLabel", "step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}),
             QVector<Colour>(4, Colour::Green));
    QCOMPARE(test.text("fileStatusEdit"), "Reading data is complete...Download complete");
    QCOMPARE(test.bar(), 100);
    QCOMPARE(test.text("clientIpLabel"), "127.0.0.1");
    QCOMPARE(test.boxes, QStringList());
    QCOMPARE(test.window()->findChild<QTextBrowser *>("clientInputBrowser")->toPlainText(), "updata ok ");
    QCOMPARE(withoutTime(test.text("lastFlashLabel")), "Last flash: complete, device 127.0.0.1");
    QCOMPARE(test.colours({"lastFlashLabel"}), QVector<Colour>(1, Colour::Green));
    QTRY_COMPARE(test.text("imageLabel"), QString::fromUtf8("file.bin · 2500 bytes · SHA-256 5658c1729b0fd3a5…"));
}

void WindowTest::aFlashThatEndsEarly_data()
{
    QTest::addColumn<Then>("then"); // after two blocks
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("bar");
    QTest::addColumn<Colour>("step4Colour");
    QTest::addColumn<QString>("lastFlash");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("the device leaves: its last state stays")
            << Then::DeviceLeaves << "Downloading......" << 40 << Colour::Black
            << "Last flash: device closed early, device 127.0.0.1" << QStringList{};
    QTest::newRow("the device stops asking: closed, and the box")
            << Then::DeviceStopsAsking << "Downloading......" << 40 << Colour::Red
            << "Last flash: stalled, device 127.0.0.1" << QStringList{kStall};
    QTest::newRow("Download again: that flash ends, the device starts over")
            << Then::DownloadAgain << "" << 0 << Colour::Red
            << "Last flash: restarted by a new Download, device 127.0.0.1" << QStringList{};
}

void WindowTest::aFlashThatEndsEarly()
{
    QFETCH(Then, then);
    QFETCH(QString, message);
    QFETCH(int, bar);
    QFETCH(Colour, step4Colour);
    QFETCH(QString, lastFlash);
    QFETCH(QStringList, boxes);
    WindowUnderTest test;
    test.options.server.watchPeriodMsec = 100;
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    CONVERSE(*device, image, blocks(2));
    if (then == Then::DeviceLeaves)
        device->close();
    else if (then == Then::DownloadAgain)
        test.clickDownload();
    if (then != Then::DeviceLeaves)
        QVERIFY(device->closedByServer());
    QTRY_COMPARE(withoutTime(test.text("lastFlashLabel")), lastFlash);
    QCOMPARE(test.colours({"lastFlashLabel"}), QVector<Colour>(1, Colour::Red));
    QTRY_COMPARE(test.boxes, boxes);
    QCOMPARE(test.text("messageLabel"), message);
    QCOMPARE(test.bar(), bar);
    QCOMPARE(test.colours({"step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}), QVector<Colour>(3, step4Colour));
    // A new Download serves the next device; otherwise the image went with the flash.
    test.connectDevice()->send("updata");
    if (then == Then::DownloadAgain)
        QCOMPARE(test.devices.back()->take(4), lengthHeaderFor(5000));
    else
        QTRY_COMPARE(test.boxes, boxes + QStringList(kRefusal));
}

// One box at a time; connections replaced while it is open are freed meanwhile.
void WindowTest::askingBeforeDownloadOneBoxAtATime()
{
    WindowUnderTest test;
    test.start();
    TestDevice *asker = test.connectDevice();
    test.whileNextBoxIsOpen = [&] {
        TestDevice newcomer(QStringLiteral("127.0.0.1"), protocol::kPort);
        QVERIFY(asker->closedByServer());
        newcomer.send("updata");
#ifdef Q_OS_LINUX
        const int before = int(QDir(QStringLiteral("/proc/self/fd")).count());
#endif
        for (int wave = 0; wave < 12; ++wave) {
            std::vector<std::unique_ptr<TestDevice>> strangers;
            for (int i = 0; i < 50; ++i)
                strangers.push_back(std::make_unique<TestDevice>(QStringLiteral("127.0.0.1"), protocol::kPort));
        }
        // Accepted in turn: once the last is shown, all before it have been met.
        QTcpSocket last;
        last.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        last.connectToHost(QHostAddress::LocalHost, protocol::kPort);
        QTRY_COMPARE(test.text("clientIpLabel"), "127.0.0.2");
#ifdef Q_OS_LINUX
        QTRY_VERIFY(QDir(QStringLiteral("/proc/self/fd")).count() <= uint(before) + 2);
#endif
    };
    asker->send("updata");
    QTRY_COMPARE(test.boxes, QStringList(kRefusal));
    QCOMPARE(test.colours({"step2TextLabel1", "step2TextLabel2"}), QVector<Colour>(2, Colour::Red));
    QCOMPARE(test.text("lastFlashLabel"), "");
    // Requests are echoed only while an image is held.
    QCOMPARE(test.window()->findChild<QTextBrowser *>("clientInputBrowser")->toPlainText(), "");
}

void WindowTest::closingMidFlash_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("No keeps it, and the flash goes on") << QMessageBox::No;
    QTest::newRow("Yes closes it and ends the flash") << QMessageBox::Yes;
}

void WindowTest::closingMidFlash()
{
    QFETCH(QMessageBox::StandardButton, answer);
    WindowUnderTest test;
    test.options.logPath = test.folder.filePath("flash-log.csv");
    const QByteArray image = test.writeImage(5000);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    CONVERSE(*device, image, blocks(1));
    test.answer = answer;
    test.window()->close();
    QCOMPARE(test.window()->isVisible(), answer == QMessageBox::No);
    QCOMPARE(test.boxes.size(), 1);
    QVERIFY(test.boxes.first().startsWith("A device is being flashed."));
    QCOMPARE(test.questionDefaults, QList<QMessageBox::StandardButton>{QMessageBox::No});
    if (answer == QMessageBox::No) {
        CONVERSE(*device, image, {{"ok", block(1)}});
        return;
    }
    QVERIFY(device->closedByServer());
    QCOMPARE(readCsv(test.options.logPath).value(1).value(2), "window closed mid-flash");
}

// No image at all: the device is told 0 bytes, never part of an image.
void WindowTest::unusableImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
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
    QCOMPARE(test.colours({"step2TextLabel1", "step2TextLabel2", "imageLabel"}), QVector<Colour>(3, Colour::Red));
    QCOMPARE(test.text("imageLabel"), "Failed to read data: " + reason + " (" + QDir::toNativeSeparators(path) + ")");
    CONVERSE(*test.connectDevice(), QByteArray(), {{"updata", length()}});
}

void WindowTest::recordThatCannotBeWritten()
{
    WindowUnderTest test;
    test.options.logPath = test.folder.filePath("flash-log.csv");
    QVERIFY(QDir().mkpath(test.options.logPath));
    const QByteArray image = test.writeImage(100);
    test.start();
    test.clickDownload();
    TestDevice *device = test.connectDevice();
    CONVERSE(*device, image, blocks(1));
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

void WindowTest::portTakenThenFree()
{
    const QString box = QStringLiteral("Port 10013 is in use by another program, so the device cannot reach "
                                       "TcpServer. Close that program (it may be another TcpServer), then press "
                                       "Download.");
    WindowUnderTest test;
    const QByteArray image = test.writeImage(100);
    auto holder = std::make_unique<QTcpServer>();
    QVERIFY(holder->listen(QHostAddress::Any, protocol::kPort));
    test.start(WindowUnderTest::Listening::No);
    QTRY_COMPARE(test.text("messageLabel"), "Port 10013 is in use by another program.");
    QCOMPARE(test.colours({"messageLabel"}), QVector<Colour>(1, Colour::Red));
    test.clickDownload();
    QTRY_COMPARE(test.boxes, QStringList({box, box}));
    QCOMPARE(test.text("fileStatusEdit"), "");
    holder.reset();
    test.clickDownload(); // tries the port again, and loads the image once it listens
    QTRY_COMPARE(test.text("fileStatusEdit"), "Reading data is complete......");
    CONVERSE(*test.connectDevice(), image, blocks(1));
}

void WindowTest::closingOffersToGiveTheAdapterBack_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("changedSince"); // someone set another address after ModifyIP
    QTest::addColumn<bool>("givingBackWorks");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("noteKept");
    const QString question = QStringLiteral("ModifyIP gave the adapter Ethernet the address 192.168.0.92.\nGive it "
                                            "back its earlier settings now (10.1.2.3/24)?");
    QTest::newRow("Yes: given back") << QMessageBox::Yes << false << true
                                     << QStringList{question,
                                                    "The adapter Ethernet has its earlier settings again: "
                                                    "10.1.2.3/24."}
                                     << false;
    QTest::newRow("Yes, but it fails: said so, with what to do, and the note stays")
            << QMessageBox::Yes << false << false
            << QStringList{question,
                           "The adapter Ethernet could not be given back its earlier settings (10.1.2.3/24). " +
                                   restoreByHand("Ethernet")}
            << true;
    QTest::newRow("No: kept, and asked again next time")
            << QMessageBox::No << false << true << QStringList{question} << true;
    QTest::newRow("changed since by someone else: left alone")
            << QMessageBox::Yes << true << true << QStringList{} << false;
}

void WindowTest::closingOffersToGiveTheAdapterBack()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, changedSince);
    QFETCH(bool, givingBackWorks);
    QFETCH(QStringList, boxes);
    QFETCH(bool, noteKept);
    WindowUnderTest test({adapter("Ethernet", {"10.1.2.3"})});
    test.adapters.onChange = [&] { test.adapters.adapters.first().addresses << QHostAddress(kServerAddress); };
    test.adapters.onRestore = [&] {
        if (givingBackWorks)
            test.adapters.adapters.first().addresses.removeLast();
    };
    test.start(WindowUnderTest::Listening::No);
    test.clickModifyIp();
    if (changedSince)
        test.adapters.adapters.first().addresses = {QHostAddress("10.7.7.7")};
    test.answer = answer;
    test.window()->close();
    QCOMPARE(test.boxes, boxes);
    QCOMPARE(test.questionDefaults.size(), changedSince ? 0 : 1);
    QCOMPARE(test.questionDefaults.value(0, QMessageBox::Yes), QMessageBox::Yes);
    QCOMPARE(QFile::exists(test.options.notePath), noteKept);
    QCOMPARE(test.adapters.restored.size(), answer == QMessageBox::Yes && !changedSince ? 1 : 0);
}

// ModifyIP adds 192.168.0.92/24 beside the adapter's own address; closing, or
// --restore-address after a window that was killed, takes only that away.
void WindowTest::realAdapterChangedAndGivenBack()
{
    if (!inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a network namespace of its own");
    const QString name = QString::fromUtf8("以太网");
    for (const QStringList &arguments : {QStringList{"link", "add", name, "type", "veth", "peer", "name", "peer0"},
                                         {"link", "set", name, "up"},
                                         {"link", "set", "peer0", "up"},
                                         {"address", "add", "10.1.2.3/24", "dev", name},
                                         {"address", "add", "10.20.31.1/24", "dev", name},
                                         {"route", "add", "default", "via", "10.1.2.1"}})
        QCOMPARE(runProgram("ip", arguments), 0);
    QTemporaryDir data; // the user's data folder, for the window and for the program alike
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    for (const bool closed : {true, false}) {
        WindowUnderTest test;
        test.options.notePath = data.filePath("TcpServer/adapter-before-modifyip.txt");
        test.adapterSource = NetworkAdapters::system();
        const QByteArray image = test.writeImage(3000);
        test.start(WindowUnderTest::Listening::No);
        QCOMPARE(test.text("serverIpLabel"), "10.20.31.1");
        test.clickModifyIp();
        QCOMPARE(test.text("messageLabel"), "ServerIP modified successfully.");
        QCOMPARE(test.colours({"messageLabel", "haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}),
                 QVector<Colour>(4, Colour::Green));
        QCOMPARE(ipv4Of(name), QStringList({"10.1.2.3/24", "10.20.31.1/24", "192.168.0.92/24"}));
        QTRY_VERIFY(test.isListening()); // once the address is right
        test.clickDownload();
        CONVERSE(*test.connectDevice(QStringLiteral("192.168.0.92")), image, blocks(3));
        test.answer = QMessageBox::Yes;
        if (closed)
            test.window()->close();
        else
            QCOMPARE(runProgram(TCPSERVER_PROGRAM, {"--restore-address"}), 0);
        QCOMPARE(ipv4Of(name), QStringList({"10.1.2.3/24", "10.20.31.1/24"}));
        QCOMPARE(QString::fromUtf8(runOutput("ip", {"-4", "route", "show", "default"})).simplified(),
                 "default via 10.1.2.1 dev " + name);
    }
    QCOMPARE(QString::fromUtf8(runOutput(TCPSERVER_PROGRAM, {"--restore-address"})).trimmed(),
             "ModifyIP changed no adapter: there is nothing to give back.");
    runProgram("ip", {"link", "delete", name});
    qunsetenv("XDG_DATA_HOME");
}

// Where the screen has room, nothing scrolls and no text is cut.
void WindowTest::renderedWindowFitsAndCutsNoText()
{
    WindowUnderTest test; // no listed adapter: the hint lines make it widest
    ServerInterface &window = *test.start();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.screen()->availableGeometry().contains(window.frameGeometry()));
    window.layout()->activate();
    QCoreApplication::sendPostedEvents();
    const QSize room = window.screen()->availableGeometry().size() - (window.frameGeometry().size() - window.size());
    for (QScrollBar *bar : window.findChildren<QScrollBar *>()) {
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
    QCOMPARE(window.findChild<QProgressBar *>("progressBar")->width(), 350);
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

// On Xvfb (tests/on-display.sh): the usual place at 100 %, on screen at 200 %.
void WindowTest::placeOnRealDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("on a real X display only (tests/on-display.sh)");
    WindowUnderTest test({adapter("Ethernet", {"192.168.0.92"})});
    ServerInterface &window = *test.start();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const qreal scale = window.devicePixelRatioF();
    const QRect placed(window.geometry().topLeft() * scale, window.geometry().size() * scale);
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("1"))
        QCOMPARE(placed, QRect(350, 200, 1066, 568));
    QVERIFY(QRect(0, 0, 1920, 1080).contains(placed));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
