// Faults and a long run against one running window: whatever devices and
// stray clients do, every flash that completes carries the right bytes,
// nothing is sent unasked, and nothing grows without bound.
#include "support/emulator.h"
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/scriptedclient.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

class ReliabilityTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void twoHundredFlashes();
    void deviceFaults_data();
    void deviceFaults();
    void strayClientsDuringFlash();
    void silentClientDoesNotBlockDevice();
    void junkStreamStaysBounded();
    void clientThatNeverReadsIsNotAnsweredForever();
    void programStartsAndListens();
    void programStartsWithPortTaken();

private:
    // Loads `image` with the Download button and lets the emulator fetch it.
    EmulatorRun flash(const QByteArray &image, const QStringList &extra = {});

    std::unique_ptr<FakeAdapters> m_adapters;
    std::unique_ptr<ServerInterface> m_window;
    std::unique_ptr<ModalBoxes> m_boxes;
    QTemporaryDir m_scratch;
};

void ReliabilityTest::init()
{
    m_adapters.reset(new FakeAdapters);
    m_window.reset(new ServerInterface(m_adapters.get()));
    m_window->show();
    m_boxes.reset(new ModalBoxes);
}

void ReliabilityTest::cleanup()
{
    m_boxes.reset();
    m_window.reset();
    m_adapters.reset();
    removeTestImage();
}

EmulatorRun ReliabilityTest::flash(const QByteArray &image, const QStringList &extra)
{
    const QString expected = writeTestImageWithCopy(image, m_scratch.path());
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    Emulator device(QStringList({"--expect", expected, "--quiet"}) + extra);
    return device.wait(60000);
}

void ReliabilityTest::twoHundredFlashes()
{
    QRandomGenerator random(11);
    qint64 afterTenth = 0;
    for (int round = 1; round <= 200; ++round) {
        // Sizes around block boundaries as often as not; a new image each time.
        const int blocks = 1 + int(random.bounded(24));
        const int length = blocks * 1024 + int(random.bounded(3)) - 1;
        const EmulatorRun run = flash(patternImage(length, round));
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(QStringLiteral("flash %1: %2").arg(round).arg(run.output)));
        QTRY_VERIFY(!m_window->m_tcpServer->m_hasFile);
        QCOMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
        if (round == 10) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            afterTenth = residentKiB();
        }
    }
    QCOMPARE(m_boxes->count(), 0);
    qInfo("200 flashes verified; resident memory after the 10th: %lld KiB", afterTenth);
    // Connections that ended are freed: at most the last one is left.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_VERIFY(m_window->m_tcpServer->m_server->findChildren<QTcpSocket *>().size() <= 1);
    // The sanitizer keeps freed memory in quarantine, so memory says nothing there.
    const qint64 growth = residentKiB() - afterTenth;
    qInfo("resident memory after the 200th: %lld KiB", afterTenth + growth);
#ifndef UNDER_ASAN
    QVERIFY2(growth < 2048, qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth)));
#else
    Q_UNUSED(growth);
#endif
}

void ReliabilityTest::deviceFaults_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("boxes");
    const QStringList none;
    const QStringList stalled = {"Network interruption, please restart TcpServer."};
    QTest::newRow("disconnect before updata") << true << QStringList{"--disconnect-on-connect"} << 3 << none;
    QTest::newRow("disconnect after the header") << true << QStringList{"--disconnect-after-header"} << 3 << none;
    QTest::newRow("disconnect after one block") << true << QStringList{"--disconnect-after", "1"} << 3 << none;
    QTest::newRow("disconnect after 7 blocks") << true << QStringList{"--disconnect-after", "7"} << 3 << none;
    QTest::newRow("disconnect one block short") << true << QStringList{"--disconnect-after", "11"} << 3 << none;
    QTest::newRow("stall with the connection open") << true << QStringList{"--stop-after", "5", "--hold", "2500"} << 3
                                                    << stalled;
    QTest::newRow("stray requests first") << true << QStringList{"--send", "OK", "--send", "updata\\r\\n"} << 0
                                          << none;
    QTest::newRow("asks before Download") << false << QStringList{"--expect-refusal", "--timeout", "800"} << 0
                                          << QStringList{"Didn't click 'Download' button to download the data."};
}

void ReliabilityTest::deviceFaults()
{
    QFETCH(bool, loaded);
    QFETCH(QStringList, fault);
    QFETCH(int, exitCode);
    QFETCH(QStringList, boxes);
    const QByteArray image = patternImage(12 * 1024 - 5, 3);
    const EmulatorRun run = loaded ? flash(image, fault) : Emulator(fault).wait(10000);
    QVERIFY2(run.finished && run.exitCode == exitCode, qPrintable(run.output));
    QTRY_VERIFY(!m_window->m_tcpServer->m_hasFile);
    QCOMPARE(m_boxes->texts, boxes);
    if (exitCode == 3)
        QVERIFY(m_window->m_messageLabel->text() != QStringLiteral("Download complete"));
    // Load again and flash again: the whole image, from its first byte.
    const EmulatorRun again = flash(image);
    QVERIFY2(again.finished && again.exitCode == 0, qPrintable(again.output));
    QTRY_COMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
}

void ReliabilityTest::strayClientsDuringFlash()
{
    const QString expected = writeTestImageWithCopy(patternImage(300 * 1024, 4), m_scratch.path());
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    Emulator device({"--expect", expected, "--quiet", "--delay", "2"});
    QTRY_VERIFY(m_window->m_tcpServer->m_isDownloading);

    // While blocks flow, strays come and ask; they get nothing and go.
    int strays = 0;
    QElapsedTimer clock;
    clock.start();
    while (m_window->m_tcpServer->m_isDownloading && clock.elapsed() < 20000 && strays < 200) {
        ScriptedClient stray;
        stray.send(strays % 2 ? QByteArray("ok") : QByteArray("updata"));
        QVERIFY(stray.closedByServer());
        QVERIFY(stray.pending().isEmpty());
        ++strays;
    }
    const EmulatorRun run = device.wait(60000);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QVERIFY(strays > 5);
    qInfo("%d stray connections during one flash of 300 blocks", strays);
    QCOMPARE(m_boxes->count(), 0);
}

void ReliabilityTest::silentClientDoesNotBlockDevice()
{
    ScriptedClient silent;
    QTRY_VERIFY(m_window->m_tcpServer->m_socket);
    const EmulatorRun run = flash(patternImage(5000, 5));
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QVERIFY(silent.closedByServer());
    QVERIFY(silent.pending().isEmpty());
}

void ReliabilityTest::junkStreamStaysBounded()
{
    writeTestImage(patternImage(4096, 6));
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    ScriptedClient junk;
    QTRY_VERIFY(m_window->m_tcpServer->m_socket);
    const qint64 before = residentKiB();
    QRandomGenerator random(6);
    QByteArray chunk(16 * 1024, '\0');
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    while (clock.elapsed() < 3000 && sent < (qint64(1) << 30)) {
        for (char &byte : chunk)
            byte = char(random.bounded(1, 256)); // no zero byte: each read is one long request
        junk.socket.write(chunk);
        sent += chunk.size();
        QCoreApplication::processEvents();
        while (junk.socket.bytesToWrite() > 256 * 1024 && clock.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QVERIFY(junk.quietFor(200));
    QVERIFY(sent > 1024 * 1024);
    qInfo("%lld bytes of junk in 3 s, resident memory grew by %lld KiB", sent, residentKiB() - before);
    const int pane = m_window->m_clientInputBrowser->toPlainText().size();
    QVERIFY(pane <= ServerInterface::kMaxClientInputChars);
    const qint64 growth = residentKiB() - before;
#ifndef UNDER_ASAN
    QVERIFY2(growth < 64 * 1024, qPrintable(QString::number(growth)));
#else
    Q_UNUSED(growth);
#endif
    // The junk's echo is cut short; the device then flashes as usual.
    for (const QString &echo : m_window->m_clientInputBrowser->toPlainText().split(QLatin1Char(' ')))
        QVERIFY(echo.size() <= TcpServer::kMaxEchoChars);
    const EmulatorRun run = flash(patternImage(4096, 6));
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
}

void ReliabilityTest::clientThatNeverReadsIsNotAnsweredForever()
{
    writeTestImage(patternImage(64 * 1024 * 1024, 7));
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    ScriptedClient greedy;
    QTRY_VERIFY(m_window->m_tcpServer->m_socket);
    // It stops reading: what the kernel holds fills up, then the server stops
    // answering rather than buffering without end.
    greedy.socket.setReadBufferSize(1);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        greedy.socket.write("ok");
        greedy.socket.flush();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    TcpServer *server = m_window->m_tcpServer;
    qInfo("a client that never reads: %d blocks sent, %lld bytes waiting to go", server->m_sentBlocks,
          server->m_socket->bytesToWrite());
    QVERIFY(server->m_socket->bytesToWrite() <= TcpServer::kMaxUnsentBytes + TcpServer::kBlockSize);
    QVERIFY2(server->m_sentBlocks < server->m_totalBlocks, qPrintable(QString::number(server->m_sentBlocks)));
}

void ReliabilityTest::programStartsAndListens()
{
    m_window.reset(); // frees the fixture's server and its port
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TCPSERVER_PROGRAM), QStringList());
    QVERIFY(program.waitForStarted(10000));
    bool connected = false;
    QElapsedTimer clock;
    clock.start();
    while (!connected && clock.elapsed() < 20000 && program.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), TcpServer::kPort);
        connected = socket.waitForConnected(500);
        if (!connected)
            QTest::qWait(100);
    }
    program.kill();
    program.waitForFinished(5000);
    QVERIFY2(connected, "the program did not accept a connection on 127.0.0.1 port 10013");
}

void ReliabilityTest::programStartsWithPortTaken()
{
    m_window.reset(); // frees the fixture's server and its port
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::Any, TcpServer::kPort));
    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TCPSERVER_PROGRAM), QStringList());
    QVERIFY(program.waitForStarted(10000));
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (!output.contains("The bound address is already in use") && program.state() == QProcess::Running &&
           clock.elapsed() < 10000) {
        program.waitForReadyRead(100);
        output += program.readAll();
    }
    QVERIFY2(output.contains("The bound address is already in use"), output.constData());
    QTest::qWait(500);
    const bool running = program.state() == QProcess::Running;
    program.kill();
    program.waitForFinished(5000);
    QVERIFY2(running, "the program must keep running without its port");
}

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
