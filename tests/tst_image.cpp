// Download: what is read from the image file, what the device is then told
// and sent, and what the operator sees.
#include "support/session.h"

#include "image/imagefile.h"
#include "window/serverinterface.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/resource.h>

class ImageTest : public QObject
{
    Q_OBJECT

private slots:
    void files_data();
    void files();
    void imageHeldOnceAndNoAbortWhenMemoryRunsOut();
};

void ImageTest::files_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QStringList loaded{"status=Reading data is complete......", "step2=green", "preview=file"};
    const QStringList failed{"status=Failed to read data.", "step2=red", "preview=file"};
    const QString device = "; download; A connect; A updata len";

    QTest::newRow("a file of 400 bytes: preview of its first 334") << "image 400" + device << loaded;
    QTest::newRow("a file of 2 bytes: preview padded") << "image 2" + device << loaded;
    QTest::newRow("an empty file is an empty image") << "image 0" + device << loaded;
    QTest::newRow("a missing file: an empty image, told as such") << "image none" + device << failed;
    QTest::newRow("a folder where the file belongs") << "image dir" + device << failed;
    QTest::newRow("a pipe where the file belongs is not waited on") << "image fifo" + device << failed;
    QTest::newRow("a file too large for the length field") << "image huge" + device << failed;
    QTest::newRow("a failed read replaces the image loaded before")
        << "image 100; download; image none" + device << failed;
}

void ImageTest::files()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    Session session;
    session.verify(script, checks);
}

void ImageTest::imageHeldOnceAndNoAbortWhenMemoryRunsOut()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than any limit set here");
#endif
    const qint64 mib = 1024 * 1024, image = 192 * mib;
    Session session;
    session.run(QStringLiteral("start"));
    // Room for the image once, not twice.
    QFile statm(QStringLiteral("/proc/self/statm"));
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const qint64 used = statm.readAll().split(' ').first().toLongLong() * 4096;
    rlimit before{};
    getrlimit(RLIMIT_AS, &before);
    const rlimit limit{rlim_t(used + image + 96 * mib), before.rlim_max};
    QVERIFY(setrlimit(RLIMIT_AS, &limit) == 0);

    QFile file(imageFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(image));
    file.close();
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString status = session.window->m_fileStatusEdit->text();
    Device device;
    device.send("updata");
    const QByteArray header = device.take(4);
    // More than is left: the read fails and says so, and the program goes on.
    QVERIFY(file.resize(image * 2));
    QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
    const QString statusTooLarge = session.window->m_fileStatusEdit->text();
    setrlimit(RLIMIT_AS, &before);

    QCOMPARE(status, QStringLiteral("Reading data is complete......"));
    QCOMPARE(header, QByteArray::fromHex("0000000c"));
    QCOMPARE(statusTooLarge, QStringLiteral("Failed to read data."));
}

QTEST_MAIN(ImageTest)
#include "tst_image.moc"
