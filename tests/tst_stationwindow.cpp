// The station window as the line sees it: tiles, their colours and what a
// screen reader says of them, a scanner's serials, a paused fixture resumed.
#include "support/station.h"
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

// The station window with four places on a switch.
struct StationWindowUnderTest : StationUnderTest
{
    explicit StationWindowUnderTest(int places = 4)
    {
        options.logPath.clear();
        options.devices = places;
        options.watchPeriodMsec = 300;
        options.pauseAfter = 3;
    }

    bool start()
    {
        make();
        window = std::make_unique<StationWindow>(station.get());
        window->show();
        window->activateWindow(); // where no window manager would
        return serve() && QTest::qWaitForWindowActive(window.get());
    }

    FixtureTile *tile(int place) const { return window->tiles().value(place); }
    // An emulated device that expects the image, with these options.
    QProcess *device(const QStringList &arguments)
    {
        return StationUnderTest::device(QStringList{"--expect", "IMAGE"} + arguments);
    }

    // The tile's background, where no label covers it.
    static QString background(FixtureTile *tile)
    {
        const QImage image = tile->grab().toImage(); // in the display's own pixels
        return image.pixelColor(image.width() - 8, image.height() - 8).name();
    }

    std::unique_ptr<StationWindow> window;
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
    void aFixtureThatFailsIsPausedUntilResumed_data();
    void aFixtureThatFailsIsPausedUntilResumed();
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
    QTest::keyClicks(test.tile(1), "77"); // half a scan, forgotten once the focus leaves
    test.tile(3)->setFocus(); // a click or Tab moves it
    scan(test.tile(3), "SN-0004");
    QCOMPARE(test.window->statusBar()->currentMessage(), "Place 4 takes the serial SN-0004 for its next flash");
    QCOMPARE(QApplication::focusWidget(), test.tile(1)); // past the first, which has one
    scan(test.tile(1), "SN-0002");
    QVERIFY(test.tile(1)->accessibleDescription().contains("; serial SN-0002;"));
    scan(test.tile(2), QString(10000, '7'));
    QCOMPARE(test.window->statusBar()->currentMessage(),
             "Scan refused on Place 3: not a serial: a serial is 1 to 64 printable characters");
    QCOMPARE(QApplication::focusWidget(), test.tile(2));
    // The next flash on the first place is this unit: flashed with it, then it is cleared.
    QProcess *device = test.device({"--delay", "10"});
    QTRY_VERIFY(test.tile(0)->accessibleDescription().startsWith("flashing "));
    QVERIFY(test.tile(0)->accessibleDescription().contains("; serial SN-0001;"));
    QCOMPARE(StationWindowUnderTest::ended(device), 0);
    QTRY_VERIFY(test.tile(0)->accessibleDescription().contains("; serial: scan one;"));
    QVERIFY(test.tile(3)->accessibleDescription().contains("; serial SN-0004;"));
}

void StationWindowTest::aFixtureThatFailsIsPausedUntilResumed_data()
{
    QTest::addColumn<bool>("byKey"); // R on the focused tile, or its Resume button
    QTest::newRow("Resume") << false;
    QTest::newRow("the R key") << true;
}

// On a switch the station is one fixture: three units failing in a row (their
// MACs unknown on this PC's own loopback) pause it all, and keep devices out,
// the one that waits there already too.
void StationWindowTest::aFixtureThatFailsIsPausedUntilResumed()
{
    QFETCH(bool, byKey);
    StationWindowUnderTest test;
    QVERIFY(test.start());
    TestDevice waiting(QStringLiteral("127.0.0.1"), test.station->serverPort());
    for (int unit = 0; unit < 3; ++unit)
        QCOMPARE(StationWindowUnderTest::ended(test.device({"--disconnect-after", "2"})), 3);
    QVERIFY(waiting.closedByServer());
    const QString paused = "paused: 3 different units failed in a row: check the cable and the fixture";
    for (int place = 0; place < 4; ++place) {
        QTRY_VERIFY2(test.tile(place)->accessibleDescription().startsWith(paused),
                     qPrintable(test.tile(place)->accessibleDescription()));
        QCOMPARE(StationWindowUnderTest::background(test.tile(place)), "#ffb74d");
    }
    QVERIFY(StationWindowUnderTest::ended(test.device({})) != 0); // closed at once, and no flash
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
    QTRY_COMPARE(test.window->findChild<QLabel *>("countsLabel")->text(),
                 "Flashed 4 · complete 1 · failed 3 · first-pass yield 25.0 %");
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
