#include "window/serverinterface.h"
#include "ui_serverinterface.h"

#include "adapter/networkadapters.h"
#include "server/tcpserver.h"
#include "window/colours.h"
#include "window/framepacer.h"
#include "window/messages.h"
#include "window/windowgeometry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QWindow>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QDesktopWidget>
#endif

ServerInterface::ServerInterface(QWidget *parent)
    : ServerInterface(NetworkAdapters::system(), parent)
{
}

ServerInterface::ServerInterface(NetworkAdapters *adapters, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::ServerInterface)
    , m_adapterNames{
          QString::fromUtf8("以太网5"), QString::fromUtf8("以太网4"), QString::fromUtf8("以太网3"),
          QString::fromUtf8("以太网2"), QString::fromUtf8("以太网"), QString::fromUtf8("本地连接5"),
          QString::fromUtf8("本地连接4"), QString::fromUtf8("本地连接3"), QString::fromUtf8("本地连接2"),
          QString::fromUtf8("本地连接"), QStringLiteral("Local Area Connection5"),
          QStringLiteral("Local Area Connection4"), QStringLiteral("Local Area Connection3"),
          QStringLiteral("Local Area Connection2"), QStringLiteral("Local Area Connection"),
          QStringLiteral("Ethernet5"), QStringLiteral("Ethernet4"), QStringLiteral("Ethernet3"),
          QStringLiteral("Ethernet2"), QStringLiteral("Ethernet")}
    , m_adapters(adapters)
{
    ui->setupUi(this);
    m_adapterFound = false;
    setWindowTitle(QStringLiteral("Tcp Server"));
    buildLayout();
    setGeometry(initialGeometry());
    new FramePacer(this);
    connect(m_downloadButton, SIGNAL(clicked()), this, SLOT(slotOpenFile()));
    connect(m_modifyIpButton, SIGNAL(clicked()), this, SLOT(slotModify()));
    startServer();
    showStartupHint();
    // The first thing a technician does, on the keyboard too.
    m_downloadButton->setFocus();
}

ServerInterface::~ServerInterface()
{
    delete ui;
    // The server is freed with the window (at program end) so that nothing of it
    // outlives the widgets it writes to.
    delete m_tcpServer;
    delete m_offscreenWidgets;
}

QRect ServerInterface::initialGeometry()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    const QSize desktop = QApplication::desktop()->size();
#else
    const QSize desktop = QGuiApplication::primaryScreen()->virtualSize();
#endif
    const QRect wanted = mainWindowGeometry(desktop);
    QScreen *screen = QGuiApplication::screenAt(wanted.topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    // The size at which nothing scrolls: the content's whole minimum.
    for (QScrollArea *area : {m_stepsArea, m_contentArea})
        area->setMinimumSize(area->widget()->minimumSizeHint());
    const QSize natural = minimumSizeHint();
    for (QScrollArea *area : {m_stepsArea, m_contentArea})
        area->setMinimumSize(0, 0);
    // Where the platform knows the frame before the window shows (Windows),
    // it is made room for.
    winId();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    return fitWindow(wanted, natural, frame, screen->availableGeometry());
}

void ServerInterface::startServer()
{
    if (m_adapterFound) {
        if (judgeServerIp()) {
            setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Green);
            createServer();
        } else {
            // A listed adapter with the wrong address: no server until ModifyIP.
            setColour(m_haveIpLabel, Colour::Red);
            return;
        }
    } else {
        createServer();
    }
    if (!m_tcpServer->isListening())
        tellPortInUse();
}

void ServerInterface::createServer()
{
    m_tcpServer = new TcpServer(this);
    connect(this, SIGNAL(sendDataSig(QByteArray)), m_tcpServer, SLOT(slotRecive(QByteArray)));
}

bool ServerInterface::ensureListening()
{
    if (!m_tcpServer)
        createServer();
    else if (!m_tcpServer->isListening())
        m_tcpServer->startListen();
    if (m_tcpServer->isListening())
        return true;
    tellPortInUse();
    return false;
}

void ServerInterface::tellPortInUse()
{
    m_messageLabel->setText(QStringLiteral("Port 10013 is in use by another program."));
    setColour(m_messageLabel, Colour::Red);
    // After the current event: at start-up the window is not shown yet.
    QMetaObject::invokeMethod(
        this,
        [this] {
            showInformation(this, QStringLiteral("Port 10013 is in use by another program, so the device cannot "
                                                 "reach TcpServer. Close that program (it may be another "
                                                 "TcpServer), then press Download."));
        },
        Qt::QueuedConnection);
}

void ServerInterface::closeEvent(QCloseEvent *event)
{
    if (m_tcpServer && m_tcpServer->transferRunning() &&
        QMessageBox::question(this, QStringLiteral("TcpServer"),
                              QStringLiteral("A device is being flashed. If TcpServer closes now, the device is "
                                             "left half-written.\nClose TcpServer anyway?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
