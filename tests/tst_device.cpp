// The download protocol as devices see it, on the wire, and what the window
// shows for it.
#include "support/session.h"

#include "window/serverinterface.h"

#include <QProgressBar>
#include <QTest>

class DeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void conversations_data();
    void conversations();
    void progress_data();
    void progress();
};

void DeviceTest::conversations_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
    const QString complete = "message=Download complete";
    const QString refusal = "Didn't click 'Download' button to download the data.";
    const QString flash3 = "image 3000; download; ";

    QTest::newRow("a whole image, then the device closes: complete")
        << "image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A close"
        << QStringList{complete, "message.colour=green", "status=Reading data is complete...Download complete",
                       "bar=100", "step3=green", "step4=green", "clientip=127.0.0.1", "boxes=",
                       "clientinput=updata ok ok ok "};
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
        << "A connect; hold; A updata refused; B connect; B updata refused; release; A closed"
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
    QTest::newRow("the ClientInput pane stops at its limit")
        << "cap 12; " + flash3 + "A connect; A updata len; A ok 0; A ok 1; A ok 2; A close"
        << QStringList{"clientinput=updata ok ", complete};
}

void DeviceTest::conversations()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    Session session;
    session.verify(script, checks);
}

void DeviceTest::progress_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QList<int>>("bar");
    QTest::newRow("3 blocks") << 3 << QList<int>{33, 66, 100};
    QTest::newRow("12 blocks: the sum of steps falls short") << 12 << QList<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 99};
    // The bar shows the sum of the steps so far, truncated, once it exceeds 1.
    QList<int> hundred, thousand;
    double sum = 0;
    for (int i = 1; i <= 100; ++i)
        hundred << i;
    for (int i = 1; i <= 1000; ++i)
        thousand << ((sum += 0.1) > 1.0 ? int(sum) : 0);
    QTest::newRow("100 blocks") << 100 << hundred;
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

QTEST_MAIN(DeviceTest)
#include "tst_device.moc"
