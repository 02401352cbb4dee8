// Download: the address guard, what the window resets, reading the image
// whole or not at all, the preview, and the hand-off to the server.
#include "support/debuglog.h"
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/scriptedclient.h"

#include "image/imagefile.h"
#include "server/tcpserver.h"
#include "window/hexview.h"
#include "window/serverinterface.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTextBrowser>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kRed = QStringLiteral("color:red;");
const QString kGreen = QStringLiteral("color:green;");

// The preview as the operator's manual describes it: hex pairs, then a space
// put at 2, 5, 8, ... 998 (padding with spaces where the text is shorter),
// then the first 1001 characters.
QString literalPreview(const QByteArray &bytes)
{
    QString text = QString::fromLatin1(bytes.toHex().toUpper());
    for (int i = 2; i <= 998; i += 3) {
        if (i > text.size())
            text = text.leftJustified(i, QLatin1Char(' '));
        text.insert(i, QLatin1Char(' '));
    }
    return text.left(1001);
}

// A device that says it holds `size` bytes but yields `yields`.
class LyingDevice : public QIODevice
{
public:
    LyingDevice(qint64 size, qint64 yields)
        : m_size(size)
        , m_yields(yields)
    {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return m_size; }
    bool isSequential() const override { return false; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, m_yields - m_given);
        if (n <= 0)
            return 0;
        memset(data, 'y', size_t(n));
        m_given += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_size;
    qint64 m_yields;
    qint64 m_given = 0;
};

} // namespace

class ImageLoadingTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void previewMatchesItsDefinition();
    void previewTexts();
    void readsWholeOrNothing();
    void refusesFilesThatAreNoImage();
    void downloadLoadsAndHandsOver();
    void downloadResetsTheDisplay();
    void unreadableImagesLookMissing_data();
    void unreadableImagesLookMissing();
    void wrongAddressStopsDownload();
    void noAdapterSkipsAddressCheck();
    void downloadCreatesMissingServer();
};

void ImageLoadingTest::cleanup()
{
    removeTestImage();
}

void ImageLoadingTest::previewMatchesItsDefinition()
{
    QRandomGenerator random(7);
    for (int length : {0, 1, 2, 3, 100, 332, 333, 334, 335, 400, 1023, 1024, 5000}) {
        QByteArray bytes(length, '\0');
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        QCOMPARE(hexView(bytes.constData(), bytes.size()), literalPreview(bytes));
    }
}

void ImageLoadingTest::previewTexts()
{
    QCOMPARE(hexView("", 0), QString(999, QLatin1Char(' ')));
    const QString two = hexView("\x0A\xFF", 2);
    QCOMPARE(two.size(), 999);
    QVERIFY(two.startsWith(QStringLiteral("0A FF ")));
    QCOMPARE(two.mid(5).trimmed(), QString());
    const QByteArray block(1024, '\xAB');
    const QString full = hexView(block.constData(), block.size());
    QCOMPARE(full.size(), 1001);
    QVERIFY(full.endsWith(QStringLiteral("AB AB")));
    QCOMPARE(full.count(QStringLiteral("AB")), 334);
}

void ImageLoadingTest::readsWholeOrNothing()
{
    QByteArray image;
    QByteArray content = patternImage(5000);
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QVERIFY(readWholeImage(buffer, &image));
    QCOMPARE(image, content);

    // A read that stops short of the size is a failure, not a shorter image.
    LyingDevice shortRead(5000, 3000);
    QVERIFY(!readWholeImage(shortRead, &image));
    QVERIFY(image.isEmpty());
    // So is one that goes on past it.
    LyingDevice longRead(5000, 6000);
    QVERIFY(!readWholeImage(longRead, &image));
    QVERIFY(image.isEmpty());
    // Sizes that cannot be sent are refused before anything is read.
    LyingDevice huge(maxImageBytes() + 1, 0);
    QVERIFY(!readWholeImage(huge, &image));
    LyingDevice twoGiB(qint64(2) << 30, 0);
    QVERIFY(!readWholeImage(twoGiB, &image));
    QVERIFY(maxImageBytes() < qint64(std::numeric_limits<qint32>::max()));
}

void ImageLoadingTest::refusesFilesThatAreNoImage()
{
    QByteArray image("stale");
    const QString dir = QDir::tempPath() + QStringLiteral("/tcpserver-image-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(dir);
    QVERIFY(!readImageFile(dir + QStringLiteral("/missing.bin"), &image));
    QVERIFY(image.isEmpty());
    QVERIFY(!readImageFile(dir, &image)); // a directory
    const QString fifo = dir + QStringLiteral("/fifo");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!readImageFile(fifo, &image)); // returns at once, never blocks
    QFile::remove(fifo);
    QDir(dir).removeRecursively();
}

void ImageLoadingTest::downloadLoadsAndHandsOver()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QSignalSpy handOffs(&w, SIGNAL(sendDataSig(QByteArray)));
    const QByteArray image = patternImage(400);
    writeTestImage(image);
    w.show();
    QTest::mouseClick(w.m_downloadButton, Qt::LeftButton);

    QCOMPARE(handOffs.count(), 1);
    QCOMPARE(handOffs.first().first().toByteArray(), image);
    QCOMPARE(w.m_tcpServer->m_fileData, image);
    QCOMPARE(w.m_fileStatusEdit->text(), QStringLiteral("Reading data is complete......"));
    QCOMPARE(w.m_fileStatusEdit->cursorPosition(), 1);
    QCOMPARE(w.m_step2TextLabel1->styleSheet(), kGreen);
    QCOMPARE(w.m_step2TextLabel2->styleSheet(), kGreen);
    QCOMPARE(w.m_serverOutputBrowser->toPlainText(), literalPreview(image));
    QCOMPARE(w.m_serverOutputBrowser->toPlainText().size(), 1001);
    QCOMPARE(w.m_filePathEdit->text(), QCoreApplication::applicationDirPath() + "/abset/boor/true/file.bin");
    QCOMPARE(w.m_filePathEdit->cursorPosition(), 1);

    QTest::mouseClick(w.m_downloadButton, Qt::LeftButton);
    QCOMPARE(handOffs.count(), 2);
}

void ImageLoadingTest::downloadResetsTheDisplay()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    writeTestImage(patternImage(2));
    w.m_clientInputBrowser->insertPlainText("updata ok ");
    w.m_serverOutputBrowser->insertPlainText("00 11");
    w.m_progressBar->setValue(57);
    w.m_messageLabel->setText("Downloading...");
    w.m_clientIpLabel->setText("192.168.0.10");
    for (QLabel *label : {w.m_step3TextLabel1, w.m_step3TextLabel2, w.m_step3TextLabel3, w.m_step4TextLabel1,
                          w.m_step4TextLabel2, w.m_step4TextLabel3})
        label->setStyleSheet(kGreen);
    TcpServer *server = w.m_tcpServer;
    server->m_blockIndex = 9;
    server->m_sentBlocks = 9;
    server->m_lastSentBlocks = 8;
    server->m_isDownloading = true;

    QMetaObject::invokeMethod(&w, "slotOpenFile");

    QVERIFY(w.m_clientInputBrowser->toPlainText().isEmpty());
    QCOMPARE(w.m_serverOutputBrowser->toPlainText(), literalPreview(patternImage(2)));
    QCOMPARE(w.m_progressBar->value(), 0);
    QVERIFY(w.m_messageLabel->text().isEmpty());
    QVERIFY(w.m_clientIpLabel->text().isEmpty());
    for (QLabel *label : {w.m_step3TextLabel1, w.m_step3TextLabel2, w.m_step3TextLabel3, w.m_step4TextLabel1,
                          w.m_step4TextLabel2, w.m_step4TextLabel3})
        QCOMPARE(label->styleSheet(), QStringLiteral("color:black;"));
    QCOMPARE(w.m_step3Label->styleSheet(), QStringLiteral("color:blue;"));
    QCOMPARE(w.m_step4Label->styleSheet(), QStringLiteral("color:blue;"));
    QCOMPARE(server->m_blockIndex, 0);
    QCOMPARE(server->m_sentBlocks, 0);
    QCOMPARE(server->m_lastSentBlocks, 0);
    QVERIFY(!server->m_isDownloading);
}

void ImageLoadingTest::unreadableImagesLookMissing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("readable");
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("empty") << "empty" << true;
    QTest::newRow("2 GiB, sparse") << "2GiB" << false;
    QTest::newRow("one byte over the limit, sparse") << "over" << false;
    QTest::newRow("a directory") << "dir" << false;
    QTest::newRow("no read permission") << "mode000" << false;
}

void ImageLoadingTest::unreadableImagesLookMissing()
{
    QFETCH(QString, kind);
    QFETCH(bool, readable);
    const QString path = testImagePath();
    removeTestImage();
    QDir().mkpath(QFileInfo(path).path());
    if (kind == "dir") {
        QDir().mkpath(path);
    } else if (kind == "empty") {
        writeTestImage(QByteArray());
    } else if (kind == "mode000") {
        if (geteuid() == 0)
            QSKIP("root reads files whatever their mode");
        writeTestImage(patternImage(100));
        QFile::setPermissions(path, QFileDevice::Permissions());
    } else if (kind != "missing") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kind == "2GiB" ? (qint64(2) << 30) : maxImageBytes() + 1));
    }

    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QSignalSpy handOffs(&w, SIGNAL(sendDataSig(QByteArray)));
    DebugLog log;
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QCOMPARE(log.lines(), readable ? QStringList() : QStringList({"open EVB_File failed"}));
    QCOMPARE(w.m_fileStatusEdit->text(),
             readable ? QStringLiteral("Reading data is complete......") : QStringLiteral("Failed to read data."));
    QCOMPARE(w.m_step2TextLabel1->styleSheet(), readable ? kGreen : kRed);
    QCOMPARE(w.m_step2TextLabel2->styleSheet(), readable ? kGreen : kRed);
    QCOMPARE(w.m_serverOutputBrowser->toPlainText(), QString(999, QLatin1Char(' ')));
    QCOMPARE(w.m_filePathEdit->text(), path);
    QCOMPARE(handOffs.count(), 1);
    QVERIFY(handOffs.first().first().toByteArray().isEmpty());
    QVERIFY(w.m_tcpServer->m_hasFile);
    QCOMPARE(w.m_tcpServer->m_totalBlocks, 0);

    // The device is told of an empty image, never of part of one.
    ScriptedClient device;
    device.send("updata");
    QCOMPARE(device.take(4), QByteArray(4, '\0'));
    device.send("ok");
    QVERIFY(device.quietFor(200));
    removeTestImage();
}

void ImageLoadingTest::wrongAddressStopsDownload()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface w(&adapters);
    const QByteArray image = patternImage(3000);
    writeTestImage(image);
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QCOMPARE(w.m_tcpServer->m_fileData, image);
    const QString preview = w.m_serverOutputBrowser->toPlainText();

    // The address changes behind the program's back.
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"10.0.0.3"})};
    writeTestImage(patternImage(10, 2));
    ModalBoxes boxes;
    QSignalSpy handOffs(&w, SIGNAL(sendDataSig(QByteArray)));
    QMetaObject::invokeMethod(&w, "slotOpenFile");

    QCOMPARE(boxes.texts, QStringList({"Please click the 'ModifyIP' button to modify the ServerIP address first."}));
    QCOMPARE(boxes.titles, QStringList({"TcpServer"}));
    QCOMPARE(w.m_haveIpLabel->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpHintLabel1->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpHintLabel2->styleSheet(), kRed);
    QCOMPARE(handOffs.count(), 0);
    QCOMPARE(w.m_tcpServer->m_fileData, image);
    QCOMPARE(w.m_serverOutputBrowser->toPlainText(), preview);
    QCOMPARE(w.m_fileStatusEdit->text(), QStringLiteral("Reading data is complete......"));
    // The address label is not refreshed by Download.
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("192.168.0.92"));
}

void ImageLoadingTest::noAdapterSkipsAddressCheck()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    writeTestImage(patternImage(10));
    adapters.listCalls = 0;
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QCOMPARE(adapters.listCalls, 0);
    QCOMPARE(w.m_tcpServer->m_fileData, patternImage(10));
}

void ImageLoadingTest::downloadCreatesMissingServer()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"10.0.0.3"})};
    ServerInterface w(&adapters);
    QVERIFY(!w.m_tcpServer);

    // The technician sets the address by hand and presses Download.
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    const QByteArray image = patternImage(1500);
    writeTestImage(image);
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QVERIFY(w.m_tcpServer);
    QVERIFY(w.m_tcpServer->m_server->isListening());
    QCOMPARE(w.m_tcpServer->m_fileData, image);
    QCOMPARE(w.m_tcpServer->m_blockIndex, 0);

    ScriptedClient device;
    device.send("updata");
    QCOMPARE(device.take(4), QByteArray("\xDC\x05\x00\x00", 4));
    device.send("ok");
    QCOMPARE(device.take(1024), image.left(1024));

    // A second Download reuses that server.
    TcpServer *server = w.m_tcpServer;
    QMetaObject::invokeMethod(&w, "slotOpenFile");
    QCOMPARE(w.m_tcpServer, server);
}

QTEST_MAIN(ImageLoadingTest)
#include "tst_imageloading.moc"
