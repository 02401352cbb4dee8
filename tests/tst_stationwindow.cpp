// The station window as the line sees it: tiles, their colours and what a
// screen reader says of them, a scanner's serials, a paused fixture resumed.
#include "support/fakeadapters.h"
#include "support/testing.h"

#include "session/flashsession.h"
#include "station/station.h"
#include "stationwindow/fixturetile.h"
#include "stationwindow/stationwindow.h"
#include "window/application.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The station window on a free port, with four places on a switch; its image
// in a folder of the test's own.
struct StationWindowUnderTest
{
    explicit StationWindowUnderTest(int places = 4)
        : image(folder.filePath("image.bin"))
    {
        writeFile(image, pattern(70000, 9));
        options.imagePath = image;
        options.port = 0;
        options.devices = places;
        options.watchPeriodMsec = 300;
        options.pauseAfter = 3;
    }

    ~StationWindowUnderTest()
    {
        for (const auto &device : devices) {
            device->kill();
            device->waitForFinished();
        }
    }

    bool start()
    {
        station = std::make_unique<Station>(options, &adapters);
        window = std::make_unique<StationWindow>(station.get());
        window->show();
        window->activateWindow(); // where no window manager would
        return station->start() && QTest::qWaitFor([this] { return station->serverPort() != 0; }) &&
                QTest::qWaitForWindowActive(window.get());
    }

    FixtureTile *tile(int place) const { return window->tiles().value(place); }

    // An emulated device with these options; its exit status once it ends.
    QProcess *device(const QStringList &arguments)
    {
        devices.push_back(std::make_unique<QProcess>());
        devices.back()->start(
                DEVICE_EMULATOR,
                QStringList{"--port", QString::number(station->serverPort()), "--quiet", "--expect", image} +
                        arguments);
        return devices.back().get();
    }
    static int ended(QProcess *device)
    {
        return QTest::qWaitFor([device] { return device->state() == QProcess::NotRunning; }, 20000) ? device->exitCode()
                                                                                                    : -1;
    }

    // The tile's background, where no label covers it.
    static QString background(FixtureTile *tile)
    {
        const QImage image = tile->grab().toImage(); // in the display's own pixels
        return image.pixelColor(image.width() - 8, image.height() - 8).name();
    }

    QTemporaryDir folder;
    QString image;
    Station::Options options;
    FakeAdapters adapters; // none wired: the station serves on every address
    std::unique_ptr<Station> station;
    std::unique_ptr<StationWindow> window;
    std::vector<std::unique_ptr<QProcess>> devices;
};

void scan(FixtureTile *tile, const QString &serial)
{
    QTest::keyClicks(tile, serial);
    QTest::keyClick(tile, Qt::Key_Return);
}

} // namespace

class StationWindowTest : public QObject
{
    Q_OBJECT

public:
    static void initMain() { prepareApplication(); }

private slots:
    void initTestCase() { applicationStarted(); }
    void aTileShowsItsPlace();
    void aScanGoesToTheFocusedTileAndOn();
    void aScanThatCannotBeTakenIsSaid_data();
    void aScanThatCannotBeTakenIsSaid();
    void aFixtureThatFailsIsPausedUntilResumed_data();
    void aFixtureThatFailsIsPausedUntilResumed();
    void fourDevicesAtOnce();
    void sixteenTilesFitTheLine();
};

void StationWindowTest::aTileShowsItsPlace()
{
    StationWindowUnderTest test;
    QVERIFY(test.start());
    QCOMPARE(test.window->windowTitle(), "TcpServer Station");
    QCOMPARE(test.window->tiles().size(), 4);
    FixtureTile *first = test.tile(0);
    QCOMPARE(first->accessibleName(), "Place 1");
    QVERIFY2(first->accessibleDescription().startsWith("waiting; no device yet; serial: scan one; no flash yet"),
             qPrintable(first->accessibleDescription()));
    QCOMPARE(StationWindowUnderTest::background(first), "#d9d9d9");
    QProcess *device = test.device({"--delay", "10"});
    QTRY_VERIFY(first->accessibleDescription().startsWith("flashing "));
    QCOMPARE(StationWindowUnderTest::background(first), "#9cc3ff");
    QCOMPARE(StationWindowUnderTest::ended(device), 0);
    QTRY_VERIFY2(first->accessibleDescription().startsWith("complete; device 127.0.0.1; serial: scan one; last "),
                 qPrintable(first->accessibleDescription()));
    QVERIFY(first->accessibleDescription().endsWith(" · 1 complete, 0 failed"));
    QCOMPARE(StationWindowUnderTest::background(first), "#8fd694");
    const QString header = test.window->findChild<QLabel *>("imageLabel")->text();
    QVERIFY2(header.startsWith("image.bin · 70000 bytes · SHA-256 "), qPrintable(header));
    QTRY_COMPARE(test.window->findChild<QLabel *>("countsLabel")->text(),
                 "Flashed 1 · complete 1 · failed 0 · first-pass yield 100.0 %");
    // Another device fails there; the tile tells why, in red.
    QCOMPARE(StationWindowUnderTest::ended(test.device({"--disconnect-after", "3"})), 3);
    QTRY_VERIFY2(first->accessibleDescription().startsWith("failed: device closed early; device 127.0.0.1"),
                 qPrintable(first->accessibleDescription()));
    QCOMPARE(StationWindowUnderTest::background(first), "#f28b82");
    QVERIFY(test.tile(1)->accessibleDescription().startsWith("waiting"));
}

// A scanner types into the tile with the focus and ends with Enter; the focus
// moves on to the next tile without a serial.
void StationWindowTest::aScanGoesToTheFocusedTileAndOn()
{
    StationWindowUnderTest test;
    QVERIFY(test.start());
    QCOMPARE(QApplication::focusWidget(), test.tile(0));
    scan(test.tile(0), "SN-0001");
    QCOMPARE(QApplication::focusWidget(), test.tile(1));
    QVERIFY(test.tile(0)->accessibleDescription().contains("; serial SN-0001;"));
    test.tile(2)->setFocus(); // a click or Tab moves it
    scan(test.tile(2), "SN-0003");
    QCOMPARE(QApplication::focusWidget(), test.tile(3));
    QCOMPARE(test.window->statusBar()->currentMessage(), "Place 3 takes the serial SN-0003 for its next flash");
    // The next flash on the first place is this unit: flashed with it, then it is cleared.
    QProcess *device = test.device({"--delay", "10"});
    QTRY_VERIFY(test.tile(0)->accessibleDescription().startsWith("flashing "));
    QVERIFY(test.tile(0)->accessibleDescription().contains("; serial SN-0001;"));
    QCOMPARE(StationWindowUnderTest::ended(device), 0);
    QTRY_VERIFY(test.tile(0)->accessibleDescription().contains("; serial: scan one;"));
    QVERIFY(test.tile(2)->accessibleDescription().contains("; serial SN-0003;"));
}

void StationWindowTest::aScanThatCannotBeTakenIsSaid_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("flashedFirst"); // that serial, whole, on that place
    QTest::addColumn<QString>("said");
    QTest::newRow("10,000 characters") << QString(10000, '7') << false
                                       << "not a serial: a serial is 1 to 64 printable characters";
    QTest::newRow("a unit flashed whole already")
            << "SN-0001" << true << "the unit SN-0001 was flashed whole already this session";
}

void StationWindowTest::aScanThatCannotBeTakenIsSaid()
{
    QFETCH(QString, serial);
    QFETCH(bool, flashedFirst);
    QFETCH(QString, said);
    StationWindowUnderTest test;
    QVERIFY(test.start());
    if (flashedFirst) {
        scan(test.tile(0), serial);
        QCOMPARE(StationWindowUnderTest::ended(test.device({})), 0);
        QTRY_VERIFY(test.tile(0)->accessibleDescription().startsWith("complete"));
        test.tile(0)->setFocus();
    }
    scan(test.tile(0), serial);
    QCOMPARE(test.window->statusBar()->currentMessage(), "Scan refused on Place 1: " + said);
    QCOMPARE(QApplication::focusWidget(), test.tile(0));
    QVERIFY(test.tile(0)->accessibleDescription().contains("; serial: scan one;"));
}

void StationWindowTest::aFixtureThatFailsIsPausedUntilResumed_data()
{
    QTest::addColumn<bool>("byKey"); // R on the focused tile, or its Resume button
    QTest::newRow("Resume") << false;
    QTest::newRow("the R key") << true;
}

// On a switch the station is one fixture: three units failing in a row (their
// MACs unknown on this PC's own loopback) pause it all, and keep devices out.
void StationWindowTest::aFixtureThatFailsIsPausedUntilResumed()
{
    QFETCH(bool, byKey);
    StationWindowUnderTest test;
    QVERIFY(test.start());
    for (int unit = 0; unit < 3; ++unit)
        QCOMPARE(StationWindowUnderTest::ended(test.device({"--disconnect-after", "2"})), 3);
    const QString paused = "paused: 3 different units failed in a row: check the cable and the fixture";
    for (int place = 0; place < 4; ++place) {
        QTRY_VERIFY2(test.tile(place)->accessibleDescription().startsWith(paused),
                     qPrintable(test.tile(place)->accessibleDescription()));
        QCOMPARE(StationWindowUnderTest::background(test.tile(place)), "#ffb74d");
    }
    QVERIFY(StationWindowUnderTest::ended(test.device({})) != 0); // closed at once
    auto *resume = test.tile(1)->findChild<QPushButton *>();
    QVERIFY(resume->isVisible());
    if (byKey) {
        test.tile(1)->setFocus();
        QTest::keyClick(test.tile(1), Qt::Key_R);
    } else {
        QTest::mouseClick(resume, Qt::LeftButton);
    }
    QTRY_VERIFY(test.tile(3)->accessibleDescription().startsWith("waiting"));
    QVERIFY(!resume->isVisible());
    QCOMPARE(StationWindowUnderTest::ended(test.device({})), 0);
}

// Four devices of their own addresses at once, each on a tile of its own.
void StationWindowTest::fourDevicesAtOnce()
{
    StationWindowUnderTest test;
    QVERIFY(test.start());
    QList<QProcess *> devices;
    for (const char *from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"})
        devices << test.device({"--delay", "10", "--from", from});
    auto flashing = [&] {
        int count = 0;
        for (FixtureTile *tile : test.window->tiles())
            count += tile->accessibleDescription().startsWith("flashing") ? 1 : 0;
        return count;
    };
    QTRY_COMPARE(flashing(), 4);
    QStringList shown;
    for (QProcess *device : qAsConst(devices))
        QCOMPARE(StationWindowUnderTest::ended(device), 0);
    for (FixtureTile *tile : test.window->tiles()) {
        QTRY_VERIFY(tile->accessibleDescription().startsWith("complete"));
        shown << tile->accessibleDescription().section(';', 1, 1);
        QCOMPARE(StationWindowUnderTest::background(tile), "#8fd694");
    }
    shown.sort();
    QCOMPARE(shown, QStringList({" device 127.0.0.2", " device 127.0.0.3", " device 127.0.0.4", " device 127.0.0.5"}));
}

// Sixteen places fit a 1366 × 768 screen without scrolling (tests/on-display.sh);
// elsewhere the window stays on its screen, and what does not fit scrolls.
void StationWindowTest::sixteenTilesFitTheLine()
{
    StationWindowUnderTest test(16);
    QVERIFY(test.start());
    QVERIFY(QTest::qWaitForWindowExposed(test.window.get()));
    const QRect screen = test.window->screen()->availableGeometry();
    QVERIFY(screen.contains(test.window->frameGeometry()));
    const bool roomy = screen.width() >= 1366 && screen.height() >= 728 && test.window->devicePixelRatioF() <= 1.0;
    if (QGuiApplication::platformName() == QLatin1String("xcb") && roomy) {
        for (QScrollBar *bar : test.window->findChildren<QScrollBar *>())
            QVERIFY2(!bar->isVisible(), "the sixteen tiles scroll on a screen that has room for them");
    }
    for (FixtureTile *tile : test.window->tiles())
        QVERIFY2(tile->width() > tile->fontMetrics().horizontalAdvance("flashing 100 %"), "a tile too narrow to read");
}

QTEST_MAIN(StationWindowTest)
#include "tst_stationwindow.moc"
