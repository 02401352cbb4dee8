// The main window: start-up states, layout, texts, geometry and the adapter search.
#include "support/fakeadapters.h"
#include "support/modalboxes.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"
#include "window/windowgeometry.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include <memory>

Q_DECLARE_METATYPE(NetworkAdapter)

namespace {

const QString kGreen = QStringLiteral("color:green;");
const QString kRed = QStringLiteral("color:red;");
const QString kBlue = QStringLiteral("color:blue;");

QList<QLabel *> stepLabels(ServerInterface &w)
{
    return {w.m_step1Label,       w.m_noIpLabel,        w.m_noIpHintLabel,    w.m_haveIpLabel,
            w.m_haveIpHintLabel1, w.m_haveIpHintLabel2, w.m_step2Label,       w.m_step2TextLabel1,
            w.m_step2TextLabel2,  w.m_step3Label,       w.m_step3TextLabel1,  w.m_step3TextLabel2,
            w.m_step3TextLabel3,  w.m_step4Label,       w.m_step4TextLabel1,  w.m_step4TextLabel2,
            w.m_step4TextLabel3};
}

QGridLayout *gridOf(QWidget *widget)
{
    return qobject_cast<QGridLayout *>(widget->layout());
}

// Style sheets of every operating-steps label, keyed by its text.
QMap<QString, QString> stepStyles(ServerInterface &w)
{
    QMap<QString, QString> styles;
    for (QLabel *label : stepLabels(w))
        styles.insert(label->text(), label->styleSheet());
    return styles;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutListedAdapter();
    void startsWithRightAddress();
    void startsWithWrongAddress();
    void adapterSearchTieBreaks_data();
    void adapterSearchTieBreaks();
    void adapterSearchRemembersLastMatch();
    void geometryFollowsDesktop();
    void formAndTitle();
    void stepsPanelTextsAndOrder();
    void transferBoxLayout();
    void captionFontsAndColours();
    void unplacedWidgetsNeverShow();
    void tabbingSkipsFileStatus();
    void metaObjects();
    void serverWiredToWindow();
};

void WindowTest::startsWithoutListedAdapter()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("lo", {"127.0.0.1"}),
                         FakeAdapters::adapter("eth0", {"192.168.0.92"})};
    ServerInterface w(&adapters);

    QCOMPARE(adapters.listCalls, 2);
    QVERIFY(!w.m_adapterFound);
    QVERIFY(w.m_adapterName.isEmpty());
    QVERIFY(w.m_tcpServer);
    QVERIFY(w.m_tcpServer->m_server->isListening());
    QCOMPARE(w.m_serverIpLabel->text(), QString());
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kRed);

    // The hint rows run under both boxes, across both columns.
    QGridLayout *central = gridOf(w.centralWidget());
    QVERIFY(central);
    QCOMPARE(central->itemAtPosition(1, 0)->widget(), w.m_hintLabel1);
    QCOMPARE(central->itemAtPosition(2, 1)->widget(), w.m_hintLabel2);
    QCOMPARE(central->rowStretch(0), 15);
    QCOMPARE(central->rowStretch(1), 1);
    QCOMPARE(central->rowStretch(2), 1);
    QCOMPARE(w.m_hintLabel1->text(),
             QStringLiteral("If failed to get the local connection IP address, please enter the computer update "
                            "adapter interface,"));
    QCOMPARE(w.m_hintLabel2->text(),
             QStringLiteral("and modify the local connection IP address to 192.168.0.92 .Restart TcpServer."));

    // Exactly the hint lines and the two "no address" lines are red.
    QCOMPARE(w.m_hintLabel1->styleSheet(), kRed);
    QCOMPARE(w.m_hintLabel2->styleSheet(), kRed);
    QMap<QString, QString> expected = stepStyles(w);
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.key() == "(1)Didn't get ServerIP" || it.key() == "Please set the IP address of local connection.")
            QCOMPARE(it.value(), kRed);
        else if (it.key().startsWith("Step") || it.key() == "Setp4:")
            QCOMPARE(it.value(), kBlue);
        else
            QCOMPARE(it.value(), QString());
    }
}

void WindowTest::startsWithRightAddress()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("lo", {"127.0.0.1"}),
                         FakeAdapters::adapter("Ethernet", {"fe80::1", "192.168.0.92"})};
    ServerInterface w(&adapters);

    QCOMPARE(adapters.listCalls, 3);
    QVERIFY(w.m_adapterFound);
    QCOMPARE(w.m_adapterName, QStringLiteral("Ethernet"));
    QVERIFY(w.m_tcpServer);
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("192.168.0.92"));
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kGreen);
    QCOMPARE(w.m_haveIpLabel->styleSheet(), kGreen);
    QCOMPARE(w.m_haveIpHintLabel1->styleSheet(), kGreen);
    QCOMPARE(w.m_haveIpHintLabel2->styleSheet(), kGreen);
    QCOMPARE(w.m_noIpLabel->styleSheet(), QString());
    QCOMPARE(w.m_noIpHintLabel->styleSheet(), QString());

    // Only the two boxes: no hint rows, no row stretch.
    QGridLayout *central = gridOf(w.centralWidget());
    QCOMPARE(central->rowCount(), 1);
    QCOMPARE(central->count(), 2);
    QCOMPARE(central->rowStretch(0), 0);
    QVERIFY(w.m_hintLabel1->text().isEmpty());
    QVERIFY(w.m_hintLabel2->text().isEmpty());
}

void WindowTest::startsWithWrongAddress()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter(QString::fromUtf8("以太网"), {"10.0.0.7"})};
    ServerInterface w(&adapters);

    QCOMPARE(adapters.listCalls, 3);
    QVERIFY(w.m_adapterFound);
    QCOMPARE(w.m_adapterName, QString::fromUtf8("以太网"));
    QVERIFY(!w.m_tcpServer);
    QCOMPARE(w.m_serverIpLabel->text(), QStringLiteral("10.0.0.7"));
    QCOMPARE(w.m_serverIpLabel->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpLabel->styleSheet(), kRed);
    QCOMPARE(w.m_haveIpHintLabel1->styleSheet(), QString());
    QCOMPARE(w.m_haveIpHintLabel2->styleSheet(), QString());
    QCOMPARE(gridOf(w.centralWidget())->count(), 2);

    // With no server, nothing listens on the port.
    QTcpServer probe;
    QVERIFY2(probe.listen(QHostAddress::Any, TcpServer::kPort), qPrintable(probe.errorString()));
}

void WindowTest::adapterSearchTieBreaks_data()
{
    QTest::addColumn<QList<NetworkAdapter>>("interfaces");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("right");

    using A = FakeAdapters;
    QTest::newRow("none") << QList<NetworkAdapter>{} << "" << "" << false;
    QTest::newRow("ethernet right") << QList<NetworkAdapter>{A::adapter("Ethernet", {"192.168.0.92"})}
                                    << "192.168.0.92" << "Ethernet" << true;
    QTest::newRow("last IPv4 of an adapter wins")
        << QList<NetworkAdapter>{A::adapter("Ethernet", {"192.168.0.92", "fe80::2", "169.254.3.4"})}
        << "169.254.3.4" << "Ethernet" << false;
    QTest::newRow("IPv6 only") << QList<NetworkAdapter>{A::adapter("Ethernet", {"fe80::1", "::ffff:192.168.0.92"})}
                               << "" << "Ethernet" << false;
    QTest::newRow("last matching interface names the adapter")
        << QList<NetworkAdapter>{A::adapter("Ethernet", {"192.168.0.92"}), A::adapter("eth1", {"10.1.1.1"}),
                                 A::adapter("Ethernet2", {"fe80::9"})}
        << "192.168.0.92" << "Ethernet2" << true;
    QTest::newRow("later matching interface's address wins")
        << QList<NetworkAdapter>{A::adapter("Ethernet3", {"192.168.0.92"}),
                                 A::adapter(QString::fromUtf8("本地连接2"), {"192.168.0.93"})}
        << "192.168.0.93" << QString::fromUtf8("本地连接2") << false;
    QTest::newRow("near misses never match")
        << QList<NetworkAdapter>{A::adapter("ethernet", {"192.168.0.92"}), A::adapter("Ethernet 2", {"192.168.0.92"}),
                                 A::adapter("Ethernet6", {"192.168.0.92"}), A::adapter(" Ethernet", {"192.168.0.92"}),
                                 A::adapter("Local Area Connection 2", {"192.168.0.92"}),
                                 A::adapter(QString::fromUtf8("以太网6"), {"192.168.0.92"}),
                                 A::adapter(QString::fromUtf8("本地连接 "), {"192.168.0.92"})}
        << "" << "" << false;
    QTest::newRow("Chinese names")
        << QList<NetworkAdapter>{A::adapter(QString::fromUtf8("以太网5"), {"192.168.0.92"})} << "192.168.0.92"
        << QString::fromUtf8("以太网5") << true;
    QTest::newRow("names with blanks")
        << QList<NetworkAdapter>{A::adapter("Local Area Connection2", {"192.168.0.92"})} << "192.168.0.92"
        << "Local Area Connection2" << true;
}

void WindowTest::adapterSearchTieBreaks()
{
    QFETCH(QList<NetworkAdapter>, interfaces);
    QFETCH(QString, address);
    QFETCH(QString, name);
    QFETCH(bool, right);

    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QVERIFY(!w.m_adapterFound);

    adapters.adapters = interfaces;
    adapters.listCalls = 0;
    QCOMPARE(w.getServerIp(), address);
    QCOMPARE(w.m_adapterName, name);
    QCOMPARE(w.m_adapterFound, !name.isEmpty());
    QCOMPARE(w.judgeServerIp(), right);
    QCOMPARE(adapters.listCalls, 2);
}

void WindowTest::adapterSearchRemembersLastMatch()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet4", {"192.168.0.92"})};
    ServerInterface w(&adapters);
    QVERIFY(w.m_adapterFound);

    // The adapter is unplugged: the search finds nothing but keeps what it knew.
    adapters.adapters.clear();
    QCOMPARE(w.getServerIp(), QString());
    QVERIFY(w.m_adapterFound);
    QCOMPARE(w.m_adapterName, QStringLiteral("Ethernet4"));
    QVERIFY(!w.judgeServerIp());
}

void WindowTest::geometryFollowsDesktop()
{
    QCOMPARE(mainWindowGeometry(QSize(1920, 1080)), QRect(350, 200, 1066, 568));
    QCOMPARE(mainWindowGeometry(QSize(1366, 768)), QRect(350, 200, 758, 404));
    QCOMPARE(mainWindowGeometry(QSize(3840, 1080)), QRect(350, 200, 2133, 568));

    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QCOMPARE(w.geometry(), mainWindowGeometry(QApplication::desktop()->size()));
}

void WindowTest::formAndTitle()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tcp Server"));
    QCOMPARE(w.objectName(), QStringLiteral("ServerInterface"));
    QCOMPARE(w.menuBar()->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(w.statusBar()->objectName(), QStringLiteral("statusBar"));
    QVERIFY(w.findChild<QToolBar *>("mainToolBar"));
    QVERIFY(w.menuBar()->actions().isEmpty());
    // The form's own central widget has been replaced by the built layout.
    QVERIFY(w.centralWidget());
    QVERIFY(w.centralWidget()->objectName() != QStringLiteral("centralWidget"));
}

void WindowTest::stepsPanelTextsAndOrder()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface w(&adapters);

    const QStringList texts = {
        "Step1:",
        "(1)Didn't get ServerIP",
        "Please set the IP address of local connection.",
        "(2)Aready acquired ServerIP",
        "If the IP shows red, please click 'ModifyIP' to modify the",
        "ServerIP;If the IP shows green, no oprantion is required.",
        "Step2:",
        "Click 'Download' to read data, if sucessed, the file status",
        "will show that the read data is completed.",
        "Step3:",
        "Connect the monitoring device to your computer, turn on the",
        "monitoring devise and press the Enter button within 2 seconds",
        "to enter the boot interface.",
        "Setp4:",
        "After selecting the 'Update System', press the OK button to",
        "upgrade. When the upgrade complete, you will recive a reminder",
        "interface.",
    };
    QGroupBox *panel = qobject_cast<QGroupBox *>(w.m_step1Label->parentWidget());
    QVERIFY(panel);
    QCOMPARE(panel->styleSheet(), QStringLiteral("background:white;"));
    QGridLayout *grid = gridOf(panel);
    QCOMPARE(grid->count(), 17);
    const QList<QLabel *> members = stepLabels(w);
    for (int row = 0; row < 17; ++row) {
        QLabel *label = qobject_cast<QLabel *>(grid->itemAtPosition(row, 0)->widget());
        QVERIFY(label);
        QCOMPARE(label->text(), texts.at(row));
        QCOMPARE(label, members.at(row));
        QVERIFY(!label->wordWrap());
        QVERIFY(!label->testAttribute(Qt::WA_SetFont));
    }

    // The steps box: the caption on top, the panel under it, 1 to 20.
    QGridLayout *steps = gridOf(panel->parentWidget());
    QLabel *caption = qobject_cast<QLabel *>(steps->itemAtPosition(0, 0)->widget());
    QCOMPARE(caption->text(), QStringLiteral("Operating Steps"));
    QCOMPARE(caption->alignment(), Qt::AlignTop);
    QCOMPARE(steps->itemAtPosition(1, 0)->widget(), panel);
    QCOMPARE(steps->rowStretch(0), 1);
    QCOMPARE(steps->rowStretch(1), 20);
}

void WindowTest::transferBoxLayout()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QGridLayout *central = gridOf(w.centralWidget());
    QCOMPARE(central->columnStretch(0), 1);
    QCOMPARE(central->columnStretch(1), 1);
    QWidget *transferBox = central->itemAtPosition(0, 0)->widget();
    QVERIFY(qobject_cast<QGroupBox *>(transferBox));
    QVERIFY(qobject_cast<QGroupBox *>(transferBox)->title().isEmpty());
    QGridLayout *transfer = gridOf(transferBox);
    QCOMPARE(transfer->rowStretch(0), 1);
    QCOMPARE(transfer->rowStretch(1), 1);

    QGridLayout *info = qobject_cast<QGridLayout *>(transfer->itemAtPosition(0, 0)->layout());
    QGridLayout *control = qobject_cast<QGridLayout *>(transfer->itemAtPosition(1, 0)->layout());
    QVERIFY(info && control);

    auto labelAt = [](QGridLayout *grid, int row, int column) {
        QLayoutItem *item = grid->itemAtPosition(row, column);
        return item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
    };
    QCOMPARE(labelAt(info, 0, 0)->text(), QStringLiteral("FileStatus:"));
    QCOMPARE(info->itemAtPosition(0, 1)->widget(), w.m_fileStatusEdit);
    QVERIFY(!info->itemAtPosition(1, 0));
    QVERIFY(!info->itemAtPosition(1, 1));
    QCOMPARE(labelAt(info, 2, 0)->text(), QStringLiteral("ClientIP:"));
    QCOMPARE(labelAt(info, 2, 0)->alignment(), Qt::AlignBottom);
    QCOMPARE(info->itemAtPosition(2, 1)->widget(), w.m_clientIpLabel);
    QCOMPARE(w.m_clientIpLabel->alignment(), Qt::AlignBottom);
    QCOMPARE(labelAt(info, 3, 0)->text(), QStringLiteral("ServerIP:"));
    QCOMPARE(info->itemAtPosition(3, 1)->widget(), w.m_serverIpLabel);
    QCOMPARE(info->count(), 6);

    int index = control->indexOf(w.m_progressBar);
    int row, column, rowSpan, columnSpan;
    control->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 2}));
    QCOMPARE(control->itemAt(index)->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    index = control->indexOf(w.m_messageLabel);
    control->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 0, 1, 2}));
    QCOMPARE(w.m_messageLabel->alignment(), Qt::AlignTop);
    QCOMPARE(control->itemAtPosition(2, 0)->widget(), w.m_downloadButton);
    QCOMPARE(control->itemAtPosition(2, 1)->widget(), w.m_modifyIpButton);
    QCOMPARE(control->rowStretch(0), 1);
    QCOMPARE(control->rowStretch(1), 1);
    QCOMPARE(control->rowStretch(2), 2);

    QCOMPARE(w.m_downloadButton->text(), QStringLiteral("Download"));
    QCOMPARE(w.m_modifyIpButton->text(), QStringLiteral("ModifyIP"));
    QCOMPARE(w.m_progressBar->minimum(), 0);
    QCOMPARE(w.m_progressBar->maximum(), 100);
    QCOMPARE(w.m_progressBar->value(), 0);
    QCOMPARE(w.m_progressBar->orientation(), Qt::Horizontal);
    QVERIFY(w.m_fileStatusEdit->text().isEmpty());
    QVERIFY(w.m_messageLabel->text().isEmpty());
    QVERIFY(w.m_clientIpLabel->text().isEmpty());

    // Fixed sizes hold whatever size the window takes.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const QSize &size : {QSize(1400, 900), QSize(200, 150)}) {
        w.resize(size);
        QCoreApplication::processEvents();
        QCOMPARE(w.m_downloadButton->size(), QSize(70, 40));
        QCOMPARE(w.m_modifyIpButton->size(), QSize(70, 40));
        QCOMPARE(w.m_progressBar->size(), QSize(350, 15));
    }
}

void WindowTest::captionFontsAndColours()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);

    // The nine widgets with the caption font: seven captions (two of them never
    // shown) and the two buttons.
    QList<QWidget *> captioned;
    QList<QWidget *> all = w.findChildren<QWidget *>();
    all += w.m_filePathEdit->parentWidget()->findChildren<QWidget *>();
    for (QWidget *widget : all) {
        if (widget->testAttribute(Qt::WA_SetFont))
            captioned.append(widget);
    }
    QStringList texts;
    for (QWidget *widget : captioned) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << label->text();
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            texts << button->text();
        QFont font = widget->font();
        QCOMPARE(font.family(), QStringLiteral("Time"));
        QCOMPARE(font.pointSize(), 8);
        QCOMPARE(font.weight(), 65);
        QVERIFY(!font.italic());
        QCOMPARE(widget->styleSheet(), kBlue);
    }
    texts.sort();
    QCOMPARE(texts, QStringList({"ClientIP:", "ClientInput", "Download", "FilePath:", "FileStatus:", "ModifyIP",
                                 "Operating Steps", "ServerIP:", "ServerOutput"}));
}

void WindowTest::unplacedWidgetsNeverShow()
{
    FakeAdapters adapters;
    adapters.adapters = {FakeAdapters::adapter("Ethernet", {"192.168.0.92"})};
    ServerInterface w(&adapters);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    w.m_filePathEdit->setText("/somewhere/abset/boor/true/file.bin");
    w.m_serverOutputBrowser->insertPlainText("0A FF");
    w.m_clientInputBrowser->insertPlainText("updata ");
    QCoreApplication::processEvents();

    QList<QWidget *> hidden = {w.m_filePathEdit, w.m_serverOutputBrowser, w.m_clientInputBrowser, w.m_hintLabel1,
                               w.m_hintLabel2};
    for (QWidget *widget : hidden) {
        QVERIFY(!widget->isVisible());
        QVERIFY(!w.isAncestorOf(widget));
    }
    const QList<QLabel *> labels = w.findChildren<QLabel *>();
    for (QLabel *label : labels) {
        QVERIFY(label->text() != QStringLiteral("FilePath:"));
        QVERIFY(label->text() != QStringLiteral("ServerOutput"));
        QVERIFY(label->text() != QStringLiteral("ClientInput"));
    }
    QVERIFY(w.findChildren<QTextBrowser *>().isEmpty());
    QCOMPARE(w.findChildren<QLineEdit *>(), QList<QLineEdit *>({w.m_fileStatusEdit}));
    // No top-level window but the main window is visible.
    for (QWidget *topLevel : QApplication::topLevelWidgets())
        QVERIFY(topLevel == &w || !topLevel->isVisible());
}

void WindowTest::tabbingSkipsFileStatus()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.m_downloadButton->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), w.m_downloadButton);

    QSet<QWidget *> reached;
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    QVERIFY(reached.contains(w.m_modifyIpButton));
    QVERIFY(!reached.contains(w.m_fileStatusEdit));
}

void WindowTest::metaObjects()
{
    auto ownMethods = [](const QMetaObject &meta) {
        QStringList methods;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            methods << QString::number(method.methodType()) + QLatin1Char(' ') +
                           QString::fromLatin1(method.methodSignature());
        }
        return methods;
    };
    const QString signal = QString::number(QMetaMethod::Signal) + QLatin1Char(' ');
    const QString slot = QString::number(QMetaMethod::Slot) + QLatin1Char(' ');

    QCOMPARE(QString(ServerInterface::staticMetaObject.className()), QStringLiteral("ServerInterface"));
    QCOMPARE(ownMethods(ServerInterface::staticMetaObject),
             QStringList({signal + "sendDataSig(QByteArray)", slot + "slotOpenFile()", slot + "slotModify()",
                          slot + "slotHintMessage()"}));
    QCOMPARE(ServerInterface::staticMetaObject.method(ServerInterface::staticMetaObject.methodOffset() + 1).access(),
             QMetaMethod::Private);
    QCOMPARE(QString(TcpServer::staticMetaObject.className()), QStringLiteral("TcpServer"));
    QCOMPARE(ownMethods(TcpServer::staticMetaObject),
             QStringList({signal + "hintSig()", slot + "slotRecive(QByteArray)", slot + "slotJudgeDisconnect()"}));
    QCOMPARE(TcpServer::staticMetaObject.superClass(), &QObject::staticMetaObject);
    QCOMPARE(ServerInterface::staticMetaObject.superClass(), &QMainWindow::staticMetaObject);
}

void WindowTest::serverWiredToWindow()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QVERIFY(w.m_tcpServer);
    QVERIFY(!w.m_tcpServer->parent());
    QCOMPARE(w.m_tcpServer->m_window, &w);

    // The window's image signal reaches the server.
    const QByteArray image(3000, 'x');
    emit w.sendDataSig(image);
    QCOMPARE(w.m_tcpServer->m_fileData, image);
    QVERIFY(w.m_tcpServer->m_hasFile);

    // The server's request for a hint reaches the window once: one box, Step 2 red.
    ModalBoxes boxes;
    emit w.m_tcpServer->hintSig();
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.titles.first(), QStringLiteral("TcpServer"));
    QCOMPARE(boxes.texts.first(), QStringLiteral("Didn't click 'Download' button to download the data."));
    QCOMPARE(w.m_step2TextLabel1->styleSheet(), kRed);
    QCOMPARE(w.m_step2TextLabel2->styleSheet(), kRed);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
