#ifndef STATIONSUPPORT_H
#define STATIONSUPPORT_H

#include "fakeadapters.h"
#include "testing.h"

#include "station/station.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

// A station in this process on a free port, serving on every address (no
// adapter of the test's is wired); its image and record in a folder of the
// test's own, what it says kept; emulated devices that end with it.
struct StationUnderTest
{
    explicit StationUnderTest(int imageSize = 70000)
        : image(folder.filePath("image.bin"))
    {
        writeFile(image, pattern(imageSize, 5));
        options.imagePath = image;
        options.logPath = folder.filePath("flash-log.csv");
        options.port = 0;
    }

    ~StationUnderTest()
    {
        for (const auto &device : devices) {
            device->kill();
            device->waitForFinished();
        }
    }

    // Made, not started yet; then started and serving, or it could not.
    void make()
    {
        station = std::make_unique<Station>(options, &adapters);
        for (auto say : {&Station::said, &Station::warned, &Station::failed})
            QObject::connect(station.get(), say, station.get(), [this](const QString &line) { lines << line; });
        finished = std::make_unique<QSignalSpy>(station.get(), &Station::finished);
    }
    bool serve()
    {
        return station->start() && QTest::qWaitFor([this] { return station->serverPort() != 0; });
    }
    bool start()
    {
        make();
        return serve();
    }

    // An emulated device with these arguments, IMAGE standing for the image.
    QProcess *device(QStringList arguments)
    {
        devices.push_back(std::make_unique<QProcess>());
        devices.back()->start(DEVICE_EMULATOR,
                              QStringList{"--port", QString::number(station->serverPort()), "--quiet"} +
                                      arguments.replaceInStrings("IMAGE", image));
        return devices.back().get();
    }
    // Its exit status once it ended (-1: it did not).
    static int ended(QProcess *device)
    {
        return QTest::qWaitFor([device] { return device->state() == QProcess::NotRunning; }, 30000) ? device->exitCode()
                                                                                                    : -1;
    }
    QList<int> devicesEnded()
    {
        QList<int> statuses;
        for (const auto &device : devices)
            statuses << ended(device.get());
        return statuses;
    }
    // One device flashed whole.
    int flash() { return ended(device({"--expect", "IMAGE"})); }

    // Stopped as at Ctrl+C: how long the end took (-1: it did not end).
    qint64 stop()
    {
        QElapsedTimer clock;
        clock.start();
        station->stop();
        return QTest::qWaitFor([this] { return !finished->isEmpty(); }, 20000) ? clock.elapsed() : -1;
    }
    // What it said that starts so (a regular expression).
    QStringList said(const QString &start) const { return lines.filter(QRegularExpression("^" + start)); }

    QTemporaryDir folder;
    QString image;
    Station::Options options;
    FakeAdapters adapters;
    std::unique_ptr<Station> station;
    std::unique_ptr<QSignalSpy> finished;
    QStringList lines;
    std::vector<std::unique_ptr<QProcess>> devices;
};

#endif // STATIONSUPPORT_H
