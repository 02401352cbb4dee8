// The window on screens of every size and scale: wholly on screen, its buttons
// included, with no text cut. Runs at a display scaling of 125 %.
#include "support/session.h"

#include "window/serverinterface.h"
#include "window/windowgeometry.h"

#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTextBrowser>

class ScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
    void renderedWindowFitsAndCutsNoText();
};

void ScreenTest::geometry_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("natural");
    QTest::addColumn<QRect>("expected");
    // Screens as their programs see them: scaled desktops are smaller, a task
    // bar 40 pixels high, a frame of 8 pixels with a title bar of 31.
    QTest::newRow("1920 × 1080: as wanted") << QSize(1920, 1080) << QSize(900, 500) << QRect(350, 200, 1066, 568);
    QTest::newRow("1366 × 768: as wanted") << QSize(1366, 768) << QSize(700, 400) << QRect(350, 200, 758, 404);
    QTest::newRow("1366 × 768, larger fonts: moved up") << QSize(1366, 768) << QSize(1002, 642)
                                                         << QRect(350, 78, 1002, 642);
    QTest::newRow("125 %: grown to its content, moved up") << QSize(1536, 864) << QSize(1002, 642)
                                                            << QRect(350, 174, 1002, 642);
    QTest::newRow("150 %: moved left and up") << QSize(1280, 720) << QSize(1002, 642) << QRect(270, 31, 1002, 641);
    QTest::newRow("200 %: the whole screen, content scrolls") << QSize(960, 540) << QSize(1002, 642)
                                                               << QRect(8, 31, 944, 461);
}

void ScreenTest::geometry()
{
    QFETCH(QSize, desktop);
    QFETCH(QSize, natural);
    QFETCH(QRect, expected);
    const QRect available(QPoint(0, 0), desktop - QSize(0, 40));
    QCOMPARE(fitWindow(mainWindowGeometry(desktop), natural, QMargins(8, 31, 8, 8), available), expected);
}

void ScreenTest::renderedWindowFitsAndCutsNoText()
{
    Session session; // no listed adapter: the hint lines make it widest
    session.run(QStringLiteral("start"));
    ServerInterface &window = *session.window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.frameGeometry()), "the window reaches beyond the screen");
    QWidget *shown = qobject_cast<QScrollArea *>(window.centralWidget())->viewport();
    for (QPushButton *button : {window.m_downloadButton, window.m_modifyIpButton}) {
        QVERIFY(shown->rect().contains(QRect(button->mapTo(shown, QPoint()), button->size())));
        QVERIFY(button->width() >= button->sizeHint().width() && button->height() >= button->sizeHint().height());
    }
    for (QLabel *label : window.findChildren<QLabel *>())
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text() + " is cut"));
    for (QWidget *hidden : std::initializer_list<QWidget *>{window.m_filePathEdit, window.m_serverOutputBrowser,
                                                            window.m_clientInputBrowser})
        QVERIFY(!hidden->isVisible());
    // Demi-bold captions, on Qt 5's weight scale and on Qt 6's.
    QVERIFY(QFontInfo(window.m_downloadButton->font()).bold());
}

QTEST_MAIN(ScreenTest)
#include "tst_screen.moc"
