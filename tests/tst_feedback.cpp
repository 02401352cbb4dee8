// The window's small members that talk to the operator or wait for the loop.
#include "support/fakeadapters.h"

#include "window/serverinterface.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

class FeedbackTest : public QObject
{
    Q_OBJECT

private slots:
    void appendsInOrder();
    void delayProcessesEventsForItsLength();
    void zeroDelayProcessesNothing();
    void startupHintOnlyWithoutAdapter();
};

void FeedbackTest::appendsInOrder()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.appendClientInput("updata ");
    w.appendClientInput("updata ");
    QCOMPARE(w.m_clientInputBrowser->toPlainText(), QStringLiteral("updata updata "));
    QVERIFY(w.m_clientInputBrowser->textCursor().atEnd());
}

void FeedbackTest::delayProcessesEventsForItsLength()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    bool fired = false;
    QTimer::singleShot(10, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    w.delayMsec(50);
    QVERIFY(clock.elapsed() >= 50);
    QVERIFY(fired);
}

void FeedbackTest::zeroDelayProcessesNothing()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    w.delayMsec(0);
    w.delayMsec(-5);
    QVERIFY(!fired);
    QTRY_VERIFY(fired);
}

void FeedbackTest::startupHintOnlyWithoutAdapter()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface w(&adapters);
    w.showStartupHint();
    QVERIFY(w.m_hintLabel1->text().isEmpty());
    QVERIFY(w.m_hintLabel2->text().isEmpty());
    QVERIFY(w.m_hintLabel1->styleSheet().isEmpty());
    QVERIFY(w.m_noIpLabel->styleSheet().isEmpty());
    QVERIFY(w.m_noIpHintLabel->styleSheet().isEmpty());
}

QTEST_MAIN(FeedbackTest)
#include "tst_feedback.moc"
