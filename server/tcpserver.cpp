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
    if (m_server->m_retired)
        m_server->deleteLater();
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
    m_totalBlocks = int(protocol::blockCount(m_fileData.size()));
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
    QPointer<QTcpSocket> stalled = m_socket;
    {
        HandlerScope scope(this);
        m_window->showInterruptionHint();
        if (m_retired)
            return;
        // A connection that replaced the stalled one while the box was open is
        // not ours to end: the stalled one's end was handled when it went.
        if (stalled && stalled == m_socket) {
            stalled->disconnect(this);
            clientDisconnected();
        }
    }
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

void TcpServer::retire()
{
    m_retired = true;
    m_server->disconnect(this);
    m_server->close();
    m_watchTimer->stop();
    if (m_socket)
        dropConnection(m_socket);
    m_socket = nullptr;
    disconnect(m_window, nullptr, this, nullptr);
    disconnect(this, nullptr, m_window, nullptr);
    if (m_openHandlers == 0)
        deleteLater();
}
