// A crowd of connections that were told the length and took no block: what
// of it reaches the record and the lines.
#include "image/flashimage.h"
#include "server/burstfilter.h"

#include <QSignalSpy>
#include <QTest>

class BurstFilterTest : public QObject
{
    Q_OBJECT

private slots:
    void aCrowdPassesOnceASecond_data();
    void aCrowdPassesOnceASecond();
};

void BurstFilterTest::aCrowdPassesOnceASecond_data()
{
    QTest::addColumn<QList<int>>("blocks"); // what each connection from one device took, in turn
    QTest::addColumn<bool>("ending"); // the program ends at once after them
    QTest::addColumn<QList<int>>("passed"); // the connections each report that passes stands for
    QTest::newRow("empty ones: the first at once, the rest of its second in one")
            << QList<int>{0, 0, 0, 0, 0} << false << QList<int>{1, 4};
    QTest::newRow("at the end, what is counted so far goes at once") << QList<int>{0, 0, 0} << true << QList<int>{1, 2};
    QTest::newRow("a flash that took a block is never counted with others")
            << QList<int>{1, 1, 3} << false << QList<int>{1, 1, 1};
}

void BurstFilterTest::aCrowdPassesOnceASecond()
{
    QFETCH(QList<int>, blocks);
    QFETCH(bool, ending);
    QFETCH(QList<int>, passed);
    BurstFilter filter(BurstFilter::emptyTransfer, 100);
    QList<int> connections;
    connect(&filter, &BurstFilter::passed, this,
            [&](const TransferReport &report) { connections << report.connections; });
    const auto image = FlashImage::fromBytes(QStringLiteral("image.bin"), QByteArray(4096, 'x'));
    for (const int sent : blocks) {
        TransferReport report;
        report.ending = TransferReport::DeviceClosed;
        report.image = image;
        report.blocksSent = sent;
        report.connection = {1, QStringLiteral("Ethernet"), QStringLiteral("192.168.0.50")};
        filter.add(report);
    }
    if (ending)
        filter.flush();
    QTRY_COMPARE(connections, passed);
}

QTEST_GUILESS_MAIN(BurstFilterTest)
#include "tst_burstfilter.moc"
