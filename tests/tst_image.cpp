// Reading an image whole, or not at all.
#include "support/testing.h"

#include "image/imagefile.h"

#include <QBuffer>
#include <QTest>

namespace {

// A file that changes while it is read.
struct ChangingFile : QBuffer
{
    qint64 claimed = 0;
    qint64 size() const override { return claimed; }
};

} // namespace

class ImageTest : public QObject
{
    Q_OBJECT

private slots:
    void imageThatGrowsWhileReadIsRefused();
};

void ImageTest::imageThatGrowsWhileReadIsRefused()
{
    ChangingFile file;
    file.claimed = 4000;
    file.setData(pattern(5000, 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray image;
    QString failure;
    QVERIFY(!readWholeImage(file, &image, &failure));
    QCOMPARE(failure, "it changed while it was read");
    QVERIFY(image.isEmpty());
}

QTEST_GUILESS_MAIN(ImageTest)
#include "tst_image.moc"
