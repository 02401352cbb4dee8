// The fixtures and their rules, without a window: places, states, counts,
// serials and pausing, fed what the line reports.
#include "session/fixturemodel.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// One flash of a unit on a fixture, as the line reports it.
struct Flash
{
    QString fixture;
    QString mac; // empty: unknown
    TransferReport::Ending ending;
};
using Flashes = QList<Flash>;

Flash complete(const QString &fixture, const QString &mac = QString())
{
    return {fixture, mac, TransferReport::Complete};
}

Flash failed(const QString &fixture, const QString &mac = QString())
{
    return {fixture, mac, TransferReport::Stalled};
}

// The line's reports for each flash in turn, every one on the fixture's first place.
class Line
{
public:
    explicit Line(FixtureModel *model)
        : m_model(model)
    {
    }

    TransferReport flash(const Flash &flash, const QString &serial = QString())
    {
        const DeviceConnection device{++m_number, flash.fixture, QStringLiteral("192.168.0.50")};
        m_model->connected(device);
        if (!serial.isEmpty())
            m_model->scan(placeOf(flash.fixture), serial);
        m_model->began(device);
        TransferReport report;
        report.ending = flash.ending;
        report.connection = device;
        report.deviceMac = flash.mac;
        report.flashId = QUuid::createUuid();
        report.elapsedNs = 2500000000;
        m_model->ended(&report);
        m_model->left(device);
        return report;
    }

    int placeOf(const QString &fixture) const
    {
        for (int place = 0; place < m_model->rowCount(); ++place) {
            if (m_model->fixtureOfPlace(place) == fixture)
                return place;
        }
        return -1;
    }

private:
    FixtureModel *m_model;
    int m_number = 0;
};

FixtureModel::Options twoFixtures(int pauseAfter)
{
    FixtureModel::Options options;
    options.adapters = QStringList{"Ethernet", "Ethernet2"};
    options.pauseAfter = pauseAfter;
    options.stoppedResult = QStringLiteral("station stopped mid-flash");
    return options;
}

} // namespace

Q_DECLARE_METATYPE(Flashes)
Q_DECLARE_METATYPE(FixtureModel::Scan)
Q_DECLARE_METATYPE(FixtureModel::State)

class FixturesTest : public QObject
{
    Q_OBJECT

private slots:
    void failuresInARowPauseAFixture_data();
    void failuresInARowPauseAFixture();
    void aScanIsASerialOrRefused_data();
    void aScanIsASerialOrRefused();
    void theSerialGoesWithTheNextFlash();
    void countsAndFirstPassYield();
};

void FixturesTest::failuresInARowPauseAFixture_data()
{
    QTest::addColumn<Flashes>("flashes");
    QTest::addColumn<QStringList>("paused");
    QTest::addColumn<QString>("lastReason"); // on the place of the last flash
    const QString pause = QStringLiteral("3 different units failed in a row: check the cable and the fixture");
    QTest::newRow("three different units")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet", "b"), failed("Ethernet", "c")}
            << QStringList{"Ethernet"} << pause;
    QTest::newRow("no MAC known: three in a row")
            << Flashes{failed("Ethernet"), failed("Ethernet"), failed("Ethernet")} << QStringList{"Ethernet"} << pause;
    QTest::newRow("the same unit three times is the unit's fault")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet", "a"), failed("Ethernet", "a")} << QStringList{}
            << "stalled";
    QTest::newRow("a complete flash between starts the count again")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet", "b"), complete("Ethernet", "d"),
                       failed("Ethernet", "c")}
            << QStringList{} << "stalled";
    QTest::newRow("each fixture counts its own")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet2", "b"), failed("Ethernet", "c")} << QStringList{}
            << "stalled";
    QTest::newRow("a unit that failed on another fixture counts for neither")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet", "b"), failed("Ethernet2", "b"),
                       failed("Ethernet2", "c"), failed("Ethernet2", "d")}
            << QStringList{} << "stalled";
    QTest::newRow("the unit's own fault is said") << Flashes{failed("Ethernet", "a"), failed("Ethernet2", "a")}
                                                  << QStringList{} << "this unit also failed on Ethernet";
    QTest::newRow("the program stopping a flash is no one's fault")
            << Flashes{failed("Ethernet", "a"), failed("Ethernet", "b"), {"Ethernet", "c", TransferReport::Stopped}}
            << QStringList{} << "station stopped mid-flash";
}

void FixturesTest::failuresInARowPauseAFixture()
{
    QFETCH(Flashes, flashes);
    QFETCH(QStringList, paused);
    QFETCH(QString, lastReason);
    FixtureModel model(twoFixtures(3));
    QSignalSpy pausing(&model, &FixtureModel::fixturePaused);
    Line line(&model);
    for (const Flash &flash : qAsConst(flashes))
        line.flash(flash);
    QCOMPARE(model.pausedFixtures(), paused);
    QCOMPARE(pausing.size(), int(paused.size()));
    const int place = line.placeOf(flashes.last().fixture);
    QCOMPARE(model.data(model.index(place), FixtureModel::ReasonRole).toString(), lastReason);
    for (const QString &fixture : qAsConst(paused))
        QCOMPARE(model.data(model.index(line.placeOf(fixture)), FixtureModel::StateRole).value<FixtureModel::State>(),
                 FixtureModel::State::Paused);
}

void FixturesTest::aScanIsASerialOrRefused_data()
{
    QTest::addColumn<QString>("scan");
    QTest::addColumn<FixtureModel::Scan>("verdict");
    QTest::newRow("64 characters") << QString(64, 'x') << FixtureModel::Scan::Taken;
    QTest::newRow("nothing, Enter alone") << "" << FixtureModel::Scan::NotASerial;
    QTest::newRow("65 characters") << QString(65, 'x') << FixtureModel::Scan::NotASerial;
    QTest::newRow("a control character") << "SN\x01" << FixtureModel::Scan::NotASerial;
    QTest::newRow("a byte that was no UTF-8")
            << QString("SN") + QChar(QChar::ReplacementCharacter) << FixtureModel::Scan::NotASerial;
    QTest::newRow("a unit flashed whole already") << "SN-DONE" << FixtureModel::Scan::AlreadyComplete;
}

void FixturesTest::aScanIsASerialOrRefused()
{
    QFETCH(QString, scan);
    QFETCH(FixtureModel::Scan, verdict);
    FixtureModel model(twoFixtures(0));
    Line line(&model);
    line.flash(complete("Ethernet2", "a"), "SN-DONE");
    QCOMPARE(model.scan(0, scan), verdict);
    QCOMPARE(model.serialOf(0), verdict == FixtureModel::Scan::Taken ? scan : QString());
}

// The serial scanned for a place goes with the next flash that begins there,
// and only with it; a place that is flashing takes none.
void FixturesTest::theSerialGoesWithTheNextFlash()
{
    FixtureModel model(twoFixtures(0));
    const DeviceConnection device{1, "Ethernet", "192.168.0.50"};
    QCOMPARE(model.scan(0, "SN-1"), FixtureModel::Scan::Taken);
    model.connected(device);
    model.began(device);
    QCOMPARE(model.data(model.index(0), FixtureModel::SerialRole).toString(), "SN-1");
    QCOMPARE(model.scan(0, "SN-2"), FixtureModel::Scan::Flashing);
    TransferReport report;
    report.ending = TransferReport::Complete;
    report.connection = device;
    model.ended(&report);
    QCOMPARE(report.serial, "SN-1");
    QCOMPARE(model.serialOf(0), QString());
    TransferReport next;
    next.ending = TransferReport::Complete;
    next.connection = {2, "Ethernet", "192.168.0.50"};
    model.connected(next.connection);
    model.began(next.connection);
    model.ended(&next);
    QCOMPARE(next.serial, QString());
}

// Flashed, complete, failed; first-pass yield by unit (its MAC, else each flash).
void FixturesTest::countsAndFirstPassYield()
{
    FixtureModel model(twoFixtures(0));
    Line line(&model);
    for (const Flash &flash : {complete("Ethernet", "a"), failed("Ethernet", "b"), complete("Ethernet2", "b"),
                               complete("Ethernet", "a"), failed("Ethernet2"), complete("Ethernet2")})
        line.flash(flash);
    const FixtureModel::Counts counts = model.counts();
    QCOMPARE(counts.flashed, 6);
    QCOMPARE(counts.complete, 4);
    QCOMPARE(counts.failed, 2);
    QCOMPARE(counts.units, 4); // a, b, and two without a MAC
    QCOMPARE(counts.firstPass, 2); // a, and the last one
    QCOMPARE(model.countsOf("Ethernet2").failed, 1);
}

QTEST_GUILESS_MAIN(FixturesTest)
#include "tst_fixtures.moc"
