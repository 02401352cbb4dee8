#include "server/tcpserver.h"

#include "window/serverinterface.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

TcpServer::TcpServer(ServerInterface *window)
    : QObject(nullptr)
    , m_server(new QTcpServer)
    , m_socket(nullptr)
    , m_isDownloading(false)
    , m_hasFile(false)
    , m_blockIndex(0)
    , m_sentBlocks(0)
    , m_sendPos(nullptr)
    , m_window(nullptr)
    , m_percentStep(0)
    , m_percent(0)
    , m_totalBlocks(0)
    , m_watchTimer(nullptr)
    , m_lastSentBlocks(0)
{
    m_isDownloading = false;
    m_hasFile = false;
    m_blockIndex = 0;
    m_sentBlocks = 0;
    m_lastSentBlocks = 0;
    m_requestText = QStringLiteral("start");
    m_window = window;
    // Owned through the parent, so it goes with the server.
    m_watchTimer = new QTimer(this);
    startListen();
    connect(m_server, &QTcpServer::newConnection, this, &TcpServer::newClientConnect);
    connect(this, SIGNAL(hintSig()), m_window, SLOT(slotHintMessage()));
    connect(m_watchTimer, SIGNAL(timeout()), this, SLOT(slotJudgeDisconnect()));
}

TcpServer::~TcpServer()
{
    // Nothing may call back into an object that is being destroyed.
    m_server->disconnect(this);
    if (m_socket)
        m_socket->disconnect(this);
    m_server->close();
    // The listener parents the connections it accepted, so they go with it.
    delete m_server;
    m_watchTimer->stop();
}

void TcpServer::startListen()
{
    if (!m_server->listen(QHostAddress::Any, kPort))
        qDebug().noquote() << m_server->errorString();
}

void TcpServer::slotRecive(QByteArray buf)
{
    m_fileData = buf;
    const int length = m_fileData.size();
    m_totalBlocks = length / kBlockSize + (length % kBlockSize != 0 ? 1 : 0);
    // An empty image has no blocks and so no finite step; no block is ever sent for it.
    m_percentStep = m_totalBlocks > 0 ? 100.0 / m_totalBlocks : std::numeric_limits<double>::infinity();
    m_percent = m_percentStep;
    // The send position points into these bytes, so they must not be shared.
    m_sendPos = m_fileData.data();
    m_hasFile = true;
    m_watchTimer->start(kWatchPeriodMsec);
}

void TcpServer::slotJudgeDisconnect()
{
    if (m_requestText != QLatin1String("ok"))
        return;
    if (!m_hasFile)
        return;
    if (m_sentBlocks == m_totalBlocks)
        return;
    if (!m_isDownloading)
        return;
    if (m_sentBlocks != m_lastSentBlocks) {
        m_lastSentBlocks = m_sentBlocks;
        return;
    }
    // No block has gone out for a whole watch period: the transfer has stalled.
    // Mark it ended before the box opens, so ticks during the box stay idle.
    m_requestText = QStringLiteral("end");
    m_lastSentBlocks = 0;
    m_window->showInterruptionHint();
    if (m_socket)
        m_socket->disconnect(this);
    clientDisconnected();
    m_lastSentBlocks = m_sentBlocks;
}
