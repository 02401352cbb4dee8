// The transfer server object: image hand-off, block counting, the transfer
// watch and a taken port.
#include "support/debuglog.h"
#include "support/fakeadapters.h"
#include "support/modalboxes.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <memory>

class TransferServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countsBlocks_data();
    void countsBlocks();
    void handOffKeepsOwnBytes();
    void watchIdlesOutsideSending_data();
    void watchIdlesOutsideSending();
    void watchToleratesSteadyBlocks();
    void watchEndsStalledTransferOnce();
    void takenPortIsReportedOnce();

private:
    // A server in the middle of a transfer: blocks handed out, last request "ok".
    void putInSending(int sent, int total);

    std::unique_ptr<FakeAdapters> m_adapters;
    std::unique_ptr<ServerInterface> m_window;
    TcpServer *m_server = nullptr;
};

void TransferServerTest::init()
{
    m_adapters.reset(new FakeAdapters);
    m_window.reset(new ServerInterface(m_adapters.get()));
    m_server = m_window->m_tcpServer;
    QVERIFY(m_server);
}

void TransferServerTest::cleanup()
{
    m_window.reset();
    m_adapters.reset();
}

void TransferServerTest::countsBlocks_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("blocks");
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("one block") << 1024 << 1;
    QTest::newRow("one block and a byte") << 1025 << 2;
    QTest::newRow("2500 bytes") << 2500 << 3;
    QTest::newRow("three blocks") << 3 * 1024 << 3;
    QTest::newRow("three blocks and a byte") << 3 * 1024 + 1 << 4;
    QTest::newRow("a block short of a byte") << 1023 << 1;
    QTest::newRow("1000 blocks") << 1000 * 1024 << 1000;
}

void TransferServerTest::countsBlocks()
{
    QFETCH(int, length);
    QFETCH(int, blocks);
    emit m_window->sendDataSig(QByteArray(length, '\x5a'));
    QCOMPARE(m_server->m_totalBlocks, blocks);
    QCOMPARE(m_server->m_percentStep, 100.0 / blocks);
    // Progress starts one step above zero.
    QCOMPARE(m_server->m_percent, m_server->m_percentStep);
    QVERIFY(m_server->m_hasFile);
    QCOMPARE(m_server->m_fileData.size(), length);
}

void TransferServerTest::handOffKeepsOwnBytes()
{
    const QByteArray image(5000, 'o');
    emit m_window->sendDataSig(image);
    // The send position points into bytes of the server's own.
    QVERIFY(!m_server->m_fileData.isSharedWith(image));
    QCOMPARE(m_server->m_sendPos, m_server->m_fileData.data());
    QCOMPARE(m_server->m_fileData, image);
    QVERIFY(m_server->m_watchTimer->isActive());
    QCOMPARE(m_server->m_watchTimer->interval(), 500);

    // The empty image an unreadable file gives still counts as an image held.
    emit m_window->sendDataSig(QByteArray());
    QVERIFY(m_server->m_hasFile);
    QCOMPARE(m_server->m_totalBlocks, 0);
    QVERIFY(!std::isfinite(m_server->m_percentStep));
}

void TransferServerTest::putInSending(int sent, int total)
{
    QCOMPARE(m_server->m_totalBlocks, total);
    m_server->m_sentBlocks = sent;
    m_server->m_blockIndex = sent;
    m_server->m_isDownloading = true;
    m_server->m_requestText = QStringLiteral("ok");
}

void TransferServerTest::watchIdlesOutsideSending_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("downloading");

    QTest::newRow("last request updata") << "updata" << true << 3 << true;
    QTest::newRow("before the first request") << "start" << true << 3 << true;
    QTest::newRow("after a transfer") << "end" << true << 3 << true;
    QTest::newRow("other text") << "OK" << true << 3 << true;
    QTest::newRow("ok with trailing newline") << "ok\n" << true << 3 << true;
    QTest::newRow("no image") << "ok" << false << 3 << true;
    QTest::newRow("all blocks sent") << "ok" << true << 8 << true;
    QTest::newRow("no block sent since hand-off") << "ok" << true << 0 << false;
}

void TransferServerTest::watchIdlesOutsideSending()
{
    QFETCH(QString, request);
    QFETCH(bool, hasFile);
    QFETCH(int, sent);
    QFETCH(bool, downloading);

    ModalBoxes boxes;
    emit m_window->sendDataSig(QByteArray(8 * 1024, 'i'));
    m_server->m_requestText = request;
    m_server->m_hasFile = hasFile;
    m_server->m_sentBlocks = sent;
    m_server->m_isDownloading = downloading;
    m_server->m_lastSentBlocks = sent;

    // However many ticks pass, nothing happens and nothing is remembered.
    for (int tick = 0; tick < 5; ++tick)
        m_server->slotJudgeDisconnect();
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(m_server->m_requestText, request);
    QCOMPARE(m_server->m_lastSentBlocks, sent);
    QCOMPARE(m_server->m_isDownloading, downloading);
}

void TransferServerTest::watchToleratesSteadyBlocks()
{
    ModalBoxes boxes;
    emit m_window->sendDataSig(QByteArray(100 * 1024, 's'));
    putInSending(1, 100);
    // One or more blocks between ticks keep the transfer alive.
    for (int sent = 2; sent < 100; sent += 1 + sent % 3) {
        m_server->m_sentBlocks = sent;
        m_server->slotJudgeDisconnect();
        QCOMPARE(m_server->m_lastSentBlocks, sent);
    }
    QCOMPARE(boxes.count(), 0);
    QVERIFY(m_server->m_hasFile);
}

void TransferServerTest::watchEndsStalledTransferOnce()
{
    ModalBoxes boxes;
    emit m_window->sendDataSig(QByteArray(10 * 1024, 'w'));
    putInSending(3, 10);

    m_server->slotJudgeDisconnect(); // notes the progress
    QCOMPARE(boxes.count(), 0);
    QString requestDuringBox;
    boxes.whileOpen = [&](const QString &) {
        requestDuringBox = m_server->m_requestText;
        // Ticks while the box is open find the watch idle.
        m_server->slotJudgeDisconnect();
    };
    m_server->slotJudgeDisconnect(); // nothing moved since: stalled
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.titles.first(), QStringLiteral("TcpServer"));
    QCOMPARE(boxes.texts.first(), QStringLiteral("Network interruption, please restart TcpServer."));
    QCOMPARE(requestDuringBox, QStringLiteral("end"));
    QCOMPARE(m_window->m_step4TextLabel1->styleSheet(), QStringLiteral("color:red;"));
    QCOMPARE(m_window->m_step4TextLabel2->styleSheet(), QStringLiteral("color:red;"));
    QCOMPARE(m_window->m_step4TextLabel3->styleSheet(), QStringLiteral("color:red;"));
    QCOMPARE(m_server->m_requestText, QStringLiteral("end"));

    for (int tick = 0; tick < 4; ++tick)
        m_server->slotJudgeDisconnect();
    QCOMPARE(boxes.count(), 1);
}

void TransferServerTest::takenPortIsReportedOnce()
{
    // The fixture's server holds the port; a second one cannot have it.
    QVERIFY(m_server->m_server->isListening());
    ModalBoxes boxes;
    DebugLog log;
    TcpServer second(m_window.get());
    QCOMPARE(log.lines(), QStringList({QStringLiteral("The bound address is already in use")}));
    QVERIFY(!second.m_server->isListening());
    QCOMPARE(boxes.count(), 0);

    // It goes on working: it takes images and keeps the first server's port intact.
    second.slotRecive(QByteArray(2048, 'p'));
    QCOMPARE(second.m_totalBlocks, 2);
    QVERIFY(second.m_hasFile);
    QVERIFY(m_server->m_server->isListening());
}

QTEST_MAIN(TransferServerTest)
#include "tst_transferserver.moc"
