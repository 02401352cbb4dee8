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
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

Q_DECLARE_METATYPE(NetworkAdapter)

namespace {

const QString kGreen = QStringLiteral("color:green;");
const QString kRed = QStringLiteral("color:red;");
const QString kBlue = QStringLiteral("color:blue;");

const QStringList kStepTexts = {
    "Step1:", "(1)Didn't get ServerIP", "Please set the IP address of local connection.",
    "(2)Aready acquired ServerIP", "If the IP shows red, please click 'ModifyIP' to modify the",
    "ServerIP;If the IP shows green, no oprantion is required.", "Step2:",
    "Click 'Download' to read data, if sucessed, the file status", "will show that the read data is completed.",
    "Step3:", "Connect the monitoring device to your computer, turn on the",
    "monitoring devise and press the Enter button within 2 seconds", "to enter the boot interface.", "Setp4:",
    "After selecting the 'Update System', press the OK button to",
    "upgrade. When the upgrade complete, you will recive a reminder", "interface."};

QGridLayout *gridOf(QWidget *widget)
{
    return qobject_cast<QGridLayout *>(widget->layout());
}

QGridLayout *panelGrid(ServerInterface &w)
{
    return gridOf(w.m_step1Label->parentWidget());
}

// The style sheets of the seventeen steps lines, in their order on screen.
QStringList stepStyles(ServerInterface &w)
{
    QStringList styles;
    for (int row = 0; row < 17; ++row)
        styles << panelGrid(w)->itemAtPosition(row, 0)->widget()->styleSheet();
    return styles;
}

// The styles the steps panel is built with: only the four captions blue.
QStringList builtStyles()
{
    QStringList styles;
    for (const QString &text : kStepTexts)
        styles << (text.endsWith(':') ? kBlue : QString());
    return styles;
}

QList<int> cell(QGridLayout *grid, QWidget *widget)
{
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
    return {row, column, rowSpan, columnSpan};
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpStates_data();
    void startUpStates();
    void adapterSearchTieBreaks_data();
    void adapterSearchTieBreaks();
    void adapterSearchRemembersLastMatch();
    void geometryFollowsDesktop();
    void formAndTitle();
    void layoutAsDesigned();
    void captionFontsAndColours();
    void unplacedWidgetsNeverShow();
    void tabbingSkipsFileStatus();
    void metaObjects();
    void serverWiredToWindow();
};

void WindowTest::startUpStates_data()
{
    QTest::addColumn<QList<NetworkAdapter>>("interfaces");
    QTest::addColumn<int>("searches");
    QTest::addColumn<bool>("server");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("addressStyle");
    QTest::addColumn<QList<int>>("redRows");
    QTest::addColumn<QList<int>>("greenRows");

    using A = FakeAdapters;
    QTest::newRow("no listed adapter")
        << QList<NetworkAdapter>{A::adapter("lo", {"127.0.0.1"}), A::adapter("eth0", {"192.168.0.92"})} << 2 << true
        << "" << kRed << QList<int>{1, 2} << QList<int>{};
    QTest::newRow("address right")
        << QList<NetworkAdapter>{A::adapter("lo", {"127.0.0.1"}), A::adapter("Ethernet", {"fe80::1", "192.168.0.92"})}
        << 3 << true << "192.168.0.92" << kGreen << QList<int>{} << QList<int>{3, 4, 5};
    QTest::newRow("address wrong") << QList<NetworkAdapter>{A::adapter(QString::fromUtf8("以太网"), {"10.0.0.7"})} << 3
                                   << false << "10.0.0.7" << kRed << QList<int>{3} << QList<int>{};
}

void WindowTest::startUpStates()
{
    QFETCH(QList<NetworkAdapter>, interfaces);
    QFETCH(int, searches);
    QFETCH(bool, server);
    QFETCH(QString, address);
    QFETCH(QString, addressStyle);
    QFETCH(QList<int>, redRows);
    QFETCH(QList<int>, greenRows);

    FakeAdapters adapters;
    adapters.adapters = interfaces;
    ServerInterface w(&adapters);

    QCOMPARE(adapters.listCalls, searches);
    QCOMPARE(bool(w.m_tcpServer), server);
    QTcpServer probe;
    QCOMPARE(!probe.listen(QHostAddress::Any, TcpServer::kPort), server);
    QCOMPARE(w.m_serverIpLabel->text(), address);
    QCOMPARE(w.m_serverIpLabel->styleSheet(), addressStyle);

    QStringList expected = builtStyles();
    for (int row : redRows)
        expected[row] = kRed;
    for (int row : greenRows)
        expected[row] = kGreen;
    QCOMPARE(stepStyles(w), expected);

    // The hint rows: only without a listed adapter, across both columns, red.
    QGridLayout *central = gridOf(w.centralWidget());
    const bool hints = !w.m_adapterFound;
    QCOMPARE(central->count(), hints ? 4 : 2);
    QCOMPARE(central->rowStretch(0), hints ? 15 : 0);
    if (hints) {
        QCOMPARE(cell(central, w.m_hintLabel1), QList<int>({1, 0, 1, 2}));
        QCOMPARE(cell(central, w.m_hintLabel2), QList<int>({2, 0, 1, 2}));
        QCOMPARE(central->rowStretch(1), 1);
        QCOMPARE(central->rowStretch(2), 1);
        QCOMPARE(w.m_hintLabel1->text(), QStringLiteral("If failed to get the local connection IP address, please "
                                                        "enter the computer update adapter interface,"));
        QCOMPARE(w.m_hintLabel2->text(), QStringLiteral("and modify the local connection IP address to "
                                                        "192.168.0.92 .Restart TcpServer."));
        QCOMPARE(w.m_hintLabel1->styleSheet(), kRed);
        QCOMPARE(w.m_hintLabel2->styleSheet(), kRed);
    } else {
        QVERIFY(w.m_hintLabel1->text().isEmpty() && w.m_hintLabel1->styleSheet().isEmpty());
    }
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
    // The form's own central widget has been replaced by the built layout.
    QVERIFY(w.centralWidget()->objectName() != QStringLiteral("centralWidget"));
}

void WindowTest::layoutAsDesigned()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);

    // The steps panel: seventeen one-line labels, exactly as written.
    QGridLayout *panel = panelGrid(w);
    QCOMPARE(panel->count(), 17);
    const QList<QLabel *> members = {
        w.m_step1Label,       w.m_noIpLabel,       w.m_noIpHintLabel,   w.m_haveIpLabel,     w.m_haveIpHintLabel1,
        w.m_haveIpHintLabel2, w.m_step2Label,      w.m_step2TextLabel1, w.m_step2TextLabel2, w.m_step3Label,
        w.m_step3TextLabel1,  w.m_step3TextLabel2, w.m_step3TextLabel3, w.m_step4Label,      w.m_step4TextLabel1,
        w.m_step4TextLabel2,  w.m_step4TextLabel3};
    for (int row = 0; row < 17; ++row) {
        QCOMPARE(panel->itemAtPosition(row, 0)->widget(), members.at(row));
        QCOMPARE(members.at(row)->text(), kStepTexts.at(row));
        QVERIFY(!members.at(row)->wordWrap() && !members.at(row)->testAttribute(Qt::WA_SetFont));
    }
    QWidget *stepsPanel = w.m_step1Label->parentWidget();
    QCOMPARE(stepsPanel->styleSheet(), QStringLiteral("background:white;"));
    QGridLayout *steps = gridOf(stepsPanel->parentWidget());
    QCOMPARE(qobject_cast<QLabel *>(steps->itemAtPosition(0, 0)->widget())->text(), QStringLiteral("Operating Steps"));
    QCOMPARE(qobject_cast<QLabel *>(steps->itemAtPosition(0, 0)->widget())->alignment(), Qt::AlignTop);
    QCOMPARE(QList<int>({steps->rowStretch(0), steps->rowStretch(1)}), QList<int>({1, 20}));

    // The transfer box: captions and values, then the controls.
    QGridLayout *central = gridOf(w.centralWidget());
    QCOMPARE(QList<int>({central->columnStretch(0), central->columnStretch(1)}), QList<int>({1, 1}));
    QCOMPARE(central->itemAtPosition(0, 1)->widget(), stepsPanel->parentWidget());
    QGridLayout *transfer = gridOf(central->itemAtPosition(0, 0)->widget());
    QCOMPARE(QList<int>({transfer->rowStretch(0), transfer->rowStretch(1)}), QList<int>({1, 1}));
    QGridLayout *info = qobject_cast<QGridLayout *>(transfer->itemAtPosition(0, 0)->layout());
    QGridLayout *control = qobject_cast<QGridLayout *>(transfer->itemAtPosition(1, 0)->layout());
    QCOMPARE(info->count(), 6);
    const QList<QPair<QString, QWidget *>> rows = {
        {"FileStatus:", w.m_fileStatusEdit}, {"ClientIP:", w.m_clientIpLabel}, {"ServerIP:", w.m_serverIpLabel}};
    for (int i = 0; i < rows.size(); ++i) {
        const int row = i == 0 ? 0 : i + 1; // row 1 stays empty
        QCOMPARE(qobject_cast<QLabel *>(info->itemAtPosition(row, 0)->widget())->text(), rows.at(i).first);
        QCOMPARE(info->itemAtPosition(row, 1)->widget(), rows.at(i).second);
    }
    QCOMPARE(qobject_cast<QLabel *>(info->itemAtPosition(2, 0)->widget())->alignment(), Qt::AlignBottom);
    QCOMPARE(w.m_clientIpLabel->alignment(), Qt::AlignBottom);
    QCOMPARE(w.m_messageLabel->alignment(), Qt::AlignTop);
    QCOMPARE(cell(control, w.m_progressBar), QList<int>({0, 0, 1, 2}));
    QCOMPARE(control->itemAt(control->indexOf(w.m_progressBar))->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(cell(control, w.m_messageLabel), QList<int>({1, 0, 1, 2}));
    QCOMPARE(cell(control, w.m_downloadButton), QList<int>({2, 0, 1, 1}));
    QCOMPARE(cell(control, w.m_modifyIpButton), QList<int>({2, 1, 1, 1}));
    QCOMPARE(QList<int>({control->rowStretch(0), control->rowStretch(1), control->rowStretch(2)}),
             QList<int>({1, 1, 2}));
    QCOMPARE(w.m_downloadButton->text(), QStringLiteral("Download"));
    QCOMPARE(w.m_modifyIpButton->text(), QStringLiteral("ModifyIP"));
    QCOMPARE(QList<int>({w.m_progressBar->minimum(), w.m_progressBar->maximum(), w.m_progressBar->value()}),
             QList<int>({0, 100, 0}));

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
    // Exactly nine widgets have the caption font: seven captions (two of them
    // never shown) and the two buttons; all of them blue.
    QList<QWidget *> all = w.findChildren<QWidget *>() + w.m_filePathEdit->parentWidget()->findChildren<QWidget *>();
    QStringList texts;
    for (QWidget *widget : all) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << label->text();
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            texts << button->text();
        QCOMPARE(widget->font().family(), QStringLiteral("Time"));
        QCOMPARE(widget->font().pointSize(), 8);
        QCOMPARE(widget->font().weight(), 65);
        QVERIFY(!widget->font().italic());
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
    w.appendClientInput("updata ");
    QCoreApplication::processEvents();

    for (QWidget *widget : std::initializer_list<QWidget *>{w.m_filePathEdit, w.m_serverOutputBrowser,
                                                             w.m_clientInputBrowser, w.m_hintLabel1, w.m_hintLabel2})
        QVERIFY(!widget->isVisible() && !w.isAncestorOf(widget));
    for (QLabel *label : w.findChildren<QLabel *>())
        QVERIFY(!QStringList({"FilePath:", "ServerOutput", "ClientInput"}).contains(label->text()));
    QVERIFY(w.findChildren<QTextBrowser *>().isEmpty());
    QCOMPARE(w.findChildren<QLineEdit *>(), QList<QLineEdit *>({w.m_fileStatusEdit}));
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
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
            methods << QString::number(meta.method(i).methodType()) + ' ' + meta.method(i).methodSignature();
        return methods;
    };
    QCOMPARE(QString(ServerInterface::staticMetaObject.className()), QStringLiteral("ServerInterface"));
    QCOMPARE(ownMethods(ServerInterface::staticMetaObject),
             QStringList({"1 sendDataSig(QByteArray)", "2 slotOpenFile()", "2 slotModify()", "2 slotHintMessage()"}));
    QCOMPARE(QString(TcpServer::staticMetaObject.className()), QStringLiteral("TcpServer"));
    QCOMPARE(ownMethods(TcpServer::staticMetaObject),
             QStringList({"1 hintSig()", "2 slotRecive(QByteArray)", "2 slotJudgeDisconnect()"}));
}

void WindowTest::serverWiredToWindow()
{
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    QVERIFY(!w.m_tcpServer->parent());
    QCOMPARE(w.m_tcpServer->m_window, &w);
    emit w.sendDataSig(QByteArray(3000, 'x'));
    QCOMPARE(w.m_tcpServer->m_fileData, QByteArray(3000, 'x'));

    // The server's request for a hint reaches the window once: one box, Step 2 red.
    ModalBoxes boxes;
    emit w.m_tcpServer->hintSig();
    QCOMPARE(boxes.titles, QStringList({"TcpServer"}));
    QCOMPARE(boxes.texts, QStringList({"Didn't click 'Download' button to download the data."}));
    QCOMPARE(w.m_step2TextLabel1->styleSheet(), kRed);
    QCOMPARE(w.m_step2TextLabel2->styleSheet(), kRed);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
