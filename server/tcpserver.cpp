#include "server/tcpserver.h"

#include "adapter/networkadapters.h"
#include "files/systemname.h"
#include "image/flashimage.h"
#include "server/listener.h"
#include "server/socketio.h"

#include <QDebug>
#include <QMetaMethod>
#include <QTcpSocket>
#include <QTimer>

TcpServer::TcpServer(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_server(new Listener(50, this))
    // Started by the first image handed over.
    , m_watchTimer(new QTimer(this))
    , m_frameTimer(new QTimer(this))
    , m_nextNumber(options.firstNumber)
{
    qRegisterMetaType<DeviceConnection>();
    qRegisterMetaType<TransferReport>();
    // A coarse timer may tick up to 5 % early; the watch measures anyway, but
    // should not wait a whole extra period for it.
    m_watchTimer->setTimerType(Qt::PreciseTimer);
    m_frameTimer->setSingleShot(true);
    connect(m_server, &Listener::accepted, this, &TcpServer::newClientConnect);
    connect(m_server, &Listener::paused, this, &TcpServer::acceptPaused);
    connect(m_watchTimer, &QTimer::timeout, this, &TcpServer::slotJudgeDisconnect);
    connect(m_frameTimer, &QTimer::timeout, this, &TcpServer::showUnshown);
}

TcpServer::~TcpServer()
{
    // Nothing may call back into an object that is being destroyed.
    m_server->disconnect(this);
    for (Transfer *transfer : qAsConst(m_transfers))
        transfer->disconnect(this);
    m_server->close();
}

bool TcpServer::startListen()
{
    if (m_server->listen(m_options.port, nameToSystem(m_options.adapter))) {
        emit listening(m_server->port());
        return true;
    }
    m_error = m_server->errorString();
    qDebug().noquote() << m_error;
    emit listenFailed(m_error);
    return false;
}

void TcpServer::closeListener()
{
    m_server->close();
    const QList<Transfer *> transfers = m_transfers;
    for (Transfer *transfer : transfers) {
        if (!transfer->isFlashing())
            transfer->drop();
    }
    emit listenerClosed();
}

bool TcpServer::isListening() const
{
    return m_server->isListening();
}

QString TcpServer::errorString() const
{
    return m_error;
}

quint16 TcpServer::serverPort() const
{
    return m_server->port();
}

bool TcpServer::transferRunning() const
{
    return !flashingConnections().isEmpty();
}

QList<int> TcpServer::flashingConnections() const
{
    QList<int> numbers;
    for (const Transfer *transfer : m_transfers) {
        if (transfer->isFlashing())
            numbers.append(transfer->connection().number);
    }
    return numbers;
}

void TcpServer::stopTransfer()
{
    const QList<Transfer *> transfers = m_transfers;
    for (Transfer *transfer : transfers) {
        if (transfer->isFlashing())
            transfer->end(TransferReport::Stopped);
    }
    emit transfersStopped();
}

void TcpServer::setPaused(bool paused)
{
    m_paused = paused;
    const QList<Transfer *> transfers = m_transfers;
    for (Transfer *transfer : transfers) {
        if (paused && !transfer->isFlashing())
            transfer->drop();
    }
}

void TcpServer::slotRecive(const QSharedPointer<FlashImage> &image, int generation)
{
    m_generation = generation;
    // A new image never continues a transfer that began with another: the
    // protocol has no block numbers, so the device would write the new
    // image's first block where it stands.
    const QList<Transfer *> transfers = m_transfers;
    for (Transfer *transfer : transfers) {
        if (transfer->isFlashing())
            transfer->end(TransferReport::Restarted);
    }
    offerImage(image);
    if (image)
        m_watchTimer->start(m_options.watchPeriodMsec);
}

void TcpServer::offerImage(const QSharedPointer<FlashImage> &image)
{
    m_image = image;
    for (Transfer *transfer : qAsConst(m_transfers))
        transfer->offerImage(image, m_generation);
}

void TcpServer::slotJudgeDisconnect()
{
    const QList<Transfer *> transfers = m_transfers;
    for (Transfer *transfer : transfers) {
        transfer->readOverlooked(m_options.watchPeriodMsec);
        // Closed, so that the device does not wait for its own time-out.
        if (transfer->stalled(m_options.watchPeriodMsec))
            transfer->end(TransferReport::Stalled);
    }
}

bool TcpServer::fromDeviceNetwork(const QTcpSocket *socket) const
{
    // The device looks for the PC at the server address; a connection that
    // reached another of the PC's addresses came over another network
    // (Wi-Fi, the office LAN). Loopback is this PC itself (a dry run).
    const QHostAddress local = plainAddress(socket->localAddress());
    return local.isLoopback() || local == QHostAddress(kServerAddress);
}

void TcpServer::newClientConnect(qintptr descriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        socketio::closeSocket(descriptor);
        delete socket;
        return;
    }
    admit(socket);
}

Transfer *TcpServer::roomMaker() const
{
    // One that has sent anything is asking, even where its request is not
    // read yet; one that was refused is served no more.
    for (Transfer *transfer : m_transfers) {
        if (!transfer->isFlashing() && (transfer->state() == Transfer::State::Ended || !transfer->hasSentAnything()))
            return transfer;
    }
    return nullptr;
}

void TcpServer::admit(QTcpSocket *socket)
{
    const DeviceConnection newcomer{0, m_options.adapter, plainAddress(socket->peerAddress()).toString()};
    // A stranger gets nothing, and is not told to the operator.
    if (!fromDeviceNetwork(socket)) {
        socket->close();
        socket->deleteLater();
        return;
    }
    if (m_paused) {
        socket->close();
        socket->deleteLater();
        emit deviceKeptOut(newcomer);
        return;
    }
    if (m_transfers.size() >= m_options.devices) {
        // The oldest that has sent nothing makes room, so that idle
        // connections cannot hold the places; those that asked are never
        // disturbed.
        Transfer *idle = roomMaker();
        if (!idle) {
            socket->close();
            socket->deleteLater();
            emit deviceTurnedAway(newcomer);
            return;
        }
        const DeviceConnection dropped = idle->connection();
        idle->drop();
        emit deviceDropped(dropped);
    }

    auto *transfer = new Transfer(socket, m_nextNumber, m_options.adapter, m_options.limits, this);
    m_nextNumber += m_options.numberStep;
    m_transfers.append(transfer);
    connect(transfer, &Transfer::requestEchoed, this, [this, transfer](const QString &request) {
        m_unshown[transfer].requests.append(request);
        if (!m_frameTimer->isActive())
            m_frameTimer->start(m_options.frameMsec);
    });
    connect(transfer, &Transfer::blockSent, this, [this, transfer](int index) {
        m_unshown[transfer].block = index;
        if (!m_frameTimer->isActive())
            m_frameTimer->start(m_options.frameMsec);
    });
    connect(transfer, &Transfer::progress, this,
            [this, transfer](int percent) { emit progress(transfer->connection(), percent); });
    connect(transfer, &Transfer::refused, this, &TcpServer::hintSig);
    connect(transfer, &Transfer::transferEnded, this,
            [this, transfer](const TransferReport &report) { reportEnded(transfer, report); });
    connect(transfer, &Transfer::connectionClosed, this, [this, transfer] { forget(transfer); });
    connect(transfer, &Transfer::began, this, [this, transfer] { emit transferBegan(transfer->connection()); });
    transfer->offerImage(m_image, m_generation);
    emit deviceConnected(transfer->connection());
}

void TcpServer::reportEnded(Transfer *transfer, const TransferReport &report)
{
    // What went out shows before how it ended; a transfer ended for a new
    // image is no longer shown at all.
    if (report.ending == TransferReport::Restarted)
        m_unshown.remove(transfer);
    else
        showUnshownOf(transfer);
    // The image is used up by a flash that began; one refused never had it.
    if (m_options.imageUse == ImageUse::OneFlash && report.ending != TransferReport::Refused)
        offerImage(nullptr);
    emit transferEnded(report);
}

void TcpServer::forget(Transfer *transfer)
{
    if (!m_transfers.removeOne(transfer))
        return;
    showUnshownOf(transfer);
    emit deviceLeft(transfer->connection());
    // Freed once we are out of its handlers.
    transfer->deleteLater();
}

void TcpServer::showUnshown()
{
    const QList<Transfer *> transfers = m_unshown.keys();
    for (Transfer *transfer : transfers)
        showUnshownOf(transfer);
}

void TcpServer::showUnshownOf(Transfer *transfer)
{
    const auto found = m_unshown.find(transfer);
    if (found == m_unshown.end())
        return;
    const Unshown unshown = found.value();
    m_unshown.erase(found);
    const DeviceConnection device = transfer->connection();
    if (!unshown.requests.isEmpty())
        emit requestsEchoed(device, unshown.requests);
    if (unshown.block >= 0) {
        // A copy only now, once a frame, for whoever shows it.
        const QByteArray bytes = transfer->image() ? transfer->image()->bytes() : QByteArray();
        QByteArray block = bytes.mid(qint64(unshown.block) * protocol::kBlockSize, protocol::kBlockSize);
        block.append(QByteArray(protocol::kBlockSize - block.size(), '\0'));
        emit blockSent(device, unshown.block, block);
    }
}
