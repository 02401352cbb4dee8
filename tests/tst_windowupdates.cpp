// The window's small members that talk to the operator or wait for the loop,
// and what keeps the per-block window updates cheap: it must not change what
// the window holds or shows. The text panes hold exactly what plain QTextEdit
// calls would leave, and the paced window still lays out and paints its
// latest state.
#include "support/fakeadapters.h"

#include "window/framepacer.h"
#include "window/serverinterface.h"
#include "window/storedtextpane.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class WindowUpdatesTest : public QObject
{
    Q_OBJECT

private slots:
    void appendMatchesInsertPlainText();
    void replaceMatchesClearAndInsert();
    void panesKeepTheirTextThroughClear();
    void repaintsAtMostOncePerFrame();
    void layoutFollowsWithinAFrame();
    void appendsInOrder();
    void delayProcessesEventsForItsLength();
    void zeroDelayProcessesNothing();
    void startupHintOnlyWithoutAdapter();
};

void WindowUpdatesTest::appendMatchesInsertPlainText()
{
    QTextBrowser fast;
    QTextBrowser plain;
    keepTextWithoutLayout(&fast);
    QRandomGenerator random(3);
    const QStringList pieces = {"ok ", "updata ", "updata\n ", "OK ", " ", "\xe4\xbb\xa5 ", "a\r\nb "};
    for (int i = 0; i < 400; ++i) {
        if (i % 97 == 50) {
            // Someone put the cursor elsewhere: text goes there, then the cursor ends up at the end.
            for (QTextBrowser *pane : {&fast, &plain}) {
                QTextCursor cursor = pane->textCursor();
                cursor.setPosition(pane->document()->characterCount() / 2);
                pane->setTextCursor(cursor);
            }
        }
        const QString piece = pieces.at(random.bounded(pieces.size()));
        appendToPane(&fast, piece);
        plain.insertPlainText(piece);
        plain.moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
        QCOMPARE(fast.textCursor().position(), plain.textCursor().position());
    }
    QCOMPARE(fast.toPlainText(), plain.toPlainText());
    QVERIFY(fast.textCursor().atEnd());
    QVERIFY(!fast.textCursor().hasSelection());
}

void WindowUpdatesTest::replaceMatchesClearAndInsert()
{
    QTextBrowser fast;
    QTextBrowser plain;
    keepTextWithoutLayout(&fast);
    for (const QString &text : {QString("00 11 22"), QString(999, QLatin1Char(' ')), QString("AB\nCD"), QString()}) {
        replacePaneText(&fast, text);
        plain.clear();
        plain.insertPlainText(text);
        QCOMPARE(fast.toPlainText(), plain.toPlainText());
        QCOMPARE(fast.textCursor().position(), plain.textCursor().position());
    }
}

void WindowUpdatesTest::panesKeepTheirTextThroughClear()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QTextBrowser *pane = w.m_clientInputBrowser;
    for (int i = 0; i < 5000; ++i)
        w.appendClientInput("ok ");
    QCOMPARE(pane->toPlainText().size(), 15000);
    QCOMPARE(pane->toPlainText().count(QStringLiteral("ok ")), 5000);
    QAbstractTextDocumentLayout *layout = pane->document()->documentLayout();
    pane->clear();
    QVERIFY(pane->toPlainText().isEmpty());
    QCOMPARE(pane->document()->documentLayout(), layout);
    w.appendClientInput("updata ");
    QCOMPARE(pane->toPlainText(), QStringLiteral("updata "));
    QVERIFY(!pane->document()->isUndoAvailable());
}

void WindowUpdatesTest::repaintsAtMostOncePerFrame()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(50);
    PaintCounter counter;
    w.m_messageLabel->installEventFilter(&counter);

    // Change the message as a transfer does, as fast as the loop turns.
    QElapsedTimer clock;
    clock.start();
    int changes = 0;
    while (clock.elapsed() < 300 && changes < 200000) {
        w.m_messageLabel->setText(changes % 2 ? QStringLiteral("Downloading......") : QStringLiteral("Downloading..."));
        ++changes;
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    const int paints = counter.paints;
    QVERIFY2(changes > 200, qPrintable(QString::number(changes)));
    QVERIFY2(paints <= elapsed / 16 + 3, qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(elapsed)));
    QVERIFY2(paints >= 3, qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(elapsed)));

    // The last state is painted without anything else happening.
    w.m_messageLabel->setText(QStringLiteral("Download complete"));
    const int before = counter.paints;
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > before, 200);
}

void WindowUpdatesTest::layoutFollowsWithinAFrame()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(50);
    // A text far wider than the window: the layouts must make room for it.
    const QString wide(400, QLatin1Char('W'));
    for (int i = 0; i < 50; ++i) {
        w.m_messageLabel->setText(i % 2 ? wide : QStringLiteral("Downloading..."));
        QCoreApplication::processEvents();
    }
    w.m_messageLabel->setText(wide);
    QTRY_VERIFY_WITH_TIMEOUT(w.m_messageLabel->width() >= w.m_messageLabel->minimumSizeHint().width(), 500);
    QVERIFY(w.width() > 2000);
}

void WindowUpdatesTest::appendsInOrder()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.appendClientInput("updata ");
    w.appendClientInput("updata ");
    QCOMPARE(w.m_clientInputBrowser->toPlainText(), QStringLiteral("updata updata "));
    QVERIFY(w.m_clientInputBrowser->textCursor().atEnd());
}

void WindowUpdatesTest::delayProcessesEventsForItsLength()
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

void WindowUpdatesTest::zeroDelayProcessesNothing()
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

void WindowUpdatesTest::startupHintOnlyWithoutAdapter()
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

QTEST_MAIN(WindowUpdatesTest)
#include "tst_windowupdates.moc"
