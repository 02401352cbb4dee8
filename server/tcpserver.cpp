#include "server/tcpserver.h"

#include "window/serverinterface.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

int TcpServer::watchPeriodMsec = 500;

TcpServer::TcpServer(ServerInterface *window)
    : QObject(nullptr)
    , m_server(new QTcpServer)
    , m_socket(nullptr)
    , m_isDownloading(false)
    , m_hasFile(false)
    , m_blockIndex(0)
    , m_sentBlocks(0)
    , m_sendPos(nullptr)
    , m_window(window)
    , m_percentStep(0)
    , m_percent(0)
    , m_totalBlocks(0)
    // Owned through the parent, so it goes with the server. Started by the
    // first image handed over.
    , m_watchTimer(new QTimer(this))
    , m_requestText(QStringLiteral("start"))
    , m_lastSentBlocks(0)
{
    // A coarse timer may tick up to 5 % early; the watch measures anyway, but
    // should not wait a whole extra period for it.
    m_watchTimer->setTimerType(Qt::PreciseTimer);
    startListen();
    connect(m_server, &QTcpServer::newConnection, this, &TcpServer::newClientConnect);
    connect(this, SIGNAL(hintSig()), m_window, SLOT(slotHintMessage()));
    connect(m_watchTimer, SIGNAL(timeout()), this, SLOT(slotJudgeDisconnect()));
}

TcpServer::HandlerScope::HandlerScope(TcpServer *server)
    : m_server(server)
{
    ++m_server->m_openHandlers;
}

TcpServer::HandlerScope::~HandlerScope()
{
    if (--m_server->m_openHandlers > 0)
        return;
    // Nothing of ours is on the stack any more: what waited may go now.
    for (const QPointer<QTcpSocket> &socket : qAsConst(m_server->m_parkedSockets)) {
        if (socket)
            socket->deleteLater();
    }
    m_server->m_parkedSockets.clear();
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

bool TcpServer::isListening() const
{
    return m_server->isListening();
}

bool TcpServer::transferRunning() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState && (m_lengthSent || m_isDownloading);
}

void TcpServer::slotRecive(QByteArray buf)
{
    // A new image never continues a transfer that began with another: the
    // protocol has no block numbers, so the device would write the new
    // image's first block where it stands.
    if (transferRunning()) {
        endConnection();
        m_window->markFlashInterrupted();
    }
    // Kept shared and never written to, so the image is in memory once.
    m_fileData = buf;
    m_totalBlocks = int(protocol::blockCount(m_fileData.size()));
    // An empty image has no blocks and so no finite step; no block is ever sent for it.
    m_percentStep = m_totalBlocks > 0 ? 100.0 / m_totalBlocks : std::numeric_limits<double>::infinity();
    m_percent = m_percentStep;
    m_sendPos = m_fileData.constData();
    m_hasFile = true;
    m_watchTimer->start(watchPeriodMsec);
}

void TcpServer::slotJudgeDisconnect()
{
    if (m_requestText != QLatin1String(protocol::kBlockRequest))
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
    // A stall is a whole period without a block, measured: a tick may come early.
    if (m_sinceLastBlock.elapsed() < watchPeriodMsec)
        return;
    // Marked ended before the box opens, so ticks during the box stay idle.
    m_requestText = QStringLiteral("end");
    m_lastSentBlocks = 0;
    // Closed, so that the device neither is served during the box nor waits
    // for its own time-out after it.
    endConnection();
    m_window->showInterruptionHint();
    m_lastSentBlocks = m_sentBlocks;
}

void TcpServer::dropConnection(QTcpSocket *socket)
{
    // Cut first, so none of its events can reach us; free it when safe.
    socket->disconnect(this);
    socket->close();
    if (m_openHandlers > 0)
        m_parkedSockets.append(socket);
    else
        socket->deleteLater();
}

void TcpServer::endConnection()
{
    if (m_socket)
        dropConnection(m_socket);
    m_socket = nullptr;
    // Ended by us, so never complete, however many blocks went out.
    m_isDownloading = false;
    clientDisconnected();
}
