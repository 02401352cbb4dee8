// Whole flashes: Download pressed, the device emulator fetches the image and
// verifies it; and the emulator's own verdicts on servers that misbehave.
#include "support/debuglog.h"
#include "support/emulator.h"
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// A stand-in server on a free loopback port whose answers the test scripts.
class FakeServer : public QObject
{
public:
    std::function<void(QTcpSocket *, const QByteArray &)> onRequest;
    bool answerNothing = false;

    FakeServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->readAll();
                if (onRequest)
                    onRequest(socket, request);
            });
        });
    }
    QString port() const { return QString::number(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

} // namespace

class FlashTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void flashesAndVerifies();
    void stallThenNewFlash();
    void disconnectMidway();
    void askingBeforeDownloadIsRefused();
    void emulatorReportsRefusedConnection();
    void emulatorReportsTimeout();
    void emulatorReportsShortRead();
    void emulatorReportsUnaskedBytes();
    void emulatorReportsMismatch();

private:
    std::unique_ptr<FakeAdapters> m_adapters;
    std::unique_ptr<ServerInterface> m_window;
    std::unique_ptr<ModalBoxes> m_boxes;
    QString m_expected;
};

void FlashTest::init()
{
    m_adapters.reset(new FakeAdapters);
    m_window.reset(new ServerInterface(m_adapters.get()));
    m_window->show();
    m_boxes.reset(new ModalBoxes);
    m_expected = QDir::tempPath() + QStringLiteral("/tcpserver-expected-%1.bin").arg(QCoreApplication::applicationPid());
}

void FlashTest::cleanup()
{
    m_boxes.reset();
    m_window.reset();
    m_adapters.reset();
    removeTestImage();
    QFile::remove(m_expected);
}

static void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void FlashTest::flashesAndVerifies()
{
    const QByteArray image = patternImage(300 * 1024 + 77);
    writeTestImage(image);
    writeFile(m_expected, image);
    DebugLog log;
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);

    Emulator device({"--expect", m_expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QVERIFY(run.output.contains("verified: the image matches byte for byte"));
    QVERIFY(run.output.contains("received 307277 bytes in 301 blocks"));

    QTRY_VERIFY(!m_window->m_tcpServer->m_hasFile);
    QCOMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(m_window->m_progressBar->value(), 100);
    for (QLabel *label : {m_window->m_step4TextLabel1, m_window->m_step4TextLabel2, m_window->m_step4TextLabel3})
        QCOMPARE(label->styleSheet(), QStringLiteral("color:green;"));
    QCOMPARE(m_window->m_fileStatusEdit->text(), QStringLiteral("Reading data is complete...Download complete"));
    QVERIFY(m_window->m_tcpServer->m_fileData.isEmpty());
    QCOMPARE(log.lines(), QStringList({"Client connect!", "Disconnected!"}));
    QCOMPARE(m_boxes->count(), 0);
}

void FlashTest::stallThenNewFlash()
{
    const QByteArray image = patternImage(20 * 1024);
    writeTestImage(image);
    writeFile(m_expected, image);
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);

    Emulator stalling({"--stop-after", "5", "--hold", "2500"});
    const EmulatorRun stalled = stalling.wait();
    QVERIFY2(stalled.finished && stalled.exitCode == 3, qPrintable(stalled.output));
    QCOMPARE(m_boxes->texts, QStringList({"Network interruption, please restart TcpServer."}));
    QVERIFY(!m_window->m_tcpServer->m_hasFile);

    // Load again, flash again: the whole image, right from its first byte.
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    Emulator device({"--expect", m_expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QTRY_COMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(m_boxes->count(), 1);
}

void FlashTest::disconnectMidway()
{
    writeTestImage(patternImage(10 * 1024));
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    DebugLog log;
    Emulator device({"--disconnect-after", "4"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 3, qPrintable(run.output));
    QTRY_VERIFY(!m_window->m_tcpServer->m_hasFile);
    QCOMPARE(log.count("Disconnected!"), 1);
    QCOMPARE(m_window->m_messageLabel->text(), QStringLiteral("Downloading......"));
    QCOMPARE(m_window->m_step4TextLabel1->styleSheet(), QStringLiteral("color:black;"));
    QCOMPARE(m_boxes->count(), 0);
}

void FlashTest::askingBeforeDownloadIsRefused()
{
    Emulator device({"--expect-refusal", "--timeout", "800"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(m_boxes->texts, QStringList({"Didn't click 'Download' button to download the data."}));
}

void FlashTest::emulatorReportsRefusedConnection()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    Emulator device({"--port", port});
    const EmulatorRun run = device.wait();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("error: connection refused by 127.0.0.1:" + port), qPrintable(run.output));
}

void FlashTest::emulatorReportsTimeout()
{
    FakeServer silent;
    Emulator device({"--port", silent.port(), "--timeout", "300"});
    const EmulatorRun run = device.wait(10000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("error: time-out after 300 ms waiting for the length header"), qPrintable(run.output));
}

void FlashTest::emulatorReportsShortRead()
{
    FakeServer server;
    server.onRequest = [](QTcpSocket *socket, const QByteArray &request) {
        if (request == "updata") {
            socket->write(QByteArray("\x00\x10\x00\x00", 4)); // 4096 bytes
        } else {
            socket->write(QByteArray(600, 'x'));
            socket->disconnectFromHost();
        }
    };
    Emulator device({"--port", server.port()});
    const EmulatorRun run = device.wait(10000);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("error: short read: the connection closed after 600 of 1024 bytes of block 1"),
             qPrintable(run.output));
}

void FlashTest::emulatorReportsUnaskedBytes()
{
    FakeServer server;
    server.onRequest = [](QTcpSocket *socket, const QByteArray &request) {
        if (request == "updata")
            socket->write(QByteArray("\x00\x08\x00\x00", 4) + "surplus");
    };
    Emulator device({"--port", server.port()});
    const EmulatorRun run = device.wait(10000);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("error: the server sent 7 bytes nobody asked for after the length header"),
             qPrintable(run.output));
}

void FlashTest::emulatorReportsMismatch()
{
    const QByteArray image = patternImage(5000, 1);
    QByteArray other = image;
    other[4097] = char(other[4097] ^ 1);
    writeTestImage(image);
    writeFile(m_expected, other);
    QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton);
    Emulator device({"--expect", m_expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("error: MISMATCH at byte 4097"), qPrintable(run.output));
    QVERIFY(run.output.contains("sha256 expected"));
    QVERIFY(run.output.contains("sha256 received"));
}

QTEST_MAIN(FlashTest)
#include "tst_flash.moc"
