#include "server/tcpserver.h"

#include "adapter/neighbours.h"
#include "adapter/networkadapters.h"
#include "server/socketio.h"

#include <QDebug>
#include <QMetaMethod>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>
#include <limits>

namespace {

// One read is one request: its bytes up to the first zero byte, as Latin-1.
QString requestTextOf(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromLatin1(data.constData(), zero < 0 ? int(data.size()) : zero);
}

// An IPv4 peer reaches the any-address listener as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

} // namespace

TcpServer::TcpServer(QObject *parent)
    : TcpServer(Options(), parent)
{
}

TcpServer::TcpServer(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_server(new QTcpServer(this))
    // Started by the first image handed over.
    , m_watchTimer(new QTimer(this))
{
    qRegisterMetaType<TransferReport>();
    // A coarse timer may tick up to 5 % early; the watch measures anyway, but
    // should not wait a whole extra period for it.
    m_watchTimer->setTimerType(Qt::PreciseTimer);
    connect(m_server, &QTcpServer::newConnection, this, &TcpServer::newClientConnect);
    connect(m_watchTimer, &QTimer::timeout, this, &TcpServer::slotJudgeDisconnect);
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

bool TcpServer::startListen()
{
    if (m_server->isListening() || m_server->listen(QHostAddress::Any, m_options.port))
        return true;
    const QString error = m_server->errorString();
    qDebug().noquote() << error;
    emit listenFailed(error);
    return false;
}

bool TcpServer::isListening() const
{
    return m_server->isListening();
}

quint16 TcpServer::serverPort() const
{
    return m_server->serverPort();
}

bool TcpServer::transferRunning() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState && (m_lengthSent || m_isDownloading);
}

void TcpServer::stopTransfer()
{
    if (transferRunning())
        endConnection(TransferReport::Stopped);
}

void TcpServer::slotRecive(QByteArray buf)
{
    // A new image never continues a transfer that began with another: the
    // protocol has no block numbers, so the device would write the new
    // image's first block where it stands.
    if (transferRunning())
        endConnection(TransferReport::Restarted);
    // Kept shared and never written to, so the image is in memory once.
    m_fileData = buf;
    m_totalBlocks = int(protocol::blockCount(m_fileData.size()));
    // An empty image has no blocks and so no finite step; no block is ever sent for it.
    m_percentStep = m_totalBlocks > 0 ? 100.0 / m_totalBlocks : std::numeric_limits<double>::infinity();
    m_percent = m_percentStep;
    m_sendPos = m_fileData.constData();
    m_hasFile = true;
    m_blockIndex = 0;
    m_sentBlocks = 0;
    m_lastSentBlocks = 0;
    m_isDownloading = false;
    m_shownPercent = 0;
    m_watchTimer->start(m_options.watchPeriodMsec);
}

void TcpServer::slotJudgeDisconnect()
{
    // Told the length, blocks left, and nothing valid asked for a whole
    // period: a hung or vanished device, or one that only holds the line.
    if (transferRunning() && m_hasFile && m_sentBlocks != m_totalBlocks &&
        m_sinceValidRequest.elapsed() >= m_options.watchPeriodMsec)
        return stall();

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
    if (m_sinceLastBlock.elapsed() < m_options.watchPeriodMsec)
        return;
    stall();
}

void TcpServer::stall()
{
    // Marked ended first, so that later ticks stay idle.
    m_requestText = QStringLiteral("end");
    m_lastSentBlocks = 0;
    // Closed, so that the device does not wait for its own time-out.
    endConnection(TransferReport::Stalled);
    m_lastSentBlocks = m_sentBlocks;
}

bool TcpServer::fromDeviceNetwork(const QTcpSocket *socket) const
{
    // The device looks for the PC at the server address; a connection that
    // reached another of the PC's addresses came over another network
    // (Wi-Fi, the office LAN). Loopback is this PC itself (a dry run).
    const QHostAddress local = plain(socket->localAddress());
    return local.isLoopback() || local == QHostAddress(kServerAddress);
}

void TcpServer::newClientConnect()
{
    QTcpSocket *newcomer = m_server->nextPendingConnection();
    if (!newcomer)
        return;
    // A stranger gets nothing; a newcomer while a device is being flashed
    // must not disturb it.
    const bool device = fromDeviceNetwork(newcomer);
    if (!device || transferRunning()) {
        const QString address = plain(newcomer->peerAddress()).toString();
        newcomer->close();
        newcomer->deleteLater();
        if (device)
            emit deviceTurnedAway(address);
        return;
    }
    // The newest connection is the device; an earlier one is dropped, so that
    // none of its events can act on the new one.
    if (m_socket)
        dropConnection(m_socket);

    m_socket = newcomer;
    m_connectionAsked = false;
    m_lengthSent = false;
    m_socket->setReadBufferSize(m_options.maxReadBytes);
    enableKeepAlive(m_socket);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpServer::readClientData);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpServer::clientDisconnected);
    qDebug() << "Client connect!";
    // Kept for the reports: closing a connection clears its addresses.
    m_peer = plain(m_socket->peerAddress());
    m_local = plain(m_socket->localAddress());
    emit deviceConnected(m_peer.toString());
}

void TcpServer::readClientData()
{
    if (!m_socket)
        return;
    const QByteArray data = m_socket->readAll();
    m_requestText = requestTextOf(data);
    if (data.isEmpty())
        return;

    if (m_hasFile)
        emit requestEchoed(m_requestText.left(m_options.maxEchoChars));

    const bool lengthRequest = m_requestText == QLatin1String(protocol::kLengthRequest);
    const bool blockRequest = m_requestText == QLatin1String(protocol::kBlockRequest);
    if (lengthRequest || blockRequest) {
        m_connectionAsked = true;
        m_sinceValidRequest.start();
    }

    if (lengthRequest) {
        if (!m_hasFile)
            return refuse();
        if (!answersPending()) {
            // Asking for the length is starting over.
            restartTransfer();
            sendFileSize();
        }
        return;
    }

    if (!blockRequest || !m_hasFile || answersPending())
        return;

    // Two views of what is left must agree: the block count and the position.
    // No block is ever taken from beyond the image.
    const qint64 leftByIndex = qint64(m_fileData.size()) - qint64(protocol::kBlockSize) * m_blockIndex;
    const char *end = m_fileData.constData() + m_fileData.size();
    if (leftByIndex <= 0 || !m_sendPos || m_sendPos >= end) {
        m_blockIndex = 1;
        return;
    }

    ++m_sentBlocks;
    m_isDownloading = true;
    if (!m_transferBegun)
        beginTransfer();
    if (m_percentStep >= 1.0) {
        showProgress(int(m_percent));
        m_percent += m_percentStep;
    } else {
        if (m_percent > 1.0)
            showProgress(int(m_percent));
        m_percent += m_percentStep;
    }
    sendFileBlock();
    ++m_blockIndex;
}

void TcpServer::refuse()
{
    // Asked before an image was handed over: the connection is no longer
    // served (it stays open), and the operator is told.
    beginTransfer();
    TransferReport report = reportOf(TransferReport::Refused);
    report.started = report.ended;
    report.elapsedNs = 0;
    report.blocksSent = 0;
    m_transferBegun = false;
    m_socket->disconnect(this);
    clientDisconnected();
    emit transferEnded(report);
    emit hintSig();
}

void TcpServer::restartTransfer()
{
    m_blockIndex = 0;
    m_sentBlocks = 0;
    m_lastSentBlocks = 0;
    m_isDownloading = false;
    m_percent = m_percentStep;
    m_sendPos = m_fileData.constData();
    beginTransfer();
    showProgress(0);
}

void TcpServer::beginTransfer()
{
    m_transferBegun = true;
    m_ending = TransferReport::DeviceClosed;
    m_transferStarted = QDateTime::currentDateTime();
    m_transferClock.start();
    m_deviceMac = neighbourHardwareAddress(m_peer);
}

void TcpServer::showProgress(int percent)
{
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    emit progress(percent);
}

// A client that asks and asks but never reads gets no further answers until it
// has taken what it was sent; nothing is counted as sent that was not.
bool TcpServer::answersPending() const
{
    return m_socket->bytesToWrite() > m_options.maxUnsentBytes;
}

void TcpServer::clientDisconnected()
{
    // A connection that never asked for anything (a port scan, a stranger)
    // had no transfer to end: the image stays loaded for the device.
    if (m_connectionAsked) {
        if (m_isDownloading) {
            const bool complete = m_sentBlocks == m_totalBlocks;
            m_isDownloading = false;
            if (complete)
                m_ending = TransferReport::Complete;
        }
        const bool began = m_transferBegun;
        const TransferReport report = began ? reportOf(m_ending) : TransferReport();
        m_transferBegun = false;
        m_requestText = QStringLiteral("end");
        m_hasFile = false;
        m_fileData.clear();
        m_sendPos = nullptr;
        m_lengthSent = false;
        qDebug() << "Disconnected!";
        // Last, with everything settled: a listener may hand over the next image.
        emit deviceDisconnected();
        if (began)
            emit transferEnded(report);
        return;
    }
    m_lengthSent = false;
    qDebug() << "Disconnected!";
    emit deviceDisconnected();
}

TransferReport TcpServer::reportOf(TransferReport::Ending ending) const
{
    TransferReport report;
    report.ending = ending;
    report.device = m_peer.toString();
    report.server = m_local.toString();
    report.deviceMac = m_deviceMac;
    report.started = m_transferStarted;
    report.ended = QDateTime::currentDateTime();
    report.elapsedNs = m_transferClock.nsecsElapsed();
    report.blocksSent = m_sentBlocks;
    report.bytesSent = m_sendPos ? m_sendPos - m_fileData.constData() : 0;
    report.imageSize = m_fileData.size();
    return report;
}

void TcpServer::sendFileSize()
{
    const QByteArray header = protocol::lengthHeader(m_fileData.size());
    writeNow(m_socket, header.constData(), header.size());
    m_lengthSent = true;
}

void TcpServer::sendFileBlock()
{
    if (m_fileData.isEmpty())
        return;
    const char *end = m_fileData.constData() + m_fileData.size();
    if (!m_sendPos || m_sendPos >= end || !m_socket)
        return;

    const int available = int(qMin<qint64>(protocol::kBlockSize, end - m_sendPos));
    const char *block = m_sendPos;
    char padded[protocol::kBlockSize];
    if (available < protocol::kBlockSize) {
        // The last block: the image's remaining bytes, then zero bytes.
        std::memcpy(padded, m_sendPos, size_t(available));
        std::memset(padded + available, 0, size_t(protocol::kBlockSize - available));
        block = padded;
    }
    writeNow(m_socket, block, protocol::kBlockSize);
    m_sinceLastBlock.start();
    // Stop at the end of the image rather than pointing past it.
    m_sendPos += available;
    // A copy only for whoever looks at it.
    static const QMetaMethod blockSentSignal = QMetaMethod::fromSignal(&TcpServer::blockSent);
    if (isSignalConnected(blockSentSignal))
        emit blockSent(m_blockIndex, QByteArray(block, protocol::kBlockSize));
}

void TcpServer::dropConnection(QTcpSocket *socket)
{
    // Cut first, so none of its events can reach us; freed once we are out of
    // its handlers.
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}

void TcpServer::endConnection(TransferReport::Ending ending)
{
    m_ending = ending;
    // Ended by us, so never complete, however many blocks went out.
    m_isDownloading = false;
    // Closed only once reported: the report needs the addresses, which
    // closing clears.
    QTcpSocket *socket = m_socket;
    clientDisconnected();
    if (socket) {
        dropConnection(socket);
        if (m_socket == socket)
            m_socket = nullptr;
    }
}
