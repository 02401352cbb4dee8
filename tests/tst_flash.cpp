// A whole flash: Download pressed, the device emulator fetches the image and
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
#include <QTemporaryDir>
#include <QTest>

class FlashTest : public QObject
{
    Q_OBJECT

private slots:
    void flashesAndVerifies();
    void emulatorVerdicts_data();
    void emulatorVerdicts();
};

void FlashTest::flashesAndVerifies()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.show();
    ModalBoxes boxes;
    QTemporaryDir scratch;
    const QString expected = writeTestImageWithCopy(patternImage(300 * 1024 + 77), scratch.path());
    DebugLog log;
    QTest::mouseClick(w.m_downloadButton, Qt::LeftButton);

    Emulator device({"--expect", expected, "--quiet"});
    const EmulatorRun run = device.wait();
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));
    QVERIFY(run.output.contains("verified: the image matches byte for byte"));
    QVERIFY(run.output.contains("received 307277 bytes in 301 blocks"));

    QTRY_VERIFY(!w.m_tcpServer->m_hasFile);
    QCOMPARE(w.m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(w.m_progressBar->value(), 100);
    for (QLabel *label : {w.m_step4TextLabel1, w.m_step4TextLabel2, w.m_step4TextLabel3})
        QCOMPARE(label->styleSheet(), QStringLiteral("color:green;"));
    QCOMPARE(w.m_fileStatusEdit->text(), QStringLiteral("Reading data is complete...Download complete"));
    QVERIFY(w.m_tcpServer->m_fileData.isEmpty());
    QCOMPARE(log.lines(), QStringList({"Client connect!", "Disconnected!"}));
    QCOMPARE(boxes.count(), 0);
    removeTestImage();
}

void FlashTest::emulatorVerdicts_data()
{
    QTest::addColumn<QByteArray>("header");  // answer to "updata" ("" for none)
    QTest::addColumn<QByteArray>("block");   // answer to the first "ok"
    QTest::addColumn<bool>("closeAfterBlock");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("verdict");

    const QByteArray fourKiB("\x00\x10\x00\x00", 4);
    QTest::newRow("time-out") << QByteArray() << QByteArray() << false << QStringList{"--timeout", "300"}
                              << "error: time-out after 300 ms waiting for the length header";
    QTest::newRow("short read") << fourKiB << QByteArray(600, 'x') << true << QStringList{}
                                << "error: short read: the connection closed after 600 of 1024 bytes of block 1";
    QTest::newRow("unasked bytes") << fourKiB + "surplus" << QByteArray() << false << QStringList{}
                                   << "error: the server sent 7 bytes nobody asked for after the length header";
    QTest::newRow("mismatch") << QByteArray("\x05\x00\x00\x00", 4) << QByteArray("abcdX") + QByteArray(1019, '\0')
                              << false << QStringList{"--expect", "EXPECTED"} << "error: MISMATCH at byte 4";
    QTest::newRow("filler not zero") << QByteArray("\x02\x00\x00\x00", 4) << QByteArray(1024, 'f') << false
                                     << QStringList{} << "error: the last block is not completed with zero bytes";
    QTest::newRow("refused connection") << QByteArray("closed") << QByteArray() << false << QStringList{}
                                        << "error: connection refused by 127.0.0.1:";
}

void FlashTest::emulatorVerdicts()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, block);
    QFETCH(bool, closeAfterBlock);
    QFETCH(QStringList, options);
    QFETCH(QString, verdict);

    // A stand-in server on a free loopback port that answers as scripted.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(server.serverPort());
    if (header == "closed")
        server.close();
    connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, [&, socket] {
            const QByteArray request = socket->readAll();
            socket->write(request == "updata" ? header : block);
            if (request == "ok" && closeAfterBlock)
                socket->disconnectFromHost();
        });
    });
    QTemporaryDir scratch;
    QFile expected(scratch.filePath("expected.bin"));
    QVERIFY(expected.open(QIODevice::WriteOnly) && expected.write("abcde") == 5);
    expected.close();
    options.replaceInStrings("EXPECTED", expected.fileName());

    Emulator device(QStringList({"--port", port}) + options);
    const EmulatorRun run = device.wait(10000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains(verdict), qPrintable(run.output));
}

QTEST_MAIN(FlashTest)
#include "tst_flash.moc"
