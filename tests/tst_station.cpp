// The station in this process on a free port, and as the program where
// signals and pipes are the point.
#include "support/records.h"
#include "support/station.h"
#include "support/testing.h"

#include "station/station.h"
#include "server/protocol.h"
#include "station/stationoutput.h"
#include "station/stationterminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// The station with its terminal: what it prints in files of its folder.
struct TerminalStation : StationUnderTest
{
    explicit TerminalStation(int imageSize = 70000)
        : StationUnderTest(imageSize)
        , outFile(std::fopen(qPrintable(folder.filePath("out.txt")), "w"))
        , errFile(std::fopen(qPrintable(folder.filePath("err.txt")), "w"))
    {
        options.watchPeriodMsec = 200;
    }

    ~TerminalStation()
    {
        terminal.reset();
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
        make();
        terminal.reset(new StationTerminal(station.get(), out.get(), err.get(), json));
        return serve();
    }

    QString printed(const char *file = "out.txt") const
    {
        QFile printed(folder.filePath(file));
        printed.open(QIODevice::ReadOnly);
        return QString::fromUtf8(printed.readAll());
    }

    int status() // once the station has finished
    {
        if (!QTest::qWaitFor([&] { return !finished->isEmpty(); }, 15000))
            return -1;
        out->finish(QDeadlineTimer(2000));
        err->finish(QDeadlineTimer(2000));
        return finished->first().first().toInt();
    }

    FILE *outFile;
    FILE *errFile;
    std::unique_ptr<StationOutput> out;
    std::unique_ptr<StationOutput> err;
    bool json = false;
    std::unique_ptr<StationTerminal> terminal;
};

#ifdef Q_OS_UNIX
// The station as a program, on port 10013 (the suite has a network namespace
// of its own), started by bash: before runs first, after follows the command
// (a redirection, a pipe). Its image, record and lock in a folder of its own.
struct StationProgram
{
    explicit StationProgram(int imageSize = 70000)
        : image(folder.filePath("image.bin"))
        , environment(QProcessEnvironment::systemEnvironment())
    {
        writeFile(image, pattern(imageSize, 3));
        environment.insert("XDG_RUNTIME_DIR", folder.path());
        environment.insert("FOLDER", folder.path());
    }

    ~StationProgram()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QString log() const { return folder.filePath("log.csv"); }

    void start(QStringList arguments, const QString &before = QString(), const QString &after = QString())
    {
        if (!arguments.contains("--no-log") && environment.contains("HOME"))
            arguments << "--log" << log();
        if (!before.contains("--image"))
            arguments << "--image" << image;
        process.setProcessEnvironment(environment);
        // Exec'd where nothing follows in a pipe, so that its process is the one started.
        const QString run = after.startsWith('|') ? QStringLiteral("set -o pipefail; ") : QStringLiteral("exec ");
        const QString script = (before.isEmpty() ? QString() : before + "; ") + run + "\"$0\" \"$@\" " + after;
        process.start("bash", QStringList{"-c", script, STATION_PROGRAM} + arguments);
    }

    // Listening, as seen without binding the port; else what it said is shown.
    bool listening()
    {
        if (QTest::qWaitFor([] { return !runOutput("ss", {"-Hltn", "sport = :10013"}).isEmpty(); }, 10000))
            return true;
        qWarning("%s%s", qPrintable(out()), qPrintable(err()));
        return false;
    }

    static bool ended(QProcess &process, int msec = 20000)
    {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, msec) &&
                process.exitStatus() == QProcess::NormalExit;
    }
    bool ended(int msec = 20000) { return ended(process, msec); }

    // The exit status of an emulated device with these arguments.
    int device(const QStringList &arguments)
    {
        QProcess device;
        device.start(DEVICE_EMULATOR, arguments);
        return ended(device) ? device.exitCode() : -1;
    }

    QString out() { return m_out += QString::fromUtf8(process.readAllStandardOutput()); }
    QString err() { return m_err += QString::fromUtf8(process.readAllStandardError()); }

    pid_t pid() const { return pid_t(process.processId()); }

    // The descriptor the program would open next: the lowest free one.
    int nextFile() const
    {
        QSet<int> open;
        const QDir folder(QStringLiteral("/proc/%1/fd").arg(pid()));
        for (const QString &name : folder.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
            open.insert(name.toInt());
        int next = 0;
        while (open.contains(next))
            ++next;
        return next;
    }

    // User and system time so far.
    qint64 cpuMsec() const
    {
        const QByteArray stat = runOutput("cat", {QStringLiteral("/proc/%1/stat").arg(pid())});
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 / sysconf(_SC_CLK_TCK);
    }

    QTemporaryDir folder;
    QString image;
    QProcessEnvironment environment;
    QProcess process;

private:
    QString m_out;
    QString m_err;
};

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
    (void)QTest::qWaitFor([&] {
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
    void progressLinesAreLeftOutWhileHeldUp();
    void theLastFlashClosesTheWaiting();
#ifdef Q_OS_UNIX // the program, with pipes and signals as Unix has them
    void refusedBeforeServing_data();
    void refusedBeforeServing();
    void aReaderThatLeavesIsNoReasonToStop();
    void theTerminalClosingMidFlashEndsIt();
    void outOfDescriptorsItWaitsWithoutSpinning();
    void aFullOutputIsWaitedForWithoutSpinning();
    void aCrowdCostsNoHealthyFlashAndNoRow_data();
    void aCrowdCostsNoHealthyFlashAndNoRow();
    void namesAsTheSystemHasThem();
#endif
};

// Five at once, told in --json lines: the others are flashed byte-exact,
// untouched by those that misbehave.
void StationTest::severalDevicesAtOnce()
{
    TerminalStation test;
    test.options.devices = 5;
    test.options.count = 3;
    test.json = true;
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
    TerminalStation test;
    test.options.count = 1;
    test.options.watchPeriodMsec = 30000; // the device waits while the crowd comes
    QVERIFY(test.start());
    TestDevice device(QStringLiteral("127.0.0.1"), test.station->serverPort());
    const QByteArray image = pattern(70000, 5);
    CONVERSE(device, image, {{"updata", length()}});
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i)
        QVERIFY(TestDevice(QStringLiteral("127.0.0.1"), test.station->serverPort()).closedByServer());
    const qint64 seconds = clock.elapsed() / 1000;
    for (int index = 0; index < 69; ++index)
        CONVERSE(device, image, {{"ok", block(index)}});
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
    TerminalStation test;
    NetworkAdapter loopback = ::adapter("lo", {kServerAddress});
    loopback.loopback = true;
    test.adapters.adapters = {loopback, ::adapter("Ethernet", {"10.1.1.1"})};
    test.options.adapters = QStringList(adapter);
    QVERIFY(!test.start());
    test.err->finish(QDeadlineTimer(2000));
    QVERIFY2(test.printed("err.txt").startsWith(error), qPrintable(test.printed("err.txt")));
    QVERIFY(!QFile::exists(test.options.logPath));
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

// Once the flashes asked for are complete, no device more is taken: one that
// waits is closed, and the station ends.
void StationTest::theLastFlashClosesTheWaiting()
{
    TerminalStation test;
    test.options.devices = 2;
    test.options.count = 1;
    QVERIFY(test.start());
    TestDevice waiting(QStringLiteral("127.0.0.1"), test.station->serverPort());
    test.device({"--expect", "IMAGE"});
    QCOMPARE(test.devicesEnded(), QList<int>{0});
    QVERIFY(waiting.closedByServer());
    QCOMPARE(test.status(), 0);
}

#ifdef Q_OS_UNIX
void StationTest::refusedBeforeServing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("home");
    QTest::addColumn<int>("openFiles"); // the session's limit; 0: as it is
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("--devices 0") << QStringList{"--devices", "0"} << true << 0 << 2
                                 << "error: --devices takes a whole number of 1 or more (see --help)";
    QTest::newRow("no home folder for the record")
            << QStringList{} << false << 0 << 1
            << "error: this user has no home folder (HOME is not set), so the flash record has no place; give --log "
               "FILE or --no-log";
    QTest::newRow("more devices than open files allowed")
            << QStringList{"--devices", "100", "--no-log"} << true << 64 << 2
            << "error: 100 devices at once need about 132 open files, but this session allows at most 64 (ulimit "
               "-Hn): raise that limit, or ask for fewer devices (see --help)";
}

void StationTest::refusedBeforeServing()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, home);
    QFETCH(int, openFiles);
    QFETCH(int, status);
    QFETCH(QString, says);
    StationProgram station;
    if (!home)
        station.environment.remove("HOME");
    station.start(arguments, openFiles > 0 ? QStringLiteral("ulimit -n %1").arg(openFiles) : QString());
    QVERIFY(station.ended());
    QCOMPARE(station.process.exitCode(), status);
    QCOMPARE(station.err().trimmed(), says);
}

void StationTest::aReaderThatLeavesIsNoReasonToStop()
{
    StationProgram station;
    // The station's own status, whatever head's.
    station.start({"--count", "1"}, QString(), QStringLiteral("| head -1"));
    QVERIFY(station.listening());
    QCOMPARE(station.device({"--expect", station.image}), 0);
    QVERIFY(station.ended());
    QCOMPARE(station.process.exitCode(), 0);
}

void StationTest::theTerminalClosingMidFlashEndsIt()
{
    StationProgram station(1024 * 1024);
    station.start({});
    QVERIFY(station.listening());
    QProcess device;
    device.start(DEVICE_EMULATOR, {"--expect", station.image, "--delay", "1"});
    QVERIFY(QTest::qWaitFor([&] { return station.out().contains(": 10 %"); }, 10000));
    ::kill(station.pid(), SIGHUP);
    QVERIFY(station.ended());
    QCOMPARE(station.process.exitCode(), 1);
    QCOMPARE(readCsv(station.log()).value(1).value(2), "station stopped mid-flash");
    QVERIFY(StationProgram::ended(device));
}

// A device that has to wait for a free descriptor is taken as soon as one
// is; meanwhile the station does not spin.
void StationTest::outOfDescriptorsItWaitsWithoutSpinning()
{
#ifdef TCPSERVER_SANITIZED
    QSKIP("the sanitizers need descriptors of their own (UndefinedBehaviorSanitizer checks an object through a "
          "pipe, ThreadSanitizer starts its symbolizer), which a program without a free one cannot open");
#endif
    StationProgram station;
    station.start({"--devices", "8", "--no-log"});
    QVERIFY(station.listening());
    // No room for one descriptor more.
    rlimit before{};
    QCOMPARE(prlimit(station.pid(), RLIMIT_NOFILE, nullptr, &before), 0);
    const rlimit full{rlim_t(station.nextFile()), before.rlim_max};
    QCOMPARE(prlimit(station.pid(), RLIMIT_NOFILE, &full, nullptr), 0);
    QProcess device;
    device.start(DEVICE_EMULATOR, {"--expect", station.image, "--timeout", "20000"});
    QVERIFY(QTest::qWaitFor([&] { return station.err().contains("warning: taking devices paused: "); }, 10000));
    const qint64 cpu = station.cpuMsec();
    QTest::qWait(1000);
    QVERIFY2(station.cpuMsec() - cpu < 100, qPrintable(QString::number(station.cpuMsec() - cpu)));
    QCOMPARE(device.state(), QProcess::Running);
    QCOMPARE(prlimit(station.pid(), RLIMIT_NOFILE, &before, nullptr), 0); // room again
    QVERIFY(StationProgram::ended(device));
    QCOMPARE(device.exitCode(), 0);
    QCOMPARE(station.err().count("taking devices paused"), 1);
}

// Standard output made non-blocking by whoever shares it, and full: the
// station waits for room, without spinning, and loses no line.
void StationTest::aFullOutputIsWaitedForWithoutSpinning()
{
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const QByteArray filler(65536, 'x');
    while (::write(ends[1], filler.constData(), size_t(filler.size())) > 0) { }
    StationProgram station;
    station.start({"--no-log"}, QString(), QStringLiteral(">&%1").arg(ends[1]));
    ::close(ends[1]);
    QVERIFY(station.listening());
    QTest::qWait(200); // the lines of the start are written meanwhile
    const qint64 before = station.cpuMsec();
    QTest::qWait(1000);
    QVERIFY2(station.cpuMsec() - before < 100, qPrintable(QString::number(station.cpuMsec() - before)));
    QVERIFY(readUntil(ends[0], "Listening on port 10013").contains("Listening on port 10013"));
    ::kill(station.pid(), SIGINT);
    QVERIFY(station.ended());
    ::close(ends[0]);
}

void StationTest::aCrowdCostsNoHealthyFlashAndNoRow_data()
{
    QTest::addColumn<int>("flushMsec"); // what each flush to the disk takes beyond its own
    QTest::newRow("this machine's disk") << 0;
    QTest::newRow("a flush of 300 ms, as a USB stick's") << 300;
}

// Connections that ask for the length and leave at once, beside healthy
// devices: those are flashed whole and recorded; the crowd is counted.
void StationTest::aCrowdCostsNoHealthyFlashAndNoRow()
{
    QFETCH(int, flushMsec);
    StationProgram station;
    station.environment.insert("LD_PRELOAD", SLOW_FSYNC);
    station.environment.insert("SLOW_FSYNC_MSEC", QString::number(flushMsec));
    station.environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1");
    station.start({"--devices", "4"});
    QVERIFY(station.listening());
    std::vector<std::unique_ptr<QProcess>> devices;
    for (const char *from : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        devices.push_back(std::make_unique<QProcess>());
        devices.back()->start(DEVICE_EMULATOR, {"--expect", station.image, "--delay", "20", "--from", from, "--quiet"});
    }
    // They are being flashed before the crowd comes: it may take the fourth place only.
    QVERIFY(QTest::qWaitFor([] {
        return runOutput("ss", {"-Htn", "state", "established", "( dport = :10013 )"}).count('\n') >= 3;
    }));
    // The crowd, bounded in count and in time.
    QElapsedTimer crowd;
    crowd.start();
    int connections = 0;
    for (; connections < 5000 && !crowd.hasExpired(3000); ++connections) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, protocol::kPort);
        if (!socket.waitForConnected(1000))
            continue;
        socket.write("updata");
        socket.waitForBytesWritten(1000);
        socket.waitForReadyRead(100);
        socket.abort();
    }
    const int seconds = int(crowd.elapsed() / 1000) + 1;
    for (const auto &device : devices) {
        QVERIFY(StationProgram::ended(*device, 30000));
        QVERIFY2(device->exitCode() == 0, qPrintable(device->readAllStandardError() + station.out() + station.err()));
    }
    ::kill(station.pid(), SIGINT);
    QVERIFY(station.ended(30000));
    QVERIFY2(!station.err().contains("could not be written"), qPrintable(station.err()));
    const QList<QStringList> rows = readCsv(station.log());
    QStringList complete;
    int crowdRows = 0;
    int counted = 0; // the connections that the crowd's rows stand for
    for (const QStringList &row : rows.mid(1)) {
        if (row.value(2) == "complete" && row.value(9) == "70000") {
            complete << row.value(3);
        } else if (row.value(2).startsWith("device closed early") && row.value(3) == "127.0.0.1") {
            ++crowdRows;
            const QRegularExpressionMatch many = QRegularExpression(", (\\d+) connections$").match(row.value(2));
            counted += many.hasMatch() ? many.captured(1).toInt() : 1;
        }
    }
    complete.sort();
    QCOMPARE(complete, QStringList({"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    // At most one a second, and the first of the crowd; each says how many it stands for.
    QVERIFY2(crowdRows <= seconds + 2 && counted > crowdRows && counted <= connections,
             qPrintable(QStringLiteral("%1 rows for %2 of %3 connections in %4 s")
                                .arg(crowdRows)
                                .arg(counted)
                                .arg(connections)
                                .arg(seconds)));
}

// A path whose bytes are no UTF-8 is the file that is there.
void StationTest::namesAsTheSystemHasThem()
{
    StationProgram station;
    const QByteArray path = QFile::encodeName(station.folder.path()) + "/image\xff.bin";
    QCOMPARE(::link(QFile::encodeName(station.image).constData(), path.constData()), 0);
    station.start({"--count", "1"},
                  QStringLiteral("set -- \"$@\" --image \"$(printf '%s/image\\377.bin' \"$FOLDER\")\""));
    QVERIFY(station.listening());
    QCOMPARE(station.device({"--expect", station.image}), 0);
    QVERIFY(station.ended());
    QCOMPARE(station.process.exitCode(), 0);
    QVERIFY2(station.out().contains("Image " + station.folder.path() + "/image\\xff.bin: 70000 bytes"),
             qPrintable(station.out()));
    ::unlink(path.constData()); // a name Qt could not remove
}
#endif

QTEST_GUILESS_MAIN(StationTest)
#include "tst_station.moc"
