// The download protocol as a device sees it, and what the window shows while
// it runs: lengths, blocks, filler, progress, messages, refusal, stall, and
// connections that come while another is open.
#include "support/debuglog.h"
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/scriptedclient.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBrowser>
#include <QtEndian>

#include <memory>

namespace {

const QString kGreen = QStringLiteral("color:green;");

QByteArray blockOf(const QByteArray &image, int index)
{
    QByteArray block = image.mid(index * 1024, 1024);
    return block + QByteArray(1024 - block.size(), '\0');
}

QByteArray header(qint32 length)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((quint32(length) >> (8 * i)) & 0xFF);
    return bytes;
}

// The ServerOutput view of a 1024-byte block: its first 334 bytes as hex pairs.
QString viewOf(const QByteArray &block)
{
    QStringList pairs;
    for (int i = 0; i < 334; ++i)
        pairs << QString::asprintf("%02X", uchar(block.at(i)));
    return pairs.join(QLatin1Char(' '));
}

} // namespace

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serves2500ByteImage();
    void blockBoundaries_data();
    void blockBoundaries();
    void progressSequences_data();
    void progressSequences();
    void onlyWholeRequestsAreAnswered();
    void emptyImageAnnouncesZero();
    void secondUpdataKeepsPosition();
    void refusesWithoutImage();
    void stallEndsTransfer();
    void disconnectBeforeFirstBlock();
    void twoDownloadsInARow();
    void secondConnection_data();
    void secondConnection();
    void okBeyondImageSendsNothing();

private:
    void download() { QTest::mouseClick(m_window->m_downloadButton, Qt::LeftButton); }
    // Connects a device and waits until the server has taken it.
    std::unique_ptr<ScriptedClient> connectDevice();
    // Loads the image, connects a device that asks for the length and fetches
    // the first `blocks` blocks.
    std::unique_ptr<ScriptedClient> deviceAfter(const QByteArray &image, int blocks);
    // Fetches blocks [from, to) with "ok" and checks each against the image.
    void fetch(ScriptedClient &device, const QByteArray &image, int from, int to);

    std::unique_ptr<FakeAdapters> m_adapters;
    std::unique_ptr<ServerInterface> m_window;
    std::unique_ptr<ModalBoxes> m_boxes;
    std::unique_ptr<DebugLog> m_log;
    TcpServer *m_server = nullptr;
};

void ProtocolTest::init()
{
    m_adapters.reset(new FakeAdapters);
    m_window.reset(new ServerInterface(m_adapters.get()));
    m_window->show();
    m_server = m_window->m_tcpServer;
    QVERIFY(m_server && m_server->m_server->isListening());
    m_boxes.reset(new ModalBoxes);
    m_log.reset(new DebugLog);
}

void ProtocolTest::cleanup()
{
    m_log.reset();
    m_boxes.reset();
    m_window.reset();
    m_adapters.reset();
    removeTestImage();
}

std::unique_ptr<ScriptedClient> ProtocolTest::connectDevice()
{
    std::unique_ptr<ScriptedClient> device(new ScriptedClient);
    [&] { QVERIFY(device->isConnected()); }();
    const quint16 port = device->socket.localPort();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(m_server->m_socket && m_server->m_socket->peerPort() == port, 3000); }();
    return device;
}

std::unique_ptr<ScriptedClient> ProtocolTest::deviceAfter(const QByteArray &image, int blocks)
{
    writeTestImage(image);
    download();
    auto device = connectDevice();
    device->send("updata");
    [&] { QCOMPARE(device->take(4), header(image.size())); }();
    fetch(*device, image, 0, blocks);
    return device;
}

void ProtocolTest::fetch(ScriptedClient &device, const QByteArray &image, int from, int to)
{
    for (int index = from; index < to; ++index) {
        device.send("ok");
        const QByteArray block = device.take(1024);
        QCOMPARE(block.size(), 1024);
        QVERIFY2(block == blockOf(image, index), qPrintable(QStringLiteral("block %1 differs").arg(index)));
        QCOMPARE(m_server->m_sentBlocks, index + 1);
    }
}

void ProtocolTest::serves2500ByteImage()
{
    const QByteArray image = patternImage(2500);
    writeTestImage(image);
    download();
    QCOMPARE(m_window->m_fileStatusEdit->text(), QStringLiteral("Reading data is complete......"));

    auto device = connectDevice();
    QCOMPARE(m_window->m_clientIpLabel->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(m_window->m_step3TextLabel1->styleSheet(), kGreen);
    QCOMPARE(m_window->m_step3TextLabel3->styleSheet(), kGreen);
    QCOMPARE(m_log->count("Client connect!"), 1);

    device->send("updata");
    QCOMPARE(device->take(4), QByteArray("\xC4\x09\x00\x00", 4));

    const QStringList messages = {"Downloading...", "Downloading......", "Downloading..."};
    const QList<int> progress = {33, 66, 100};
    for (int index = 0; index < 3; ++index) {
        device->send("ok");
        const QByteArray block = device->take(1024);
        QCOMPARE(block, blockOf(image, index));
        QCOMPARE(m_window->m_messageLabel->text(), messages.at(index));
        QCOMPARE(m_window->m_messageLabel->styleSheet(), QStringLiteral("color:black;"));
        QCOMPARE(m_window->m_progressBar->value(), progress.at(index));
        QCOMPARE(m_window->m_serverOutputBrowser->toPlainText(), viewOf(block));
    }
    QCOMPARE(blockOf(image, 2).right(572), QByteArray(572, '\0'));

    // A fourth "ok" finds nothing left.
    device->send("ok");
    QVERIFY(device->quietFor(300));
    QCOMPARE(m_window->m_clientInputBrowser->toPlainText(), QStringLiteral("updata ok ok ok ok "));

    device->close();
    QTRY_VERIFY(!m_server->m_hasFile);
    QCOMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(m_window->m_messageLabel->styleSheet(), kGreen);
    QCOMPARE(m_window->m_fileStatusEdit->text(), QStringLiteral("Reading data is complete...Download complete"));
    QCOMPARE(m_window->m_progressBar->value(), 100);
    for (QLabel *label : {m_window->m_step4TextLabel1, m_window->m_step4TextLabel2, m_window->m_step4TextLabel3})
        QCOMPARE(label->styleSheet(), kGreen);
    QVERIFY(m_server->m_fileData.isEmpty());
    QCOMPARE(m_server->m_sendPos, nullptr);
    QCOMPARE(m_server->m_requestText, QStringLiteral("end"));
    QCOMPARE(m_log->count("Disconnected!"), 1);
    QCOMPARE(m_boxes->count(), 0);
}

void ProtocolTest::blockBoundaries_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("one byte") << 1;
    QTest::newRow("one block") << 1024;
    QTest::newRow("two blocks") << 2048;
    QTest::newRow("two blocks and a byte") << 2049;
    QTest::newRow("a byte short of two blocks") << 2047;
}

void ProtocolTest::blockBoundaries()
{
    QFETCH(int, length);
    const QByteArray image = patternImage(length, length);
    writeTestImage(image);
    download();
    auto device = connectDevice();
    device->send("updata");
    QCOMPARE(device->take(4), header(length));
    const int blocks = (length + 1023) / 1024;
    fetch(*device, image, 0, blocks);
    device->send("ok");
    QVERIFY(device->quietFor(200));
    device->close();
    QTRY_COMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
}

void ProtocolTest::progressSequences_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("3 blocks") << 3 << QList<int>{33, 66, 100};
    QTest::newRow("12 blocks") << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 99};
    QList<int> hundred;
    for (int i = 1; i <= 100; ++i)
        hundred << i;
    QTest::newRow("100 blocks") << 100 << hundred;
    QTest::newRow("1000 blocks") << 1000 << QList<int>();
}

void ProtocolTest::progressSequences()
{
    QFETCH(int, blocks);
    QFETCH(QList<int>, expected);
    writeTestImage(patternImage(blocks * 1024 - 7));
    download();
    auto device = connectDevice();
    device->send("updata");
    device->take(4);
    QList<int> seen;
    for (int i = 0; i < blocks; ++i) {
        device->send("ok");
        QCOMPARE(device->take(1024).size(), 1024);
        seen << m_window->m_progressBar->value();
    }
    if (blocks == 1000) {
        // Nothing moves until the sum passes 1 (block 11); then it follows the
        // truncated sum, which falls just short of 100.
        QCOMPARE(seen.mid(0, 10), QList<int>({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(seen.at(10), 1);
        QCOMPARE(seen.at(499), 50);
        QCOMPARE(seen.last(), 99);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY(seen.at(i) >= seen.at(i - 1));
    } else {
        QCOMPARE(seen, expected);
    }
    device->close();
    QTRY_COMPARE(m_window->m_progressBar->value(), 100);
}

void ProtocolTest::onlyWholeRequestsAreAnswered()
{
    const QByteArray image = patternImage(3000);
    writeTestImage(image);
    download();
    auto device = connectDevice();
    const QList<QByteArray> strays = {"updata\n", "OK", "UPDATA", "ok\r\n", "updataok", " ok", "o", ""};
    for (const QByteArray &stray : strays) {
        if (stray.isEmpty())
            continue;
        device->send(stray);
        QVERIFY2(device->quietFor(150), stray.constData());
        QVERIFY(m_server->m_requestText != QStringLiteral("ok"));
    }
    QCOMPARE(m_window->m_clientInputBrowser->toPlainText(),
             QStringLiteral("updata\n OK UPDATA ok\n updataok  ok o "));
    QCOMPARE(m_server->m_sentBlocks, 0);

    // A zero byte ends the request: what follows it does not count.
    device->send(QByteArray("updata\0junk", 11));
    QCOMPARE(device->take(4), header(3000));
    device->send(QByteArray("ok\0\0\0", 5));
    QCOMPARE(device->take(1024), blockOf(image, 0));
}

void ProtocolTest::emptyImageAnnouncesZero()
{
    removeTestImage();
    download();
    QCOMPARE(m_window->m_fileStatusEdit->text(), QStringLiteral("Failed to read data."));
    auto device = connectDevice();
    device->send("updata");
    QCOMPARE(device->take(4), header(0));
    device->send("ok");
    QVERIFY(device->quietFor(300));
    QCOMPARE(m_boxes->count(), 0);
    // The watch stays quiet for an image with no blocks.
    QTest::qWait(1200);
    QCOMPARE(m_boxes->count(), 0);
}

void ProtocolTest::secondUpdataKeepsPosition()
{
    const QByteArray image = patternImage(5 * 1024);
    auto device = deviceAfter(image, 2);
    device->send("updata");
    QCOMPARE(device->take(4), header(image.size()));
    QCOMPARE(m_server->m_requestText, QStringLiteral("updata"));
    fetch(*device, image, 2, 5);
}

void ProtocolTest::refusesWithoutImage()
{
    auto device = connectDevice();
    std::unique_ptr<ScriptedClient> second;
    int openWithSecond = 0;
    QString step2WhileOpen;
    m_boxes->whileOpen = [&](const QString &) {
        if (m_boxes->count() == 1) {
            // While the box is open another device connects and asks too: a
            // second box opens above the first.
            step2WhileOpen = m_window->m_step2TextLabel1->styleSheet();
            m_boxes->hold = true;
            second.reset(new ScriptedClient);
            second->send("updata");
        } else {
            openWithSecond = ModalBoxes::openCount();
            m_boxes->hold = false;
        }
    };
    device->send("updata");
    QTRY_COMPARE(m_boxes->count(), 2);
    QTRY_COMPARE(ModalBoxes::openCount(), 0);
    QCOMPARE(openWithSecond, 2);
    QCOMPARE(m_boxes->texts, QStringList({"Didn't click 'Download' button to download the data.",
                                          "Didn't click 'Download' button to download the data."}));
    QCOMPARE(m_boxes->titles, QStringList({"TcpServer", "TcpServer"}));
    QCOMPARE(step2WhileOpen, QStringLiteral("color:red;"));
    QCOMPARE(m_window->m_step2TextLabel2->styleSheet(), QStringLiteral("color:red;"));

    // The second device replaced the first; its own refusal ended it. Neither
    // is served any more, and the server leaves the newest one open.
    QVERIFY(device->closedByServer());
    QCOMPARE(m_server->m_requestText, QStringLiteral("end"));
    QCOMPARE(m_log->count("Disconnected!"), 1);
    second->send("updata");
    QVERIFY(second->quietFor(300));
    QCOMPARE(m_boxes->count(), 2);
    QVERIFY(second->isConnected());
    QVERIFY(!m_server->m_hasFile);
    // Even once an image is loaded, the refused connection gets nothing; a
    // fresh one is served.
    writeTestImage(patternImage(1024));
    download();
    second->send("updata");
    QVERIFY(second->quietFor(300));
    QVERIFY(second->pending().isEmpty());
    auto next = connectDevice();
    next->send("updata");
    QCOMPARE(next->take(4), header(1024));
}

void ProtocolTest::stallEndsTransfer()
{
    const QByteArray image = patternImage(10 * 1024);
    auto device = deviceAfter(image, 2);
    // The device goes silent: within two watch periods the box comes, once.
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->count(), 1, 3000);
    QCOMPARE(m_boxes->texts.first(), QStringLiteral("Network interruption, please restart TcpServer."));
    QTRY_VERIFY(!m_server->m_hasFile);
    QCOMPARE(m_window->m_step4TextLabel1->styleSheet(), QStringLiteral("color:red;"));
    QCOMPARE(m_window->m_step4TextLabel3->styleSheet(), QStringLiteral("color:red;"));
    QVERIFY(!m_server->m_isDownloading);
    QCOMPARE(m_log->count("Disconnected!"), 1);

    device->send("ok");
    QVERIFY(device->quietFor(1200));
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(device->isConnected());
}

void ProtocolTest::disconnectBeforeFirstBlock()
{
    writeTestImage(patternImage(4096));
    download();
    auto device = connectDevice();
    device->send("updata");
    device->take(4);
    device->close();
    QTRY_VERIFY(!m_server->m_hasFile);
    QCOMPARE(m_log->count("Disconnected!"), 1);
    QCOMPARE(m_window->m_messageLabel->text(), QString());
    QCOMPARE(m_window->m_progressBar->value(), 0);
    QCOMPARE(m_window->m_step4TextLabel1->styleSheet(), QStringLiteral("color:black;"));
    QCOMPARE(m_boxes->count(), 0);
}

void ProtocolTest::twoDownloadsInARow()
{
    const QByteArray first = patternImage(3000, 1);
    const QByteArray second = patternImage(5000, 2);
    writeTestImage(first);
    download();
    auto device = connectDevice();
    device->send("updata");
    device->take(4);
    fetch(*device, first, 0, 1);

    // The operator loads again mid-way: the transfer starts over with the new image.
    writeTestImage(second);
    download();
    QCOMPARE(m_server->m_fileData, second);
    QCOMPARE(m_server->m_blockIndex, 0);
    QCOMPARE(m_server->m_sentBlocks, 0);
    QVERIFY(!m_server->m_isDownloading);
    QVERIFY(m_window->m_clientInputBrowser->toPlainText().isEmpty());
    QVERIFY(m_window->m_clientIpLabel->text().isEmpty());
    device->send("updata");
    QCOMPARE(device->take(4), header(5000));
    fetch(*device, second, 0, 5);
    device->close();
    QTRY_COMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
}

void ProtocolTest::secondConnection_data()
{
    QTest::addColumn<int>("blocksBefore"); // -1: no image loaded yet
    QTest::addColumn<bool>("stall");
    QTest::addColumn<bool>("downloadAgain");
    QTest::addColumn<bool>("newcomerServed");
    QTest::newRow("idle, no image") << -1 << false << false << true;
    QTest::newRow("before the first block") << 0 << false << false << true;
    QTest::newRow("while sending") << 3 << false << false << false;
    QTest::newRow("after the last block, still open") << 7 << false << false << false;
    QTest::newRow("after a stall") << 2 << true << false << true;
    QTest::newRow("hung device, Download pressed again") << 2 << false << true << true;
}

void ProtocolTest::secondConnection()
{
    QFETCH(int, blocksBefore);
    QFETCH(bool, stall);
    QFETCH(bool, downloadAgain);
    QFETCH(bool, newcomerServed);
    const QByteArray image = patternImage(7 * 1024 - 10);
    writeTestImage(image);
    if (blocksBefore >= 0)
        download();
    auto first = connectDevice();
    if (blocksBefore >= 0) {
        first->send("updata");
        first->take(4);
        fetch(*first, image, 0, blocksBefore);
    }
    if (stall) {
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->count(), 1, 3000);
        QTRY_VERIFY(!m_server->m_hasFile);
    }
    if (downloadAgain)
        download();
    QTcpSocket *serving = m_server->m_socket;

    if (newcomerServed) {
        // The newcomer replaces the earlier connection, which is cut and closed:
        // nothing it does can reach the transfer.
        auto device = connectDevice();
        QVERIFY(first->closedByServer());
        if (blocksBefore < 0 || stall)
            download();
        device->send("updata");
        QCOMPARE(device->take(4), header(image.size()));
        fetch(*device, image, 0, 7);
        device->close();
    } else {
        // A transfer runs on an open connection: the newcomer is closed at once.
        ScriptedClient stray;
        QVERIFY(stray.closedByServer());
        QVERIFY(stray.pending().isEmpty());
        QCOMPARE(m_server->m_socket, serving);
        QCOMPARE(m_log->count("Client connect!"), 1);
        fetch(*first, image, blocksBefore, 7);
        first->close();
    }
    QTRY_COMPARE(m_window->m_messageLabel->text(), QStringLiteral("Download complete"));
    QCOMPARE(m_boxes->count(), stall ? 1 : 0);
}

void ProtocolTest::okBeyondImageSendsNothing()
{
    const QByteArray image = patternImage(2 * 1024 + 10);
    auto device = deviceAfter(image, 3);
    // However the block count is pushed about, nothing past the image goes out.
    for (int index : {1, 0, 2, -1}) {
        m_server->m_blockIndex = index;
        device->send("ok");
        QVERIFY2(device->quietFor(150), qPrintable(QString::number(index)));
    }
    QCOMPARE(m_server->m_sentBlocks, 3);
}

QTEST_MAIN(ProtocolTest)
#include "tst_protocol.moc"
