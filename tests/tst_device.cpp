// The download protocol as devices see it, on the wire, and what the window
// shows for it; the device emulator's verdicts; many flashes in a row; and a
// bounded random walk over everything a device or the operator can do,
// checked against a model of the protocol: every answer due arrives, nothing
// else does. TCPSERVER_FUZZ_SEED and TCPSERVER_FUZZ_STEPS vary the walk.
#include "support/session.h"

#include "image/imagefile.h"
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

class DeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void conversations_data();
    void conversations();
    void progress_data();
    void progress();
    void verdicts_data();
    void verdicts();
    void flashesInARow();
    void randomWalk();
};

void DeviceTest::conversations_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QString complete = "message=Download complete";
    const QString refusal = "Didn't click 'Download' button to download the data.";
    const QString flash3 = "image 3000; download; ";

    QTest::newRow("a whole image, then the device closes: complete")
        << "image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A ok -; A close"
        << QStringList{complete, "message.colour=green", "status=Reading data is complete...Download complete",
                       "bar=100", "step3=green", "step4=green", "clientip=127.0.0.1", "boxes=",
                       "clientinput=updata ok ok ok ok "};
    QTest::newRow("nothing beyond the image; asking the length again starts over")
        << "image 2048; download; A connect; A updata len; A ok 0; A ok 1; A ok -; A updata len; A ok 0; A ok 1; "
           "A close"
        << QStringList{complete};
    QTest::newRow("only whole requests are answered, up to a zero byte")
        << "image 100; download; A connect; A updata\\n -; A OK -; A okok -; A updata\\0junk len; A ok\\0 0; A close"
        << QStringList{complete};
    QTest::newRow("an ok before the length request, then the transfer from block 0")
        << flash3 + "A connect; A ok 0; A updata len; A ok 0; A ok 1; A ok 2; A close" << QStringList{complete};
    QTest::newRow("an empty image is announced as such and has no block")
        << "image 0; download; A connect; A updata len; A ok -; A updata len"
        << QStringList{"status=Reading data is complete......", "step2=green"};
    QTest::newRow("asking before Download is refused and the device no longer served")
        << "A connect; A updata refused; B connect; A closed; B updata refused"
        << QStringList{"boxes=" + refusal + "|" + refusal, "step2=red"};
    QTest::newRow("one refusal box at a time; a newcomer meanwhile replaces the asker")
        << "A connect; hold; A updata refused; B connect; B updata refused; A alive; release; A closed"
        << QStringList{"boxes=" + refusal};
    QTest::newRow("a device that stops asking is closed and the operator told")
        << flash3 + "watch 100; A connect; A updata len; A ok 0; stall; A closed; B connect; B updata refused"
        << QStringList{"boxes=Network interruption, please restart TcpServer.|" + refusal, "step4=red"};
    QTest::newRow("watch ticks that come early are no stall")
        << "watch 60000; " + flash3 + "A connect; A updata len; A ok 0; tick; tick; tick; A ok 1; A ok 2; A close"
        << QStringList{complete, "boxes="};
    QTest::newRow("a newcomer once the length was told is closed; the device goes on")
        << flash3 + "A connect; A updata len; B refused; A ok 0; A ok 1; A ok 2; A close" << QStringList{complete};
    QTest::newRow("a newcomer before anyone asked replaces the earlier connection")
        << flash3 + "A connect; B connect; A closed; B updata len; B ok 0; B ok 1; B ok 2; B close"
        << QStringList{complete};
    QTest::newRow("a connection that closes without asking leaves the image loaded")
        << flash3 + "A connect; A close; B connect; B updata len; B ok 0; B ok 1; B ok 2; B close"
        << QStringList{complete};
    QTest::newRow("a device that leaves mid-transfer ends it and the image with it")
        << flash3 + "A connect; A updata len; A ok 0; A close; B connect; B updata refused"
        << QStringList{"message=Downloading...", "bar=33", "boxes=" + refusal};
    QTest::newRow("an IPv6 device is shown by its whole address")
        << "image 10; download; A connect ::1; A updata len" << QStringList{"clientip=::1"};
    QTest::newRow("the (hidden) ClientInput pane stops at its limit")
        << "cap 12; " + flash3 + "A connect; A updata len; A ok 0; A ok 1; A ok 2; A close"
        << QStringList{"clientinput=updata ok ", complete};
}

void DeviceTest::conversations()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    Session().verify(script, checks);
}

void DeviceTest::progress_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QList<int>>("bar");
    // The bar shows the sum of the steps so far, truncated, once it exceeds 1.
    QList<int> hundred, thousand;
    double sum = 0;
    for (int i = 1; i <= 1000; ++i) {
        hundred << i;
        thousand << ((sum += 0.1) > 1.0 ? int(sum) : 0);
    }
    QTest::newRow("3 blocks") << 3 << QList<int>{33, 66, 100};
    QTest::newRow("12 blocks: the sum falls short") << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 99};
    QTest::newRow("100 blocks") << 100 << hundred.mid(0, 100);
    QTest::newRow("1000 blocks: the bar moves once past 1 %") << 1000 << thousand;
}

void DeviceTest::progress()
{
    QFETCH(int, blocks);
    QFETCH(QList<int>, bar);
    Session session;
    session.run(QStringLiteral("image %1; download; A connect; A updata len").arg(blocks * 1024 - 7));
    QList<int> seen;
    for (int block = 0; block < blocks && !QTest::currentTestFailed(); ++block) {
        session.run(QStringLiteral("A ok %1").arg(block));
        seen << session.window->m_progressBar->value();
    }
    QCOMPARE(seen, bar);
}

void DeviceTest::verdicts_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    const QString image = "image 70000; download";
    QTest::newRow("the whole image, verified") << image << QStringList{"--expect", "IMAGE"} << 0
                                               << "verified: the image matches byte for byte";
    QTest::newRow("another image than expected") << image << QStringList{"--expect", "OTHER"} << 1 << "MISMATCH";
    QTest::newRow("no image loaded: length 0") << "image none; download" << QStringList{} << 1
                                               << "error: TcpServer has no image loaded";
    QTest::newRow("asking before Download is refused") << "start" << QStringList{"--expect-refusal", "--timeout", "800"}
                                                       << 0 << "refused as expected";
    QTest::newRow("the device stops asking; the tool ends the transfer")
        << "watch 100; " + image << QStringList{"--stop-after", "2", "--hold", "5000"} << 3
        << "stopped asking after 2 blocks";
    QTest::newRow("an --expect file missing, found before connecting")
        << image << QStringList{"--expect", "/nonexistent"} << 2 << "error: cannot read /nonexistent";
    QTest::newRow("an --output folder missing, found before connecting")
        << image << QStringList{"--output", "/nonexistent/x"} << 2 << "error: cannot write /nonexistent/x";
    QTest::newRow("an unknown option") << "start" << QStringList{"--bogus"} << 2 << "error: Unknown option";
    QTest::newRow("an option without its value") << "start" << QStringList{"--port"} << 2 << "error: Missing value";
    QTest::newRow("--version") << "start" << QStringList{"--version"} << 0 << "device-emulator 1.";
}

void DeviceTest::verdicts()
{
    QFETCH(QString, script);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, says);
    Session session;
    session.run(script);
    QTemporaryDir scratch;
    writeImage(pattern(70000, 99), scratch.filePath("other.bin"));
    arguments.replaceInStrings("IMAGE", imageFilePath()).replaceInStrings("OTHER", scratch.filePath("other.bin"));
    QProcess emulator;
    emulator.setProcessChannelMode(QProcess::MergedChannels);
    emulator.start(DEVICE_EMULATOR, arguments);
    waitFor([&] { return emulator.state() == QProcess::NotRunning; }, 20000); // the window serves meanwhile
    const QString output = QString::fromUtf8(emulator.readAll());
    QVERIFY2(emulator.state() == QProcess::NotRunning && output.contains(says), qPrintable(output));
    QCOMPARE(emulator.exitCode(), status);
}

void DeviceTest::flashesInARow()
{
    Session session;
    for (int flash = 0; flash < 60 && !QTest::currentTestFailed(); ++flash) {
        QString script = QStringLiteral("image %1; download; A connect; A updata len").arg((flash % 5 + 1) * 1024 - flash);
        for (int block = 0; block <= flash % 5; ++block)
            script += QStringLiteral("; A ok %1").arg(block);
        session.verify(script + "; A close", {"message=Download complete"});
    }
}

void DeviceTest::randomWalk()
{
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED")) ^ 20261206u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS") ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS") : 3000;
    QRandomGenerator random(seed);
    Session session;
    session.run("watch 3600000; start"); // timing is no part of the model
    QTextBrowser *echo = session.window->m_clientInputBrowser;
    const QList<QByteArray> known = {"updata", "ok", "ok", "ok", "OK", "updata\n", "ok\r\n", QByteArray("updata\0x", 8),
                                     QByteArray("ok\0", 3), "okok", "up", QByteArray("\0ok", 3), " ok"};
    // The model: the image held, the current connection and where it stands.
    QByteArray image;
    bool held = false, lengthTold = false, downloading = false, exhausted = false, asked = false;
    int next = 0, answers = 0;
    std::unique_ptr<Device> current;
    auto closedByServer = [](std::unique_ptr<Device> &device) {
        QVERIFY2(device->closedByServer() && device->socket.bytesAvailable() == 0, "not closed, or sent more");
        device.reset();
    };
    for (int step = 0; step < steps && !QTest::currentTestFailed(); ++step) {
        const QByteArray where = QStringLiteral("seed %1 step %2").arg(seed).arg(step).toLatin1();
        const int action = random.bounded(100), connects = debugLines().count("Client connect!"),
                  ends = debugLines().count("Disconnected!");
        const bool running = current && (lengthTold || downloading);
        if (action < 4 || !held) { // Download, sizes near block boundaries often
            image = pattern(random.bounded(2) ? qMax(0, random.bounded(4) * 1024 + random.bounded(3) - 1)
                                              : random.bounded(9000), step);
            writeImage(image);
            QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
            if (running)
                closedByServer(current);
            held = true;
            next = 0;
            exhausted = downloading = false;
        } else if (action < 10 || !current) { // a device connects
            std::unique_ptr<Device> newcomer(new Device);
            if (running) {
                closedByServer(newcomer);
                continue;
            }
            QVERIFY2(waitFor([&] { return debugLines().count("Client connect!") > connects; }), where);
            if (current)
                closedByServer(current);
            current = std::move(newcomer);
            lengthTold = asked = false;
        } else if (action < 14) { // the device leaves
            current.reset();
            QVERIFY2(waitFor([&] { return debugLines().count("Disconnected!") > ends; }), where);
            held = held && !asked;
            lengthTold = downloading = false;
        } else { // it asks, or sends anything
            QByteArray request = known.at(random.bounded(known.size()));
            if (random.bounded(5) == 0) {
                request.resize(1 + random.bounded(30));
                for (char &byte : request)
                    byte = char(random.bounded(256));
            }
            const QByteArray text = request.left(request.indexOf('\0') < 0 ? request.size() : request.indexOf('\0'));
            QByteArray due;
            if (text == "updata") {
                due = lengthHeaderOf(image.size());
                next = 0;
                lengthTold = asked = true;
                exhausted = downloading = false;
            } else if (text == "ok") {
                asked = true;
                exhausted = exhausted || next * 1024 >= image.size();
                if (!exhausted) {
                    due = image.mid(next++ * 1024, 1024);
                    due.append(QByteArray(1024 - due.size(), '\0'));
                    downloading = true;
                }
            }
            const int echoed = echo->toPlainText().size();
            current->send(request);
            answers += !due.isEmpty();
            QVERIFY2(current->take(due.size()) == due, where + ": not the answer due to " + request.toHex());
            // Also what asks nothing is read (and echoed) before the next request goes.
            QVERIFY2(waitFor([&] { return echo->toPlainText().size() > echoed; }), where + ": not read");
        }
    }
    QVERIFY(!current || current->socket.bytesAvailable() == 0);
    qInfo("seed %u: %d answers checked in %d steps", seed, answers, steps);
    QVERIFY(answers > steps / 8);
}

QTEST_MAIN(DeviceTest)
#include "tst_device.moc"
