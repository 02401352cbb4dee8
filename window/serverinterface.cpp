#include "window/serverinterface.h"

#include "adapter/networkadapters.h"
#include "server/tcpserver.h"
#include "window/framepacer.h"
#include "window/serverinterfaceform.h"
#include "window/windowgeometry.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QLabel>
#include <QPushButton>

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
    setGeometry(mainWindowGeometry(QApplication::desktop()->size()));
    buildLayout();
    new FramePacer(this);
    connect(m_downloadButton, SIGNAL(clicked()), this, SLOT(slotOpenFile()));
    connect(m_modifyIpButton, SIGNAL(clicked()), this, SLOT(slotModify()));
    startServer();
    showStartupHint();
}

ServerInterface::~ServerInterface()
{
    delete ui;
    // The server is freed with the window (at program end) so that nothing of it
    // outlives the widgets it writes to.
    delete m_tcpServer;
    delete m_offscreenWidgets;
}

void ServerInterface::startServer()
{
    if (m_adapterFound) {
        if (judgeServerIp()) {
            m_haveIpLabel->setStyleSheet(QStringLiteral("color:green;"));
            m_haveIpHintLabel1->setStyleSheet(QStringLiteral("color:green;"));
            m_haveIpHintLabel2->setStyleSheet(QStringLiteral("color:green;"));
            createServer();
        } else {
            // A listed adapter with the wrong address: no server until ModifyIP.
            m_haveIpLabel->setStyleSheet(QStringLiteral("color:red;"));
        }
        return;
    }
    createServer();
}

void ServerInterface::retireServer()
{
    if (!m_tcpServer)
        return;
    disconnect(this, SIGNAL(sendDataSig(QByteArray)), m_tcpServer, SLOT(slotRecive(QByteArray)));
    m_tcpServer->retire();
    m_tcpServer = nullptr;
}

void ServerInterface::createServer()
{
    m_tcpServer = new TcpServer(this);
    connect(this, SIGNAL(sendDataSig(QByteArray)), m_tcpServer, SLOT(slotRecive(QByteArray)));
}
