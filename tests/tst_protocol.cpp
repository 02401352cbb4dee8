// The protocol as devices see it on the wire and as the server reports it, with
// no window: what each request gets, the progress, the watch, the rule for
// admitting several devices, and a bounded random walk against a model of the protocol (TCPSERVER_FUZZ_SEED and
// TCPSERVER_FUZZ_STEPS vary it).
#include "support/testing.h"

#include "image/flashimage.h"
#include "server/tcpserver.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// The server alone, on a free port, with an image of the given size.
struct Served
{
    explicit Served(int imageSize = -1, TcpServer::Options options = TcpServer::Options());
    TestDevice *connect(const QString &host = QStringLiteral("127.0.0.1"));
    void handOver(int size);
    // The reports so far, once count of them have come.
    QList<TransferReport> reports(int count);
    // Converses over the image handed over, or the one given.
    void converse(TestDevice *device, const Exchanges &exchanges, const QByteArray &served = QByteArray());
    // Waits until the server has read one more request.
    bool read();

    std::unique_ptr<TcpServer> server;
    QByteArray image;
    QSignalSpy ended;
    QSignalSpy connected;
    QSignalSpy echoed;
    int requestsRead = 0;
    std::vector<std::unique_ptr<TestDevice>> devices;
};

TcpServer::Options onFreePort(TcpServer::Options options)
{
    options.port = 0;
    // The requests it reads are heard at once.
    options.frameMsec = 0;
    return options;
}

Served::Served(int imageSize, TcpServer::Options options)
    : server(new TcpServer(onFreePort(options)))
    , ended(server.get(), &TcpServer::transferEnded)
    , connected(server.get(), &TcpServer::deviceConnected)
    , echoed(server.get(), &TcpServer::requestsEchoed)
{
    QVERIFY(server->startListen());
    if (imageSize >= 0)
        handOver(imageSize);
}

TestDevice *Served::connect(const QString &host)
{
    const int before = int(connected.size());
    devices.push_back(std::make_unique<TestDevice>(host, server->serverPort()));
    waitFor([&] { return connected.size() > before || !devices.back()->isConnected(); });
    return devices.back().get();
}

void Served::handOver(int size)
{
    image = pattern(size, size);
    server->slotRecive(FlashImage::fromBytes(QStringLiteral("image.bin"), image));
}

bool Served::read()
{
    ++requestsRead;
    return waitFor([&] {
        int heard = 0;
        for (const QList<QVariant> &arguments : qAsConst(echoed))
            heard += int(arguments.at(1).toStringList().size());
        return heard >= requestsRead;
    });
}

void Served::converse(TestDevice *device, const Exchanges &exchanges, const QByteArray &served)
{
    for (const Exchange &exchange : exchanges) {
        ::converse(*device, served.isNull() ? image : served, {exchange}, [this] { return read(); });
        // Every request is read, answered or not.
        if (exchange.answer.kind != Answer::Nothing)
            ++requestsRead;
    }
}

QList<TransferReport> Served::reports(int count)
{
    waitFor([&] { return ended.size() >= count; });
    QList<TransferReport> all;
    for (const QList<QVariant> &arguments : qAsConst(ended))
        all << arguments.at(0).value<TransferReport>();
    return all;
}

} // namespace

Q_DECLARE_METATYPE(TransferReport::Ending)
Q_DECLARE_METATYPE(TcpServer::ImageUse)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void progressShown_data();
    void progressShown();
    void stallsAreEnded_data();
    void stallsAreEnded();
    void earlyWatchTicksAreNoStall();
    void refusalWithoutImage();
    void imageUse_data();
    void imageUse();
    void newImageEndsTheFlashInProgress();
    void newcomerWhilePlacesAreFlashedIsTurnedAway();
    void blocksCountOnlyWhenWritten();
    void strangerGetsNothing();
    void randomWalk();
    void idleConnectionsAreProbed();
};

void ProtocolTest::answers_data()
{
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<Exchanges>("exchanges");
    QTest::addColumn<TransferReport::Ending>("ending"); // once the device closes
    QTest::addColumn<int>("blocksSent");
    QTest::addColumn<qint64>("bytesSent");

    QTest::newRow("2500 bytes: the length, three blocks, the last completed with zeros, then nothing")
            << 2500 << Exchanges{{"updata", length()}, {"ok", block(0)}, {"ok", block(1)}, {"ok", block(2)}}
            << TransferReport::Complete << 3 << qint64(2500);
    QTest::newRow("two whole blocks: no filler, and nothing beyond the image")
            << 2048 << Exchanges{{"updata", length()}, {"ok", block(0)}, {"ok", block(1)}, {"ok", nothing()}}
            << TransferReport::Complete << 2 << qint64(2048);
    QTest::newRow("an ok before the length is served; the length again starts over")
            << 2048 << Exchanges{{"ok", block(0)},     {"updata", length()}, {"ok", block(0)}, {"ok", block(1)},
                                 {"updata", length()}, {"ok", block(0)},     {"ok", block(1)}}
            << TransferReport::Complete << 2 << qint64(2048);
    QTest::newRow("only whole requests are answered, up to a zero byte")
            << 100
            << Exchanges{{"updata\n", nothing()},
                         {"OK", nothing()},
                         {"okok", nothing()},
                         {"updata\0junk", length()},
                         {QByteArray("ok\0", 3), block(0)}}
            << TransferReport::Complete << 1 << qint64(100);
    QTest::newRow("an empty image is told as such, has no block, and is never complete")
            << 0 << Exchanges{{"updata", length()}, {"ok", nothing()}, {"updata", length()}}
            << TransferReport::DeviceClosed << 0 << qint64(0);
    QTest::newRow("a device that leaves mid-transfer ends it early")
            << 3000 << Exchanges{{"updata", length()}, {"ok", block(0)}} << TransferReport::DeviceClosed << 1
            << qint64(1024);
}

void ProtocolTest::answers()
{
    QFETCH(int, imageSize);
    QFETCH(Exchanges, exchanges);
    QFETCH(TransferReport::Ending, ending);
    QFETCH(int, blocksSent);
    QFETCH(qint64, bytesSent);
    Served served(imageSize);
    TestDevice *device = served.connect();
    served.converse(device, exchanges);
    device->close();
    const QList<TransferReport> reports = served.reports(1);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().ending, ending);
    QCOMPARE(reports.first().blocksSent, blocksSent);
    QCOMPARE(reports.first().bytesSent, bytesSent);
}

// The bar shows the sum of the steps so far (100 / blocks), truncated, and
// for more than 100 blocks only once that sum exceeds 1.
void ProtocolTest::progressShown_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QList<int>>("shown");
    QTest::newRow("12 blocks: the sum falls short, 99 after all twelve")
            << 12 << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 99};
    QTest::newRow("100 blocks: 1 after the first") << 100 << 2 << QList<int>{1, 2};
    QTest::newRow("1000 blocks: nothing for ten") << 1000 << 10 << QList<int>{};
    QTest::newRow("1000 blocks: 1 once past 1 %, after eleven") << 1000 << 12 << QList<int>{1};
}

void ProtocolTest::progressShown()
{
    QFETCH(int, blocks);
    QFETCH(int, asked);
    QFETCH(QList<int>, shown);
    Served served(blocks * 1024 - 7);
    QSignalSpy progress(served.server.get(), &TcpServer::progress);
    TestDevice *device = served.connect();
    device->send("updata");
    device->take(4);
    for (int block = 0; block < asked; ++block) {
        device->send("ok");
        device->take(1024);
    }
    QList<int> values;
    for (const QList<QVariant> &arguments : qAsConst(progress))
        values << arguments.at(1).toInt();
    QCOMPARE(values, shown);
}

// Closed, so that the device does not wait for its own time-out.
void ProtocolTest::stallsAreEnded_data()
{
    QTest::addColumn<Exchanges>("exchanges"); // then nothing more
    QTest::newRow("told the length, then silent") << Exchanges{{"updata", length()}};
    QTest::newRow("a block, then silent") << Exchanges{{"updata", length()}, {"ok", block(0)}};
    QTest::newRow("a block, then only part of a request")
            << Exchanges{{"updata", length()}, {"ok", block(0)}, {"o", nothing()}};
    QTest::newRow("a block, then anything but a request")
            << Exchanges{{"updata", length()}, {"ok", block(0)}, {"junk", nothing()}, {"junk", nothing()}};
}

void ProtocolTest::stallsAreEnded()
{
    QFETCH(Exchanges, exchanges);
    TcpServer::Options options;
    options.watchPeriodMsec = 100;
    Served served(5000, options);
    TestDevice *device = served.connect();
    served.converse(device, exchanges);
    QCOMPARE(served.reports(1).value(0).ending, TransferReport::Stalled);
    QVERIFY(device->closedByServer());
}

void ProtocolTest::earlyWatchTicksAreNoStall()
{
    TcpServer::Options options;
    options.watchPeriodMsec = 60000;
    Served served(3000, options);
    TestDevice *device = served.connect();
    served.converse(device, {{"updata", length()}, {"ok", block(0)}});
    // However often the watch ticks, a period has not passed.
    for (int tick = 0; tick < 3; ++tick)
        served.server->slotJudgeDisconnect();
    served.converse(device, {{"ok", block(1)}, {"ok", block(2)}});
    device->close();
    QCOMPARE(served.reports(1).value(0).ending, TransferReport::Complete);
}

void ProtocolTest::refusalWithoutImage()
{
    Served served;
    QSignalSpy refused(served.server.get(), &TcpServer::hintSig);
    TestDevice *asker = served.connect();
    asker->send("updata");
    QVERIFY(refused.wait());
    QCOMPARE(served.reports(1).value(0).ending, TransferReport::Refused);
    // No longer served, and a newcomer takes its place.
    TestDevice *next = served.connect();
    QVERIFY(asker->closedByServer());
    next->send("updata");
    QVERIFY(refused.wait());
}

void ProtocolTest::imageUse_data()
{
    QTest::addColumn<TcpServer::ImageUse>("use");
    QTest::addColumn<TransferReport::Ending>("nextDevice");
    QTest::newRow("the window's: a flash uses the image up")
            << TcpServer::ImageUse::OneFlash << TransferReport::Refused;
    QTest::newRow("the station's: every device is served")
            << TcpServer::ImageUse::EveryDevice << TransferReport::DeviceClosed;
}

void ProtocolTest::imageUse()
{
    QFETCH(TcpServer::ImageUse, use);
    QFETCH(TransferReport::Ending, nextDevice);
    TcpServer::Options options;
    options.imageUse = use;
    Served served(1000, options);
    // One that comes and goes without asking (a port scan) uses nothing up.
    served.connect()->close();
    QVERIFY(waitFor([&] { return served.server->deviceCount() == 0; }));
    TestDevice *first = served.connect();
    served.converse(first, {{"updata", length()}, {"ok", block(0)}});
    first->close();
    served.reports(1);
    TestDevice *second = served.connect();
    second->send("updata");
    if (nextDevice != TransferReport::Refused)
        QCOMPARE(second->take(4), lengthHeaderFor(1000));
    second->close();
    QCOMPARE(served.reports(2).value(1).ending, nextDevice);
}

void ProtocolTest::newImageEndsTheFlashInProgress()
{
    Served served(3000);
    TestDevice *device = served.connect();
    served.converse(device, {{"updata", length()}, {"ok", block(0)}});
    served.handOver(2000);
    QCOMPARE(served.reports(1).value(0).ending, TransferReport::Restarted);
    QVERIFY(device->closedByServer());
    TestDevice *next = served.connect();
    served.converse(next, {{"updata", length()}, {"ok", block(0)}, {"ok", block(1)}});
}

void ProtocolTest::newcomerWhilePlacesAreFlashedIsTurnedAway()
{
    TcpServer::Options options;
    options.devices = 2;
    Served served(3000, options);
    QSignalSpy turnedAway(served.server.get(), &TcpServer::deviceTurnedAway);
    TestDevice *first = served.connect();
    TestDevice *second = served.connect();
    served.converse(first, {{"updata", length()}});
    served.converse(second, {{"ok", block(0)}});
    TestDevice third(QStringLiteral("127.0.0.1"), served.server->serverPort());
    QVERIFY(third.closedByServer());
    QCOMPARE(turnedAway.size(), 1);
    // Those being flashed go on, untouched.
    served.converse(first, {{"ok", block(0)}, {"ok", block(1)}, {"ok", block(2)}});
    served.converse(second, {{"ok", block(1)}, {"ok", block(2)}});
}

void ProtocolTest::blocksCountOnlyWhenWritten()
{
    TcpServer::Options options;
    options.imageUse = TcpServer::ImageUse::EveryDevice;
    Served served(64 * 1024, options);
    for (int i = 0; i < 200; ++i) {
        TestDevice device(QStringLiteral("127.0.0.1"), served.server->serverPort());
        served.converse(&device, {{"updata", length()}, {"ok", block(0)}});
        device.send("ok");
        // Gone before the server reads it: a reset, not a goodbye.
        device.reset();
        QVERIFY(waitFor([&] { return served.ended.size() > i; }));
    }
    for (const TransferReport &report : served.reports(200)) {
        QCOMPARE(report.blocksSent, 1);
        QCOMPARE(report.bytesSent, qint64(1024));
    }
}

// A connection that reached another of the PC's addresses came over another
// network (Wi-Fi, the office LAN): closed at once, sent nothing, not told.
void ProtocolTest::strangerGetsNothing()
{
    if (!inOwnNetworkNamespace())
        QSKIP("gives the loopback another address, only in a network namespace of its own");
    QCOMPARE(runProgram(QStringLiteral("ip"), {"address", "add", "10.9.9.9/32", "dev", "lo"}), 0);
    Served served(100);
    TestDevice stranger(QStringLiteral("10.9.9.9"), served.server->serverPort());
    QVERIFY(stranger.closedByServer());
    QCOMPARE(stranger.socket.bytesAvailable(), qint64(0));
    QCOMPARE(served.connected.size(), 0);
    TestDevice *device = served.connect();
    served.converse(device, {{"updata", length()}, {"ok", block(0)}});
}

// Each step is chosen at random: a new image, a device that comes, leaves or
// sends anything. The model says what must come back, for each of up to three
// devices at once, and the devices check that it does, and nothing else.
void ProtocolTest::randomWalk()
{
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED")) ^ 20261208u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS")
            ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS")
            : 3000;
    QRandomGenerator random(seed);
    TcpServer::Options options;
    options.devices = 3;
    options.imageUse = TcpServer::ImageUse::EveryDevice;
    options.watchPeriodMsec = 3600000; // timing is no part of the model
    Served served(-1, options);
    // Requests as devices send them, and as they go wrong (percent-encoded, a blank between).
    QList<QByteArray> known =
            QByteArray("updata ok ok ok OK updata%0A ok%0D%0A updata%00x ok%00 okok up %00ok %20ok").split(' ');
    for (QByteArray &request : known)
        request = QByteArray::fromPercentEncoding(request);
    // The model of each device: where it stands in the image it was told.
    struct Modelled
    {
        std::unique_ptr<TestDevice> device;
        QByteArray image; // the one it is served
        int next = 0; // its next block
        bool flashing = false;
    };
    std::vector<Modelled> devices;
    QByteArray held;
    int answers = 0;
    QString last;
    for (int step = 0; step < steps && !QTest::currentTestFailed(); ++step) {
        const int action = int(random.bounded(100));
        if (action < 3 || held.isNull()) {
            // A new image, sizes near block boundaries often: every device being flashed is closed.
            const int size = random.bounded(2) ? qMax(0, int(random.bounded(4)) * 1024 + int(random.bounded(3)) - 1)
                                               : int(random.bounded(9000));
            served.handOver(size);
            held = served.image;
            last = QStringLiteral("image of %1 bytes").arg(size);
            for (auto it = devices.begin(); it != devices.end();) {
                if (it->flashing) {
                    QVERIFY2(it->device->closedByServer(), qPrintable(last));
                    it = devices.erase(it);
                } else {
                    (it++)->image = held;
                }
            }
        } else if (action < 10 || devices.empty()) {
            // A device comes: taken while a place is free or idle, else turned away.
            const auto idle =
                    std::find_if(devices.begin(), devices.end(), [](const Modelled &m) { return !m.flashing; });
            auto device = std::make_unique<TestDevice>(QStringLiteral("127.0.0.1"), served.server->serverPort());
            last = QStringLiteral("a device comes to %1 others").arg(devices.size());
            if (devices.size() < 3) {
                devices.push_back({std::move(device), held, 0, false});
                QVERIFY2(waitFor([&] { return served.server->deviceCount() == int(devices.size()); }),
                         qPrintable(last));
            } else if (idle != devices.end()) {
                QVERIFY2(idle->device->closedByServer(), qPrintable(last));
                devices.erase(idle);
                devices.push_back({std::move(device), held, 0, false});
            } else {
                QVERIFY2(device->closedByServer(), qPrintable(last));
            }
        } else if (action < 14) {
            const int which = int(random.bounded(int(devices.size())));
            devices.at(which).device->close();
            devices.erase(devices.begin() + which);
            last = QStringLiteral("a device leaves");
            // Once the server knows, so that the next newcomer meets what the model does.
            QVERIFY2(waitFor([&] { return served.server->deviceCount() == int(devices.size()); }), qPrintable(last));
        } else {
            Modelled &modelled = devices.at(random.bounded(int(devices.size())));
            QByteArray request = known.at(int(random.bounded(int(known.size()))));
            if (random.bounded(5) == 0) {
                request.resize(1 + int(random.bounded(30)));
                for (char &byte : request)
                    byte = char(random.bounded(256));
            }
            const int zero = request.indexOf('\0');
            const QByteArray text = zero < 0 ? request : request.left(zero);
            Answer answer = nothing();
            if (text == "updata") {
                answer = length();
                modelled.next = 0;
                modelled.flashing = true;
            } else if (text == "ok" && qint64(modelled.next) * 1024 < modelled.image.size()) {
                answer = block(modelled.next++);
                modelled.flashing = true;
            }
            answers += answer.kind != Answer::Nothing;
            last = QStringLiteral("request %1").arg(QString::fromLatin1(request.toPercentEncoding()));
            served.converse(modelled.device.get(), {{request, answer}}, modelled.image);
        }
    }
    QVERIFY2(answers > steps / 8 && !QTest::currentTestFailed(),
             qPrintable(QStringLiteral("seed %1, last step: %2").arg(seed).arg(last)));
}

// A device that vanished without closing (switched off, cable pulled) is
// found by the system's keep-alive probes, seconds after it fell silent.
void ProtocolTest::idleConnectionsAreProbed()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the connection's timers with ss");
#else
    Served served(10);
    served.connect();
    QProcess ss;
    ss.start(QStringLiteral("ss"),
             {"-tnoH", "state", "established", QStringLiteral("( sport = :%1 )").arg(served.server->serverPort())});
    QVERIFY(ss.waitForFinished());
    const QString shown = QString::fromLatin1(ss.readAll());
    // Due within seconds; the system's own default is two hours ("119min").
    QVERIFY2(shown.contains(QRegularExpression("timer:\\(keepalive,[0-9.]+(ms|sec),")), qPrintable(shown));
#endif
}

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
