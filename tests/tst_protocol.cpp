// The protocol as devices see it on the wire, on the server alone.
#include "support/testing.h"

#include "image/flashimage.h"
#include "server/tcpserver.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

TcpServer::Options onFreePort(TcpServer::Options options)
{
    options.port = 0;
    options.frameMsec = 0;
    return options;
}

struct Served
{
    explicit Served(int imageSize = -1, TcpServer::Options options = TcpServer::Options())
        : server(new TcpServer(onFreePort(options)))
        , ended(server.get(), &TcpServer::transferEnded)
        , connected(server.get(), &TcpServer::deviceConnected)
        , echoed(server.get(), &TcpServer::requestsEchoed)
        , listening(server->startListen())
    {
        if (imageSize >= 0)
            handOver(imageSize);
    }

    TestDevice *connect(const QString &host = QStringLiteral("127.0.0.1"))
    {
        const int before = int(connected.size());
        devices.push_back(std::make_unique<TestDevice>(host, server->serverPort()));
        (void)QTest::qWaitFor([&] { return connected.size() > before || !devices.back()->isConnected(); }, 5000);
        return devices.back().get();
    }

    void handOver(int size)
    {
        image = pattern(size, size);
        server->slotRecive(FlashImage::fromBytes(QStringLiteral("image.bin"), image));
    }

    // Waits until the server has heard every request counted so far and `more` besides.
    bool read(int more = 1)
    {
        requestsRead += more;
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            int heard = 0;
            for (const QList<QVariant> &arguments : qAsConst(echoed))
                heard += int(arguments.at(1).toStringList().size());
            if (heard >= requestsRead)
                return true;
            echoed.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return false;
    }

    // Over the image handed over, or the one given: empty, or what went wrong.
    QString converse(TestDevice *device, const Exchanges &exchanges, const QByteArray &served = QByteArray())
    {
        for (const Exchange &exchange : exchanges) {
            const QString failure =
                    ::converse(*device, served.isNull() ? image : served, {exchange}, [this] { return read(); });
            if (!failure.isEmpty())
                return failure;
            // Every request is heard, answered or not.
            if (exchange.answer.kind != Answer::Nothing)
                ++requestsRead;
        }
        return QString();
    }

    QList<TransferReport> reports(int count)
    {
        (void)QTest::qWaitFor([&] { return ended.size() >= count; }, 5000);
        QList<TransferReport> all;
        for (const QList<QVariant> &arguments : qAsConst(ended))
            all << arguments.at(0).value<TransferReport>();
        return all;
    }

    std::unique_ptr<TcpServer> server;
    QSignalSpy ended;
    QSignalSpy connected;
    QSignalSpy echoed;
    const bool listening;
    QByteArray image;
    int requestsRead = 0;
    std::vector<std::unique_ptr<TestDevice>> devices;
};

} // namespace

// The served conversation, or the test fails there with what went wrong.
#define SERVED_CONVERSE(served, ...)                                                                                   \
    do {                                                                                                               \
        const QString conversed = (served).converse(__VA_ARGS__);                                                      \
        QVERIFY2(conversed.isEmpty(), qPrintable(conversed));                                                          \
    } while (false)

Q_DECLARE_METATYPE(TransferReport::Ending)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void progressShown_data();
    void progressShown();
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
            << 2500
            << Exchanges{{"updata", length()}, {"ok", block(0)}, {"ok", block(1)}, {"ok", block(2)}, {"ok", nothing()}}
            << TransferReport::Complete << 3 << qint64(2500);
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
    QVERIFY(served.listening);
    TestDevice *device = served.connect();
    SERVED_CONVERSE(served, device, exchanges);
    device->close();
    const QList<TransferReport> reports = served.reports(1);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().ending, ending);
    QCOMPARE(reports.first().blocksSent, blocksSent);
    QCOMPARE(reports.first().bytesSent, bytesSent);
}

// The sum of the steps (100 / blocks), truncated; over 100 blocks, once past 1.
void ProtocolTest::progressShown_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QList<int>>("shown");
    QTest::newRow("12 blocks: the sum falls short, 99 after all twelve")
            << 12 << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 99};
    QTest::newRow("100 blocks: 1 after the first") << 100 << 2 << QList<int>{1, 2};
    QTest::newRow("1000 blocks: nothing for ten") << 1000 << 10 << QList<int>{};
}

void ProtocolTest::progressShown()
{
    QFETCH(int, blocks);
    QFETCH(int, asked);
    QFETCH(QList<int>, shown);
    Served served(blocks * 1024 - 7);
    QVERIFY(served.listening);
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

// A connection to another of the PC's addresses came over another network.
void ProtocolTest::strangerGetsNothing()
{
    if (!inOwnNetworkNamespace())
        QSKIP("gives the loopback another address, only in a network namespace of its own");
    QCOMPARE(runProgram(QStringLiteral("ip"), {"address", "add", "10.9.9.9/32", "dev", "lo"}), 0);
    Served served(100);
    QVERIFY(served.listening);
    TestDevice stranger(QStringLiteral("10.9.9.9"), served.server->serverPort());
    QVERIFY(stranger.closedByServer());
    QCOMPARE(stranger.socket.bytesAvailable(), qint64(0));
    QCOMPARE(served.connected.size(), 0);
    TestDevice *device = served.connect();
    SERVED_CONVERSE(served, device, {{"updata", length()}, {"ok", block(0)}});
}

// Random steps against a model of up to three devices (TCPSERVER_FUZZ_SEED and
// TCPSERVER_FUZZ_STEPS vary it).
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
    QVERIFY(served.listening);
    // Percent-encoded, a blank between.
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
        bool sent = false; // anything at all: it is asking, and keeps its place
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
            // What the devices asked is heard first: a new image ends a flash before its echo shows.
            QVERIFY(served.read(0));
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
            // A device comes: taken while a place is free or one has sent nothing, else turned away.
            const auto idle = std::find_if(devices.begin(), devices.end(),
                                           [](const Modelled &m) { return !m.flashing && !m.sent; });
            auto device = std::make_unique<TestDevice>(QStringLiteral("127.0.0.1"), served.server->serverPort());
            last = QStringLiteral("a device comes to %1 others").arg(devices.size());
            if (devices.size() < 3) {
                devices.push_back({std::move(device), held, 0, false, false});
                QVERIFY2(QTest::qWaitFor([&] { return served.server->deviceCount() == int(devices.size()); }, 5000),
                         qPrintable(last));
            } else if (idle != devices.end()) {
                QVERIFY2(idle->device->closedByServer(), qPrintable(last));
                devices.erase(idle);
                devices.push_back({std::move(device), held, 0, false, false});
            } else {
                QVERIFY2(device->closedByServer(), qPrintable(last));
            }
        } else if (action < 14) {
            const int which = int(random.bounded(int(devices.size())));
            devices.at(which).device->close();
            devices.erase(devices.begin() + which);
            last = QStringLiteral("a device leaves");
            // Once the server knows, so that the next newcomer meets what the model does.
            QVERIFY2(QTest::qWaitFor([&] { return served.server->deviceCount() == int(devices.size()); }, 5000),
                     qPrintable(last));
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
            modelled.sent = true;
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
            SERVED_CONVERSE(served, modelled.device.get(), {{request, answer}}, modelled.image);
        }
    }
    QVERIFY2(answers > steps / 8 && !QTest::currentTestFailed(),
             qPrintable(QStringLiteral("seed %1, last step: %2").arg(seed).arg(last)));
}

// A device switched off without closing is found by keep-alive probes.
void ProtocolTest::idleConnectionsAreProbed()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the connection's timers with ss");
#else
    Served served(10);
    QVERIFY(served.listening);
    served.connect();
    const QString shown = QString::fromLatin1(runOutput(
            "ss",
            {"-tnoH", "state", "established", QStringLiteral("( sport = :%1 )").arg(served.server->serverPort())}));
    // Due within seconds; the system's own default is two hours ("119min").
    QVERIFY2(shown.contains(QRegularExpression("timer:\\(keepalive,[0-9.]+(ms|sec),")), qPrintable(shown));
#endif
}

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
