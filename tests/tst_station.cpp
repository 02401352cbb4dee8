// The station in this process on a free port, and as the program where
// signals and pipes are the point.
#include "support/csv.h"
#include "support/fakeadapters.h"
#include "support/testing.h"

#include "station/station.h"
#include "station/stationoutput.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A station on a free port; its image, its record and what it prints in a
// folder of the test's own.
struct StationUnderTest
{
    explicit StationUnderTest(int imageSize = 70000)
        : image(folder.filePath("image.bin"))
        , outFile(std::fopen(qPrintable(folder.filePath("out.txt")), "w"))
        , errFile(std::fopen(qPrintable(folder.filePath("err.txt")), "w"))
    {
        writeFile(image, pattern(imageSize, 5));
        options.imagePath = image;
        options.logPath = folder.filePath("flash-log.csv");
        options.port = 0;
        options.watchPeriodMsec = 200;
    }

    ~StationUnderTest()
    {
        for (const auto &device : devices) {
            device->kill();
            device->waitForFinished();
        }
        station.reset();
        out.reset();
        err.reset();
        // Closed, so that the folder can go (Windows keeps open files).
        std::fclose(outFile);
        std::fclose(errFile);
    }

    bool start(FILE *output = nullptr, bool live = false)
    {
        out.reset(new StationOutput(output ? output : outFile, live, "(progress lines were left out)"));
        err.reset(new StationOutput(errFile, false, QString()));
        station.reset(new Station(options, &adapters, out.get(), err.get()));
        finished.reset(new QSignalSpy(station.get(), &Station::finished));
        return station->start();
    }

    QString printed(const char *file = "out.txt") const
    {
        QFile printed(folder.filePath(file));
        printed.open(QIODevice::ReadOnly);
        return QString::fromUtf8(printed.readAll());
    }

    // An emulated device with these options; IMAGE stands for the image.
    void device(QStringList arguments)
    {
        devices.push_back(std::make_unique<QProcess>());
        devices.back()->start(DEVICE_EMULATOR,
                              QStringList{"--port", QString::number(station->serverPort()), "--quiet"} +
                                      arguments.replaceInStrings("IMAGE", image));
    }

    QList<int> devicesEnded()
    {
        QList<int> statuses;
        for (const auto &device : devices) {
            waitFor([&] { return device->state() == QProcess::NotRunning; }, 30000);
            statuses << device->exitCode();
        }
        return statuses;
    }

    int status() // once the station has finished
    {
        if (!waitFor([&] { return !finished->isEmpty(); }, 15000))
            return -1;
        out->finish(QDeadlineTimer(2000));
        err->finish(QDeadlineTimer(2000));
        return finished->first().first().toInt();
    }

    QTemporaryDir folder;
    QString image;
    Station::Options options;
    FakeAdapters adapters; // none of them wired: the station serves on every address
    FILE *outFile;
    FILE *errFile;
    std::unique_ptr<StationOutput> out;
    std::unique_ptr<StationOutput> err;
    std::unique_ptr<Station> station;
    std::unique_ptr<QSignalSpy> finished;
    std::vector<std::unique_ptr<QProcess>> devices;
};

#ifdef Q_OS_UNIX
// A pipe whose reader never reads, full: the next write waits.
void fillPipe(int ends[2], qint64 *filled)
{
    QCOMPARE(::pipe(ends), 0);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const QByteArray filler(4096, 'x');
    for (ssize_t wrote = 1; wrote > 0; *filled += qMax<ssize_t>(wrote, 0))
        wrote = ::write(ends[1], filler.constData(), size_t(filler.size()));
    fcntl(ends[1], F_SETFL, 0);
}

QByteArray readUntil(int reader, const QByteArray &until)
{
    QByteArray read;
    QByteArray chunk(65536, '\0');
    fcntl(reader, F_SETFL, O_NONBLOCK);
    waitFor([&] {
        const ssize_t got = ::read(reader, chunk.data(), size_t(chunk.size()));
        read += chunk.left(int(qMax<ssize_t>(got, 0)));
        return read.contains(until);
    });
    return read;
}
#endif

} // namespace

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void severalDevicesAtOnce();
    void turnedAwayAtMostOnceASecond();
    void adaptersCheckedAtStart_data();
    void adaptersCheckedAtStart();
    void outputThatIsHeldUpHoldsNothingUp_data();
    void outputThatIsHeldUpHoldsNothingUp();
    void progressLinesAreLeftOutWhileHeldUp();
    void recordThatCannotBeWrittenFailsTheStation();
    void theProgram_data();
    void theProgram();
};

// Five at once, told in --json lines: the others are flashed byte-exact,
// untouched by those that misbehave.
void StationTest::severalDevicesAtOnce()
{
    StationUnderTest test;
    test.options.devices = 5;
    test.options.count = 3;
    test.options.json = true;
    QVERIFY(test.start());
    // 69 blocks at 4 ms or more each: the 200 ms watch looks at every whole flash at least once.
    const QStringList whole{"--expect", "IMAGE", "--delay", "4"};
    test.device(whole);
    test.device({"--stop-after", "3", "--hold", "3000"});
    test.device({"--disconnect-after", "2"});
    test.device(QStringList{"--send", "junk\\x01\\n"} + whole);
    test.device(whole);
    QCOMPARE(test.devicesEnded(), QList<int>({0, 3, 3, 0, 0}));
    QCOMPARE(test.status(), 1);
    QMap<QString, QList<QJsonObject>> events;
    for (const QString &line : test.printed().split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(!event.isEmpty(), qPrintable(line));
        events[event.value("event").toString()] << event;
    }
    QStringList results;
    for (const QJsonObject &end : events.value("end")) {
        results << end.value("result").toString();
        if (results.last() == "complete") {
            QCOMPARE(end.value("image_sha256"), events.value("start").value(0).value("sha256"));
            QCOMPARE(end.value("bytes_sent").toInt(), 70000);
        }
    }
    results.sort();
    QCOMPARE(results, QStringList({"complete", "complete", "complete", "device-closed", "stalled"}));
    QVERIFY(events.value("progress").size() >= 3);
    QCOMPARE(events.value("summary").value(0).value("complete").toInt(), 3);
    QCOMPARE(readCsv(test.options.logPath).size(), 6);
}

void StationTest::turnedAwayAtMostOnceASecond()
{
    StationUnderTest test;
    test.options.count = 1;
    QVERIFY(test.start());
    TestDevice device(QStringLiteral("127.0.0.1"), test.station->serverPort());
    const QByteArray image = pattern(70000, 5);
    converse(device, image, {{"updata", length()}});
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i)
        QVERIFY(TestDevice(QStringLiteral("127.0.0.1"), test.station->serverPort()).closedByServer());
    const qint64 seconds = clock.elapsed() / 1000;
    for (int index = 0; index < 69; ++index)
        converse(device, image, {{"ok", block(index)}});
    device.close();
    QCOMPARE(test.status(), 0);
    // Every one of them counted, in a line a second at most.
    int told = 0;
    const QStringList lines = test.printed().split('\n').filter("turned away");
    for (const QString &line : lines)
        told += line.startsWith("127.0.0.1") ? 1 : line.section(' ', 0, 0).toInt();
    QCOMPARE(told, 50);
    QVERIFY2(lines.size() <= 2 + seconds, qPrintable(lines.join('\n')));
}

void StationTest::adaptersCheckedAtStart_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("error");
    QTest::newRow("a loopback") << "lo"
                                << "error: lo is a loopback interface: no device is ever behind it";
    QTest::newRow("without 192.168.0.92")
            << "Ethernet"
            << "error: the adapter Ethernet does not hold 192.168.0.92, so its device would not find this PC";
}

void StationTest::adaptersCheckedAtStart()
{
    QFETCH(QString, adapter);
    QFETCH(QString, error);
    StationUnderTest test;
    NetworkAdapter loopback = ::adapter("lo", {kServerAddress});
    loopback.loopback = true;
    test.adapters.adapters = {loopback, ::adapter("Ethernet", {"10.1.1.1"})};
    test.options.adapters = QStringList(adapter);
    QVERIFY(!test.start());
    test.err->finish(QDeadlineTimer(2000));
    QVERIFY2(test.printed("err.txt").startsWith(error), qPrintable(test.printed("err.txt")));
    QVERIFY(!QFile::exists(test.options.logPath));
}

void StationTest::outputThatIsHeldUpHoldsNothingUp_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("a terminal paused with Ctrl+S") << true;
    QTest::newRow("a pipe whose reader stopped") << false;
}

void StationTest::outputThatIsHeldUpHoldsNothingUp()
{
#ifndef Q_OS_LINUX
    QSKIP("a pseudo-terminal and a full pipe, as Linux has them");
#else
    QFETCH(bool, terminal);
    int ends[2];
    qint64 filled = 0;
    if (terminal) {
        QCOMPARE(openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr), 0);
        QCOMPARE(::write(ends[0], "\x13", 1), ssize_t(1)); // Ctrl+S
    } else {
        fillPipe(ends, &filled);
    }
    FILE *stream = fdopen(ends[1], "w");
    {
        StationUnderTest test(4 * 1024 * 1024);
        test.options.count = 2;
        QVERIFY(test.start(stream, terminal));
        test.device({"--expect", "IMAGE"});
        QCOMPARE(test.devicesEnded(), QList<int>{0});
        test.device({"--expect", "IMAGE"});
        QCOMPARE(test.devicesEnded(), QList<int>({0, 0}));
        QVERIFY(waitFor([&] { return !test.finished->isEmpty(); }));
        if (terminal) // moving again
            QCOMPARE(::write(ends[0], "\x11", 1), ssize_t(1));
        const QByteArray shown = readUntil(ends[0], "2 flashes began: 2 complete, 0 not.");
        QVERIFY2(shown.contains("flash 2: lo 127.0.0.1, complete"), shown.right(600).constData());
    }
    std::fclose(stream);
    ::close(ends[0]);
#endif
}

void StationTest::progressLinesAreLeftOutWhileHeldUp()
{
#ifndef Q_OS_UNIX
    QSKIP("a full pipe, as Unix has it");
#else
    int ends[2];
    qint64 filled = 0;
    fillPipe(ends, &filled);
    FILE *stream = fdopen(ends[1], "w");
    StationOutput output(stream, false, QStringLiteral("(left out)"));
    for (int i = 0; i < 500; ++i) {
        output.progressLine(QStringLiteral("progress %1").arg(i));
        if (i % 100 == 0)
            output.line(QStringLiteral("kept %1").arg(i));
    }
    const QByteArray shown = readUntil(ends[0], "(left out)\n");
    QVERIFY(output.finish(QDeadlineTimer(2000)));
    std::fclose(stream);
    ::close(ends[0]);
    const QStringList lines = QString::fromUtf8(shown.mid(int(filled))).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter("kept").join(' '), "kept 0 kept 100 kept 200 kept 300 kept 400");
    QCOMPARE(lines.count("(left out)"), 1);
    QVERIFY(lines.filter("progress").size() < 500);
#endif
}

// A flash without its evidence is no complete success on a line.
void StationTest::recordThatCannotBeWrittenFailsTheStation()
{
    StationUnderTest test;
    test.options.count = 1;
#ifdef Q_OS_UNIX
    QCOMPARE(mkfifo(QFile::encodeName(test.options.logPath).constData(), 0600), 0); // never waited for
#else
    QVERIFY(QDir().mkpath(test.options.logPath));
#endif
    QVERIFY(test.start());
    test.device({"--expect", "IMAGE"});
    QCOMPARE(test.devicesEnded(), QList<int>{0});
    QCOMPARE(test.status(), 1);
    QVERIFY2(test.printed("err.txt").contains("error: 1 row of the flash record " +
                                              QDir::toNativeSeparators(test.options.logPath) +
                                              " could not be written: "),
             qPrintable(test.printed("err.txt")));
}

void StationTest::theProgram_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("stage"); // what happens around it
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("--devices 0") << QStringList{"--devices", "0"} << "" << 2
                                 << "error: --devices takes a whole number of 1 or more (see --help)";
    QTest::newRow("the reader leaves at once: | head -1") << QStringList{"--count", "1"} << "reader leaves" << 0 << "";
    QTest::newRow("the terminal closes mid-flash (SIGHUP)") << QStringList{} << "hang-up" << 1 << "";
    QTest::newRow("no home folder for the record") << QStringList{} << "no home" << 1
                                                   << "error: this user has no home folder (HOME is not set), so the "
                                                      "flash record has no place; give --log FILE or --no-log";
}

void StationTest::theProgram()
{
#ifndef Q_OS_UNIX
    QSKIP("pipes and signals as Unix has them");
#else
    QFETCH(QStringList, arguments);
    QFETCH(QString, stage);
    QFETCH(int, status);
    QFETCH(QString, says);
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    QVERIFY(writeFile(image, pattern(1024 * 1024, 3)));
    QProcess station;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder.path());
    if (stage == "no home")
        environment.remove("HOME");
    else
        arguments << "--log" << folder.filePath("log.csv");
    station.setProcessEnvironment(environment);
    arguments << "--image" << image;
    if (stage == "reader leaves") // the station's own status, whatever head's
        station.start("bash",
                      QStringList{"-c", "set -o pipefail; \"$0\" \"$@\" | head -1", STATION_PROGRAM} + arguments);
    else
        station.start(STATION_PROGRAM, arguments);
    if (stage == "reader leaves" || stage == "hang-up") {
        // Seen without binding the port, which the station may be about to do.
        QVERIFY(waitFor([] { return !runOutput("ss", {"-Hltn", "sport = :10013"}).isEmpty(); }));
        QProcess device;
        device.start(DEVICE_EMULATOR, {"--expect", image, "--delay", stage == "hang-up" ? "1" : "0"});
        if (stage == "hang-up") {
            QByteArray said;
            QVERIFY(waitFor([&] { return (said += station.readAllStandardOutput()).contains(": 10 %"); }));
            ::kill(pid_t(station.processId()), SIGHUP);
        }
        QVERIFY(waitFor([&] { return device.state() == QProcess::NotRunning; }, 20000));
    }
    QVERIFY(waitFor([&] { return station.state() == QProcess::NotRunning; }, 20000));
    QCOMPARE(station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(station.exitCode(), status);
    QCOMPARE(QString::fromUtf8(station.readAllStandardError()).trimmed(), says);
    if (stage == "hang-up")
        QCOMPARE(readCsv(folder.filePath("log.csv")).value(1).value(2), "station stopped mid-flash");
#endif
}

QTEST_GUILESS_MAIN(StationTest)
#include "tst_station.moc"
