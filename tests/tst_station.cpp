// The headless station as a bench uses it: it serves one device after
// another from one load of the image, one line per flash, and ends with a
// summary and an exit status that says whether every flash completed.
#include "support/csv.h"
#include "support/session.h"

#include "image/imagefile.h"

#include <QProcess>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void flashes_data();
    void flashes();
};

// Each row: the station's arguments; the devices, one after the other (the
// emulator's arguments, "stop" for Ctrl+C meanwhile, "hold" to keep the
// station's port taken); its exit status; lines its output holds.
void StationTest::flashes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("lines");
    const QString whole = "--expect IMAGE", record = "--log RECORD";
    QTest::newRow("two devices, then it stops by itself") << QStringList{"--count", "2"} << QStringList{whole, whole} << 0
        << QStringList{"No wired adapter found", "Image IMAGE: 300000 bytes, 293 blocks.", "Image SHA-256 ",
                       "127.0.0.1: 50 %", "flash 1: 127.0.0.1, complete, ", "flash 2: 127.0.0.1, complete, ",
                       "2 flashes began: 2 complete, 0 not."};
    QTest::newRow("a device that leaves early, then one that completes") << QStringList{"--count", "1"}
        << QStringList{"--disconnect-after 5", whole} << 1
        << QStringList{"flash 1: 127.0.0.1, device closed early, ", "flash 2: 127.0.0.1, complete, ",
                       "2 flashes began: 1 complete, 1 not."};
    QTest::newRow("a device that stops asking") << QStringList{"--count", "1"} << QStringList{"--stop-after 3 --hold 2000", whole}
        << 1 << QStringList{"flash 1: 127.0.0.1, stalled, "};
    QTest::newRow("stopped mid-flash: the flash ends, the record says so") << QStringList{record}
        << QStringList{"--delay 20 --timeout 2000 &", "stop"} << 1
        << QStringList{"stopped mid-flash", "1 flash began: 0 complete, 1 not.", "RECORD station stopped mid-flash"};
    QTest::newRow("stopped while no device is there") << QStringList{} << QStringList{whole, "stop"} << 0
        << QStringList{"1 flash began: 1 complete, 0 not."};
    QTest::newRow("no image") << QStringList{"--image", "/nonexistent/file.bin"} << QStringList{} << 1
        << QStringList{"error: cannot use the image /nonexistent/file.bin: there is no such file"};
    QTest::newRow("port 10013 taken") << QStringList{} << QStringList{"hold"} << 1
        << QStringList{"error: cannot listen on port 10013: "};
    QTest::newRow("bad usage") << QStringList{"--count", "0"} << QStringList{} << 2
        << QStringList{"error: --count takes a whole number of 1 or more"};
    QTest::newRow("an unknown option") << QStringList{"--bogus"} << QStringList{} << 2
        << QStringList{"error: Unknown option 'bogus'."};
}

void StationTest::flashes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, devices);
    QFETCH(int, status);
    QFETCH(QStringList, lines);
    QTcpServer holder; // another program on the port
    if (devices.contains("hold"))
        QVERIFY(holder.listen(QHostAddress::Any, 10013));
    const QString image = imageFilePath(), record = QCoreApplication::applicationDirPath() + "/flash-log.csv";
    QFile::remove(record);
    QDir().mkpath(QFileInfo(image).path());
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pattern(300000, 1)) == 300000);
    file.close();
    QStringList given = arguments.join(' ').replace("RECORD", record).split(' ', Qt::SkipEmptyParts);
    if (!given.contains("--image"))
        given << "--image" << image;
    QProcess station;
    station.setProcessChannelMode(QProcess::MergedChannels);
    station.start(STATION_PROGRAM, given);
    QVERIFY(waitFor([&] { return station.state() == QProcess::NotRunning || station.peek(4096).contains("Listening"); }));
    std::vector<std::unique_ptr<QProcess>> emulators;
    for (const QString &device : devices) {
        if (device == "stop") // Ctrl+C, as a terminal sends it
            ::kill(pid_t(station.processId()), SIGINT);
        if (device == "stop" || device == "hold")
            continue;
        emulators.push_back(std::make_unique<QProcess>());
        QProcess &emulator = *emulators.back();
        const bool meanwhile = device.endsWith(" &"); // the next step comes while this one is flashed
        emulator.start(DEVICE_EMULATOR, QString(device).remove(" &").replace("IMAGE", image).split(' ') + QStringList{"--quiet"});
        QVERIFY(waitFor([&] { return meanwhile ? station.peek(1 << 16).contains("127.0.0.1: 10 %")
                                               : emulator.state() == QProcess::NotRunning; }, 10000));
    }
    QVERIFY(waitFor([&] { return station.state() == QProcess::NotRunning; }, 15000));
    QString output = QString::fromUtf8(station.readAll());
    QFile log(record);
    if (log.open(QIODevice::ReadOnly))
        for (const QStringList &row : parseCsv(log.readAll()).mid(1))
            output += "\nRECORD " + row.value(2);
    QCOMPARE(station.exitCode(), status);
    for (const QString &line : lines)
        QVERIFY2(output.contains(QString(line).replace("IMAGE", image)), qPrintable(line + " not in:\n" + output));
}

QTEST_MAIN(StationTest)
#include "tst_station.moc"
